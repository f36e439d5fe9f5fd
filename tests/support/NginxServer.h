#pragma once
// Runs the system nginx (/usr/sbin/nginx) as a child process for one test or benchmark: a
// throw-away configuration, pid file, logs and temp paths in a temporary folder, one server on a
// free 127.0.0.1 port serving a given folder; optionally over TLS with a throw-away CA and
// server certificate made with the openssl command line (and HTTP/2 offered there), and
// optionally rate-limited; optionally with an access log naming each request's connection and
// protocol.
// The destructor stops it.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QProcess;

class NginxServer {
public:
    struct Options {
        bool tls = false;
        QByteArray limitRate;  // nginx limit_rate value, e.g. "512k"; empty: unlimited
        QByteArray extra{};    // more directives for the server block (a redirect, say)
        bool http2 = false;      // offered over TLS (ALPN)
        bool accessLog = false;  // "CONNECTION PROTOCOL URI STATUS ..." per request, see accessLog()
    };

    explicit NginxServer(const QString& root, const Options& options);
    explicit NginxServer(const QString& root) : NginxServer(root, Options{}) {}
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Whether nginx is up; error() says why not.
    bool isRunning() const { return running_; }
    QString error() const { return error_; }

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" + path, or "https://..." with TLS.
    QString url(const QString& path) const;
    // The CA certificate (PEM) that signed the server certificate; empty without TLS.
    QString caFile() const { return caFile_; }
    // The access log so far, one line per request: "CONNECTION PROTOCOL URI STATUS BYTES
    // CACHE_CONTROL" (the connection a number nginx gives each, the protocol "HTTP/1.0",
    // "HTTP/1.1" or "HTTP/2.0", the body bytes sent, the request's Cache-Control or "-").
    QList<QByteArray> accessLog() const;

private:
    bool makeCertificates();
    bool start(const QString& root, const Options& options);

    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    bool tls_ = false;
    bool running_ = false;
    quint16 port_ = 0;
    QString caFile_;
    QString error_;
};
