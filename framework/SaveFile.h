#pragma once
// Writing a file that may replace one the user already has: the bytes go to a temporary file
// beside it, which is renamed over the old one only when everything was written. A failed
// write leaves the old file as it was and no partial file behind. Names are handled as the
// bytes they stand for (FileName.h), so names that are not UTF-8 are written as given.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

class QIODevice;

// Creates (or replaces) fileName with what write puts into the device; write returns false when
// it could not write everything. Throws EFCreateError "Cannot create file %s: <reason>" when the
// file cannot be created (the system's reason, such as "Permission denied"), also when the name
// is taken by something that is not a regular file, such as a folder, a pipe or a device, which
// is never opened or replaced; throws EWriteError "Stream write error: <reason>" when writing or
// completing the file fails ("No space left on device"). A link is followed: the file it points
// to is replaced. A replaced file keeps its permissions; a new one gets 0666 less the umask.
void saveFileReplacing(const QString& fileName, const std::function<bool(QIODevice&)>& write);

// How saveImageFile treats a file that already exists under the name.
enum class SaveMode {
    Replace,       // a new file renamed over it (saveFileReplacing)
    IntoExisting,  // the picture written into that very file, which another program created and
                   // reads back through its own handle; a failed write leaves it empty; a
                   // symbolic link there is refused, "Cannot create file %s: a symbolic link"
};

// Writes image in format ("bmp", "png"), with saveFileReplacing's errors. quality is
// QImageWriter's (for PNG the compression effort: 0 smallest, 100 fastest; -1 Qt's default).
// The picture is encoded completely before the file is touched.
void saveImageFile(const QImage& image, const QString& fileName, const char* format, int quality = -1,
                   SaveMode mode = SaveMode::Replace);
