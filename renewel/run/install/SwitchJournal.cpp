#include "run/install/SwitchJournal.h"

#include "AtomicFile.h"
#include "Digits.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QByteArray Header = "renewel switch 1";
const QByteArray Trailer = "end";
constexpr qint64 MaxJournalBytes = 256 * 1024 * 1024;

QByteArray encoded(const QString& path) { return QFile::encodeName(path).toPercentEncoding(); }
QString decoded(const QByteArray& field) { return QFile::decodeName(QByteArray::fromPercentEncoding(field)); }

bool parseLine(const QByteArray& line, SwitchJournal& journal)
{
    const QList<QByteArray> f = line.split(' ');
    if (f[0] == "move" && f.size() == 5) {
        const std::optional<QByteArray> digest = parseLowerHex(f[1]);
        if (!digest || digest->size() != 32)
            return false;
        journal.moves << SwitchJournal::Move{QByteArray::fromPercentEncoding(f[2]), *digest, decoded(f[3]), decoded(f[4])};
        return true;
    }
    if (f.size() != 2)
        return false;
    if (f[0] == "made")
        journal.made << QByteArray::fromPercentEncoding(f[1]);
    else if (f[0] == "drop")
        journal.dropped << QByteArray::fromPercentEncoding(f[1]);
    else if (f[0] == "stamp" && !journal.stamp)
        journal.stamp = f[1].toLongLong();
    else
        return false;
    return true;
}
}  // namespace

QString SwitchJournal::path(const QString& downloadFolder) { return QDir(downloadFolder).filePath("switch.journal"); }

Status SwitchJournal::write(const QString& downloadFolder) const
{
    QByteArray text = Header + '\n';
    for (const Move& move : moves)
        text += "move " + move.digest.toHex() + ' ' + move.listed.toPercentEncoding() + ' ' + encoded(move.staged) + ' ' +
                encoded(move.target) + '\n';
    for (const QByteArray& folder : made)
        text += "made " + folder.toPercentEncoding() + '\n';
    for (const QByteArray& listed : dropped)
        text += "drop " + listed.toPercentEncoding() + '\n';
    if (stamp)
        text += "stamp " + QByteArray::number(*stamp) + '\n';
    text += Trailer + '\n';
    return replaceFile(path(downloadFolder), text, true);
}

Result<std::optional<SwitchJournal>> SwitchJournal::read(const QString& downloadFolder)
{
    using Found = Result<std::optional<SwitchJournal>>;
    const QString file = path(downloadFolder);
    if (!QFile::exists(file) && !QFileInfo(file).isSymLink())
        return std::optional<SwitchJournal>();
    const Result<QByteArray> bytes = platform::readRegularFile(file, MaxJournalBytes);
    if (!bytes)
        return Found::failure(QStringLiteral("cannot read the switch journal: ") + bytes.error());
    QList<QByteArray> lines = bytes->split('\n');
    if (lines.size() < 3 || lines.first() != Header || lines.last() != "" || lines[lines.size() - 2] != Trailer)
        return Found::failure(QStringLiteral("the switch journal is damaged"));
    SwitchJournal journal;
    for (qsizetype i = 1; i + 2 < lines.size(); ++i) {
        if (!parseLine(lines[i], journal))
            return Found::failure(QStringLiteral("the switch journal is damaged"));
    }
    return std::optional<SwitchJournal>(std::move(journal));
}

void SwitchJournal::remove(const QString& downloadFolder)
{
    QFile::remove(path(downloadFolder));
    SyncFolder(downloadFolder);
}
