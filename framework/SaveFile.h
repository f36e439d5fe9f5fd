#pragma once
// Writing a file that may replace one the user already has: the bytes go to a temporary file
// beside it, which is renamed over the old one only when everything was written. A failed
// write leaves the old file as it was and no partial file behind.

#include <QImage>
#include <QString>

#include <functional>

class QIODevice;

// Creates (or replaces) fileName with what write puts into the device; write returns false when
// it could not write everything. Throws EFCreateError "Cannot create file %s" when the file
// cannot be created, also (with the reason added) when the name is taken by something that is
// not a regular file, such as a folder, a pipe or a device, which is never opened or replaced;
// throws EWriteError "Stream write error" when writing or completing the file fails.
void saveFileReplacing(const QString& fileName, const std::function<bool(QIODevice&)>& write);

// Writes image in format ("bmp", "png") through saveFileReplacing, with its errors. quality is
// QImageWriter's (for PNG the compression effort: 0 smallest, 100 fastest; -1 Qt's default).
void saveImageFile(const QImage& image, const QString& fileName, const char* format, int quality = -1);
