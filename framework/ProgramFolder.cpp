#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

QString ProgramFolder()
{
    QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

QString toNativePath(const QString& path)
{
    QString native = path;
    native.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::toNativeSeparators(native);
}
