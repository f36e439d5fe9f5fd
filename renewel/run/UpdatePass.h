#pragma once
// One update run's state and steps (used by UpdateRun only). A step that settles the outcome
// unwinds the pass with Stop.

#include "net/DownloadQueue.h"
#include "run/EntryCheck.h"
#include "run/InstallFile.h"
#include "platform/InstallationLock.h"
#include "run/InstalledState.h"
#include "run/UpdateOptions.h"
#include "run/UpdateOutcome.h"
#include "net/DownloadQueue.h"
#include "net/SiteSources.h"
#include "site/Sums.h"
#include "site/UpdateList.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class ChunkUpdate;
class THTTPGet;
class UpdateHost;

class UpdatePass {
public:
    struct Stop {};

    UpdatePass(UpdateListEntries& list, UpdatePlan& plan, const UpdateOptions& options, UpdateHost& host, THTTPGet& getFile, bool& cancelled,
               UpdateOutcome& outcome, DownloadQueue*& queueSlot);
    ~UpdatePass();

    void Run();

private:
    // UpdatePassList.cpp: the list, its checksums and signature.
    struct ListRefused {
        QString reason;
    };
    void takeList();
    [[noreturn]] void refuseList(const QString& subject, const QString& reason);
    void awaitSmallLeft();
    QByteArray fetchList();
    void acceptList(const QByteArray& listBytes);
    void acceptSigned(const QByteArray& listBytes);
    void acceptUnsigned(const QByteArray& listBytes);
    void readEntries(const QByteArray& listBytes, bool refuseMalformed);
    void startSmall(qsizetype key, const QString& name, qint64 maxSize);
    std::optional<QByteArray> awaitSmall(qsizetype key, QString* why);

    // UpdatePass.cpp: the entries.
    void claimInstallation();
    void makeDownloadFolder();
    void startCheck();
    void startChunks();
    void startQueue();
    void stopQueue();
    void fill();
    void planOnly();
    QString downloadName(const UpdateEntry& entry) const;
    DownloadQueue::Job entryJob(const UpdateEntry& entry, int source) const;
    void handleEntry(qsizetype i);
    DownloadQueue::Job awaitEntry(qsizetype i, const UpdateEntry& entry);
    QString problemWith(const DownloadQueue::Job& job, const UpdateEntry& entry) const;
    void install(const UpdateEntry& entry, const QString& downloaded, const QByteArray& digest);
    void noteMadeFolders(const QByteArray& listed);
    // UpdatePassState.cpp: the installed-state record and dropped files.
    QList<QByteArray> droppedFiles();
    void removeDropped(const QList<QByteArray>& dropped);
    void saveState(bool completed);
    void finish();

    bool download(const QString& url, const QString& file, qint64 maxSize);
    QString tempFile(const QString& name) const;
    QString siteUrl(const QString& name) const;
    std::optional<QByteArray> listedDigest(const QByteArray& listed) const;
    QByteArray text(const char* key) const;
    void checkCancelled();
    [[noreturn]] void fail(const QString& subject, const QString& reason);
    [[noreturn]] void report(const QString& subject, const QString& message);
    void settle(const QString& subject, const QString& reason);

    UpdateListEntries& list_;
    UpdatePlan& plan_;
    const UpdateOptions& options_;
    UpdateHost& host_;
    THTTPGet& getFile_;
    bool& cancelled_;
    UpdateOutcome& outcome_;
    DownloadQueue*& queueSlot_;
    const QString programFolder_;
    QTemporaryDir checkFolder_;  // the lists' download folder of a check, outside the installation
    const QString downloadFolder_;
    const QString installBase_;
    InstallationLock lock_;
    bool locked_ = false;
    bool stateSaved_ = false;
    InstalledState state_;
    std::unique_ptr<EntryCheck> check_;
    InstallLeftovers leftovers_;
    QElapsedTimer shown_;
    std::optional<Sums> sums_;
    std::unique_ptr<DownloadQueue> queue_;
    SiteSources sources_;     // the update site and its mirrors
    int listSource_ = 0;      // the source the lists are being taken from
    bool listFallback_ = false;  // a refused list goes on to the next source
    std::unique_ptr<ChunkUpdate> chunks_;  // where update.sums is there
    qsizetype scan_ = 0;     // the next entry fill() decides on
    bool filling_ = false;   // fill() is waiting for a local hash; a nested call returns at once
    QSet<QString> touched_;  // folders that files were renamed into
};
