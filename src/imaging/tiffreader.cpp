#include "imageloader.h"

#include "readersupport.h"

#include <QFile>
#include <QImage>

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace Lumetra {

namespace {

// The most one libtiff buffer may take: a whole capped image in a single strip at
// 8 bytes per pixel (16-bit RGBA). A header asking for more lies about its layout,
// for instance with hundreds of samples per pixel.
constexpr quint64 kMaxTiffBufferBytes = kMaxImagePixels * 8;

QString undecodableMessage()
{
    return QStringLiteral("The TIFF image data could not be decoded.");
}

QString colorModelMessage()
{
    return QStringLiteral("Unsupported color model. Use an RGB, grayscale, or CMYK target image.");
}

// libtiff's reports for one handle. Warnings while the directory is read are
// about tags (unknown ones, odd counts) and harmless; once pixels are decoded,
// a warning means damaged data that libtiff has papered over.
struct TiffReports
{
    bool decoding = false;
    bool damaged = false;
};

struct TiffCloser
{
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

#if TIFFLIB_VERSION >= 20221213
int onError(TIFF*, void* reports, const char*, const char* format, va_list arguments)
{
    // libtiff refuses a resolution that is NaN or negative and leaves the tag unset: for the
    // reader that is a resolution the file does not state, not damage.
    char text[256];
    va_list copy;
    va_copy(copy, arguments);
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    const bool resolution = std::strstr(text, "Bad value") &&
                            (std::strstr(text, "\"XResolution\"") || std::strstr(text, "\"YResolution\""));
    static_cast<TiffReports*>(reports)->damaged |= !resolution;
    return 1; // handled: nothing reaches libtiff's global handler or stderr
}

int onWarning(TIFF*, void* reports, const char*, const char*, va_list)
{
    auto* r = static_cast<TiffReports*>(reports);
    r->damaged = r->damaged || r->decoding;
    return 1;
}
#endif

TIFF* openTiff(const QString& path, TiffReports& reports)
{
#if TIFFLIB_VERSION >= 20221213
    // libtiff 4.5 can refuse any single allocation above a limit, whatever it is for,
    // and report to this handle alone.
    if (TIFFOpenOptions* options = TIFFOpenOptionsAlloc()) {
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxTiffBufferBytes));
        TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &reports);
        TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &reports);
#ifdef Q_OS_WIN
        TIFF* tiff = TIFFOpenWExt(reinterpret_cast<const wchar_t*>(path.utf16()), "r", options);
#else
        TIFF* tiff = TIFFOpenExt(QFile::encodeName(path).constData(), "r", options);
#endif
        TIFFOpenOptionsFree(options);
        return tiff;
    }
#else
    Q_UNUSED(reports);
#endif
#ifdef Q_OS_WIN
    return TIFFOpenW(reinterpret_cast<const wchar_t*>(path.utf16()), "r");
#else
    return TIFFOpen(QFile::encodeName(path).constData(), "r");
#endif
}

// Dots per inch as stated; 0 where the unit states none.
double tiffDpi(float resolution, uint16_t unit)
{
    return unit == RESUNIT_INCH         ? double(resolution)
           : unit == RESUNIT_CENTIMETER ? double(resolution) * 2.54
                                        : 0.0;
}

enum class Model
{
    Gray,
    Rgb,
    Cmyk
};

// How the samples of one pixel become a colour.
struct Layout
{
    Model model = Model::Rgb;
    int colorChannels = 3;
    bool minIsWhite = false;
    bool alpha = false;
    bool associatedAlpha = false;
    int alphaSample = 0; // among the pixel's samples
};

// Where each channel's samples of one row start (the colour channels, then alpha), and the
// distance between pixels.
struct RowSamples
{
    const uchar* channel[5] = {};
    qsizetype stride = 0;
};

inline uint8_t to8(uint8_t v)
{
    return v;
}

inline uint8_t to8(uint16_t v)
{
    return uint8_t((uint32_t(v) * 255 + 32767) / 65535);
}

// One loop per layout: this runs for every pixel, and the strip decode is all the rest of a load.
template<typename Sample, Model model, bool alpha>
void convertRow(const RowSamples& in, QRgb* out, uint32_t count, const Layout& layout)
{
    const auto at = [&in](int channel, uint32_t x) {
        return to8(*reinterpret_cast<const Sample*>(in.channel[channel] + qsizetype(x) * in.stride));
    };
    const int invert = layout.minIsWhite ? 255 : 0;
    for (uint32_t x = 0; x < count; ++x) {
        QRgb rgb = 0;
        if constexpr (model == Model::Gray) {
            const int v = at(0, x) ^ invert;
            rgb = qRgb(v, v, v);
        } else if constexpr (model == Model::Rgb) {
            rgb = qRgb(at(0, x), at(1, x), at(2, x));
        } else {
            rgb = cmykToRgb(at(0, x), at(1, x), at(2, x), at(3, x));
        }
        if constexpr (alpha) {
            constexpr int alphaChannel = model == Model::Gray ? 1 : model == Model::Rgb ? 3 : 4;
            const int a = at(alphaChannel, x);
            // Premultiplied samples above their alpha are damage; keep the image valid.
            const int limit = layout.associatedAlpha ? a : 255;
            out[x] = qRgba(std::min(qRed(rgb), limit), std::min(qGreen(rgb), limit),
                           std::min(qBlue(rgb), limit), a);
        } else {
            out[x] = rgb;
        }
    }
}

using RowConverter = void (*)(const RowSamples&, QRgb*, uint32_t, const Layout&);

template<typename Sample, Model model> RowConverter converter(const Layout& layout)
{
    return layout.alpha ? convertRow<Sample, model, true> : convertRow<Sample, model, false>;
}

template<typename Sample> RowConverter converter(const Layout& layout)
{
    switch (layout.model) {
    case Model::Gray:
        return converter<Sample, Model::Gray>(layout);
    case Model::Rgb:
        return converter<Sample, Model::Rgb>(layout);
    case Model::Cmyk:
        break;
    }
    return converter<Sample, Model::Cmyk>(layout);
}

// Widens 1-, 2- and 4-bit samples to bytes spanning 0 to 255.
void unpackRow(const uchar* in, uchar* out, uint32_t samples, int bits)
{
    const int maximum = (1 << bits) - 1;
    for (uint32_t i = 0; i < samples; ++i) {
        const uint32_t bit = i * uint32_t(bits);
        const int v = (in[bit / 8] >> (8 - bits - int(bit % 8))) & maximum;
        out[i] = uchar(v * 255 / maximum);
    }
}

// The tags that decide how pixels are read, each refused with its own message.
struct Format
{
    Layout layout;
    uint16_t bits = 0;
    uint16_t samples = 0;
    bool separate = false;
    QString colorModel;
    int ignoredChannels = 0;
};

// A compression this libtiff cannot decode, or old-style JPEG, whose files each writer made up
// differently and which libtiff decodes only by guessing.
void checkCompression(uint16_t compression)
{
    if (compression != COMPRESSION_OJPEG && TIFFIsCODECConfigured(compression))
        return;
    const TIFFCodec* codec = TIFFFindCODEC(compression);
    const QString scheme = compression == COMPRESSION_OJPEG ? QStringLiteral("old-style JPEG compression")
                           : codec ? QStringLiteral("%1 compression").arg(QString::fromLatin1(codec->name))
                                   : QStringLiteral("compression scheme %1").arg(compression);
    throw ImageLoadException(QStringLiteral("The TIFF image uses %1, which Lumetra cannot read. Save the "
                                            "target uncompressed or with LZW or Deflate compression.")
                                 .arg(scheme));
}

Format readFormat(TIFF* tiff)
{
    Format format;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    checkCompression(compression);
    uint16_t photometric = 0;
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 0) {
        throw ImageLoadException(QStringLiteral("The TIFF image does not state its color model (it has no "
                                                "Photometric tag), so its colors are unknown."));
    }
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &format.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &format.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inkSet);
    format.separate = planar == PLANARCONFIG_SEPARATE;

    Layout& layout = format.layout;
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        layout = {Model::Gray, 1, photometric == PHOTOMETRIC_MINISWHITE};
        format.colorModel = QStringLiteral("Grayscale");
        break;
    case PHOTOMETRIC_RGB:
        layout = {Model::Rgb, 3};
        format.colorModel = QStringLiteral("RGB");
        break;
    case PHOTOMETRIC_YCBCR:
        // JPEG-compressed RGB is stored as YCbCr; libjpeg turns it back into RGB.
        if (compression != COMPRESSION_JPEG ||
            TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) == 0)
            throw ImageLoadException(colorModelMessage());
        layout = {Model::Rgb, 3};
        format.colorModel = QStringLiteral("RGB");
        break;
    case PHOTOMETRIC_SEPARATED:
        if (inkSet != INKSET_CMYK)
            throw ImageLoadException(colorModelMessage());
        layout = {Model::Cmyk, 4};
        format.colorModel = QStringLiteral("CMYK");
        break;
    default:
        throw ImageLoadException(colorModelMessage());
    }
    if (format.samples < layout.colorChannels || (photometric == PHOTOMETRIC_YCBCR && format.separate))
        throw ImageLoadException(colorModelMessage());

    if (sampleFormat == SAMPLEFORMAT_INT || sampleFormat == SAMPLEFORMAT_COMPLEXINT) {
        throw ImageLoadException(QStringLiteral("The TIFF image has signed samples, which Lumetra cannot "
                                                "print. Use unsigned 8- or 16-bit samples."));
    }
    if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) {
        throw ImageLoadException(
            QStringLiteral("The TIFF image has floating-point samples, which Lumetra cannot "
                           "print. Use unsigned 8- or 16-bit samples."));
    }
    const bool packed = format.bits == 1 || format.bits == 2 || format.bits == 4;
    if (!(format.bits == 8 || format.bits == 16 || (packed && format.samples == 1))) {
        throw ImageLoadException(QStringLiteral("The TIFF image has %1-bit samples, which Lumetra cannot "
                                                "print. Use 8- or 16-bit samples.")
                                     .arg(format.bits));
    }

    // Alpha is the first extra sample marked so, wherever it stands. The others (spot colours, and
    // unspecified samples, which some writers use for alpha) are not printed, and the inspector says so.
    const int extraSamples = format.samples - layout.colorChannels;
    uint16_t extraCount = 0;
    uint16_t* extras = nullptr;
    if (extraSamples > 0 && TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extras) && extras) {
        uint16_t* const end = extras + std::min<int>(extraCount, extraSamples);
        uint16_t* const alpha = std::find_if(extras, end, [](uint16_t kind) {
            return kind == EXTRASAMPLE_ASSOCALPHA || kind == EXTRASAMPLE_UNASSALPHA;
        });
        layout.alpha = alpha != end;
        layout.associatedAlpha = layout.alpha && *alpha == EXTRASAMPLE_ASSOCALPHA;
        layout.alphaSample = layout.colorChannels + int(alpha - extras);
    }
    format.ignoredChannels = extraSamples - int(layout.alpha);
    return format;
}

// Enough for any real multi-page file; a chain of directories longer than this is not a target.
constexpr int kMaxDirectories = 4096;

// Writers add reduced-resolution copies (thumbnails) and transparency masks as directories of their own.
bool isFullResolution(TIFF* tiff)
{
    uint32_t type = 0;
    uint16_t oldType = 0;
    TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &type);
    TIFFGetField(tiff, TIFFTAG_OSUBFILETYPE, &oldType);
    return (type & (FILETYPE_REDUCEDIMAGE | FILETYPE_MASK)) == 0 && oldType != OFILETYPE_REDUCEDIMAGE;
}

// Walks the directories up to full-resolution page `wanted` (-1: all of them) and leaves
// the handle there. Returns the number of pages passed, the wanted one included.
int walkPages(TIFF* tiff, TiffReports& reports, int wanted)
{
    int pages = 0;
    for (int directory = 0; directory < kMaxDirectories; ++directory) {
        if (isFullResolution(tiff) && pages++ == wanted)
            return pages;
        // What counts against a page is what went wrong while reading its own directory.
        reports.damaged = false;
        if (!TIFFReadDirectory(tiff))
            break;
    }
    return pages;
}

TiffHandle openOrThrow(const QString& path, TiffReports& reports)
{
    TiffHandle handle(openTiff(path, reports));
    if (!handle)
        throw ImageLoadException(QStringLiteral("The file could not be read as a TIFF image."));
    return handle;
}

} // namespace

int ImageLoader::tiffPageCount(const QString& path) const
{
    TiffReports reports;
    const TiffHandle handle = openOrThrow(path, reports);
    return walkPages(handle.get(), reports, -1);
}

PrintableImage ImageLoader::loadTiffImage(const QString& path, int page) const
{
    TiffReports reports;
    const TiffHandle handle = openOrThrow(path, reports);
    TIFF* tiff = handle.get();
    if (page < 0)
        throwNoSuchPage(walkPages(tiff, reports, -1), page);
    // Short of the wanted page, the walk has counted every page there is.
    const int passed = walkPages(tiff, reports, page);
    if (passed <= page)
        throwNoSuchPage(passed, page);

    uint32_t width = 0;
    uint32_t height = 0;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) == 0 ||
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) == 0)
        throw ImageLoadException(QStringLiteral("The TIFF image size could not be read."));

    uint16_t resolutionUnit = RESUNIT_INCH;
    float xResolution = 0.0f;
    float yResolution = 0.0f;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &resolutionUnit);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xResolution);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &yResolution);
    const Format format = readFormat(tiff);

    uint32_t iccSize = 0;
    void* iccData = nullptr;
    const bool hasIccProfile =
        TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &iccSize, &iccData) == 1 && iccSize != 0 && iccData;
    const QString iccDescription =
        hasIccProfile
            ? iccProfileDescription(QByteArray(static_cast<const char*>(iccData), qsizetype(iccSize)))
            : QString();

    // A header may declare any size; refuse before a pixel buffer exists.
    checkPixelCount(width, height);
    if (width == 0 || height == 0)
        throw ImageLoadException(undecodableMessage());
    const bool tiled = TIFFIsTiled(tiff);
    const uint64_t chunkBytes = tiled ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
    const uint64_t chunkRowBytes = tiled ? TIFFTileRowSize64(tiff) : TIFFScanlineSize64(tiff);
    const int planes = format.separate ? format.samples : 1;
    if (chunkBytes == 0 || chunkRowBytes == 0 || chunkBytes * uint64_t(planes) > kMaxTiffBufferBytes)
        throw ImageLoadException(undecodableMessage());

    uint32_t chunkWidth = width;
    uint32_t chunkHeight = 0;
    if (tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &chunkWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &chunkHeight);
    } else {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &chunkHeight);
        chunkHeight = std::min(chunkHeight, height);
    }
    if (chunkWidth == 0 || chunkHeight == 0 || uint64_t(chunkHeight) * chunkRowBytes > chunkBytes)
        throw ImageLoadException(undecodableMessage());

    // Premultiplied samples go into a premultiplied image: their colours stay the file's.
    QImage image = allocateImage(width, height,
                                 format.layout.associatedAlpha ? QImage::Format_ARGB32_Premultiplied
                                                               : QImage::Format_ARGB32);

    // One strip or tile per plane, decoded in turn: memory beyond the image stays one chunk.
    std::vector<uchar> chunk(size_t(chunkBytes) * size_t(planes));
    const bool packed = format.bits < 8;
    const int samplesPerPlane = format.separate ? 1 : format.samples;
    std::vector<uchar> unpacked(packed ? size_t(chunkWidth) * size_t(format.samples) : 0);
    const qsizetype sampleBytes = format.bits == 16 ? 2 : 1;
    const RowConverter convert =
        format.bits == 16 ? converter<uint16_t>(format.layout) : converter<uint8_t>(format.layout);
    reports.decoding = true;
    for (uint32_t top = 0; top < height; top += chunkHeight) {
        for (uint32_t left = 0; left < width; left += chunkWidth) {
            for (int plane = 0; plane < planes; ++plane) {
                uchar* target = chunk.data() + size_t(chunkBytes) * size_t(plane);
                const tmsize_t read =
                    tiled ? TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, left, top, 0, uint16_t(plane)),
                                                target, tmsize_t(chunkBytes))
                          : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, top, uint16_t(plane)), target,
                                                 tmsize_t(chunkBytes));
                const uint32_t rows = tiled ? chunkHeight : std::min(chunkHeight, height - top);
                // Stop at the first damaged strip or tile: garbage must not pass for a target.
                if (read < 0 || uint64_t(read) < uint64_t(rows) * chunkRowBytes || reports.damaged)
                    throw ImageLoadException(undecodableMessage());
            }
            const uint32_t rows = std::min(chunkHeight, height - top);
            const uint32_t columns = std::min(chunkWidth, width - left);
            for (uint32_t r = 0; r < rows; ++r) {
                RowSamples samples;
                // The colour channels, then alpha; other extra samples are not printed.
                for (int c = 0; c < format.layout.colorChannels + int(format.layout.alpha); ++c) {
                    const int sample = c < format.layout.colorChannels ? c : format.layout.alphaSample;
                    const int plane = format.separate ? sample : 0;
                    const uchar* row =
                        chunk.data() + size_t(chunkBytes) * size_t(plane) + size_t(r * chunkRowBytes);
                    if (packed) {
                        unpackRow(row, unpacked.data(), columns * uint32_t(samplesPerPlane), format.bits);
                        row = unpacked.data();
                    }
                    samples.channel[c] = row + (format.separate ? 0 : sample * (packed ? 1 : sampleBytes));
                }
                samples.stride = (packed ? 1 : sampleBytes) * samplesPerPlane;
                convert(samples, reinterpret_cast<QRgb*>(image.scanLine(int(top + r))) + left, columns,
                        format.layout);
            }
        }
    }

    PrintableImage result = emptyResult(path);
    result.pixelWidth = width;
    result.pixelHeight = height;
    setStatedResolution(result, tiffDpi(xResolution, resolutionUnit), tiffDpi(yResolution, resolutionUnit));
    result.colorModel = format.colorModel;
    result.ignoredChannels = format.ignoredChannels;
    result.hasIccProfile = hasIccProfile;
    result.iccProfileDescription = iccDescription;
    result.image = image;
    return result;
}

} // namespace Lumetra
