#pragma once

// Test support: a private CUPS scheduler and the poppler tools to inspect what it spooled.
//
// PrivateCups runs its own cupsd for the life of the object, with every folder under one temporary
// directory, listening only on a Unix socket there and keeping each job's document. start() points
// CUPS_SERVER of this process at that socket (call it before Qt's print support first talks to CUPS)
// and adds two queues printing to /dev/null: rawQueue() and postScriptQueue() (CUPS's generic
// PostScript driver). Nothing of the machine's own CUPS set-up is read or written. The scheduler is
// killed with the test process, however that ends.
//
// addDeviceQueue() adds a queue built like a driverless printer: cups-filters' PWG raster driver at
// 300 dpi, 8-bit sRGB, hardware margins (3, 4, 5, 6 mm left, bottom, right, top), a printer profile that
// swaps red and green, a fit-to-page default, and a file as its device, so that the raster the printer would
// get can be read.
//
// The pdf helpers run poppler's tools; on failure they return empty results and fill *error.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace Lumetra::Testing {

class PrivateCups
{
public:
    ~PrivateCups(); // stops the scheduler

    // Starts the scheduler and adds both queues; false with errorString() when that is impossible.
    bool start();
    QString errorString() const { return m_error; }

    QString rawQueue() const { return QStringLiteral("lumetra-raw"); }
    QString postScriptQueue() const { return QStringLiteral("lumetra-ps"); }
    bool setDefaultQueue(const QString& queue);

    // False with errorString() when cups-filters, Ghostscript or the test profile are missing.
    bool addDeviceQueue();
    QString deviceQueue() const { return QStringLiteral("lumetra-device"); }
    QString deviceOutput() const { return path("device.pwg"); }
    // Waits until the queue's job has completed; false after timeoutMs or when it stopped or failed.
    bool waitForCompletedJob(const QString& queue, int jobId, int timeoutMs = 120000) const;
    // Runs a CUPS command-line tool against the private scheduler (lp, lpadmin, cupsreject, ...).
    bool runTool(const QString& program, const QStringList& arguments, QString* output = nullptr);

    // The spooled documents present now; pass them to waitForNewDocument.
    QStringList spooledDocuments() const;
    // The path of a document not in `before` once its job is in the spool, or empty after timeoutMs.
    QString waitForNewDocument(const QStringList& before, int timeoutMs = 30000) const;
    // The job control file of a spooled document: the job's IPP attributes, raw.
    QByteArray jobAttributes(const QString& documentPath) const;

    QString errorLogTail(int lines = 20) const;

private:
    QString path(const char* name) const { return m_dir->filePath(QString::fromLatin1(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_cupsd;
    QString m_error;
};

// One row of `pdfimages -list`.
struct PdfImageInfo
{
    int width = 0, height = 0;
    QString color;    // "rgb", "gray", "cmyk", ...
    QString encoding; // "image" (Flate or uncompressed), "jpeg", "jp2", "jbig2", "ccitt"
    bool interpolate = false;
    int xPpi = 0, yPpi = 0;
};

bool popplerToolsAvailable(QString* missing = nullptr);

QList<PdfImageInfo> listPdfImages(const QString& pdfPath, QString* error = nullptr);

// Extracts every image losslessly and decodes it; one that cannot be decoded comes back null.
QList<QImage> extractPdfImages(const QString& pdfPath, QString* error = nullptr);

// Renders one page at the given resolution; null on failure.
QImage renderPdfPage(const QString& pdfPath, int dpi, int page = 1, QString* error = nullptr);

// Size of a page in PostScript points; invalid on failure.
QSizeF pdfPageSizePoints(const QString& pdfPath, int page = 1, QString* error = nullptr);

// True when the document is a PDF (starts with "%PDF-").
bool isPdf(const QString& path);

// Decodes the pages of a PWG raster stream of 8-bit RGB or grey pages into RGB32 images, each with
// the page's resolution; empty with *error when the stream is not such a stream or ends early.
QList<QImage> readPwgRaster(const QString& path, QString* error = nullptr);

} // namespace Lumetra::Testing
