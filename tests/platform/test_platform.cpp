// The platform layer: regular files only, never through a link nor blocked by a pipe, never read
// past a limit; identities; the executable bit; folders, walked without entering a link; the
// installation lock.

#include "TempDir.h"

#include "platform/FileIdentity.h"
#include "platform/FileMode.h"
#include "platform/Folders.h"
#include "platform/InstallationLock.h"
#include "platform/OpenFolder.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/stat.h>

namespace {
void makeFifo(const QString& path) { ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); }
}  // namespace

// What stands at the name decides: only a regular file is read, and only up to the limit.
TEST(RegularFileTest, ReadsOnlyRegularFilesWithinTheLimit)
{
    struct Case {
        const char* name;
        std::function<void(TempDir&, const QString&)> make;
        Links links;
        RegularFile::Failure failure;
        const char* result;  // the bytes, or the reason
    };
    const Case cases[] = {
        {"a regular file", [](TempDir& d, const QString&) { d.write("f", "0123456789"); }, Links::Refuse,
         RegularFile::Failure::None, "0123456789"},
        {"an empty file", [](TempDir& d, const QString&) { d.write("f", ""); }, Links::Refuse, RegularFile::Failure::None, ""},
        {"a file over the limit", [](TempDir& d, const QString&) { d.write("f", "0123456789abcdef"); }, Links::Refuse,
         RegularFile::Failure::None, "larger than 10 bytes"},
        {"nothing", [](TempDir&, const QString&) {}, Links::Refuse, RegularFile::Failure::Missing,
         "No such file or directory"},
        {"a folder", [](TempDir&, const QString& p) { QDir().mkdir(p); }, Links::Refuse, RegularFile::Failure::Folder,
         "a folder, not a file"},
        {"a pipe", [](TempDir&, const QString& p) { makeFifo(p); }, Links::Refuse, RegularFile::Failure::NotRegular,
         "not a regular file"},
        {"a link to a file", [](TempDir& d, const QString& p) { QFile::link(d.write("real", "x"), p); }, Links::Refuse,
         RegularFile::Failure::Link, "a link, not a file"},
        {"a link to a file, followed", [](TempDir& d, const QString& p) { QFile::link(d.write("real", "x"), p); },
         Links::Follow, RegularFile::Failure::None, "x"},
        {"a link to a pipe", [](TempDir& d, const QString& p) { makeFifo(d.filePath("pipe")); QFile::link(d.filePath("pipe"), p); },
         Links::Follow, RegularFile::Failure::NotRegular, "not a regular file"},
        {"a link to /dev/zero", [](TempDir&, const QString& p) { QFile::link("/dev/zero", p); }, Links::Follow,
         RegularFile::Failure::NotRegular, "not a regular file"},
        {"a link to /dev/zero, refused", [](TempDir&, const QString& p) { QFile::link("/dev/zero", p); }, Links::Refuse,
         RegularFile::Failure::Link, "a link, not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const QString path = dir.filePath("f");
        c.make(dir, path);
        RegularFile file = RegularFile::open(path, RegularFile::Access::Read, c.links);
        EXPECT_EQ(file.failure(), c.failure);
        const Result<QByteArray> read = platform::readRegularFile(path, 10, c.links);
        EXPECT_EQ(read ? *read : read.error().toUtf8(), QByteArray(c.result));
        if (file) {
            EXPECT_EQ(file.identity(), platform::identityOf(path, Links::Follow));
        }
    }
}

TEST(FileIdentityTest, ChangesWithTheFileAndKnowsLinks)
{
    TempDir dir;
    const QString path = dir.write("f", "abc");
    const std::optional<FileIdentity> before = platform::identityOf(path, Links::Refuse);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->size, 3);
    QFile::link(path, dir.filePath("link"));
    EXPECT_EQ(platform::identityOf(dir.filePath("link"), Links::Follow), before);
    EXPECT_FALSE(platform::identityOf(dir.filePath("link"), Links::Refuse));
    EXPECT_FALSE(platform::identityOf(dir.path(), Links::Follow));
    EXPECT_TRUE(platform::isSymbolicLink(dir.filePath("link")));
    EXPECT_FALSE(platform::isSymbolicLink(path));

    dir.write("f", "abcd");
    EXPECT_NE(platform::identityOf(path, Links::Refuse), before);
    EXPECT_EQ(before->withoutChangeTime().ctimeNs, 0);
}

// The bit goes to those who may read the file and comes off for everyone; other bits stay; a link
// or a folder is never changed.
TEST(FileModeTest, ExecutableBitFollowsTheReadBits)
{
    TempDir dir;
    const QString file = dir.write("f", "x");
    const auto mode = [&] {
        struct stat status {};
        ::stat(QFile::encodeName(file).constData(), &status);
        return status.st_mode & 07777;
    };
    const struct {
        mode_t before;
        bool executable;
        mode_t after;
    } cases[] = {
        {0644, true, 0755}, {0600, true, 0700}, {0640, true, 0750}, {04755, false, 04644},
        {0751, false, 0640}, {0644, false, 0644}, {0755, true, 0755},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), c.before), 0);
        EXPECT_TRUE(platform::setExecutable(file, c.executable)) << std::oct << c.before;
        EXPECT_EQ(mode(), c.after) << std::oct << c.before;
        EXPECT_EQ(platform::isExecutable(file), (c.after & 0100) != 0) << std::oct << c.before;
    }
    ASSERT_TRUE(QFile::link(file, dir.filePath("link")));
    EXPECT_FALSE(platform::setExecutable(dir.filePath("link"), false));
    EXPECT_EQ(platform::isExecutable(dir.filePath("link")), std::nullopt);
    EXPECT_EQ(platform::isExecutable(dir.path()), std::nullopt);
    EXPECT_EQ(mode(), 0755u);
}

TEST(FoldersTest, MakesMissingParentsAndNamesTheReason)
{
    TempDir dir;
    EXPECT_TRUE(platform::makeFolders(dir.filePath("a/b/c")));
    EXPECT_TRUE(QFileInfo(dir.filePath("a/b/c")).isDir());
    EXPECT_TRUE(platform::makeFolders(dir.filePath("a/b/c")));  // already there
    EXPECT_TRUE(platform::syncFolder(dir.filePath("a/b")));
    dir.write("file", "x");
    const Status blocked = platform::makeFolders(dir.filePath("file/below"));
    EXPECT_FALSE(blocked);
    EXPECT_EQ(blocked.error(), "Not a directory");
    EXPECT_FALSE(platform::syncFolder(dir.filePath("missing")));
}

TEST(OpenFolderTest, TellsEachEntryWhatItIsAndNeverEntersALink)
{
    TempDir dir;
    dir.write("root/file.txt", "x");
    QDir().mkpath(dir.filePath("root/inner"));
    QDir().mkpath(dir.filePath("outside"));
    ASSERT_TRUE(QFile::link(dir.filePath("outside"), dir.filePath("root/link")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("root/fifo")).constData(), 0600), 0);
    const OpenFolder root = OpenFolder::open(dir.filePath("root"));
    ASSERT_TRUE(root.isOpen()) << root.reason().toStdString();
    const Result<QList<OpenFolder::Entry>> entries = root.entries();
    ASSERT_TRUE(entries) << entries.error().toStdString();
    const struct {
        QByteArray name;
        OpenFolder::Entry::Kind kind;
        bool enters;  // inner() opens it
    } expected[] = {
        {"file.txt", OpenFolder::Entry::Kind::File, false},
        {"inner", OpenFolder::Entry::Kind::Folder, true},
        {"link", OpenFolder::Entry::Kind::Link, false},
        {"fifo", OpenFolder::Entry::Kind::Other, false},
    };
    ASSERT_EQ(entries->size(), 4);
    for (const auto& [name, kind, enters] : expected) {
        SCOPED_TRACE(name.toStdString());
        const auto found = std::find_if(entries->begin(), entries->end(), [&](const auto& e) { return e.name == name; });
        ASSERT_NE(found, entries->end());
        EXPECT_EQ(found->kind, kind);
        EXPECT_EQ(root.inner(name).isOpen(), enters);
        if (kind == OpenFolder::Entry::Kind::File) {
            EXPECT_EQ(found->identity.size, 1);
        }
    }
}

TEST(InstallationLockTest, OneHolderAtATime)
{
    TempDir dir;
    const QString path = dir.filePath("renewel.lock");
    {
        InstallationLock first(path);
        ASSERT_TRUE(first.acquire());
        InstallationLock second(path);
        EXPECT_EQ(second.acquire().error(), InstallationLock::Busy);
    }
    EXPECT_FALSE(QFileInfo::exists(path));  // released and removed
    InstallationLock again(path);
    EXPECT_TRUE(again.acquire());
}
