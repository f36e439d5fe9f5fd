// Signed time and earlier releases: a release signed on a machine whose clock ran ahead never
// locks players out of the next one, and rollback publishes a kept release again, signed anew,
// while its old signature, replayed, stays refused.

#include "PublishFixture.h"
#include "common/PublishError.h"
#include "release/Publish.h"
#include "release/Rollback.h"
#include "site/TrustedFields.h"

#include <QFileInfo>

#include <optional>

namespace {

using namespace publishtest;

class SignedReleases : public Publish {
protected:
    // What a player holding the stamp says of the lists in folder: empty when it takes them.
    QString verdict(const QString& folder, std::optional<qint64> stamp)
    {
        const auto read = [&](const char* name) { return dir.read(folder + '/' + name); };
        const SignedListInput input{read("update.txt"), read("update.sums"), read("update.sums.minisig"),
                                    dir.read("keys/demo.pub").split('\n').value(1), stamp,
                                    QDateTime::currentSecsSinceEpoch()};
        const ::Result<SignedList> accepted = checkSignedList(input);
        return accepted ? QString() : accepted.error();
    }

    // The second the site's head was last modified: what a server's validator is made of.
    qint64 headSecond() { return QFileInfo(dir.filePath("site/update.head")).lastModified().toSecsSinceEpoch(); }

    qint64 timestampOf(const QString& folder)
    {
        const QByteArray comment = dir.read(folder + "/update.sums.minisig").split('\n').value(2);
        return TrustedFields::parse(comment.mid(comment.indexOf(':') + 2)).value().timestamp.value_or(0);
    }

    PublishOptions options(qint64 now)
    {
        return {dir.filePath("release"), dir.filePath("site"), dir.filePath("keys/demo.key"), {}, 0, now};
    }
};

TEST_F(SignedReleases, AClockThatRanAheadNeverLocksPlayersOutOfTheNextRelease)
{
    // faketime preloads its library before the sanitizer build's runtime, which that build then
    // accepts only when told to.
    const QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", sanitizer + (sanitizer.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    const RunResult ahead = run("faketime", {"-f", "+2d", IV_BINARY_DIR "/publish/renewel-publish", "release", "site",
                                             "--key", "keys/demo.key"}, dir.path());
    qputenv("ASAN_OPTIONS", sanitizer);
    ASSERT_EQ(ahead.exitCode, 0) << ahead.err.toStdString();
    const qint64 installed = timestampOf("site");
    EXPECT_GT(installed, QDateTime::currentSecsSinceEpoch() + 86400);

    dir.write("release/readme.txt", "next");
    const RunResult next = publishSigned();
    ASSERT_EQ(next.exitCode, 0) << next.err.toStdString();
    EXPECT_TRUE(next.out.contains("seconds behind the site's last signature; signed as ")) << next.out.toStdString();
    EXPECT_EQ(timestampOf("site"), installed + 1);
    EXPECT_EQ(verdict("site", installed), QString());
}

TEST_F(SignedReleases, RollbackPublishesAKeptReleaseAgainSignedAnewAndItsOldSignatureStaysRefused)
{
    const qint64 start = QDateTime::currentSecsSinceEpoch();
    publishRelease(options(start));
    dir.write("replay/update.txt", dir.read("site/update.txt"));
    dir.write("replay/update.sums", dir.read("site/update.sums"));
    dir.write("replay/update.sums.minisig", dir.read("site/update.sums.minisig"));
    // Heads of one size written within a second still differ in time, so their validators do.
    QList<qint64> heads = {headSecond()};
    for (const char* content : {"second", "third"}) {
        dir.write("release/readme.txt", content);
        publishRelease(options(timestampOf("site") + 10));
        heads << headSecond();
    }
    const qint64 third = timestampOf("site");

    QList<KeptRelease> kept = keptReleasesOf(dir.filePath("site"));
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept[1].published, start);
    EXPECT_EQ(kept[1].files, 5);
    EXPECT_TRUE(kept[1].isSigned);

    // Signed one second after the site's last signature, as this clock is behind it.
    const RollbackSummary back = rollBack({dir.filePath("site"), kept[1].name, dir.filePath("keys/demo.key"), {}, 0, start});
    EXPECT_EQ(back.signedAt, third + 1);
    EXPECT_EQ(back.clockBehindBy, third + 1 - start);
    heads << headSecond();
    for (qsizetype i = 1; i < heads.size(); ++i)
        EXPECT_GT(heads[i], heads[i - 1]) << "head " << i;
    EXPECT_EQ(dir.read("site/update.txt"), dir.read("replay/update.txt"));
    EXPECT_EQ(dir.read("site/readme.txt"), "read me");
    EXPECT_EQ(siteFault(dir, dir.filePath("site")), QString());
    EXPECT_EQ(verdict("site", third), QString()) << "a player on the third release goes back by a normal update";
    EXPECT_TRUE(verdict("replay", third + 1).contains("replayed")) << "the old signature stays refused";
    EXPECT_EQ(keptReleasesOf(dir.filePath("site")).size(), 3) << "the third release kept in turn";

    try {
        rollBack({dir.filePath("site"), kept[0].name, {}, {}, 0, start});
        ADD_FAILURE() << "a signed release went back unsigned";
    } catch (const PublishError& error) {
        EXPECT_TRUE(error.reason.contains("give --key")) << error.reason.toStdString();
    }

    // Past the releases kept, the oldest is no longer offered: the next run removes it.
    publishRelease(options(back.signedAt + 10));
    kept = keptReleasesOf(dir.filePath("site"));
    EXPECT_EQ(kept.size(), 3);
    EXPECT_EQ(kept.last().published, timestampOf("replay") + 10);
}

}  // namespace
