#pragma once

// Test support: a private CUPS scheduler and the poppler tools to inspect what it spooled.
//
// PrivateCups starts its own cupsd for the life of the object. Configuration, spool, cache,
// state, temporary files and logs all live under one QTemporaryDir; the scheduler listens only
// on a Unix socket in that folder and keeps every job's document (PreserveJobFiles). Nothing of
// the machine's own CUPS set-up is read or written.
//
//     Lumetra::Testing::PrivateCups cups;
//     if (!cups.start())                       // call before Qt's print support first talks to CUPS
//         QSKIP(qPrintable(cups.errorString()));
//     cups.setDefaultQueue(cups.rawQueue());   // or cups.postScriptQueue()
//     const QStringList before = cups.spooledDocuments();
//     ... print through QPrinter / QPrintDialog ...
//     const QString pdf = cups.waitForNewDocument(before);   // path of the spooled file, or empty
//     const auto images = Lumetra::Testing::listPdfImages(pdf);
//
// start() sets CUPS_SERVER to the socket in this process and clears PRINTER and LPDEST, so every
// later libcups call (Qt's included) goes to the private scheduler. Two queues exist after a
// successful start: rawQueue() (no driver, the document is passed on untouched) and
// postScriptQueue() (CUPS's generic PostScript driver). Both print to /dev/null. The destructor
// stops the scheduler and restores CUPS_SERVER.
//
// The pdf helpers run poppler's pdfimages, pdftoppm and pdfinfo; they return empty results and fill *error
// when a tool is missing or fails.

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
    PrivateCups() = default;
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    // Starts the scheduler and adds both queues; false with errorString() when that is impossible.
    bool start();
    QString errorString() const { return m_error; }

    QString rawQueue() const { return QStringLiteral("lumetra-raw"); }
    QString postScriptQueue() const { return QStringLiteral("lumetra-ps"); }
    bool setDefaultQueue(const QString& queue);

    // The spooled documents (d-files) present now, sorted; pass to waitForNewDocument.
    QStringList spooledDocuments() const;
    // Waits until a document not in `before` is in the spool and returns its path, or an empty
    // string after timeoutMs.
    QString waitForNewDocument(const QStringList& before, int timeoutMs = 30000) const;
    // The job control file (c-file) of a spooled document: the job's IPP attributes, raw.
    QByteArray jobAttributes(const QString& documentPath) const;

    QString errorLogTail(int lines = 20) const;

private:
    bool fail(const QString& message)
    {
        m_error = message;
        return false;
    }
    bool runClient(const QString& program, const QStringList& arguments, QString* output = nullptr) const;
    QString path(const char* name) const { return m_dir->filePath(QString::fromLatin1(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_cupsd;
    QString m_error;
    QByteArray m_savedServer;
    bool m_hadServer = false;
};

// One row of `pdfimages -list`.
struct PdfImageInfo
{
    int page = 0;
    int number = 0;
    QString type; // "image", "smask", "mask", ...
    int width = 0;
    int height = 0;
    QString color; // "rgb", "gray", "cmyk", "index", ...
    int components = 0;
    int bitsPerComponent = 0;
    QString encoding; // "image" (Flate or uncompressed), "jpeg", "jp2", "jbig2", "ccitt"
    bool interpolate = false;
    int xPpi = 0;
    int yPpi = 0;
};

bool popplerToolsAvailable(QString* missing = nullptr);

QList<PdfImageInfo> listPdfImages(const QString& pdfPath, QString* error = nullptr);

// Extracts every image losslessly (pdfimages -png) and decodes it; one that cannot be decoded comes
// back null.
QList<QImage> extractPdfImages(const QString& pdfPath, QString* error = nullptr);

// Renders one page with pdftoppm at the given resolution; null on failure.
QImage renderPdfPage(const QString& pdfPath, int dpi, int page = 1, QString* error = nullptr);

// Size of a page in PostScript points, from pdfinfo; invalid on failure.
QSizeF pdfPageSizePoints(const QString& pdfPath, int page = 1, QString* error = nullptr);

// True when the document is a PDF (starts with "%PDF-").
bool isPdf(const QString& path);

} // namespace Lumetra::Testing
