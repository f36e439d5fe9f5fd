#pragma once
// A small HTTP/1.0 server on 127.0.0.1 (free port, own threads) for network tests. It serves
// in-memory bodies and files from a folder, and can misbehave per path (or for every path):
// omit the Content-Length, announce more than it sends, answer with any status or a redirect,
// stall after part of the body, close the connection at once, or send at a limited rate.
// Every request is recorded byte for byte (request line, headers and body).
//
//   FaultServer srv(tmp.path());
//   srv.setBody("/a.txt", "hello");
//   srv.shortBody("/big", 3'000'000'000LL, 1000);
//   fetch(srv.url("/a.txt")); srv.lastRequest().startsWith("GET /a.txt HTTP/1.0\r\n");

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
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
        qint64 bytesPerSecond = 0;    // rate limit for the body; 0: as fast as possible
        qint64 delayHeadersMs = 0;    // wait this long before the status line
        QByteArray extraHeaders;      // raw header lines, each ending in "\r\n"
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

    // Bodies and faults; paths are matched without the query string.
    void setBody(const QString& path, const QByteArray& body);
    void setFault(const QString& path, const Fault& fault);
    void setDefaultFault(const Fault& fault);  // for paths without a fault of their own
    void clearFaults();

    // Shorthands for the common faults.
    void omitLength(const QString& path);
    void shortBody(const QString& path, qint64 announce, qint64 send);
    void status(const QString& path, int code, const QByteArray& body = {});
    void redirect(const QString& path, const QByteArray& location, int code = 302);
    void stall(const QString& path, qint64 afterBytes);
    void abortConnection(const QString& path);
    void rateLimit(const QString& path, qint64 bytesPerSecond);

    // Recorded requests, oldest first; each one as it arrived on the wire.
    QList<QByteArray> requests() const;
    QByteArray lastRequest() const;
    int requestCount() const;
    // Waits until at least n requests have arrived; false on time-out.
    bool waitForRequests(int n, int timeoutMs = 5000) const;
    // Connections currently open (counting stalled ones).
    int openConnections() const { return open_.load(); }

private:
    void acceptLoop();
    void serve(int fd);
    bool sendAll(int fd, const char* data, qint64 size, const Fault& f, qint64* sent);

    QString root_;
    int listenFd_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> open_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    std::map<QString, QByteArray> bodies_;
    std::map<QString, Fault> faults_;
    std::unique_ptr<Fault> defaultFault_;
    QList<QByteArray> requests_;
    std::thread acceptThread_;
    std::vector<std::thread> workers_;
};
