#include "SaveFile.h"

#include "Exception.h"

#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QSaveFile>

#include <sys/stat.h>

void saveFileReplacing(const QString& fileName, const std::function<bool(QIODevice&)>& write)
{
    // A pipe would block the open until a reader comes, and a device or folder would be
    // replaced by the rename: refuse anything but a regular file (or a link to one) at once.
    struct stat status {};
    if (::stat(QFile::encodeName(fileName).constData(), &status) == 0 && !S_ISREG(status.st_mode))
        throw EFCreateError(QDir::toNativeSeparators(fileName), QStringLiteral("not a regular file"));

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw EFCreateError(QDir::toNativeSeparators(fileName));
    // Without commit() the temporary file is removed when file goes away.
    if (!write(file) || file.error() != QFileDevice::NoError || !file.commit())
        throw EWriteError();
}

void saveImageFile(const QImage& image, const QString& fileName, const char* format, int quality)
{
    saveFileReplacing(fileName, [&](QIODevice& file) {
        QImageWriter writer(&file, format);
        writer.setQuality(quality);
        return writer.write(image);
    });
}
