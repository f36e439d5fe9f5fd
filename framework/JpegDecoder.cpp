#include "JpegDecoder.h"

#include "Exception.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// Everything below the setjmp points is plain C data: a longjmp skips no destructor.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (such as premature end of data) are not printed; the image decodes as far as it goes.
void outputMessage(j_common_ptr) {}

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}

// The whole input is in the buffer from the start, so running dry means the data has ended:
// supply an end-of-image marker so the decoder finishes cleanly, and record a warning.
boolean fillInputBuffer(j_decompress_ptr cinfo)
{
    WARNMS(cinfo, JWRN_JPEG_EOF);
    cinfo->src->next_input_byte = kFakeEoi;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long numBytes)
{
    if (numBytes <= 0)
        return;
    jpeg_source_mgr* src = cinfo->src;
    while (numBytes > long(src->bytes_in_buffer)) {
        numBytes -= long(src->bytes_in_buffer);
        fillInputBuffer(cinfo);
    }
    src->next_input_byte += numBytes;
    src->bytes_in_buffer -= size_t(numBytes);
}

void termSource(j_decompress_ptr) {}

struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_source_mgr src;
};

void setUp(Decoder& d)
{
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = errorExit;
    d.err.pub.output_message = outputMessage;
    d.err.message[0] = '\0';
}

void attachSource(Decoder& d, const QByteArray& data)
{
    d.src.init_source = initSource;
    d.src.fill_input_buffer = fillInputBuffer;
    d.src.skip_input_data = skipInputData;
    d.src.resync_to_restart = jpeg_resync_to_restart;
    d.src.term_source = termSource;
    d.src.next_input_byte = reinterpret_cast<const JOCTET*>(data.constData());
    d.src.bytes_in_buffer = size_t(data.size());
    d.cinfo.src = &d.src;
}

// Both functions return false with d.err.message set when libjpeg reports an error.
bool readHeader(Decoder& d, const QByteArray& data, int* width, int* height)
{
    setUp(d);
    if (setjmp(d.err.jump)) {
        jpeg_destroy_decompress(&d.cinfo);
        return false;
    }
    jpeg_create_decompress(&d.cinfo);
    attachSource(d, data);
    jpeg_read_header(&d.cinfo, TRUE);
    jpeg_calc_output_dimensions(&d.cinfo);
    *width = int(d.cinfo.output_width);
    *height = int(d.cinfo.output_height);
    jpeg_destroy_decompress(&d.cinfo);
    return true;
}

// Decodes into rows of 4-byte pixels laid out as QImage::Format_RGB32 (opaque alpha).
bool decodeInto(Decoder& d, const QByteArray& data, uchar* bits, qsizetype bytesPerLine,
                int width, int height)
{
    setUp(d);
    if (setjmp(d.err.jump)) {
        jpeg_destroy_decompress(&d.cinfo);
        return false;
    }
    jpeg_create_decompress(&d.cinfo);
    attachSource(d, data);
    jpeg_read_header(&d.cinfo, TRUE);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    d.cinfo.out_color_space = JCS_EXT_BGRA;
#else
    d.cinfo.out_color_space = JCS_EXT_ARGB;
#endif
    jpeg_calc_output_dimensions(&d.cinfo);
    if (int(d.cinfo.output_width) != width || int(d.cinfo.output_height) != height
        || d.cinfo.output_components != 4) {
        std::snprintf(d.err.message, sizeof d.err.message, "unexpected output format");
        jpeg_destroy_decompress(&d.cinfo);
        return false;
    }
    jpeg_start_decompress(&d.cinfo);
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = bits + qsizetype(d.cinfo.output_scanline) * bytesPerLine;
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    jpeg_destroy_decompress(&d.cinfo);
    return true;
}

[[noreturn]] void fail(const Decoder& d)
{
    throw Exception(QStringLiteral("JPEG error: %1").arg(QString::fromLocal8Bit(d.err.message)));
}

} // namespace

QSize readJpegSize(const QByteArray& data)
{
    Decoder d;
    int width = 0;
    int height = 0;
    if (!readHeader(d, data, &width, &height))
        fail(d);
    return QSize(width, height);
}

QImage decodeJpeg(const QByteArray& data)
{
    const QSize size = readJpegSize(data);
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        throw Exception(QStringLiteral("JPEG error: image of %1 x %2 pixels is too large")
                            .arg(size.width()).arg(size.height()));
    Decoder d;
    if (!decodeInto(d, data, image.bits(), image.bytesPerLine(), size.width(), size.height()))
        fail(d);
    return image;
}
