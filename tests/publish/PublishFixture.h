#pragma once
// What the tests of renewel-publish share: running it (and other tools) as a process, snapshots
// of folders, the check a signed player makes of a site, a release with a key pair, and an SFTP
// origin (rclone) on loopback.

#include "NginxServer.h"
#include "ProcessRun.h"
#include "site/UpdateList.h"
#include "trust/Manifest.h"
#include "trust/Sha256.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace publishtest {

using RunResult = ProcessRun;

inline RunResult run(const QString& program, const QStringList& args, const QString& workDir = {},
                     const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    return runProcess(program, args, 60000, environment, workDir);
}

inline RunResult publish(const QStringList& args, const QString& workDir = {})
{
    return run(QStringLiteral(IV_BINARY_DIR "/publish/renewel-publish"), args, workDir);
}

// The non-empty lines of an output.
inline QList<QByteArray> lines(const QByteArray& out)
{
    QList<QByteArray> all = out.split('\n');
    all.removeAll(QByteArray());
    return all;
}

// Every file below a folder with its contents, for "nothing changed" checks.
inline QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString path = folder + '/' + name;
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink()) {
            const auto inner = snapshot(path);
            for (auto it = inner.begin(); it != inner.end(); ++it)
                files.insert(name + '/' + it.key(), it.value());
        } else {
            QFile file(path);
            files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>"));
        }
    }
    return files;
}

// What a signed player accepts: the list and sums verify with the key and every listed file on
// the site holds the bytes its sum names. The reason when not.
inline QString siteFault(const TempDir& dir, const QString& site)
{
    const auto read = [&](const QString& name) {
        QFile file(site + '/' + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    SignedListInput input{read("update.txt"), read("update.sums"), read("update.sums.minisig"),
                          dir.read("keys/demo.pub").split('\n').value(1), std::nullopt,
                          QDateTime::currentSecsSinceEpoch()};
    const ::Result<SignedList> verdict = checkSignedList(input);
    if (!verdict)
        return verdict.error();
    const UpdateListEntries list = UpdateListEntries::parse(input.updateList);
    QList<QByteArray> paths;
    for (const UpdateEntry& entry : list.entries)
        paths << entry.listed;
    if (const Status listed = checkListed(verdict->sums, paths); !listed)
        return listed.error();
    for (const UpdateEntry& entry : list.entries) {
        const ::Result<QByteArray> digest = sha256OfFile(entry.path.installPath(site));
        if (!digest || *digest != verdict->sums.digest(entry.listed))
            return QString::fromUtf8(entry.listed) + ": does not match its sum";
    }
    return {};
}

class Publish : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(dir.filePath("keys"));
        ASSERT_EQ(run("minisign", {"-G", "-W", "-p", dir.filePath("keys/demo.pub"), "-s", dir.filePath("keys/demo.key")})
                      .exitCode, 0);
        dir.write("release/readme.txt", "read me");
        dir.write("release/maps/forest.ivm", QByteArray(10520, 'f'));
        dir.write("release/maps/coast/harbour.ivm", "harbour");
        dir.write("release/a/x.txt", "x");
        dir.write("release/a-b.txt", "");
        dir.write("site/index.html", "<p>news</p>");
    }

    RunResult publishSigned(const QString& site = QStringLiteral("site"), const QByteArray& stopAt = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!stopAt.isEmpty())
            environment.insert("RENEWEL_PUBLISH_STOP_AT", stopAt);
        return run(QStringLiteral(IV_BINARY_DIR "/publish/renewel-publish"), {"release", site, "--key", "keys/demo.key"},
                   dir.path(), environment);
    }

    TempDir dir;
};

// "rclone serve KIND" on a free loopback port, serving the folder "origin" of dir, with the
// options args.
class RcloneServer {
public:
    RcloneServer(const TempDir& dir, const QString& kind, const QStringList& args) : root_(dir.filePath("origin"))
    {
        QDir().mkpath(root_);
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port_ = probe.serverPort();
        probe.close();
        server_.setProcessChannelMode(QProcess::MergedChannels);
        server_.start("rclone", QStringList{"serve", kind, root_, "--addr", QStringLiteral("127.0.0.1:%1").arg(port_)} + args);
        for (int i = 0; i < 100 && !ready_; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port_);
            ready_ = socket.waitForConnected(100);
            if (!ready_)
                QThread::msleep(50);
        }
    }
    ~RcloneServer()
    {
        server_.kill();
        server_.waitForFinished();
    }
    bool ready() const { return ready_; }
    qint64 pid() const { return server_.processId(); }
    quint16 port() const { return port_; }
    const QString& root() const { return root_; }

private:
    QString root_;
    quint16 port_ = 0;
    QProcess server_;
    bool ready_ = false;
};

// An SFTP origin, the remote "origin:" of the rclone configuration it writes.
class SftpServer : public RcloneServer {
public:
    explicit SftpServer(const TempDir& dir)
        : RcloneServer(dir, "sftp", {"--user", "studio", "--pass", "secret", "--cache-dir", dir.filePath("rclone-cache")})
    {
        const QByteArray obscured = run("rclone", {"obscure", "secret"}).out.trimmed();
        QFile config(dir.filePath("rclone.conf"));
        if (config.open(QIODevice::WriteOnly))
            config.write("[origin]\ntype = sftp\nhost = 127.0.0.1\nport = " + QByteArray::number(port())
                         + "\nuser = studio\npass = " + obscured + "\n");
        qputenv("RCLONE_CONFIG", QFile::encodeName(config.fileName()));
    }
};

}  // namespace publishtest
