#pragma once
// The language table: every text the updater shows, and its web addresses, come from a language
// file beside the program ("renewel.lng"). Texts are single-byte and kept as bytes.
//
// File rules: lines as in LineReader; a line starting with "#" is an entry, every other line is a
// comment. The key runs from after the "#" to the first space (or the line end); the text is
// everything after that first space, kept exactly. A "#" alone yields no entry.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

class QIODevice;

// Keys and texts in file order, duplicates kept, stored compactly: all bytes in one block and one
// offset per entry, so that a huge file costs little more than its size.
class LanguageList {
public:
    void clear();
    void append(const QByteArray& key, const QByteArray& text);
    // The text of the last entry whose key equals key, ignoring the case of A-Z only; "[error]"
    // when there is none.
    QByteArray Translate(const QByteArray& key) const;
    // The same, but nothing when there is no such entry (an entry with an empty text is found).
    std::optional<QByteArray> find(const QByteArray& key) const;
    // The texts of every entry whose key equals key, in file order (a key that may be repeated).
    QList<QByteArray> findAll(const QByteArray& key) const;
    qsizetype count() const { return qsizetype(entries_.size()); }
    // key, text, key, text, ... in file order.
    QList<QByteArray> items() const;

private:
    struct Entry {
        qint64 at;       // where the key starts in bytes_; the text follows it
        quint32 keyLen;
    };
    QByteArray keyAt(size_t i) const;
    QByteArray textAt(size_t i) const;
    QByteArray bytes_;
    std::vector<Entry> entries_;
};

// Replaces the process-wide table with the entries of the file. Returns false when the file
// can't be opened or a read fails; the entries read before the failure stay in the table. The
// caller shows the failure ("Translation file error!") and asks the application to end.
bool LoadLanguageFile(const QString& fileName);
// The same from an open device (the caller keeps it).
bool LoadLanguageFile(QIODevice& source);

// Translate on the process-wide table.
QByteArray Translate(const QByteArray& key);

// The process-wide table.
const LanguageList& LanguageTable();
