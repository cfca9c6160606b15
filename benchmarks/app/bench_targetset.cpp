// Peak memory of the window holding a target set: loading it, stepping through every page in the
// preview, and printing all pages to a PDF file. Each phase runs in a process of its own, so that
// its peak resident size is its own. The baselines, measured in the same run: the window with
// nothing loaded, with one page loaded on its own, and printing that one page (which shows what
// the PDF writer needs beyond the page).
//
//     bench_targetset            (run with QT_QPA_PLATFORM=offscreen where there is no display)

#include "benchsupport.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>

#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace Lumetra;
using Bench::peakMegabytes;

namespace {

// An 8-bit RGB patch chart, LZW-compressed, one strip per 16 rows.
bool writeTarget(const QString& path, quint32 width, quint32 height, double dpi, int seed)
{
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, dpi);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, dpi);
    std::vector<uchar> row(size_t(width) * 3);
    bool written = true;
    for (quint32 y = 0; y < height && written; ++y) {
        for (quint32 x = 0; x < width; ++x) {
            const quint32 patch = (x / 120) * 31 + (y / 120) * 17 + quint32(seed) * 7;
            row[x * 3] = uchar(patch * 37);
            row[x * 3 + 1] = uchar(patch * 91);
            row[x * 3 + 2] = uchar(patch * 53);
        }
        written = TIFFWriteScanline(tiff, row.data(), y, 0) >= 0;
    }
    TIFFClose(tiff);
    return written;
}

QAction* action(MainWindow& window, const char* name)
{
    if (auto* action = window.findChild<QAction*>(QLatin1String(name)))
        return action;
    std::fprintf(stderr, "no action %s\n", name);
    std::exit(1);
}

// One phase in this process; prints its peak resident size in megabytes.
int runPhase(const QString& phase, const QStringList& files, const QString& pdf)
{
    MainWindow window;
    window.show();
    QApplication::processEvents();
    if (phase == QLatin1String("one") || phase == QLatin1String("print one"))
        window.loadCommandLine(files.mid(0, 1));
    else if (phase != QLatin1String("idle"))
        window.loadCommandLine(files);
    // The load runs in the background; Load is enabled again once the window has taken the set.
    while (!action(window, "loadAction")->isEnabled())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    if (phase == QLatin1String("step")) {
        for (int i = 1; i < files.size(); ++i) {
            action(window, "nextPageAction")->trigger();
            QApplication::processEvents(); // the preview paints the page
        }
    }
    if (phase.startsWith(QLatin1String("print"))) {
        const Bench::PrintDialogAnswer answer(
            [&pdf](QPrintDialog& dialog) { dialog.printer()->setOutputFileName(pdf); });
        action(window, "printAction")->trigger();
        if (QFileInfo(pdf).size() == 0) {
            std::fprintf(stderr, "nothing was printed\n");
            return 1;
        }
    }
    std::printf("%.1f\n", peakMegabytes());
    return 0;
}

double runChild(const QString& phase, const QStringList& files, const QString& pdf)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                QStringList{QStringLiteral("--phase"), phase, pdf} + files);
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
        std::fprintf(stderr, "phase %s failed\n", qPrintable(phase));
        std::exit(1);
    }
    return child.readAllStandardOutput().trimmed().toDouble();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationName(QStringLiteral("Lumetra benchmark"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() >= 4 && arguments.at(1) == QLatin1String("--phase"))
        return runPhase(arguments.at(2), arguments.mid(4), arguments.at(3));

    const struct
    {
        const char* name;
        int pages;
        quint32 width;
        quint32 height;
        double dpi;
    } cases[] = {{"6 x DIN A4 at 300 dpi", 6, 2480, 3508, 300},
                 {"4 x DIN A3 at 600 dpi", 4, 7016, 9921, 600}};

    std::printf("peak resident size in MB; in brackets (peak - idle) / one page's decoded size\n");
    std::printf("%-22s %7s %6s %15s %15s %15s %15s %15s %14s\n", "set", "page", "idle", "one page",
                "print one page", "load set", "step through", "print set", "print set (s)");
    for (const auto& c : cases) {
        QTemporaryDir dir;
        QStringList files;
        for (int i = 0; i < c.pages; ++i) {
            files << dir.filePath(QStringLiteral("sheet_%1.tif").arg(i + 1));
            if (!writeTarget(files.last(), c.width, c.height, c.dpi, i)) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(files.last()));
                return 1;
            }
        }
        const QString pdf = dir.filePath(QStringLiteral("set.pdf"));
        const double page = double(c.width) * double(c.height) * 4.0 / (1024.0 * 1024.0);
        const double idle = runChild(QStringLiteral("idle"), files, pdf);
        const auto cell = [&](double peak) {
            return QStringLiteral("%1 (%2)").arg(QString::number(peak, 'f', 1),
                                                 QString::number((peak - idle) / page, 'f', 2));
        };
        const double one = runChild(QStringLiteral("one"), files, pdf);
        const double printOne = runChild(QStringLiteral("print one"), files, pdf);
        const double load = runChild(QStringLiteral("load"), files, pdf);
        const double step = runChild(QStringLiteral("step"), files, pdf);
        QElapsedTimer clock;
        clock.start();
        const double print = runChild(QStringLiteral("print"), files, pdf);
        const double printSeconds = double(clock.elapsed()) / 1000.0;
        std::printf("%-22s %7.1f %6.1f %15s %15s %15s %15s %15s %14.1f\n", c.name, page, idle,
                    qPrintable(cell(one)), qPrintable(cell(printOne)), qPrintable(cell(load)),
                    qPrintable(cell(step)), qPrintable(cell(print)), printSeconds);
    }
    return 0;
}
