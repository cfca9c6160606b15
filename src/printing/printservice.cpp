#include "printservice.h"

#include "papergeometry.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMarginsF>
#include <QMessageBox>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintEngine>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>

#ifdef LUMETRA_CUPS_SUBMISSION
#include "cupsjob.h"

#include <QEventLoop>
#include <QPdfWriter>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QThread>

#include <exception>
#endif

#include <algorithm>

namespace Lumetra {

namespace {

// Spooling a large target takes seconds; the wait cursor goes on every way out.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QString tr(const char* text)
{
    return QCoreApplication::translate("Lumetra::PrintService", text);
}

} // namespace

PrintService::PrintService() = default;
PrintService::~PrintService() = default;

QPrinter& PrintService::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

QString PrintService::queueName() const
{
    return m_printer ? m_printer->printerName() : QString();
}

void PrintService::setQueueName(const QString& queue)
{
    if (!queue.isEmpty() && !QPrinterInfo::printerInfo(queue).isNull())
        printer().setPrinterName(queue);
}

QMarginsF PrintService::unprintableMargins(const PrintSettings& settings) const
{
#ifdef LUMETRA_CUPS_SUBMISSION
    if (m_printer && m_printer->outputFormat() == QPrinter::PdfFormat)
        return {};
    const QString queue = m_printer ? m_printer->printerName() : QPrinterInfo::defaultPrinterName();
    if (queue.isEmpty())
        return {};
    // A question to the scheduler per sheet and queue, not per repaint of the inspector.
    const QPageLayout layout = pageLayout(settings);
    const QString key =
        queue + u'\n' + mediaName(layout) + u'\n' + QString::number(int(layout.orientation()));
    if (key != m_marginsKey) {
        try {
            m_margins = Lumetra::unprintableMargins(queue, layout);
        } catch (const PrintException&) {
            m_margins = {}; // a queue that has gone shows no printable area; printing will say why
        }
        m_marginsKey = key;
    }
    return m_margins;
#else
    Q_UNUSED(settings);
    return {};
#endif
}

QMarginsF PrintService::marginIntrusion(const QMarginsF& unprintableMm, const PrintableImage& image,
                                        const PrintSettings& settings)
{
    const SizeD sheet = settings.paper.sizeMillimeters(settings.orientation);
    const QRectF inches =
        placedImageRectInches(settings.paper.sizeInches(settings.orientation), image, settings);
    const QRectF mm(inches.x() * 25.4, inches.y() * 25.4, inches.width() * 25.4, inches.height() * 25.4);
    // How deep the image reaches into one margin, given the gap between it and that edge; a
    // hundredth of a millimetre is below any printer's precision.
    const auto depth = [](double margin, double gap) {
        const double d = qMin(margin, margin - gap);
        return d > 0.01 ? d : 0.0;
    };
    return {depth(unprintableMm.left(), mm.left()), depth(unprintableMm.top(), mm.top()),
            depth(unprintableMm.right(), sheet.width - mm.right()),
            depth(unprintableMm.bottom(), sheet.height - mm.bottom())};
}

bool PrintService::confirmMargins(QWidget* parent, const QMarginsF& intrusionMm) const
{
    QStringList sides;
    const auto side = [&](const QString& text, double mm) {
        if (mm > 0)
            sides << text.arg(QString::number(mm, 'f', 1));
    };
    side(tr("Top: %1 mm"), intrusionMm.top());
    side(tr("Bottom: %1 mm"), intrusionMm.bottom());
    side(tr("Left: %1 mm"), intrusionMm.left());
    side(tr("Right: %1 mm"), intrusionMm.right());
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(tr("Image reaches into the margins"));
    box.setText(tr("The printer cannot print at the edges of this sheet, and the image reaches into them."));
    box.setInformativeText(tr("Not printed:\n%1\n\nContinue printing, or cancel and choose another "
                              "alignment or a larger paper size.")
                               .arg(sides.join(u'\n')));
    QPushButton* continueButton = box.addButton(tr("Continue"), QMessageBox::AcceptRole);
    box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(continueButton);
    box.exec();
    return box.clickedButton() == continueButton;
}

bool PrintService::usesNativeDialog()
{
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    return true;
#else
    return false;
#endif
}

QPageLayout PrintService::pageLayout(const PrintSettings& settings)
{
    const SizeD portrait = settings.paper.sizeMillimeters(PrintOrientation::Portrait);
    // ExactMatch keeps the preset's size even when a standard size lies close by. A preset that is
    // exactly a standard sheet gets Qt's standard id, whose key is the media name CUPS and driverless
    // printers know (A4, Letter, Legal, Tabloid, AnsiC). Qt's own SuperB is another sheet (305 x 487 mm),
    // so Super B (13 x 19 in) keeps its exact custom size.
    const QPageSize pageSize(QSizeF(portrait.width, portrait.height), QPageSize::Millimeter,
                             settings.paper.name, QPageSize::ExactMatch);
    const QPageLayout::Orientation orientation =
        settings.orientation == PrintOrientation::Landscape ? QPageLayout::Landscape : QPageLayout::Portrait;
    QPageLayout layout(pageSize, orientation, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter,
                       QMarginsF(0, 0, 0, 0));
    layout.setMode(QPageLayout::FullPageMode);
    return layout;
}

void PrintService::applyPageLayout(QPrinter& printer, const QPageLayout& layout)
{
    printer.setPageLayout(layout);
    // A CUPS queue whose driver has non-zero minimum margins and no custom sizes refuses the whole
    // layout and keeps its default page; the page size and orientation on their own are always taken.
    // With full-page printing the margins do not move the sheet's origin.
    if (!printer.pageLayout().pageSize().isEquivalentTo(layout.pageSize()) ||
        printer.pageLayout().orientation() != layout.orientation()) {
        printer.setPageSize(layout.pageSize());
        printer.setPageOrientation(layout.orientation());
        printer.setPageMargins(layout.margins(), layout.units());
    }
    // Replacing the layout may drop full-page mode, which keeps the painter's origin on the sheet's corner.
    printer.setFullPage(true);
}

void PrintService::preparePrinter(QPrinter& printer, const PrintSettings& settings)
{
    printer.setDocName(QStringLiteral("Lumetra"));
    printer.setFullPage(true);
    applyPageLayout(printer, pageLayout(settings));
    // Queues whose driver does not announce colour would otherwise default to grey.
    printer.setColorMode(QPrinter::Color);
}

QRectF PrintService::targetRect(const QRectF& paperDevicePixels, double resolution,
                                const PrintableImage& image, const PrintSettings& settings)
{
    const SizeD sheetInches{paperDevicePixels.width() / resolution, paperDevicePixels.height() / resolution};
    const QRectF inches = placedImageRectInches(sheetInches, image, settings);
    return {paperDevicePixels.x() + inches.x() * resolution, paperDevicePixels.y() + inches.y() * resolution,
            inches.width() * resolution, inches.height() * resolution};
}

void PrintService::drawPage(QPainter& painter, const QRectF& paperDevicePixels, double resolution,
                            const PrintableImage& image, const PrintSettings& settings,
                            const QImage& turnedPixels)
{
    // Pixels are replicated, never interpolated, and never JPEG-compressed by a PDF spool.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::LosslessImageRendering, true);
    const QRectF target = targetRect(paperDevicePixels, resolution, image, settings);
    // A turned copy handed in is used only when it is the image turned as the settings say.
    const SizeD turnedSize = rotatedSize(SizeD{double(image.image.width()), double(image.image.height())},
                                         settings.rotationDegrees);
    const QImage pixels = !turnedPixels.isNull() && turnedPixels.width() == int(turnedSize.width) &&
                                  turnedPixels.height() == int(turnedSize.height)
                              ? turnedPixels
                              : rotatedImage(image.image, settings.rotationDegrees);
    painter.drawImage(target, pixels, QRectF(0, 0, pixels.width(), pixels.height()), Qt::AutoColor);
}

bool PrintService::print(QWidget* parent, const PrintableImage& image, const PrintSettings& settings,
                         const QImage& turnedPixels)
{
    if (image.image.isNull())
        throw PrintException(tr("No image is loaded."));
    return printPages(parent, {image}, [&image](int) { return image; }, settings, turnedPixels, {});
}

bool PrintService::print(QWidget* parent, const QList<PrintableImage>& pages, const PageSource& pageAt,
                         const PrintSettings& settings, const std::function<void()>& writing)
{
    if (pages.isEmpty())
        throw PrintException(tr("No image is loaded."));
    return printPages(parent, pages, pageAt, settings, QImage(), writing);
}

bool PrintService::printPages(QWidget* parent, const QList<PrintableImage>& pages, const PageSource& pageAt,
                              const PrintSettings& settings, const QImage& turnedPixels,
                              const std::function<void()>& writing)
{
    QPrinter& printer = this->printer();
    preparePrinter(printer, settings);
    const auto count = int(pages.size());
    // A range left from an earlier job must not pick pages of this one.
    printer.setPrintRange(QPrinter::AllPages);
    printer.setFromTo(0, 0);

    QPrintDialog dialog(&printer, parent);
    if (count > 1) {
        dialog.setMinMax(1, count);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // Qt's own dialog falls back to the queue's default page; the preview, the fit and the crop
    // warning all refer to the preset, so it wins there. A native dialog reports what the user
    // chose, and that choice stands.
    if (!usesNativeDialog())
        applyPageLayout(printer, pageLayout(settings));

    int first = 0;
    int last = count - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = std::min(printer.fromPage(), count) - 1;
        last = std::min(std::max(printer.toPage(), printer.fromPage()), count) - 1;
    }

#ifdef LUMETRA_CUPS_SUBMISSION
    return spool(parent, pages, first, last, pageAt, settings, turnedPixels, writing);
#else
    m_lastJobQueue.clear();
    m_lastJobId = 0;
    const WaitCursor waitCursor;
    QPainter painter(&printer);
    if (!painter.isActive())
        throw PrintException(tr("The printer could not be opened."));
    if (writing)
        writing();
    try {
        for (int index = first; index <= last; ++index) {
            // The previous page's pixels are gone before the next page is decoded.
            const PrintableImage image = pageAt(index);
            if (image.image.isNull())
                throw PrintException(tr("No image is loaded."));
            if (index > first && !printer.newPage())
                throw PrintException(tr("The printer could not be opened."));
            drawPage(painter, printer.paperRect(QPrinter::DevicePixel), printer.resolution(), image, settings,
                     turnedPixels);
        }
    } catch (...) {
        // Half a target is worse than none: nothing of this job reaches the printer.
        printer.abort();
        throw;
    }
    painter.end();
    return true;
#endif
}

#ifdef LUMETRA_CUPS_SUBMISSION
bool PrintService::spool(QWidget* parent, const QList<PrintableImage>& pages, int first, int last,
                         const PageSource& pageAt, const PrintSettings& settings, const QImage& turnedPixels,
                         const std::function<void()>& writing)
{
    m_lastJobQueue.clear();
    m_lastJobId = 0;
    QPrinter& printer = *m_printer;
    const QPageLayout layout = printer.pageLayout();
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    const QString queue = printer.printerName();
    JobOptions options;
    if (!toFile) {
        // The deepest any printed page reaches into each margin.
        const QMarginsF unprintable = Lumetra::unprintableMargins(queue, layout);
        QMarginsF intrusion;
        for (int index = first; index <= last; ++index) {
            const QMarginsF page = marginIntrusion(unprintable, pages.at(index), settings);
            intrusion = {qMax(intrusion.left(), page.left()), qMax(intrusion.top(), page.top()),
                         qMax(intrusion.right(), page.right()), qMax(intrusion.bottom(), page.bottom())};
        }
        if (!intrusion.isNull() && !confirmMargins(parent, intrusion))
            return false;
        // The options the dialog and its Properties page keep on Qt's CUPS engine, as name/value pairs.
        QStringList userOptions =
            printer.printEngine()->property(QPrintEngine::PrintEnginePropertyKey(0xfe00)).toStringList();
        if (queue == m_keptOptionsQueue)
            userOptions = keptDriverOptions(m_keptOptions, userOptions);
        m_keptOptionsQueue = queue;
        m_keptOptions = userOptions;
        options = jobOptions(userOptions, printer.copyCount(), layout);
    }
    const QTemporaryDir spoolDir;
    if (!toFile && !spoolDir.isValid())
        throw PrintException(tr("The printer could not be opened."));
    const QString pdfPath = toFile ? printer.outputFileName() : spoolDir.filePath(QStringLiteral("job.pdf"));
    const double resolution = printer.resolution();

    // The page is written and sent in a worker while the window keeps painting behind a modal
    // progress that shows real progress: busy while the page is written, then the bytes sent.
    QProgressDialog progress(parent);
    progress.setWindowTitle(tr("Printing"));
    progress.setLabelText(tr("Preparing the page..."));
    progress.setCancelButton(nullptr);
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setMinimumDuration(0);
    progress.setRange(0, 0);
    const auto report = [&progress](const QString& label, int perMille) {
        QMetaObject::invokeMethod(
            &progress,
            [&progress, label, perMille] {
                progress.setLabelText(label);
                progress.setRange(0, perMille < 0 ? 0 : 1000);
                if (perMille >= 0)
                    progress.setValue(perMille);
            },
            Qt::QueuedConnection);
    };
    const QString sending = tr("Sending to \"%1\"...").arg(queue);

    std::exception_ptr failure;
    int jobId = 0;
    QEventLoop loop;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        try {
            {
                QPdfWriter writer(pdfPath);
                writer.setTitle(QStringLiteral("Lumetra"));
                writer.setCreator(QStringLiteral("Lumetra"));
                writer.setResolution(int(resolution));
                writer.setPageLayout(layout);
                QPainter painter;
                if (!painter.begin(&writer))
                    throw PrintException(tr("The printer could not be opened."));
                for (int index = first; index <= last; ++index) {
                    if (last > first)
                        report(tr("Preparing page %1 of %2...").arg(index - first + 1).arg(last - first + 1),
                               -1);
                    // The previous page's pixels are gone before the next page is decoded.
                    const PrintableImage image = pageAt(index);
                    if (image.image.isNull())
                        throw PrintException(tr("No image is loaded."));
                    if (index > first && !writer.newPage())
                        throw PrintException(tr("The printer could not be opened."));
                    drawPage(painter, writer.pageLayout().fullRectPixels(writer.resolution()),
                             writer.resolution(), image, settings, turnedPixels);
                }
                if (!painter.end())
                    throw PrintException(tr("The printer could not be opened."));
            }
            if (!toFile) {
                report(sending, 0);
                jobId = submitPdf(queue, pdfPath, options, [&](qint64 sent, qint64 total) {
                    report(sending, total > 0 ? int(sent * 1000 / total) : 0);
                });
            }
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    // Over the window only, never over a dialog.
    if (parent)
        parent->setCursor(Qt::WaitCursor);
    progress.show();
    if (writing)
        writing();
    worker->start();
    loop.exec();
    worker->wait();
    if (parent)
        parent->unsetCursor();
    if (failure)
        std::rethrow_exception(failure);
    if (!toFile) {
        m_lastJobQueue = queue;
        m_lastJobId = jobId;
    }
    return true;
}
#endif

} // namespace Lumetra
