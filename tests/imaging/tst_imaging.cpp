#include "encodedfacts.h"
#include "imageloader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <tiffio.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

using namespace Lumetra;

namespace {

const QString kChooseMessage = QStringLiteral("Choose a TIFF, JPEG, or PNG image.");
const QString kUnreadableMessage = QStringLiteral("The file could not be read as an image.");
const QString kNotTiffMessage = QStringLiteral("The file could not be read as a TIFF image.");
const QString kTiffSizeMessage = QStringLiteral("The TIFF image size could not be read.");
const QString kColorModelMessage =
    QStringLiteral("Unsupported color model. Use an RGB, grayscale, or CMYK target image.");
const QString kUndecodableMessage = QStringLiteral("The TIFF image data could not be decoded.");
const QString kTooLargeMessage =
    QStringLiteral("The image has more than 300 million pixels, the most Lumetra can load.");

// ---- TIFF fixtures, written with libtiff ----------------------------------

using SampleFunction = std::function<quint16(quint32 x, quint32 y, int sample)>;

struct TiffSpec
{
    quint32 width = 5;
    quint32 height = 4;
    quint16 samples = 3;
    quint16 bits = 8;
    quint16 photometric = PHOTOMETRIC_RGB;
    quint16 compression = COMPRESSION_NONE;
    quint32 rowsPerStrip = 1;
    quint32 tileSize = 0; // 0 writes strips
    bool associatedAlpha = false;
    std::optional<quint16> resolutionUnit;
    std::optional<float> xResolution;
    std::optional<float> yResolution;
    QByteArray iccProfile;
    SampleFunction sample;
};

// A pattern that differs per pixel and per channel, within 0..255.
quint16 patternSample(quint32 x, quint32 y, int sample)
{
    return quint16((x * 37 + y * 91 + quint32(sample) * 53 + 11) & 0xFF);
}

void packRow(const TiffSpec& spec, quint32 y, quint32 x0, quint32 count, QByteArray& out)
{
    if (spec.bits == 1) {
        out.fill(0, qsizetype((count + 7) / 8));
        for (quint32 i = 0; i < count; ++i) {
            if (spec.sample(x0 + i, y, 0))
                out[qsizetype(i / 8)] = char(uchar(out[qsizetype(i / 8)]) | (0x80 >> (i % 8)));
        }
        return;
    }
    const int bytes = spec.bits / 8;
    out.fill(0, qsizetype(count) * spec.samples * bytes);
    auto* p = reinterpret_cast<uchar*>(out.data());
    for (quint32 i = 0; i < count; ++i) {
        for (int s = 0; s < spec.samples; ++s) {
            const quint16 v = spec.sample(x0 + i, y, s);
            if (bytes == 1) {
                *p++ = uchar(v);
            } else {
                const quint16 native = v;
                std::memcpy(p, &native, 2);
                p += 2;
            }
        }
    }
}

bool writeTiffDirectory(TIFF* tiff, const TiffSpec& spec)
{
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, spec.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, spec.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, spec.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, spec.bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, spec.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, spec.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (spec.associatedAlpha) {
        const quint16 extra[] = {EXTRASAMPLE_ASSOCALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (spec.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
    if (spec.photometric == PHOTOMETRIC_PALETTE) {
        static std::vector<quint16> map(256);
        for (int i = 0; i < 256; ++i)
            map[size_t(i)] = quint16(i * 257);
        TIFFSetField(tiff, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    }
    if (spec.resolutionUnit)
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, *spec.resolutionUnit);
    if (spec.xResolution)
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, double(*spec.xResolution));
    if (spec.yResolution)
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, double(*spec.yResolution));
    if (!spec.iccProfile.isEmpty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, quint32(spec.iccProfile.size()), spec.iccProfile.constData());

    QByteArray row;
    if (spec.tileSize == 0) {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, spec.rowsPerStrip);
        for (quint32 y = 0; y < spec.height; ++y) {
            packRow(spec, y, 0, spec.width, row);
            if (TIFFWriteScanline(tiff, row.data(), y, 0) < 0)
                return false;
        }
    } else {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, spec.tileSize);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, spec.tileSize);
        const tmsize_t tileBytes = TIFFTileSize(tiff);
        QByteArray tile;
        for (quint32 ty = 0; ty < spec.height; ty += spec.tileSize) {
            for (quint32 tx = 0; tx < spec.width; tx += spec.tileSize) {
                tile.fill(0, tileBytes);
                const qsizetype rowBytes = tileBytes / spec.tileSize;
                for (quint32 r = 0; r < spec.tileSize && ty + r < spec.height; ++r) {
                    packRow(spec, ty + r, tx, qMin(spec.tileSize, spec.width - tx), row);
                    std::memcpy(tile.data() + r * rowBytes, row.constData(), size_t(row.size()));
                }
                if (TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0) < 0)
                    return false;
            }
        }
    }
    return TIFFWriteDirectory(tiff) != 0;
}

bool writeTiff(const QString& path, const QList<TiffSpec>& pages)
{
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    bool ok = true;
    for (const TiffSpec& page : pages)
        ok = ok && writeTiffDirectory(tiff, page);
    TIFFClose(tiff);
    return ok;
}

TiffSpec rgbSpec()
{
    TiffSpec spec;
    spec.sample = patternSample;
    return spec;
}

// A hand-built single-strip 8-bit grayscale TIFF whose header may promise more
// than the file holds.
QByteArray handmadeGrayTiff(quint32 width, quint32 height, quint16 compression, const QByteArray& data,
                            quint32 declaredByteCount)
{
    QByteArray out("II*\0\x08\0\0\0", 8);
    auto put16 = [&out](quint16 v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto put32 = [&](quint32 v) {
        put16(quint16(v & 0xFFFF));
        put16(quint16(v >> 16));
    };
    const quint16 entries = 9;
    const quint32 dataOffset = 8 + 2 + entries * 12 + 4;
    auto entry = [&](quint16 tag, quint16 type, quint32 value) {
        put16(tag);
        put16(type);
        put32(1);
        if (type == 3) {
            put16(quint16(value));
            put16(0);
        } else {
            put32(value);
        }
    };
    put16(entries);
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, 8);
    entry(259, 3, compression);
    entry(262, 3, PHOTOMETRIC_MINISBLACK);
    entry(273, 4, dataOffset);
    entry(277, 3, 1);
    entry(278, 4, height);
    entry(279, 4, declaredByteCount);
    put32(0);
    out.append(data);
    return out;
}

// ---- PNG and JPEG fixtures, written with the toolkit ----------------------

QByteArray encode(const QImage& image, const QByteArray& format, int quality = -1, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image))
        qFatal("could not encode a %s fixture: %s", format.constData(), qPrintable(writer.errorString()));
    return bytes;
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

QByteArray bigEndian32(quint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((v >> (24 - 8 * i)) & 0xFF);
    return out;
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& payload)
{
    return bigEndian32(quint32(payload.size())) + type + payload + bigEndian32(crc32(type + payload));
}

struct PngChunkRef
{
    qsizetype offset;
    qsizetype size;
    QByteArray type;
};

QList<PngChunkRef> pngChunks(const QByteArray& png)
{
    QList<PngChunkRef> chunks;
    qsizetype pos = 8;
    while (pos + 12 <= png.size()) {
        const quint32 length = (quint32(uchar(png[pos])) << 24) | (quint32(uchar(png[pos + 1])) << 16) |
                               (quint32(uchar(png[pos + 2])) << 8) | quint32(uchar(png[pos + 3]));
        chunks.append({pos, qsizetype(length) + 12, png.mid(pos + 4, 4)});
        pos += qsizetype(length) + 12;
    }
    return chunks;
}

// Drops every chunk of the given types; the other chunks keep their CRCs.
QByteArray withoutChunks(QByteArray png, const QList<QByteArray>& types)
{
    const QList<PngChunkRef> chunks = pngChunks(png);
    for (auto it = chunks.crbegin(); it != chunks.crend(); ++it) {
        if (types.contains(it->type))
            png.remove(it->offset, it->size);
    }
    return png;
}

QByteArray withChunkAfterHeader(QByteArray png, const QByteArray& chunk)
{
    return png.insert(8 + 25, chunk); // signature, then IHDR of 13 data bytes
}

QByteArray physChunk(quint32 x, quint32 y, char unit)
{
    return pngChunk("pHYs", bigEndian32(x) + bigEndian32(y) + QByteArray(1, unit));
}

// A PNG whose header declares the given size, followed by a few bytes of image data.
QByteArray headerOnlyPng(quint32 width, quint32 height)
{
    QByteArray ihdr = bigEndian32(width) + bigEndian32(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", QByteArray("\x78\x9c\x63\x00\x00", 5)) + pngChunk("IEND", QByteArray());
}

// The toolkit's JPEG writer puts a JFIF segment first; these patch or drop it.
QByteArray withJfifDensity(QByteArray jpeg, char unit, quint16 x, quint16 y)
{
    if (jpeg.mid(6, 5) != QByteArray("JFIF\0", 5))
        qFatal("the JPEG fixture does not start with a JFIF segment");
    jpeg[13] = unit;
    jpeg[14] = char(x >> 8);
    jpeg[15] = char(x & 0xFF);
    jpeg[16] = char(y >> 8);
    jpeg[17] = char(y & 0xFF);
    return jpeg;
}

QByteArray withoutJfif(QByteArray jpeg)
{
    const int length = (uchar(jpeg[4]) << 8) | uchar(jpeg[5]);
    return jpeg.remove(2, 2 + length);
}

bool containsMarker(const QByteArray& jpeg, uchar marker)
{
    return jpeg.contains(QByteArray("\xFF") + char(marker));
}

// Four solid quadrants, so JPEG's block coding leaves each colour nearly exact.
QImage quadrants(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, QColor(0xCC, 0x22, 0x11));
    painter.fillRect(width / 2, 0, width - width / 2, height / 2, QColor(0x11, 0xAA, 0x33));
    painter.fillRect(0, height / 2, width / 2, height - height / 2, QColor(0x22, 0x44, 0xDD));
    painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, QColor(0xF0, 0xF0, 0xF0));
    return image;
}

bool nearColor(QRgb actual, QRgb expected, int tolerance)
{
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

QString hex(QRgb value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString loadFailure(const QString& path)
{
    try {
        ImageLoader().load(path);
    } catch (const ImageLoadException& e) {
        return e.message();
    }
    return QStringLiteral("<loaded>");
}

// The invariants every returned image keeps.
void verifyInvariants(const PrintableImage& image)
{
    QVERIFY(image.colorModel == QLatin1String("RGB") || image.colorModel == QLatin1String("Grayscale") ||
            image.colorModel == QLatin1String("CMYK"));
    QVERIFY(std::isfinite(image.dpiX) && image.dpiX > 0.0);
    QVERIFY(std::isfinite(image.dpiY) && image.dpiY > 0.0);
    QCOMPARE(image.pixelWidth, quint32(image.image.width()));
    QCOMPARE(image.pixelHeight, quint32(image.image.height()));
    QVERIFY(!image.image.isNull());
    QVERIFY(!image.image.colorSpace().isValid());
    if (!image.hasIccProfile)
        QVERIFY(image.iccProfileDescription.isEmpty());
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

// The failure message of a load, and the largest single allocation made during it
// (0 when allocations cannot be watched in this build).
std::pair<QString, size_t> loadWatchingAllocations(const QString& path)
{
    g_largestAllocation = 0;
    const QString message = loadFailure(path);
    return {message, g_largestAllocation.load()};
}

constexpr size_t kNoPixelBuffer = 64u << 20; // far below any buffer for the declared sizes

QByteArray testProfile()
{
    QColorSpace space(QColorSpace::SRgb);
    space.setDescription(QStringLiteral("Lumetra test profile"));
    return space.iccProfile();
}

} // namespace

Q_DECLARE_METATYPE(TiffSpec)

class TestImaging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void exceptionText_data();
    void exceptionText();
    void suffixRouting_data();
    void suffixRouting();

    void tiffPixels_data();
    void tiffPixels();
    void tiffResolution_data();
    void tiffResolution();
    void tiffProfile();
    void tiffFirstPageOnly();
    void tiffFailures_data();
    void tiffFailures();
    void tiffDamagedStripFails();
    void tiffSizeCap_data();
    void tiffSizeCap();
    void tiffHostileLayout();

    void pngPixels_data();
    void pngPixels();
    void pngProfile_data();
    void pngProfile();
    void missingResolution_data();
    void missingResolution();
    void jpegPixels_data();
    void jpegPixels();
    void jpegIccProfile();
    void jpegStoredOrientationIgnored();
    void cmykJpeg();
    void truncatedToolkitFiles_data();
    void truncatedToolkitFiles();
    void toolkitSizeCap_data();
    void toolkitSizeCap();
    void contentMismatch_data();
    void contentMismatch();
    void nonAsciiPaths_data();
    void nonAsciiPaths();
    void largeTargetsLoad_data();
    void largeTargetsLoad();

    void jpegStructure_data();
    void jpegStructure();
    void regressionsReplay();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void TestImaging::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (__sanitizer_install_malloc_and_free_hooks)
        g_allocationsWatched = __sanitizer_install_malloc_and_free_hooks(noteAllocation, noteFree) != 0;
    if (!g_allocationsWatched)
        qInfo("allocations are not watched in this build; the size-cap tests check messages only");
}

void TestImaging::exceptionText_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("ascii") << kChooseMessage;
    QTest::newRow("non-ascii") << QStringLiteral("Größe überschritten: 日本");
    QTest::newRow("null") << QString();
}

void TestImaging::exceptionText()
{
    QFETCH(QString, message);
    const ImageLoadException e(message);
    QCOMPARE(e.message(), message);
    QVERIFY(e.what() != nullptr);
    QCOMPARE(QByteArray(e.what()), message.toUtf8());
    const std::exception& base = e;
    QCOMPARE(QString::fromUtf8(base.what()), message);
}

void TestImaging::suffixRouting_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    // None of these files exist: the suffix alone decides which message comes back.
    QTest::newRow("jpe") << "image.jpe" << kChooseMessage;
    QTest::newRow("gif") << "image.gif" << kChooseMessage;
    QTest::newRow("tif.bak") << "image.tif.bak" << kChooseMessage;
    QTest::newRow("no dot") << "image" << kChooseMessage;
    QTest::newRow("trailing dot") << "image." << kChooseMessage;
    QTest::newRow("IMAGE.JPEG") << "IMAGE.JPEG" << kUnreadableMessage;
    QTest::newRow("image.Png") << "image.Png" << kUnreadableMessage;
    QTest::newRow("chart.tar.png") << "chart.tar.png" << kUnreadableMessage;
    QTest::newRow("Scan.TIF") << "Scan.TIF" << kNotTiffMessage;
    QTest::newRow("scan.tiff") << "scan.tiff" << kNotTiffMessage;
}

void TestImaging::suffixRouting()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(loadFailure(path(QStringLiteral("missing/") + name)), expected);
}

void TestImaging::tiffPixels_data()
{
    QTest::addColumn<TiffSpec>("spec");
    QTest::addColumn<QString>("model");
    // Expected ARGB of pixel (x, y) from the samples written there.
    QTest::addColumn<std::function<QRgb(quint32, quint32)>>("expected");

    const auto rgb = [](quint32 x, quint32 y) {
        return qRgb(patternSample(x, y, 0), patternSample(x, y, 1), patternSample(x, y, 2));
    };
    const auto gray = [](quint32 x, quint32 y) {
        const int v = patternSample(x, y, 0);
        return qRgb(v, v, v);
    };

    TiffSpec spec = rgbSpec();
    QTest::newRow("rgb8 none strips") << spec << "RGB" << std::function<QRgb(quint32, quint32)>(rgb);

    spec.compression = COMPRESSION_LZW;
    spec.width = 37;
    spec.height = 23;
    spec.rowsPerStrip = 4;
    QTest::newRow("rgb8 lzw strips") << spec << "RGB" << std::function<QRgb(quint32, quint32)>(rgb);

    spec.tileSize = 16;
    QTest::newRow("rgb8 lzw tiles") << spec << "RGB" << std::function<QRgb(quint32, quint32)>(rgb);
    spec.compression = COMPRESSION_NONE;
    QTest::newRow("rgb8 none tiles") << spec << "RGB" << std::function<QRgb(quint32, quint32)>(rgb);

    // 16-bit samples v * 257 come out as exactly v.
    TiffSpec deep = rgbSpec();
    deep.bits = 16;
    deep.compression = COMPRESSION_LZW;
    deep.rowsPerStrip = 3;
    deep.sample = [](quint32 x, quint32 y, int s) { return quint16(patternSample(x, y, s) * 257); };
    QTest::newRow("rgb16 lzw") << deep << "RGB" << std::function<QRgb(quint32, quint32)>(rgb);
    deep.compression = COMPRESSION_NONE;
    QTest::newRow("rgb16 none") << deep << "RGB" << std::function<QRgb(quint32, quint32)>(rgb);

    TiffSpec grayscale = rgbSpec();
    grayscale.samples = 1;
    grayscale.photometric = PHOTOMETRIC_MINISBLACK;
    QTest::newRow("gray8") << grayscale << "Grayscale" << std::function<QRgb(quint32, quint32)>(gray);

    TiffSpec bilevel = grayscale;
    bilevel.bits = 1;
    bilevel.width = 11;
    bilevel.sample = [](quint32 x, quint32 y, int) { return quint16((x + 2 * y) % 3 == 0); };
    QTest::newRow("1-bit min-is-black")
        << bilevel << "Grayscale" << std::function<QRgb(quint32, quint32)>([](quint32 x, quint32 y) {
               return (x + 2 * y) % 3 == 0 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
           });
    bilevel.photometric = PHOTOMETRIC_MINISWHITE;
    QTest::newRow("1-bit min-is-white")
        << bilevel << "Grayscale" << std::function<QRgb(quint32, quint32)>([](quint32 x, quint32 y) {
               return (x + 2 * y) % 3 == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
           });

    // libtiff renders CMYK as R = (255 - K) * (255 - C) / 255, integer division.
    TiffSpec cmyk = rgbSpec();
    cmyk.samples = 4;
    cmyk.photometric = PHOTOMETRIC_SEPARATED;
    cmyk.compression = COMPRESSION_LZW;
    cmyk.rowsPerStrip = 2;
    QTest::newRow("cmyk8") << cmyk << "CMYK"
                           << std::function<QRgb(quint32, quint32)>([](quint32 x, quint32 y) {
                                  const int k = 255 - patternSample(x, y, 3);
                                  return qRgb(k * (255 - patternSample(x, y, 0)) / 255,
                                              k * (255 - patternSample(x, y, 1)) / 255,
                                              k * (255 - patternSample(x, y, 2)) / 255);
                              });

    // Associated alpha passes through untouched: the raster word 0x80102040
    // (A 0x80, B 0x10, G 0x20, R 0x40) becomes 0x80402010.
    TiffSpec alpha = rgbSpec();
    alpha.samples = 4;
    alpha.associatedAlpha = true;
    alpha.sample = [](quint32, quint32, int s) {
        return quint16(std::array<int, 4>{0x40, 0x20, 0x10, 0x80}[s]);
    };
    QTest::newRow("rgba associated") << alpha << "RGB"
                                     << std::function<QRgb(quint32, quint32)>(
                                            [](quint32, quint32) { return 0x80402010u; });

    // A raster word 0xFF332211 becomes the pixel 0xFF112233.
    TiffSpec swizzle = rgbSpec();
    swizzle.sample = [](quint32, quint32, int s) { return quint16(0x11 * (s + 1)); };
    QTest::newRow("byte order") << swizzle << "RGB"
                                << std::function<QRgb(quint32, quint32)>(
                                       [](quint32, quint32) { return 0xFF112233u; });
}

void TestImaging::tiffPixels()
{
    QFETCH(TiffSpec, spec);
    QFETCH(QString, model);
    QFETCH(std::function<QRgb(quint32, quint32)>, expected);

    const QString file = path(QStringLiteral("pixels.tif"));
    QVERIFY(writeTiff(file, {spec}));
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.colorModel, model);
    QCOMPARE(image.pixelWidth, spec.width);
    QCOMPARE(image.pixelHeight, spec.height);
    QCOMPARE(image.image.format(), QImage::Format_ARGB32);
    QCOMPARE(image.filePath, file);
    QCOMPARE(image.fileName, QStringLiteral("pixels.tif"));
    QVERIFY(!image.hasIccProfile);
    for (quint32 y = 0; y < spec.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.image.constScanLine(int(y)));
        for (quint32 x = 0; x < spec.width; ++x) {
            if (line[x] != expected(x, y))
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(hex(line[x]), hex(expected(x, y)))));
        }
    }
}

void TestImaging::tiffResolution_data()
{
    QTest::addColumn<std::optional<quint16>>("unit");
    QTest::addColumn<std::optional<float>>("x");
    QTest::addColumn<std::optional<float>>("y");
    QTest::addColumn<double>("dpiX");
    QTest::addColumn<double>("dpiY");

    using U = std::optional<quint16>;
    using F = std::optional<float>;
    const double cm = double(118.11f) * 2.54;
    QTest::newRow("inch 300") << U(RESUNIT_INCH) << F(300.0f) << F(300.0f) << 300.0 << 300.0;
    QTest::newRow("default unit is inch") << U() << F(240.0f) << F(120.0f) << 240.0 << 120.0;
    QTest::newRow("centimetre 118.11") << U(RESUNIT_CENTIMETER) << F(118.11f) << F(118.11f) << cm << cm;
    QTest::newRow("unit none") << U(RESUNIT_NONE) << F(300.0f) << F(300.0f) << 72.0 << 72.0;
    QTest::newRow("no tags") << U() << F() << F() << 72.0 << 72.0;
    QTest::newRow("y zero") << U(RESUNIT_INCH) << F(300.0f) << F(0.0f) << 300.0 << 72.0;
    QTest::newRow("x missing") << U(RESUNIT_INCH) << F() << F(150.0f) << 72.0 << 150.0;
    QTest::newRow("fractional inch") << U(RESUNIT_INCH) << F(299.5f) << F(0.25f) << 299.5 << 0.25;
}

void TestImaging::tiffResolution()
{
    QFETCH(std::optional<quint16>, unit);
    QFETCH(std::optional<float>, x);
    QFETCH(std::optional<float>, y);
    QFETCH(double, dpiX);
    QFETCH(double, dpiY);

    TiffSpec spec = rgbSpec();
    spec.resolutionUnit = unit;
    spec.xResolution = x;
    spec.yResolution = y;
    const QString file = path(QStringLiteral("resolution.tiff"));
    QVERIFY(writeTiff(file, {spec}));
    const PrintableImage image = ImageLoader().load(file);
    QCOMPARE(image.dpiX, dpiX);
    QCOMPARE(image.dpiY, dpiY);
    if (unit == RESUNIT_CENTIMETER) {
        // Not rounded to 300.
        QVERIFY(image.dpiX > 299.999 && image.dpiX < 299.9995);
    }
}

void TestImaging::tiffProfile()
{
    for (const bool withProfile : {true, false}) {
        TiffSpec spec = rgbSpec();
        spec.samples = 4;
        spec.photometric = PHOTOMETRIC_SEPARATED;
        if (withProfile)
            spec.iccProfile = testProfile();
        const QString file = path(QStringLiteral("cmyk-profile.tif"));
        QVERIFY(writeTiff(file, {spec}));
        const PrintableImage image = ImageLoader().load(file);
        verifyInvariants(image);
        QCOMPARE(image.colorModel, QStringLiteral("CMYK"));
        QCOMPARE(image.hasIccProfile, withProfile);
        QCOMPARE(image.iccProfileDescription,
                 withProfile ? QStringLiteral("Embedded ICC profile") : QString());
        QCOMPARE(image.image.format(), QImage::Format_ARGB32);
    }
}

void TestImaging::tiffFirstPageOnly()
{
    TiffSpec first = rgbSpec();
    first.width = 3;
    first.height = 2;
    first.sample = [](quint32, quint32, int s) { return quint16(s == 0 ? 200 : 10); };
    TiffSpec second = rgbSpec();
    second.width = 9;
    second.height = 7;
    second.sample = [](quint32, quint32, int s) { return quint16(s == 2 ? 200 : 10); };
    const QString file = path(QStringLiteral("pages.tif"));
    QVERIFY(writeTiff(file, {first, second}));
    const PrintableImage image = ImageLoader().load(file);
    QCOMPARE(image.pixelWidth, 3u);
    QCOMPARE(image.pixelHeight, 2u);
    QCOMPARE(image.image.pixel(2, 1), qRgb(200, 10, 10));
}

void TestImaging::tiffFailures_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("png content") << encode(quadrants(8, 8), "png") << kNotTiffMessage;
    QTest::newRow("jpeg content") << encode(quadrants(8, 8), "jpeg") << kNotTiffMessage;
    QTest::newRow("empty") << QByteArray() << kNotTiffMessage;
    QTest::newRow("header only") << QByteArray("II*\0\x08\0\0\0\0\0\0\0\0\0", 14) << kNotTiffMessage;

    // The strip promises 64 bytes and the file ends after 20: data that ends early.
    QTest::newRow("truncated strip") << handmadeGrayTiff(8, 8, COMPRESSION_NONE, QByteArray(20, '\x40'), 64)
                                     << kUndecodableMessage;
    QTest::newRow("lzw data cut short")
        << handmadeGrayTiff(8, 8, COMPRESSION_LZW, QByteArray("\x80\x00", 2), 2) << kUndecodableMessage;
    QTest::newRow("zero-size strip") << handmadeGrayTiff(8, 8, COMPRESSION_LZW, QByteArray(), 0)
                                     << kUndecodableMessage;
}

void TestImaging::tiffFailures()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("failure.tif"));
    QVERIFY(writeFile(file, bytes));
    QCOMPARE(loadFailure(file), expected);
}

void TestImaging::tiffDamagedStripFails()
{
    // A sound LZW file first, so the failure below comes from the damage alone.
    TiffSpec spec = rgbSpec();
    spec.width = 64;
    spec.height = 64;
    spec.rowsPerStrip = 8;
    spec.compression = COMPRESSION_LZW;
    const QString file = path(QStringLiteral("damaged.tif"));
    QVERIFY(writeTiff(file, {spec}));
    QCOMPARE(loadFailure(file), QStringLiteral("<loaded>"));

    quint64 offset = 0;
    quint64 count = 0;
    {
        TIFF* tiff = TIFFOpen(QFile::encodeName(file).constData(), "r");
        QVERIFY(tiff);
        uint64_t* offsets = nullptr;
        uint64_t* counts = nullptr;
        QVERIFY(TIFFGetField(tiff, TIFFTAG_STRIPOFFSETS, &offsets));
        QVERIFY(TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts));
        offset = offsets[3];
        count = counts[3];
        TIFFClose(tiff);
    }
    QVERIFY(count > 8);
    QFile damaged(file);
    QVERIFY(damaged.open(QIODevice::ReadWrite));
    QVERIFY(damaged.seek(qint64(offset + 2)));
    QVERIFY(damaged.write(QByteArray(qsizetype(count - 4), '\xFF')) > 0);
    damaged.close();
    QCOMPARE(loadFailure(file), kUndecodableMessage);

    // Palette images are refused before any pixel is decoded.
    TiffSpec palette = rgbSpec();
    palette.samples = 1;
    palette.photometric = PHOTOMETRIC_PALETTE;
    QVERIFY(writeTiff(file, {palette}));
    QCOMPARE(loadFailure(file), kColorModelMessage);
}

void TestImaging::tiffSizeCap_data()
{
    QTest::addColumn<quint32>("width");
    QTest::addColumn<quint32>("height");
    QTest::addColumn<QString>("expected");
    QTest::newRow("200000 squared") << 200000u << 200000u << kTooLargeMessage;
    QTest::newRow("one row over the cap") << 20000u << 15001u << kTooLargeMessage;
    QTest::newRow("widest possible") << 0xFFFFFFFFu << 1u << kTooLargeMessage;
    // Exactly at the cap the size is accepted; the few data bytes then fail to decode.
    QTest::newRow("exactly the cap") << 20000u << 15000u << kUndecodableMessage;
}

void TestImaging::tiffSizeCap()
{
    QFETCH(quint32, width);
    QFETCH(quint32, height);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("huge.tif"));
    QVERIFY(
        writeFile(file, handmadeGrayTiff(width, height, COMPRESSION_LZW, QByteArray("\x80\x00\x40", 3), 3)));
    const auto [message, largest] = loadWatchingAllocations(file);
    QCOMPARE(message, expected);
    if (g_allocationsWatched && expected == kTooLargeMessage)
        QVERIFY2(largest < kNoPixelBuffer, qPrintable(QString::number(largest)));
    // And the watch itself works: past the cap check the image buffer is allocated.
    if (g_allocationsWatched && expected != kTooLargeMessage)
        QVERIFY(largest >= quint64(width) * height);
}

void TestImaging::tiffHostileLayout()
{
    // Found by fuzzing: 462144 x 122 pixels (under the cap) with 278 samples per
    // pixel made libtiff ask for a 15.6 GB strip buffer.
    const QString file = QStringLiteral(LUMETRA_IMAGING_REGRESSIONS "/tiff-15gb-strip-buffer.tif");
    TIFF* tiff = TIFFOpen(QFile::encodeName(file).constData(), "r");
    QVERIFY(tiff);
    QVERIFY(TIFFStripSize64(tiff) > 8 * kMaxImagePixels);
    TIFFClose(tiff);
    const auto [message, largest] = loadWatchingAllocations(file);
    QCOMPARE(message, kUndecodableMessage);
    if (g_allocationsWatched)
        QVERIFY2(largest <= 8 * kMaxImagePixels, qPrintable(QString::number(largest)));

    // The same kind of lie in a tiled layout: 4096 x 4096 tiles of 200 samples.
    TiffSpec spec = rgbSpec();
    spec.tileSize = 16;
    const QString tiled = path(QStringLiteral("tiles.tif"));
    QVERIFY(writeTiff(tiled, {spec}));
    QByteArray bytes;
    {
        QFile in(tiled);
        QVERIFY(in.open(QIODevice::ReadOnly));
        bytes = in.readAll();
    }
    // Rewrite the tile width and length entries (tags 322, 323) in the directory.
    const quint32 ifd = quint32(uchar(bytes[4])) | (quint32(uchar(bytes[5])) << 8) |
                        (quint32(uchar(bytes[6])) << 16) | (quint32(uchar(bytes[7])) << 24);
    const int count = uchar(bytes[ifd]) | (uchar(bytes[ifd + 1]) << 8);
    int patched = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = qsizetype(ifd) + 2 + i * 12;
        const int tag = uchar(bytes[entry]) | (uchar(bytes[entry + 1]) << 8);
        const int type = uchar(bytes[entry + 2]) | (uchar(bytes[entry + 3]) << 8);
        if (tag == TIFFTAG_TILEWIDTH || tag == TIFFTAG_TILELENGTH) {
            // 0xFFF0, a multiple of 16 as the format demands.
            bytes[entry + 8] = char(0xF0);
            bytes[entry + 9] = char(0xFF);
            if (type == TIFF_LONG) {
                bytes[entry + 10] = 0;
                bytes[entry + 11] = 0;
            }
            ++patched;
        }
    }
    QCOMPARE(patched, 2);
    QVERIFY(writeFile(tiled, bytes));
    const auto [tiledMessage, tiledLargest] = loadWatchingAllocations(tiled);
    QCOMPARE(tiledMessage, kUndecodableMessage);
    if (g_allocationsWatched)
        QVERIFY2(tiledLargest <= 8 * kMaxImagePixels, qPrintable(QString::number(tiledLargest)));
}

void TestImaging::pngPixels_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QString>("model");

    QImage rgb(6, 5, QImage::Format_RGB32);
    QImage argb(6, 5, QImage::Format_ARGB32);
    QImage gray(6, 5, QImage::Format_Grayscale8);
    QImage deep(6, 5, QImage::Format_RGBA64);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            rgb.setPixel(x, y, qRgb(patternSample(x, y, 0), patternSample(x, y, 1), patternSample(x, y, 2)));
            argb.setPixel(x, y,
                          qRgba(patternSample(x, y, 0), patternSample(x, y, 1), patternSample(x, y, 2),
                                patternSample(x, y, 3)));
            gray.setPixel(x, y, qRgb(patternSample(x, y, 0), patternSample(x, y, 0), patternSample(x, y, 0)));
            deep.setPixelColor(x, y,
                               QColor(QRgba64::fromRgba64(quint16(x * 10007 + y * 331), quint16(y * 9001 + 7),
                                                          quint16(60000 - x * 977), 65535)));
        }
    }
    QImage colorPalette(4, 2, QImage::Format_Indexed8);
    colorPalette.setColorTable({qRgb(255, 0, 0), qRgb(0, 128, 255), qRgb(10, 20, 30)});
    // The toolkit calls a palette grayscale only when entry i is exactly (i, i, i).
    QImage grayPalette(4, 2, QImage::Format_Indexed8);
    grayPalette.setColorTable({qRgb(0, 0, 0), qRgb(1, 1, 1), qRgb(2, 2, 2)});
    QImage grayLookingPalette(4, 2, QImage::Format_Indexed8);
    grayLookingPalette.setColorTable({qRgb(0, 0, 0), qRgb(77, 77, 77), qRgb(250, 250, 250)});
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            colorPalette.setPixel(x, y, uint((x + y) % 3));
            grayPalette.setPixel(x, y, uint((x + y) % 3));
            grayLookingPalette.setPixel(x, y, uint((x + y) % 3));
        }
    }

    QTest::newRow("rgb") << rgb << "RGB";
    QTest::newRow("rgba") << argb << "RGB";
    QTest::newRow("grayscale") << gray << "Grayscale";
    QTest::newRow("16-bit") << deep << "RGB";
    QTest::newRow("palette colour") << colorPalette << "RGB";
    QTest::newRow("palette gray ramp") << grayPalette << "Grayscale";
    QTest::newRow("palette gray, not a ramp") << grayLookingPalette << "RGB";
}

void TestImaging::pngPixels()
{
    QFETCH(QImage, source);
    QFETCH(QString, model);
    const QString file = path(QStringLiteral("pixels.png"));
    QVERIFY(writeFile(file, encode(source, "png")));
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.colorModel, model);
    QCOMPARE(image.pixelWidth, quint32(source.width()));
    QCOMPARE(image.pixelHeight, quint32(source.height()));
    QCOMPARE(image.fileName, QStringLiteral("pixels.png"));
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            // Compared at 16 bits per channel, so 16-bit samples must survive exactly.
            QCOMPARE(image.image.pixelColor(x, y).rgba64(), source.pixelColor(x, y).rgba64());
        }
    }
}

void TestImaging::pngProfile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("toolkitSeesSpace");
    QTest::addColumn<bool>("hasProfile");
    QTest::addColumn<QString>("description");

    QImage plain = quadrants(8, 8);
    QImage profiled = plain;
    QColorSpace space = QColorSpace::fromIccProfile(testProfile());
    profiled.setColorSpace(space);
    const QByteArray bare = withoutChunks(encode(plain, "png"), {"iCCP", "gAMA", "cHRM", "sRGB"});

    QByteArray chrm;
    for (quint32 v : {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u})
        chrm += bigEndian32(v);
    const QByteArray gammaOnly = withChunkAfterHeader(withChunkAfterHeader(bare, pngChunk("cHRM", chrm)),
                                                      pngChunk("gAMA", bigEndian32(45455)));
    const QByteArray srgbChunk = withChunkAfterHeader(bare, pngChunk("sRGB", QByteArray(1, '\0')));

    QTest::newRow("embedded profile") << encode(profiled, "png") << true << true << "Lumetra test profile";
    QTest::newRow("gamma and chromaticity only") << gammaOnly << true << false << "";
    QTest::newRow("sRGB chunk only") << srgbChunk << true << false << "";
    QTest::newRow("nothing") << bare << false << false << "";
}

void TestImaging::pngProfile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, toolkitSeesSpace);
    QFETCH(bool, hasProfile);
    QFETCH(QString, description);
    const QString file = path(QStringLiteral("profile.png"));
    QVERIFY(writeFile(file, bytes));

    // The toolkit attaches a colour space with a non-empty profile in every case but
    // the last, which is why its colour space alone cannot say what the file carries.
    const QImage raw = QImageReader(file).read();
    QCOMPARE(raw.colorSpace().isValid() && !raw.colorSpace().iccProfile().isEmpty(), toolkitSeesSpace);

    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.hasIccProfile, hasProfile);
    QCOMPARE(image.iccProfileDescription, description);
    QVERIFY(!image.image.colorSpace().isValid());
    // Dropping the space converts nothing.
    QCOMPARE(image.image.pixel(1, 1), qRgb(0xCC, 0x22, 0x11));
    QCOMPARE(image.image.pixel(6, 6), qRgb(0xF0, 0xF0, 0xF0));
}

void TestImaging::missingResolution_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<double>("dpiX");
    QTest::addColumn<double>("dpiY");

    constexpr double inchesPerMeter = 39.37007874015748;
    const QByteArray png = withoutChunks(encode(quadrants(8, 8), "png"), {"pHYs"});
    QTest::newRow("png without pHYs") << png << ".png" << 72.0 << 72.0;
    QTest::newRow("png 96 dpi") << withChunkAfterHeader(png, physChunk(3780, 3780, 1)) << ".png"
                                << 3780 / inchesPerMeter << 3780 / inchesPerMeter;
    QTest::newRow("png 300 x 150 dpi") << withChunkAfterHeader(png, physChunk(11811, 5906, 1)) << ".png"
                                       << 11811 / inchesPerMeter << 5906 / inchesPerMeter;
    QTest::newRow("png aspect only") << withChunkAfterHeader(png, physChunk(3780, 3780, 0)) << ".png" << 72.0
                                     << 72.0;
    QTest::newRow("png zero x") << withChunkAfterHeader(png, physChunk(0, 11811, 1)) << ".png" << 72.0
                                << 11811 / inchesPerMeter;

    // The toolkit reads JFIF inches as int(100 * d / 2.54) dots per metre.
    const QByteArray jpeg = encode(quadrants(16, 16), "jpeg", 100);
    QTest::newRow("jpeg no density unit") << withJfifDensity(jpeg, 0, 1, 1) << ".jpg" << 72.0 << 72.0;
    QTest::newRow("jpeg without JFIF") << withoutJfif(jpeg) << ".jpg" << 72.0 << 72.0;
    QTest::newRow("jpeg 96 dpi") << withJfifDensity(jpeg, 1, 96, 96) << ".jpeg" << 3779 / inchesPerMeter
                                 << 3779 / inchesPerMeter;
    QTest::newRow("jpeg 300 dpi") << withJfifDensity(jpeg, 1, 300, 300) << ".jpg" << 11811 / inchesPerMeter
                                  << 11811 / inchesPerMeter;
    QTest::newRow("jpeg 118 per cm") << withJfifDensity(jpeg, 2, 118, 59) << ".jpg" << 11800 / inchesPerMeter
                                     << 5900 / inchesPerMeter;
}

void TestImaging::missingResolution()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, suffix);
    QFETCH(double, dpiX);
    QFETCH(double, dpiY);
    const QString file = path(QStringLiteral("resolution") + suffix);
    QVERIFY(writeFile(file, bytes));
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.dpiX, dpiX);
    QCOMPARE(image.dpiY, dpiY);
}

void TestImaging::jpegPixels_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("progressive");

    QTest::newRow("baseline") << encode(quadrants(32, 32), "jpeg", 100) << "RGB" << false;
    QTest::newRow("progressive") << encode(quadrants(32, 32), "jpeg", 100, true) << "RGB" << true;
    QTest::newRow("trailing bytes") << encode(quadrants(32, 32), "jpeg", 100) +
                                           QByteArray("\0\xFF\x00tail", 7)
                                    << "RGB" << false;
    QTest::newRow("grayscale") << encode(quadrants(32, 32).convertToFormat(QImage::Format_Grayscale8), "jpeg",
                                         100)
                               << "Grayscale" << false;
}

void TestImaging::jpegPixels()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, model);
    QFETCH(bool, progressive);
    QCOMPARE(containsMarker(bytes, 0xC2), progressive);
    const QString file = path(QStringLiteral("pixels.jpg"));
    QVERIFY(writeFile(file, bytes));
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.colorModel, model);
    QCOMPARE(image.pixelWidth, 32u);
    QCOMPARE(image.pixelHeight, 32u);
    QVERIFY(!image.hasIccProfile);
    QImage expected = quadrants(32, 32);
    if (model == QLatin1String("Grayscale"))
        expected = expected.convertToFormat(QImage::Format_Grayscale8);
    for (const QPoint p : {QPoint(4, 4), QPoint(27, 4), QPoint(4, 27), QPoint(27, 27)}) {
        const QRgb actual = image.image.pixel(p);
        QVERIFY2(nearColor(actual, expected.pixel(p), 3), qPrintable(hex(actual)));
    }
}

void TestImaging::jpegIccProfile()
{
    QImage profiled = quadrants(16, 16);
    profiled.setColorSpace(QColorSpace::fromIccProfile(testProfile()));
    const QByteArray bytes = encode(profiled, "jpeg", 100);
    QVERIFY(bytes.contains(QByteArray("ICC_PROFILE\0", 12)));
    const QString file = path(QStringLiteral("profile.jpg"));
    QVERIFY(writeFile(file, bytes));
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QVERIFY(image.hasIccProfile);
    QCOMPARE(image.iccProfileDescription, QStringLiteral("Lumetra test profile"));
}

void TestImaging::jpegStoredOrientationIgnored()
{
    // An Exif segment whose orientation 6 asks for a quarter turn clockwise.
    const QByteArray exif("Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 32);
    QByteArray bytes = encode(quadrants(40, 16), "jpeg", 100);
    const int jfifLength = (uchar(bytes[4]) << 8) | uchar(bytes[5]);
    bytes.insert(4 + jfifLength, QByteArray("\xFF\xE1\0", 3) + char(exif.size() + 2) + exif);
    const QString file = path(QStringLiteral("rotated.jpg"));
    QVERIFY(writeFile(file, bytes));
    QCOMPARE(QImageReader(file).transformation(), QImageIOHandler::TransformationRotate90);
    const PrintableImage image = ImageLoader().load(file);
    QCOMPARE(image.pixelWidth, 40u);
    QCOMPARE(image.pixelHeight, 16u);
    QVERIFY(nearColor(image.image.pixel(2, 2), qRgb(0xCC, 0x22, 0x11), 3));
}

void TestImaging::cmykJpeg()
{
    // Left half full magenta, right half full black (see fixtures/make_cmyk_jpeg.c).
    const QString file = path(QStringLiteral("cmyk.jpg"));
    QVERIFY(QFile::copy(QStringLiteral(LUMETRA_IMAGING_FIXTURES "/cmyk.jpg"), file));
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.colorModel, QStringLiteral("CMYK"));
    QCOMPARE(image.pixelWidth, 16u);
    QCOMPARE(image.pixelHeight, 8u);
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    // The toolkit delivers RGB here; the pixels are left as it made them.
    QVERIFY2(nearColor(image.image.pixel(2, 3), qRgb(255, 0, 255), 2),
             qPrintable(hex(image.image.pixel(2, 3))));
    QVERIFY2(nearColor(image.image.pixel(13, 3), qRgb(0, 0, 0), 2),
             qPrintable(hex(image.image.pixel(13, 3))));
#else
    QCOMPARE(image.image.format(), QImage::Format_CMYK8888);
#endif

    // A JPEG with three components is not CMYK.
    QVERIFY(writeFile(file, encode(quadrants(8, 8), "jpeg", 100)));
    QCOMPARE(ImageLoader().load(file).colorModel, QStringLiteral("RGB"));
}

void TestImaging::truncatedToolkitFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("suffix");

    // Noise, so the compressed data is long and the cut lands inside it.
    QImage noise(64, 64, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            seed = seed * 1664525u + 1013904223u;
            noise.setPixel(x, y, 0xFF000000u | (seed >> 8));
        }
    }
    const QByteArray jpeg = encode(noise, "jpeg", 90);
    const QByteArray progressive = encode(noise, "jpeg", 90, true);
    const QByteArray png = encode(noise, "png");
    QTest::newRow("jpeg half") << jpeg.left(jpeg.size() / 2) << ".jpg";
    QTest::newRow("jpeg without end marker") << jpeg.left(jpeg.size() - 2) << ".jpg";
    QTest::newRow("jpeg headers only") << jpeg.left(jpeg.indexOf("\xFF\xDA") + 4) << ".jpg";
    QTest::newRow("progressive half") << progressive.left(progressive.size() / 2) << ".jpeg";
    QTest::newRow("png half") << png.left(png.size() / 2) << ".png";
    QTest::newRow("png without IEND") << png.left(png.size() - 12) << ".png";
}

void TestImaging::truncatedToolkitFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, suffix);
    const QString file = path(QStringLiteral("truncated") + suffix);
    QVERIFY(writeFile(file, bytes));
    QCOMPARE(loadFailure(file), kUnreadableMessage);
}

void TestImaging::toolkitSizeCap_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("expected");
    QTest::newRow("png 200000 squared") << headerOnlyPng(200000, 200000) << ".png" << kTooLargeMessage;
    QTest::newRow("png one row over the cap") << headerOnlyPng(20000, 15001) << ".png" << kTooLargeMessage;
    // At the cap the size passes, and the missing data fails as usual.
    QTest::newRow("png exactly the cap") << headerOnlyPng(20000, 15000) << ".png" << kUnreadableMessage;

    // A small JPEG whose frame header is rewritten to claim a larger size.
    const QByteArray jpeg = encode(quadrants(16, 16), "jpeg", 100);
    const auto withFrameSize = [&jpeg](quint16 width, quint16 height) {
        QByteArray patched = jpeg;
        const qsizetype sof = patched.indexOf("\xFF\xC0");
        patched[sof + 5] = char(height >> 8);
        patched[sof + 6] = char(height & 0xFF);
        patched[sof + 7] = char(width >> 8);
        patched[sof + 8] = char(width & 0xFF);
        return patched;
    };
    QTest::newRow("jpeg 65500 squared") << withFrameSize(65500, 65500) << ".jpg" << kTooLargeMessage;
    QTest::newRow("jpeg one row over the cap") << withFrameSize(20000, 15001) << ".jpg" << kTooLargeMessage;
}

void TestImaging::toolkitSizeCap()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, suffix);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("huge") + suffix);
    QVERIFY(writeFile(file, bytes));
    const int limitBefore = QImageReader::allocationLimit();
    const auto [message, largest] = loadWatchingAllocations(file);
    QCOMPARE(message, expected);
    if (g_allocationsWatched && expected == kTooLargeMessage)
        QVERIFY2(largest < kNoPixelBuffer, qPrintable(QString::number(largest)));
    // The loader lifts the toolkit's process-wide limit only while it reads.
    QCOMPARE(QImageReader::allocationLimit(), limitBefore);
}

void TestImaging::contentMismatch_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    const QByteArray png = encode(quadrants(8, 8), "png");
    const QByteArray jpeg = encode(quadrants(16, 16), "jpeg", 100);
    TiffSpec spec = rgbSpec();
    const QString tiffFile = path(QStringLiteral("source.tif"));
    writeTiff(tiffFile, {spec});
    QFile tiff(tiffFile);
    tiff.open(QIODevice::ReadOnly);

    QTest::newRow("png named .jpg") << png << "png.jpg" << QString();
    QTest::newRow("jpeg named .png") << jpeg << "jpeg.png" << QString();
    QTest::newRow("png named .tif") << png << "png.tif" << kNotTiffMessage;
    QTest::newRow("text named .png") << QByteArray("not an image\n") << "text.png" << kUnreadableMessage;
    QTest::newRow("text named .jpeg") << QByteArray("not an image\n") << "text.jpeg" << kUnreadableMessage;
    QTest::newRow("empty .png") << QByteArray() << "empty.png" << kUnreadableMessage;
    QTest::newRow("tiff named .tiff") << tiff.readAll() << "tiff.tiff" << QString();
}

void TestImaging::contentMismatch()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const QString file = path(name);
    QVERIFY(writeFile(file, bytes));
    if (!expected.isEmpty()) {
        QCOMPARE(loadFailure(file), expected);
        return;
    }
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.colorModel, QStringLiteral("RGB"));
}

void TestImaging::nonAsciiPaths_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("tiff") << ".tif";
    QTest::newRow("png") << ".png";
    QTest::newRow("jpeg") << ".jpg";
}

void TestImaging::nonAsciiPaths()
{
    QFETCH(QString, suffix);
    const QString folder = path(QStringLiteral("Zielbilder für Drucker 日本"));
    QVERIFY(QDir().mkpath(folder));
    const QString name = QStringLiteral("Farbkarte Größe ✓ 1") + suffix;
    const QString file = folder + QLatin1Char('/') + name;
    if (suffix == QLatin1String(".tif")) {
        TiffSpec spec = rgbSpec();
        spec.sample = [](quint32, quint32, int s) {
            return quint16(std::array<int, 3>{0x12, 0x34, 0x56}[s]);
        };
        QVERIFY(writeTiff(file, {spec}));
    } else {
        QVERIFY(writeFile(file,
                          encode(quadrants(16, 16), suffix == QLatin1String(".png") ? "png" : "jpeg", 100)));
    }
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.filePath, file);
    QCOMPARE(image.fileName, name);
    const QRgb expected = suffix == QLatin1String(".tif") ? qRgb(0x12, 0x34, 0x56) : qRgb(0xCC, 0x22, 0x11);
    QVERIFY2(nearColor(image.image.pixel(1, 1), expected, suffix == QLatin1String(".jpg") ? 3 : 0),
             qPrintable(hex(image.image.pixel(1, 1))));
}

void TestImaging::largeTargetsLoad_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("gray");
    // A3 at 600 dpi decodes to 260 MB, twice the toolkit's default allocation limit.
    QTest::newRow("png A3 600 dpi") << ".png" << 6732 << 9638 << false;
    QTest::newRow("jpeg A3 600 dpi") << ".jpg" << 6732 << 9638 << false;
    // A2 at 720 dpi, kept to one byte per pixel so the fixture stays quick to write.
    QTest::newRow("png A2 720 dpi gray") << ".png" << 12000 << 16900 << true;
    QTest::newRow("tiff A2 720 dpi gray") << ".tif" << 12000 << 16900 << true;
}

void TestImaging::largeTargetsLoad()
{
    QFETCH(QString, suffix);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, gray);
    const QString file = path(QStringLiteral("large") + suffix);
    const QColor corner = gray ? QColor(0x55, 0x55, 0x55) : QColor(0xCC, 0x22, 0x11);
    const QColor centre = gray ? QColor(0xAA, 0xAA, 0xAA) : QColor(0x11, 0xAA, 0x33);
    if (suffix == QLatin1String(".tif")) {
        TiffSpec spec;
        spec.width = quint32(width);
        spec.height = quint32(height);
        spec.samples = 1;
        spec.photometric = PHOTOMETRIC_MINISBLACK;
        spec.compression = COMPRESSION_LZW;
        spec.rowsPerStrip = 64;
        spec.sample = [w = quint32(width), h = quint32(height)](quint32 x, quint32 y, int) {
            return quint16(x >= w / 4 && x < 3 * w / 4 && y >= h / 4 && y < 3 * h / 4 ? 0xAA : 0x55);
        };
        QVERIFY(writeTiff(file, {spec}));
    } else {
        QImage source(width, height, gray ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
        source.fill(corner);
        QPainter(&source).fillRect(width / 4, height / 4, width / 2, height / 2, centre);
        QVERIFY(writeFile(file, encode(source, suffix == QLatin1String(".png") ? "png" : "jpeg", 95)));
    }
    const PrintableImage image = ImageLoader().load(file);
    verifyInvariants(image);
    QCOMPARE(image.pixelWidth, quint32(width));
    QCOMPARE(image.pixelHeight, quint32(height));
    const int tolerance = suffix == QLatin1String(".jpg") ? 3 : 0;
    QVERIFY(nearColor(image.image.pixel(3, 3), corner.rgb(), tolerance));
    QVERIFY(nearColor(image.image.pixel(width - 1, height - 1), corner.rgb(), tolerance));
    QVERIFY(nearColor(image.image.pixel(width / 2, height / 2), centre.rgb(), tolerance));
    QFile::remove(file);
}

void TestImaging::jpegStructure_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<int>("components");

    const QByteArray soi("\xFF\xD8", 2);
    const QByteArray sof4("\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x04\x01\x11\x00", 13);
    const QByteArray sos("\xFF\xDA\x00\x02", 4);
    const QByteArray eoi("\xFF\xD9", 2);
    // Entropy data with a stuffed zero, a restart marker and fill bytes before the next marker.
    const QByteArray entropy("\x12\xFF\x00\x34\xFF\xD3\x56\xFF\xFF", 9);

    QTest::newRow("complete") << soi + sof4 + sos + entropy + eoi << true << 4;
    QTest::newRow("trailing bytes") << soi + sof4 + sos + entropy + eoi + QByteArray("\xFF\xD8junk", 6)
                                    << true << 4;
    QTest::newRow("no end marker") << soi + sof4 + sos + entropy << false << 4;
    QTest::newRow("ends on stuffed 0xFF") << soi + sos + QByteArray("\x12\xFF", 2) << false << 0;
    QTest::newRow("second scan cut") << soi + sos + entropy + QByteArray("\xFF\xC4\x00\x03\x00", 5) + sos
                                     << false << 0;
    QTest::newRow("two scans") << soi + sos + entropy + QByteArray("\xFF\xC4\x00\x03\x00", 5) + sos +
                                      entropy + eoi
                               << true << 0;
    QTest::newRow("segment past the end") << soi + QByteArray("\xFF\xE1\x40\x00" "abc", 7) << false << 0;
    QTest::newRow("not a jpeg") << QByteArray("\x89PNG") + eoi << false << 0;
}

void TestImaging::jpegStructure()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, complete);
    QFETCH(int, components);
    const EncodedImageFacts facts = scanJpeg(bytes);
    QCOMPARE(facts.complete, complete);
    QCOMPARE(facts.frameComponents, components);
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
            verifyInvariants(image);
        } catch (const ImageLoadException& e) {
            QVERIFY2(!e.message().isEmpty(), qPrintable(name));
        }
    }
}

QTEST_GUILESS_MAIN(TestImaging)
#include "tst_imaging.moc"
