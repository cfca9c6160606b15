#pragma once

// Test support: PrivateCups runs its own cupsd in a temporary directory, on a Unix socket there, keeping
// every job's document and logging what the filters and drivers decide; it dies with the test process.
// start() points CUPS_SERVER at it (call it before Qt's print support first talks to CUPS) and adds
// rawQueue() and postScriptQueue() (CUPS's generic PostScript driver, which has no custom sizes), both
// printing to /dev/null. addDeviceQueue() (re)creates a queue built like a driverless printer: PWG raster at
// 300 dpi, sRGB, hardware margins of 3, 4, 5 and 6 mm (left, bottom, right, top), a profile that swaps red
// and green, fit-to-page by default, any further queue defaults given, and a file as its device, whose pages
// devicePages() reads. addDriverlessQueue() starts a simulated IPP Everywhere printer that takes PDF (3 mm
// margins, grey and fit-to-page by default) on a private D-Bus bus and adds the queue CUPS sets up for it.
// The pdf helpers return empty results and fill *error on failure.

#include <QImage>
#include <QProcess>
#include <QSizeF>
#include <QTemporaryDir>

#include <memory>

namespace Lumetra::Testing {

class PrivateCups
{
public:
    ~PrivateCups();
    bool start(); // false with errorString() when impossible
    QString errorString() const { return m_error; }
    QString rawQueue() const { return QStringLiteral("lumetra-raw"); }
    QString postScriptQueue() const { return QStringLiteral("lumetra-ps"); }
    bool setDefaultQueue(const QString& queue);
    bool
    addDeviceQueue(const QStringList& defaults = {}); // false with errorString() when a package is missing
    QString deviceQueue() const { return QStringLiteral("lumetra-device"); }
    bool addDriverlessQueue(); // false with errorString() when cups-ipp-utils or dbus is missing
    QString driverlessQueue() const { return QStringLiteral("lumetra-driverless"); }
    QString driverlessDocument() const; // the document the printer received last, as it was sent
    QString driverlessRequests() const; // every request the printer received, as it logs them
    bool addDriverQueue(const QString& queue, const QString& model); // a driver's PPD, its device /dev/null
    QString jobLog(int jobId) const;  // the scheduler's, filters' and driver's log lines of the job
    void pauseScheduler(bool paused); // stops and continues the scheduler process
    QList<QImage> devicePages(QString* error = nullptr) const; // of the device's last job
    bool waitForCompletedJob(const QString& queue, int jobId, int timeoutMs = 120000) const;
    bool runTool(const QString& program, const QStringList& arguments, QString* output = nullptr);
    QStringList spooledDocuments() const;
    // A spooled document not in `before` once its job exists, or empty after timeoutMs.
    QString waitForNewDocument(const QStringList& before, int timeoutMs = 30000) const;
    QByteArray jobAttributes(const QString& documentPath) const; // the job's IPP attributes, raw
    QString errorLogTail(int lines = 20) const;

private:
    QString path(const char* name) const { return m_dir->filePath(QString::fromLatin1(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_cupsd, m_bus, m_printer;
    mutable QByteArray m_printerLog;
    QString m_error;
};

struct PdfImageInfo // one row of `pdfimages -list`
{
    int width = 0, height = 0;
    QString color, encoding; // "rgb", "gray", ...; "image" (Flate or uncompressed), "jpeg", ...
    bool interpolate = false;
    int xPpi = 0, yPpi = 0;
};

bool popplerToolsAvailable(QString* missing = nullptr);
QList<PdfImageInfo> listPdfImages(const QString& pdfPath, QString* error = nullptr);
QList<QImage> extractPdfImages(const QString& pdfPath, QString* error = nullptr); // lossless
QImage renderPdfPage(const QString& pdfPath, int dpi, int page = 1, QString* error = nullptr);
QSizeF pdfPageSizePoints(const QString& pdfPath, int page = 1,
                         QString* error = nullptr); // invalid on failure
bool isPdf(const QString& path);

} // namespace Lumetra::Testing
