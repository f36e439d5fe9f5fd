#pragma once
// A TCP proxy on 127.0.0.1 (free port, one thread with an epoll loop) in front of a server on
// another loopback port, adding the delay of a real link: a new connection carries no byte
// before one round trip has passed (the handshake), and every chunk read from either side is
// delivered half a round trip later. Chunks are queued with their due time, so the delay does
// not throttle throughput. End of data and resets are passed on in order, each after the same
// delay.
//
// Optionally the link also has a bandwidth: a cap in bytes per second that all connections share,
// one token bucket per direction. Bytes then leave no earlier than their due time and no faster
// than the cap; connections take turns at the bucket. Without a cap (the default) bytes leave as
// soon as they are due. The proxy counts the bytes it delivers to clients (downstream) and those
// it reads from them (upstream), with or without a cap.
//
//   NginxServer nginx(site);
//   LatencyProxy proxy(nginx.port(), 50);
//   curl proxy.url("/a.bin");  // about two round trips for connection, request and answer
//   LatencyProxy link(nginx.port(), 50, 100'000'000 / 8);  // and 100 Mbit/s each way
//   const qint64 before = link.bytesToClients();  // ... run a client ..., then the difference

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class LatencyProxy {
public:
    // bytesPerSecond: the cap of each direction, 0 for none.
    LatencyProxy(quint16 upstreamPort, int roundTripMs, qint64 bytesPerSecond = 0);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy&) = delete;
    LatencyProxy& operator=(const LatencyProxy&) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" + path (path starts with "/").
    QString url(const QString& path) const;
    // Client connections accepted since the proxy started.
    int connectionCount() const { return accepted_.load(); }
    // Bytes delivered to clients, and read from clients, since the proxy started.
    qint64 bytesToClients() const { return toClients_.load(); }
    qint64 bytesFromClients() const { return fromClients_.load(); }

private:
    struct Loop;
    void run();

    quint16 port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<qint64> toClients_{0}, fromClients_{0};
    std::unique_ptr<Loop> loop_;
    std::thread thread_;
};
