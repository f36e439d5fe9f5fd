#include "FaultServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

constexpr int kPollMs = 20;

int listenOnFreePort(quint16* port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen on 127.0.0.1 failed");
    }
    *port = ntohs(a.sin_port);
    return fd;
}

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// Byte i of a body: the stored bytes, then a repeating pattern for announced-but-missing bytes.
char bodyByte(const QByteArray& body, qint64 i)
{
    return i < body.size() ? body.at(i) : char('a' + i % 26);
}

}  // namespace

FaultServer::FaultServer(const QString& root) : root_(root)
{
    listenFd_ = listenOnFreePort(&port_);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

FaultServer::~FaultServer()
{
    stop_ = true;
    if (acceptThread_.joinable())
        acceptThread_.join();
    for (auto& t : workers_)
        if (t.joinable())
            t.join();
    ::close(listenFd_);
}

QString FaultServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
}

QString FaultServer::refusedUrl(const QString& path)
{
    quint16 port = 0;
    int fd = listenOnFreePort(&port);
    ::close(fd);  // the port was free a moment ago and nothing listens on it now
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}

void FaultServer::setBody(const QString& path, const QByteArray& body)
{
    std::lock_guard lock(mutex_);
    bodies_[path] = body;
}

void FaultServer::setFault(const QString& path, const Fault& fault)
{
    std::lock_guard lock(mutex_);
    faults_[path] = fault;
}

void FaultServer::setDefaultFault(const Fault& fault)
{
    std::lock_guard lock(mutex_);
    defaultFault_ = std::make_unique<Fault>(fault);
}

void FaultServer::clearFaults()
{
    std::lock_guard lock(mutex_);
    faults_.clear();
    defaultFault_.reset();
}

void FaultServer::omitLength(const QString& path)
{
    Fault f;
    f.omitLength = true;
    setFault(path, f);
}

void FaultServer::shortBody(const QString& path, qint64 announce, qint64 send)
{
    Fault f;
    f.announce = announce;
    f.sendBytes = send;
    setFault(path, f);
}

void FaultServer::status(const QString& path, int code, const QByteArray& body)
{
    Fault f;
    f.status = code;
    setFault(path, f);
    setBody(path, body);
}

void FaultServer::redirect(const QString& path, const QByteArray& location, int code)
{
    Fault f;
    f.status = code;
    f.location = location;
    setFault(path, f);
}

void FaultServer::stall(const QString& path, qint64 afterBytes)
{
    Fault f;
    f.stallAfter = afterBytes;
    setFault(path, f);
}

void FaultServer::abortConnection(const QString& path)
{
    Fault f;
    f.abortConnection = true;
    setFault(path, f);
}

void FaultServer::rateLimit(const QString& path, qint64 bytesPerSecond)
{
    Fault f;
    f.bytesPerSecond = bytesPerSecond;
    setFault(path, f);
}

QList<QByteArray> FaultServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

QByteArray FaultServer::lastRequest() const
{
    std::lock_guard lock(mutex_);
    return requests_.isEmpty() ? QByteArray() : requests_.last();
}

int FaultServer::requestCount() const
{
    std::lock_guard lock(mutex_);
    return int(requests_.size());
}

bool FaultServer::waitForRequests(int n, int timeoutMs) const
{
    std::unique_lock lock(mutex_);
    return requestArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return requests_.size() >= n; });
}

void FaultServer::acceptLoop()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++open_;
        workers_.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
            --open_;
        });
    }
}

bool FaultServer::sendAll(int fd, const char* data, qint64 size, const Fault& f, qint64* sent)
{
    using clock = std::chrono::steady_clock;
    static thread_local clock::time_point start;
    if (sent && *sent == 0)
        start = clock::now();
    qint64 off = 0;
    while (off < size) {
        if (stop_)
            return false;
        qint64 n = size - off;
        if (f.bytesPerSecond > 0 && sent) {
            // Never run ahead of the allowed rate: send what is due, then wait a little.
            const double elapsed = std::chrono::duration<double>(clock::now() - start).count();
            const qint64 due = qint64(elapsed * double(f.bytesPerSecond)) - *sent;
            if (due <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            n = std::min(n, due);
        }
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        const ssize_t w = ::send(fd, data + off, size_t(n), MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        off += w;
        if (sent)
            *sent += w;
    }
    return true;
}

void FaultServer::serve(int fd)
{
    // Read the request: headers up to the blank line, then a body of Content-Length bytes.
    QByteArray raw;
    qint64 headerEnd = -1, bodyLength = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        if (headerEnd >= 0 && raw.size() >= headerEnd + bodyLength)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        char buf[8192];
        const ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r <= 0)
            break;
        raw.append(buf, r);
        if (headerEnd < 0) {
            const qsizetype e = raw.indexOf("\r\n\r\n");
            if (e >= 0) {
                headerEnd = e + 4;
                for (const QByteArray& line : raw.left(e).split('\n')) {
                    const QByteArray l = line.trimmed();
                    if (l.toLower().startsWith("content-length:"))
                        bodyLength = l.mid(15).trimmed().toLongLong();
                }
            }
        }
    }
    if (headerEnd < 0)
        return;

    const QByteArray requestLine = raw.left(raw.indexOf("\r\n"));
    QByteArray target = requestLine.split(' ').value(1);
    if (const qsizetype q = target.indexOf('?'); q >= 0)
        target.truncate(q);
    const QString path = QUrl::fromPercentEncoding(target);

    Fault f;
    bool haveFault = false, haveBody = false;
    QByteArray body;
    {
        std::lock_guard lock(mutex_);
        requests_.append(raw);
        requestArrived_.notify_all();
        if (auto it = faults_.find(path); it != faults_.end()) {
            f = it->second;
            haveFault = true;
        } else if (defaultFault_) {
            f = *defaultFault_;
            haveFault = true;
        }
        if (auto it = bodies_.find(path); it != bodies_.end()) {
            body = it->second;
            haveBody = true;
        }
    }
    if (!haveBody && !root_.isEmpty() && !path.contains("..")) {
        QFile file(QDir(root_).filePath(path.mid(1)));
        if (QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly)) {
            body = file.readAll();
            haveBody = true;
        }
    }
    if (f.abortConnection) {
        ::shutdown(fd, SHUT_RDWR);
        return;
    }
    if (!haveBody && !haveFault) {
        f.status = 404;
        body = "<html><body>Not Found</body></html>";
    }
    if (f.delayHeadersMs > 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(f.delayHeadersMs);
        while (!stop_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    qint64 toSend = f.sendBytes >= 0 ? f.sendBytes : (f.announce >= 0 ? f.announce : body.size());
    const qint64 announced = f.announce >= 0 ? f.announce : body.size();
    QByteArray head = "HTTP/1.0 " + QByteArray::number(f.status) + ' ' + reason(f.status) + "\r\n";
    head += "Server: FaultServer\r\nConnection: close\r\n";
    if (!f.omitLength)
        head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    if (!f.location.isEmpty())
        head += "Location: " + f.location + "\r\n";
    head += f.extraHeaders;
    head += "\r\n";
    if (!sendAll(fd, head.constData(), head.size(), Fault{}, nullptr))
        return;

    const bool stalls = f.stallAfter >= 0;
    if (stalls)
        toSend = std::min(toSend, f.stallAfter);
    qint64 sent = 0;
    QByteArray chunk;
    while (sent < toSend && !stop_) {
        const qint64 n = std::min<qint64>(64 * 1024, toSend - sent);
        if (sent + n <= body.size()) {
            chunk = QByteArray::fromRawData(body.constData() + sent, n);
        } else {
            chunk.resize(n);
            for (qint64 i = 0; i < n; ++i)
                chunk[i] = bodyByte(body, sent + i);
        }
        if (!sendAll(fd, chunk.constData(), n, f, &sent))
            return;
    }
    if (stalls) {
        // Keep the connection open and silent until the client gives up or the server stops.
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, kPollMs) > 0) {
                char buf[512];
                if (::recv(fd, buf, sizeof buf, 0) <= 0)
                    return;
            }
        }
        return;
    }
    ::shutdown(fd, SHUT_WR);
    // Let the client read everything before the socket is closed.
    for (int i = 0; i < 50 && !stop_; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) > 0) {
            char buf[512];
            if (::recv(fd, buf, sizeof buf, 0) <= 0)
                return;
        }
    }
}
