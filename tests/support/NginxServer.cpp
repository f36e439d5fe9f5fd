#include "NginxServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

quint16 freePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool run(const QString& program, const QStringList& args, QString* error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + " " + args.join(' ') + ": " + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

}  // namespace

NginxServer::NginxServer(const QString& root, const Options& options)
    : dir_(QDir::tempPath() + "/ivnginx-XXXXXX"), tls_(options.tls)
{
    if (!dir_.isValid()) {
        error_ = "cannot create a temporary folder";
        return;
    }
    if (tls_ && !makeCertificates())
        return;
    // Another process may take the chosen port between choosing and binding: try a few.
    for (int attempt = 0; attempt < 5 && !running_; ++attempt)
        running_ = start(root, options);
}

NginxServer::~NginxServer()
{
    if (process_ && process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(5000)) {
            process_->kill();
            process_->waitForFinished(5000);
        }
    }
}

QString NginxServer::url(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(tls_ ? "https" : "http").arg(port_).arg(path);
}

QList<QByteArray> NginxServer::accessLog() const
{
    QFile log(dir_.path() + "/access.log");
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = log.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

bool NginxServer::makeCertificates()
{
    const QString d = dir_.path() + "/";
    const QString ssl = "/usr/bin/openssl";
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    if (!run(ssl, QStringList{"req", "-x509"} + ec + QStringList{"-keyout", d + "ca.key", "-out", d + "ca.crt",
                  "-days", "2", "-subj", "/CN=Ironvale Test CA"}, &error_))
        return false;
    if (!run(ssl, QStringList{"req"} + ec + QStringList{"-keyout", d + "server.key", "-out", d + "server.csr",
                  "-subj", "/CN=127.0.0.1"}, &error_))
        return false;
    if (!writeFile(d + "server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                     "basicConstraints=CA:FALSE\n"
                                     "extendedKeyUsage=serverAuth\n")) {
        error_ = "cannot write the certificate extensions";
        return false;
    }
    if (!run(ssl, {"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.crt", "-CAkey", d + "ca.key",
                   "-CAcreateserial", "-out", d + "server.crt", "-days", "2", "-extfile", d + "server.ext"},
             &error_))
        return false;
    caFile_ = d + "ca.crt";
    return true;
}

bool NginxServer::start(const QString& root, const Options& options)
{
    const QString d = dir_.path() + "/";
    port_ = freePort();
    QDir().mkpath(d + "tmp");
    QByteArray conf;
    conf += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    conf += "pid " + (d + "nginx.pid").toUtf8() + ";\n";
    conf += "error_log " + (d + "error.log").toUtf8() + " warn;\n";
    conf += "events { worker_connections 256; }\n";
    conf += "http {\n  sendfile on;\n  default_type application/octet-stream;\n";
    if (options.accessLog) {
        conf += "  log_format requests '$connection $server_protocol $request_uri $status $body_bytes_sent $http_cache_control';\n";
        conf += "  access_log " + (d + "access.log").toUtf8() + " requests;\n";
    } else {
        conf += "  access_log off;\n";
    }
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += QByteArray("  ") + t + "_temp_path " + (d + "tmp/" + t).toUtf8() + ";\n";
    conf += "  server {\n    listen 127.0.0.1:" + QByteArray::number(port_) + (tls_ ? " ssl" : "") +
            (tls_ && options.http2 ? " http2" : "") + ";\n";
    conf += "    server_name localhost;\n";
    conf += "    root " + QDir(root).absolutePath().toUtf8() + ";\n";
    if (tls_) {
        conf += "    ssl_certificate " + (d + "server.crt").toUtf8() + ";\n";
        conf += "    ssl_certificate_key " + (d + "server.key").toUtf8() + ";\n";
    }
    if (!options.limitRate.isEmpty())
        conf += "    limit_rate " + options.limitRate + ";\n";
    conf += options.extra;
    conf += "  }\n}\n";
    if (!writeFile(d + "nginx.conf", conf)) {
        error_ = "cannot write nginx.conf";
        return false;
    }

    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->start("/usr/sbin/nginx", {"-p", d, "-c", d + "nginx.conf", "-e", d + "error.log"});
    if (!process_->waitForStarted(5000)) {
        error_ = "nginx did not start: " + process_->errorString();
        return false;
    }
    // Ready once the port accepts connections; gone early means the configuration failed.
    for (int i = 0; i < 250; ++i) {
        if (process_->state() == QProcess::NotRunning)
            break;
        QTcpSocket probe;
        probe.connectToHost("127.0.0.1", port_);
        if (probe.waitForConnected(100))
            return true;
        QThread::msleep(20);
    }
    process_->kill();
    process_->waitForFinished(2000);
    QFile log(d + "error.log");
    log.open(QIODevice::ReadOnly);
    error_ = "nginx did not come up: " + QString::fromLocal8Bit(process_->readAll() + log.readAll());
    return false;
}
