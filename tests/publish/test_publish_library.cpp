// renewel-publish's libraries driven directly: the rules that need no process around them.

#include "common/PublishError.h"
#include "release/ReleaseFiles.h"
#include "SafeText.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace {

// The error line's text after "renewel-publish: ", as the command prints it.
QByteArray shownError(const PublishError& error)
{
    return SafeText(error.subject, StrayBytes::Escape) + ": " + SafeText(error.reason.toUtf8(), StrayBytes::Escape);
}

}  // namespace

TEST(PublishLibrary, ReleaseScanRefusesEveryPathThePlayersUpdaterWouldNot)
{
    const struct {
        QByteArray name;   // raw bytes below the release folder
        QByteArray shown;  // as the error line names it
    } refused[] = {
        {"maps/bad.", "maps/bad."},
        {"maps/bad ", "maps/bad "},
        {"a:b.txt", "a:b.txt"},
        {"tab\there.txt", "tab\\there.txt"},
        {"line\nbreak.txt", "line\\nbreak.txt"},
        {"cr\rreturn.txt", "cr\\rreturn.txt"},
        {"latin\xe9.txt", "latin\\xe9.txt"},
        {"maps/old\xff\xfe/x.ivm", "maps/old\\xff\\xfe"},
        {"back\\slash.txt", "back\\slash.txt"},
        {"UPDATE.txt", "UPDATE.txt"},
        {"update.sums.MINISIG", "update.sums.MINISIG"},
        {"Renewel.Stamp", "Renewel.Stamp: renewel's own file"},
        {"renewel.lng", "renewel.lng: renewel's own file"},
        {"renewel.lock", "renewel.lock: renewel's own file"},
        {"renewel.state", "renewel.state: renewel's own file"},
        {"Maps/Forest.ivm", "maps/forest.ivm"},
        {"link.txt", "link.txt: symbolic link"},
        {"fifo", "fifo: not a regular file"},
    };
    TempDir dir;
    dir.write("release/readme.txt", "read me");
    dir.write("release/maps/forest.ivm", "forest");
    ASSERT_EQ(scanRelease(dir.filePath("release")).size(), 2);
    for (const auto& [name, shown] : refused) {
        SCOPED_TRACE(shown.toStdString());
        const std::filesystem::path path = QFile::encodeName(dir.filePath("release/")).toStdString() + name.toStdString();
        std::filesystem::create_directories(path.parent_path());
        if (name == "link.txt")
            std::filesystem::create_symlink("readme.txt", path);
        else if (name == "fifo")
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        else
            std::ofstream(path) << "x";
        try {
            scanRelease(dir.filePath("release"));
            ADD_FAILURE() << "published";
        } catch (const PublishError& error) {
            EXPECT_TRUE(shownError(error).contains(shown)) << shownError(error).toStdString();
        }
        std::filesystem::remove(path);
        if (name.startsWith("maps/old"))
            std::filesystem::remove(path.parent_path());
    }
}

// On the players' file systems letter case is folded in full, not only for ASCII: each pair is
// one file there, so a release holding both is refused.
TEST(PublishLibrary, ReleaseScanRefusesNamesThatDifferOnlyInLetterCase)
{
    const std::pair<QString, QString> twins[] = {
        {"data/\u00c4.dat", "data/\u00e4.dat"},   // Ä ä
        {"\u03a3.dat", "\u03c3.dat"},             // Σ σ
        {"\u0414/x.dat", "\u0434/x.dat"},         // Д д, as folders
        {"\uff21.dat", "\uff41.dat"},             // Ａ ａ
        {"Maps/Forest.ivm", "maps/forest.ivm"},
    };
    for (const auto& [first, second] : twins) {
        SCOPED_TRACE(second.toStdString());
        TempDir dir;
        dir.write("release/" + first, "x");
        dir.write("release/" + second, "y");
        try {
            scanRelease(dir.filePath("release"));
            ADD_FAILURE() << "published both";
        } catch (const PublishError& error) {
            EXPECT_TRUE(shownError(error).contains("only in letter case")) << shownError(error).toStdString();
        }
    }
}
