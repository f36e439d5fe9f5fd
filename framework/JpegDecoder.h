#pragma once
// JPEG decoding through libjpeg's decompression interface, the compressed bytes supplied from
// memory. Corrupt data raises Exception("JPEG error: <libjpeg's message>"); libjpeg never gets to
// end the process.

#include <QByteArray>
#include <QImage>
#include <QSize>

// The pixel size from the header alone (no pixel data is decoded).
QSize readJpegSize(const QByteArray& data);

// The whole image as QImage::Format_RGB32.
QImage decodeJpeg(const QByteArray& data);
