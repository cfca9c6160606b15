#include "imageloader.h"

#include "readersupport.h"

#include <QFile>
#include <QImage>
#include <QScopeGuard>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace Lumetra {

namespace {

constexpr double kInchesPerMeter = 39.37007874015748;
// A profile larger than this is still reported, but not unpacked for its description.
constexpr uLong kMaxProfileBytes = 64u << 20;
// An iCCP chunk is the profile's name (up to 79 bytes and a zero), a compression byte and the
// compressed profile; libpng's own limit of 8,000,000 bytes drops real profiles of press devices.
constexpr png_alloc_size_t kMaxProfileChunkBytes = kMaxProfileBytes + 81;

// Everything the decode fills in lives here, outside the frame that libpng's
// error handling jumps back into, so nothing is lost or left half-built.
struct PngRead
{
    QFile* file = nullptr;
    bool readingImageData = false;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool carriesProfile = false;
    QByteArray compressedProfile;
    QImage image;
    std::vector<png_bytep> rows;
    PrintableImage result;
};

void readData(png_structp png, png_bytep data, size_t length)
{
    auto* read = static_cast<PngRead*>(png_get_io_ptr(png));
    if (read->file->read(reinterpret_cast<char*>(data), qint64(length)) != qint64(length))
        png_error(png, "file ends early");
}

[[noreturn]] void fail(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

// Before the image data a warning drops one ancillary chunk (a pHYs with a bad
// checksum, say), which then simply states nothing; a profile too large to keep is
// still carried, and libpng names the chunk a warning is about. From the image data
// on, a warning means the pixels or what follows them are damaged.
void warn(png_structp png, png_const_charp message)
{
    auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
    if (read->readingImageData)
        png_longjmp(png, 1);
    if (std::strncmp(message, "iCCP", 4) == 0)
        read->carriesProfile = true;
}

// libpng checks a profile against the image's colour type and drops one it
// dislikes (a CMYK profile on an RGB image); taken as an unknown chunk it is kept.
int keepProfile(png_structp png, png_unknown_chunkp chunk)
{
    auto* read = static_cast<PngRead*>(png_get_user_chunk_ptr(png));
    if (std::memcmp(chunk->name, "iCCP", 4) != 0 || read->carriesProfile)
        return 1;
    read->carriesProfile = true;
    const QByteArray payload(reinterpret_cast<const char*>(chunk->data), qsizetype(chunk->size));
    // A name of 1 to 79 bytes, its terminating zero, the compression method, then the data.
    const qsizetype zero = payload.indexOf('\0');
    if (zero > 0 && zero + 2 <= payload.size())
        read->compressedProfile = payload.mid(zero + 2);
    return 1;
}

QByteArray inflateProfile(const QByteArray& compressed)
{
    if (compressed.isEmpty())
        return {};
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    QByteArray out;
    char buffer[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    int status = Z_OK;
    while (status == Z_OK && out.size() <= qsizetype(kMaxProfileBytes)) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)
            break;
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

// The decoded layout: 8-bit formats by default, 16-bit ones kept at 16 bits.
QImage::Format prepareFormat(png_structp png, png_infop info)
{
    const int colorType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (depth == 16) {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        png_set_swap(png);
#endif
    }
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_packing(png);
        return QImage::Format_Indexed8;
    }
    if (transparency)
        png_set_tRNS_to_alpha(png);
    if ((colorType == PNG_COLOR_TYPE_GRAY) && !transparency) {
        png_set_expand_gray_1_2_4_to_8(png);
        return depth == 16 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8;
    }
    if (!(colorType & PNG_COLOR_MASK_COLOR)) {
        png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    const bool alpha = transparency || (colorType & PNG_COLOR_MASK_ALPHA);
    if (!alpha)
        png_set_filler(png, depth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    if (depth == 16)
        return alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
    return alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888;
}

void setPalette(png_structp png, png_infop info, QImage& image)
{
    png_colorp entries = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &entries, &count);
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    png_get_tRNS(png, info, &alphas, &alphaCount, nullptr);
    QList<QRgb> table(qBound(0, count, 256));
    for (int i = 0; i < table.size(); ++i)
        table[i] = qRgba(entries[i].red, entries[i].green, entries[i].blue, i < alphaCount ? alphas[i] : 255);
    image.setColorTable(table);
}

// libpng's own check lets the first index past the palette through without a word; its pixels
// would print in a colour the file never gave.
bool indicesWithinPalette(const QImage& image)
{
    const int entries = image.colorCount();
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        if (*std::max_element(line, line + image.width()) >= entries)
            return false;
    }
    return true;
}

// Returns false on damage, which is one message to the user; a size the toolkit cannot hold
// is refused with its own.
bool decode(png_structp png, png_infop info, PngRead& read)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, &read, readData);
    // The pixel cap, checked below, is the only size limit.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_chunk_malloc_max(png, kMaxProfileChunkBytes);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, reinterpret_cast<png_const_bytep>("iCCP"), 1);
    png_set_read_user_chunk_fn(png, &read, keepProfile);
    png_read_info(png, info);

    const png_uint_32 width = read.width = png_get_image_width(png, info);
    const png_uint_32 height = read.height = png_get_image_height(png, info);
    if (quint64(width) * height > kMaxImagePixels)
        return false;
    const int colorType = png_get_color_type(png, info);
    const QImage::Format format = prepareFormat(png, info);
    // Before libpng allocates rows of that width.
    checkLineWidth(width, format);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    read.image = allocateImage(width, height, format);
    if (format == QImage::Format_Indexed8)
        setPalette(png, info, read.image);
    read.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        read.rows[y] = read.image.scanLine(int(y));

    png_uint_32 xPerMeter = 0;
    png_uint_32 yPerMeter = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    // Only a pHYs before the image data with an intact checksum reaches here.
    if (!png_get_pHYs(png, info, &xPerMeter, &yPerMeter, &unit) || unit != PNG_RESOLUTION_METER)
        xPerMeter = yPerMeter = 0;
    setStatedResolution(read.result, xPerMeter / kInchesPerMeter, yPerMeter / kInchesPerMeter);
    read.result.colorModel =
        (colorType & PNG_COLOR_MASK_COLOR) ? QStringLiteral("RGB") : QStringLiteral("Grayscale");

    read.readingImageData = true;
    png_read_image(png, read.rows.data());
    // Reads up to IEND and checks every checksum on the way: a file cut short fails here.
    png_read_end(png, nullptr);
    return format != QImage::Format_Indexed8 || indicesWithinPalette(read.image);
}

} // namespace

PrintableImage ImageLoader::loadPngImage(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ImageLoadException(unreadableImageMessage());
    PngRead read;
    read.file = &file;
    read.result = emptyResult(path);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, fail, warn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool decoded = false;
    {
        const auto destroy = qScopeGuard(
            [&] { png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr); });
        decoded = info && decode(png, info, read);
    }
    checkPixelCount(read.width, read.height);
    if (!decoded)
        throw ImageLoadException(unreadableImageMessage());

    PrintableImage result = read.result;
    result.pixelWidth = quint32(read.image.width());
    result.pixelHeight = quint32(read.image.height());
    // Optimisers turn grey charts into palettes of greys, down to 1 bit.
    if (read.image.format() == QImage::Format_Indexed8 && isGrayImage(read.image))
        result.colorModel = QStringLiteral("Grayscale");
    result.hasIccProfile = read.carriesProfile;
    if (read.carriesProfile)
        result.iccProfileDescription = iccProfileDescription(inflateProfile(read.compressedProfile));
    result.image = read.image;
    return result;
}

} // namespace Lumetra
