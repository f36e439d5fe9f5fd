#include "run/lang/langSys.h"

#include "LineReader.h"

#include <utility>

namespace {
LanguageList& table()
{
    static LanguageList entries;
    return entries;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool sameKey(const char* a, qsizetype aLen, const QByteArray& b)
{
    if (aLen != b.size())
        return false;
    for (qsizetype i = 0; i < aLen; ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

void readEntries(LineReader& reader)
{
    LanguageList& entries = table();
    while (!reader.atEnd()) {
        const QByteArray line = reader.readLine();
        // "#" alone has no key characters and yields no entry.
        if (line.size() < 2 || line[0] != '#')
            continue;
        const qsizetype space = line.indexOf(' ', 1);
        if (space < 0)
            entries.append(line.mid(1), QByteArray());
        else
            entries.append(line.mid(1, space - 1), line.mid(space + 1));
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

void LanguageList::clear()
{
    bytes_ = QByteArray();
    entries_ = {};
}

void LanguageList::append(const QByteArray& key, const QByteArray& text)
{
    entries_.push_back({bytes_.size(), quint32(key.size())});
    bytes_ += key;
    bytes_ += text;
}

QByteArray LanguageList::keyAt(size_t i) const { return bytes_.mid(entries_[i].at, entries_[i].keyLen); }

QByteArray LanguageList::textAt(size_t i) const
{
    const qint64 from = entries_[i].at + entries_[i].keyLen;
    const qint64 to = i + 1 < entries_.size() ? entries_[i + 1].at : bytes_.size();
    return bytes_.mid(from, to - from);
}

std::optional<QByteArray> LanguageList::find(const QByteArray& key) const
{
    // The last match wins: search from the end.
    for (size_t i = entries_.size(); i-- > 0;) {
        if (sameKey(bytes_.constData() + entries_[i].at, entries_[i].keyLen, key))
            return textAt(i);
    }
    return std::nullopt;
}

QList<QByteArray> LanguageList::findAll(const QByteArray& key) const
{
    QList<QByteArray> texts;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (sameKey(bytes_.constData() + entries_[i].at, entries_[i].keyLen, key))
            texts << textAt(i);
    }
    return texts;
}

QByteArray LanguageList::Translate(const QByteArray& key) const
{
    return find(key).value_or(QByteArrayLiteral("[error]"));
}

QList<QByteArray> LanguageList::items() const
{
    QList<QByteArray> items;
    for (size_t i = 0; i < entries_.size(); ++i)
        items << keyAt(i) << textAt(i);
    return items;
}

bool LoadLanguageFile(const QString& fileName) { return load(fileName); }

bool LoadLanguageFile(QIODevice& source) { return load(source); }

QByteArray Translate(const QByteArray& key) { return table().Translate(key); }

const LanguageList& LanguageTable() { return table(); }
