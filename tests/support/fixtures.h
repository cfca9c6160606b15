#pragma once

#include "printmodel.h" // test support: targets with known pixels, shared by the suites that print them

namespace Lumetra::Testing {

// Every pixel differs from its neighbours, so a shift, a turn or a blend shows; `seed` gives each page
// of a set pixels of its own. Pixels are never white, so the chart stands out on a blank sheet.
inline QImage chart(int width, int height, QImage::Format format = QImage::Format_RGB32, int seed = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb((x * 37 + y * 11 + seed * 50) & 255, (x * 13 + y * 53 + 7) & 255,
                                (x * 71 ^ y * 29) & 255 & ~seed));
    }
    return image.convertToFormat(format);
}

// `pixels` as a decoded target of `dpi` in both directions.
inline PrintableImage printable(const QImage& pixels, double dpi)
{
    PrintableImage image;
    image.pixelWidth = quint32(pixels.width());
    image.pixelHeight = quint32(pixels.height());
    image.dpiX = image.dpiY = dpi;
    image.image = pixels;
    return image;
}

} // namespace Lumetra::Testing
