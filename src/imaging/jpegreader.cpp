#include "imageloader.h"

#include "readersupport.h"

#include <QFile>
#include <QImage>
#include <QScopeGuard>
#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <map>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace Lumetra {

namespace {

constexpr int kIccMarker = JPEG_APP0 + 2;
constexpr int kExifMarker = JPEG_APP0 + 1;

// Everything the decode fills in lives here, outside the frame that the error
// handling jumps back into, so nothing is lost or left half-built.
struct JpegRead
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf failed{};
    quint64 width = 0;
    quint64 height = 0;
    QImage image;
    std::vector<JSAMPLE> row;
    // What the file states, taken from its markers before they are released.
    double jfifX = 0;
    double jfifY = 0;
    double exifX = 0;
    double exifY = 0;
    bool carriesProfile = false;
    std::map<int, QByteArray> iccChunks;
    int iccCount = 0;
    // libjpeg's reason for giving up, which names what it does not support.
    int errorCode = 0;
    int errorParameter = 0;
};

[[noreturn]] void fail(j_common_ptr info)
{
    auto* read = reinterpret_cast<JpegRead*>(info->client_data);
    read->errorCode = info->err->msg_code;
    read->errorParameter = info->err->msg_parm.i[0];
    std::longjmp(read->failed, 1);
}

// libjpeg repairs damaged data and says so only in a warning: a file cut short
// gets grey rows, a broken scan gets smeared blocks. Any such warning fails the
// load; only warnings about metadata of no consequence pass.
void message(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    const int code = info->err->msg_code;
    if (code != JWRN_JFIF_MAJOR && code != JWRN_ADOBE_XFORM)
        fail(info);
}

void quiet(j_common_ptr) {}

// What an Exif block states about resolution: 0 where it states nothing.
struct ExifResolution
{
    double x = 0;
    double y = 0;
};

ExifResolution exifResolution(const QByteArray& exif)
{
    ExifResolution result;
    if (!exif.startsWith(QByteArray("Exif\0\0", 6)) || exif.size() < 6 + 8)
        return result;
    const QByteArray tiff = exif.mid(6);
    const bool little = tiff.startsWith("II");
    if (!little && !tiff.startsWith("MM"))
        return result;
    const auto u16 = [&](qsizetype pos) -> quint32 {
        if (pos < 0 || pos + 2 > tiff.size())
            return 0;
        return little ? qFromLittleEndian<quint16>(tiff.constData() + pos)
                      : qFromBigEndian<quint16>(tiff.constData() + pos);
    };
    const auto u32 = [&](qsizetype pos) -> quint64 {
        if (pos < 0 || pos + 4 > tiff.size())
            return 0;
        return little ? qFromLittleEndian<quint32>(tiff.constData() + pos)
                      : qFromBigEndian<quint32>(tiff.constData() + pos);
    };
    const auto rational = [&](qsizetype entry) -> double {
        const quint64 offset = u32(entry + 8);
        if (u16(entry + 2) != 5 || offset > quint64(tiff.size()))
            return 0;
        const quint64 denominator = u32(qsizetype(offset) + 4);
        return denominator ? double(u32(qsizetype(offset))) / double(denominator) : 0;
    };
    const quint64 ifd = u32(4);
    if (ifd > quint64(tiff.size()))
        return result;
    const quint32 count = u16(qsizetype(ifd));
    double x = 0;
    double y = 0;
    quint32 unit = 2; // Exif's default is the inch
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype entry = qsizetype(ifd) + 2 + qsizetype(i) * 12;
        if (entry + 12 > tiff.size())
            break;
        switch (u16(entry)) {
        case 282:
            x = rational(entry);
            break;
        case 283:
            y = rational(entry);
            break;
        case 296:
            unit = u16(entry + 8);
            break;
        default:
            break;
        }
    }
    const double scale = unit == 2 ? 1.0 : unit == 3 ? 2.54 : 0.0;
    result.x = x * scale;
    result.y = y * scale;
    return result;
}

// ICC_PROFILE segments carry a sequence number and a count; the profile is their
// payloads in order, and nothing when the set is incomplete.
QByteArray assembleProfile(const std::map<int, QByteArray>& chunks, int count)
{
    QByteArray profile;
    int expected = 1;
    for (const auto& [sequence, payload] : chunks) {
        if (sequence != expected++)
            return {};
        profile += payload;
    }
    return expected - 1 == count ? profile : QByteArray();
}

// libjpeg releases the saved markers when it finishes, so they are read right after the header.
void readStatements(JpegRead& read)
{
    const jpeg_decompress_struct& info = read.info;
    // JFIF gives density in dots per inch (unit 1) or per centimetre (unit 2); unit 0 is an aspect ratio.
    if (info.saw_JFIF_marker && (info.density_unit == 1 || info.density_unit == 2)) {
        const double scale = info.density_unit == 1 ? 1.0 : 2.54;
        read.jfifX = info.X_density * scale;
        read.jfifY = info.Y_density * scale;
    }
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        const QByteArray payload(reinterpret_cast<const char*>(m->data), qsizetype(m->data_length));
        if (m->marker == kExifMarker && read.exifX == 0 && read.exifY == 0) {
            const ExifResolution exif = exifResolution(payload);
            read.exifX = exif.x;
            read.exifY = exif.y;
        } else if (m->marker == kIccMarker && payload.startsWith(QByteArray("ICC_PROFILE\0", 12)) &&
                   payload.size() > 14) {
            read.carriesProfile = true;
            read.iccCount = uchar(payload[13]);
            read.iccChunks.emplace(uchar(payload[12]), payload.mid(14));
        }
    }
}

// The refusal of a file that libjpeg gave up on: a process it does not support, or else damage.
QString failureMessage(const JpegRead& read)
{
    if (read.errorCode == JERR_BAD_PRECISION) {
        return QStringLiteral("%1-bit JPEG is not supported. Save the target as 8-bit JPEG, PNG or TIFF.")
            .arg(read.errorParameter);
    }
    if (read.errorCode == JERR_SOF_UNSUPPORTED) {
        switch (read.errorParameter) {
        case 0xC3: // lossless, and the same in hierarchical files and with arithmetic coding
        case 0xC7:
        case 0xCB:
        case 0xCF:
            return QStringLiteral("Lossless JPEG is not supported. Save the target as PNG or TIFF.");
        case 0xC5: // hierarchical (differential) sequential and progressive
        case 0xC6:
        case 0xCD:
        case 0xCE:
            return QStringLiteral("Hierarchical JPEG is not supported. Save the target as PNG or TIFF.");
        default:
            break;
        }
    }
    return unreadableImageMessage();
}

// No decoder warns of missing scans: it puts out what the others gave, blocky where a progressive
// file lacks refinements, in false colours where a component lacks its scan. Reads every scan and
// tells whether each component got all of its coefficients.
bool scansComplete(jpeg_decompress_struct& info)
{
    // No object with a destructor here: libjpeg's error handling jumps over this frame.
    bool scanned[MAX_COMPONENTS] = {};
    // The first scan's header was read with the file's.
    for (int status = JPEG_REACHED_SOS; status != JPEG_REACHED_EOI; status = jpeg_consume_input(&info)) {
        if (status == JPEG_SUSPENDED)
            return false;
        if (status == JPEG_REACHED_SOS) {
            for (int i = 0; i < info.comps_in_scan; ++i)
                scanned[info.cur_comp_info[i]->component_index] = true;
        }
    }
    if (!info.progressive_mode)
        return std::all_of(scanned, scanned + info.num_components, [](bool seen) { return seen; });
    // Per component and coefficient, the lowest bit still unknown after the last scan (-1: none
    // known); 0 once the coefficient is complete.
    for (int c = 0; c < info.num_components; ++c) {
        if (std::any_of(info.coef_bits[c], info.coef_bits[c] + DCTSIZE2, [](int bit) { return bit != 0; }))
            return false;
    }
    return true;
}

bool decode(JpegRead& read, const uchar* data, qsizetype size)
{
    if (setjmp(read.failed))
        return false;
    jpeg_decompress_struct& info = read.info;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&info, kExifMarker, 0xFFFF);
    jpeg_save_markers(&info, kIccMarker, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    readStatements(read);
    read.width = info.image_width;
    read.height = info.image_height;
    if (read.width * read.height > kMaxImagePixels)
        return false;
    // Huffman coding spends at least one bit on every 8 x 8 block of every component,
    // two in a sequential file. A file too short for the size its header claims would
    // otherwise get the whole image allocated before the data runs out.
    if (!info.arith_code) {
        quint64 blocks = 0;
        for (int c = 0; c < info.num_components; ++c)
            blocks += quint64(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
        if (quint64(size) * 8 < blocks * (info.progressive_mode ? 1 : 2))
            return false;
    }

    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    QImage::Format format = QImage::Format_RGBX8888;
    if (cmyk) {
        info.out_color_space = JCS_CMYK;
        format = QImage::Format_RGB32;
    } else if (info.num_components == 1) {
        info.out_color_space = JCS_GRAYSCALE;
        format = QImage::Format_Grayscale8;
    } else {
        info.out_color_space = JCS_EXT_RGBX;
    }
    // A file of several scans is decoded whole before its first row anyway; buffered-image mode
    // lets its scans be checked before any row is put out.
    const bool multiScan = info.progressive_mode || info.comps_in_scan < info.num_components;
    info.buffered_image = multiScan;
    jpeg_start_decompress(&info);
    if (multiScan && !(scansComplete(info) && jpeg_start_output(&info, info.input_scan_number)))
        return false;
    read.image = allocateImage(info.output_width, info.output_height, format);
    if (cmyk)
        read.row.resize(size_t(info.output_width) * 4);
    // Adobe's writers store CMYK with 0 meaning full ink, and mark the file so.
    const bool inverted = info.saw_Adobe_marker;
    while (info.output_scanline < info.output_height) {
        uchar* line = read.image.scanLine(int(info.output_scanline));
        JSAMPROW target = cmyk ? read.row.data() : line;
        jpeg_read_scanlines(&info, &target, 1);
        if (!cmyk)
            continue;
        auto* out = reinterpret_cast<QRgb*>(line);
        const JSAMPLE* in = read.row.data();
        const auto ink = [inverted](JSAMPLE v) { return inverted ? 255 - int(v) : int(v); };
        for (JDIMENSION x = 0; x < info.output_width; ++x, in += 4)
            out[x] = cmykToRgb(ink(in[0]), ink(in[1]), ink(in[2]), ink(in[3]));
    }
    if (multiScan)
        jpeg_finish_output(&info);
    // Reads on to the end marker, so damage after the last row still fails.
    jpeg_finish_decompress(&info);
    return true;
}

} // namespace

PrintableImage ImageLoader::loadJpegImage(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ImageLoadException(unreadableImageMessage());
    qsizetype size = qsizetype(file.size());
    QByteArray copy;
    const uchar* data = size > 0 ? file.map(0, size) : nullptr;
    if (!data) {
        copy = file.readAll();
        data = reinterpret_cast<const uchar*>(copy.constData());
        size = copy.size();
    }

    JpegRead read;
    read.info.err = jpeg_std_error(&read.errors);
    read.errors.error_exit = fail;
    read.errors.emit_message = message;
    read.errors.output_message = quiet;
    read.info.client_data = &read;
    PrintableImage result = emptyResult(path);
    bool decoded = false;
    {
        const auto destroy = qScopeGuard([&read] { jpeg_destroy_decompress(&read.info); });
        decoded = decode(read, data, size);
        if (decoded) {
            const jpeg_decompress_struct& info = read.info;
            result.pixelWidth = quint32(read.image.width());
            result.pixelHeight = quint32(read.image.height());
            result.colorModel = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK
                                    ? QStringLiteral("CMYK")
                                : info.num_components == 1 ? QStringLiteral("Grayscale")
                                                           : QStringLiteral("RGB");
        }
    }
    checkPixelCount(read.width, read.height);
    if (!decoded)
        throw ImageLoadException(failureMessage(read));

    // JFIF first, as every reader does; Exif where JFIF states nothing.
    setStatedResolution(result, read.jfifX > 0 ? read.jfifX : read.exifX,
                        read.jfifY > 0 ? read.jfifY : read.exifY);
    result.hasIccProfile = read.carriesProfile;
    if (read.carriesProfile)
        result.iccProfileDescription = iccProfileDescription(assembleProfile(read.iccChunks, read.iccCount));
    result.image = read.image;
    return result;
}

} // namespace Lumetra
