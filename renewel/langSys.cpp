#include "langSys.h"

#include "LineReader.h"

#include <utility>

namespace {
QList<QByteArray>& table()
{
    static QList<QByteArray> entries;
    return entries;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool sameKey(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

void readEntries(LineReader& reader)
{
    QList<QByteArray>& entries = table();
    while (!reader.atEnd()) {
        const QByteArray line = reader.readLine();
        // "#" alone has no key characters and yields no entry.
        if (line.size() < 2 || line[0] != '#')
            continue;
        const qsizetype space = line.indexOf(' ', 1);
        if (space < 0)
            entries << line.mid(1) << QByteArray();
        else
            entries << line.mid(1, space - 1) << line.mid(space + 1);
    }
}

// Runs one load; nothing of a failure escapes: the caller reports it, what was read stays.
template <typename Source>
bool load(Source&& source)
{
    table().clear();
    try {
        LineReader reader(std::forward<Source>(source));
        readEntries(reader);
    } catch (...) {
        return false;
    }
    return true;
}
}  // namespace

bool LoadLanguageFile(const QString& fileName) { return load(fileName); }

bool LoadLanguageFile(QIODevice& source) { return load(source); }

QByteArray Translate(const QByteArray& key)
{
    QByteArray result = QByteArrayLiteral("[error]");
    const QList<QByteArray>& entries = table();
    for (qsizetype i = 0; i + 1 < entries.size(); i += 2) {
        if (sameKey(entries[i], key))
            result = entries[i + 1];
    }
    return result;
}

const QList<QByteArray>& LanguageTable() { return table(); }
