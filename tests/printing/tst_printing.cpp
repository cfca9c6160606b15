#include "papergeometry.h"
#include "printservice.h"
#include "privatecups.h"

#include <QApplication>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using namespace Lumetra;

namespace {

// Records what reaches a paint device, so the geometry can be checked on a device whose paper
// rectangle and resolution the test controls.
class RecordingEngine : public QPaintEngine
{
public:
    struct ImageCall
    {
        QRectF target;
        QImage image;
        QRectF source;
        Qt::ImageConversionFlags flags;
        QPainter::RenderHints hints;
    };

    RecordingEngine() : QPaintEngine(AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState& state) override
    {
        if (state.state() & DirtyHints)
            m_hints = state.renderHints();
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override { ++m_otherCalls; }
    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr,
                   Qt::ImageConversionFlags flags) override
    {
        m_images.append({r, image, sr, flags, m_hints});
    }
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override { ++m_otherCalls; }
    Type type() const override { return User; }

    QList<ImageCall> m_images;
    int m_otherCalls = 0;
    QPainter::RenderHints m_hints;
};

// A 20000 x 20000 pixel sheet at 600 dpi.
class RecordingDevice : public QPaintDevice
{
public:
    QPaintEngine* paintEngine() const override { return &m_engine; }
    mutable RecordingEngine m_engine;

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        if (metric == PdmWidth || metric == PdmHeight)
            return 20000;
        if (metric == PdmDevicePixelRatioScaled)
            return static_cast<int>(devicePixelRatioFScale());
        if (metric == PdmDevicePixelRatio)
            return 1;
        return metric == PdmDepth ? 32 : 600; // the resolutions; the rest is unused
    }
};

// Every pixel differs from its neighbours, so a shift, a turn or a blend shows.
QImage chart(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    const bool gray = format == QImage::Format_Grayscale8;
    QImage image(width, height, gray ? format : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (gray)
                image.scanLine(y)[x] = static_cast<uchar>((x * 31 + y * 17) & 255);
            else
                image.setPixel(
                    x, y,
                    qRgb((x * 37 + y * 11) & 255, (x * 13 + y * 53 + 7) & 255, (x * 71 ^ y * 29) & 255));
        }
    }
    return image.convertToFormat(format);
}

PrintableImage printable(const QImage& pixels, double dpi, const QString& colorModel = QStringLiteral("RGB"))
{
    PrintableImage image;
    image.pixelWidth = static_cast<quint32>(pixels.width());
    image.pixelHeight = static_cast<quint32>(pixels.height());
    image.dpiX = dpi;
    image.dpiY = dpi;
    image.colorModel = colorModel;
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
    void pixelsAreReplicatedNotSmoothed();
    void failurePaths_data();
    void failurePaths();
    void endToEnd_data();
    void endToEnd();

private:
    std::unique_ptr<Testing::PrivateCups> m_cups;
    QString m_skipReason;
};

void TestPrinting::initTestCase()
{
    // The scheduler must be up before Qt's print support first talks to CUPS.
    m_cups = std::make_unique<Testing::PrivateCups>();
    QString missing;
    if (!Testing::popplerToolsAvailable(&missing))
        m_skipReason = missing;
    else if (!m_cups->start())
        m_skipReason = QStringLiteral("no private CUPS scheduler: ") + m_cups->errorString();
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
        printer.setPrinterName(m_cups->postScriptQueue());
        QCOMPARE(printer.printerName(), m_cups->postScriptQueue());
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
    const QSizeF size = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
    QVERIFY2(qAbs(size.width() - sizeMillimeters.width()) < 0.01 &&
                 qAbs(size.height() - sizeMillimeters.height()) < 0.01,
             qPrintable(QStringLiteral("%1 x %2 mm").arg(size.width()).arg(size.height())));
    const QPageLayout layout = PrintService::pageLayout(settings);
    QCOMPARE(layout.mode(), QPageLayout::FullPageMode);
    QCOMPARE(layout.margins(), QMarginsF(0, 0, 0, 0));
}

void TestPrinting::placement_data()
{
    QTest::addColumn<QString>("paper");
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QRectF>("paperRect");
    QTest::addColumn<QRectF>("expected");

    // 2480 x 3508 px at 300 dpi on a 600 dpi device.
    const QSize a4Pixels(2480, 3508);
    QTest::newRow("A3 centre") << "DIN A3" << a4Pixels << 4 << 0 << QRectF(0, 0, 7015.748, 9921.260)
                               << QRectF(1027.874, 1452.630, 4960, 7016);
    QTest::newRow("A4 centre overhangs") << "DIN A4" << a4Pixels << 4 << 0 << QRectF(0, 0, 4960.630, 7015.748)
                                         << QRectF(0.315, -0.126, 4960, 7016);
    QTest::newRow("A3 top left offset paper")
        << "DIN A3" << a4Pixels << 0 << 0 << QRectF(31.5, 12.25, 7015.748, 9921.260)
        << QRectF(31.5, 12.25, 4960, 7016);
    QTest::newRow("A4 top left larger than paper")
        << "DIN A4" << QSize(6000, 9000) << 0 << 0 << QRectF(-10, -20, 4960.630, 7015.748)
        << QRectF(-10, -20, 12000, 18000);

    // A 4 x 6 inch image (1200 x 1800 px at 300 dpi) on A4 at 600 dpi, every alignment.
    const QRectF a4(0, 0, 210 / 25.4 * 600, 297 / 25.4 * 600);
    const double xs[] = {0, 1280.315, 2560.630};
    const double ys[] = {0, 1707.874, 3415.748};
    const char* names[] = {"TopLeft",     "TopCenter",  "TopRight",     "CenterLeft", "Center",
                           "CenterRight", "BottomLeft", "BottomCenter", "BottomRight"};
    for (int i = 0; i < 9; ++i) {
        QTest::addRow("4x6 %s", names[i])
            << "DIN A4" << QSize(1200, 1800) << i << 0 << a4 << QRectF(xs[i % 3], ys[i / 3], 2400, 3600);
    }
    QTest::newRow("out of range alignment is centre")
        << "DIN A4" << QSize(1200, 1800) << 9 << 0 << a4 << QRectF(xs[1], ys[1], 2400, 3600);
    QTest::newRow("4x6 turned on A4 landscape")
        << "DIN A4" << QSize(1200, 1800) << 4 << 90 << QRectF(0, 0, a4.height(), a4.width())
        << QRectF(1707.874, 1280.315, 3600, 2400);
}

void TestPrinting::placement()
{
    QFETCH(QString, paper);
    QFETCH(QSize, pixels);
    QFETCH(int, alignment);
    QFETCH(int, rotation);
    QFETCH(QRectF, paperRect);
    QFETCH(QRectF, expected);

    const PrintableImage image = printable(chart(pixels.width(), pixels.height()), 300);
    RecordingDevice device;
    QPainter painter(&device);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    PrintService::drawPage(painter, paperRect, 600, image, settingsFor(paper, alignment, rotation));
    painter.end();

    QCOMPARE(device.m_engine.m_images.size(), 1);
    QCOMPARE(device.m_engine.m_otherCalls, 0);
    const RecordingEngine::ImageCall& call = device.m_engine.m_images.first();
    const QRectF& got = call.target;
    const auto near = [](double a, double b) { return qAbs(a - b) < 0.001; };
    QVERIFY2(near(got.x(), expected.x()) && near(got.y(), expected.y()) &&
                 near(got.width(), expected.width()) && near(got.height(), expected.height()),
             qPrintable(QStringLiteral("got (%1, %2, %3 x %4)")
                            .arg(got.x(), 0, 'f', 4)
                            .arg(got.y(), 0, 'f', 4)
                            .arg(got.width(), 0, 'f', 4)
                            .arg(got.height(), 0, 'f', 4)));
    const QImage turned = rotatedImage(image.image, rotation);
    QCOMPARE(call.image, turned);
    if (rotation == 90) // clockwise: the bottom-left source pixel becomes the top-left one
        QCOMPARE(call.image.pixel(0, 0), image.image.pixel(0, pixels.height() - 1));
    QCOMPARE(call.source, QRectF(QPointF(0, 0), turned.size()));
    QCOMPARE(call.flags, Qt::ImageConversionFlags(Qt::AutoColor));
    QVERIFY(!call.hints.testFlag(QPainter::SmoothPixmapTransform));
    QVERIFY(call.hints.testFlag(QPainter::LosslessImageRendering));
}

void TestPrinting::pixelsAreReplicatedNotSmoothed()
{
    // At twice the image's resolution each pixel must become an exact 2 x 2 block.
    const PrintableImage image = printable(chart(30, 20), 150);
    QImage sheet(80, 60, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QImage expected = sheet.copy();
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    PrintService::drawPage(painter, QRectF(4, 6, 76, 54), 300, image,
                           settingsFor(QStringLiteral("DIN A4"), int(PrintAlignment::TopLeft)));
    painter.end();
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 60; ++x)
            expected.setPixel(4 + x, 6 + y, image.image.pixel(x / 2, y / 2));
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
    const QStringList before = m_cups->spooledDocuments();
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
    QCOMPARE(m_cups->spooledDocuments(), before);
    QVERIFY(!QFile::exists(file));
}

void TestPrinting::endToEnd_data()
{
    QTest::addColumn<bool>("postScriptQueue");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("colorModel");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QPointF>("freeSpaceBefore"); // the part of the free space left and above

    const int rgb = QImage::Format_RGB32;
    for (const bool ps : {false, true}) {
        const char* queue = ps ? "ps" : "raw";
        for (const char* paper : {"DIN A4", "DIN A3", "DIN A3+", "DIN A2"}) {
            QTest::addRow("%s %s RGB portrait", queue, paper)
                << ps << paper << 0 << rgb << "RGB" << int(PrintAlignment::Center) << QPointF(0.5, 0.5);
            QTest::addRow("%s %s RGB landscape turned", queue, paper)
                << ps << paper << 90 << rgb << "RGB" << int(PrintAlignment::BottomRight) << QPointF(1, 1);
        }
        for (const int rotation : {0, 90}) {
            QTest::addRow("%s gray rotation %d", queue, rotation)
                << ps << "DIN A4" << rotation << int(QImage::Format_Grayscale8) << "Grayscale"
                << int(PrintAlignment::TopLeft) << QPointF(0, 0);
            // The TIFF reader hands CMYK files over as opaque ARGB pixels.
            QTest::addRow("%s CMYK source rotation %d", queue, rotation)
                << ps << "DIN A3" << rotation << int(QImage::Format_ARGB32) << "CMYK"
                << int(PrintAlignment::TopRight) << QPointF(1, 0);
        }
    }
}

void TestPrinting::endToEnd()
{
    QFETCH(bool, postScriptQueue);
    QFETCH(QString, paper);
    QFETCH(int, rotation);
    QFETCH(int, format);
    QFETCH(QString, colorModel);
    QFETCH(int, alignment);
    QFETCH(QPointF, freeSpaceBefore);
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));

    const QString queue = postScriptQueue ? m_cups->postScriptQueue() : m_cups->rawQueue();
    QVERIFY(m_cups->setDefaultQueue(queue));
    const QImage pixels = chart(60, 90, static_cast<QImage::Format>(format));
    const PrintSettings settings = settingsFor(paper, alignment, rotation);
    const QStringList before = m_cups->spooledDocuments();
    DialogAnswer answer(pressPrint);
    QVERIFY(PrintService().print(nullptr, printable(pixels, 300, colorModel), settings));
    QVERIFY(answer.seen);
    QCOMPARE(answer.printerName, queue);

    const QString document = m_cups->waitForNewDocument(before);
    QVERIFY2(!document.isEmpty(), qPrintable(m_cups->errorLogTail()));
    QVERIFY(Testing::isPdf(document));
    QVERIFY(m_cups->jobAttributes(document).contains("Lumetra"));

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
    QCOMPARE(info.type, QStringLiteral("image"));
    QCOMPARE(info.encoding, QStringLiteral("image")); // Flate or uncompressed, never JPEG
    QCOMPARE(QSize(info.width, info.height), expected.size());
    QCOMPARE(info.color, QStringLiteral("rgb")); // asked for colour, Qt spools grey targets as RGB too
    QCOMPARE(info.bitsPerComponent, 8);
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
    QCOMPARE(rendered.size(), page.toSize());
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
    const QPointF centre((page.width() - size.width()) * freeSpaceBefore.x() + size.width() / 2,
                         (page.height() - size.height()) * freeSpaceBefore.y() + size.height() / 2);
    const QPointF offset = QRectF(found).center() - centre;
    QString where;
    QDebug(&where) << "chart found at" << found << "expected centre" << centre << size;
    QVERIFY2(qAbs(offset.x()) <= 1.0 && qAbs(offset.y()) <= 1.0 &&
                 qAbs(found.width() - size.width()) <= 2.0 && qAbs(found.height() - size.height()) <= 2.0,
             qPrintable(where));
}

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
