#include "imageloader.h"

#include "imagelimits.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <memory>

namespace Lumetra {

namespace {

struct TiffCloser
{
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// The most one libtiff buffer may take: a whole capped image in a single strip at
// 8 bytes per pixel (16-bit RGBA). A header asking for more lies about its layout,
// for instance with hundreds of samples per pixel.
constexpr quint64 kMaxTiffBufferBytes = kMaxImagePixels * 8;

TIFF* openTiff(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
#if TIFFLIB_VERSION >= 20221213
    // libtiff 4.5 can refuse any single allocation above a limit, whatever it is for.
    if (TIFFOpenOptions* options = TIFFOpenOptionsAlloc()) {
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxTiffBufferBytes));
        TIFF* tiff = TIFFOpenExt(name.constData(), "r", options);
        TIFFOpenOptionsFree(options);
        return tiff;
    }
#endif
    return TIFFOpen(name.constData(), "r");
}

double tiffDpi(float resolution, uint16_t unit)
{
    double dpi = kFallbackDpi;
    if (resolution > 0.0f && std::isfinite(resolution)) {
        if (unit == RESUNIT_INCH)
            dpi = double(resolution);
        else if (unit == RESUNIT_CENTIMETER)
            dpi = double(resolution) * 2.54;
    }
    return std::isfinite(dpi) && dpi > 0.0 ? dpi : kFallbackDpi;
}

QString colorModelFor(uint16_t photometric, uint16_t samplesPerPixel)
{
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        return QStringLiteral("Grayscale");
    case PHOTOMETRIC_SEPARATED:
        return QStringLiteral("CMYK");
    case PHOTOMETRIC_RGB:
        return QStringLiteral("RGB");
    default:
        return samplesPerPixel >= 3 ? QStringLiteral("RGB") : QStringLiteral("Unknown");
    }
}

// libtiff's raster words hold red in the lowest byte; in memory on a little-endian
// machine that is the toolkit's byte-ordered RGBA, which it turns into 0xAARRGGBB
// words in place with its own swizzle.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr QImage::Format kRasterFormat = QImage::Format_RGBA8888;
#else
constexpr QImage::Format kRasterFormat = QImage::Format_ARGB32;
#endif

void rasterToArgb32(QImage& image)
{
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    image.convertTo(QImage::Format_ARGB32);
#else
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const quint32 p = line[x];
            line[x] = (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
        }
    }
#endif
}

} // namespace

PrintableImage ImageLoader::loadTiffImage(const QString& path) const
{
    const TiffHandle tiff(openTiff(path));
    if (!tiff)
        throw ImageLoadException(QStringLiteral("The file could not be read as a TIFF image."));

    uint32_t width = 0;
    uint32_t height = 0;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) == 0 ||
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) == 0) {
        throw ImageLoadException(QStringLiteral("The TIFF image size could not be read."));
    }

    uint16_t photometric = 0;
    uint16_t samplesPerPixel = 0;
    uint16_t resolutionUnit = RESUNIT_INCH;
    float xResolution = 0.0f;
    float yResolution = 0.0f;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_RESOLUTIONUNIT, &resolutionUnit);
    TIFFGetField(tiff.get(), TIFFTAG_XRESOLUTION, &xResolution);
    TIFFGetField(tiff.get(), TIFFTAG_YRESOLUTION, &yResolution);

    const QString colorModel = colorModelFor(photometric, samplesPerPixel);
    if (colorModel == QLatin1String("Unknown")) {
        throw ImageLoadException(
            QStringLiteral("Unsupported color model. Use an RGB, grayscale, or CMYK target image."));
    }

    uint32_t iccSize = 0;
    void* iccData = nullptr;
    const bool hasIccProfile =
        TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &iccSize, &iccData) == 1 && iccSize != 0 && iccData;

    const QString undecodable = QStringLiteral("The TIFF image data could not be decoded.");
    // A header may declare any size; refuse before a pixel buffer exists.
    checkPixelCount(width, height);
    if (width == 0 || height == 0)
        throw ImageLoadException(undecodable);
    const uint64_t chunkBytes =
        TIFFIsTiled(tiff.get()) ? TIFFTileSize64(tiff.get()) : TIFFStripSize64(tiff.get());
    if (chunkBytes == 0 || chunkBytes > kMaxTiffBufferBytes)
        throw ImageLoadException(undecodable);

    // libtiff decodes straight into the final image: its rows are 4 * width bytes
    // with no padding, exactly the raster layout it expects.
    QImage image(int(width), int(height), kRasterFormat);
    if (image.isNull())
        throw ImageLoadException(undecodable);
    // Stop at the first damaged strip or tile: garbage must not pass for a target.
    if (TIFFReadRGBAImageOriented(tiff.get(), width, height, reinterpret_cast<uint32_t*>(image.bits()),
                                  ORIENTATION_TOPLEFT, 1) == 0) {
        throw ImageLoadException(undecodable);
    }
    rasterToArgb32(image);

    PrintableImage result;
    result.filePath = path;
    result.fileName = QFileInfo(path).fileName();
    result.pixelWidth = width;
    result.pixelHeight = height;
    result.dpiX = tiffDpi(xResolution, resolutionUnit);
    result.dpiY = tiffDpi(yResolution, resolutionUnit);
    result.colorModel = colorModel;
    result.hasIccProfile = hasIccProfile;
    if (hasIccProfile)
        result.iccProfileDescription = QStringLiteral("Embedded ICC profile");
    result.image = image;
    return result;
}

} // namespace Lumetra
