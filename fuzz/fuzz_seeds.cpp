// Writes small valid files as starting points for the fuzzers:
//   fuzz_seeds DIR   creates DIR/tiff and DIR/toolkit.
#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <tiffio.h>

#include <cstdio>
#include <vector>

namespace {

struct TiffSeed
{
    const char* name;
    uint16_t samples;
    uint16_t bits;
    uint16_t photometric;
    uint16_t compression;
    bool tiled;
    bool separate = false;
};

bool writeTiffSeed(const QString& path, const TiffSeed& seed, const QByteArray& icc)
{
    const uint32_t width = 9;
    const uint32_t height = 7;
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, seed.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, seed.bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, seed.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, seed.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, seed.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    const bool jpeg = seed.compression == COMPRESSION_JPEG;
    if (jpeg)
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 118.11);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 118.11);
    if (!icc.isEmpty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.constData());
    const size_t rowBytes = size_t(TIFFScanlineSize(tiff));
    bool ok = true;
    if (seed.tiled) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
        std::vector<uchar> tile(size_t(TIFFTileSize(tiff)));
        for (size_t i = 0; i < tile.size(); ++i)
            tile[i] = uchar(i * 29 + 7);
        ok = TIFFWriteTile(tiff, tile.data(), 0, 0, 0, 0) >= 0;
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, jpeg ? 16 : 2);
        std::vector<uchar> row(rowBytes);
        for (uint16_t plane = 0; plane < (seed.separate ? seed.samples : 1); ++plane) {
            for (uint32_t y = 0; ok && y < height; ++y) {
                for (size_t i = 0; i < row.size(); ++i)
                    row[i] = uchar(i * 29 + y * 13 + plane);
                ok = TIFFWriteScanline(tiff, row.data(), y, plane) >= 0;
            }
        }
    }
    ok = ok && TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    return ok;
}

bool writeToolkitSeed(const QString& path, const QImage& image, const QByteArray& format, bool progressive)
{
    QImageWriter writer(path, format);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    root.mkpath(QStringLiteral("tiff"));
    root.mkpath(QStringLiteral("toolkit"));
    const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();

    const TiffSeed tiffSeeds[] = {
        {"rgb8-lzw", 3, 8, PHOTOMETRIC_RGB, COMPRESSION_LZW, false},
        {"rgb8-none-tiled", 3, 8, PHOTOMETRIC_RGB, COMPRESSION_NONE, true},
        {"rgb16-deflate", 3, 16, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, false},
        {"rgba8-packbits", 4, 8, PHOTOMETRIC_RGB, COMPRESSION_PACKBITS, false},
        {"gray8-lzw", 1, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, false},
        {"gray1-fax4", 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX4, false},
        {"cmyk8-lzw-tiled", 4, 8, PHOTOMETRIC_SEPARATED, COMPRESSION_LZW, true},
        {"cmyk16-deflate", 4, 16, PHOTOMETRIC_SEPARATED, COMPRESSION_ADOBE_DEFLATE, false},
        {"rgb8-jpeg", 3, 8, PHOTOMETRIC_YCBCR, COMPRESSION_JPEG, false},
        {"rgb8-lzw-planes", 3, 8, PHOTOMETRIC_RGB, COMPRESSION_LZW, false, true},
        {"gray4-packbits", 1, 4, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS, false},
    };
    bool ok = true;
    for (const TiffSeed& seed : tiffSeeds) {
        const QString path = root.filePath(QStringLiteral("tiff/%1.tif").arg(QLatin1String(seed.name)));
        ok = writeTiffSeed(path, seed, seed.photometric == PHOTOMETRIC_SEPARATED ? icc : QByteArray()) && ok;
    }

    QImage rgb(9, 7, QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            rgb.setPixel(x, y, qRgb(x * 28, y * 36, (x + y) * 16));
    QImage profiled = rgb;
    profiled.setColorSpace(QColorSpace(QColorSpace::SRgb));
    const QString toolkit = root.filePath(QStringLiteral("toolkit/"));
    ok = writeToolkitSeed(toolkit + QStringLiteral("rgb.png"), rgb, "png", false) && ok;
    ok = writeToolkitSeed(toolkit + QStringLiteral("profiled.png"), profiled, "png", false) && ok;
    ok = writeToolkitSeed(toolkit + QStringLiteral("gray.png"),
                          rgb.convertToFormat(QImage::Format_Grayscale8), "png", false) &&
         ok;
    ok = writeToolkitSeed(toolkit + QStringLiteral("rgba64.png"), rgb.convertToFormat(QImage::Format_RGBA64),
                          "png", false) &&
         ok;
    ok = writeToolkitSeed(toolkit + QStringLiteral("indexed.png"),
                          rgb.convertToFormat(QImage::Format_Indexed8), "png", false) &&
         ok;
    ok = writeToolkitSeed(toolkit + QStringLiteral("baseline.jpg"), rgb, "jpeg", false) && ok;
    ok = writeToolkitSeed(toolkit + QStringLiteral("progressive.jpg"), rgb, "jpeg", true) && ok;
    ok = writeToolkitSeed(toolkit + QStringLiteral("profiled.jpg"), profiled, "jpeg", false) && ok;
    if (!ok)
        std::fprintf(stderr, "fuzz_seeds: some seeds could not be written\n");
    return ok ? 0 : 1;
}
