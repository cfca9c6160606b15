#pragma once

#include "printmodel.h"
#include "usererror.h"

#include <QImage>
#include <QList>
#include <QMarginsF>
#include <QPageLayout>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

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

// Puts one target on one sheet at its own physical size: no scaling to fit, no smoothing, no colour
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
    // the dialog (or the margin warning) was cancelled. Throws PrintException when there is no image,
    // the printer cannot be opened or the queue does not take the job. `turnedPixels`, when not null,
    // is the image already turned by the settings' rotation, so that no second turned copy is made.
    bool print(QWidget* parent, const PrintableImage& image, const PrintSettings& settings,
               const QImage& turnedPixels = QImage());

    // One page of a target set, decoded when it is drawn, on the thread that writes the job.
    using PageSource = std::function<PrintableImage(int index)>;

    // Prints the pages of a set as one job, a sheet per page in order, each drawn as print() draws a
    // single image. `pages` holds each page's facts (its pixels may be null), which the margin
    // warning weighs; `pageAt` gives a page's pixels as it is drawn, so that the job holds one page
    // at a time. The dialog offers a page range, 1 to the page count, and only those pages print.
    // `writing`, when set, is called once the dialog and any warning are past, just before the
    // first page is drawn: the caller may let go of the pixels it holds for display.
    bool print(QWidget* parent, const QList<PrintableImage>& pages, const PageSource& pageAt,
               const PrintSettings& settings, const std::function<void()>& writing = {});

    // The queue the next print dialog starts on; empty for the system's default queue.
    QString queueName() const;
    // Starts the next print dialog on the queue when it exists; otherwise nothing changes.
    void setQueueName(const QString& queue);

    // The queue and job id of the last job handed to a print queue; empty and 0 when the last print
    // went to a file or no job was sent yet.
    QString lastJobQueue() const { return m_lastJobQueue; }
    int lastJobId() const { return m_lastJobId; }

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

    // Draws the page as print() does once the printer is open: one drawImage, smoothing off,
    // lossless image rendering on. `turnedPixels` as for print().
    static void drawPage(QPainter& painter, const QRectF& paperDevicePixels, double resolution,
                         const PrintableImage& image, const PrintSettings& settings,
                         const QImage& turnedPixels = QImage());

private:
    bool confirmMargins(QWidget* parent, const QMarginsF& intrusionMm) const;
    bool printPages(QWidget* parent, const QList<PrintableImage>& pages, const PageSource& pageAt,
                    const PrintSettings& settings, const QImage& turnedPixels,
                    const std::function<void()>& writing);
    bool spool(QWidget* parent, const QList<PrintableImage>& pages, int first, int last,
               const PageSource& pageAt, const PrintSettings& settings, const QImage& turnedPixels,
               const std::function<void()>& writing);

    std::unique_ptr<QPrinter> m_printer;
    // The dialog options of the last job and its queue, so that the next sheet keeps the driver settings.
    QString m_keptOptionsQueue;
    QStringList m_keptOptions;
    QString m_lastJobQueue;
    int m_lastJobId = 0;
    // The last answer of unprintableMargins() and the queue, media and orientation it is for.
    mutable QString m_marginsKey;
    mutable QMarginsF m_margins;
};

} // namespace Lumetra
