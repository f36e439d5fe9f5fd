#include "FaultServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
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
constexpr int kIdleSeconds = 10;  // how long a connection may wait for its next request
constexpr qint64 kChunk = 64 * 1024;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 256) != 0
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
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
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

QByteArray httpDate(const QDateTime& time)
{
    if (!time.isValid())
        return {};
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")).toLatin1() + " GMT";
}

// The value of the first header with that (lower-case) name, trimmed; empty when absent.
QByteArray headerValue(const QByteArray& head, const QByteArray& name)
{
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0 && lines[i].left(colon).trimmed().toLower() == name)
            return lines[i].mid(colon + 1).trimmed();
    }
    return {};
}

bool hasToken(const QByteArray& list, const QByteArray& token)
{
    for (const QByteArray& t : list.split(','))
        if (t.trimmed().toLower() == token)
            return true;
    return false;
}

// A single "bytes=" range against a body of `total` bytes: the first and last byte, or nothing
// when the header is absent or not understood (then the whole body is sent). first >= total
// means unsatisfiable.
std::optional<std::pair<qint64, qint64>> parseRange(const QByteArray& value, qint64 total)
{
    if (!value.startsWith("bytes=") || value.contains(','))
        return std::nullopt;
    const QByteArray spec = value.mid(6).trimmed();
    const qsizetype dash = spec.indexOf('-');
    if (dash < 0)
        return std::nullopt;
    bool okFirst = false, okLast = false;
    const QByteArray a = spec.left(dash).trimmed(), b = spec.mid(dash + 1).trimmed();
    if (a.isEmpty()) {  // "-N": the last N bytes
        const qint64 n = b.toLongLong(&okLast);
        if (!okLast || n <= 0)
            return std::nullopt;
        return std::make_pair(std::max<qint64>(0, total - n), total - 1);
    }
    const qint64 first = a.toLongLong(&okFirst);
    qint64 last = b.isEmpty() ? total - 1 : b.toLongLong(&okLast);
    if (!okFirst || first < 0 || (!b.isEmpty() && (!okLast || last < first)))
        return std::nullopt;
    return std::make_pair(first, std::min(last, total - 1));
}

}  // namespace

// What a path serves: an in-memory body or a file, with its validators.
struct FaultServer::Resource {
    QByteArray body;
    QString file;  // when set, the body is streamed from this file
    qint64 size = 0;
    QByteArray etag;
    QDateTime lastModified;
};

struct FaultServer::Request {
    QByteArray raw;   // as it arrived
    QByteArray head;  // request line and headers
    QString path;
    bool isHead = false;  // a HEAD request: no body in the answer
    bool keepAlive = false;
};

struct FaultServer::Answer {
    Fault fault;
    std::shared_ptr<const Resource> resource;  // null: the answer's body is `text`
    QByteArray text;
    bool validators = false;  // the answer carries the resource's ETag and Last-Modified
};

FaultServer::FaultServer(const QString& root) : root_(root), startedMs_(nowMs())
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
    auto r = std::make_shared<Resource>();
    r->body = body;
    r->size = body.size();
    r->etag = '"' + QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex() + '"';
    r->lastModified = QDateTime::currentDateTimeUtc();
    std::lock_guard lock(mutex_);
    bodies_[path] = std::move(r);
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
    failing_.clear();
    defaultFault_.reset();
}

void FaultServer::setETag(const QString& path, const QByteArray& etag)
{
    std::lock_guard lock(mutex_);
    etags_[path] = etag;
}

void FaultServer::setLastModified(const QString& path, const QDateTime& time)
{
    std::lock_guard lock(mutex_);
    lastModified_[path] = time;
}

void FaultServer::failTimes(const QString& path, int times, const Fault& fault)
{
    std::lock_guard lock(mutex_);
    failing_[path] = {times, fault};
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

void FaultServer::resetConnection(const QString& path) { setFault(path, resetFault()); }

void FaultServer::rateLimit(const QString& path, qint64 bytesPerSecond)
{
    Fault f;
    f.bytesPerSecond = bytesPerSecond;
    setFault(path, f);
}

FaultServer::Fault FaultServer::statusFault(int code, const QByteArray& extraHeaders)
{
    Fault f;
    f.status = code;
    f.extraHeaders = extraHeaders;
    return f;
}

FaultServer::Fault FaultServer::resetFault()
{
    Fault f;
    f.reset = true;
    return f;
}

FaultServer::Fault FaultServer::cutFault(qint64 afterBytes)
{
    Fault f;
    f.sendBytes = afterBytes;
    return f;
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

QList<qint64> FaultServer::requestTimes() const
{
    std::lock_guard lock(mutex_);
    return requestTimes_;
}

bool FaultServer::waitForRequests(int n, int timeoutMs) const
{
    std::unique_lock lock(mutex_);
    return requestArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return requests_.size() >= n; });
}

qint64 FaultServer::bodyBytesSent(const QString& path) const
{
    std::lock_guard lock(mutex_);
    const auto it = bodyBytesByPath_.find(path);
    return it == bodyBytesByPath_.end() ? 0 : it->second;
}

void FaultServer::countBody(const QString& path, qint64 bytes)
{
    if (bytes <= 0)
        return;
    bodyBytes_ += bytes;
    std::lock_guard lock(mutex_);
    bodyBytesByPath_[path] += bytes;
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
        ++accepted_;
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

bool FaultServer::readRequest(int fd, QByteArray& pending, Request& request) const
{
    // Headers up to the blank line, then a body of Content-Length bytes; bytes beyond it belong
    // to the next request on the connection.
    qint64 headerEnd = -1, bodyLength = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kIdleSeconds);
    for (;;) {
        if (headerEnd < 0) {
            const qsizetype e = pending.indexOf("\r\n\r\n");
            if (e >= 0) {
                headerEnd = e + 4;
                bodyLength = std::max<qint64>(0, headerValue(pending.left(e), "content-length").toLongLong());
            }
        }
        if (headerEnd >= 0 && pending.size() >= headerEnd + bodyLength)
            break;
        if (stop_ || std::chrono::steady_clock::now() >= deadline)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        char buf[8192];
        const ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r <= 0)
            return false;
        pending.append(buf, r);
    }
    request.raw = pending.left(headerEnd + bodyLength);
    pending.remove(0, headerEnd + bodyLength);
    request.head = request.raw.left(headerEnd - 4);

    const QList<QByteArray> words = request.head.left(request.head.indexOf("\r\n")).split(' ');
    QByteArray target = words.value(1);
    if (const qsizetype q = target.indexOf('?'); q >= 0)
        target.truncate(q);
    request.path = QUrl::fromPercentEncoding(target);
    request.isHead = words.value(0) == "HEAD";
    const QByteArray connection = headerValue(request.head, "connection");
    request.keepAlive = words.value(2).trimmed() == "HTTP/1.1" ? !hasToken(connection, "close")
                                                                : hasToken(connection, "keep-alive");
    return true;
}

void FaultServer::serve(int fd)
{
    QByteArray pending;
    Request request;
    while (readRequest(fd, pending, request) && answer(fd, request)) {
    }
}

FaultServer::Answer FaultServer::prepare(const Request& request)
{
    Answer a;
    bool haveFault = false, failing = false;
    {
        std::lock_guard lock(mutex_);
        requests_.append(request.raw);
        requestTimes_.append(nowMs() - startedMs_);
        requestArrived_.notify_all();
        if (auto it = failing_.find(request.path); it != failing_.end() && it->second.first > 0) {
            --it->second.first;
            a.fault = it->second.second;
            haveFault = failing = true;
        } else if (auto it = faults_.find(request.path); it != faults_.end()) {
            a.fault = it->second;
            haveFault = true;
        } else if (defaultFault_) {
            a.fault = *defaultFault_;
            haveFault = true;
        }
        if (auto it = bodies_.find(request.path); it != bodies_.end())
            a.resource = it->second;
    }
    if (!a.resource && !root_.isEmpty() && !request.path.contains("..")) {
        const QFileInfo info(QDir(root_).filePath(request.path.mid(1)));
        if (info.isFile() && info.isReadable()) {
            auto r = std::make_shared<Resource>();
            r->file = info.filePath();
            r->size = info.size();
            const QDateTime mtime = info.lastModified().toUTC();
            r->etag = '"' + QByteArray::number(mtime.toMSecsSinceEpoch(), 16) + '-' +
                      QByteArray::number(r->size, 16) + '"';
            r->lastModified = mtime;
            a.resource = std::move(r);
        }
    }
    if (a.resource) {
        std::lock_guard lock(mutex_);
        const auto etag = etags_.find(request.path);
        const auto time = lastModified_.find(request.path);
        if (etag != etags_.end() || time != lastModified_.end()) {
            auto r = std::make_shared<Resource>(*a.resource);
            if (etag != etags_.end())
                r->etag = etag->second;
            if (time != lastModified_.end())
                r->lastModified = time->second;
            a.resource = std::move(r);
        }
    }
    if (a.fault.body) {
        a.resource.reset();
        a.text = *a.fault.body;
    } else if (failing && a.fault.status >= 300) {
        a.resource.reset();
        a.text = QByteArray::number(a.fault.status) + ' ' + reason(a.fault.status) + '\n';
    } else if (!a.resource && !haveFault) {
        a.fault.status = 404;
        a.text = "<html><body>Not Found</body></html>";
    }
    a.validators = a.resource && (a.fault.status == 200 || a.fault.status == 206);
    return a;
}

bool FaultServer::answer(int fd, const Request& request)
{
    Answer a = prepare(request);
    const Fault& f = a.fault;
    if (f.abortConnection) {
        ::shutdown(fd, SHUT_RDWR);
        return false;
    }
    if (f.reset) {
        const linger l{1, 0};  // the close that follows sends a reset
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        return false;
    }
    if (f.delayHeadersMs > 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(f.delayHeadersMs);
        while (!stop_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    const QByteArray& memory = a.resource ? a.resource->body : a.text;
    const qint64 total = a.resource ? a.resource->size : a.text.size();
    int status = f.status;
    qint64 offset = 0, length = total;
    QByteArray contentRange;
    const QByteArray rangeHeader = headerValue(request.head, "range");
    if (a.validators && status == 200 && !f.omitLength && f.announce < 0 && !rangeHeader.isEmpty()) {
        // If-Range: a quoted value is an ETag, anything else a date; a weak or differing one
        // means the client's copy is stale, so the whole body goes out.
        const QByteArray ifRange = headerValue(request.head, "if-range");
        const bool current = ifRange.isEmpty()
            || (ifRange.startsWith('"') ? ifRange == a.resource->etag
                                        : ifRange == httpDate(a.resource->lastModified));
        if (const auto range = parseRange(rangeHeader, total); range && current) {
            if (range->first >= total) {
                status = 416;
                length = 0;
                contentRange = "bytes */" + QByteArray::number(total);
            } else {
                status = 206;
                offset = range->first;
                length = range->second - range->first + 1;
                contentRange = "bytes " + QByteArray::number(range->first) + '-' +
                               QByteArray::number(range->second) + '/' + QByteArray::number(total);
            }
        }
    }

    const qint64 announced = f.announce >= 0 ? f.announce : length;
    qint64 toSend = f.sendBytes >= 0 ? f.sendBytes : announced;
    if (f.stallAfter >= 0)
        toSend = std::min(toSend, f.stallAfter);
    if (request.isHead)
        toSend = 0;
    const bool keepAlive = request.keepAlive && !f.omitLength;
    QByteArray head = "HTTP/1.0 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    head += "Server: FaultServer\r\nConnection: " + QByteArray(keepAlive ? "keep-alive" : "close") + "\r\n";
    if (!f.omitLength)
        head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    if (!contentRange.isEmpty())
        head += "Content-Range: " + contentRange + "\r\n";
    if (a.validators && !a.resource->etag.isEmpty())
        head += "ETag: " + a.resource->etag + "\r\n";
    if (a.validators && a.resource->lastModified.isValid())
        head += "Last-Modified: " + httpDate(a.resource->lastModified) + "\r\n";
    if (!f.location.isEmpty())
        head += "Location: " + f.location + "\r\n";
    head += f.extraHeaders;
    head += "\r\n";
    if (!sendAll(fd, head.constData(), head.size(), Fault{}, nullptr))
        return false;

    // The body streams from memory or from the file, a chunk at a time.
    QFile file;
    if (a.resource && !a.resource->file.isEmpty() && toSend > 0) {
        file.setFileName(a.resource->file);
        if (!file.open(QIODevice::ReadOnly))
            return false;
    }
    qint64 sent = 0;
    QByteArray chunk;
    while (sent < toSend && !stop_) {
        const qint64 at = offset + sent;  // position in the whole body
        const qint64 n = std::min(kChunk, toSend - sent);
        const qint64 stored = std::clamp<qint64>(total - at, 0, n);
        if (file.isOpen()) {
            chunk.resize(n);
            if (stored > 0 && (!file.seek(at) || file.read(chunk.data(), stored) != stored))
                return false;
            for (qint64 i = stored; i < n; ++i)
                chunk[i] = char('a' + (at + i) % 26);
        } else if (stored == n) {
            chunk = QByteArray::fromRawData(memory.constData() + at, n);
        } else {
            chunk.resize(n);
            for (qint64 i = 0; i < n; ++i)
                chunk[i] = bodyByte(memory, at + i);
        }
        const qint64 before = sent;
        const bool ok = sendAll(fd, chunk.constData(), n, f, &sent);
        countBody(request.path, sent - before);
        if (!ok)
            return false;
    }
    if (f.stallAfter >= 0 && !request.isHead) {
        // Keep the connection open and silent until the client gives up or the server stops.
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, kPollMs) > 0) {
                char buf[512];
                if (::recv(fd, buf, sizeof buf, 0) <= 0)
                    return false;
            }
        }
        return false;
    }
    if (keepAlive && (request.isHead || sent == announced))
        return true;
    ::shutdown(fd, SHUT_WR);
    // Let the client read everything before the socket is closed.
    for (int i = 0; i < 50 && !stop_; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) > 0) {
            char buf[512];
            if (::recv(fd, buf, sizeof buf, 0) <= 0)
                return false;
        }
    }
    return false;
}
