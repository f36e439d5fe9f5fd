#pragma once
// A TCP proxy on 127.0.0.1 (free port, one thread with an epoll loop) in front of a server on
// another loopback port, adding the delay of a real link: a new connection carries no byte
// before one round trip has passed (the handshake), and every chunk read from either side is
// delivered half a round trip later. Chunks are queued with their due time, so the delay does
// not throttle throughput. End of data and resets are passed on in order, each after the same
// delay.
//
//   NginxServer nginx(site);
//   LatencyProxy proxy(nginx.port(), 50);
//   curl proxy.url("/a.bin");  // about two round trips for connection, request and answer

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class LatencyProxy {
public:
    LatencyProxy(quint16 upstreamPort, int roundTripMs);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy&) = delete;
    LatencyProxy& operator=(const LatencyProxy&) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" + path (path starts with "/").
    QString url(const QString& path) const;
    // Client connections accepted since the proxy started.
    int connectionCount() const { return accepted_.load(); }

private:
    struct Loop;
    void run();

    quint16 port_ = 0;
    std::atomic<int> accepted_{0};
    std::unique_ptr<Loop> loop_;
    std::thread thread_;
};
