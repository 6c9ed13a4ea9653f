#include "app/banner.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace vornel::app {

namespace {
struct JpegErrorManager {
    jpeg_error_mgr standard;
    std::jmp_buf recovery;
};

[[noreturn]] void leaveDecoding(j_common_ptr info)
{
    auto* manager = reinterpret_cast<JpegErrorManager*>(info->err);
    std::longjmp(manager->recovery, 1);
}

void ignoreMessage(j_common_ptr) {}

// Copies the decoded scanlines into an RGB image; runs inside the setjmp scope.
bool readScanlines(jpeg_decompress_struct& info, QImage& image)
{
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
    if (image.isNull())
        return false;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    return true;
}
} // namespace

QImage decodeJpeg(const QByteArray& data)
{
    if (data.isEmpty())
        return {};
    jpeg_decompress_struct info{};
    JpegErrorManager errors{};
    info.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = leaveDecoding;
    errors.standard.output_message = ignoreMessage;
    // Declared before setjmp so that its value is defined after a longjmp.
    QImage* volatile result = new QImage;
    if (setjmp(errors.recovery)) {
        jpeg_destroy_decompress(&info);
        delete result;
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const bool complete = readScanlines(info, *result);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    QImage image = complete ? *result : QImage();
    delete result;
    return image;
}

QImage loadBanner()
{
    QFile file(QStringLiteral(":/banner.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decodeJpeg(file.readAll());
}

} // namespace vornel::app
