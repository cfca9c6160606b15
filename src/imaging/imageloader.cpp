#include "imageloader.h"

#include "encodedfacts.h"
#include "imagelimits.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <cmath>

namespace Lumetra {

namespace {

constexpr double kInchesPerMeter = 39.37007874015748;

QString suffixOf(const QString& path)
{
    return (QStringLiteral(".") + QFileInfo(path).suffix()).toLower();
}

// The reader's allocation limit is process-wide; restore whatever was set before.
class AllocationLimitScope
{
public:
    explicit AllocationLimitScope(int megabytes) : m_previous(QImageReader::allocationLimit())
    {
        QImageReader::setAllocationLimit(megabytes);
    }
    ~AllocationLimitScope() { QImageReader::setAllocationLimit(m_previous); }
    AllocationLimitScope(const AllocationLimitScope&) = delete;
    AllocationLimitScope& operator=(const AllocationLimitScope&) = delete;

private:
    int m_previous;
};

// Enough for kMaxImagePixels at the widest format the toolkit decodes PNG and JPEG to
// (16-bit RGBA, 8 bytes per pixel), so the pixel cap is the only size limit.
constexpr int kAllocationLimitMegabytes = int((kMaxImagePixels * 8 + (1u << 20) - 1) >> 20);

double dpiFromDotsPerMeter(int dotsPerMeter, bool stated)
{
    if (!stated || dotsPerMeter < 1)
        return kFallbackDpi;
    const double dpi = dotsPerMeter / kInchesPerMeter;
    return std::isfinite(dpi) && dpi > 0.0 ? dpi : kFallbackDpi;
}

struct FileFacts
{
    bool known = false; // a PNG or JPEG whose structure was read
    EncodedImageFacts facts;
};

// Reads what a PNG or JPEG file states about itself. Other formats that the
// toolkit recognises by content are left to the toolkit's own account.
FileFacts readFileFacts(const QString& path, const QByteArray& format)
{
    FileFacts result;
    const bool png = format == "png";
    const bool jpeg = format == "jpeg" || format == "jpg";
    if (!png && !jpeg)
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const qint64 size = file.size();
    QByteArray copy;
    QByteArrayView bytes;
    if (size > 0) {
        if (const uchar* mapped = file.map(0, size))
            bytes = QByteArrayView(reinterpret_cast<const char*>(mapped), size);
    }
    if (bytes.isNull()) {
        copy = file.readAll();
        bytes = copy;
    }
    result.known = true;
    result.facts = png ? scanPng(bytes) : scanJpeg(bytes);
    return result;
}

} // namespace

void checkPixelCount(quint64 width, quint64 height)
{
    // Both factors fit in 32 bits, so the product cannot overflow 64 bits.
    if (width > 0xFFFFFFFFu || height > 0xFFFFFFFFu || width * height > kMaxImagePixels) {
        throw ImageLoadException(
            QStringLiteral("The image has more than 300 million pixels, the most Lumetra can load."));
    }
}

PrintableImage ImageLoader::load(const QString& path) const
{
    const QString suffix = suffixOf(path);
    if (suffix != QLatin1String(".tif") && suffix != QLatin1String(".tiff") &&
        suffix != QLatin1String(".jpg") && suffix != QLatin1String(".jpeg") &&
        suffix != QLatin1String(".png")) {
        throw ImageLoadException(QStringLiteral("Choose a TIFF, JPEG, or PNG image."));
    }
    if (suffix == QLatin1String(".tif") || suffix == QLatin1String(".tiff"))
        return loadTiffImage(path);
    return loadQtImage(path);
}

PrintableImage ImageLoader::loadQtImage(const QString& path) const
{
    const QString unreadable = QStringLiteral("The file could not be read as an image.");
    const AllocationLimitScope allocationLimit(kAllocationLimitMegabytes);

    QImageReader reader(path, QByteArray());
    reader.setAutoTransform(false);
    // The header's size is checked before the reader allocates anything.
    const QSize declared = reader.size();
    if (declared.isValid())
        checkPixelCount(quint64(declared.width()), quint64(declared.height()));
    const QByteArray format = reader.format();

    QImage image = reader.read();
    if (image.isNull())
        throw ImageLoadException(unreadable);

    const FileFacts file = readFileFacts(path, format);
    // The toolkit fills the missing part of a file that ends early with grey.
    if (file.known && !file.facts.complete)
        throw ImageLoadException(unreadable);

    PrintableImage result;
    result.filePath = path;
    result.fileName = QFileInfo(path).fileName();
    result.pixelWidth = quint32(image.width());
    result.pixelHeight = quint32(image.height());

    // The toolkit substitutes the screen's resolution where the file states none,
    // which differs between platforms; a missing resolution is 72 dpi everywhere.
    result.dpiX = dpiFromDotsPerMeter(image.dotsPerMeterX(), !file.known || file.facts.statesResolutionX);
    result.dpiY = dpiFromDotsPerMeter(image.dotsPerMeterY(), !file.known || file.facts.statesResolutionY);

#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    const bool cmyk = image.format() == QImage::Format_CMYK8888;
#else
    // Older toolkits decode CMYK JPEG to RGB; the frame header still tells.
    const bool cmyk = file.known && format != "png" && file.facts.frameComponents == 4;
#endif
    if (cmyk)
        result.colorModel = QStringLiteral("CMYK");
    else if (image.isGrayscale())
        result.colorModel = QStringLiteral("Grayscale");
    else
        result.colorModel = QStringLiteral("RGB");

    // The toolkit builds a colour space from gamma and chromaticity alone; only a
    // profile that the file really carries counts as embedded.
    const QColorSpace colorSpace = image.colorSpace();
    result.hasIccProfile = colorSpace.isValid() && !colorSpace.iccProfile().isEmpty() &&
                           (!file.known || file.facts.embedsIccProfile);
    if (result.hasIccProfile)
        result.iccProfileDescription = colorSpace.description();

    image.setColorSpace(QColorSpace());
    result.image = image;
    return result;
}

} // namespace Lumetra
