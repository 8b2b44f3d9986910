#pragma once

// A TCP forwarder on loopback between the client and a server, for fault
// tests: it passes bytes through, delays them, stops passing them while
// keeping the connections open (a stalled link), swallows new connections
// (a host that accepts but never answers), or resets every connection.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class FaultProxy {
public:
    enum class Mode {
        Pass,      // forward everything
        Stall,     // read nothing, forward nothing; connections stay open
        Blackhole, // like Stall, and new connections never reach the server
    };

    // Listens on 127.0.0.1 at a free port and forwards to targetPort.
    explicit FaultProxy(int targetPort);
    ~FaultProxy();
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;

    int port() const { return port_; }
    void setMode(Mode m) { mode_ = m; }
    // Each chunk waits this long before it is passed on, both directions.
    void setDelayMs(int ms) { delayMs_ = ms; }
    // Resets every open connection (the peers see a reset, not a close).
    void cutAll();

    int accepted() const { return accepted_; }
    std::int64_t bytesForwarded() const { return forwarded_; }

private:
    struct Link {
        int client = -1, server = -1;
    };
    void run();
    void closeLink(Link& l, bool reset);

    int target_;
    int listen_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::atomic<Mode> mode_{Mode::Pass};
    std::atomic<int> delayMs_{0};
    std::atomic<bool> cut_{false}, stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<std::int64_t> forwarded_{0};
    std::vector<Link> links_; // owned by the proxy thread
    std::thread thread_;
};

} // namespace testsupport
