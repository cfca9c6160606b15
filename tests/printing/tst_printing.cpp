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

    RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState& state) override
    {
        if (state.state() & QPaintEngine::DirtyHints)
            m_hints = state.renderHints();
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override { ++m_otherCalls; }
    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr,
                   Qt::ImageConversionFlags flags) override
    {
        m_images.append({r, image, sr, flags, m_hints});
    }
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override { ++m_otherCalls; }
    Type type() const override { return QPaintEngine::User; }

    QList<ImageCall> m_images;
    int m_otherCalls = 0;
    QPainter::RenderHints m_hints;
};

class RecordingDevice : public QPaintDevice
{
public:
    explicit RecordingDevice(int dpi) : m_dpi(dpi) {}
    QPaintEngine* paintEngine() const override { return &m_engine; }
    RecordingEngine& engine() { return m_engine; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
        case PdmHeight:
            return 20000;
        case PdmWidthMM:
        case PdmHeightMM:
            return qRound(20000 * 25.4 / m_dpi);
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return m_dpi;
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return INT_MAX;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
        }
        return 0;
    }

private:
    int m_dpi;
    mutable RecordingEngine m_engine;
};

PaperPreset preset(const QString& name)
{
    const QList<PaperPreset> presets = paperPresets();
    for (const PaperPreset& p : presets) {
        if (p.name == name)
            return p;
    }
    return {};
}

// Every pixel differs from its neighbours, so a shift, a turn or a blend shows.
QImage chart(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, qRgb((x * 37 + y * 11) & 255, (x * 13 + y * 53 + 7) & 255, (x * 71 ^ y * 29) & 255));
    }
    if (format == QImage::Format_Grayscale8) {
        QImage gray(width, height, QImage::Format_Grayscale8);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                gray.scanLine(y)[x] = static_cast<uchar>((x * 31 + y * 17) & 255);
        }
        return gray;
    }
    return image.convertToFormat(format);
}

PrintableImage printable(const QImage& pixels, double dpi, const QString& colorModel = QStringLiteral("RGB"))
{
    PrintableImage image;
    image.filePath = QStringLiteral("/targets/chart.tif");
    image.fileName = QStringLiteral("chart.tif");
    image.pixelWidth = static_cast<quint32>(pixels.width());
    image.pixelHeight = static_cast<quint32>(pixels.height());
    image.dpiX = dpi;
    image.dpiY = dpi;
    image.colorModel = colorModel;
    image.image = pixels;
    return image;
}

PrintSettings settingsFor(const QString& paper, PrintOrientation orientation, PrintAlignment alignment,
                          int rotation = 0)
{
    PrintSettings settings;
    settings.paper = preset(paper);
    settings.orientation = orientation;
    settings.alignment = alignment;
    settings.rotationDegrees = rotation;
    return settings;
}

// Answers the next print dialog with `action` once it is shown; records whether one appeared.
class DialogAnswer
{
public:
    explicit DialogAnswer(std::function<void(QPrintDialog*)> action) : m_action(std::move(action))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QPrintDialog*>(widget);
                if (dialog && dialog->isVisible()) {
                    m_timer.stop();
                    m_seen = true;
                    m_printerName = dialog->printer()->printerName();
                    m_action(dialog);
                    return;
                }
            }
        });
        m_timer.start();
    }
    bool seen() const { return m_seen; }
    QString printerName() const { return m_printerName; }

private:
    std::function<void(QPrintDialog*)> m_action;
    QTimer m_timer;
    bool m_seen = false;
    QString m_printerName;
};

void pressPrint(QPrintDialog* dialog)
{
    const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        if (button->text().remove(QLatin1Char('&')) == QLatin1String("Print") && button->isEnabled()) {
            button->click();
            return;
        }
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

    void exceptionCarriesMessage();
    void pageLayoutIsThePresetWithoutMargins_data();
    void pageLayoutIsThePresetWithoutMargins();
    void printerIsPreparedForColourAndFullPage();
    void nativeDialogOnlyOnMacAndWindows();

    void placement_data();
    void placement();
    void quarterTurnDrawsTurnedPixels();
    void pixelsAreReplicatedNotSmoothed();

    void nullImageFailsWithoutDialog();
    void cancelledDialogReturnsFalse();
    void unopenablePrinterFails();

    void driverWithoutColourIsAskedForColour();
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

void TestPrinting::exceptionCarriesMessage()
{
    const QString text = QStringLiteral("Drucker \u00f6ffnen fehlgeschlagen \u2013 A3+");
    const PrintException exception(text);
    QCOMPARE(exception.message(), text);
    QCOMPARE(QByteArray(exception.what()), text.toUtf8());
    const PrintException empty{QString()};
    QVERIFY(empty.what() != nullptr);
    QCOMPARE(QByteArray(empty.what()), QByteArray());
}

void TestPrinting::pageLayoutIsThePresetWithoutMargins_data()
{
    QTest::addColumn<QString>("paper");
    QTest::addColumn<PrintOrientation>("orientation");
    QTest::addColumn<QSizeF>("sizeMillimeters");
    QTest::addColumn<QPageLayout::Orientation>("layoutOrientation");

    const struct
    {
        const char* name;
        double width;
        double height;
    } papers[] = {{"DIN A4", 210, 297}, {"DIN A3", 297, 420}, {"DIN A3+", 329, 483}, {"DIN A2", 420, 594}};
    for (const auto& paper : papers) {
        QTest::addRow("%s portrait", paper.name)
            << QString::fromLatin1(paper.name) << PrintOrientation::Portrait
            << QSizeF(paper.width, paper.height) << QPageLayout::Portrait;
        QTest::addRow("%s landscape", paper.name)
            << QString::fromLatin1(paper.name) << PrintOrientation::Landscape
            << QSizeF(paper.height, paper.width) << QPageLayout::Landscape;
    }
}

void TestPrinting::pageLayoutIsThePresetWithoutMargins()
{
    QFETCH(QString, paper);
    QFETCH(PrintOrientation, orientation);
    QFETCH(QSizeF, sizeMillimeters);
    QFETCH(QPageLayout::Orientation, layoutOrientation);

    const QPageLayout layout =
        PrintService::pageLayout(settingsFor(paper, orientation, PrintAlignment::Center));
    QCOMPARE(layout.orientation(), layoutOrientation);
    QCOMPARE(layout.units(), QPageLayout::Millimeter);
    QCOMPARE(layout.mode(), QPageLayout::FullPageMode);
    QCOMPARE(layout.margins(), QMarginsF(0, 0, 0, 0));
    QCOMPARE(layout.minimumMargins(), QMarginsF(0, 0, 0, 0));
    QCOMPARE(layout.fullRect(QPageLayout::Millimeter).size(), sizeMillimeters);
    QCOMPARE(layout.pageSize().definitionUnits(), QPageSize::Millimeter);
    QCOMPARE(layout.pageSize().name(), paper);
}

void TestPrinting::printerIsPreparedForColourAndFullPage()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setColorMode(QPrinter::GrayScale);
    printer.setFullPage(false);
    PrintService::preparePrinter(
        printer, settingsFor(QStringLiteral("DIN A3+"), PrintOrientation::Landscape, PrintAlignment::Center));
    QCOMPARE(printer.docName(), QStringLiteral("Lumetra"));
    QVERIFY(printer.fullPage());
    QCOMPARE(printer.colorMode(), QPrinter::Color);
    QCOMPARE(printer.pageLayout().orientation(), QPageLayout::Landscape);
    const QSizeF full = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
    QVERIFY2(qAbs(full.width() - 483) < 0.01 && qAbs(full.height() - 329) < 0.01,
             qPrintable(QStringLiteral("%1 x %2 mm").arg(full.width()).arg(full.height())));
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    const double r = printer.resolution();
    // Qt's PDF engine keeps the sheet in whole points: within half a point of the preset.
    QVERIFY2(qAbs(paper.width() / r - 483 / 25.4) <= 0.5 / 72 &&
                 qAbs(paper.height() / r - 329 / 25.4) <= 0.5 / 72,
             qPrintable(QStringLiteral("%1 x %2 in").arg(paper.width() / r).arg(paper.height() / r)));
}

void TestPrinting::nativeDialogOnlyOnMacAndWindows()
{
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    QVERIFY(PrintService::usesNativeDialog());
#else
    QVERIFY(!PrintService::usesNativeDialog());
#endif
}

void TestPrinting::placement_data()
{
    QTest::addColumn<QString>("paper");
    QTest::addColumn<int>("pixelWidth");
    QTest::addColumn<int>("pixelHeight");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QRectF>("paperRect");
    QTest::addColumn<QRectF>("expected");

    // 2480 x 3508 px at 300 dpi on a 600 dpi device.
    QTest::newRow("A3 centre") << "DIN A3" << 2480 << 3508 << 4 << QRectF(0, 0, 7015.748, 9921.260)
                               << QRectF(1027.874, 1452.630, 4960, 7016);
    QTest::newRow("A4 centre overhangs") << "DIN A4" << 2480 << 3508 << 4 << QRectF(0, 0, 4960.630, 7015.748)
                                         << QRectF(0.315, -0.126, 4960, 7016);
    QTest::newRow("A3 top left offset paper")
        << "DIN A3" << 2480 << 3508 << 0 << QRectF(31.5, 12.25, 7015.748, 9921.260)
        << QRectF(31.5, 12.25, 4960, 7016);
    QTest::newRow("A4 top left larger than paper")
        << "DIN A4" << 6000 << 9000 << 0 << QRectF(-10, -20, 4960.630, 7015.748)
        << QRectF(-10, -20, 12000, 18000);

    // A 4 x 6 inch image (1200 x 1800 px at 300 dpi) on A4 at 600 dpi, every alignment.
    const QRectF a4(0, 0, 210 / 25.4 * 600, 297 / 25.4 * 600);
    const double left = 0, centreX = 1280.315, right = 2560.630;
    const double top = 0, centreY = 1707.874, bottom = 3415.748;
    const struct
    {
        const char* name;
        double x;
        double y;
    } alignments[] = {
        {"TopLeft", left, top},        {"TopCenter", centreX, top},       {"TopRight", right, top},
        {"CenterLeft", left, centreY}, {"Center", centreX, centreY},      {"CenterRight", right, centreY},
        {"BottomLeft", left, bottom},  {"BottomCenter", centreX, bottom}, {"BottomRight", right, bottom}};
    for (int i = 0; i < 9; ++i) {
        QTest::addRow("4x6 %s", alignments[i].name)
            << "DIN A4" << 1200 << 1800 << i << a4 << QRectF(alignments[i].x, alignments[i].y, 2400, 3600);
    }
    QTest::newRow("out of range alignment is centre")
        << "DIN A4" << 1200 << 1800 << 9 << a4 << QRectF(centreX, centreY, 2400, 3600);
}

void TestPrinting::placement()
{
    QFETCH(QString, paper);
    QFETCH(int, pixelWidth);
    QFETCH(int, pixelHeight);
    QFETCH(int, alignment);
    QFETCH(QRectF, paperRect);
    QFETCH(QRectF, expected);

    const PrintableImage image = printable(chart(pixelWidth, pixelHeight, QImage::Format_RGB32), 300);
    const PrintSettings settings =
        settingsFor(paper, PrintOrientation::Portrait, static_cast<PrintAlignment>(alignment));

    RecordingDevice device(600);
    QPainter painter(&device);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    PrintService::drawPage(painter, paperRect, 600, image, settings);
    painter.end();

    const RecordingEngine& engine = device.engine();
    QCOMPARE(engine.m_images.size(), 1);
    QCOMPARE(engine.m_otherCalls, 0);
    const RecordingEngine::ImageCall& call = engine.m_images.first();
    const QRectF& got = call.target;
    const auto near = [](double a, double b) { return qAbs(a - b) < 0.001; };
    QVERIFY2(near(got.x(), expected.x()) && near(got.y(), expected.y()) &&
                 near(got.width(), expected.width()) && near(got.height(), expected.height()),
             qPrintable(QStringLiteral("got (%1, %2, %3 x %4)")
                            .arg(got.x(), 0, 'f', 4)
                            .arg(got.y(), 0, 'f', 4)
                            .arg(got.width(), 0, 'f', 4)
                            .arg(got.height(), 0, 'f', 4)));
    QCOMPARE(call.source, QRectF(0, 0, pixelWidth, pixelHeight));
    QCOMPARE(call.image, image.image);
    QCOMPARE(call.flags, Qt::ImageConversionFlags(Qt::AutoColor));
    QVERIFY(!call.hints.testFlag(QPainter::SmoothPixmapTransform));
    QVERIFY(call.hints.testFlag(QPainter::LosslessImageRendering));
}

void TestPrinting::quarterTurnDrawsTurnedPixels()
{
    // 4 x 6 inches, turned to lie on A4 landscape.
    const QImage pixels = chart(1200, 1800, QImage::Format_RGB32);
    const PrintableImage image = printable(pixels, 300);
    const PrintSettings settings =
        settingsFor(QStringLiteral("DIN A4"), PrintOrientation::Landscape, PrintAlignment::Center, 90);

    RecordingDevice device(600);
    QPainter painter(&device);
    PrintService::drawPage(painter, QRectF(0, 0, 297 / 25.4 * 600, 210 / 25.4 * 600), 600, image, settings);
    painter.end();

    const QList<RecordingEngine::ImageCall>& calls = device.engine().m_images;
    QCOMPARE(calls.size(), 1);
    const QRectF target = calls.first().target;
    QVERIFY2(qAbs(target.x() - 1707.874) < 0.001 && qAbs(target.y() - 1280.315) < 0.001,
             qPrintable(QStringLiteral("%1, %2").arg(target.x()).arg(target.y())));
    QCOMPARE(target.size(), QSizeF(3600, 2400));
    const QImage drawn = calls.first().image;
    QCOMPARE(drawn.size(), QSize(1800, 1200));
    QCOMPARE(calls.first().source, QRectF(0, 0, 1800, 1200));
    // A clockwise quarter turn: the bottom-left source pixel becomes the top-left one.
    QCOMPARE(drawn.pixel(0, 0), pixels.pixel(0, 1799));
    QCOMPARE(drawn.pixel(1799, 0), pixels.pixel(0, 0));
    QCOMPARE(drawn.pixel(1799, 1199), pixels.pixel(1199, 0));
    QCOMPARE(drawn.pixel(17, 5), pixels.pixel(5, 1799 - 17));
}

void TestPrinting::pixelsAreReplicatedNotSmoothed()
{
    // At twice the image's resolution each pixel must become an exact 2 x 2 block.
    const QImage pixels = chart(30, 20, QImage::Format_RGB32);
    const PrintableImage image = printable(pixels, 150);
    QImage sheet(80, 60, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    PrintService::drawPage(
        painter, QRectF(4, 6, 76, 54), 300, image,
        settingsFor(QStringLiteral("DIN A4"), PrintOrientation::Portrait, PrintAlignment::TopLeft));
    painter.end();
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 80; ++x) {
            const bool inside = x >= 4 && x < 64 && y >= 6 && y < 46;
            const QRgb expected = inside ? pixels.pixel((x - 4) / 2, (y - 6) / 2) : qRgb(255, 255, 255);
            if (sheet.pixel(x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(sheet.pixel(x, y), 8, 16)
                                     .arg(expected, 8, 16)));
        }
    }
}

void TestPrinting::nullImageFailsWithoutDialog()
{
    DialogAnswer answer([](QPrintDialog* dialog) { dialog->reject(); });
    PrintableImage image = printable(QImage(), 300);
    image.pixelWidth = 100;
    image.pixelHeight = 100;
    try {
        PrintService().print(
            nullptr, image,
            settingsFor(QStringLiteral("DIN A4"), PrintOrientation::Portrait, PrintAlignment::Center));
        QFAIL("no exception");
    } catch (const PrintException& exception) {
        QCOMPARE(exception.message(), QStringLiteral("No image is loaded."));
    }
    QCoreApplication::processEvents();
    QVERIFY(!answer.seen());
}

void TestPrinting::cancelledDialogReturnsFalse()
{
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));
    const QStringList before = m_cups->spooledDocuments();
    DialogAnswer answer([](QPrintDialog* dialog) { dialog->reject(); });
    const bool printed = PrintService().print(
        nullptr, printable(chart(60, 90, QImage::Format_RGB32), 300),
        settingsFor(QStringLiteral("DIN A4"), PrintOrientation::Portrait, PrintAlignment::Center));
    QVERIFY(answer.seen());
    QVERIFY(!printed);
    QTest::qWait(300);
    QCOMPARE(m_cups->spooledDocuments(), before);
}

void TestPrinting::unopenablePrinterFails()
{
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));
    // The dialog itself refuses an unwritable file, so the printer is pointed at one behind its back.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("missing-folder/target.pdf"));
    DialogAnswer answer([file](QPrintDialog* dialog) {
        dialog->printer()->setOutputFileName(file);
        dialog->done(QDialog::Accepted);
    });
    try {
        PrintService().print(
            nullptr, printable(chart(60, 90, QImage::Format_RGB32), 300),
            settingsFor(QStringLiteral("DIN A4"), PrintOrientation::Portrait, PrintAlignment::Center));
        QFAIL("no exception");
    } catch (const PrintException& exception) {
        QCOMPARE(exception.message(), QStringLiteral("The printer could not be opened."));
    }
    QVERIFY(answer.seen());
    QVERIFY(!QFile::exists(file));
}

void TestPrinting::driverWithoutColourIsAskedForColour()
{
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));
    // The generic PostScript driver does not announce colour, so Qt starts such a printer in grey
    // and offers a Letter page by default.
    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(m_cups->postScriptQueue());
    QCOMPARE(printer.printerName(), m_cups->postScriptQueue());
    QCOMPARE(printer.colorMode(), QPrinter::GrayScale);
    PrintService::preparePrinter(
        printer, settingsFor(QStringLiteral("DIN A3+"), PrintOrientation::Portrait, PrintAlignment::Center));
    QCOMPARE(printer.colorMode(), QPrinter::Color);
    QVERIFY(printer.fullPage());
    const QRectF paper = printer.paperRect(QPrinter::Millimeter);
    QVERIFY2(qAbs(paper.width() - 329) < 0.01 && qAbs(paper.height() - 483) < 0.01,
             qPrintable(QStringLiteral("%1 x %2 mm").arg(paper.width()).arg(paper.height())));
}

void TestPrinting::endToEnd_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("colorModel");
    QTest::addColumn<QString>("pdfColor");
    QTest::addColumn<int>("alignment");

    const QStringList queues = {QStringLiteral("raw"), QStringLiteral("ps")};
    const QStringList papers = {QStringLiteral("DIN A4"), QStringLiteral("DIN A3"), QStringLiteral("DIN A3+"),
                                QStringLiteral("DIN A2")};
    for (const QString& queue : queues) {
        for (const QString& paper : papers) {
            QTest::addRow("%s %s RGB portrait", qPrintable(queue), qPrintable(paper))
                << queue << paper << 0 << 0 << int(QImage::Format_RGB32) << "RGB"
                << "rgb" << int(PrintAlignment::Center);
            QTest::addRow("%s %s RGB landscape turned", qPrintable(queue), qPrintable(paper))
                << queue << paper << 1 << 90 << int(QImage::Format_RGB32) << "RGB"
                << "rgb" << int(PrintAlignment::BottomRight);
        }
        for (int rotation : {0, 90}) {
            const int orientation = rotation == 0 ? 0 : 1;
            QTest::addRow("%s gray rotation %d", qPrintable(queue), rotation)
                << queue << "DIN A4" << orientation << rotation << int(QImage::Format_Grayscale8)
                << "Grayscale"
                << "rgb" << int(PrintAlignment::TopLeft);
            // The TIFF reader hands CMYK files over as opaque ARGB pixels.
            QTest::addRow("%s CMYK source rotation %d", qPrintable(queue), rotation)
                << queue << "DIN A3" << orientation << rotation << int(QImage::Format_ARGB32) << "CMYK"
                << "rgb" << int(PrintAlignment::TopRight);
        }
    }
}

void TestPrinting::endToEnd()
{
    QFETCH(QString, queue);
    QFETCH(QString, paper);
    QFETCH(int, orientation);
    QFETCH(int, rotation);
    QFETCH(int, format);
    QFETCH(QString, colorModel);
    QFETCH(QString, pdfColor);
    QFETCH(int, alignment);
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));

    const QString queueName = queue == QLatin1String("raw") ? m_cups->rawQueue() : m_cups->postScriptQueue();
    QVERIFY(m_cups->setDefaultQueue(queueName));

    const QImage pixels = chart(60, 90, static_cast<QImage::Format>(format));
    const PrintableImage image = printable(pixels, 300, colorModel);
    const PrintSettings settings = settingsFor(paper, static_cast<PrintOrientation>(orientation),
                                               static_cast<PrintAlignment>(alignment), rotation);

    const QStringList before = m_cups->spooledDocuments();
    DialogAnswer answer(pressPrint);
    QVERIFY(PrintService().print(nullptr, image, settings));
    QVERIFY(answer.seen());
    QCOMPARE(answer.printerName(), queueName);

    const QString document = m_cups->waitForNewDocument(before);
    QVERIFY2(!document.isEmpty(), qPrintable(m_cups->errorLogTail()));
    QVERIFY(Testing::isPdf(document));
    QVERIFY(m_cups->jobAttributes(document).contains("Lumetra"));

    QString error;
    const QSizeF page = Testing::pdfPageSizePoints(document, 1, &error);
    QVERIFY2(page.isValid(), qPrintable(error));
    const SizeD expectedMm = settings.paper.sizeMillimeters(settings.orientation);
    // Qt's PDF writer states the page in whole points.
    const QSizeF expectedPoints(qRound(expectedMm.width / 25.4 * 72), qRound(expectedMm.height / 25.4 * 72));
    QVERIFY2(qAbs(page.width() - expectedPoints.width()) < 0.01 &&
                 qAbs(page.height() - expectedPoints.height()) < 0.01,
             qPrintable(QStringLiteral("page %1 x %2 pt, expected %3 x %4 pt")
                            .arg(page.width())
                            .arg(page.height())
                            .arg(expectedPoints.width())
                            .arg(expectedPoints.height())));

    const QImage expected = rotatedImage(pixels, rotation);
    const QList<Testing::PdfImageInfo> list = Testing::listPdfImages(document, &error);
    QVERIFY2(list.size() == 1, qPrintable(QStringLiteral("%1 images %2").arg(list.size()).arg(error)));
    const Testing::PdfImageInfo& info = list.first();
    QCOMPARE(info.type, QStringLiteral("image"));
    QCOMPARE(info.encoding, QStringLiteral("image")); // Flate or uncompressed, never JPEG
    QCOMPARE(QSize(info.width, info.height), expected.size());
    QCOMPARE(info.color, pdfColor);
    QCOMPARE(info.bitsPerComponent, 8);
    QCOMPARE(info.xPpi, 300);
    QCOMPARE(info.yPpi, 300);
    QVERIFY(!info.interpolate);

    const QList<QImage> extracted = Testing::extractPdfImages(document, &error);
    QVERIFY2(extracted.size() == 1, qPrintable(error));
    // Asked for colour, Qt spools grey targets as RGB with three equal channels; exact either way.
    const QImage::Format compareFormat = QImage::Format_RGB32;
    const QImage got = extracted.first().convertToFormat(compareFormat);
    const QImage want = expected.convertToFormat(compareFormat);
    QCOMPARE(got.size(), want.size());
    int differing = 0;
    for (int y = 0; y < want.height(); ++y) {
        for (int x = 0; x < want.width(); ++x) {
            if (got.pixel(x, y) != want.pixel(x, y))
                ++differing;
        }
    }
    QCOMPARE(differing, 0);

    // Where the image lies on the sheet: render the page at 72 dpi (one pixel per point) and find
    // the chart, which has no white pixel, on the white sheet.
    const QImage rendered =
        Testing::renderPdfPage(document, 72, 1, &error).convertToFormat(QImage::Format_RGB32);
    QVERIFY2(!rendered.isNull(), qPrintable(error));
    QCOMPARE(rendered.size(), QSize(qRound(page.width()), qRound(page.height())));
    QRect found;
    for (int y = 0; y < rendered.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rendered.constScanLine(y));
        for (int x = 0; x < rendered.width(); ++x) {
            if (qGray(line[x]) < 250)
                found |= QRect(x, y, 1, 1);
        }
    }
    // Expected in points: a 60 x 90 px chart at 300 dpi is 14.4 x 21.6 points, turned with the sheet.
    const QSizeF size = rotation == 90 ? QSizeF(21.6, 14.4) : QSizeF(14.4, 21.6);
    const double fx = alignment == int(PrintAlignment::TopLeft)  ? 0.0
                      : alignment == int(PrintAlignment::Center) ? 0.5
                                                                 : 1.0;
    const double fy = alignment == int(PrintAlignment::BottomRight) ? 1.0
                      : alignment == int(PrintAlignment::Center)    ? 0.5
                                                                    : 0.0;
    const QPointF centre((page.width() - size.width()) * fx + size.width() / 2,
                         (page.height() - size.height()) * fy + size.height() / 2);
    const QPointF foundCentre((found.left() + found.right() + 1) / 2.0,
                              (found.top() + found.bottom() + 1) / 2.0);
    QVERIFY2(
        qAbs(foundCentre.x() - centre.x()) <= 1.0 && qAbs(foundCentre.y() - centre.y()) <= 1.0 &&
            qAbs(found.width() - size.width()) <= 2.0 && qAbs(found.height() - size.height()) <= 2.0,
        qPrintable(QStringLiteral("chart found at (%1, %2) %3 x %4 pt, expected centre (%5, %6) %7 x %8 pt")
                       .arg(found.x())
                       .arg(found.y())
                       .arg(found.width())
                       .arg(found.height())
                       .arg(centre.x())
                       .arg(centre.y())
                       .arg(size.width())
                       .arg(size.height())));
}

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
