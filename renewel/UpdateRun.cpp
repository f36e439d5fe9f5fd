#include "UpdateRun.h"

#include "Exception.h"
#include "HTTPGet.h"
#include "InstallFile.h"
#include "ListedPath.h"
#include "QuietMode.h"
#include "Text.h"
#include "UpdateHost.h"
#include "UpdateList.h"
#include "langSys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

// Clears the in-progress flag on every way out of a run, exceptions included.
class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& flag_;
};
}  // namespace

qint64 LocalFileSize(const QString& path)
{
    QFile file(path);
    // ExistingOnly: never create the file just to learn its size.
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return 0;
    return file.size();
}

bool EnsureFolder(const QString& folder)
{
    QString dir = folder;
    if (!dir.isEmpty() && isSeparator(dir.back()))
        dir.chop(1);
    if (dir.size() < 3 || QFileInfo(dir).isDir())
        return true;
    // A text with no name after its last separator or drive colon names no folder to create.
    const qsizetype cut = std::max({dir.lastIndexOf(QLatin1Char('\\')), dir.lastIndexOf(QLatin1Char('/')),
                                    dir.lastIndexOf(QLatin1Char(':'))});
    if (cut == dir.size() - 1)
        return true;
    return QDir().mkpath(dir) && QFileInfo(dir).isDir();
}

QString StripTrailingBackslash(const QString& path)
{
    if (path.endsWith(QLatin1Char('\\')))
        return path.chopped(1);
    return path;
}

QString InstallBase(const QString& programFolder)
{
    if (!programFolder.isEmpty() && isSeparator(programFolder.back()))
        return programFolder.chopped(1);
    return programFolder;
}

QString DownloadFolder(const QString& programFolder)
{
    return InstallBase(programFolder) + QDir::separator() + QStringLiteral("temp");
}

TUpdateRun::TUpdateRun(UpdateHost& host, QString programFolder)
    : host_(host), programFolder_(std::move(programFolder))
{
}

void TUpdateRun::stopAfterFailure()
{
    // Ends the run like a failed download: the window's error event would have shown "Error"
    // (unless quiet); the list and the downloads stay in the download folder, no "Done".
    if (!QuietMode)
        host_.ShowMessage(Translate("Error"));
    host_.Terminate();
}

void TUpdateRun::UpdateRun()
{
    if (running_)
        return;
    RunningFlag flag(running_);

    const QString downloadFolder = DownloadFolder(programFolder_);
    const QByteArray updateSite = Translate("UpdateSite");
    if (!QFileInfo(downloadFolder).isDir() && !QDir().mkdir(downloadFolder) && !QuietMode)
        throw Exception(displayText(Translate("Error")));

    THTTPGet& getFile = host_.GetFile();
    const QString listFile = downloadFolder + QDir::separator() + QStringLiteral("update.txt");
    getFile.URL = QString::fromLatin1(updateSite + "update.txt");
    getFile.FileName = listFile;
    host_.SetStatus(Translate("STatus2") + " update.txt ...");
    host_.ProcessMessages();
    getFile.Fetch();
    host_.SetStatus(Translate("STatus3"));

    const QString installBase = InstallBase(programFolder_);
    if (!getFile.Succeeded() || !QFileInfo::exists(listFile)) {
        // The error event has reported the failure; this only keeps "Done" from showing.
        QuietMode = true;
    } else {
        ReadUpdateList(listFile, UpdateList);
        const qsizetype count = UpdateList.size();
        host_.SetOverallPosition(0);
        host_.SetOverallMax(int(count));
        for (qsizetype i = 0; i + 1 < count; i += 2) {
            host_.SetStatus(Translate("STatus2") + ' ' + UpdateList[i] + " ... [" + QByteArray::number(i / 2) +
                            '\\' + QByteArray::number(count / 2) + ']');
            host_.SetOverallPosition(int(i));
            host_.ProcessMessages();

            const qint64 listedSize = StrToInt64(UpdateList[i + 1]);
            const ListedPath path(UpdateList[i]);
            if (!path.isSafe()) {
                stopAfterFailure();
                return;
            }
            const QString target = path.installPath(installBase);
            if (LocalFileSize(target) == listedSize)
                continue;

            const QString downloaded = downloadFolder + QDir::separator() + path.fileName();
            getFile.URL = path.url(updateSite);
            getFile.FileName = downloaded;
            host_.ProcessMessages();
            getFile.Fetch();
            if (!getFile.Succeeded()) {
                // The error event has reported it; its request to end was consumed by the wait.
                host_.Terminate();
                return;
            }
            EnsureFolder(path.installFolder(installBase));
            if (!InstallFile(downloaded, target)) {
                stopAfterFailure();
                return;
            }
            QFile::remove(downloaded);
        }
        if (QFileInfo::exists(listFile))
            QFile::remove(listFile);
    }
    QDir().rmdir(downloadFolder);
    if (!QuietMode)
        host_.ShowMessage(Translate("Done"));
    host_.Terminate();
}
