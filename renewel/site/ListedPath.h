#pragma once
// A file path as the update list gives it: relative to the program folder, starting with a
// backslash, backslashes between folders ("\maps\forest.ivm"). This is the one place where such
// a path becomes a file-system path and a download address.
//
// A path is accepted only when it stays inside the installation folder: exactly one leading
// backslash, then non-empty components separated by "\" (or "/"), none of them ending in a dot
// or a space (so no "." or ".."), no drive letter or other colon, no control characters, not
// inside the download folder "temp", and at most MaxListedPathBytes long.
//
// Two spellings name the same file when they differ only in the separator or in letter case
// (one file on the game's own platform): compare listed paths by foldedKey(), never as bytes.

#include <QByteArray>
#include <QString>
#include <QStringList>

constexpr qsizetype MaxListedPathBytes = 4096;

class ListedPath {
public:
    explicit ListedPath(const QByteArray& listed);
    // A path below a release folder ("maps/forest.ivm", "/" between folders) as the update
    // list writes it: "\maps\forest.ivm".
    static QByteArray fromRelative(const QString& relative);
    // The other way: "\maps\forest.ivm" (either separator) as "maps/forest.ivm".
    static QString toRelative(const QByteArray& listed);
    // The key that two spellings of one file share: the displayed text with "\" as the only
    // separator, case-folded in full (Unicode case folding: "\Data/Ä.dat" ~ "\data\ä.dat").
    static QString foldedKey(const QByteArray& listed);
    // The listed path's parent folder ("\maps\deep\a.ivm" gives "\maps\deep", written with
    // the path's own separators), empty for a file at the top.
    static QByteArray parent(const QByteArray& listed);
    // The folders above a listed path, outermost first: "\a\b/c" gives "\a" and "\a\b".
    static QList<QByteArray> foldersAbove(const QByteArray& listed);

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
