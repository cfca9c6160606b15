#pragma once

#include "printmodel.h"
#include "usererror.h"

#include <QString>
#include <QtGlobal>

namespace Lumetra {

// The most pixels a target may have on either reader path. A2 at 720 dpi is
// about 203 million pixels; the cap leaves room above that while keeping a
// decoded image (at most 8 bytes per pixel) well inside a desktop's memory.
constexpr quint64 kMaxImagePixels = 300'000'000;

// A load that failed, with a finished sentence for the user.
class ImageLoadException : public UserError
{
public:
    using UserError::UserError;
};

// Turns a TIFF, JPEG or PNG file into a PrintableImage: the file's own pixels in
// their stored order at the file's own resolution, with no colour space attached,
// or an ImageLoadException.
class ImageLoader
{
public:
    PrintableImage load(const QString& path) const;
    // The full-resolution pages of the file, in order: 1 for PNG and JPEG; for a TIFF every directory that is
    // neither a reduced-resolution copy nor a mask. Throws ImageLoadException like load().
    int pageCount(const QString& path) const;
    // One page (0-based index among those pages); load(path) is load(path, 0).
    PrintableImage load(const QString& path, int page) const;

private:
    PrintableImage loadTiffImage(const QString& path, int page) const;
    int tiffPageCount(const QString& path) const;
    PrintableImage loadQtImage(const QString& path) const;
    PrintableImage loadPngImage(const QString& path) const;
    PrintableImage loadJpegImage(const QString& path) const;
};

} // namespace Lumetra
