// Time from accepting the print dialog to the job handed over (print() returning), for a
// 6732 x 9638 pixel target printed to a PDF file, with and without a quarter turn. The baseline is
// the least Qt itself needs for the same page: one drawImage of the same pixels into a QPdfWriter.
//
//     bench_printing [runs]        (run with QT_QPA_PLATFORM=offscreen where there is no display)

#include "papergeometry.h"
#include "printservice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Lumetra;

namespace {

struct Figures
{
    double median = 0;
    double p95 = 0;
};

Figures summarize(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        const double position = q * static_cast<double>(samples.size() - 1);
        const auto low = static_cast<size_t>(position);
        const size_t high = std::min(low + 1, samples.size() - 1);
        return samples[low] + (samples[high] - samples[low]) * (position - static_cast<double>(low));
    };
    return {at(0.5), at(0.95)};
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
#ifdef Q_OS_MACOS
    return static_cast<double>(usage.ru_maxrss) / (1024.0 * 1024.0);
#else
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
}

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

// Milliseconds from the dialog's acceptance to print() returning.
double timePrint(const PrintableImage& image, const PrintSettings& settings, const QString& file)
{
    QElapsedTimer clock;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QPrintDialog*>(widget);
            if (dialog && dialog->isVisible()) {
                timer.stop();
                dialog->printer()->setOutputFileName(file);
                clock.start();
                dialog->done(QDialog::Accepted);
                return;
            }
        }
    });
    timer.start();
    if (!PrintService().print(nullptr, image, settings)) {
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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.pdf"));

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
    } cases[] = {{"print(), rotation 0", &upright}, {"print(), rotation 90", &turned}};
    for (const auto& c : cases) {
        std::vector<double> samples;
        for (int i = 0; i < runs; ++i)
            samples.push_back(timePrint(image, *c.settings, file));
        const Figures figures = summarize(samples);
        std::printf("%-34s %12.1f %12.1f %14.1f %10.2f\n", c.name, figures.median, figures.p95,
                    peakMegabytes(), figures.median / base.median);
    }
    return 0;
}
