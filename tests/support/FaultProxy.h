#pragma once

// A TCP forwarder on loopback between the client and a server, for fault
// tests: it passes bytes through, stops passing them while keeping the
// connections open (a stalled link, or a host that accepts but never
// answers), or resets every connection.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

class FaultProxy {
public:
    enum class Mode {
        Pass,  // forward everything
        Stall, // read nothing, forward nothing; connections stay open
    };

    // Listens on 127.0.0.1 at a free port and forwards to targetPort.
    explicit FaultProxy(int targetPort) : target_(targetPort) {
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(listen_, 64) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("FaultProxy: no listening socket");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~FaultProxy() {
        stop_ = true; // seen within a poll interval
        thread_.join();
        for (Link& l : links_)
            closeLink(l, false);
        ::close(listen_);
    }

    int port() const { return port_; }
    int accepted() const { return accepted_; }
    void setMode(Mode m) { mode_ = m; }
    // Resets every open connection (the peers see a reset, not a close) and
    // returns once the proxy thread has done it.
    void cutAll() {
        for (cut_ = true; cut_;)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    struct Link {
        int client = -1, server = -1;
    };
    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }
    static void closeLink(Link& l, bool reset) {
        const linger lg{1, 0};
        for (int* fd : {&l.client, &l.server}) {
            if (*fd >= 0 && reset) ::setsockopt(*fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }
    void accept() {
        Link l;
        if ((l.client = ::accept(listen_, nullptr, nullptr)) < 0) return;
        ++accepted_;
        l.server = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = loopback(target_);
        if (::connect(l.server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
            return closeLink(l, true);
        const int one = 1;
        for (int fd : {l.client, l.server})
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        links_.push_back(l);
    }
    // Copies what one side sent to the other; false when either side is gone.
    static bool forward(int from, int to, std::vector<char>& buf) {
        ssize_t n = ::recv(from, buf.data(), buf.size(), 0), w = 0;
        if (n <= 0) return false;
        for (const char* p = buf.data(); n > 0; p += w, n -= w)
            if ((w = ::send(to, p, static_cast<size_t>(n), MSG_NOSIGNAL)) <= 0) return false;
        return true;
    }
    void run() {
        std::vector<char> buf(64 * 1024);
        while (!stop_) {
            if (cut_) {
                for (Link& l : links_)
                    closeLink(l, true);
                links_.clear();
                cut_ = false;
            }
            // Links are polled in pairs after the listener; a link accepted
            // below was not polled in this pass.
            std::vector<pollfd> fds{{listen_, POLLIN, 0}};
            const size_t polled = mode_ == Mode::Pass ? links_.size() : 0;
            for (size_t i = 0; i < polled; ++i)
                for (int fd : {links_[i].client, links_[i].server})
                    fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 20) < 0) continue;
            if (fds[0].revents & POLLIN) accept();
            for (size_t i = 0; i < polled; ++i) {
                Link& l = links_[i];
                for (int side = 0; side < 2 && l.client >= 0; ++side)
                    if ((fds[1 + 2 * i + side].revents & (POLLIN | POLLHUP | POLLERR)) &&
                        !forward(side == 0 ? l.client : l.server, side == 0 ? l.server : l.client,
                                 buf))
                        closeLink(l, false);
            }
            std::erase_if(links_, [](const Link& l) { return l.client < 0; });
        }
    }

    int target_;
    int listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
    std::atomic<Mode> mode_{Mode::Pass};
    std::atomic<bool> cut_{false}, stop_{false};
    std::atomic<int> accepted_{0};
    std::vector<Link> links_; // owned by the proxy thread
    std::thread thread_;
};

} // namespace testsupport
