#include "run/CheckCommand.h"

#include "net/HTTPGet.h"
#include "run/report/FailureLine.h"
#include "SafeText.h"
#include "run/install/UpdateFiles.h"
#include "run/install/UpdateRoom.h"
#include "run/report/UpdateHost.h"
#include "run/UpdateRun.h"
#include "run/lang/langSys.h"
#include "site/SiteFiles.h"
#include "platform/StopSignals.h"

#include <QCoreApplication>

namespace {
// A check reports nothing while it works.
class SilentHost : public UpdateHost {
public:
    void listStageReached(ListStage) override {}
    void listRead(qsizetype) override {}
    void entryReached(qsizetype, qsizetype, const QByteArray&) override {}
    void fileProgress(qint64, qint64) override {}
};

void print(std::FILE* out, const QByteArray& line) { std::fwrite(line.constData(), 1, size_t(line.size()), out); }

// "update due: 9 to fetch (170 KB to download, 104.9 MB installed), 2 to delete"
QByteArray dueLine(const UpdatePlan& plan)
{
    return "update due: " + QByteArray::number(plan.fetch.size()) + " to fetch (" + ReadableBytes(plan.download) +
           " to download, " + ReadableBytes(plan.bytes) + " installed), " + QByteArray::number(plan.remove.size()) +
           " to delete" +
           (plan.modes.isEmpty() ? QByteArray() : ", " + QByteArray::number(plan.modes.size()) + " to change mode") + '\n';
}
}  // namespace

QByteArray ReadableBytes(qint64 bytes)
{
    if (bytes < 1000)
        return QByteArray::number(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes < 999'500)  // else it would round to 1000 KB
        return QByteArray::number((bytes + 500) / 1000) + " KB";
    const char* units[] = {"MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes) / 1e6;
    int unit = 0;
    while (value >= 999.95 && unit < 4) {
        value /= 1000;
        ++unit;
    }
    return QByteArray::number(value, 'f', 1) + ' ' + units[unit];
}

int RunCheck(const QString& programFolder, std::FILE* out)
{
    if (!LoadLanguageFile(LanguageFilePath(programFolder))) {
        PrintFailure(InstallationFile::Language, QStringLiteral("the language file could not be read"));
        return 1;
    }
    THTTPGet getFile;  // set up as the update window's
    getFile.AcceptTypes = "*/*";
    getFile.Agent = "Quillnet HTTPGet";
    getFile.BinaryData = true;
    getFile.UseCache = false;
    getFile.WaitThread = true;
    SilentHost host;
    UpdateOptions options{true, &LanguageTable(), programFolder};
    options.Settings = UpdateSettings::fromTable(LanguageTable());
    options.CheckOnly = true;
    UpdateRun run(host, getFile, options);
    QObject::connect(&run, &UpdateRun::finished, QCoreApplication::instance(), &QCoreApplication::quit,
                     Qt::QueuedConnection);
    StopSignals stopSignals;  // SIGINT, SIGTERM, SIGHUP: the check ends as cancelled
    QObject::connect(&stopSignals, &StopSignals::received, &run, &UpdateRun::cancel);
    run.start();
    QCoreApplication::exec();
    const UpdateOutcome outcome = run.outcome();
    if (outcome.kind != UpdateOutcome::Completed)
        return ExitStatus(outcome);
    for (const UpdateEntry& entry : run.Plan.fetch)
        print(out, "fetch " + SafeText(entry.listed) + ' ' + QByteArray::number(entry.size) + '\n');
    for (const QByteArray& listed : run.Plan.remove)
        print(out, "delete " + SafeText(listed) + '\n');
    for (const ModeChange& change : run.Plan.modes)
        print(out, "mode " + SafeText(change.listed) + (change.executable ? " +x\n" : " -x\n"));
    const bool due = !run.Plan.fetch.isEmpty() || !run.Plan.remove.isEmpty() || !run.Plan.modes.isEmpty();
    print(out, due ? dueLine(run.Plan) : QByteArray("up to date\n"));
    if (!run.Plan.fetch.isEmpty() && run.Plan.free >= 0)
        print(out, "space needed: " + UpdateRoom{run.Plan.needed, run.Plan.free}.figures() + '\n');
    std::fflush(out);
    return due ? UpdateDueStatus : 0;
}
