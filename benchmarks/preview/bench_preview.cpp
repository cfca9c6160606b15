// Paints a large target through the preview repeatedly and prints median and p95
// per case, for the preview as built ("after") and for a baseline that turns the
// image on every paint ("before"), measured in the same run.

#include "papergeometry.h"
#include "previewpainting.h"
#include "previewwidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QWheelEvent>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

using namespace Lumetra;

namespace {

constexpr int kImageWidth = 6732;
constexpr int kImageHeight = 9638;
const QSize kWidgetSize(1024, 768);
constexpr int kBaselineSamples = 20; // each turns the whole target
constexpr int kSamples = 100;

// The described painting: the image is turned again for every frame.
class BaselinePreview : public QWidget
{
public:
    PreviewFrame frame;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        frame.widgetSize = size();
        paintPreviewFrame(painter, frame, rotatedImage(frame.image->image, frame.settings.rotationDegrees));
    }
};

PrintableImage makeTarget(QImage::Format format)
{
    QImage pixels(kImageWidth, kImageHeight, QImage::Format_ARGB32);
    for (int y = 0; y < kImageHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(pixels.scanLine(y));
        for (int x = 0; x < kImageWidth; ++x)
            line[x] = qRgb((x / 64) * 37 % 256, (y / 64) * 53 % 256, ((x + y) / 64) * 29 % 256);
    }
    PrintableImage image;
    image.filePath = QStringLiteral("/targets/large.tif");
    image.fileName = QStringLiteral("large.tif");
    image.pixelWidth = kImageWidth;
    image.pixelHeight = kImageHeight;
    image.dpiX = 600.0;
    image.dpiY = 600.0;
    image.colorModel = QStringLiteral("RGB");
    image.image = pixels.convertToFormat(format);
    return image;
}

PrintSettings settingsFor(int rotation)
{
    PrintSettings settings;
    settings.paper = paperPresets().at(1); // DIN A3 holds the target either way round
    settings.orientation = rotation == 0 ? PrintOrientation::Portrait : PrintOrientation::Landscape;
    settings.alignment = PrintAlignment::Center;
    settings.rotationDegrees = rotation;
    return settings;
}

// Brings the preview to the wanted zoom through its own input, about its centre,
// so the pan stays 0 and the baseline can draw the very same view.
void zoomTo(PreviewWidget& preview, double zoom)
{
    preview.resetZoomToFit();
    if (zoom >= PreviewWidget::kMaxZoom) {
        while (preview.zoomPercent() < PreviewWidget::kMaxZoom * 100.0)
            preview.zoomIn();
        return;
    }
    if (zoom > 1.0) {
        // The smallest whole wheel delta that reaches the zoom: 8 gives 8.01.
        const int delta =
            static_cast<int>(std::ceil(std::log(zoom) / std::log(PreviewWidget::kWheelZoomBase)));
        const QPointF centre(preview.rect().center());
        QWheelEvent wheel(centre, centre, QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&preview, &wheel);
    }
}

// CPU time of the whole process, the toolkit's painting helper threads included.
// On a busy shared machine the wall clock also counts the time other processes
// held the cores; the CPU time is the paint's own cost and, summed over threads,
// an upper bound of its wall time on an idle machine.
double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Figures
{
    double first = 0.0;
    double median = 0.0;
    double p95 = 0.0;
    double cpuMedian = 0.0;
    double cpuP95 = 0.0;
};

double percentile(std::vector<double> samples, double fraction)
{
    std::sort(samples.begin(), samples.end());
    const size_t index = static_cast<size_t>(std::ceil(fraction * samples.size()));
    return samples[std::min(samples.size() - 1, index > 0 ? index - 1 : 0)];
}

Figures measure(QWidget& widget, int samples)
{
    QImage target(kWidgetSize, QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer timer;
    timer.start();
    widget.render(&target);
    Figures figures;
    figures.first = timer.nsecsElapsed() / 1e6;
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < samples; ++i) {
        const double cpuStart = processCpuMs();
        timer.restart();
        widget.render(&target);
        wall.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(processCpuMs() - cpuStart);
    }
    figures.median = percentile(wall, 0.5);
    figures.p95 = percentile(wall, 0.95);
    figures.cpuMedian = percentile(cpu, 0.5);
    figures.cpuP95 = percentile(cpu, 0.95);
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::printf(
        "preview paint of a %d x %d target into a %d x %d widget, %d samples per case (baseline %d)\n",
        kImageWidth, kImageHeight, kWidgetSize.width(), kWidgetSize.height(), kSamples, kBaselineSamples);
    std::printf("times in ms; 'first' is the first paint after the image or rotation changed\n\n");
    std::printf("| format | rotation | zoom | before first | before median | before p95 | after first | "
                "after median | "
                "after p95 | after CPU median | after CPU p95 | median ratio |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");

    // As the readers deliver them: TIFF, JPEG and grayscale files.
    const std::pair<QImage::Format, const char*> formats[] = {{QImage::Format_ARGB32, "ARGB32"},
                                                              {QImage::Format_RGB32, "RGB32"},
                                                              {QImage::Format_Grayscale8, "Gray8"}};
    for (const auto& [format, formatName] : formats) {
        const PrintableImage image = makeTarget(format);
        for (int rotation : {0, 90}) {
            for (double zoom : {1.0, 8.0, 32.0}) {
                PreviewWidget preview;
                preview.resize(kWidgetSize);
                preview.setSettings(settingsFor(rotation));
                preview.setImage(image);
                zoomTo(preview, zoom);

                BaselinePreview baseline;
                baseline.resize(kWidgetSize);
                baseline.frame.settings = settingsFor(rotation);
                baseline.frame.image = &image;
                baseline.frame.zoom = preview.zoomPercent() / 100.0;

                const Figures before = measure(baseline, kBaselineSamples);
                const Figures after = measure(preview, kSamples);
                std::printf(
                    "| %s | %d | %.2f | %.1f | %.1f | %.1f | %.1f | %.2f | %.2f | %.2f | %.2f | %.1f |\n",
                    formatName, rotation, preview.zoomPercent() / 100.0, before.first, before.median,
                    before.p95, after.first, after.median, after.p95, after.cpuMedian, after.cpuP95,
                    before.median / after.median);
                std::fflush(stdout);
            }
        }
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("\npeak resident memory: %.0f MiB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
