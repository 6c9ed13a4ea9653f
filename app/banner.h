#pragma once
// The banner at the top of the main window, a baseline JPEG compiled into the program.
#include <QByteArray>
#include <QImage>

namespace vornel::app {

// Decodes JPEG data with libjpeg; a null image when the data is not a readable JPEG.
QImage decodeJpeg(const QByteArray& data);

// The banner picture (750 x 205), or a null image if the resource is missing.
QImage loadBanner();

} // namespace vornel::app
