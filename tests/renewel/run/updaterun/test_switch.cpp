// A release arrives whole: nothing installed changes before every changed file is staged, a
// switch cut off half-way is finished by the next run, and an update without room changes nothing.

#include "UpdateFixture.h"

#include "run/install/SwitchJournal.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>

#include <functional>

#include <sys/mount.h>

namespace {
constexpr int Files = 10;

QString name(int i) { return QStringLiteral("data/f%1.dat").arg(i); }
QByteArray listed(int i) { return QStringLiteral("\\data\\f%1.dat").arg(i).toLatin1(); }
QByteArray oldBytes(int i) { return "old " + QByteArray::number(i); }
QByteArray newBytes(int i, qint64 size) { return QByteArray(size, char('a' + i)); }

// The installation's files and contents, without renewel's own (temp/, renewel.*).
QMap<QString, QByteArray> installation(const QString& base)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(base, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(base).relativeFilePath(it.next());
        if (path.startsWith("temp/") || path.startsWith("renewel."))
            continue;
        QFile file(it.filePath());
        files[path] = file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable";
    }
    return files;
}
}  // namespace

TEST_F(UpdateFixture, ReleaseSwitchesWholeOrNotAtAll)
{
    const struct Case {
        const char* what;
        qint64 size;                                     // of each new file
        std::function<void()> prepare;                 // after the old release is installed
        const char* reason;                              // empty: the run completes
        bool switched;                                   // the new release is in afterwards
    } cases[] = {
        {"a 404 on the sixth of ten leaves the old release", 100,
         [this] { QFile::remove(site.filePath(name(5))); }, "HTTP 404", false},
        {"a journal of a switch cut off after three renames is finished first", 100,
         [this] {
             // As the switch leaves it: the journal on disk, three files renamed, seven staged.
             // The site has the list alone: what completes the release is the journal.
             SwitchJournal journal;
             for (int i = 0; i < Files; ++i) {
                 const QString staged = root.filePath(QStringLiteral("game/temp/staged%1").arg(i));
                 const QString target = root.filePath("game/" + name(i));
                 journal.moves << SwitchJournal::Move{listed(i), Sha256::hash(newBytes(i, 100)), staged, target};
                 root.write(i < 3 ? "game/" + name(i) : QStringLiteral("game/temp/staged%1").arg(i), newBytes(i, 100));
                 QFile::remove(site.filePath(name(i)));
             }
             install("gone.txt", "dropped");
             journal.dropped << "\\gone.txt";
             ASSERT_TRUE(journal.write(root.filePath("game/temp")));
         },
         "", true},
        {"a file system without room refuses with the figures", 600 * 1000,
         [this] {
             const QMap<QString, QByteArray> old = installation(programFolder);
             ASSERT_EQ(::mount("tmpfs", QFile::encodeName(programFolder).constData(), "tmpfs", 0, "size=2m"), 0)
                 << "needs root";
             for (auto it = old.begin(); it != old.end(); ++it)
                 root.write("game/" + it.key(), it.value());
         },
         "needs 6 MB, 2 MB free", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(programFolder).removeRecursively();
        for (int i = 0; i < Files; ++i) {
            install(name(i), oldBytes(i));
            publish(name(i), newBytes(i, c.size));
        }
        QList<QByteArray> lines;
        for (int i = 0; i < Files; ++i)
            lines << listed(i) << QByteArray::number(c.size);
        publishList(lines);
        QDir().mkpath(root.filePath("game/temp"));
        c.prepare();
        if (HasFatalFailure())
            return;
        const QMap<QString, QByteArray> before = installation(programFolder);
        const qsizetype seen = server.requests().size();

        const UpdateOutcome outcome = update();

        if (QByteArray(c.reason).isEmpty()) {
            EXPECT_EQ(outcome.kind, UpdateOutcome::Completed) << outcome.reason.toStdString();
        } else {
            EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
            EXPECT_TRUE(outcome.reason.contains(c.reason)) << outcome.reason.toStdString();
        }
        QMap<QString, QByteArray> expected = before;
        if (c.switched) {
            expected.remove("gone.txt");
            for (int i = 0; i < Files; ++i)
                expected[name(i)] = newBytes(i, c.size);
        }
        EXPECT_EQ(installation(programFolder), expected);
        EXPECT_FALSE(inTemp("switch.journal"));
        // Refused before anything was fetched; or the journal, not the site, completed the release.
        if (c.size > 1000 || c.switched) {
            for (const QByteArray& request : server.requests().mid(seen))
                EXPECT_TRUE(request.startsWith("GET /update.")) << request.left(40).toStdString();
        }
        ::umount2(QFile::encodeName(programFolder).constData(), MNT_DETACH);
    }
}
