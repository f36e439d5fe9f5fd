#include "site/UpdateList.h"

#include "site/SiteFiles.h"

#include "Exception.h"
#include "LineReader.h"
#include "Text.h"

#include <QBuffer>
#include <QSet>

QList<QByteArray> ReadUpdateListLines(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    LineReader reader(buffer);
    reader.readLine();
    QList<QByteArray> lines;
    while (!reader.atEnd()) {
        lines << reader.readLine();
        lines << reader.readLine();
    }
    return lines;
}

UpdateListEntries UpdateListEntries::fromLines(const QList<QByteArray>& lines)
{
    UpdateListEntries list;
    QSet<QString> seen;  // folded keys
    const auto refuse = [&](const QByteArray& listed, const QString& reason) {
        list.problem = {ListProblem::UnsafePath, displayText(listed.left(200)), reason};
        return list;
    };
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2) {
        UpdateEntry entry{lines[i], ListedPath(lines[i]), 0};
        try {
            entry.size = StrToInt64(lines[i + 1]);
        } catch (const Exception& e) {
            list.problem = {ListProblem::BadSize, QStringLiteral("update.txt"), e.message()};
            return list;
        }
        if (!entry.path.isSafe())
            return refuse(lines[i], QStringLiteral("unsafe path in the update list"));
        if (IsReservedListedPath(lines[i]))
            return refuse(lines[i], QStringLiteral("the update list names one of the updater's own files"));
        const QString folded = ListedPath::foldedKey(lines[i]);
        if (seen.contains(folded))
            return refuse(lines[i], QStringLiteral("the update list names this file twice"));
        seen.insert(folded);
        list.entries << std::move(entry);
    }
    return list;
}

QByteArray WriteUpdateList(const QByteArray& firstLine, const QList<UpdateEntry>& entries)
{
    QByteArray text = firstLine + "\r\n";
    for (const UpdateEntry& entry : entries)
        text += entry.listed + "\r\n" + QByteArray::number(entry.size) + "\r\n";
    return text;
}
