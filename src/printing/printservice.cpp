#include "printservice.h"

#include "papergeometry.h"
#include "sheetpdf.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QMarginsF>
#include <QMessageBox>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintEngine>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#ifdef LUMETRA_CUPS_SUBMISSION
#include "cupsjob.h"
#include "joboptions.h"
#include "queueinfo.h"
#endif

#include <algorithm>
#include <exception>

namespace Lumetra {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Lumetra::PrintService", text);
}

// The wait cursor over the window for as long as a print runs, whichever way it ends; the
// dialogs on top keep their own cursor.
class WindowBusy
{
public:
    explicit WindowBusy(QWidget* window) : m_window(window)
    {
        if (m_window)
            m_window->setCursor(Qt::WaitCursor);
        else
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~WindowBusy()
    {
        if (m_window)
            m_window->unsetCursor();
        else
            QGuiApplication::restoreOverrideCursor();
    }
    WindowBusy(const WindowBusy&) = delete;
    WindowBusy& operator=(const WindowBusy&) = delete;

private:
    QWidget* m_window;
};

// Runs `work` on a thread of its own while the window keeps painting behind the modal progress, and
// hands back its result or its exception.
template<typename Work> auto runBehind(QProgressDialog& progress, Work work) -> decltype(work())
{
    std::exception_ptr failure;
    std::optional<decltype(work())> result;
    QEventLoop loop;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        try {
            result = work();
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    progress.show();
    worker->start();
    loop.exec();
    worker->wait();
    if (failure)
        std::rethrow_exception(failure);
    return std::move(*result);
}

#ifdef LUMETRA_CUPS_SUBMISSION
QString sheetsText(const QStringList& sheets)
{
    return sheets.isEmpty() ? tr("none of Lumetra's sheets") : sheets.join(QStringLiteral(", "));
}

PrintWarning marginWarning(const QMarginsF& intrusionMm)
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
    return {tr("Image reaches into the margins"),
            tr("The printer cannot print at the edges of this sheet, and the image reaches into them."),
            tr("Not printed:\n%1\n\nContinue printing, or cancel and choose another alignment or a larger "
               "paper size.")
                .arg(sides.join(u'\n'))};
}
#endif

} // namespace

bool confirmWarning(QWidget* parent, const PrintWarning& warning)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(warning.title);
    // Names of files, profiles and queues are shown as they stand, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(warning.text);
    box.setInformativeText(warning.details);
    QPushButton* continueButton = box.addButton(tr("Continue"), QMessageBox::AcceptRole);
    box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(continueButton);
    box.exec();
    return box.clickedButton() == continueButton;
}

PrintService::PrintService() = default;
PrintService::~PrintService() = default;

QPrinter& PrintService::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

void PrintService::setKeptOptions(const QString& queue, const QStringList& options)
{
#ifdef LUMETRA_CUPS_SUBMISSION
    m_keptOptions.insert(queue, driverOptionsOf(options));
#else
    m_keptOptions.insert(queue, options);
#endif
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
            m_margins = describeQueue(queue, layout).margins;
        } catch (const PrintException&) {
            m_margins = {}; // a queue that cannot print shows no printable area; printing will say why
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
    const QImage pixels = rotatedImage(image.image, settings.rotationDegrees, turnedPixels);
    painter.drawImage(target, pixels, QRectF(0, 0, pixels.width(), pixels.height()), Qt::AutoColor);
}

bool PrintService::print(QWidget* parent, const PrintableImage& image, const PrintSettings& settings,
                         const QImage& turnedPixels)
{
    if (image.image.isNull())
        throw PrintException(tr("No image is loaded."));
    PrintJob job;
    job.pages = {image};
    job.pageAt = [&image](int) { return image; };
    job.settings = settings;
    job.turnedPixels = turnedPixels;
    return printPages(parent, std::move(job), {});
}

bool PrintService::print(QWidget* parent, const QList<PrintableImage>& pages, const PageSource& pageAt,
                         const PrintSettings& settings, const std::function<void()>& writing)
{
    if (pages.isEmpty())
        throw PrintException(tr("No image is loaded."));
    PrintJob job;
    job.pages = pages;
    job.pageAt = pageAt;
    job.settings = settings;
    return printPages(parent, std::move(job), writing);
}

bool PrintService::printPages(QWidget* parent, PrintJob job, const std::function<void()>& writing)
{
    QPrinter& printer = this->printer();
    preparePrinter(printer, job.settings);
    const auto count = int(job.pages.size());
    // Every page to begin with; a range left from an earlier job must not pick pages of this one.
    printer.setPrintRange(QPrinter::AllPages);
    printer.setFromTo(count > 1 ? 1 : 0, count > 1 ? count : 0);

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
        applyPageLayout(printer, pageLayout(job.settings));

    job.first = 0;
    job.last = count - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        job.first = std::min(printer.fromPage(), count) - 1;
        job.last = std::min(std::max(printer.toPage(), printer.fromPage()), count) - 1;
    }
    m_lastJobQueue.clear();
    m_lastJobId = 0;
    m_lastJob.reset();

#ifdef LUMETRA_CUPS_SUBMISSION
    return spool(parent, std::move(job), writing);
#else
    const WindowBusy busy(parent);
    QPainter painter(&printer);
    if (!painter.isActive())
        throw PrintException(tr("The printer could not be opened."));
    if (writing)
        writing();
    try {
        for (int index = job.first; index <= job.last; ++index) {
            // The previous page's pixels are gone before the next page is decoded.
            const PrintableImage image = job.pageAt(index);
            if (image.image.isNull())
                throw PrintException(tr("No image is loaded."));
            if (index > job.first && !printer.newPage())
                throw PrintException(tr("The printer could not be opened."));
            drawPage(painter, printer.paperRect(QPrinter::DevicePixel), printer.resolution(), image,
                     job.settings, job.turnedPixels);
        }
    } catch (...) {
        // Half a target is worse than none: nothing of this job reaches the printer.
        printer.abort();
        throw;
    }
    painter.end();
    // The platform's print system tells no job id nor options; the record says where the job went.
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    job.queue = toFile ? QString() : printer.printerName();
    job.outputFile = toFile ? printer.outputFileName() : QString();
    job.copies = toFile ? 1 : printer.copyCount();
    CheckedJob printed;
    printed.job = std::move(job);
    rememberJob(std::move(printed));
    return true;
#endif
}

void PrintService::rememberJob(CheckedJob job)
{
    // The facts stay for the record; the pixels belong to the window.
    job.job.pageAt = {};
    job.job.turnedPixels = QImage();
    for (PrintableImage& page : job.job.pages)
        page.image = QImage();
    m_lastJob = std::move(job);
}

CheckedJob PrintService::checkJob(PrintJob job)
{
    CheckedJob checked;
    checked.job = std::move(job);
    if (checked.job.queue.isEmpty())
        return checked;
#ifdef LUMETRA_CUPS_SUBMISSION
    const PrintJob& j = checked.job;
    const QPageLayout layout = pageLayout(j.settings);
    const QueueInfo queue = describeQueue(j.queue, layout);
    if (!queue.offersSheet) {
        throw PrintException(tr("\"%1\" has no %2 paper (it offers %3). Choose another printer or paper.")
                                 .arg(j.queue, j.settings.paper.name, sheetsText(queue.sheetsOffered)));
    }
    if (printsGreyOnly(queue)) {
        checked.warnings << PrintWarning{
            tr("The printer prints in grey only"),
            tr("\"%1\" prints in grey only; the target's colours cannot reach the paper.").arg(j.queue),
            tr("Continue printing, or cancel and choose a colour printer.")};
    }
    // A printer that lays out the PDF itself applies its own scaling, which no job option reaches
    // through the queue: anything but "none" fits the sheet into its printable area.
    if (queue.sendsPdfToPrinter) {
        const QString scaling = printerScalingDefault(j.queue, 2000);
        if (!scaling.isEmpty() && scaling != QLatin1String("none")) {
            checked.warnings << PrintWarning{
                tr("The printer resizes the page"),
                tr("\"%1\" fits every page into its printable area by its own setting (scaling: %2), so "
                   "the target would not print at its true size.")
                    .arg(j.queue, scaling),
                tr("Set the printer's own scaling to \"none\" (actual size) on its web page or control "
                   "panel, then print again. Continue printing anyway, or cancel.")};
        }
    }
    // The deepest any printed page reaches into each margin.
    QMarginsF intrusion;
    for (int index = j.first; index <= j.last; ++index) {
        const QMarginsF page = marginIntrusion(queue.margins, j.pages.at(index), j.settings);
        intrusion = {qMax(intrusion.left(), page.left()), qMax(intrusion.top(), page.top()),
                     qMax(intrusion.right(), page.right()), qMax(intrusion.bottom(), page.bottom())};
    }
    if (!intrusion.isNull())
        checked.warnings << marginWarning(intrusion);
    checked.options = jobOptions(j.userOptions, j.copies, layout, j.last - j.first + 1, queue);
    checked.printerMakeAndModel = queue.makeAndModel;
    checked.driverSettings = describeDriverOptions(queue.options, driverOptionsOf(j.userOptions));
    return checked;
#else
    throw PrintException(tr("Here a job reaches a print queue only through the print dialog; write its PDF "
                            "instead."));
#endif
}

std::optional<int> PrintService::sendJob(const CheckedJob& checked, const JobProgress& reportProgress,
                                         const std::atomic_bool& cancelled)
{
    const auto progress = [&reportProgress](const QString& label, int perMille) {
        if (reportProgress)
            reportProgress(label, perMille);
    };
    const PrintJob& job = checked.job;
    const QTemporaryDir spoolDir;
    if (job.queue.isEmpty() ? job.outputFile.isEmpty() : !spoolDir.isValid())
        throw PrintException(tr("The printer could not be opened."));
    const QString pdfPath =
        job.queue.isEmpty() ? job.outputFile : spoolDir.filePath(QStringLiteral("job.pdf"));
    // A file that is not the whole job is no file at all.
    auto removePartial = qScopeGuard([&pdfPath] { QFile::remove(pdfPath); });

    qint64 totalRows = 0;
    for (int index = job.first; index <= job.last; ++index) {
        const PrintableImage& page = job.pages.at(index);
        totalRows += qint64(rotatedSize(SizeD{double(page.pixelWidth), double(page.pixelHeight)},
                                        job.settings.rotationDegrees)
                                .height);
    }
    {
        SheetPdfWriter writer(pdfPath);
        for (int index = job.first; index <= job.last; ++index) {
            const QString label = job.last > job.first ? tr("Preparing page %1 of %2...")
                                                             .arg(index - job.first + 1)
                                                             .arg(job.last - job.first + 1)
                                                       : tr("Preparing the page...");
            progress(label, -1);
            // The previous page's pixels are gone before the next page is decoded.
            const PrintableImage image = job.pageAt(index);
            if (image.image.isNull())
                throw PrintException(tr("No image is loaded."));
            const bool written = writer.addSheet(
                image, job.settings, job.pages.size() == 1 ? job.turnedPixels : QImage(), cancelled,
                [&](qint64 rows) { progress(label, int(rows * 1000 / std::max<qint64>(totalRows, 1))); });
            if (!written)
                return std::nullopt;
        }
        writer.finish();
    }
    if (job.queue.isEmpty()) {
        removePartial.dismiss();
        return 0;
    }
#ifdef LUMETRA_CUPS_SUBMISSION
    const QString sending = tr("Sending to \"%1\"...").arg(job.queue);
    progress(sending, 0);
    const int jobId = submitPdf(
        job.queue, pdfPath, checked.options,
        [&](qint64 sent, qint64 total) { progress(sending, total > 0 ? int(sent * 1000 / total) : 0); },
        cancelled);
    if (jobId == 0)
        return std::nullopt;
    return jobId;
#else
    throw PrintException(tr("Here a job reaches a print queue only through the print dialog; write its PDF "
                            "instead."));
#endif
}

#ifdef LUMETRA_CUPS_SUBMISSION
bool PrintService::spool(QWidget* parent, PrintJob job, const std::function<void()>& writing)
{
    QPrinter& printer = *m_printer;
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    job.queue = toFile ? QString() : printer.printerName();
    job.outputFile = toFile ? printer.outputFileName() : QString();
    job.copies = printer.copyCount();
    if (!toFile) {
        // The options the dialog and its Properties page keep on Qt's CUPS engine, as name/value pairs.
        job.userOptions =
            printer.printEngine()->property(QPrintEngine::PrintEnginePropertyKey(0xfe00)).toStringList();
        job.userOptions = keptDriverOptions(keptOptions(job.queue), job.userOptions);
    }

    const WindowBusy busy(parent);
    // A modal progress with real progress: the queue asked, the page written, the bytes sent. Cancel
    // (or Escape) stops the writing or the hand-over; once handed over, the job is the queue's.
    QProgressDialog progress(parent);
    progress.setWindowTitle(tr("Printing"));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setMinimumDuration(0);
    progress.setRange(0, 0);
    std::atomic_bool cancelled = false;
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&] {
        cancelled = true;
        // The dialog hides itself on cancel; it stays up, its button off (not removed: this may run
        // within the button's own click), until the work has stopped.
        progress.findChild<QPushButton*>()->setEnabled(false);
        progress.setLabelText(tr("Cancelling..."));
        progress.show();
    });
    const auto report = [&progress, &cancelled](const QString& label, int perMille) {
        QMetaObject::invokeMethod(
            &progress,
            [&progress, &cancelled, label, perMille] {
                if (cancelled)
                    return;
                progress.setLabelText(label);
                progress.setRange(0, perMille < 0 ? 0 : 1000);
                if (perMille >= 0)
                    progress.setValue(perMille);
            },
            Qt::QueuedConnection);
    };

    progress.setLabelText(toFile ? tr("Preparing the page...") : tr("Checking \"%1\"...").arg(job.queue));
    const CheckedJob checked = runBehind(progress, [&job] { return checkJob(job); });
    if (cancelled)
        return false;
    if (!checked.warnings.isEmpty()) {
        progress.hide();
        for (const PrintWarning& warning : checked.warnings) {
            if (!confirmWarning(parent, warning))
                return false;
        }
    }
    if (writing)
        writing();
    const std::optional<int> jobId = runBehind(progress, [&] { return sendJob(checked, report, cancelled); });
    if (!jobId)
        return false;
    if (!toFile) {
        m_lastJobQueue = job.queue;
        m_lastJobId = *jobId;
        setKeptOptions(job.queue, job.userOptions);
    }
    rememberJob(checked);
    return true;
}
#endif

} // namespace Lumetra
