#include "FaultProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace testsupport {

namespace {
sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool sendAll(int fd, const char* p, ssize_t n) {
    while (n > 0) {
        const ssize_t w = ::send(fd, p, static_cast<size_t>(n), MSG_NOSIGNAL);
        if (w <= 0) return false;
        p += w;
        n -= w;
    }
    return true;
}
} // namespace

FaultProxy::FaultProxy(int targetPort) : target_(targetPort) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listen_ < 0) throw std::runtime_error("socket");
    const int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(0);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, 64) != 0)
        throw std::runtime_error("bind/listen");
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (::pipe(wake_) != 0) throw std::runtime_error("pipe");
    thread_ = std::thread([this] { run(); });
}

FaultProxy::~FaultProxy() {
    stop_ = true;
    const char c = 0;
    (void)!::write(wake_[1], &c, 1);
    thread_.join();
    for (Link& l : links_) closeLink(l, false);
    ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void FaultProxy::cutAll() {
    cut_ = true;
    const char c = 0;
    (void)!::write(wake_[1], &c, 1);
    // Wait until the proxy thread has done it, so the caller can rely on it.
    while (cut_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void FaultProxy::closeLink(Link& l, bool reset) {
    for (int* fd : {&l.client, &l.server}) {
        if (*fd < 0) continue;
        if (reset) {
            const linger lg{1, 0};
            ::setsockopt(*fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        }
        ::close(*fd);
        *fd = -1;
    }
}

void FaultProxy::run() {
    std::vector<char> buf(64 * 1024);
    while (!stop_) {
        if (cut_) {
            for (Link& l : links_) closeLink(l, true);
            links_.clear();
            cut_ = false;
        }
        const Mode mode = mode_;
        std::vector<pollfd> fds;
        fds.push_back({listen_, POLLIN, 0});
        fds.push_back({wake_[0], POLLIN, 0});
        // A link accepted below was not polled in this pass.
        const size_t polled = mode == Mode::Pass ? links_.size() : 0;
        if (mode == Mode::Pass)
            for (const Link& l : links_) {
                fds.push_back({l.client, POLLIN, 0});
                fds.push_back({l.server, POLLIN, 0});
            }
        if (::poll(fds.data(), fds.size(), 20) < 0) continue;
        if (fds[1].revents & POLLIN) {
            char c[64];
            (void)!::read(wake_[0], c, sizeof c);
        }
        if (fds[0].revents & POLLIN) {
            const int c = ::accept(listen_, nullptr, nullptr);
            if (c >= 0) {
                ++accepted_;
                Link l;
                l.client = c;
                if (mode != Mode::Blackhole) {
                    l.server = ::socket(AF_INET, SOCK_STREAM, 0);
                    sockaddr_in a = loopback(target_);
                    if (::connect(l.server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                        closeLink(l, true);
                        continue;
                    }
                    const int one = 1;
                    ::setsockopt(l.server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    ::setsockopt(l.client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                }
                links_.push_back(l);
            }
        }
        if (mode != Mode::Pass) continue;
        // Links are polled in pairs after the two fixed entries.
        for (size_t i = 0; i < polled; ++i) {
            Link& l = links_[i];
            for (int side = 0; side < 2; ++side) {
                const pollfd& p = fds[2 + 2 * i + side];
                if (!(p.revents & (POLLIN | POLLHUP | POLLERR)) || l.client < 0) continue;
                const int from = side == 0 ? l.client : l.server;
                const int to = side == 0 ? l.server : l.client;
                if (to < 0) continue;
                const ssize_t n = ::recv(from, buf.data(), buf.size(), 0);
                if (n <= 0) {
                    closeLink(l, false);
                    break;
                }
                if (const int d = delayMs_; d > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(d));
                if (!sendAll(to, buf.data(), n)) {
                    closeLink(l, false);
                    break;
                }
                forwarded_ += n;
            }
        }
        std::erase_if(links_, [](const Link& l) { return l.client < 0; });
    }
}

} // namespace testsupport
