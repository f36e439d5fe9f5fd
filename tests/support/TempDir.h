#pragma once
// A temporary folder for one test, removed with everything in it when the object goes away.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TempDir {
public:
    TempDir();

    bool isValid() const { return dir_.isValid(); }
    // The folder, without a trailing separator.
    QString path() const { return dir_.path(); }
    // The path of a file or folder inside (relative names may contain "/").
    QString filePath(const QString& name) const { return dir_.filePath(name); }

    // Writes bytes to a file inside, creating parent folders; returns its path. Throws on failure.
    QString write(const QString& name, const QByteArray& bytes) const;
    // Reads a file inside; an empty array when it is missing.
    QByteArray read(const QString& name) const;
    bool exists(const QString& name) const;
    // Size of a file inside, -1 when it is missing.
    qint64 size(const QString& name) const;

private:
    QTemporaryDir dir_;
};
