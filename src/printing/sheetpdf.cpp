#include "sheetpdf.h"

#include "papergeometry.h"
#include "printservice.h"

#include <QCoreApplication>

#include <zlib.h>

#include <algorithm>
#include <memory>

namespace Lumetra {

namespace {

// Rows converted and compressed at a time: small enough to stop promptly, large enough that the
// conversion runs at full speed.
constexpr int kBandRows = 64;

QString cannotWrite()
{
    return QCoreApplication::translate("Lumetra::PrintService", "The printer could not be opened.");
}

QByteArray number(double value)
{
    return QByteArray::number(value, 'f', 4);
}

// A zlib stream that hands its output to a sink as it fills.
class Deflater
{
public:
    explicit Deflater(std::function<void(const char*, qsizetype)> sink) : m_sink(std::move(sink))
    {
        if (deflateInit(&m_stream, Z_DEFAULT_COMPRESSION) != Z_OK)
            throw std::bad_alloc();
    }
    ~Deflater() { deflateEnd(&m_stream); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void add(const uchar* data, qsizetype size) { run(data, size, Z_NO_FLUSH); }
    void finish() { run(nullptr, 0, Z_FINISH); }

private:
    void run(const uchar* data, qsizetype size, int flush)
    {
        m_stream.next_in = const_cast<uchar*>(data);
        m_stream.avail_in = uInt(size);
        int status = Z_OK;
        do {
            m_stream.next_out = reinterpret_cast<Bytef*>(m_out);
            m_stream.avail_out = sizeof(m_out);
            status = deflate(&m_stream, flush);
            if (status == Z_STREAM_ERROR)
                throw std::bad_alloc();
            m_sink(m_out, qsizetype(sizeof(m_out) - m_stream.avail_out));
        } while (m_stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }

    z_stream m_stream{};
    std::function<void(const char*, qsizetype)> m_sink;
    char m_out[256 * 1024];
};

// Pixels of one band in the only layout read below: 0xAARRGGBB with straight alpha. The PDF holds
// straight colour, so premultiplied and other layouts are converted as the toolkit converts them.
QImage band(const QImage& pixels, int top, int rows)
{
    if (pixels.format() == QImage::Format_RGB32 || pixels.format() == QImage::Format_ARGB32) {
        // A read-only view of the rows: no copy of a target that may be gigabytes.
        return QImage(pixels.constScanLine(top), pixels.width(), rows, pixels.bytesPerLine(),
                      pixels.format());
    }
    return pixels.copy(0, top, pixels.width(), rows).convertToFormat(QImage::Format_ARGB32);
}

bool hasTransparency(const QImage& pixels)
{
    if (!pixels.hasAlphaChannel())
        return false;
    for (int top = 0; top < pixels.height(); top += kBandRows) {
        const QImage part = band(pixels, top, std::min(kBandRows, pixels.height() - top));
        for (int y = 0; y < part.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(part.constScanLine(y));
            if (std::any_of(line, line + part.width(), [](QRgb p) { return qAlpha(p) != 255; }))
                return true;
        }
    }
    return false;
}

QByteArray imageDictionary(const QImage& pixels, const char* colorSpace, int lengthObject)
{
    return "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(pixels.width()) + " /Height " +
           QByteArray::number(pixels.height()) + " /ColorSpace /" + colorSpace +
           " /BitsPerComponent 8 /Interpolate false /Filter /FlateDecode /Length " +
           QByteArray::number(lengthObject) + " 0 R";
}

} // namespace

SheetPdfWriter::SheetPdfWriter(const QString& path) : m_file(path), m_offsets(4, 0)
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw PrintException(cannotWrite());
    // The second line marks the file as binary for tools that guess.
    write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    beginObject(1);
    write("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    beginObject(3);
    write("<< /Title (Lumetra) /Creator (Lumetra) /Producer (Lumetra) >>\nendobj\n");
}

SheetPdfWriter::~SheetPdfWriter() = default;

int SheetPdfWriter::newObject()
{
    m_offsets.append(0);
    return int(m_offsets.size()) - 1;
}

void SheetPdfWriter::beginObject(int object)
{
    m_offsets[object] = m_file.pos();
    write(QByteArray::number(object) + " 0 obj\n");
}

void SheetPdfWriter::write(const QByteArray& bytes)
{
    if (m_file.write(bytes) != bytes.size())
        throw PrintException(cannotWrite());
}

bool SheetPdfWriter::addSheet(const PrintableImage& image, const PrintSettings& settings,
                              const QImage& turnedPixels, const std::atomic_bool& cancelled,
                              const Progress& progress)
{
    const QImage pixels = rotatedImage(image.image, settings.rotationDegrees, turnedPixels);
    const bool transparent = hasTransparency(pixels);
    const int imageObject = newObject();
    const int lengthObject = newObject();
    const int maskObject = transparent ? newObject() : 0;

    beginObject(imageObject);
    write(imageDictionary(pixels, "DeviceRGB", lengthObject) +
          (transparent ? " /SMask " + QByteArray::number(maskObject) + " 0 R" : QByteArray()) +
          " >>\nstream\n");
    qint64 length = 0;
    Deflater colour([this, &length](const char* data, qsizetype size) {
        write(QByteArray::fromRawData(data, size));
        length += size;
    });
    QByteArray maskStream;
    std::unique_ptr<Deflater> mask;
    if (transparent)
        mask = std::make_unique<Deflater>(
            [&maskStream](const char* data, qsizetype size) { maskStream.append(data, size); });
    QByteArray rgb(qsizetype(pixels.width()) * 3, Qt::Uninitialized);
    QByteArray alpha(pixels.width(), Qt::Uninitialized);
    for (int top = 0; top < pixels.height(); top += kBandRows) {
        if (cancelled)
            return false;
        const QImage part = band(pixels, top, std::min(kBandRows, pixels.height() - top));
        for (int y = 0; y < part.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(part.constScanLine(y));
            auto* out = reinterpret_cast<uchar*>(rgb.data());
            for (int x = 0; x < part.width(); ++x) {
                *out++ = uchar(qRed(line[x]));
                *out++ = uchar(qGreen(line[x]));
                *out++ = uchar(qBlue(line[x]));
            }
            colour.add(reinterpret_cast<const uchar*>(rgb.constData()), rgb.size());
            if (mask) {
                for (int x = 0; x < part.width(); ++x)
                    alpha[x] = char(qAlpha(line[x]));
                mask->add(reinterpret_cast<const uchar*>(alpha.constData()), alpha.size());
            }
        }
        m_rowsDone += part.height();
        if (progress)
            progress(m_rowsDone);
    }
    colour.finish();
    write("\nendstream\nendobj\n");
    beginObject(lengthObject);
    write(QByteArray::number(length) + "\nendobj\n");
    if (mask) {
        mask->finish();
        const int maskLength = newObject();
        beginObject(maskObject);
        write(imageDictionary(pixels, "DeviceGray", maskLength) + " >>\nstream\n" + maskStream +
              "\nendstream\nendobj\n");
        beginObject(maskLength);
        write(QByteArray::number(maskStream.size()) + "\nendobj\n");
    }

    // PDF space starts at the sheet's bottom left, in points; the placement is the preview's.
    const SizeD sheet = settings.paper.sizeInches(settings.orientation);
    const QRectF placed = placedImageRectInches(sheet, image, settings);
    const QByteArray content = "q\n" + number(placed.width() * 72) + " 0 0 " + number(placed.height() * 72) +
                               ' ' + number(placed.x() * 72) + ' ' +
                               number((sheet.height - placed.bottom()) * 72) + " cm\n/Im0 Do\nQ\n";
    const int contentObject = newObject();
    beginObject(contentObject);
    write("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
          "endstream\nendobj\n");
    const int pageObject = newObject();
    beginObject(pageObject);
    write("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(sheet.width * 72) + ' ' +
          number(sheet.height * 72) + "] /Resources << /XObject << /Im0 " + QByteArray::number(imageObject) +
          " 0 R >> >> /Contents " + QByteArray::number(contentObject) + " 0 R >>\nendobj\n");
    m_pages.append(pageObject);
    return true;
}

void SheetPdfWriter::finish()
{
    QByteArray kids;
    for (const int page : m_pages)
        kids += QByteArray::number(page) + " 0 R ";
    beginObject(2);
    write("<< /Type /Pages /Kids [ " + kids + "] /Count " + QByteArray::number(m_pages.size()) +
          " >>\nendobj\n");
    const qint64 xref = m_file.pos();
    QByteArray table = "xref\n0 " + QByteArray::number(m_offsets.size()) + "\n0000000000 65535 f \n";
    for (qsizetype object = 1; object < m_offsets.size(); ++object)
        table += QByteArray::number(m_offsets.at(object)).rightJustified(10, '0') + " 00000 n \n";
    write(table + "trailer\n<< /Size " + QByteArray::number(m_offsets.size()) +
          " /Root 1 0 R /Info 3 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n");
    if (!m_file.flush())
        throw PrintException(cannotWrite());
    m_file.close();
}

} // namespace Lumetra
