#include "imageloader.h"

#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QtTest>

#include <tiffio.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#endif

#include <atomic>
#include <cstdlib>

#include <jpeglib.h>

using namespace Lumetra;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kUnreadable = u"The file could not be read as an image."_s;
const QString kUndecodable = u"The TIFF image data could not be decoded."_s;
const QString kTooLarge = u"The image has more than 300 million pixels, the most Lumetra can load."_s;

QString g_folder; // with spaces and non-ASCII characters in its name

QString writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(g_folder + u'/' + name); // null bytes: the file is already in place
    if (!bytes.isNull() && (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()))
        return {};
    return file.fileName();
}

// "Model" or "Model, profile description" for a sound load, otherwise the message of the refusal.
QString outcomeOf(const QString& path, int page = 0, PrintableImage* image = nullptr)
{
    try {
        const PrintableImage i = ImageLoader().load(path, page);
        if (image)
            *image = i;
        const bool sound = i.fileName == QFileInfo(path).fileName() && i.dpiX > 0 && i.dpiY > 0 &&
                           QSize(int(i.pixelWidth), int(i.pixelHeight)) == i.image.size() &&
                           !i.image.colorSpace().isValid();
        return (sound ? u""_s : u"UNSOUND "_s) + i.colorModel +
               (i.hasIccProfile ? u", "_s + i.iccProfileDescription : u""_s) +
               (i.ignoredChannels ? u", %1 extra ignored"_s.arg(i.ignoredChannels) : u""_s);
    } catch (const ImageLoadException& e) {
        return e.message();
    }
}

const auto be32 = [](quint32 v) {
    return QByteArray::fromHex(QByteArray::number(v, 16).rightJustified(8, '0'));
};
const auto sample = [](int x, int y, int s) { return int((x * 37 + y * 91 + s * 53 + 11) & 0xFF); };

// 37 x 23 pixels in a single strip of samples sample(x, y, s), 16-bit ones as v * 257.
struct TiffSpec
{
    quint32 photometric = PHOTOMETRIC_RGB, samples = 3, bits = 8, sampleFormat = SAMPLEFORMAT_UINT;
    QByteArray iccProfile = {};
    quint32 unit = 0; // if set, with X/YResolution
    float dpiX = 0, dpiY = 0;
    quint32 compression = COMPRESSION_NONE, width = 37, height = 23, subfileType = 0;
    QByteArray raw = {};        // if set, the strip instead
    quint32 tile = 0;           // if set, one square tile of this size instead of the strip
    QList<quint16> extras = {}; // the ExtraSamples tag; RGB with 4 samples: associated alpha
};

QByteArray tiffBytes(const QList<TiffSpec>& pages)
{
    const QByteArray path = QFile::encodeName(g_folder + u"/scratch.tif"_s);
    TIFF* tiff = TIFFOpen(path.constData(), "w");
    for (const TiffSpec& s : pages) {
        for (const auto& [tag, value] :
             {std::pair(TIFFTAG_IMAGEWIDTH, s.width), std::pair(TIFFTAG_IMAGELENGTH, s.height),
              std::pair(TIFFTAG_SAMPLESPERPIXEL, s.samples), std::pair(TIFFTAG_BITSPERSAMPLE, s.bits),
              std::pair(TIFFTAG_PHOTOMETRIC, s.photometric), std::pair(TIFFTAG_COMPRESSION, s.compression),
              std::pair(TIFFTAG_SAMPLEFORMAT, s.sampleFormat), std::pair(TIFFTAG_SUBFILETYPE, s.subfileType)})
            TIFFSetField(tiff, tag, value);
        const QList<quint16> extras = s.extras.isEmpty() && s.samples == 4 && s.photometric == PHOTOMETRIC_RGB
                                          ? QList<quint16>{EXTRASAMPLE_ASSOCALPHA}
                                          : s.extras;
        if (!extras.isEmpty())
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, quint16(extras.size()), extras.constData());
        if (s.unit) // a resolution of 0 is left out
            TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, s.unit);
        for (const auto& [tag, dpi] :
             {std::pair(TIFFTAG_XRESOLUTION, s.dpiX), std::pair(TIFFTAG_YRESOLUTION, s.dpiY)})
            if (s.unit && dpi)
                TIFFSetField(tiff, tag, double(dpi));
        if (!s.iccProfile.isEmpty())
            TIFFSetField(tiff, TIFFTAG_ICCPROFILE, quint32(s.iccProfile.size()), s.iccProfile.constData());
        const quint32 w = s.tile ? s.tile : s.width, h = s.tile ? s.tile : s.height;
        if (s.tile) {
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, s.tile);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, s.tile);
        }
        QByteArray data = s.raw;
        for (quint32 i = 0; s.raw.isEmpty() && i < w * h * s.samples; ++i) {
            const quint32 x = i / s.samples % w, y = i / s.samples / w; // a tile's overhang is 0
            data +=
                QByteArray(s.bits / 8, char(x < s.width && y < s.height ? sample(x, y, i % s.samples) : 0));
        }
        s.tile ? TIFFWriteRawTile(tiff, 0, data.data(), data.size())
               : TIFFWriteRawStrip(tiff, 0, data.data(), data.size());
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// `image` as libjpeg writes it with one scan per component.
QByteArray scanPerComponent(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &bytes, &size);
    info.image_width = JDIMENSION(rgb.width()), info.image_height = JDIMENSION(rgb.height());
    info.input_components = 3, info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    static const jpeg_scan_info scans[] = {
        {1, {0}, 0, 63, 0, 0}, {1, {1}, 0, 63, 0, 0}, {1, {2}, 0, 63, 0, 0}};
    info.scan_info = scans, info.num_scans = 3;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar*>(rgb.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray result(reinterpret_cast<const char*>(bytes), qsizetype(size));
    std::free(bytes);
    return result;
}

// Under the sanitizers the largest single allocation shows whether a hostile header got a buffer.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*))
    __attribute__((weak));
std::atomic<size_t> g_largest{0}; // stays 0 where allocations cannot be watched

} // namespace

class TestImaging : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir{QDir::tempPath() + u"/Zielbilder für Drucker 日本 XXXXXX"_s};

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        g_folder = m_dir.path();
        const auto note = [](const volatile void*, size_t size) {
            for (size_t seen = g_largest; size > seen && !g_largest.compare_exchange_weak(seen, size);) {
            }
        };
        if (__sanitizer_install_malloc_and_free_hooks)
            __sanitizer_install_malloc_and_free_hooks(note, [](const volatile void*) {});
    }

    void load_data();
    void load();

    // Thumbnails and masks are not pages.
    void pages()
    {
        TiffSpec page, narrow, thumbnail, mask{PHOTOMETRIC_MASK, 1};
        narrow.width = 9, thumbnail.subfileType = FILETYPE_REDUCEDIMAGE, mask.subfileType = FILETYPE_MASK;
        const QString tiff = writeFile(u"pages.tif"_s, tiffBytes({thumbnail, page, mask, narrow, thumbnail}));
        QCOMPARE(ImageLoader().pageCount(tiff), 2);
        QCOMPARE(ImageLoader().load(tiff, 1).pixelWidth, 9u);
        QCOMPARE(outcomeOf(tiff, 2), u"The file holds 2 pages, so page 3 cannot be loaded."_s);
        QCOMPARE(outcomeOf(writeFile(u"thumbnail.tif"_s, tiffBytes({thumbnail, mask}))),
                 u"The file holds no full-resolution image, only thumbnails or masks."_s);
    }

    // A single file's refusals name it, as a set's name the page; a file that is missing, gone or
    // unreadable says so and what to do.
    void namedRefusals()
    {
        const auto refusal = [](const std::function<void()>& load) {
            try {
                load();
            } catch (const ImageLoadException& e) {
                return e.message();
            }
            return QString();
        };
        QCOMPARE(refusal([] { ImageLoader().loadSet({g_folder + u"/nothere.tif"_s}); }),
                 u"nothere.tif: The file does not exist. Check the file name and folder."_s);
        const QString gone = writeFile(u"gone.tif"_s, tiffBytes({{}}));
        const LoadedTargetSet set = ImageLoader().loadSet({gone});
        QVERIFY(QFile::remove(gone));
        QCOMPARE(refusal([&] { ImageLoader().loadPage(set.set.pages.constFirst()); }),
                 u"gone.tif: The file no longer exists. Put it back or load the target again."_s);

        QTemporaryFile locked(QDir::tempPath() + u"/locked-XXXXXX.tif"_s); // in a folder anyone may enter
        QVERIFY(locked.open() && locked.write(tiffBytes({{}})) > 0 && locked.setPermissions({}));
        const QString path = locked.fileName();
        locked.close();
        const bool root = ::geteuid() == 0;
#ifdef Q_OS_LINUX
        if (root) // files are then opened as nobody, without root's right to read them all
            ::setfsuid(65534);
#endif
        const bool readable = QFile(path).open(QIODevice::ReadOnly);
        const QString outcome = refusal([&] { ImageLoader().loadSet({path}); });
#ifdef Q_OS_LINUX
        if (root)
            ::setfsuid(0);
#endif
        if (readable)
            QSKIP("This user reads every file whatever its permissions, so none can be refused for them.");
        QCOMPARE(outcome,
                 QFileInfo(path).fileName() +
                     u": The file cannot be read (permission denied). Check the file's permissions."_s);
    }

    // Inputs that once crashed, hung or exhausted memory: each must now load soundly or fail with a message.
    void regressionsReplay()
    {
        const QDir folder(QStringLiteral(LUMETRA_IMAGING_REGRESSIONS));
        QVERIFY(!folder.isEmpty(QDir::Files));
        for (const QString& name : folder.entryList(QDir::Files)) {
            g_largest = 0;
            const QString outcome = outcomeOf(folder.filePath(name));
            QVERIFY2(!outcome.isEmpty() && !outcome.startsWith("UNSOUND"_L1), qPrintable(name));
            QVERIFY2(g_largest <= 8 * kMaxImagePixels, qPrintable(name));
        }
    }
};

void TestImaging::load_data()
{
    QTest::addColumn<QByteArray>("bytes"); // of the file the data tag names
    QTest::addColumn<QString>("expected"); // as outcomeOf() puts it
    QTest::addColumn<QImage>("pixels");    // null: not compared
    QTest::addColumn<QSizeF>("dpi");       // invalid: not compared
    const auto row = [](const char* name, const QByteArray& bytes, const QString& expected,
                        const QImage& pixels = {},
                        QSizeF dpi = {}) { QTest::newRow(name) << bytes << expected << pixels << dpi; };
    // Expected: grey, RGB, premultiplied RGBA, or CMYK printed as R = (255 - K) * (255 - C) / 255, etc.
    // Alpha, where there is one, is associated and the last sample.
    const auto tiffRow = [&row](const char* name, const TiffSpec& spec, const char* model, QSizeF dpi) {
        const bool premultiplied = spec.photometric == PHOTOMETRIC_RGB && spec.samples >= 4;
        QImage image(37, 23, premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        for (int i = 0; i < 37 * 23; ++i) {
            const int x = i % 37, y = i / 37, r = sample(x, y, 0), g = sample(x, y, 1), b = sample(x, y, 2);
            const int a = sample(x, y, int(spec.samples) - 1), k = 255 - sample(x, y, 3);
            image.setPixel(x, y,
                           spec.photometric == PHOTOMETRIC_MINISBLACK ? qRgb(r, r, r)
                           : spec.photometric == PHOTOMETRIC_SEPARATED
                               ? qRgb(k * (255 - r) / 255, k * (255 - g) / 255, k * (255 - b) / 255)
                           : premultiplied ? qRgba(qMin(r, a), qMin(g, a), qMin(b, a), a)
                                           : qRgb(r, g, b));
        }
        row(name, tiffBytes({spec}), QString::fromUtf8(model), image, dpi);
    };
    const auto encode = [](const QImage& image, const char* format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        return image.save(&buffer, format, qstrcmp(format, "jpeg") ? -1 : 100) ? bytes : QByteArray();
    };
    // Four solid quadrants, so JPEG's block coding leaves each colour nearly exact.
    const auto quadrants = [](int w, int h,
                              const QList<QRgb>& colours = {0xFFCC2211, 0xFF11AA33, 0xFF2244DD, 0xFFF0F0F0}) {
        QImage image(w, h, QImage::Format_RGB32);
        for (int i = 0; i < w * h; ++i)
            image.setPixel(i % w, i / w, colours[(i % w >= w / 2) + 2 * (i / w >= h / 2)]);
        return image;
    };
    const auto pngChunk = [](const QByteArray& type, const QByteArray& payload) {
        const QByteArray body = type + payload;
        return be32(quint32(payload.size())) + body +
               be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
    };
    const QByteArray png = encode(quadrants(8, 8), "png"), jpeg = encode(quadrants(16, 16), "jpeg");
    QColorSpace described(QColorSpace::SRgb);
    described.setDescription(u"Lumetra test profile"_s);

    // The suffix picks the TIFF reader; under the other names the content decides.
    row("image.tif.bak", tiffBytes({{}}), u"Choose a TIFF, JPEG, or PNG image."_s);
    row("png as.tif", png, u"The file could not be read as a TIFF image."_s);
    row("text.png", "not an image\n", kUnreadable);
    row("missing.tif", {}, u"The file does not exist. Check the file name and folder."_s);
    row("drawing.png", R"(<svg xmlns="http://www.w3.org/2000/svg" width="40" height="30"/>)",
        u"The file is a vector drawing (SVG), not a pixel image. "
        "Export the target as TIFF, PNG or JPEG at its print resolution."_s);
    QVERIFY(QDir(g_folder).mkpath(u"folder.png"_s));
    QCOMPARE(::mkfifo(QFile::encodeName(g_folder + u"/pipe.tif"_s).constData(), 0600), 0);
    for (const char* name : {"folder.png", "pipe.tif"}) // opening a pipe waits for a writer
        row(name, {}, u"The path names a folder, pipe or device, not an image file."_s);

    // Exact pixels per layout, and the resolution each TIFF states (72 where none).
    tiffRow("rgb16.tiff", {PHOTOMETRIC_RGB, 3, 16, SAMPLEFORMAT_UINT, {}, RESUNIT_CENTIMETER, 118.11f, 59.5f},
            "RGB", {double(118.11f) * 2.54, 59.5 * 2.54});
    tiffRow("rgba associated.TIF", {PHOTOMETRIC_RGB, 4, 8, SAMPLEFORMAT_UINT, {}, RESUNIT_INCH, 240, 120},
            "RGB", {240, 120});
    tiffRow("gray8.tif", {PHOTOMETRIC_MINISBLACK, 1}, "Grayscale", {72, 72});
    TiffSpec tiled{PHOTOMETRIC_RGB};
    tiled.tile = 48;
    tiffRow("tiled.tif", tiled, "RGB", {72, 72});
    tiffRow("cmyk8.tif", {PHOTOMETRIC_SEPARATED, 4, 8, SAMPLEFORMAT_UINT, described.iccProfile()},
            "CMYK, Lumetra test profile", {});
    // Alpha after a spot channel, and a fifth CMYK channel that states no meaning.
    TiffSpec spotAlpha{PHOTOMETRIC_RGB, 5}, cmykExtra{PHOTOMETRIC_SEPARATED, 5};
    spotAlpha.extras = {EXTRASAMPLE_UNSPECIFIED, EXTRASAMPLE_ASSOCALPHA};
    cmykExtra.extras = {EXTRASAMPLE_UNSPECIFIED};
    tiffRow("rgb, spot, alpha.tif", spotAlpha, "RGB, 1 extra ignored", {});
    tiffRow("cmyk, extra.tif", cmykExtra, "CMYK, 1 extra ignored", {});
    tiffRow("x resolution only.tif", {PHOTOMETRIC_MINISBLACK, 1, 8, SAMPLEFORMAT_UINT, {}, RESUNIT_INCH, 300},
            "Grayscale", {300, 300});
    // XResolution 300 rewritten as a NaN double, YResolution 150 as a negative rational.
    const auto resolutionAs = [](QByteArray tiff, char tag, char type, const QByteArray& value) {
        const qsizetype entry = tiff.indexOf(tag + QByteArray("\x01\x05\0\x01\0\0\0", 7));
        const qsizetype offset = qFromLittleEndian<quint32>(tiff.constData() + entry + 8);
        return tiff.replace(entry + 2, 1, QByteArray(1, type)).replace(offset, 8, value);
    };
    const QByteArray nan("\0\0\0\0\0\0\xF8\x7F", 8), negative("\x6A\xFF\xFF\xFF\x01\0\0\0", 8);
    row("nan, negative resolution.tif",
        resolutionAs(
            resolutionAs(
                tiffBytes({{PHOTOMETRIC_MINISBLACK, 1, 8, SAMPLEFORMAT_UINT, {}, RESUNIT_INCH, 300, 150}}),
                '\x1A', '\x0C', nan),
            '\x1B', '\x0A', negative),
        u"Grayscale"_s, {}, {72, 72});
    QImage rgba64(6, 5, QImage::Format_RGBA64); // 16-bit values and a varying alpha
    for (quint64 i = 0; i < 30; ++i)
        reinterpret_cast<quint64*>(rgba64.bits())[i] = (i + 1) * 0x9E3779B97F4A7C15ull;
    row("rgba16.png", encode(rgba64, "png"), u"RGB"_s, rgba64);
    // The JFIF segment the toolkit's writer puts first: its density (unit 0 an aspect ratio, 1 inch,
    // 2 cm), and a segment inserted after it.
    const auto jfif = [](QByteArray jpeg, char unit, quint32 x, quint32 y) {
        return jpeg.replace(13, 5, QByteArray(1, unit) + be32(x << 16 | y));
    };
    const auto segment = [](QByteArray jpeg, char marker, const QByteArray& payload) {
        const QByteArray head = "\xFF" + (marker + be32(quint32(payload.size() + 2)).mid(2));
        return jpeg.insert(4 + (uchar(jpeg[4]) << 8 | uchar(jpeg[5])), head + payload);
    };
    // The pHYs chunk the toolkit's writer puts right after the 25 bytes of IHDR, and one of its own.
    const QImage gray = quadrants(32, 32).convertToFormat(QImage::Format_Grayscale8);
    const QByteArray unstated = encode(gray, "png").remove(33, 12 + 9);
    const QByteArray phys = pngChunk("pHYs", be32(3780) + be32(11811) + '\1'); // per metre
    constexpr double m = 39.37007874015748;                                    // inches per metre
    row("gray, no pHYs.png", unstated, u"Grayscale"_s, gray, {72, 72});
    row("phys.png", QByteArray(unstated).insert(33, phys), u"Grayscale"_s, {}, {3780 / m, 11811 / m});
    row("bad crc.png", QByteArray(unstated).insert(33, phys.chopped(1) + char(phys.back() ^ 1)),
        u"Grayscale"_s, {}, {72, 72});
    row("late phys.png", QByteArray(unstated).insert(unstated.size() - 12, phys), u"Grayscale"_s, {},
        {72, 72});
    // Palettes as optimisers write them: 2-bit of greys; 4 entries and indices up to one past them,
    // which libpng lets through.
    const auto palettePng = [&](int depth, const QList<QRgb>& palette, int indices,
                                QImage* pixels = nullptr) {
        QByteArray entries, data;
        for (const QRgb entry : palette)
            entries.append(char(qRed(entry))).append(char(qGreen(entry))).append(char(qBlue(entry)));
        QImage image(10, 6, QImage::Format_Indexed8);
        image.setColorTable(palette);
        for (int y = 0; y < 6; ++y) {
            QByteArray line((10 * depth + 7) / 8 + 1, '\0'); // filter type 0 first
            for (int x = 0; x < 10; ++x) {
                line[1 + x * depth / 8] =
                    char(line[1 + x * depth / 8] | (x + y) % indices << (8 - depth - x * depth % 8));
                image.setPixel(x, y, uint((x + y) % indices % palette.size()));
            }
            data += line;
        }
        QByteArray idat(int(compressBound(uLong(data.size()))), '\0');
        uLongf size = uLongf(idat.size());
        compress(reinterpret_cast<Bytef*>(idat.data()), &size,
                 reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()));
        if (pixels)
            *pixels = image;
        return png.left(8) + pngChunk("IHDR", be32(10) + be32(6) + char(depth) + QByteArray("\3\0\0\0", 4)) +
               pngChunk("PLTE", entries) + pngChunk("IDAT", idat.left(int(size))) + pngChunk("IEND", {});
    };
    const QList<QRgb> greys = {0xFF101010, 0xFF606060, 0xFFB0B0B0, 0xFFF0F0F0};
    QImage grayPalette, grayBmp(10, 6, QImage::Format_Mono);
    const QByteArray grayPng = palettePng(2, greys, 4, &grayPalette);
    row("gray palette, 2-bit.png", grayPng, u"Grayscale"_s, grayPalette);
    row("past the palette.png", palettePng(4, greys, 5), kUnreadable);
    grayBmp.setColorTable({0xFF333333, 0xFFCCCCCC}); // through the toolkit's reader
    for (int i = 0; i < 60; ++i)
        grayBmp.setPixel(i % 10, i / 10, uint(i % 7 % 2));
    row("gray palette, 1-bit bmp as.png", encode(grayBmp, "bmp"), u"Grayscale"_s, grayBmp);
    // A press profile of 9 MB, stored: over libpng's limit of 8,000,000 bytes for a chunk.
    QByteArray press9 = described.iccProfile().leftJustified(9'000'000, '\0').replace(0, 4, be32(9'000'000));
    QByteArray stored(int(compressBound(uLong(press9.size()))), '\0');
    uLongf storedSize = uLongf(stored.size());
    compress2(reinterpret_cast<Bytef*>(stored.data()), &storedSize,
              reinterpret_cast<const Bytef*>(press9.constData()), uLong(press9.size()), 0);
    row("9 MB profile.png",
        QByteArray(unstated).insert(
            33, pngChunk("iCCP", QByteArray("press\0\0", 7) + stored.left(int(storedSize)))),
        u"Grayscale, Lumetra test profile"_s);
    row("gray, inch.jpg", jfif(encode(gray, "jpeg"), 1, 96, 120), u"Grayscale"_s, gray, {96, 120});
    QImage profiled = quadrants(32, 32);
    profiled.setColorSpace(described);
    row("profiled png as.jpg", encode(profiled, "png"), u"RGB, Lumetra test profile"_s, quadrants(32, 32));
    row("profiled, aspect.jpeg", jfif(encode(profiled, "jpeg"), 0, 1, 1), u"RGB, Lumetra test profile"_s,
        quadrants(32, 32), {72, 72});
    // Left half full magenta, right half full black (see fixtures/make_cmyk_jpeg.c).
    QVERIFY(QFile::copy(QStringLiteral(LUMETRA_IMAGING_FIXTURES "/cmyk.jpg"), g_folder + u"/cmyk.jpg"_s));
    row("cmyk.jpg", {}, u"CMYK"_s, quadrants(16, 8, {0xFFFF00FF, 0xFF000000, 0xFFFF00FF, 0xFF000000}));
    // Marked as CMYK, the profile is one the toolkit cannot parse; its own tag still describes it.
    const QByteArray press = described.iccProfile().replace(16, 4, "CMYK");
    QVERIFY(!QColorSpace::fromIccProfile(press).isValid());
    // Exif alone states 300 x 150 dpi (rationals at offsets 62 and 70) and asks for a quarter
    // turn, which a target must not get; the profile comes in an APP2 segment.
    QByteArray exif("Exif\0\0MM\0*\0\0\0\x08\0\x04", 16);
    for (const auto& [tag, type, value] : {std::tuple(282, 5, 62u), std::tuple(283, 5, 70u),
                                           std::tuple(296, 3, 2u << 16), std::tuple(0x112, 3, 6u << 16)})
        exif += be32(quint32(tag << 16 | type)) + be32(1) + be32(value);
    QByteArray turned =
        segment(segment(jfif(jpeg, 0, 1, 1), '\xE2', QByteArray("ICC_PROFILE\0\1\1", 14) + press), '\xE1',
                exif + be32(0) + be32(300) + be32(1) + be32(150) + be32(1));
    QBuffer buffer(&turned);
    QCOMPARE(QImageReader(&buffer).transformation(), QImageIOHandler::TransformationRotate90);
    row("exif turned, unparsed profile.jpg", turned, u"RGB, Lumetra test profile"_s, quadrants(16, 16),
        {300, 150});

    row("lab.tif", tiffBytes({{PHOTOMETRIC_CIELAB}}),
        u"Unsupported color model. Use an RGB, grayscale, or CMYK target image."_s);
    QByteArray ojpeg = tiffBytes({{}});
    row("old-style jpeg.tif",
        ojpeg.replace(ojpeg.indexOf(QByteArray("\x03\x01\x03\0\x01\0\0\0\x01", 9)) + 8, 1, "\x06"),
        u"The TIFF image uses old-style JPEG compression, which Lumetra cannot read. Save the target "
        "uncompressed or with LZW or Deflate compression."_s);
    QByteArray noPhotometric = tiffBytes({{}});
    const qsizetype entry = noPhotometric.indexOf(QByteArray("\x06\x01\x03\0\x01\0\0\0", 8)); // tag 262
    row("no photometric.tif", noPhotometric.replace(entry, 2, "\xE8\xFD"), // now a private tag
        u"The TIFF image does not state its color model (it has no Photometric tag), so its colors are unknown."_s);
    const QString unsigned8or16 = u"which Lumetra cannot print. Use unsigned 8- or 16-bit samples."_s;
    row("signed.tif", tiffBytes({{PHOTOMETRIC_RGB, 3, 8, SAMPLEFORMAT_INT}}),
        u"The TIFF image has signed samples, "_s + unsigned8or16);
    row("float.tif", tiffBytes({{PHOTOMETRIC_RGB, 3, 32, SAMPLEFORMAT_IEEEFP}}),
        u"The TIFF image has floating-point samples, "_s + unsigned8or16);

    // Damaged data per decoder: files cut short.
    const auto lzw = [](quint32 w, quint32 h) {
        return tiffBytes({{PHOTOMETRIC_MINISBLACK, 1, 8, SAMPLEFORMAT_UINT, QByteArray(), 0, 0, 0,
                           COMPRESSION_LZW, w, h, 0, QByteArray("\x80\0", 2)}});
    };
    row("cut.jpg", encode(rgba64.scaled(64, 64), "jpeg").chopped(400), kUnreadable); // inside its scan data
    row("no IEND.png", png.chopped(12), kUnreadable);

    // The cap, on the header's size; just inside it, LZW data that ends before its end code fails.
    row("2^32.tif", lzw(65536, 65536), kTooLarge);
    row("row over.tif", lzw(20000, 15001), kTooLarge);
    row("at cap.tif", lzw(20000, 15000), kUndecodable);
    const auto ihdr = [&](quint32 w, quint32 h) { // after the signature, IHDR of 13 data bytes
        return png.left(8) + pngChunk("IHDR", be32(w) + be32(h) + png.mid(24, 5)) + png.mid(33);
    };
    row("row over.png", ihdr(20000, 15001), kTooLarge);
    const qsizetype frame = jpeg.indexOf("\xFF\xC0") + 5; // height and width
    row("row over.jpg", QByteArray(jpeg).replace(frame, 4, be32(15001u << 16 | 20000u)), kTooLarge);
    // Under the cap, but wider than the toolkit holds.
    const QString tooWide = u"The image is too wide to load: 67,108,864 pixels, at most 67,108,863."_s;
    row("too wide.tif", lzw(67108864, 4), tooWide);
    row("too wide.png", ihdr(67108864, 4), tooWide);

    // JPEG processes libjpeg does not decode.
    row("12-bit.jpg", QByteArray(jpeg).replace(frame - 1, 1, "\x0C"),
        u"12-bit JPEG is not supported. Save the target as 8-bit JPEG, PNG or TIFF."_s);
#if LIBJPEG_TURBO_VERSION_NUMBER < 3000000 // libjpeg-turbo 3 decodes 8-bit lossless JPEG itself
    row("lossless.jpg", QByteArray(jpeg).replace(frame - 4, 1, "\xC3"),
        u"Lossless JPEG is not supported. Save the target as PNG or TIFF."_s);
#endif
    row("hierarchical.jpg", QByteArray(jpeg).replace(frame - 4, 1, "\xC5"),
        u"Hierarchical JPEG is not supported. Save the target as PNG or TIFF."_s);

    // Scans missing, which no decoder reports: a progressive file cut after its first scan or without
    // its last refinement, and one of a scan per component without the Cr scan.
    QByteArray progressive;
    QBuffer progressiveBuffer(&progressive);
    QImageWriter progressiveWriter(&progressiveBuffer, "jpeg");
    progressiveWriter.setProgressiveScanWrite(true);
    progressiveWriter.setQuality(100);
    QVERIFY(progressiveWriter.write(quadrants(16, 16)));
    const QByteArray scans = scanPerComponent(quadrants(16, 16));
    row("progressive.jpg", progressive, u"RGB"_s, quadrants(16, 16));
    row("progressive, first scan.jpg",
        progressive.left(progressive.indexOf("\xFF\xDA", progressive.indexOf("\xFF\xDA") + 2)) + "\xFF\xD9",
        kUnreadable);
    row("progressive, no last scan.jpg", progressive.left(progressive.lastIndexOf("\xFF\xDA")) + "\xFF\xD9",
        kUnreadable);
    row("scan per component.jpg", scans, u"RGB"_s, quadrants(16, 16));
    row("scan per component, no Cr.jpg", scans.left(scans.lastIndexOf("\xFF\xDA")) + "\xFF\xD9", kUnreadable);
}

void TestImaging::load()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFETCH(QImage, pixels);
    QFETCH(QSizeF, dpi);
    const QString file = writeFile(QString::fromUtf8(QTest::currentDataTag()), bytes);
    g_largest = 0;
    PrintableImage image;
    QCOMPARE(outcomeOf(file, 0, &image), expected);
    if (expected == kTooLarge || expected.startsWith(u"The image is too wide"_s))
        QVERIFY(g_largest < 64 << 20); // refused before a pixel buffer exists
    if (dpi.isValid()) {               // 72 x 72 here always stands for a file that states none
        QCOMPARE(QSizeF(image.dpiX, image.dpiY), dpi);
        QCOMPARE(image.resolutionAssumed, dpi == QSizeF(72, 72));
    }
    if (pixels.isNull())
        return;
    if (!file.contains(".jp"_L1)) // lossless: exact at 16 bits per channel, premultiplied or not
        QCOMPARE(image.image.convertToFormat(QImage::Format_RGBA64),
                 pixels.convertToFormat(QImage::Format_RGBA64));
    const int w = pixels.width(), h = pixels.height(); // JPEG: the quadrant centres, within 3
    for (const QPoint p : {QPoint(w / 4, h / 4), QPoint(3 * w / 4, h / 4), QPoint(w / 4, 3 * h / 4)})
        for (const int s : {0, 8, 16}) // blue, green, red
            QVERIFY(qAbs(int(image.image.pixel(p) >> s & 255) - int(pixels.pixel(p) >> s & 255)) <= 3);
}

QTEST_GUILESS_MAIN(TestImaging)
#include "tst_imaging.moc"
