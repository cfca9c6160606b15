#include "fuzzsupport.h"

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
    } catch (const ImageLoadException& e) {
        if (e.message().isEmpty())
            violation("empty failure message");
    } catch (const std::bad_alloc&) {
        // Reaches the user as an allocation failure; not a fault of the input handling.
    }
}

} // namespace Lumetra
