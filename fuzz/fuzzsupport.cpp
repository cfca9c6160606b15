#include "fuzzsupport.h"

#include "encodedfacts.h"
#include "imageloader.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>

#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace Lumetra {

namespace {

QString g_directory;

void quietMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

[[noreturn]] void violation(const char* what)
{
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

bool isFallback(double dpi)
{
    return dpi == kFallbackDpi;
}

// What the first TIFF directory states, read by libtiff directly.
void checkTiffStatements(const QString& path, const PrintableImage& image)
{
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff)
        violation("a TIFF loaded that libtiff cannot open");
    uint16_t unit = RESUNIT_INCH;
    float x = 0;
    float y = 0;
    uint32_t iccSize = 0;
    void* iccData = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y);
    const bool profile =
        TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &iccSize, &iccData) == 1 && iccSize && iccData;
    uint32_t subfileType = 0;
    uint16_t oldSubfileType = 0;
    TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfileType);
    TIFFGetField(tiff, TIFFTAG_OSUBFILETYPE, &oldSubfileType);
    TIFFClose(tiff);
    // When the first directory is a thumbnail or a mask, a later one was loaded.
    if ((subfileType & (FILETYPE_REDUCEDIMAGE | FILETYPE_MASK)) || oldSubfileType == OFILETYPE_REDUCEDIMAGE)
        return;
    // A value that is not positive and finite states nothing; one stated axis stands for both.
    const double scale = unit == RESUNIT_INCH ? 1.0 : unit == RESUNIT_CENTIMETER ? 2.54 : 0.0;
    const auto stated = [scale](float value) {
        const double dpi = double(value) * scale;
        return std::isfinite(dpi) && dpi > 0.0 ? dpi : 0.0;
    };
    const double statedX = stated(x) > 0.0 ? stated(x) : stated(y);
    const double statedY = stated(y) > 0.0 ? stated(y) : stated(x);
    if (statedX == 0.0 ? !image.resolutionAssumed || !isFallback(image.dpiX) || !isFallback(image.dpiY)
                       : image.resolutionAssumed || image.dpiX != statedX || image.dpiY != statedY)
        violation("resolution differs from the one the file states");
    if (image.hasIccProfile != profile)
        violation("profile flag differs from the ICC profile tag");
}

// PNG and JPEG against an independent scan of their structure; other formats state nothing.
void checkEncodedStatements(QByteArrayView bytes, const PrintableImage& image)
{
    const bool png = bytes.startsWith(QByteArrayView("\x89PNG\r\n\x1A\n", 8));
    const bool jpeg = bytes.startsWith(QByteArrayView("\xFF\xD8\xFF", 3));
    const EncodedImageFacts facts = png ? scanPng(bytes) : jpeg ? scanJpeg(bytes) : EncodedImageFacts();
    const bool statesResolution = facts.statesResolutionX || facts.statesResolutionY || facts.carriesExif;
    if (!(isFallback(image.dpiX) && isFallback(image.dpiY)) && !statesResolution)
        violation("resolution the file does not state");
    if (!image.resolutionAssumed && !statesResolution)
        violation("resolution not marked as assumed where the file states none");
    if (image.hasIccProfile != facts.embedsIccProfile)
        violation("profile flag differs from the file's profile chunk or segments");
    if (png || jpeg) {
        if (!facts.complete)
            violation("a file without its end marker loaded");
    }
}

} // namespace

void initializeFuzzing()
{
    static int argc = 1;
    static char name[] = "lumetra-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    // The readers' own warnings only slow the fuzzer down.
    qInstallMessageHandler(quietMessages);
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    // Load the image plug-ins now, so their one-time allocations are not taken for leaks.
    QImageReader::supportedImageFormats();
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    g_directory =
        base + QStringLiteral("/lumetra-fuzz-") + QString::number(QCoreApplication::applicationPid());
    QDir().mkpath(g_directory);
}

void loadFuzzInput(const uint8_t* data, size_t size, const char* suffix)
{
    const QString path = g_directory + QStringLiteral("/input") + QLatin1String(suffix);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    try {
        const PrintableImage image = ImageLoader().load(path);
        if (image.image.isNull())
            violation("null image");
        if (image.pixelWidth != quint32(image.image.width()) ||
            image.pixelHeight != quint32(image.image.height()))
            violation("pixel size differs from the image");
        if (quint64(image.pixelWidth) * image.pixelHeight > kMaxImagePixels)
            violation("image above the pixel cap");
        if (!(std::isfinite(image.dpiX) && image.dpiX > 0.0 && std::isfinite(image.dpiY) && image.dpiY > 0.0))
            violation("resolution not finite and positive");
        if (image.colorModel != QLatin1String("RGB") && image.colorModel != QLatin1String("Grayscale") &&
            image.colorModel != QLatin1String("CMYK"))
            violation("unknown colour model");
        if (image.image.colorSpace().isValid())
            violation("colour space left on the image");
        if (!image.hasIccProfile && !image.iccProfileDescription.isEmpty())
            violation("profile description without a profile");
        if (image.resolutionAssumed && !(isFallback(image.dpiX) && isFallback(image.dpiY)))
            violation("resolution marked as assumed but not 72 dpi");
        if (image.ignoredChannels < 0)
            violation("negative count of ignored channels");
        if (QLatin1String(suffix) == QLatin1String(".tif"))
            checkTiffStatements(path, image);
        else
            checkEncodedStatements(QByteArrayView(data, qsizetype(size)), image);
    } catch (const ImageLoadException& e) {
        if (e.message().isEmpty())
            violation("empty failure message");
    } catch (const std::bad_alloc&) {
        // Reaches the user as an allocation failure; not a fault of the input handling.
    }
}

} // namespace Lumetra
