#include "fixtures.h"

namespace Lumetra::Testing {

QImage chart(int width, int height, QImage::Format format, int seed)
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

PrintableImage printable(const QImage& pixels, double dpi)
{
    PrintableImage image;
    image.pixelWidth = quint32(pixels.width());
    image.pixelHeight = quint32(pixels.height());
    image.dpiX = image.dpiY = dpi;
    image.image = pixels;
    return image;
}

} // namespace Lumetra::Testing
