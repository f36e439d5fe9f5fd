#pragma once
// A file path as the update list gives it: relative to the program folder, starting with a
// backslash, backslashes between folders ("\maps\forest.ivm"). This is the one place where such
// a path becomes a file-system path and a download address.
//
// A path is accepted only when it stays inside the installation folder: exactly one leading
// backslash, then non-empty components separated by "\" (or "/"), none of them ending in a dot
// or a space (so no "." or ".."), no drive letter or other colon, no control characters, not
// inside the download folder "temp", and at most MaxListedPathBytes long.

#include <QByteArray>
#include <QString>
#include <QStringList>

constexpr qsizetype MaxListedPathBytes = 4096;

class ListedPath {
public:
    explicit ListedPath(const QByteArray& listed);

    bool isSafe() const { return safe_; }
    // The last component: the name the file is downloaded under.
    QString fileName() const;
    // The installed file: installBase + the path, with native separators.
    QString installPath(const QString& installBase) const;
    // The folder that holds the installed file.
    QString installFolder(const QString& installBase) const;
    // The download address: site + the path with "/" separators and each component
    // percent-encoded. One "/" is dropped where the site ends with one.
    QString url(const QByteArray& site) const;

private:
    // The first count components, each preceded by a native separator.
    QString relative(qsizetype count) const;

    QList<QByteArray> components_;
    bool safe_ = false;
};
