#pragma once
// The update run's lists: update.txt, and with it update.sums and its signature. With the
// studio's key (UpdateKey) a list is believed only when the signed checksum list vouches for it,
// and only then is its format read; without a key, a checksum list the site has is still used to
// check the downloads (a missing or broken one is then ignored). The three are fetched together:
// update.txt through the window's download component (its own wait), the others on the run's
// download queue, each reporting its end. With a key, the lists may come from any mirror, since
// the signature vouches for them: a source whose lists can't be fetched or are refused is dropped
// and the next one asked. Without a key only the update site's lists are believed.
//
// With a key, the signed head (update.head) is asked for first, conditionally on the validator of
// the head kept from the last complete run: a 304, or a head naming the same lists, ends the
// intake with `current` set and nothing else fetched. A changed head is believed only when its
// signature holds, and the lists are then accepted only when they are the ones it names. Each
// source is asked for its head before its lists, so a run whose site is down checks a mirror's
// lists against the mirror's head. A site without a head is read as before.

#include "run/plan/RunFolders.h"
#include "run/plan/UpdateOptions.h"
#include "net/DownloadQueue.h"
#include "site/Sums.h"
#include "site/UpdateList.h"
#include "trust/KeptHead.h"
#include "trust/SignedHead.h"

#include "Result.h"

#include <QObject>

#include <functional>
#include <optional>

class RunReport;
class THTTPGet;
class UpdateHost;

class ListIntake : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(Status)>;

    ListIntake(DownloadQueue& queue, THTTPGet& getFile, UpdateHost& host, RunReport& report, const RunFolders& folders,
               const UpdateOptions& options);

    // Fetches and accepts the lists; done runs once, later. A failure has been reported.
    void start(Done done);
    // Stops waiting: done is not called any more.
    void stop() { done_ = nullptr; }

    // After a complete run: keeps the head the lists came with, if any, for the next run.
    Status keepHead();

    // What was accepted (the list also when its format was refused).
    UpdateListEntries list;
    std::optional<Sums> sums;
    bool current = false;  // the site's head names the release installed: there is nothing to do
    // The installed-state record names the installed files; without it (missing or damaged) the
    // kept head is not believed either, and the files are compared anew.
    bool recordHeld = true;
    // The signed list's timestamp, for the stamp the switch writes once the release is in.
    std::optional<qint64> acceptedStamp;

private:
    struct Small {
        bool pending = false;
        std::optional<QByteArray> bytes;
        QString why;
    };
    void fetchHead();
    void askHead(int source);
    std::optional<KeptHead> keptHead(std::optional<qint64> stamp) const;
    void headArrived(const DownloadQueue::Outcome& outcome);
    void upToDate(std::optional<qint64> timestamp);
    void fetchLists(int source);
    void fetchFrom(int source);
    void startSmall(Small& small, const QString& name, qint64 maxSize);
    DownloadQueue::Fetch smallFetch(const QString& name, qint64 maxSize) const;
    void smallArrived();
    Status accept();
    Status acceptSigned();
    Status acceptUnsigned();
    Status readEntries(bool refuseMalformed);
    Status refuse(const QString& subject, const QString& reason);
    void end(Status status);
    QString siteUrl(const QString& name) const;

    DownloadQueue& queue_;
    THTTPGet& getFile_;
    UpdateHost& host_;
    RunReport& report_;
    const RunFolders& folders_;
    const UpdateOptions& options_;
    Done done_;
    int source_ = 0;           // the source the lists are being taken from
    bool fallback_ = false;    // a refused list goes on to the next source
    bool headFirst_ = false;   // each source is asked for its head before its lists
    std::optional<QString> refused_;
    bool listEnded_ = false;               // the download component is done with update.txt
    std::optional<QByteArray> listBytes_;  // update.txt, once fetched
    QString listWhy_;                      // why it was not
    Small sums_, signature_;
    std::optional<qint64> stamp_;        // the stored timestamp, when the head was asked for
    std::optional<KeptHead> kept_;       // the head of the installed release, still believed
    std::optional<SignedHead> head_;     // the site's head, believed: the lists must be its
    std::optional<KeptHead> arrived_;    // that head as it came, to keep after a complete run
};
