#include "papergeometry.h"
#include "printservice.h"
#include "privatecups.h"

#include <QApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace Lumetra;

namespace {

// Every pixel differs from its neighbours, so a shift, a turn or a blend shows.
QImage chart(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, qRgb((x * 37 + y * 11) & 255, (x * 13 + y * 53 + 7) & 255, (x * 71 ^ y * 29) & 255));
    }
    return image.convertToFormat(format);
}

PrintableImage printable(const QImage& pixels, double dpi)
{
    PrintableImage image;
    image.pixelWidth = static_cast<quint32>(pixels.width());
    image.pixelHeight = static_cast<quint32>(pixels.height());
    image.dpiX = image.dpiY = dpi;
    image.image = pixels;
    return image;
}

PrintSettings settingsFor(const QString& paper, int alignment = int(PrintAlignment::Center), int rotation = 0,
                          bool landscape = false)
{
    PrintSettings settings;
    for (const PaperPreset& preset : paperPresets()) {
        if (preset.name == paper)
            settings.paper = preset;
    }
    settings.orientation = landscape || rotation ? PrintOrientation::Landscape : PrintOrientation::Portrait;
    settings.alignment = static_cast<PrintAlignment>(alignment);
    settings.rotationDegrees = rotation;
    return settings;
}

// Answers the next print dialog with `action` once it is shown; records that it appeared and its printer.
struct DialogAnswer
{
    explicit DialogAnswer(std::function<void(QPrintDialog*)> action)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, action] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QPrintDialog*>(widget);
                if (dialog && dialog->isVisible()) {
                    timer.stop();
                    seen = true;
                    printerName = dialog->printer()->printerName();
                    action(dialog);
                    return;
                }
            }
        });
        timer.start(20);
    }
    QTimer timer;
    bool seen = false;
    QString printerName;
};

void pressPrint(QPrintDialog* dialog)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text().remove(QLatin1Char('&')) == QLatin1String("Print") && button->isEnabled())
            return button->click();
    }
    dialog->reject(); // so that print() returns instead of waiting for ever
    QFAIL("the print dialog has no enabled Print button");
}

} // namespace

class TestPrinting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void preparedPrinter_data();
    void preparedPrinter();
    void placement_data();
    void placement();
    void drawnPixels_data();
    void drawnPixels();
    void failurePaths_data();
    void failurePaths();
    void endToEnd_data();
    void endToEnd();

private:
    Testing::PrivateCups m_cups;
    QString m_skipReason;
};

void TestPrinting::initTestCase()
{
    // The scheduler must be up before Qt's print support first talks to CUPS.
    QString missing;
    if (!Testing::popplerToolsAvailable(&missing))
        m_skipReason = missing;
    else if (!m_cups.start())
        m_skipReason = QStringLiteral("no private CUPS scheduler: ") + m_cups.errorString();
}

void TestPrinting::preparedPrinter_data()
{
    QTest::addColumn<bool>("postScriptQueue");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<bool>("landscape");
    QTest::addColumn<QSizeF>("sizeMillimeters");
    QTest::newRow("pdf A4 portrait") << false << "DIN A4" << false << QSizeF(210, 297);
    QTest::newRow("pdf A2 landscape") << false << "DIN A2" << true << QSizeF(594, 420);
    QTest::newRow("pdf A3+ landscape") << false << "DIN A3+" << true << QSizeF(483, 329);
    // The generic PostScript driver does not announce colour, so Qt starts such a printer in grey,
    // and refuses a layout with zero margins, keeping its Letter page.
    QTest::newRow("PostScript queue A3+") << true << "DIN A3+" << false << QSizeF(329, 483);
    QTest::newRow("PostScript queue A3 landscape") << true << "DIN A3" << true << QSizeF(420, 297);
}

void TestPrinting::preparedPrinter()
{
    QFETCH(bool, postScriptQueue);
    QFETCH(QString, paper);
    QFETCH(bool, landscape);
    QFETCH(QSizeF, sizeMillimeters);
    QPrinter printer(QPrinter::HighResolution);
    if (postScriptQueue) {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
        printer.setPrinterName(m_cups.postScriptQueue());
        QCOMPARE(printer.printerName(), m_cups.postScriptQueue());
    } else {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setColorMode(QPrinter::GrayScale);
        printer.setFullPage(false);
    }
    QCOMPARE(printer.colorMode(), QPrinter::GrayScale);

    const PrintSettings settings = settingsFor(paper, int(PrintAlignment::Center), 0, landscape);
    PrintService::preparePrinter(printer, settings);
    QCOMPARE(printer.colorMode(), QPrinter::Color);
    QVERIFY(printer.fullPage());
    QCOMPARE(printer.pageLayout().orientation(), landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    QCOMPARE(printer.pageLayout().fullRect(QPageLayout::Millimeter).size(), sizeMillimeters);
    const QPageLayout layout = PrintService::pageLayout(settings);
    QCOMPARE(layout.mode(), QPageLayout::FullPageMode);
    QCOMPARE(layout.margins(), QMarginsF(0, 0, 0, 0));
}

void TestPrinting::placement_data()
{
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QRectF>("paperRect");
    QTest::addColumn<QRectF>("expected");

    // A4 (2480 x 3508 px) at 300 dpi on a 600 dpi device.
    const QSize a4Pixels(2480, 3508);
    const QRectF a3(0, 0, 7015.748, 9921.260);
    const QRectF a4(0, 0, 210 / 25.4 * 600, 297 / 25.4 * 600);
    QTest::newRow("A3 centre") << a4Pixels << 4 << 0 << a3 << QRectF(1027.874, 1452.630, 4960, 7016);
    QTest::newRow("A4 centre overhangs") << a4Pixels << 4 << 0 << a4 << QRectF(0.315, -0.126, 4960, 7016);
    QTest::newRow("A3 top left offset paper")
        << a4Pixels << 0 << 0 << a3.translated(31.5, 12.25) << QRectF(31.5, 12.25, 4960, 7016);
    QTest::newRow("top left larger than paper")
        << QSize(6000, 9000) << 0 << 0 << a4.translated(-10, -20) << QRectF(-10, -20, 12000, 18000);

    // A 4 x 6 inch image (1200 x 1800 px at 300 dpi) on A4, every alignment.
    const double xs[] = {0, 1280.315, 2560.630};
    const double ys[] = {0, 1707.874, 3415.748};
    const char* names[] = {"TopLeft",     "TopCenter",  "TopRight",     "CenterLeft", "Center",
                           "CenterRight", "BottomLeft", "BottomCenter", "BottomRight"};
    for (int i = 0; i < 9; ++i) {
        QTest::addRow("4x6 %s", names[i])
            << QSize(1200, 1800) << i << 0 << a4 << QRectF(xs[i % 3], ys[i / 3], 2400, 3600);
    }
    QTest::newRow("out of range alignment is centre")
        << QSize(1200, 1800) << 9 << 0 << a4 << QRectF(xs[1], ys[1], 2400, 3600);
    QTest::newRow("4x6 turned on A4 landscape")
        << QSize(1200, 1800) << 4 << 90 << a4.transposed() << QRectF(1707.874, 1280.315, 3600, 2400);
}

void TestPrinting::placement()
{
    QFETCH(QSize, pixels);
    QFETCH(int, alignment);
    QFETCH(int, rotation);
    QFETCH(QRectF, paperRect);
    QFETCH(QRectF, expected);
    const QRectF got =
        PrintService::targetRect(paperRect, 600, printable(QImage(pixels, QImage::Format_RGB32), 300),
                                 settingsFor(QStringLiteral("DIN A4"), alignment, rotation));
    const auto near = [](double a, double b) { return qAbs(a - b) < 0.001; };
    QString text;
    QDebug(&text) << got;
    QVERIFY2(near(got.x(), expected.x()) && near(got.y(), expected.y()) &&
                 near(got.width(), expected.width()) && near(got.height(), expected.height()),
             qPrintable(text));
}

void TestPrinting::drawnPixels_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QPoint>("origin");
    QTest::newRow("top left") << int(PrintAlignment::TopLeft) << 0 << QPoint(4, 6);
    QTest::newRow("bottom right, turned") << int(PrintAlignment::BottomRight) << 90 << QPoint(54, 36);
}

void TestPrinting::drawnPixels()
{
    QFETCH(int, alignment);
    QFETCH(int, rotation);
    QFETCH(QPoint, origin);
    // A 30 x 20 px chart at 150 dpi on a 300 dpi sheet: each pixel must become an exact 2 x 2 block,
    // and nothing else may be drawn.
    const QImage pixels = chart(30, 20);
    QImage sheet(100, 100, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QImage expected = sheet.copy();
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    PrintService::drawPage(painter, QRectF(4, 6, 90, 90), 300, printable(pixels, 150),
                           settingsFor(QStringLiteral("DIN A4"), alignment, rotation));
    // Lossless image rendering keeps a PDF spool from JPEG-compressing the chart.
    QVERIFY(painter.testRenderHint(QPainter::LosslessImageRendering));
    painter.end();
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 60; ++x) {
            // A clockwise quarter turn: the bottom-left source pixel becomes the top-left one.
            const QPoint at = rotation ? QPoint(x / 2, 19 - y / 2) : QPoint(x / 2, y / 2);
            expected.setPixel(origin + (rotation ? QPoint(y, x) : QPoint(x, y)), pixels.pixel(at));
        }
    }
    QCOMPARE(sheet, expected);
}

void TestPrinting::failurePaths_data()
{
    QTest::addColumn<bool>("noImage");
    QTest::addColumn<bool>("unwritable");
    QTest::addColumn<QString>("message");
    QTest::newRow("no image, no dialog") << true << false << "No image is loaded.";
    QTest::newRow("dialog cancelled") << false << false << QString();
    QTest::newRow("printer cannot be opened") << false << true << "The printer could not be opened.";
}

void TestPrinting::failurePaths()
{
    QFETCH(bool, noImage);
    QFETCH(bool, unwritable);
    QFETCH(QString, message);
    if (!noImage && !m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));
    // The dialog itself refuses an unwritable file, so the printer is pointed at one behind its back.
    const QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("missing-folder/target.pdf"));
    DialogAnswer answer([&](QPrintDialog* dialog) {
        if (!unwritable)
            return dialog->reject();
        dialog->printer()->setOutputFileName(file);
        dialog->done(QDialog::Accepted);
    });
    PrintableImage image = printable(noImage ? QImage() : chart(60, 90), 300);
    if (noImage)
        image.pixelWidth = image.pixelHeight = 100; // a stated size without pixels
    const QStringList before = m_cups.spooledDocuments();
    bool printed = false;
    QString thrown;
    try {
        printed = PrintService().print(nullptr, image, settingsFor(QStringLiteral("DIN A4")));
    } catch (const PrintException& exception) {
        thrown = exception.message();
        QCOMPARE(QString::fromUtf8(exception.what()), thrown);
    }
    QCOMPARE(thrown, message);
    QVERIFY(!printed);
    QTest::qWait(300);
    QCOMPARE(answer.seen, !noImage);
    QCOMPARE(m_cups.spooledDocuments(), before);
    QVERIFY(!QFile::exists(file));
}

void TestPrinting::endToEnd_data()
{
    QTest::addColumn<bool>("postScriptQueue");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("alignment");

    const int rgb = QImage::Format_RGB32;
    for (const bool ps : {false, true}) {
        const char* queue = ps ? "ps" : "raw";
        for (const char* paper : {"DIN A4", "DIN A3", "DIN A3+", "DIN A2"}) {
            QTest::addRow("%s %s RGB portrait", queue, paper)
                << ps << paper << 0 << rgb << int(PrintAlignment::Center);
            QTest::addRow("%s %s RGB landscape turned", queue, paper)
                << ps << paper << 90 << rgb << int(PrintAlignment::BottomRight);
        }
        for (const int rotation : {0, 90}) {
            QTest::addRow("%s gray rotation %d", queue, rotation)
                << ps << "DIN A4" << rotation << int(QImage::Format_Grayscale8)
                << int(PrintAlignment::TopLeft);
            // The TIFF reader hands CMYK files over as opaque ARGB pixels.
            QTest::addRow("%s CMYK source rotation %d", queue, rotation)
                << ps << "DIN A3" << rotation << int(QImage::Format_ARGB32) << int(PrintAlignment::TopRight);
        }
    }
}

void TestPrinting::endToEnd()
{
    QFETCH(bool, postScriptQueue);
    QFETCH(QString, paper);
    QFETCH(int, rotation);
    QFETCH(int, format);
    QFETCH(int, alignment);
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));

    const QString queue = postScriptQueue ? m_cups.postScriptQueue() : m_cups.rawQueue();
    QVERIFY(m_cups.setDefaultQueue(queue));
    const QImage pixels = chart(60, 90, static_cast<QImage::Format>(format));
    const PrintSettings settings = settingsFor(paper, alignment, rotation);
    const QStringList before = m_cups.spooledDocuments();
    DialogAnswer answer(pressPrint);
    QVERIFY(PrintService().print(nullptr, printable(pixels, 300), settings));
    QVERIFY(answer.seen);
    QCOMPARE(answer.printerName, queue);

    const QString document = m_cups.waitForNewDocument(before);
    QVERIFY2(!document.isEmpty(), qPrintable(m_cups.errorLogTail()));
    QVERIFY(m_cups.jobAttributes(document).contains("Lumetra"));

    // The preset's page in the chosen orientation, which Qt's PDF writer states in whole points.
    QString error;
    const QSizeF page = Testing::pdfPageSizePoints(document, 1, &error);
    QVERIFY2(page.isValid(), qPrintable(error));
    const SizeD mm = settings.paper.sizeMillimeters(settings.orientation);
    QCOMPARE(page, QSizeF(qRound(mm.width / 25.4 * 72), qRound(mm.height / 25.4 * 72)));

    const QImage expected = rotatedImage(pixels, rotation).convertToFormat(QImage::Format_RGB32);
    const QList<Testing::PdfImageInfo> list = Testing::listPdfImages(document, &error);
    QVERIFY2(list.size() == 1, qPrintable(QStringLiteral("%1 images %2").arg(list.size()).arg(error)));
    const Testing::PdfImageInfo& info = list.first();
    QCOMPARE(info.encoding, QStringLiteral("image")); // Flate or uncompressed, never JPEG
    QCOMPARE(QSize(info.width, info.height), expected.size());
    QCOMPARE(info.color, QStringLiteral("rgb")); // asked for colour, Qt spools grey targets as RGB too
    QCOMPARE(QPoint(info.xPpi, info.yPpi), QPoint(300, 300));
    QVERIFY(!info.interpolate);
    const QList<QImage> extracted = Testing::extractPdfImages(document, &error);
    QVERIFY2(extracted.size() == 1, qPrintable(error));
    QCOMPARE(extracted.first().convertToFormat(QImage::Format_RGB32), expected); // every pixel

    // Where the chart lies: render the page at one pixel per point and find the chart, which has
    // no white pixel, on the white sheet.
    const QImage rendered =
        Testing::renderPdfPage(document, 72, 1, &error).convertToFormat(QImage::Format_RGB32);
    QVERIFY2(!rendered.isNull(), qPrintable(error));
    QRect found;
    for (int y = 0; y < rendered.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rendered.constScanLine(y));
        for (int x = 0; x < rendered.width(); ++x) {
            if (qGray(line[x]) < 250)
                found |= QRect(x, y, 1, 1);
        }
    }
    // A 60 x 90 px chart at 300 dpi is 14.4 x 21.6 points, turned with the sheet.
    const QSizeF size = rotation == 90 ? QSizeF(21.6, 14.4) : QSizeF(14.4, 21.6);
    // The alignments run row by row from the top left: their share of the free space before the chart.
    const QPointF centre((page.width() - size.width()) * (alignment % 3) / 2 + size.width() / 2,
                         (page.height() - size.height()) * (alignment / 3) / 2 + size.height() / 2);
    const QPointF offset = QRectF(found).center() - centre;
    QString where;
    QDebug(&where) << "chart found at" << found << "expected centre" << centre << size;
    QVERIFY2(qAbs(offset.x()) <= 1.0 && qAbs(offset.y()) <= 1.0 &&
                 qAbs(found.width() - size.width()) <= 2.0 && qAbs(found.height() - size.height()) <= 2.0,
             qPrintable(where));
}

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
