#pragma once
// A small HTTP/1.0 server on 127.0.0.1 (free port, own threads) for network tests. It serves
// in-memory bodies and files from a folder, and can misbehave per path (or for every path):
// omit the Content-Length, announce more than it sends, answer with any status or a redirect,
// stall after part of the body, close the connection at once or with a reset, or send at a
// limited rate; a fault may also hold for only the first K requests of a path, so retries can be
// tested. Every request is recorded byte for byte (request line, headers and body).
//
// It keeps a connection open for further requests when the client asks for it (HTTP/1.1 without
// "Connection: close", or "Connection: keep-alive"), answers "Range: bytes=N-" (and N-M) with 206
// unless an "If-Range" validator differs from the path's ETag or Last-Modified, and counts the
// connections it accepted and the body bytes it sent.
//
//   FaultServer srv(tmp.path());
//   srv.setBody("/a.txt", "hello");
//   srv.shortBody("/big", 3'000'000'000LL, 1000);
//   fetch(srv.url("/a.txt")); srv.lastRequest().startsWith("GET /a.txt HTTP/1.0\r\n");
//   srv.failTimes("/a.txt", 2, FaultServer::statusFault(503, "Retry-After: 1\r\n"));

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <condition_variable>
#include <thread>
#include <vector>

class FaultServer {
public:
    struct Fault {
        int status = 200;             // status code of the answer
        QByteArray location;          // Location header (redirects); a path or a full URL
        bool omitLength = false;      // no Content-Length header
        qint64 announce = -1;         // Content-Length to announce; -1: the real body size
        qint64 sendBytes = -1;        // close after this many body bytes; -1: the whole body
        qint64 stallAfter = -1;       // after this many body bytes send nothing, keep it open
        bool abortConnection = false; // close right after reading the request, send nothing
        bool reset = false;           // reset the connection (SO_LINGER 0) after the request
        qint64 bytesPerSecond = 0;    // rate limit for the body; 0: as fast as possible
        qint64 delayHeadersMs = 0;    // wait this long before the status line
        QByteArray extraHeaders;      // raw header lines, each ending in "\r\n"
        std::optional<QByteArray> body;  // the answer's body in place of the path's own
    };

    // Serves files below root (when given) and bodies set with setBody.
    explicit FaultServer(const QString& root = {});
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" + path (path starts with "/").
    QString url(const QString& path) const;
    // An address on 127.0.0.1 where nothing listens.
    static QString refusedUrl(const QString& path = "/x");

    // Bodies and faults; paths are matched without the query string. A body's ETag is derived
    // from its content and its Last-Modified is the time it was set; a file's come from its
    // size and modification time.
    void setBody(const QString& path, const QByteArray& body);
    void setFault(const QString& path, const Fault& fault);
    void setDefaultFault(const Fault& fault);  // for paths without a fault of their own
    void clearFaults();
    // The ETag (with its quotes, e.g. "\"v2\"") and Last-Modified of a path in place of the
    // derived ones; an empty ETag or an invalid time leaves that header out.
    void setETag(const QString& path, const QByteArray& etag);
    void setLastModified(const QString& path, const QDateTime& time);
    // The next `times` requests of the path get `fault`; later ones are served as before. A
    // failing answer with a status of 300 or more carries a short text in place of the path's
    // body unless the fault has a body of its own.
    void failTimes(const QString& path, int times, const Fault& fault);

    // Shorthands for the common faults.
    void omitLength(const QString& path);
    void shortBody(const QString& path, qint64 announce, qint64 send);
    void status(const QString& path, int code, const QByteArray& body = {});
    void redirect(const QString& path, const QByteArray& location, int code = 302);
    void stall(const QString& path, qint64 afterBytes);
    void abortConnection(const QString& path);
    void resetConnection(const QString& path);
    void rateLimit(const QString& path, qint64 bytesPerSecond);
    // Faults to pass to failTimes: a status (with extra header lines such as "Retry-After: 2\r\n"),
    // a reset, a close after some body bytes with the full length announced.
    static Fault statusFault(int code, const QByteArray& extraHeaders = {});
    static Fault resetFault();
    static Fault cutFault(qint64 afterBytes);

    // Recorded requests, oldest first; each one as it arrived on the wire.
    QList<QByteArray> requests() const;
    QByteArray lastRequest() const;
    int requestCount() const;
    // When each recorded request arrived, in milliseconds since the server started.
    QList<qint64> requestTimes() const;
    // Waits until at least n requests have arrived; false on time-out.
    bool waitForRequests(int n, int timeoutMs = 5000) const;
    // Connections currently open (counting stalled ones).
    int openConnections() const { return open_.load(); }
    // Connections accepted since the server started.
    int connectionCount() const { return accepted_.load(); }
    // Body bytes handed to the network, in all and for one path.
    qint64 bodyBytesSent() const { return bodyBytes_.load(); }
    qint64 bodyBytesSent(const QString& path) const;

private:
    struct Resource;
    struct Request;
    struct Answer;
    void acceptLoop();
    void serve(int fd);
    // Reads the next request on the connection into `request`; false when there is none.
    bool readRequest(int fd, QByteArray& pending, Request& request) const;
    // Answers one request; true when the connection may carry another one.
    bool answer(int fd, const Request& request);
    Answer prepare(const Request& request);
    bool sendAll(int fd, const char* data, qint64 size, const Fault& f, qint64* sent);
    void countBody(const QString& path, qint64 bytes);

    QString root_;
    int listenFd_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> open_{0};
    std::atomic<int> accepted_{0};
    std::atomic<qint64> bodyBytes_{0};
    qint64 startedMs_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    std::map<QString, std::shared_ptr<const Resource>> bodies_;
    std::map<QString, Fault> faults_;
    std::map<QString, std::pair<int, Fault>> failing_;
    std::map<QString, QByteArray> etags_;
    std::map<QString, QDateTime> lastModified_;
    std::map<QString, qint64> bodyBytesByPath_;
    std::unique_ptr<Fault> defaultFault_;
    QList<QByteArray> requests_;
    QList<qint64> requestTimes_;
    std::thread acceptThread_;
    std::vector<std::thread> workers_;
};
