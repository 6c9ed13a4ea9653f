#include "gif/gif_picture.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <stdexcept>

namespace vornel::gif {

GifPicture decodeGif(const std::string& bytes)
{
    QByteArray data = QByteArray::fromStdString(bytes);
    QBuffer device(&data);
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device, "gif");
    reader.setAllocationLimit(static_cast<int>(kMaxGifPixels * 4 / (1024 * 1024)));
    if (!reader.canRead())
        throw std::runtime_error("Not a GIF picture");
    const QSize size = reader.size();
    if (size.isEmpty() || static_cast<int64_t>(size.width()) * size.height() > kMaxGifPixels)
        throw std::runtime_error("The GIF picture is too large");

    // Every frame comes out as a whole picture, so the count alone bounds what decoding holds;
    // counting reads the blocks without decoding them.
    const int64_t pixelsPerFrame = static_cast<int64_t>(size.width()) * size.height();
    const int64_t frameBound = std::min<int64_t>(kMaxGifFrames, kMaxGifPixelsInAllFrames / pixelsPerFrame);
    if (reader.imageCount() > frameBound)
        throw std::runtime_error("The GIF picture has too many frames");

    GifPicture picture{size.width(), size.height(), {}};
    QImage image;
    while (static_cast<int64_t>(picture.frames.size()) < frameBound && reader.read(&image)) {
        if (image.size() != size)
            throw std::runtime_error("A GIF frame does not match the picture's size");
        picture.frames.push_back({image.convertToFormat(QImage::Format_ARGB32), reader.nextImageDelay()});
    }
    if (picture.frames.empty())
        throw std::runtime_error("The GIF picture has no frames");
    return picture;
}

int frameDurationMs(const GifFrame& frame)
{
    return std::clamp(frame.delayMs, 50, 10000);
}

GifCanvas::GifCanvas(const GifPicture& picture, uint32_t emptyColour)
    : width_(picture.width), height_(picture.height), emptyColour_(emptyColour),
      pixels_(static_cast<size_t>(picture.width) * picture.height, emptyColour)
{}

void GifCanvas::draw(const GifFrame& frame)
{
    const int rows = std::min(height_, frame.image.height());
    const int columns = std::min(width_, frame.image.width());
    for (int y = 0; y < rows; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(frame.image.constScanLine(y));
        uint32_t* out = pixels_.data() + static_cast<size_t>(y) * width_;
        for (int x = 0; x < columns; ++x)
            out[x] = qAlpha(line[x]) == 0 ? emptyColour_ : (line[x] & 0xFFFFFFu);
    }
}

} // namespace vornel::gif
