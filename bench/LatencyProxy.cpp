#include "LatencyProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <map>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadSize = 64 * 1024;
// Bytes one direction may hold (in flight and undelivered) before the proxy stops reading from
// its source: a window large enough not to limit loopback rates at these delays.
constexpr size_t kWindow = 8 * 1024 * 1024;

// The cap's bucket holds at most this much: what may leave at once after an idle moment.
constexpr double kBurst = 64 * 1024;
// A capped direction that ran dry waits until this much has accrued (fewer, larger sends).
constexpr double kQuantum = 16 * 1024;

bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR || e == ENOTCONN; }

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// What one side sent, waiting for its due time: bytes, its end of data, or a reset.
struct Item {
    enum Kind { Data, End, Reset } kind = Data;
    Clock::time_point due;
    std::vector<char> bytes;
    size_t offset = 0;  // bytes of it already delivered
};

// One direction of a connection.
struct Pipe {
    int from = -1, to = -1;
    std::deque<Item> queue;
    size_t queued = 0;          // undelivered bytes
    bool reading = true;        // `from` may still send
    bool blocked = false;       // the last write to `to` would have blocked
    bool done = false;          // nothing more goes to `to`
};

// The bandwidth of one direction, shared by all connections: a token bucket of bytes.
struct Bucket {
    double rate = 0;  // bytes per second; 0: no cap
    double tokens = kBurst;
    Clock::time_point last = Clock::now();

    bool capped() const { return rate > 0; }
    void refill(Clock::time_point now)
    {
        tokens = std::min(kBurst, tokens + rate * std::chrono::duration<double>(now - last).count());
        last = now;
    }
    // When a dry bucket will hold a quantum again.
    Clock::time_point readyAt() const
    {
        if (tokens >= kQuantum)
            return last;
        return last + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>((kQuantum - tokens) / rate));
    }
};

struct Connection {
    Clock::time_point opened;
    Pipe up;    // client to upstream
    Pipe down;  // upstream to client
    bool closed = false;
};

}  // namespace

struct LatencyProxy::Loop {
    int listenFd = -1, epollFd = -1, wakeFd = -1;
    quint16 upstreamPort = 0;
    Clock::duration rtt{}, half{};
    std::map<int, Connection*> byFd;
    std::map<int, uint32_t> interest;  // what each registered fd is watched for
    std::vector<std::unique_ptr<Connection>> connections;
    Bucket upCap, downCap;
    size_t turn = 0;  // with a cap, which connection is served first in this pass
    std::atomic<qint64>* toClients = nullptr;
    std::atomic<qint64>* fromClients = nullptr;

    Bucket& capOf(const Connection& c, const Pipe& p) { return &p == &c.up ? upCap : downCap; }

    ~Loop()
    {
        for (auto& c : connections)
            closeConnection(*c, false);
        for (int fd : {listenFd, epollFd, wakeFd})
            if (fd >= 0)
                ::close(fd);
    }

    void watch(int fd, uint32_t events)
    {
        const auto it = interest.find(fd);
        const uint32_t now = it == interest.end() ? 0 : it->second;
        if (events == now && it != interest.end())
            return;
        epoll_event ev{};
        ev.events = events;
        ev.data.fd = fd;
        if (events == 0) {
            // Unregistered, so a hung-up socket it no longer needs cannot wake the loop.
            if (it != interest.end()) {
                ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
                interest.erase(it);
            }
        } else {
            ::epoll_ctl(epollFd, it == interest.end() ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &ev);
            interest[fd] = events;
        }
    }

    // Watches both sockets of a connection for what its two directions need now.
    void update(Connection& c)
    {
        if (c.closed)
            return;
        for (Pipe* p : {&c.up, &c.down}) {
            const Pipe& other = p == &c.up ? c.down : c.up;  // the direction that writes to p->from
            uint32_t events = 0;
            if (p->reading && p->queued < kWindow)
                events |= EPOLLIN;
            if (!other.done && other.blocked)
                events |= EPOLLOUT;
            watch(p->from, events);
        }
    }

    void closeConnection(Connection& c, bool reset)
    {
        if (c.closed)
            return;
        c.closed = true;
        for (int fd : {c.up.from, c.down.from}) {
            watch(fd, 0);
            byFd.erase(fd);
            if (reset) {
                const linger l{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            }
            ::close(fd);
        }
    }

    void accept(std::atomic<int>& accepted)
    {
        for (;;) {
            const int client = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0)
                return;
            ++accepted;
            const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const sockaddr_in a = loopback(upstreamPort);
            if (upstream < 0
                || (::connect(upstream, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0
                    && errno != EINPROGRESS)) {
                // Nothing to talk to: the client sees its connection reset.
                if (upstream >= 0)
                    ::close(upstream);
                const linger l{1, 0};
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                ::close(client);
                continue;
            }
            const int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::setsockopt(upstream, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto c = std::make_unique<Connection>();
            c->opened = Clock::now();
            c->up.from = c->down.to = client;
            c->up.to = c->down.from = upstream;
            byFd[client] = byFd[upstream] = c.get();
            update(*c);
            connections.push_back(std::move(c));
        }
    }

    // Reads what a socket has into the direction it feeds, stamping each chunk with its due time.
    void read(Connection& c, Pipe& p)
    {
        // Bytes from the client pass only after the handshake's round trip.
        const Clock::time_point earliest = &p == &c.up ? c.opened + rtt : Clock::time_point{};
        while (p.reading && p.queued < kWindow) {
            Item item;
            item.bytes.resize(kReadSize);
            const ssize_t n = ::recv(p.from, item.bytes.data(), kReadSize, 0);
            if (n < 0 && wouldBlock(errno))
                break;
            item.due = std::max(Clock::now(), earliest) + half;
            if (n > 0 && &p == &c.up)
                *fromClients += n;
            if (n > 0 && p.done)
                continue;  // the receiving side is gone: drop it, but keep reading to see the end
            if (n > 0) {
                item.bytes.resize(size_t(n));
                p.queued += size_t(n);
            } else {
                item.bytes.clear();
                item.kind = n == 0 ? Item::End : Item::Reset;
                p.reading = false;
                if (n < 0) {
                    // The socket is gone: whatever still waits for it is dropped.
                    Pipe& back = &p == &c.up ? c.down : c.up;
                    back.queue.clear();
                    back.queued = 0;
                    back.done = true;
                }
            }
            p.queue.push_back(std::move(item));
        }
    }

    // Delivers the due items of one direction; false when the connection has ended.
    bool deliver(Connection& c, Pipe& p, Clock::time_point now)
    {
        while (!p.done && !p.blocked && !p.queue.empty() && p.queue.front().due <= now) {
            Item& item = p.queue.front();
            if (item.kind == Item::Reset) {
                closeConnection(c, true);
                return false;
            }
            if (item.kind == Item::End) {
                ::shutdown(p.to, SHUT_WR);
                p.done = true;
                p.queue.clear();
                break;
            }
            Bucket& cap = capOf(c, p);
            size_t size = item.bytes.size() - item.offset;
            if (cap.capped()) {
                size = std::min(size, size_t(cap.tokens));
                if (size == 0)
                    break;
            }
            const ssize_t w = ::send(p.to, item.bytes.data() + item.offset, size, MSG_NOSIGNAL);
            if (w < 0 && wouldBlock(errno)) {
                p.blocked = true;
                break;
            }
            if (w < 0) {
                p.done = true;
                p.queue.clear();
                p.queued = 0;
                break;
            }
            if (cap.capped())
                cap.tokens -= double(w);
            if (&p == &c.down)
                *toClients += w;
            item.offset += size_t(w);
            p.queued -= size_t(w);
            if (item.offset == item.bytes.size())
                p.queue.pop_front();
        }
        if (p.done && c.up.done && c.down.done) {
            closeConnection(c, false);
            return false;
        }
        return true;
    }

    // Milliseconds until the next item falls due (rounded up), or -1 when none waits. Bytes of a
    // capped direction are due once their bucket holds a quantum again.
    int timeout(Clock::time_point now) const
    {
        Clock::time_point next = Clock::time_point::max();
        for (const auto& c : connections)
            for (const Pipe* p : {&c->up, &c->down})
                if (!p->done && !p->blocked && !p->queue.empty()) {
                    const Item& item = p->queue.front();
                    const Bucket& cap = p == &c->up ? upCap : downCap;
                    const bool waitsForCap = cap.capped() && item.kind == Item::Data && cap.tokens < 1;
                    next = std::min(next, waitsForCap ? std::max(item.due, cap.readyAt()) : item.due);
                }
        if (next == Clock::time_point::max())
            return -1;
        if (next <= now)
            return 0;
        return int(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
    }
};

LatencyProxy::LatencyProxy(quint16 upstreamPort, int roundTripMs, qint64 bytesPerSecond)
    : loop_(std::make_unique<Loop>())
{
    Loop& l = *loop_;
    l.upCap.rate = l.downCap.rate = double(bytesPerSecond);
    l.toClients = &toClients_;
    l.fromClients = &fromClients_;
    l.upstreamPort = upstreamPort;
    l.rtt = std::chrono::milliseconds(roundTripMs);
    l.half = std::chrono::microseconds(roundTripMs * 500);
    l.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(l.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (l.listenFd < 0 || ::bind(l.listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::listen(l.listenFd, 1024) != 0 || ::getsockname(l.listenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("latency proxy: cannot listen on 127.0.0.1");
    port_ = ntohs(a.sin_port);
    l.epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    l.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (l.epollFd < 0 || l.wakeFd < 0)
        throw std::runtime_error("latency proxy: no epoll or eventfd");
    l.watch(l.listenFd, EPOLLIN);
    l.watch(l.wakeFd, EPOLLIN);
    thread_ = std::thread([this] { run(); });
}

LatencyProxy::~LatencyProxy()
{
    const uint64_t one = 1;
    (void)!::write(loop_->wakeFd, &one, sizeof one);
    thread_.join();
}

QString LatencyProxy::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
}

void LatencyProxy::run()
{
    Loop& l = *loop_;
    epoll_event events[128];
    for (;;) {
        const int n = ::epoll_wait(l.epollFd, events, 128, l.timeout(Clock::now()));
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == l.wakeFd)
                return;
            if (fd == l.listenFd) {
                l.accept(accepted_);
                continue;
            }
            const auto it = l.byFd.find(fd);
            if (it == l.byFd.end())
                continue;
            Connection& c = *it->second;
            Pipe& from = c.up.from == fd ? c.up : c.down;  // the direction this socket feeds
            Pipe& to = c.up.from == fd ? c.down : c.up;    // the direction that writes to it
            if (events[i].events & EPOLLOUT)
                to.blocked = false;
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                l.read(c, from);
        }
        const Clock::time_point now = Clock::now();
        l.upCap.refill(now);
        l.downCap.refill(now);
        // With a cap, the first connection served takes what the bucket holds: take turns.
        const size_t count = l.connections.size();
        const size_t first = l.downCap.capped() && count > 0 ? l.turn++ % count : 0;
        for (size_t i = 0; i < count; ++i) {
            Connection& c = *l.connections[(first + i) % count];
            if (!c.closed && l.deliver(c, c.up, now) && l.deliver(c, c.down, now))
                l.update(c);
        }
        std::erase_if(l.connections, [](const auto& c) { return c->closed; });
    }
}
