// Time from accepting the print dialog to the job handed over (print() returning), for a
// 6732 x 9638 pixel target printed to a PDF file, with and without a quarter turn. The baseline is
// the least Qt itself needs for the same page: one drawImage of the same pixels into a QPdfWriter.
// Through a private CUPS queue (a raw queue, so that no filter runs) it sets print() against Qt's
// own CUPS engine drawing the same page, and splits Lumetra's job into writing the page (spool)
// and sending it (hand-over).
//
// With "memory" it prints one 12000 x 16900 target (DIN A2 at 720 dpi) turned a quarter, the way
// the window does (the preview's turned copy handed in), and reports the peak memory.
//
//     bench_printing [runs | memory]    (run with QT_QPA_PLATFORM=offscreen where there is no display)

#include "benchsupport.h"
#include "papergeometry.h"
#include "printservice.h"
#include "privatecups.h"

#ifdef LUMETRA_CUPS_SUBMISSION
#include "cupsjob.h"
#endif

#include <QApplication>
#include <QElapsedTimer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Lumetra;
using Bench::Figures;
using Bench::peakMegabytes;
using Bench::summarize;

namespace {

QImage target()
{
    QImage image(6732, 9638, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] =
                qRgb((x / 40 * 37 + y / 40 * 11) & 255, (x / 40 * 13 + y / 40 * 53) & 255, (x ^ y) & 255);
    }
    return image;
}

// Milliseconds from the dialog's acceptance to print() returning; to the file, or to the service's
// queue when the file is empty.
double timePrint(PrintService& service, const PrintableImage& image, const PrintSettings& settings,
                 const QString& file, const QImage& turned = QImage())
{
    QElapsedTimer clock;
    const Bench::PrintDialogAnswer answer([&](QPrintDialog& dialog) {
        if (!file.isEmpty())
            dialog.printer()->setOutputFileName(file);
        clock.start();
    });
    if (!service.print(nullptr, image, settings, turned)) {
        std::fprintf(stderr, "print was not accepted\n");
        std::exit(1);
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

double timeBaseline(const PrintableImage& image, const PrintSettings& settings, const QString& file)
{
    QElapsedTimer clock;
    clock.start();
    QPdfWriter writer(file);
    writer.setResolution(1200);
    writer.setPageLayout(PrintService::pageLayout(settings));
    QPainter painter(&writer);
    painter.setRenderHint(QPainter::LosslessImageRendering, true);
    const SizeD inches = image.printSizeInches();
    painter.drawImage(QRectF(0, 0, inches.width * 1200, inches.height * 1200), image.image);
    painter.end();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

#ifdef LUMETRA_CUPS_SUBMISSION
// Qt's own CUPS engine, as Lumetra printed before it sent its jobs itself: the same page drawn on a
// QPrinter set to the queue, handed over when the painter ends.
double timeQtEngine(const PrintableImage& image, const PrintSettings& settings, const QString& queue)
{
    QElapsedTimer clock;
    clock.start();
    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(queue);
    PrintService::preparePrinter(printer, settings);
    QPainter painter(&printer);
    PrintService::drawPage(painter, printer.paperRect(QPrinter::DevicePixel), printer.resolution(), image,
                           settings);
    painter.end();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

double timeHandOver(const QString& queue, const QString& file)
{
    QElapsedTimer clock;
    clock.start();
    const std::atomic_bool never = false;
    submitPdf(
        queue, file, jobOptions({}, 1, PrintService::pageLayout(PrintSettings()), 1, QueueInfo()),
        [](qint64, qint64) {}, never);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

#endif

void row(const char* name, const std::vector<double>& samples, double base)
{
    const Figures figures = summarize(samples);
    std::printf("%-34s %12.1f %12.1f %14.1f %10.2f\n", name, figures.median, figures.p95, peakMegabytes(),
                base > 0 ? figures.median / base : 1.0);
}

int memory(const QString& file)
{
    PrintableImage image;
    image.image = QImage(12000, 16900, QImage::Format_RGB32);
    image.image.fill(qRgb(200, 120, 40));
    image.pixelWidth = 12000;
    image.pixelHeight = 16900;
    image.dpiX = image.dpiY = 720;
    PrintSettings settings;
    settings.paper = paperPresets().at(3);
    settings.orientation = PrintOrientation::Landscape;
    settings.rotationDegrees = 90;
    const double before = peakMegabytes();
    const QImage turned = rotatedImage(image.image, 90); // the preview's copy
    PrintService service;
    const double ms = timePrint(service, image, settings, file, turned);
    const double imageMb = double(image.image.sizeInBytes()) / (1024.0 * 1024.0);
    std::printf("bench_printing memory: 12000 x 16900 px at 720 dpi on DIN A2, turned a quarter\n");
    std::printf("image %.0f MB, turned copy %.0f MB, peak RSS before print %.0f MB, after %.0f MB "
                "(%.2f x the image), print %.0f ms\n",
                imageMb, imageMb, before, peakMegabytes(), peakMegabytes() / imageMb, ms);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.pdf"));
    // The private scheduler must be up before Qt's print support first talks to CUPS.
    Testing::PrivateCups cups;
    const bool haveCups = cups.start();
    QApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "memory")
        return memory(file);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    PrintableImage image;
    image.image = target();
    image.pixelWidth = 6732;
    image.pixelHeight = 9638;
    image.dpiX = 400;
    image.dpiY = 400;
    PrintSettings upright;
    upright.paper = paperPresets().at(3); // DIN A2 holds 16.83 x 24.10 inches
    PrintSettings turned = upright;
    turned.orientation = PrintOrientation::Landscape;
    turned.rotationDegrees = 90;

    std::printf("bench_printing: %d x %d px target at 400 dpi on DIN A2, printed to PDF, %d runs each\n",
                image.image.width(), image.image.height(), runs);
    std::printf("%-34s %12s %12s %14s %10s\n", "case", "median ms", "p95 ms", "peak RSS MB", "ratio");

    std::vector<double> baseline;
    for (int i = 0; i < runs; ++i)
        baseline.push_back(timeBaseline(image, upright, file));
    const Figures base = summarize(baseline);
    std::printf("%-34s %12.1f %12.1f %14.1f %10.2f\n", "baseline: QPdfWriter drawImage", base.median,
                base.p95, peakMegabytes(), 1.0);

    const struct
    {
        const char* name;
        const PrintSettings* settings;
    } cases[] = {{"print() to file, rotation 0", &upright}, {"print() to file, rotation 90", &turned}};
    for (const auto& c : cases) {
        std::vector<double> samples;
        PrintService service;
        for (int i = 0; i < runs; ++i)
            samples.push_back(timePrint(service, image, *c.settings, file));
        row(c.name, samples, base.median);
    }

#ifndef LUMETRA_CUPS_SUBMISSION
    std::printf("queue cases: only where Lumetra hands its jobs to CUPS itself\n");
    Q_UNUSED(haveCups);
    return 0;
#else
    if (!haveCups) {
        std::printf("queue cases skipped: %s\n", qPrintable(cups.errorString()));
        return 0;
    }
    const QString queue = cups.rawQueue();
    std::vector<double> qt, ours, handOver;
    PrintService service;
    service.setQueueName(queue);
    for (int i = 0; i < runs; ++i) {
        qt.push_back(timeQtEngine(image, upright, queue));
        ours.push_back(timePrint(service, image, upright, QString()));
        handOver.push_back(timeHandOver(queue, file)); // the page print() to file wrote last
    }
    row("queue: Qt's CUPS engine (before)", qt, base.median);
    row("queue: print(), rotation 0", ours, base.median);
    row("  of which hand-over (submitPdf)", handOver, base.median);
    std::printf("print() to the queue / Qt's CUPS engine: %.3f\n",
                summarize(ours).median / summarize(qt).median);
    return 0;
#endif
}
