// What renewel keeps in the program folder (renewel.state, renewel.chunks/) is read only from
// regular files of its own: a pipe, a device or a link at a name is ignored (never waited on,
// never read without end), and a renewel.chunks that leads elsewhere is never written or emptied.

#include "TempDir.h"

#include "run/install/InstalledChunks.h"
#include "run/install/InstalledState.h"
#include "site/SiteFiles.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace {

ChunkIndex sampleIndex()
{
    ChunkIndex index;
    index.params = ChunkParams::forAverage(4096);
    index.fileSize = 1500;
    index.fileHash = Sha256::hash("file");
    index.chunks.append({Sha256::hash("chunk"), 1500, 700});
    return index;
}

QString hexName(const QByteArray& hash) { return QString::fromLatin1(hash.toHex()); }

// Puts something other than a regular file of its own at path; the file that was there moves aside.
using Replacement = std::function<void(const QString& path, const QString& aside)>;

}  // namespace

TEST(InstallRecords, OnlyRegularFilesAreRead)
{
    const QByteArray listed = "\\data\\a.dat";
    const ChunkIndex index = sampleIndex();
    const struct {
        const char* what;
        Replacement replace;
        bool found;
    } replacements[] = {
        {"the regular file", [](const QString&, const QString&) {}, true},
        {"a pipe", [](const QString& p, const QString&) {
             QFile::remove(p);
             ::mkfifo(QFile::encodeName(p).constData(), 0600);
         }, false},
        {"a link to /dev/zero", [](const QString& p, const QString&) {
             QFile::remove(p);
             QFile::link("/dev/zero", p);
         }, false},
        {"a link to a pipe", [](const QString& p, const QString& aside) {
             QFile::remove(p);
             ::mkfifo(QFile::encodeName(aside + ".pipe").constData(), 0600);
             QFile::link(aside + ".pipe", p);
         }, false},
        {"a link to the same bytes elsewhere", [](const QString& p, const QString& aside) {
             QFile::rename(p, aside);
             QFile::link(aside, p);
         }, false},
        {"a folder", [](const QString& p, const QString&) {
             QFile::remove(p);
             QDir().mkdir(p);
         }, false},
    };
    for (const auto& r : replacements) {
        SCOPED_TRACE(r.what);
        TempDir dir;
        const QString program = dir.filePath("game");
        QDir().mkpath(program);
        InstalledState state;
        state.record(listed, {1500, 1, 0, 2, 3}, index.fileHash);
        ASSERT_TRUE(state.write(program, program));
        InstalledChunks(program).keepIndex(index);

        const QString chunks = program + "/" + InstallationFile::ChunkLists + "/";
        r.replace(program + "/" + InstallationFile::State, dir.filePath("state.aside"));
        EXPECT_EQ(InstalledState::read(program, program).find(listed) != nullptr, r.found) << "renewel.state";
        r.replace(chunks + hexName(index.fileHash), dir.filePath("list.aside"));
        EXPECT_EQ(InstalledChunks(program).find(index.fileHash) != nullptr, r.found) << "kept list";
        r.replace(chunks + hexName(index.fileHash) + ".cidx", dir.filePath("index.aside"));
        EXPECT_EQ(InstalledChunks(program).findIndex(index.fileHash).has_value(), r.found) << "kept index";
    }
}

TEST(InstallRecords, AChunksFolderLinkedElsewhereIsNotUsed)
{
    TempDir dir;
    const QString program = dir.filePath("game");
    QDir().mkpath(program);
    const ChunkIndex index = sampleIndex();
    // Elsewhere: what looks like renewel's kept list, and a file of someone else's with a 64-hex name.
    InstalledChunks(dir.filePath("elsewhere")).keepIndex(index);
    const QString outside = dir.filePath("elsewhere/" + InstallationFile::ChunkLists);
    const QString foreign = dir.write("elsewhere/" + InstallationFile::ChunkLists + "/" + QString(64, 'a'), "not renewel's");
    ASSERT_TRUE(QFile::link(outside, program + "/" + InstallationFile::ChunkLists));

    InstalledChunks kept(program);
    EXPECT_FALSE(kept.has(index.fileHash));
    EXPECT_EQ(kept.find(index.fileHash), nullptr);
    kept.keep(ChunkList::fromIndex(sampleIndex()));
    kept.keepOnly({});
    EXPECT_TRUE(QFileInfo::exists(foreign));
    EXPECT_TRUE(QFileInfo::exists(outside + "/" + hexName(index.fileHash)));
    EXPECT_TRUE(QFileInfo::exists(outside + "/" + hexName(index.fileHash) + ".cidx"));
    EXPECT_TRUE(QFileInfo(program + "/" + InstallationFile::ChunkLists).isSymLink());
}
