#pragma once
// The checksum list "update.sums" of an update site, in the format of the sha256sum tool: per
// line 64 lowercase hex digits of a file's SHA-256, two spaces, and the name, ending with LF or
// CR LF. The names are "update.txt" and the listed paths exactly as update.txt writes them
// ("\data\units.dat"). A listed path is looked up by its folded key (either separator, any
// letter case); other names byte for byte.

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <optional>

class Sums {
public:
    // The reason ("line 3: ...") when a line is malformed or a name is listed twice.
    static Result<Sums> parse(QByteArrayView text);
    // One line of the list: the digest (32 bytes) in hex, two spaces, the name, LF.
    static QByteArray formatLine(const QByteArray& digest, const QByteArray& name);

    // The 32-byte digest listed for the name.
    std::optional<QByteArray> digest(const QByteArray& name) const;
    bool contains(const QByteArray& name) const { return digests_.contains(key(name)); }
    qsizetype size() const { return digests_.size(); }
    // The names listed, sorted (a listed path by its folded key).
    QList<QByteArray> names() const;

private:
    static QByteArray key(const QByteArray& name);

    QHash<QByteArray, QByteArray> digests_;  // key(name) -> digest
};
