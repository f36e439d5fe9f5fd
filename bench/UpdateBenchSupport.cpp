#include "UpdateBenchSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

QByteArray pattern(qint64 size, int seed)
{
    QByteArray b(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        b[i] = char((i * 7 + seed * 131 + (i >> 8)) & 0xff);
    return b;
}

Timed finish(QProcess& p, const QElapsedTimer& clock, const QString& what, int timeoutSeconds)
{
    Timed t;
    const bool ended = p.waitForFinished(timeoutSeconds * 1000);
    t.seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!ended) {
        p.kill();
        p.waitForFinished();
        t.why = what + " did not end within " + QString::number(timeoutSeconds) + " s";
        t.timedOut = true;
    } else if (p.exitStatus() != QProcess::NormalExit) {
        t.why = what + " crashed";
    } else if (p.exitCode() != 0) {
        t.why = what + " ended with status " + QString::number(p.exitCode());
    } else {
        t.ok = true;
    }
    return t;
}

}  // namespace

QList<ListedFile> numberedFiles(int count, qint64 size)
{
    QList<ListedFile> files;
    files.reserve(count);
    for (int i = 0; i < count; ++i)
        files.append({"\\data\\d" + QByteArray::number(i / 1000) + "\\f" +
                          QByteArray::number(i).rightJustified(6, '0') + ".bin",
                      size});
    return files;
}

QString relativePath(const QByteArray& listed) { return QString::fromLatin1(listed.mid(1)).replace('\\', '/'); }

void writeSite(const QString& folder, const QList<ListedFile>& files, bool withFiles)
{
    QByteArray list = "Ironvale 3D update list\r\n";
    list.reserve(files.size() * 32);
    for (qsizetype i = 0; i < files.size(); ++i) {
        list += files[i].listed + "\r\n" + QByteArray::number(files[i].size) + "\r\n";
        if (withFiles)
            writeFile(folder + '/' + relativePath(files[i].listed), pattern(files[i].size, int(i)));
    }
    writeFile(folder + "/update.txt", list);
}

void writeLinkedFiles(const QString& folder, const QList<ListedFile>& files)
{
    // One file of each size beside the folder, each listed file a hard link to one of them:
    // linking costs a tenth of creating and sizing a file, which matters for 200,000 of them.
    const QString originals = folder + ".sizes";
    QDir().mkpath(originals);
    QString lastFolder;
    for (const ListedFile& f : files) {
        const QByteArray original = QFile::encodeName(originals + '/' + QString::number(f.size));
        if (!QFileInfo::exists(QString::fromLocal8Bit(original))) {
            const int fd = ::open(original.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::ftruncate(fd, f.size) != 0)
                throw std::runtime_error("cannot create " + original.toStdString());
            ::close(fd);
        }
        const QString path = folder + '/' + relativePath(f.listed);
        const QString parent = QFileInfo(path).path();
        if (parent != lastFolder) {
            QDir().mkpath(parent);
            lastFolder = parent;
        }
        if (::link(original.constData(), QFile::encodeName(path).constData()) != 0)
            throw std::runtime_error("cannot create " + path.toStdString());
    }
}

int incompleteFiles(const QString& folder, const QList<ListedFile>& files)
{
    int n = 0;
    for (const ListedFile& f : files) {
        const QFileInfo info(folder + '/' + relativePath(f.listed));
        n += info.isFile() && info.size() == f.size ? 0 : 1;
    }
    return n;
}

void prepareInstallation(const QString& folder, const QString& siteUrl)
{
    const QString program = QStringLiteral(IV_BINARY_DIR "/renewel/renewel");
    QDir().mkpath(folder);
    QFile::remove(folder + "/renewel");
    if (!QFile::copy(program, folder + "/renewel"))
        throw std::runtime_error("cannot copy " + program.toStdString());
    const QByteArray site = siteUrl.toLatin1();
    writeFile(folder + "/renewel.lng",
              "#updatetitle Ironvale 3D Update\r\n#Update Update\r\n#status1 Ready\r\n#panel Updating\r\n"
              "#UpdateSite " + site + "\r\n#UpdateIndex " + site + "index.html\r\n#STatus2 Downloading\r\n"
              "#STatus3 Update list received.\r\n#Error Error\r\n#Done Done\r\n");
}

Timed runRenewel(const QString& installFolder, const QString& log, int timeoutSeconds, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(installFolder);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(log);
    QElapsedTimer clock;
    clock.start();
    p.start(installFolder + "/renewel", args);
    return finish(p, clock, "renewel " + args.join(' '), timeoutSeconds);
}

Timed runTool(const QString& program, const QStringList& args, const QString& log, const QString& workingFolder,
              int timeoutSeconds)
{
    QProcess p;
    if (!workingFolder.isEmpty())
        p.setWorkingDirectory(workingFolder);
    p.setStandardOutputFile(log);
    p.setStandardErrorFile(log, QIODevice::Append);
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    return finish(p, clock, QFileInfo(program).fileName(), timeoutSeconds);
}

Timed bestOf(const std::function<Timed()>& run, int* runs, double budget)
{
    Timed best;
    double spent = 0;
    *runs = 0;
    for (;;) {
        const Timed t = run();
        ++*runs;
        spent += t.seconds;
        if (!t.ok)
            return t;
        if (!best.ok || t.seconds < best.seconds)
            best = t;
        // Another run only while it would still fit in the budget.
        if (*runs == 3 || spent + t.seconds > budget)
            break;
    }
    return best;
}

QByteArray aria2List(const QString& siteUrl, const QList<ListedFile>& files)
{
    QByteArray list;
    for (const ListedFile& f : files)
        list += siteUrl.toLatin1() + relativePath(f.listed).toLatin1() + "\n  out=" +
                relativePath(f.listed).toLatin1() + "\n";
    return list;
}

QByteArray curlConfig(const QString& siteUrl, const QList<ListedFile>& files, const QString& outFolder)
{
    QByteArray config;
    for (const ListedFile& f : files)
        config += "url = \"" + siteUrl.toLatin1() + relativePath(f.listed).toLatin1() + "\"\noutput = \"" +
                  QFile::encodeName(outFolder + '/' + relativePath(f.listed)) + "\"\n";
    return config;
}
