#include "imageloader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <tiffio.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include <atomic>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

using namespace Lumetra;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kLoaded = QStringLiteral("<loaded>");
const QString kChooseMessage = QStringLiteral("Choose a TIFF, JPEG, or PNG image.");
const QString kUnreadableMessage = QStringLiteral("The file could not be read as an image.");
const QString kNotTiffMessage = QStringLiteral("The file could not be read as a TIFF image.");
const QString kColorModelMessage =
    QStringLiteral("Unsupported color model. Use an RGB, grayscale, or CMYK target image.");
const QString kUndecodableMessage = QStringLiteral("The TIFF image data could not be decoded.");
const QString kTooLargeMessage =
    QStringLiteral("The image has more than 300 million pixels, the most Lumetra can load.");
const QString kNotAFileMessage =
    QStringLiteral("The path names a folder, pipe or device, not an image file.");
const QString kNoPhotometricMessage = QStringLiteral(
    "The TIFF image does not state its color model (it has no Photometric tag), so its colors are unknown.");
const QString kSignedMessage = QStringLiteral(
    "The TIFF image has signed samples, which Lumetra cannot print. Use unsigned 8- or 16-bit samples.");
const QString kFloatMessage = QStringLiteral("The TIFF image has floating-point samples, which Lumetra "
                                             "cannot print. Use unsigned 8- or 16-bit samples.");

// Every fixture lives in a folder whose name has spaces and non-ASCII characters.
QString g_folder;

QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = g_folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("could not write the fixture %s", qPrintable(path));
    return path;
}

// ---- TIFF fixtures, written with libtiff ----------------------------------

int patternSample(quint32 x, quint32 y, int sample)
{
    return int((x * 37 + y * 91 + quint32(sample) * 53 + 11) & 0xFF);
}

// Odd sizes: the last strip of 4 rows, and the one 48 x 48 tile, are partial.
struct TiffSpec
{
    quint16 photometric = PHOTOMETRIC_RGB;
    quint16 samples = 3;
    quint16 bits = 8; // 16-bit samples are written as v * 257, 1-bit ones as v >= 128
    quint16 compression = COMPRESSION_NONE;
    quint32 tileSize = 0; // 0 writes strips
    quint32 width = 37;
    quint32 height = 23;
    QByteArray raw = QByteArray(); // if set, the one strip or tile, whatever the header promises
    QByteArray iccProfile = QByteArray();
    int resolutionUnit = -1; // below 0: tag absent
    float xResolution = -1.0f;
    float yResolution = -1.0f;
    quint16 extraSample = EXTRASAMPLE_ASSOCALPHA; // for RGB with 4 samples
    quint16 sampleFormat = SAMPLEFORMAT_UINT;
    quint16 orientation = 0; // 0: tag absent
    bool separate = false;   // one plane per sample
    quint32 subfileType = 0; // NewSubfileType: bit 0 a reduced-resolution copy, bit 2 a mask
};

// Samples first to first + count - 1 of each pixel of row y; 16-bit samples are v * 257,
// narrower ones the top bits of v.
QByteArray packRow(const TiffSpec& spec, quint32 y, qsizetype size, int first, int count)
{
    QByteArray out(size, '\0');
    auto* p = reinterpret_cast<uchar*>(out.data());
    quint32 bit = 0;
    for (quint32 x = 0; x < spec.width; ++x) {
        for (int s = first; s < first + count; ++s) {
            const int v = patternSample(x, y, s);
            if (spec.bits < 8)
                p[bit / 8] |= uchar((v >> (8 - spec.bits)) << (8 - spec.bits - int(bit % 8)));
            else if (spec.bits == 8)
                *p++ = uchar(v);
            else
                qToUnaligned(quint16(v * 257), std::exchange(p, p + 2));
            bit += spec.bits;
        }
    }
    return out;
}

bool writeDirectory(TIFF* tiff, const TiffSpec& spec)
{
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, spec.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, spec.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, spec.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, spec.bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, spec.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, spec.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, spec.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (spec.photometric == PHOTOMETRIC_RGB && spec.samples == 4)
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &spec.extraSample);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, spec.sampleFormat);
    if (spec.subfileType)
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, spec.subfileType);
    if (spec.orientation)
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, spec.orientation);
    const bool jpeg = spec.compression == COMPRESSION_JPEG;
    if (jpeg) {
        // RGB in, YCbCr in the file; every strip a whole JPEG stream of its own.
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(tiff, TIFFTAG_JPEGTABLESMODE, 0);
    }
    std::vector<quint16> map(256);
    if (spec.photometric == PHOTOMETRIC_PALETTE)
        TIFFSetField(tiff, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    if (spec.resolutionUnit >= 0)
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, spec.resolutionUnit);
    if (spec.xResolution >= 0)
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, double(spec.xResolution));
    if (spec.yResolution >= 0)
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, double(spec.yResolution));
    if (!spec.iccProfile.isEmpty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, quint32(spec.iccProfile.size()), spec.iccProfile.constData());
    const quint32 tile = spec.tileSize;
    TIFFSetField(tiff, tile ? TIFFTAG_TILEWIDTH : TIFFTAG_ROWSPERSTRIP,
                 tile                 ? tile
                 : spec.raw.isEmpty() ? (jpeg ? 16 : 4)
                                      : spec.height);
    if (tile)
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, tile);
    QByteArray data = spec.raw;
    if (!data.isEmpty()) {
        return (tile ? TIFFWriteRawTile(tiff, 0, data.data(), data.size())
                     : TIFFWriteRawStrip(tiff, 0, data.data(), data.size())) >= 0 &&
               TIFFWriteDirectory(tiff);
    }
    const qsizetype rowBytes = tile ? TIFFTileRowSize(tiff) : TIFFScanlineSize(tiff);
    const int planes = spec.separate ? spec.samples : 1;
    bool written = true;
    for (int plane = 0; plane < planes; ++plane) {
        const int first = spec.separate ? plane : 0;
        const int count = spec.separate ? 1 : spec.samples;
        QByteArray rows;
        for (quint32 y = 0; y < (tile ? tile : spec.height); ++y)
            rows += y < spec.height ? packRow(spec, y, rowBytes, first, count) : QByteArray(rowBytes, '\0');
        written = written && (!tile || TIFFWriteTile(tiff, rows.data(), 0, 0, 0, quint16(plane)) >= 0);
        for (quint32 y = 0; !tile && y < spec.height; ++y)
            written = written && TIFFWriteScanline(tiff, rows.data() + y * rowBytes, y, quint16(plane)) >= 0;
    }
    return written && TIFFWriteDirectory(tiff);
}

// The page is followed by a second one of another size, which the loader must ignore.
QByteArray tiffBytes(const QList<TiffSpec>& directories)
{
    const QString path = writeFile(QStringLiteral("scratch.tif"), QByteArray());
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    bool written = tiff;
    for (const TiffSpec& spec : directories)
        written = written && writeDirectory(tiff, spec);
    if (tiff)
        TIFFClose(tiff);
    QFile file(path);
    if (!written || !file.open(QIODevice::ReadOnly))
        qFatal("could not write a TIFF fixture");
    return file.readAll();
}

QByteArray tiffBytes(const TiffSpec& spec)
{
    TiffSpec secondPage;
    secondPage.width = 9;
    return tiffBytes({spec, secondPage});
}

// What a TIFF written by tiffBytes loads as, from the samples of each pixel.
QImage tiffImage(const std::function<QRgb(const int* samples)>& pixel,
                 QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(37, 23, format);
    for (int i = 0; i < 37 * 23; ++i) {
        const int x = i % 37, y = i / 37;
        const int samples[] = {patternSample(x, y, 0), patternSample(x, y, 1), patternSample(x, y, 2),
                               patternSample(x, y, 3)};
        image.setPixel(x, y, pixel(samples));
    }
    return image;
}

// An 8-bit grayscale TIFF in one strip or tile holding just the given data.
QByteArray rawGrayTiff(quint32 w, quint32 h, quint16 compression, const QByteArray& raw, quint32 tile = 0)
{
    return tiffBytes({PHOTOMETRIC_MINISBLACK, 1, 8, compression, tile, w, h, raw});
}

// ---- PNG and JPEG fixtures, written with the toolkit ----------------------

QByteArray encode(const QImage& image, const QByteArray& format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(format == "png" ? -1 : 100);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image))
        qFatal("could not encode a %s fixture", format.constData());
    return bytes;
}

// A file described as "name=d30,r5,m30,x20": a full-size page 30 pixels wide, a reduced-resolution
// copy, a mask, and a full-size page whose data is cut short. A PNG is "name.png=30".
QString writePages(const QString& description)
{
    const QString name = description.section(QLatin1Char('='), 0, 0);
    const QStringList pages = description.section(QLatin1Char('='), 1).split(QLatin1Char(','));
    if (name.endsWith(QLatin1String(".png"))) {
        QImage image(pages.first().toInt(), 7, QImage::Format_RGB32);
        image.fill(Qt::gray);
        return writeFile(name, encode(image, "png"));
    }
    QList<TiffSpec> directories;
    for (const QString& page : pages) {
        TiffSpec spec{PHOTOMETRIC_MINISBLACK, 1, 8, COMPRESSION_NONE, 0, page.mid(1).toUInt(), 7};
        if (page.startsWith(QLatin1Char('x'))) {
            spec.compression = COMPRESSION_LZW;
            spec.raw = QByteArray("\x80\x00", 2);
        }
        spec.subfileType = page.startsWith(QLatin1Char('r'))   ? FILETYPE_REDUCEDIMAGE
                           : page.startsWith(QLatin1Char('m')) ? FILETYPE_MASK
                                                               : 0;
        directories << spec;
    }
    return writeFile(name, tiffBytes(directories));
}

QByteArray be32(quint32 v)
{
    v = qToBigEndian(v);
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& payload)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : type + payload) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return be32(quint32(payload.size())) + type + payload + be32(crc ^ 0xFFFFFFFFu);
}

QByteArray withChunkAfterHeader(QByteArray png, const QByteArray& type, const QByteArray& payload)
{
    return png.insert(8 + 25, pngChunk(type, payload)); // signature, then IHDR of 13 data bytes
}

// The toolkit's JPEG writer puts a JFIF segment first; this patches its density.
QByteArray withJfifDensity(QByteArray jpeg, char unit, quint16 x, quint16 y)
{
    return jpeg.replace(13, 5, QByteArray(1, unit) + be32((quint32(x) << 16) | y));
}

// Four solid quadrants, so JPEG's block coding leaves each colour nearly exact.
QImage quadrants(int w, int h)
{
    const QRgb colours[] = {qRgb(0xCC, 0x22, 0x11), qRgb(0x11, 0xAA, 0x33), qRgb(0x22, 0x44, 0xDD),
                            qRgb(0xF0, 0xF0, 0xF0)};
    QImage image(w, h, QImage::Format_RGB32);
    for (int i = 0; i < w * h; ++i)
        image.setPixel(i % w, i / w, colours[(i % w >= w / 2) + 2 * (i / w >= h / 2)]);
    return image;
}

// 16-bit values per channel and a varying alpha; each format keeps what it can hold.
QImage patterned(QImage::Format format)
{
    QImage image(6, 5, format);
    for (int i = 0; i < 30; ++i)
        image.setPixelColor(i % 6, i / 6,
                            QColor(QRgba64::fromRgba64(quint16(i * 10007), quint16(i * 9001 + 7),
                                                       quint16(60000 - i * 977), quint16(65535 - i * 2011))));
    return image;
}

QImage palette(const QList<QRgb>& table)
{
    QImage image(4, 2, QImage::Format_Indexed8);
    image.setColorTable(table);
    for (int i = 0; i < 8; ++i)
        image.setPixel(i % 4, i / 4, uint((i % 4 + i / 4) % 3));
    return image;
}

// A JPEG segment right after the JFIF segment the toolkit's writer puts first.
QByteArray withSegment(QByteArray jpeg, char marker, const QByteArray& payload)
{
    const QByteArray segment = QByteArray("\xFF", 1) + marker + char((payload.size() + 2) >> 8) +
                               char((payload.size() + 2) & 0xFF) + payload;
    return jpeg.insert(4 + qFromBigEndian<quint16>(jpeg.constData() + 4), segment);
}

// An Exif block (big-endian TIFF structure) with X/YResolution as n/1 and a resolution unit.
QByteArray exif(quint32 x, quint32 y, quint16 unit)
{
    const auto entry = [](quint16 tag, quint16 type, quint32 value) {
        return QByteArray(1, char(tag >> 8)) + char(tag & 0xFF) + char(0) + char(type) + be32(1) +
               be32(value);
    };
    return QByteArray("Exif\0\0MM\0*\0\0\0\x08\0\x03", 16) + entry(282, 5, 50) + entry(283, 5, 58) +
           entry(296, 3, quint32(unit) << 16) + be32(0) + be32(x) + be32(1) + be32(y) + be32(1);
}

// An output profile for CMYK, which the toolkit cannot parse, described by a version 2
// text tag or a version 4 Unicode tag.
QByteArray cmykProfile(const QString& description, bool version4)
{
    QByteArray tag;
    if (version4) {
        QByteArray text;
        for (const QChar c : description)
            text += char(c.unicode() >> 8) + QByteArray(1, char(c.unicode() & 0xFF));
        tag = "mluc" + QByteArray(4, '\0') + be32(1) + be32(12) + "enUS" + be32(quint32(text.size())) +
              be32(28) + text;
    } else {
        tag = "desc" + QByteArray(4, '\0') + be32(quint32(description.size() + 1)) + description.toLatin1() +
              QByteArray(1 + 4 + 4 + 2 + 1 + 67, '\0');
    }
    QByteArray header(128, '\0');
    header.replace(0, 4, be32(quint32(128 + 4 + 12 + tag.size())));
    header.replace(8, 4, version4 ? QByteArray("\x04\x30\0\0", 4) : QByteArray("\x02\x10\0\0", 4));
    header.replace(12, 12, "prtrCMYKLab ");
    header.replace(36, 4, "acsp");
    return header + be32(1) + "desc" + be32(144) + be32(quint32(tag.size())) + tag;
}

QByteArray testProfile()
{
    QColorSpace space(QColorSpace::SRgb);
    space.setDescription(QStringLiteral("Lumetra test profile"));
    return space.iccProfile();
}

// The invariants every returned image keeps.
void verifyInvariants(const PrintableImage& image, const QString& path)
{
    QCOMPARE(image.filePath, path);
    QCOMPARE(image.fileName, QFileInfo(path).fileName());
    QVERIFY(std::isfinite(image.dpiX) && image.dpiX > 0.0 && std::isfinite(image.dpiY) && image.dpiY > 0.0);
    QCOMPARE(image.pixelWidth, quint32(image.image.width()));
    QCOMPARE(image.pixelHeight, quint32(image.image.height()));
    QVERIFY(!image.image.colorSpace().isValid());
    QVERIFY(image.hasIccProfile || image.iccProfileDescription.isEmpty());
}

// Under the sanitizers every allocation can be watched; the largest single one
// shows whether a hostile header got a buffer allocated.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*))
    __attribute__((weak));
std::atomic<size_t> g_largestAllocation{0};
bool g_allocationsWatched = false;

void noteAllocation(const volatile void*, size_t size)
{
    size_t seen = g_largestAllocation.load();
    while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {
    }
}

void noteFree(const volatile void*) {}

} // namespace

class TestImaging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void outcome_data();
    void outcome();
    void pixels_data();
    void pixels();
    void nonRegularFiles();
    void pages();
    void targetSets_data();
    void targetSets();
    void regressionsReplay();

private:
    QTemporaryDir m_dir;
};

void TestImaging::initTestCase()
{
    QVERIFY(m_dir.isValid());
    g_folder = m_dir.filePath(QStringLiteral("Zielbilder für Drucker 日本"));
    QVERIFY(QDir().mkpath(g_folder));
    if (__sanitizer_install_malloc_and_free_hooks)
        g_allocationsWatched = __sanitizer_install_malloc_and_free_hooks(noteAllocation, noteFree) != 0;
    if (!g_allocationsWatched)
        qInfo("allocations are not watched in this build; the size-cap tests check messages only");
}

void TestImaging::outcome_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected"); // the message, or kLoaded
    QTest::addColumn<quint64>("atMost");   // bounds of the largest single allocation while loading
    QTest::addColumn<quint64>("atLeast");
    QTest::addColumn<double>("dpiX"); // 0: not checked
    QTest::addColumn<double>("dpiY");
    const auto row = [](const char* tag, const char* name, const QByteArray& bytes, const QString& expected,
                        quint64 atMost = ~0ull, quint64 atLeast = 0, double dpiX = 0, double dpiY = 0) {
        QTest::newRow(tag) << name << bytes << expected << atMost << atLeast << dpiX << dpiY;
    };

    const QByteArray png = encode(quadrants(8, 8), "png");
    const QByteArray jpeg = encode(quadrants(16, 16), "jpeg");
    const QByteArray tiff = tiffBytes(TiffSpec());
    // The suffix alone decides the path; on the toolkit path the content decides the format.
    row("tif.bak", "image.tif.bak", tiff, kChooseMessage);
    row("Scan.TIF", "Scan.TIF", tiff, kLoaded);
    row("png named .jpg", "png.jpg", png, kLoaded);
    row("png named .tif", "png.tif", png, kNotTiffMessage);
    row("text named .png", "text.png", "not an image\n", kUnreadableMessage);

    row("palette tiff", "palette.tif", tiffBytes(TiffSpec{PHOTOMETRIC_PALETTE, 1}), kColorModelMessage);
    // LZW data that ends before its end code.
    row("strip cut short", "cut.tif", rawGrayTiff(8, 8, COMPRESSION_LZW, QByteArray("\x80\x00", 2)),
        kUndecodableMessage);
    // libtiff writes the strips before the directory, so the start of the file is data.
    QByteArray damaged = tiffBytes(TiffSpec{PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW});
    damaged.replace(damaged.size() / 8, damaged.size() / 4, QByteArray(damaged.size() / 4, '\xFF'));
    row("damaged lzw strips", "damaged.tif", damaged, kUndecodableMessage);

    // Noise, so the compressed data is long and each cut lands inside it.
    QImage noise(64, 64, QImage::Format_RGB32);
    for (quint32 i = 0, seed = 12345; i < 64 * 64; ++i)
        noise.setPixel(int(i % 64), int(i / 64), (seed = seed * 1664525u + 1013904223u) >> 8);
    const QByteArray noisy = encode(noise, "jpeg");
    row("jpeg half", "half.jpg", noisy.left(noisy.size() / 2), kUnreadableMessage);
    row("jpeg without end marker", "cut.jpg", noisy.chopped(2), kUnreadableMessage);
    row("jpeg trailing bytes", "tail.jpg", noisy + QByteArray("\0\xFF\x00tail", 7), kLoaded);
    row("png without IEND", "cut.png", encode(noise, "png").chopped(12), kUnreadableMessage);

    // A3 at 600 dpi decodes to 260 MB, twice the toolkit's default allocation limit, and
    // A2 at 720 dpi (one byte per pixel here, to keep it quick) to 203 MB. Each must be
    // decoded whole: at least one byte per pixel is allocated.
    const auto large = [](int w, int h, QImage::Format format, const char* type) {
        QImage image(w, h, format);
        image.fill(QColor(0x55, 0x66, 0x77));
        return encode(image, type);
    };
    row("jpeg A3 600 dpi", "a3.jpg", large(6732, 9638, QImage::Format_RGB32, "jpeg"), kLoaded, ~0ull,
        6732 * 9638);
    row("png A2 720 dpi", "a2.png", large(12000, 16900, QImage::Format_Grayscale8, "png"), kLoaded, ~0ull,
        12000 * 16900);

    // Refused before a pixel buffer exists. At the cap the buffer is allocated, which
    // also shows that the watch works, and the missing data then fails.
    const quint64 noBuffer = 64u << 20;
    const quint64 cappedBuffer = 8 * kMaxImagePixels;
    const auto lzw = [](quint32 w, quint32 h) { return rawGrayTiff(w, h, COMPRESSION_LZW, "\x80\x00\x40"); };
    row("tiff 2^32 pixels", "huge.tif", lzw(65536, 65536), kTooLargeMessage, noBuffer);
    row("tiff one row over", "huge.tif", lzw(20000, 15001), kTooLargeMessage, noBuffer);
    row("tiff exactly the cap", "huge.tif", lzw(20000, 15000), kUndecodableMessage, cappedBuffer,
        kMaxImagePixels);
    // Found by fuzzing: 278 samples per pixel made libtiff ask for a 15.6 GB strip
    // buffer. The same lie in tiles: one 65520 x 65520 tile.
    QFile regression(QStringLiteral(LUMETRA_IMAGING_REGRESSIONS "/tiff-15gb-strip-buffer.tif"));
    QVERIFY(regression.open(QIODevice::ReadOnly));
    row("tiff strip too large", "strip.tif", regression.readAll(), kUndecodableMessage, cappedBuffer);
    row("tiff tile too large", "tile.tif",
        rawGrayTiff(16, 16, COMPRESSION_NONE, QByteArray(256, 'x'), 0xFFF0), kUndecodableMessage,
        cappedBuffer);
    // A new header on the small PNG: signature, then IHDR of 13 data bytes.
    const auto ihdr = [&png](quint32 w, quint32 h) {
        return png.left(8) + pngChunk("IHDR", be32(w) + be32(h) + png.mid(24, 5)) + png.mid(33);
    };
    row("png one row over", "huge.png", ihdr(20000, 15001), kTooLargeMessage, noBuffer);
    row("png exactly the cap", "huge.png", ihdr(20000, 15000), kUnreadableMessage);
    QByteArray frame = jpeg;
    frame.replace(jpeg.indexOf("\xFF\xC0") + 5, 4, be32((15001u << 16) | 20000u));
    row("jpeg one row over", "huge.jpg", frame, kTooLargeMessage, noBuffer);

    // Damage that the decoders repair and report only as a warning.
    row("jpeg cut with end marker", "cut.jpg", noisy.left(noisy.size() / 2) + "\xFF\xD9", kUnreadableMessage);
    QByteArray overwritten = noisy;
    overwritten.replace(noisy.size() / 2, 64, QByteArray(64, '\x55'));
    row("jpeg scan overwritten", "scan.jpg", overwritten, kUnreadableMessage);
    QByteArray claims = jpeg;
    claims.replace(jpeg.indexOf("\xFF\xC0") + 5, 4, be32((17000u << 16) | 17000u));
    row("jpeg header claims 17000 squared", "claims.jpg", claims, kUnreadableMessage, noBuffer);
    TiffSpec jpegTiff{PHOTOMETRIC_YCBCR, 3, 8, COMPRESSION_JPEG, 0, 37, 16};
    const QByteArray wholeJpegTiff = tiffBytes(jpegTiff);
    row("tiff jpeg", "jpeg.tif", wholeJpegTiff, kLoaded);
    {
        TIFF* t = TIFFOpen(
            QFile::encodeName(writeFile(QStringLiteral("strip.tif"), wholeJpegTiff)).constData(), "r");
        QVERIFY(t);
        jpegTiff.raw = QByteArray(int(TIFFRawStripSize(t, 0)), '\0');
        QVERIFY(TIFFReadRawStrip(t, 0, jpegTiff.raw.data(), jpegTiff.raw.size()) == jpegTiff.raw.size());
        TIFFClose(t);
    }
    jpegTiff.raw.chop(jpegTiff.raw.size() / 2);
    row("tiff jpeg strip cut short", "cut.tif", tiffBytes(jpegTiff), kUndecodableMessage);

    // Colour models and samples Lumetra does not print, each refused for what it is.
    const auto spec = [](const std::function<void(TiffSpec&)>& change) {
        TiffSpec s;
        change(s);
        return tiffBytes(s);
    };
    QByteArray noPhotometric = tiffBytes(TiffSpec());
    const QByteArray photometricEntry("\x06\x01\x03\0\x01\0\0\0", 8); // tag 262, SHORT, count 1
    QVERIFY(noPhotometric.indexOf(photometricEntry) > 0);
    noPhotometric.replace(noPhotometric.indexOf(photometricEntry), 2, "\xE8\xFD"); // a private tag
    row("tiff without photometric", "nophot.tif", noPhotometric, kNoPhotometricMessage);
    row("tiff signed 8-bit", "signed.tif", spec([](TiffSpec& s) { s.sampleFormat = SAMPLEFORMAT_INT; }),
        kSignedMessage);
    row("tiff float 32", "f32.tif", spec([](TiffSpec& s) {
            s.bits = 32;
            s.sampleFormat = SAMPLEFORMAT_IEEEFP;
            s.raw = QByteArray(int(s.width * s.height * 3 * 4), '\0');
        }),
        kFloatMessage);
    row("tiff 12-bit", "12.tif", spec([](TiffSpec& s) {
            s.bits = 12;
            s.raw = QByteArray(int(s.width * s.height * 3 * 12 / 8 + 1), '\0');
        }),
        QStringLiteral(
            "The TIFF image has 12-bit samples, which Lumetra cannot print. Use 8- or 16-bit samples."));

    // Resolutions, from the file alone.
    const auto dpi = [&row](const char* tag, const char* name, const QByteArray& bytes, double x, double y) {
        row(tag, name, bytes, kLoaded, ~0ull, 0, x, y);
    };
    const auto tiffAt = [](int unit, float x, float y) {
        return tiffBytes({PHOTOMETRIC_RGB, 3, 8, COMPRESSION_NONE, 0, 37, 23, {}, {}, unit, x, y});
    };
    const double cm = double(118.11f) * 2.54; // not rounded to 300
    dpi("tiff default unit is inch", "r.tif", tiffAt(-1, 240, 120), 240, 120);
    dpi("tiff centimetre 118.11", "r.tiff", tiffAt(RESUNIT_CENTIMETER, 118.11f, 118.11f), cm, cm);
    dpi("tiff unit none", "r.tif", tiffAt(RESUNIT_NONE, 300, 300), 72, 72);
    dpi("tiff no tags", "r.tif", tiffAt(-1, -1, -1), 72, 72);
    dpi("tiff y zero", "r.tif", tiffAt(RESUNIT_INCH, 300, 0), 300, 72);

    // The toolkit reads pHYs in dots per metre, and JFIF inches as int(100 * d / 2.54).
    constexpr double m = 39.37007874015748; // inches per metre
    QCOMPARE(png.mid(33 + 4, 4), "pHYs");   // the toolkit writes one right after the header
    const QByteArray unstated = QByteArray(png).remove(33, 12 + 9);
    const auto phys = [&unstated](quint32 x, quint32 y, char unit) {
        return withChunkAfterHeader(unstated, "pHYs", be32(x) + be32(y) + unit);
    };
    dpi("png without pHYs", "r.png", unstated, 72, 72);
    dpi("png 96 dpi", "r.png", phys(3780, 3780, 1), 3780 / m, 3780 / m);
    dpi("png aspect only", "r.png", phys(3780, 3780, 0), 72, 72);
    dpi("png zero x", "r.png", phys(0, 11811, 1), 72, 11811 / m);
    dpi("jpeg no density unit", "r.jpg", withJfifDensity(jpeg, 0, 1, 1), 72, 72);
    dpi("jpeg 96 dpi", "r.jpeg", withJfifDensity(jpeg, 1, 96, 96), 96, 96);
    dpi("jpeg 118 per cm", "r.jpg", withJfifDensity(jpeg, 2, 118, 59), 118 * 2.54, 59 * 2.54);
    dpi("jpeg JFIF aspect, Exif dpi", "r.jpg",
        withSegment(withJfifDensity(jpeg, 0, 1, 1), '\xE1', exif(300, 150, 2)), 300, 150);
    dpi("jpeg Exif per cm", "r.jpg", withSegment(withJfifDensity(jpeg, 0, 1, 1), '\xE1', exif(118, 118, 3)),
        118 * 2.54, 118 * 2.54);
    dpi("jpeg JFIF before Exif", "r.jpg",
        withSegment(withJfifDensity(jpeg, 1, 200, 200), '\xE1', exif(300, 300, 2)), 200, 200);
    // Only a pHYs before the image data with an intact checksum states a resolution.
    QByteArray badCrc = phys(11811, 11811, 1);
    badCrc[8 + 25 + 12 + 9 - 1] = char(badCrc[8 + 25 + 12 + 9 - 1] ^ 0x01);
    dpi("png pHYs bad checksum", "r.png", badCrc, 72, 72);
    dpi("png pHYs after the data", "r.png",
        QByteArray(unstated).insert(unstated.size() - 12, pngChunk("pHYs", be32(11811) + be32(11811) + '\1')),
        72, 72);
    // Another format under a JPEG name states nothing Lumetra takes on trust.
    QImage bmp = quadrants(8, 8);
    bmp.setDotsPerMeterX(11811);
    bmp.setDotsPerMeterY(11811);
    dpi("bmp named .jpg", "bmp.jpg", encode(bmp, "bmp"), 72, 72);
}

void TestImaging::outcome()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFETCH(quint64, atMost);
    QFETCH(quint64, atLeast);
    QFETCH(double, dpiX);
    QFETCH(double, dpiY);
    const QString file = writeFile(name, bytes);
    const int limitBefore = QImageReader::allocationLimit();
    g_largestAllocation = 0;
    PrintableImage image;
    QString message = kLoaded;
    try {
        image = ImageLoader().load(file);
    } catch (const ImageLoadException& e) {
        message = e.message();
    }
    const quint64 largest = g_largestAllocation.load();
    QCOMPARE(message, expected);
    if (g_allocationsWatched)
        QVERIFY2(largest <= atMost && largest >= atLeast, qPrintable(QString::number(largest)));
    // The loader lifts the toolkit's process-wide limit only while it reads.
    QCOMPARE(QImageReader::allocationLimit(), limitBefore);
    if (message == kLoaded)
        verifyInvariants(image, file);
    if (dpiX > 0) {
        QCOMPARE(image.dpiX, dpiX);
        QCOMPARE(image.dpiY, dpiY);
    }
}

void TestImaging::pixels_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("profile"); // the description of an embedded profile
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<int>("tolerance"); // above 0: lossy, only the quadrant centres are compared
    const auto row = [](const char* tag, const char* suffix, const QByteArray& bytes, const char* model,
                        const QImage& expected, int tolerance = 0, const char* profile = "") {
        QTest::newRow(tag) << suffix << bytes << model << profile << expected << tolerance;
    };

    const auto rgb = [](const int* s) { return qRgb(s[0], s[1], s[2]); };
    const auto gray = [](const int* s) { return qRgb(s[0], s[0], s[0]); };
    const auto black = [](const int* s) { return s[0] >= 128 ? qRgb(0, 0, 0) : qRgb(255, 255, 255); };
    // libtiff renders CMYK as R = (255 - K) * (255 - C) / 255, integer division.
    const auto cmyk = [](const int* s) {
        const int k = 255 - s[3];
        return qRgb(k * (255 - s[0]) / 255, k * (255 - s[1]) / 255, k * (255 - s[2]) / 255);
    };
    const auto tiff = [&row](const char* tag, const TiffSpec& spec, const char* model,
                             const std::function<QRgb(const int*)>& pixel,
                             QImage::Format format = QImage::Format_ARGB32) {
        row(tag, ".tif", tiffBytes(spec), model, tiffImage(pixel, format), 0,
            spec.iccProfile.isEmpty() ? "" : "Embedded ICC profile");
    };
    TiffSpec profiled{PHOTOMETRIC_SEPARATED, 4, 8, COMPRESSION_LZW};
    profiled.iccProfile = testProfile();
    tiff("tiff rgb8 lzw strips", {PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW}, "RGB", rgb);
    tiff("tiff rgb16 none tile", {PHOTOMETRIC_RGB, 3, 16, COMPRESSION_NONE, 48}, "RGB", rgb);
    TiffSpec planes{PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW};
    planes.separate = true;
    tiff("tiff rgb8 separate planes", planes, "RGB", rgb);
    planes.tileSize = 48;
    tiff("tiff rgb8 separate planes tile", planes, "RGB", rgb);
    tiff("tiff gray8", {PHOTOMETRIC_MINISBLACK, 1}, "Grayscale", gray);
    tiff("tiff gray4", {PHOTOMETRIC_MINISBLACK, 1, 4}, "Grayscale", [](const int* s) {
        const int v = (s[0] >> 4) * 255 / 15;
        return qRgb(v, v, v);
    });
    tiff("tiff 1-bit min-is-white", {PHOTOMETRIC_MINISWHITE, 1, 1}, "Grayscale", black);
    tiff("tiff cmyk8 profiled", profiled, "CMYK", cmyk);
    tiff("tiff cmyk16", {PHOTOMETRIC_SEPARATED, 4, 16, COMPRESSION_LZW}, "CMYK", cmyk);
    // Premultiplied samples keep their values in a premultiplied image; straight ones
    // stay straight instead of being darkened by their alpha.
    tiff(
        "tiff rgba associated", {PHOTOMETRIC_RGB, 4}, "RGB",
        [](const int* s) { return qRgba(qMin(s[0], s[3]), qMin(s[1], s[3]), qMin(s[2], s[3]), s[3]); },
        QImage::Format_ARGB32_Premultiplied);
    TiffSpec straight{PHOTOMETRIC_RGB, 4};
    straight.extraSample = EXTRASAMPLE_UNASSALPHA;
    tiff("tiff rgba unassociated", straight, "RGB",
         [](const int* s) { return qRgba(s[0], s[1], s[2], s[3]); });
    // Orientation is not applied on any path: the stored rows print as stored.
    TiffSpec turned;
    turned.orientation = ORIENTATION_RIGHTTOP;
    tiff("tiff orientation", turned, "RGB", rgb);

    const QList<std::tuple<const char*, QImage, const char*>> sources{
        {"png grayscale", patterned(QImage::Format_Grayscale8), "Grayscale"},
        {"png 16-bit", patterned(QImage::Format_RGBA64), "RGB"},
        {"png palette colour", palette({qRgb(255, 0, 0), qRgb(0, 128, 255), qRgb(10, 20, 30)}), "RGB"},
        // The toolkit calls a palette grayscale only when entry i is exactly (i, i, i).
        {"png palette gray ramp", palette({qRgb(0, 0, 0), qRgb(1, 1, 1), qRgb(2, 2, 2)}), "Grayscale"}};
    for (const auto& [tag, source, model] : sources)
        row(tag, ".png", encode(source, "png"), model, source);

    // Dropping a colour space converts nothing, and only an iCCP chunk is an embedded profile,
    // though the toolkit builds a non-empty one from gamma and chromaticity alone.
    const QImage plain = quadrants(8, 8);
    QImage withProfile = plain;
    withProfile.setColorSpace(QColorSpace::fromIccProfile(testProfile()));
    QByteArray chrm;
    for (quint32 v : {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u})
        chrm += be32(v);
    const QByteArray gamma =
        withChunkAfterHeader(withChunkAfterHeader(encode(plain, "png"), "cHRM", chrm), "gAMA", be32(45455));
    QVERIFY(!QImage::fromData(gamma).colorSpace().iccProfile().isEmpty());
    row("png embedded profile", ".png", encode(withProfile, "png"), "RGB", plain, 0, "Lumetra test profile");
    row("png gamma and chromaticity only", ".png", gamma, "RGB", plain);

    const QImage q = quadrants(32, 32);
    const QImage grayQ = q.convertToFormat(QImage::Format_Grayscale8);
    withProfile = q;
    withProfile.setColorSpace(QColorSpace::fromIccProfile(testProfile()));
    const QByteArray progressive = encode(q, "jpeg", true);
    QVERIFY(progressive.contains("\xFF\xC2"));
    row("jpeg progressive", ".jpeg", progressive, "RGB", q, 3);
    row("jpeg grayscale", ".jpg", encode(grayQ, "jpeg"), "Grayscale", grayQ, 3);
    row("jpeg embedded profile", ".jpg", encode(withProfile, "jpeg"), "RGB", q, 3, "Lumetra test profile");
    // An Exif orientation 6 asks for a quarter turn, which a target must not get.
    QByteArray rotated = encode(quadrants(40, 16), "jpeg");
    rotated.insert(4 + qFromBigEndian<quint16>(rotated.constData() + 4),
                   QByteArray("\xFF\xE1\0\x22"
                              "Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0",
                              36));
    QBuffer buffer(&rotated);
    QCOMPARE(QImageReader(&buffer).transformation(), QImageIOHandler::TransformationRotate90);
    row("jpeg Exif orientation", ".jpg", rotated, "RGB", quadrants(40, 16), 3);
    // Profiles the toolkit cannot parse still count, described by their own tag.
    const QByteArray v4 = cmykProfile(QStringLiteral("Druckerprofil für CMYK"), true);
    QVERIFY(!QColorSpace::fromIccProfile(v4).isValid());
    row("png cmyk profile", ".png",
        withChunkAfterHeader(encode(plain, "png"), "iCCP",
                             QByteArray("Printer\0\0", 9) + qCompress(v4).mid(4)),
        "RGB", plain, 0, "Druckerprofil für CMYK");
    const QByteArray v2 = cmykProfile(QStringLiteral("Press CMYK v2"), false);
    row("jpeg cmyk profile", ".jpg",
        withSegment(encode(q, "jpeg"), '\xE2', QByteArray("ICC_PROFILE\0\1\1", 14) + v2), "RGB", q, 3,
        "Press CMYK v2");
    // Left half full magenta, right half full black (see fixtures/make_cmyk_jpeg.c).
    QFile cmykFixture(QStringLiteral(LUMETRA_IMAGING_FIXTURES "/cmyk.jpg"));
    QVERIFY(cmykFixture.open(QIODevice::ReadOnly));
    QImage halves(16, 8, QImage::Format_RGB32);
    for (int i = 0; i < 16 * 8; ++i)
        halves.setPixel(i % 16, i / 16, i % 16 < 8 ? 0xFFFF00FF : 0xFF000000);
    row("jpeg cmyk", ".jpg", cmykFixture.readAll(), "CMYK", halves, 2);
}

void TestImaging::pixels()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, model);
    QFETCH(QString, profile);
    QFETCH(QImage, expected);
    QFETCH(int, tolerance);
    const QString file = writeFile(QStringLiteral("Farbkarte Größe ✓") + suffix, bytes);
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image, file);
    QCOMPARE(image.colorModel, model);
    QCOMPARE(image.hasIccProfile, !profile.isEmpty());
    QCOMPARE(image.iccProfileDescription, profile);
    QCOMPARE(image.image.size(), expected.size());
    if (suffix == QLatin1String(".tif"))
        QCOMPARE(image.image.format(), expected.format());
    // At 16 bits per channel, so 16-bit samples must survive exactly.
    if (tolerance == 0)
        QCOMPARE(image.image.convertToFormat(QImage::Format_RGBA64),
                 expected.convertToFormat(QImage::Format_RGBA64));
    const int w = expected.width();
    const int h = expected.height();
    for (const QPoint p : {QPoint(w / 4, h / 4), QPoint(3 * w / 4, h / 4), QPoint(w / 4, 3 * h / 4)}) {
        const QRgb a = image.image.pixel(p);
        const QRgb e = expected.pixel(p);
        QVERIFY2(qAbs(qRed(a) - qRed(e)) <= tolerance && qAbs(qGreen(a) - qGreen(e)) <= tolerance &&
                     qAbs(qBlue(a) - qBlue(e)) <= tolerance,
                 qPrintable(QStringLiteral("pixel (%1, %2) is %3").arg(p.x()).arg(p.y()).arg(a, 8, 16)));
    }
}

void TestImaging::targetSets_data()
{
    QTest::addColumn<QStringList>("files"); // as writePages takes them, in the order given
    QTest::addColumn<QString>("expected");  // each page's name and width, or the message
    const auto row = [](const char* tag, const QStringList& files, const QString& expected) {
        QTest::newRow(tag) << files << expected;
    };
    row("thumbnail and mask pass over", {u"chart.tif=r5,d30,m30,d31,r6"_s},
        u"chart.tif, page 1: 30 | chart.tif, page 2: 31"_s);
    row("one full page among thumbnails", {u"one.tif=r5,d30"_s}, u"one.tif: 30"_s);
    row("natural order of names", {u"s_10.tif=d10"_s, u"S_2.png=2"_s, u"s_1.tif=d1"_s, u"s_02b.tif=d3"_s},
        u"s_1.tif: 1 | S_2.png: 2 | s_02b.tif: 3 | s_10.tif: 10"_s);
    row("files and their pages", {u"b.tif=d2,d3"_s, u"a.tif=d1"_s},
        u"a.tif: 1 | b.tif, page 1: 2 | b.tif, page 2: 3"_s);
    row("only thumbnails", {u"thumbs.tif=r5,m5"_s},
        u"The file holds no full-resolution image, only thumbnails or masks."_s);
    row("later page damaged", {u"sheet_1.tif=d10"_s, u"sheet_2.tif=d10,x10,d10"_s},
        u"sheet_2.tif, page 2: "_s + kUndecodableMessage);
    row("single page damaged", {u"alone.tif=x10"_s}, kUndecodableMessage);
    row("unreadable file among several", {u"t_1.tif=d10"_s, u"t_2.png=4"_s, u"t_3.txt=4"_s},
        u"t_3.txt: "_s + kChooseMessage);
}

// Pages in order, only the first decoded; one refused page refuses the set, naming it.
void TestImaging::targetSets()
{
    QFETCH(QStringList, files);
    QFETCH(QString, expected);
    QStringList paths;
    for (const QString& file : files)
        paths << (file.endsWith(QLatin1String(".txt=4")) ? writeFile(file.section(u'=', 0, 0), "text")
                                                         : writePages(file));
    QStringList pages;
    try {
        const LoadedTargetSet loaded = ImageLoader().loadSet(paths);
        for (const TargetPage& page : loaded.set.pages) {
            QVERIFY(page.facts.image.isNull());
            pages << page.name() + u": "_s + QString::number(page.facts.pixelWidth);
        }
        QCOMPARE(loaded.firstPage.pixelWidth, loaded.set.pages.first().facts.pixelWidth);
        QCOMPARE(quint32(loaded.firstPage.image.width()), loaded.firstPage.pixelWidth);
        // Each page decodes again on its own, as the preview and the print ask for it.
        const TargetPage& last = loaded.set.pages.last();
        QCOMPARE(quint32(ImageLoader().loadPage(last).image.width()), last.facts.pixelWidth);
    } catch (const ImageLoadException& e) {
        pages << e.message();
    }
    QCOMPARE(pages.join(u" | "_s), expected);
}

// Opening a pipe blocks until a writer comes; a folder is no image either.
void TestImaging::nonRegularFiles()
{
    QStringList paths{g_folder + QStringLiteral("/folder.png")};
    QVERIFY(QDir().mkpath(paths.first()));
#ifdef Q_OS_UNIX
    paths << g_folder + QStringLiteral("/pipe.tif");
    QCOMPARE(::mkfifo(QFile::encodeName(paths.last()).constData(), 0600), 0);
#endif
    for (const QString& path : paths) {
        QString message;
        try {
            ImageLoader().load(path);
        } catch (const ImageLoadException& e) {
            message = e.message();
        }
        QCOMPARE(message, kNotAFileMessage);
    }
#ifndef Q_OS_UNIX
    QSKIP("named pipes exist only on Unix systems; the folder was checked");
#endif
}

// Thumbnails and masks are not pages; the pages keep their order.
void TestImaging::pages()
{
    TiffSpec thumbnail{PHOTOMETRIC_RGB, 3, 8, COMPRESSION_NONE, 0, 5, 3};
    thumbnail.subfileType = FILETYPE_REDUCEDIMAGE;
    TiffSpec mask{PHOTOMETRIC_MASK, 1, 1, COMPRESSION_NONE, 0, 37, 23};
    mask.subfileType = FILETYPE_MASK;
    TiffSpec first;
    first.subfileType = FILETYPE_PAGE;
    TiffSpec second = first;
    second.width = 9;
    const QString tiff =
        writeFile(QStringLiteral("pages.tif"), tiffBytes({thumbnail, first, mask, second, thumbnail}));
    const QString png = writeFile(QStringLiteral("page.png"), encode(quadrants(8, 8), "png"));
    const QString thumbnailsOnly =
        writeFile(QStringLiteral("thumbnail.tif"), tiffBytes(QList<TiffSpec>{thumbnail}));
    const ImageLoader loader;
    QCOMPARE(loader.pageCount(tiff), 2);
    QCOMPARE(loader.pageCount(png), 1);
    QCOMPARE(loader.pageCount(thumbnailsOnly), 0);
    QCOMPARE(loader.load(tiff).image, tiffImage([](const int* s) { return qRgb(s[0], s[1], s[2]); }));
    QCOMPARE(loader.load(tiff, 1).pixelWidth, 9u);
    const QList<std::tuple<QString, int, QString>> refused{
        {tiff, 2, QStringLiteral("The file holds 2 pages, so page 3 cannot be loaded.")},
        {tiff, -1, QStringLiteral("The file holds 2 pages, so page 0 cannot be loaded.")},
        {png, 1, QStringLiteral("The file holds 1 page, so page 2 cannot be loaded.")},
        {thumbnailsOnly, 0,
         QStringLiteral("The file holds no full-resolution image, only thumbnails or masks.")}};
    for (const auto& [path, page, expected] : refused) {
        QString message;
        try {
            loader.load(path, page);
        } catch (const ImageLoadException& e) {
            message = e.message();
        }
        QCOMPARE(message, expected);
    }
}

void TestImaging::regressionsReplay()
{
    // Inputs that once crashed, hung or exhausted memory: each must now load or
    // fail with a message, and a load must keep every invariant.
    const QDir folder(QStringLiteral(LUMETRA_IMAGING_REGRESSIONS));
    const QStringList files = folder.entryList(QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString& name : files) {
        try {
            const PrintableImage image = ImageLoader().load(folder.filePath(name));
            verifyInvariants(image, folder.filePath(name));
        } catch (const ImageLoadException& e) {
            QVERIFY2(!e.message().isEmpty(), qPrintable(name));
        }
    }
}

QTEST_GUILESS_MAIN(TestImaging)
#include "tst_imaging.moc"
