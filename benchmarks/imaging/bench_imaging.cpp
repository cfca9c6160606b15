// Measures ImageLoader::load on a large LZW RGB TIFF with many strips against
// the least work any reader must do (the floor), side by side in one run:
//   floor      TIFFReadEncodedStrip into one reusable buffer, each pixel written
//              once into a freshly allocated 32-bit QImage;
//   load       ImageLoader::load;
//   two-buffer a reader that decodes into a separate raster and converts word
//              by word into a second image (an approach the loader replaced).
// The same chart as PNG and as JPEG (quality 95) is then read by ImageLoader::load
// against Qt's own reader (QImageReader) on the same file.
// Peak memory is the growth of the peak resident set in a fresh child process
// per reader (Linux: the peak is reset through /proc/self/clear_refs first).
//
// Usage: bench_imaging [runs]   (default 9 timed runs per reader)

#include "imageloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr quint32 kWidth = 6732; // A3 at 600 dpi
constexpr quint32 kHeight = 9638;
constexpr quint32 kRowsPerStrip = 16;

// A chart of 24 x 34 flat patches with a thin grid, as targets are drawn.
bool writeTarget(const QString& path)
{
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 600.0);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 600.0);
    const quint32 patchW = kWidth / 24 + 1;
    const quint32 patchH = kHeight / 34 + 1;
    std::vector<uchar> strip(size_t(kWidth) * 3 * kRowsPerStrip);
    bool ok = true;
    for (quint32 s = 0; ok && s * kRowsPerStrip < kHeight; ++s) {
        const quint32 rows = std::min(kRowsPerStrip, kHeight - s * kRowsPerStrip);
        for (quint32 r = 0; r < rows; ++r) {
            const quint32 y = s * kRowsPerStrip + r;
            uchar* p = strip.data() + size_t(r) * kWidth * 3;
            for (quint32 x = 0; x < kWidth; ++x) {
                const quint32 patch = (y / patchH) * 24 + x / patchW;
                const bool grid = x % patchW < 3 || y % patchH < 3;
                const quint32 h = patch * 2654435761u;
                *p++ = grid ? 255 : uchar(h >> 24);
                *p++ = grid ? 255 : uchar(h >> 16);
                *p++ = grid ? 255 : uchar(h >> 8);
            }
        }
        ok = TIFFWriteEncodedStrip(tiff, s, strip.data(), tmsize_t(rows) * kWidth * 3) >= 0;
    }
    TIFFClose(tiff);
    return ok;
}

QImage floorRead(const QString& path)
{
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff)
        qFatal("floor: cannot open");
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rowsPerStrip = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    QImage image(int(width), int(height), QImage::Format_ARGB32);
    std::vector<uchar> buffer(size_t(TIFFStripSize(tiff)));
    const uint32_t strips = TIFFNumberOfStrips(tiff);
    for (uint32_t s = 0; s < strips; ++s) {
        if (TIFFReadEncodedStrip(tiff, s, buffer.data(), tmsize_t(buffer.size())) < 0)
            qFatal("floor: strip %u failed", s);
        const uint32_t first = s * rowsPerStrip;
        const uint32_t rows = std::min(rowsPerStrip, height - first);
        for (uint32_t r = 0; r < rows; ++r) {
            const uchar* in = buffer.data() + size_t(r) * width * 3;
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(int(first + r)));
            for (uint32_t x = 0; x < width; ++x, in += 3)
                out[x] = 0xFF000000u | (uint(in[0]) << 16) | (uint(in[1]) << 8) | uint(in[2]);
        }
    }
    TIFFClose(tiff);
    return image;
}

QImage twoBufferRead(const QString& path)
{
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff)
        qFatal("two-buffer: cannot open");
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    std::vector<uint32_t> raster(size_t(width) * height, 0u);
    if (!TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_TOPLEFT, 0))
        qFatal("two-buffer: decode failed");
    QImage image(int(width), int(height), QImage::Format_ARGB32);
    for (uint32_t y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<quint32*>(image.scanLine(int(y)));
        const uint32_t* in = raster.data() + size_t(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t p = in[x];
            out[x] = (p & 0xFF00FF00u) | ((p & 0xFFu) << 16) | ((p >> 16) & 0xFFu);
        }
    }
    TIFFClose(tiff);
    return image;
}

QImage loaderRead(const QString& path)
{
    return Lumetra::ImageLoader().load(path).image;
}

QImage toolkitRead(const QString& path)
{
    QImageReader reader(path);
    return reader.read();
}

using Reader = std::function<QImage(const QString&)>;

// One file per case; the first reader of each is its baseline.
struct Case
{
    const char* name;
    const char* file;
    std::vector<std::pair<const char*, Reader>> readers;
};

const std::vector<Case>& cases()
{
    static const std::vector<Case> list = {
        {"tiff", "target.tif", {{"floor", floorRead}, {"load", loaderRead}, {"two-buffer", twoBufferRead}}},
        {"png", "target.png", {{"QImageReader", toolkitRead}, {"load", loaderRead}}},
        {"jpeg", "target.jpg", {{"QImageReader", toolkitRead}, {"load", loaderRead}}}};
    return list;
}

#ifdef Q_OS_LINUX
qint64 statusKilobytes(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
#endif

// Child mode: run one reader once and print how far the peak resident set grew.
int measurePeak(const QString& caseName, const QString& reader, const QString& path)
{
#ifdef Q_OS_LINUX
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return 2;
    clear.close();
    const qint64 before = statusKilobytes("VmHWM:");
    const auto found = std::find_if(cases().begin(), cases().end(),
                                    [&](const Case& c) { return caseName == QLatin1String(c.name); });
    if (found == cases().end())
        return 4;
    for (const auto& [name, read] : found->readers) {
        if (reader == QLatin1String(name)) {
            const QImage image = read(path);
            const qint64 after = statusKilobytes("VmHWM:");
            std::printf("%lld\n", (after - before) * 1024);
            return image.isNull() ? 3 : 0;
        }
    }
    return 4;
#else
    Q_UNUSED(caseName)
    Q_UNUSED(reader)
    Q_UNUSED(path)
    return 5;
#endif
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::max(1.0, std::ceil(p * double(values.size()))));
    return values[std::min(rank, values.size()) - 1];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    // Qt's reader would otherwise refuse a decoded image above 128 MB.
    QImageReader::setAllocationLimit(0);
    if (args.size() == 5 && args[1] == QLatin1String("--peak"))
        return measurePeak(args[2], args[3], args[4]);
    const int runs = args.size() > 1 ? std::max(3, args[1].toInt()) : 9;

    QTemporaryDir dir;
    const QString tiffPath = dir.filePath(QStringLiteral("target.tif"));
    if (!dir.isValid() || !writeTarget(tiffPath)) {
        std::fprintf(stderr, "could not write the benchmark target\n");
        return 1;
    }
    const QImage reference = floorRead(tiffPath);
    QImageWriter png(dir.filePath(QStringLiteral("target.png")), "png");
    QImageWriter jpeg(dir.filePath(QStringLiteral("target.jpg")), "jpeg");
    jpeg.setQuality(95);
    if (!png.write(reference.convertToFormat(QImage::Format_RGB32)) ||
        !jpeg.write(reference.convertToFormat(QImage::Format_RGB32))) {
        std::fprintf(stderr, "could not write the PNG and JPEG targets\n");
        return 1;
    }
    const double pixels = double(kWidth) * kHeight;
    std::printf("target: %u x %u RGB chart; TIFF LZW with %u rows per strip (%u strips), %.1f MB; "
                "PNG %.1f MB; JPEG q95 %.1f MB; %d runs each\n",
                kWidth, kHeight, kRowsPerStrip, (kHeight + kRowsPerStrip - 1) / kRowsPerStrip,
                double(QFileInfo(tiffPath).size()) / 1e6,
                double(QFileInfo(dir.filePath(QStringLiteral("target.png"))).size()) / 1e6,
                double(QFileInfo(dir.filePath(QStringLiteral("target.jpg"))).size()) / 1e6, runs);

    std::printf(
        "\n| file | reader | median ms | p95 ms | median / baseline | peak memory, bytes per pixel |\n");
    std::printf("|---|---|---:|---:|---:|---:|\n");
    for (const Case& c : cases()) {
        const QString path = dir.filePath(QLatin1String(c.file));
        // All readers of a case must agree on every pixel before their times mean anything.
        const QImage expected = c.readers.front().second(path).convertToFormat(QImage::Format_ARGB32);
        for (const auto& [name, read] : c.readers) {
            if (read(path).convertToFormat(QImage::Format_ARGB32) != expected) {
                std::fprintf(stderr, "%s: %s does not produce the baseline's pixels\n", c.name, name);
                return 1;
            }
        }
        // Interleaved, so drift in the machine's load affects every reader alike.
        std::vector<std::vector<double>> times(c.readers.size());
        for (int run = 0; run < runs; ++run) {
            for (size_t i = 0; i < c.readers.size(); ++i) {
                QElapsedTimer timer;
                timer.start();
                const QImage image = c.readers[i].second(path);
                times[i].push_back(double(timer.nsecsElapsed()) / 1e6);
            }
        }
        const double baseline = percentile(times[0], 0.5);
        for (size_t i = 0; i < c.readers.size(); ++i) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--peak"), QString::fromLatin1(c.name),
                         QString::fromLatin1(c.readers[i].first), path});
            child.waitForFinished(-1);
            const qint64 peak =
                child.exitCode() == 0 ? child.readAllStandardOutput().trimmed().toLongLong() : -1;
            const QByteArray peakText = peak >= 0 ? QByteArray::number(double(peak) / pixels, 'f', 2) : "n/a";
            std::printf("| %s | %s | %.1f | %.1f | %.2f | %s |\n", c.name, c.readers[i].first,
                        percentile(times[i], 0.5), percentile(times[i], 0.95),
                        percentile(times[i], 0.5) / baseline, peakText.constData());
        }
    }
    return 0;
}
