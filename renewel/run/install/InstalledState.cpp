#include "run/install/InstalledState.h"

#include "site/ListedPath.h"
#include "site/SiteFiles.h"

#include "AtomicFile.h"
#include "Digits.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {
const QByteArray Header = "renewel installed-state 1";
constexpr qint64 MaxRecordBytes = 256 * 1024 * 1024;

QString recordPath(const QString& programFolder) { return QDir(programFolder).filePath(InstallationFile::State); }

QByteArray folderLine(const QString& installBase)
{
    return "folder " + QFile::encodeName(QFileInfo(installBase).canonicalFilePath()).toPercentEncoding();
}

// A number of the record: digits only, within 64 bits (times in nanoseconds take 19 digits).
std::optional<qint64> number(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 19 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// "file SIZE MTIME DEVICE INODE SHA256 LISTED"
bool parseFile(QByteArrayView rest, QByteArray& listed, InstalledState::Entry& entry)
{
    std::optional<qint64> numbers[4];
    for (auto& value : numbers) {
        const qsizetype space = rest.indexOf(' ');
        if (space < 0)
            return false;
        value = number(rest.first(space));
        if (!value)
            return false;
        rest = rest.sliced(space + 1);
    }
    if (rest.size() < 66 || rest[64] != ' ')
        return false;
    const std::optional<QByteArray> digest = parseLowerHex(rest.first(64));
    if (!digest)
        return false;
    entry.sha256 = *digest;
    entry.identity = {*numbers[0], *numbers[1], 0, quint64(*numbers[2]), quint64(*numbers[3])};
    listed = rest.sliced(65).toByteArray();
    entry.listed = listed;
    return listed.startsWith('\\');
}
}  // namespace

InstalledState InstalledState::read(const QString& programFolder, const QString& installBase)
{
    // Only a regular file of renewel's own is a record: never a link, a pipe or a device.
    const Result<QByteArray> bytes = platform::readRegularFile(recordPath(programFolder), MaxRecordBytes);
    if (!bytes)
        return {};
    const QList<QByteArray> lines = bytes->split('\n');
    if (lines.size() < 3 || lines[0] != Header || lines[1] != folderLine(installBase) || !lines.last().isEmpty())
        return {};
    InstalledState state;
    for (qsizetype i = 2; i + 1 < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        QByteArray listed;
        Entry entry;
        if (line.startsWith("list \\"))
            state.Listed.insert(line.mid(5));
        else if (line.startsWith("made \\"))
            state.Made.insert(line.mid(5));
        else if (line.startsWith("file ") && parseFile(QByteArrayView(line).sliced(5), listed, entry))
            state.files_.insert(ListedPath::foldedKey(listed), entry);
        else
            return {};  // damaged: trust none of it
    }
    return state;
}

Status InstalledState::write(const QString& programFolder, const QString& installBase) const
{
    // Sorted, so that the same state is the same text.
    const auto sorted = [](auto keys) {
        std::sort(keys.begin(), keys.end());
        return keys;
    };
    QByteArray text = Header + '\n' + folderLine(installBase) + '\n';
    for (const QByteArray& listed : sorted(Listed.values()))
        text += "list " + listed + '\n';
    for (const QByteArray& folder : sorted(Made.values()))
        text += "made " + folder + '\n';
    QList<const Entry*> entries;
    for (const Entry& entry : files_)
        entries << &entry;
    std::sort(entries.begin(), entries.end(), [](const Entry* a, const Entry* b) { return a->listed < b->listed; });
    for (const Entry* file : std::as_const(entries)) {
        const Entry& entry = *file;
        const FileIdentity& id = entry.identity;
        text += "file " + QByteArray::number(id.size) + ' ' + QByteArray::number(id.mtimeNs) + ' ' +
                QByteArray::number(id.device) + ' ' + QByteArray::number(id.inode) + ' ' + entry.sha256.toHex() + ' ' +
                entry.listed + '\n';
    }
    // Only a saving, never a guarantee: a record lost to a power cut is found damaged and ignored,
    // so it is not flushed to disk, and not written at all when nothing changed.
    if (const Result<QByteArray> old = platform::readRegularFile(recordPath(programFolder), text.size()); old && *old == text)
        return {};
    return replaceFile(recordPath(programFolder), text, false);
}

std::optional<QByteArray> InstalledState::hash(const QByteArray& listed, const FileIdentity& identity) const
{
    const auto it = files_.constFind(ListedPath::foldedKey(listed));
    if (it == files_.constEnd() || !(it->identity == identity))
        return std::nullopt;
    return it->sha256;
}

const InstalledState::Entry* InstalledState::find(const QByteArray& listed) const
{
    const auto it = files_.constFind(ListedPath::foldedKey(listed));
    return it == files_.constEnd() ? nullptr : &*it;
}

void InstalledState::record(const QByteArray& listed, const FileIdentity& identity, const QByteArray& sha256)
{
    files_.insert(ListedPath::foldedKey(listed), {identity, sha256, listed});
}

void InstalledState::forget(const QByteArray& listed) { files_.remove(ListedPath::foldedKey(listed)); }

bool InstalledState::isMade(const QByteArray& folder) const
{
    const QString key = ListedPath::foldedKey(folder);
    return std::any_of(Made.begin(), Made.end(), [&](const QByteArray& made) { return ListedPath::foldedKey(made) == key; });
}

void InstalledState::forgetMade(const QByteArray& folder)
{
    const QString key = ListedPath::foldedKey(folder);
    Made.removeIf([&](const QByteArray& made) { return ListedPath::foldedKey(made) == key; });
}

void InstalledState::keepOnly(const QSet<QByteArray>& listed)
{
    QSet<QString> keys;
    for (const QByteArray& path : listed)
        keys.insert(ListedPath::foldedKey(path));
    files_.removeIf([&](QHash<QString, Entry>::iterator file) { return !keys.contains(file.key()); });
}
