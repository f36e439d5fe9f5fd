#include "verify/VerifySite.h"

#include "common/SiteFileReading.h"
#include "verify/VerifyChunks.h"
#include "verify/VerifyHead.h"
#include "verify/VerifyPatches.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "site/UpdateList.h"
#include "trust/Manifest.h"
#include "trust/Sha256.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

// The site's lists and the key are small; a file far larger is not one of them.
constexpr qint64 MaxListSize = qint64(1) << 30;

class Checker {
public:
    Checker(const QString& siteDir, ProgressMeter& progress) : site_(siteDir), progress_(progress) {}

    SiteCheck run(const QString& publicKeyFile, qint64 now)
    {
        const std::optional<QByteArray> list = need(SiteFile::List);
        const std::optional<QByteArray> sumsText = need(SiteFile::Sums);
        if (!list || !sumsText)
            return check_;
        const Result<Sums> sums = Sums::parse(*sumsText);
        if (!sums) {
            problem(SiteFile::Sums, sums.error());
            return check_;
        }
        HeadCheckInput head{site_, *list, *sumsText, std::nullopt, std::nullopt, now};
        if (!publicKeyFile.isEmpty())
            checkSignature(*list, *sumsText, publicKeyFile, head);
        else if (sums->digest(SiteFile::List.toLatin1()) != Sha256::hash(*list))
            problem(SiteFile::List, QStringLiteral("does not match its checksum in update.sums"));
        checkHead(head, check_);
        const UpdateListEntries parsed = UpdateListEntries::parse(*list);
        checkFiles(parsed, *sums);
        checkChunkStore(site_, parsed, *sums, check_, progress_);
        checkPatches(site_, parsed, *sums, check_);
        return check_;
    }

private:
    void problem(const QString& name, const QString& reason) { problemAt(QFile::encodeName(site_ + '/' + name), reason); }
    void problemAt(const QByteArray& subject, const QString& reason) { check_.problems.append({subject, reason}); }

    std::optional<QByteArray> need(const QString& name)
    {
        Result<QByteArray> bytes = readSiteFile(site_ + '/' + name, MaxListSize);
        if (bytes)
            return std::move(bytes).value();
        const QString notRegular = QStringLiteral("not a regular file");
        problem(name, bytes.error() == notRegular ? notRegular : QStringLiteral("missing or unreadable"));
        return std::nullopt;
    }

    // The lists' signature; when it holds, the key and the signed timestamp go to the head's check
    // (a wrong key is named once, for the lists).
    void checkSignature(const QByteArray& list, const QByteArray& sums, const QString& publicKeyFile,
                        HeadCheckInput& head)
    {
        const Result<QByteArray> pub = readSiteFile(publicKeyFile, MaxListSize);
        if (!pub) {
            problemAt(QFile::encodeName(publicKeyFile), QStringLiteral("no readable public key file"));
            return;
        }
        const QByteArray keyLine = pub->split('\n').value(1).trimmed();
        const std::optional<QByteArray> signature = need(SiteFile::Signature);
        if (!signature)
            return;
        const SignedListInput input{list, sums, *signature, keyLine, std::nullopt, head.now};
        const Result<SignedList> verdict = checkSignedList(input);
        if (!verdict)
            return problem(SiteFile::Signature, verdict.error());
        head.keyLine = keyLine;
        head.listTimestamp = verdict->timestamp;
    }

    void checkFiles(const UpdateListEntries& list, const Sums& sums)
    {
        if (list.problem.kind != ListProblem::None)
            problem(SiteFile::List, list.problem.subject + QStringLiteral(": ") + list.problem.reason);
        qint64 total = 0;
        for (const UpdateEntry& entry : list.entries)
            total += entry.size;
        ProgressMeter::Phase progress(progress_, int(list.entries.size()), total);
        for (const UpdateEntry& entry : list.entries) {
            checkFile(entry, sums);
            progress.advance(entry.size);
        }
    }

    void checkFile(const UpdateEntry& entry, const Sums& sums)
    {
        const QString path = entry.path.installPath(site_);
        const QByteArray subject = QFile::encodeName(path);
        ++check_.files;
        const QFileInfo info(path);
        if (!info.exists())
            return problemAt(subject, QStringLiteral("missing"));
        if (!info.isFile())
            return problemAt(subject, QStringLiteral("not a regular file"));
        check_.bytes += info.size();
        if (info.size() != entry.size)
            return problemAt(subject, QStringLiteral("%1 bytes, the list says %2").arg(info.size()).arg(entry.size));
        const std::optional<QByteArray> expected = sums.digest(entry.listed);
        if (!expected)
            return problemAt(subject, QStringLiteral("no checksum in update.sums"));
        const Result<QByteArray> digest = sha256OfFile(path);
        if (!digest)
            return problemAt(subject, digest.error());
        if (*digest != *expected)
            problemAt(subject, QStringLiteral("does not match its checksum in update.sums"));
    }

    QString site_;
    ProgressMeter& progress_;
    SiteCheck check_;
};

}  // namespace

SiteCheck verifySite(const QString& siteDir, const QString& publicKeyFile, qint64 now, ProgressMeter& progress)
{
    return Checker(siteDir, progress).run(publicKeyFile, now);
}
