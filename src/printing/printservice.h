#pragma once

#include "printmodel.h"
#include "usererror.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QMarginsF>
#include <QPageLayout>
#include <QPair>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QPainter;
class QPrinter;
class QWidget;

namespace Lumetra {

// A print that could not be done, with a finished message for the user.
class PrintException : public UserError
{
public:
    using UserError::UserError;
};

// One page of a target set, decoded when it is drawn, on the thread that writes the job.
using PageSource = std::function<PrintableImage(int index)>;

// Something the user must accept before a job goes out, shown as a warning with Continue and Cancel.
struct PrintWarning
{
    QString title;
    QString text;
    QString details;
};

// Shows the warning as a modal box with Continue (the default) and Cancel; true for Continue.
bool confirmWarning(QWidget* parent, const PrintWarning& warning);

// One job as it goes out: the pages, the sheet, and where it goes.
struct PrintJob
{
    QList<PrintableImage> pages; // the facts of every page of the set; their pixels may be null
    PageSource pageAt;           // a page's pixels, asked for as the page is written
    int first = 0;               // the pages that print, first to last
    int last = 0;
    PrintSettings settings;
    QString queue;      // the print queue, or empty when the PDF goes to outputFile
    QString outputFile; // where the PDF goes; left empty for a queue, which gets a temporary file
    int copies = 1;
    QStringList userOptions; // name/value pairs: the print dialog's, or the command line's
    QImage turnedPixels;     // the first page turned by the settings' rotation, when at hand
};

// A job the queue has been asked about, with what the user must accept first and the options it
// carries, in the order they are sent.
struct CheckedJob
{
    PrintJob job;
    QList<PrintWarning> warnings;
    QList<QPair<QString, QString>> options;
    QString printerMakeAndModel;
    // The user's own driver options as the driver names them ("Glossy Photo"), for people to read.
    QStringList driverSettings;
};

// How far a job has come: a label and a share in thousandths, or -1 while that is unknown.
using JobProgress = std::function<void(const QString& label, int perMille)>;

// Puts a target on paper at its own physical size: no scaling to fit, no smoothing, no colour
// conversion, no lossy compression. Keeps its printer for the session, so that every sheet of a
// series goes to the same queue with the same driver settings.
class PrintService
{
public:
    PrintService();
    ~PrintService();
    PrintService(const PrintService&) = delete;
    PrintService& operator=(const PrintService&) = delete;

    // Runs the print dialog and prints one page; returns once the job has been handed over. False when
    // the dialog, a warning or the progress was cancelled. Throws PrintException when there is no
    // image, the printer cannot be opened or the queue does not take the job. `turnedPixels`, when not
    // null, is the image already turned by the settings' rotation, so that no second turned copy is made.
    bool print(QWidget* parent, const PrintableImage& image, const PrintSettings& settings,
               const QImage& turnedPixels = QImage());

    // Prints the pages of a set as one job, a sheet per page in order, each drawn as print() draws a
    // single image. `pages` holds each page's facts (its pixels may be null), which the warnings
    // weigh; `pageAt` gives a page's pixels as it is drawn, so that the job holds one page at a time.
    // The dialog offers a page range, all pages at first, and only those pages print. `writing`, when
    // set, is called once the dialog and any warning are past, just before the first page is drawn:
    // the caller may let go of the pixels it holds for display.
    bool print(QWidget* parent, const QList<PrintableImage>& pages, const PageSource& pageAt,
               const PrintSettings& settings, const std::function<void()>& writing = {});

    // Asks the queue about the job before anything is written, so that a queue that cannot take it is
    // known at once. Throws PrintException when the queue is gone, does not accept jobs or does not
    // have the sheet; returns the job with the warnings the user must accept and the options it carries.
    static CheckedJob checkJob(PrintJob job);

    // Writes the job's pages as a PDF and, for a queue, hands it over. Returns the job's id (0 for a
    // file), or nothing when `cancelled` was set before the hand-over ended: then nothing reaches the
    // queue and no file is left behind. Throws PrintException.
    static std::optional<int> sendJob(const CheckedJob& job, const JobProgress& progress,
                                      const std::atomic_bool& cancelled);

    // The driver options kept for a queue: those of the last job to it, which the next job to it
    // carries where its dialog sets none (name/value pairs).
    QStringList keptOptions(const QString& queue) const { return m_keptOptions.value(queue); }
    void setKeptOptions(const QString& queue, const QStringList& options);

    // The queue the next print dialog starts on; empty for the system's default queue.
    QString queueName() const;
    // Starts the next print dialog on the queue when it exists; otherwise nothing changes.
    void setQueueName(const QString& queue);

    // The queue and job id of the last job handed to a print queue; empty and 0 when the last print
    // went to a file or no job was sent yet.
    QString lastJobQueue() const { return m_lastJobQueue; }
    int lastJobId() const { return m_lastJobId; }
    // The last job handed to a queue or written to a file, without its pixels; empty until then.
    const std::optional<CheckedJob>& lastJob() const { return m_lastJob; }

    // What the queue the next print starts on cannot print at each edge of the settings' sheet, in
    // millimetres; null where that is unknown, where the queue prints the sheet to the edge, and where
    // the platform's own print system decides.
    QMarginsF unprintableMargins(const PrintSettings& settings) const;

    // The printer kept between prints (created on first use).
    QPrinter& printer();

    // How far, in millimetres, the image placed by the settings reaches into the queue's unprintable
    // margins on each side of the sheet; zero where it does not.
    static QMarginsF marginIntrusion(const QMarginsF& unprintableMm, const PrintableImage& image,
                                     const PrintSettings& settings);

    // True where the print dialog is the platform's own and reports the paper the user chose;
    // false where it is Qt's dialog, which does not keep the page set here.
    static bool usesNativeDialog();

    // The preset's exact page in the chosen orientation, without margins.
    static QPageLayout pageLayout(const PrintSettings& settings);

    // Puts the layout's page size and orientation on the printer even where the printer refuses
    // the layout as a whole.
    static void applyPageLayout(QPrinter& printer, const QPageLayout& layout);

    // Everything print() sets on the printer before the dialog opens.
    static void preparePrinter(QPrinter& printer, const PrintSettings& settings);

    // Where the image goes on a sheet, in device pixels, given the sheet's paper rectangle in
    // device pixels and the device's resolution in dots per inch.
    static QRectF targetRect(const QRectF& paperDevicePixels, double resolution, const PrintableImage& image,
                             const PrintSettings& settings);

    // Draws the page on a platform print engine once the printer is open: one drawImage, smoothing
    // off, lossless image rendering on. `turnedPixels` as for print().
    static void drawPage(QPainter& painter, const QRectF& paperDevicePixels, double resolution,
                         const PrintableImage& image, const PrintSettings& settings,
                         const QImage& turnedPixels = QImage());

private:
    bool printPages(QWidget* parent, PrintJob job, const std::function<void()>& writing);
    bool spool(QWidget* parent, PrintJob job, const std::function<void()>& writing);
    void rememberJob(CheckedJob job);

    std::unique_ptr<QPrinter> m_printer;
    QHash<QString, QStringList> m_keptOptions;
    QString m_lastJobQueue;
    int m_lastJobId = 0;
    std::optional<CheckedJob> m_lastJob;
    // The last answer of unprintableMargins() and the queue, media and orientation it is for.
    mutable QString m_marginsKey;
    mutable QMarginsF m_margins;
};

} // namespace Lumetra
