#include "imageloader.h"

#include "readersupport.h"

#include <QColorSpace>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>

#include <algorithm>
#include <climits>
#include <cmath>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Lumetra {

namespace {

// What a loaded file was: its digest for the print record, its size and time to notice a later change.
struct FileIdentity
{
    QByteArray sha256;
    qint64 size = 0;
    QDateTime modified;
};

FileIdentity fileIdentity(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        throw ImageLoadException(QStringLiteral("The file cannot be read: %1.").arg(file.errorString()));
    const QFileInfo info(path);
    return {hash.result().toHex(), info.size(), info.lastModified()};
}

// The reader's allocation limit is process-wide; restore whatever was set before.
class AllocationLimitScope
{
public:
    explicit AllocationLimitScope(int megabytes) : m_previous(QImageReader::allocationLimit())
    {
        QImageReader::setAllocationLimit(megabytes);
    }
    ~AllocationLimitScope() { QImageReader::setAllocationLimit(m_previous); }
    AllocationLimitScope(const AllocationLimitScope&) = delete;
    AllocationLimitScope& operator=(const AllocationLimitScope&) = delete;

private:
    int m_previous;
};

// Enough for kMaxImagePixels at the widest format the toolkit decodes to (16-bit
// RGBA, 8 bytes per pixel), so the pixel cap is the only size limit.
constexpr int kAllocationLimitMegabytes = int((kMaxImagePixels * 8 + (1u << 20) - 1) >> 20);

enum class Content
{
    Png,
    Jpeg,
    Other
};

// The suffix picks the TIFF reader; among the other suffixes the content decides,
// so a PNG named .jpg still loads as the PNG it is.
Content sniff(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Content::Other;
    const QByteArray head = file.read(8);
    if (head == QByteArray("\x89PNG\r\n\x1A\n", 8))
        return Content::Png;
    if (head.startsWith("\xFF\xD8\xFF"))
        return Content::Jpeg;
    return Content::Other;
}

// Refuses a path that names no file Lumetra may read, with the system's own reason: a file that is
// not there and one that may not be read need different remedies. Opening a pipe or a device
// would wait for a writer that may never come, so only a regular file is opened.
void checkFile(const QString& path, const QString& whenMissing)
{
    const QString notAFile = QStringLiteral("The path names a folder, pipe or device, not an image file.");
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    int error = ::stat(name.constData(), &status) == 0 ? 0 : errno;
    if (error == 0 && !S_ISREG(status.st_mode))
        throw ImageLoadException(notAFile);
    if (error == 0) {
        const int file = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        error = file < 0 ? errno : 0;
        if (file >= 0)
            ::close(file);
    }
    if (error == ENOENT || error == ENOTDIR)
        throw ImageLoadException(whenMissing);
    if (error == EACCES || error == EPERM) {
        throw ImageLoadException(
            QStringLiteral("The file cannot be read (permission denied). Check the file's permissions."));
    }
    if (error != 0)
        throw ImageLoadException(QStringLiteral("The file cannot be read: %1.").arg(qt_error_string(error)));
#else
    const QFileInfo info(path);
    if (!info.exists())
        throw ImageLoadException(whenMissing);
    if (!info.isFile())
        throw ImageLoadException(notAFile);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ImageLoadException(QStringLiteral("The file cannot be read: %1.").arg(file.errorString()));
#endif
}

// Refuses what no reader takes, and returns whether the TIFF reader takes the rest.
bool checkPath(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (!ImageLoader::suffixes().contains(suffix))
        throw ImageLoadException(QStringLiteral("Choose a TIFF, JPEG, or PNG image."));
    checkFile(path, QStringLiteral("The file does not exist. Check the file name and folder."));
    return suffix == QLatin1String("tif") || suffix == QLatin1String("tiff");
}

// A refusal of one file or page, for a user who may have chosen many.
ImageLoadException named(const QString& name, const ImageLoadException& error)
{
    return ImageLoadException(QStringLiteral("%1: %2").arg(name, error.message()));
}

// Drawings that the toolkit renders at whatever size they state: not pixels to print one for one.
bool isVectorFormat(const QByteArray& format)
{
    return format == "svg" || format == "svgz" || format == "pdf" || format == "eps";
}

} // namespace

void checkPixelCount(quint64 width, quint64 height)
{
    // Both factors fit in 32 bits, so the product cannot overflow 64 bits.
    if (width > 0xFFFFFFFFu || height > 0xFFFFFFFFu || width * height > kMaxImagePixels) {
        throw ImageLoadException(
            QStringLiteral("The image has more than 300 million pixels, the most Lumetra can load."));
    }
}

QString unreadableImageMessage()
{
    return QStringLiteral("The file could not be read as an image.");
}

PrintableImage emptyResult(const QString& path)
{
    PrintableImage result;
    result.filePath = path;
    result.fileName = QFileInfo(path).fileName();
    result.resolutionAssumed = true;
    return result;
}

void setStatedResolution(PrintableImage& result, double dpiX, double dpiY)
{
    const auto stated = [](double dpi) { return std::isfinite(dpi) && dpi > 0.0; };
    // A file that states one axis means square pixels, not 72 dpi across the other.
    if (!stated(dpiX))
        dpiX = dpiY;
    if (!stated(dpiY))
        dpiY = dpiX;
    result.resolutionAssumed = !stated(dpiX);
    result.dpiX = result.resolutionAssumed ? kFallbackDpi : dpiX;
    result.dpiY = result.resolutionAssumed ? kFallbackDpi : dpiY;
}

void checkLineWidth(quint32 width, QImage::Format format)
{
    // The toolkit counts the bits of one line in an int.
    const quint32 widest = quint32((INT_MAX - 31) / QImage::toPixelFormat(format).bitsPerPixel());
    if (width > widest) {
        QLocale numbers(QLocale::C);
        numbers.setNumberOptions({});
        throw ImageLoadException(QStringLiteral("The image is too wide to load: %1 pixels, at most %2.")
                                     .arg(numbers.toString(width), numbers.toString(widest)));
    }
}

QImage allocateImage(quint32 width, quint32 height, QImage::Format format)
{
    checkLineWidth(width, format);
    QImage image(int(width), int(height), format);
    if (image.isNull()) {
        const quint64 bytes =
            quint64(width) * height * quint64(QImage::toPixelFormat(format).bitsPerPixel()) / 8;
        throw ImageLoadException(
            QStringLiteral("There is not enough memory to load the image: it needs %1 MB.")
                .arg((bytes + (1u << 20) - 1) >> 20));
    }
    return image;
}

bool isGrayImage(const QImage& image)
{
    const QList<QRgb> palette = image.colorTable();
    if (palette.isEmpty())
        return image.isGrayscale();
    return std::all_of(palette.begin(), palette.end(), [](QRgb entry) { return qIsGray(entry); });
}

void throwNoSuchPage(int pages, int page)
{
    if (pages == 0)
        throw ImageLoadException(
            QStringLiteral("The file holds no full-resolution image, only thumbnails or masks."));
    throw ImageLoadException(
        pages == 1
            ? QStringLiteral("The file holds 1 page, so page %1 cannot be loaded.").arg(qint64(page) + 1)
            : QStringLiteral("The file holds %1 pages, so page %2 cannot be loaded.")
                  .arg(pages)
                  .arg(qint64(page) + 1));
}

QStringList ImageLoader::suffixes()
{
    return {QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
            QStringLiteral("png")};
}

PrintableImage ImageLoader::load(const QString& path) const
{
    return load(path, 0);
}

int ImageLoader::pageCount(const QString& path) const
{
    return checkPath(path) ? tiffPageCount(path) : 1;
}

PrintableImage ImageLoader::load(const QString& path, int page) const
{
    if (checkPath(path))
        return loadTiffImage(path, page);
    if (page != 0)
        throwNoSuchPage(1, page);
    switch (sniff(path)) {
    case Content::Png:
        return loadPngImage(path);
    case Content::Jpeg:
        return loadJpegImage(path);
    case Content::Other:
        break;
    }
    return loadQtImage(path);
}

LoadedTargetSet ImageLoader::loadSet(const QStringList& paths, const ReadingReport& reading) const
{
    const QStringList ordered = naturallyOrderedPaths(paths);
    if (ordered.isEmpty())
        throw ImageLoadException(QStringLiteral("Choose a TIFF, JPEG, or PNG image."));

    LoadedTargetSet result;
    for (const QString& path : ordered) {
        try {
            // A file without a full-resolution page still takes a place, to be refused with
            // the loader's own reason below.
            const int count = std::max(pageCount(path), 1);
            const FileIdentity identity = fileIdentity(path);
            for (int page = 0; page < count; ++page)
                result.set.pages.append(
                    {emptyResult(path), page, count, identity.sha256, identity.size, identity.modified});
        } catch (const ImageLoadException& error) {
            throw named(QFileInfo(path).fileName(), error);
        }
    }
    for (qsizetype i = 0; i < result.set.pages.size(); ++i) {
        TargetPage& page = result.set.pages[i];
        if (reading)
            reading(page.name(), int(i) + 1, int(result.set.pages.size()));
        try {
            PrintableImage image = load(page.facts.filePath, page.pageIndex);
            if (result.set.pages.size() == 1)
                result.firstPage = image;
            page.facts = std::move(image);
            page.facts.image = QImage();
        } catch (const ImageLoadException& error) {
            throw named(page.name(), error);
        }
    }
    // Each page was let go once checked, so no two are held at once; the first is decoded again.
    if (result.set.pages.size() > 1)
        result.firstPage = loadPage(result.set.pages.constFirst());
    return result;
}

PrintableImage ImageLoader::loadPage(const TargetPage& page) const
{
    const QString& path = page.facts.filePath;
    int pages = 0;
    PrintableImage image;
    try {
        checkFile(path, QStringLiteral("The file no longer exists. Put it back or load the target again."));
        pages = pageCount(path);
        if (pages == page.pagesInFile)
            image = load(path, page.pageIndex);
    } catch (const ImageLoadException& error) {
        throw named(page.name(), error);
    }
    const PrintableImage& facts = page.facts;
    const QFileInfo file(path);
    if (pages != page.pagesInFile || file.size() != page.fileSize || file.lastModified() != page.modified ||
        image.pixelWidth != facts.pixelWidth || image.pixelHeight != facts.pixelHeight ||
        image.dpiX != facts.dpiX || image.dpiY != facts.dpiY || image.colorModel != facts.colorModel) {
        throw ImageLoadException(
            QStringLiteral("%1 has changed since it was loaded. Load the target again.").arg(page.name()));
    }
    return image;
}

// Formats other than PNG and JPEG under a PNG or JPEG name: the toolkit decodes
// them, and nothing they state about resolution or colour is taken on trust.
PrintableImage ImageLoader::loadQtImage(const QString& path) const
{
    const AllocationLimitScope allocationLimit(kAllocationLimitMegabytes);
    QImageReader reader(path, QByteArray());
    reader.setAutoTransform(false);
    if (isVectorFormat(reader.format())) {
        throw ImageLoadException(
            QStringLiteral("The file is a vector drawing (%1), not a pixel image. Export "
                           "the target as TIFF, PNG or JPEG at its print resolution.")
                .arg(QString::fromLatin1(reader.format().toUpper())));
    }
    // The header's size is checked before the reader allocates anything.
    const QSize declared = reader.size();
    if (declared.isValid()) {
        checkPixelCount(quint64(declared.width()), quint64(declared.height()));
        if (reader.imageFormat() != QImage::Format_Invalid)
            checkLineWidth(quint32(declared.width()), reader.imageFormat());
    }
    QImage image = reader.read();
    if (image.isNull())
        throw ImageLoadException(unreadableImageMessage());

    PrintableImage result = emptyResult(path);
    result.pixelWidth = quint32(image.width());
    result.pixelHeight = quint32(image.height());
    result.colorModel = isGrayImage(image) ? QStringLiteral("Grayscale") : QStringLiteral("RGB");
    image.setColorSpace(QColorSpace());
    result.image = image;
    return result;
}

} // namespace Lumetra
