#pragma once

#include "printmodel.h"
#include "targetset.h"
#include "usererror.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

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

// A target set as loaded: the facts of every page and the pixels of the first.
struct LoadedTargetSet
{
    TargetSet set;
    PrintableImage firstPage;
};

// Turns a TIFF, JPEG or PNG file into a PrintableImage: the file's own pixels in
// their stored order at the file's own resolution, with no colour space attached,
// or an ImageLoadException.
class ImageLoader
{
public:
    // The file-name suffixes the loader reads, in lower case and without the dot; the suffix alone
    // picks the reader.
    static QStringList suffixes();

    PrintableImage load(const QString& path) const;
    // The full-resolution pages of the file, in order: 1 for PNG and JPEG; for a TIFF every directory that is
    // neither a reduced-resolution copy nor a mask. Throws ImageLoadException like load().
    int pageCount(const QString& path) const;
    // One page (0-based index among those pages); load(path) is load(path, 0).
    PrintableImage load(const QString& path, int page) const;
    // Every page of the files, in natural order of their names and each file's own page order,
    // decoded and checked one at a time, never two at once; only the first page's pixels are
    // kept. One refused page refuses the set, and when the set has more than one page the
    // message names it.
    // `reading`, when set, is called before each page is decoded with its name, its place (from 1)
    // and the number of pages; it may be called from whatever thread runs the load.
    using ReadingReport = std::function<void(const QString& name, int page, int pages)>;
    LoadedTargetSet loadSet(const QStringList& paths, const ReadingReport& reading = {}) const;
    // One page of a loaded set decoded again, refused when the file no longer holds what was
    // loaded: the layout was chosen for that.
    PrintableImage loadPage(const TargetPage& page) const;

private:
    PrintableImage loadTiffImage(const QString& path, int page) const;
    int tiffPageCount(const QString& path) const;
    PrintableImage loadQtImage(const QString& path) const;
    PrintableImage loadPngImage(const QString& path) const;
    PrintableImage loadJpegImage(const QString& path) const;
};

} // namespace Lumetra
