#pragma once

#include "imageloader.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QtGlobal>

// Shared by the readers of each format; not part of the loader's interface.
namespace Lumetra {

// Throws ImageLoadException when a declared size exceeds kMaxImagePixels.
// Called with the size from the file's header, before any pixel buffer exists.
void checkPixelCount(quint64 width, quint64 height);

// "The file could not be read as an image.": what damage in a PNG or JPEG file is refused with.
QString unreadableImageMessage();

// Refuses a page beyond the last of a file with pages pages.
[[noreturn]] void throwNoSuchPage(int pages, int page);

// A result with the path, the file name and the defaults of an image that states nothing.
PrintableImage emptyResult(const QString& path);

// Sets the result's resolution from what the file states per axis, in dots per inch; a value that
// is not positive and finite states nothing. One stated axis stands for both; with none, 72 dpi
// stands in and the resolution counts as assumed.
void setStatedResolution(PrintableImage& result, double dpiX, double dpiY);

// Throws ImageLoadException when a line of the image is longer than the toolkit holds in the format.
void checkLineWidth(quint32 width, QImage::Format format);

// The buffer the decoded pixels go into; refused like checkLineWidth, or when memory runs out.
QImage allocateImage(quint32 width, quint32 height, QImage::Format format);

// Whether the decoded pixels are greys by the loader's own rule, the same on every Qt version: a
// grey format, or a palette whose entries are all grey, whatever its size.
bool isGrayImage(const QImage& image);

// CMYK prints through RGB by one rule on every path: R = (255 - K) * (255 - C) / 255, and
// likewise G from M and B from Y, in whole numbers.
inline QRgb cmykToRgb(int c, int m, int y, int k)
{
    const int white = 255 - k;
    return qRgb(white * (255 - c) / 255, white * (255 - m) / 255, white * (255 - y) / 255);
}

// The description a profile gives of itself: the toolkit's reading where it can
// parse the profile, otherwise the profile's own description tag; may be empty.
QString iccProfileDescription(const QByteArray& profile);

} // namespace Lumetra
