#include "papergeometry.h"
#include "previewwidget.h"

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>
#include <optional>

using namespace Lumetra;

Q_DECLARE_METATYPE(Lumetra::PrintOrientation)
Q_DECLARE_METATYPE(Lumetra::PrintAlignment)

namespace {

const QRgb kBackground = qRgb(245, 247, 250);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kCardFill = qRgb(247, 250, 252);
const QRgb kIcon = qRgb(48, 61, 76);
const QRgb kRed = qRgb(200, 30, 30);
const QRgb kGreen = qRgb(30, 200, 30);
const QRgb kBlue = qRgb(30, 30, 200);
const QRgb kYellow = qRgb(220, 220, 40);

// A4 portrait fitted into 720 x 560: the sheet spans y 48 to 512, so one inch of
// paper is 464 / 11.6929 widget pixels and the sheet's left edge is at 195.96.
const double kA4PortraitLeft = 195.95959595959596;
const double kA4PortraitTop = 48.0;
const double kA4PortraitPerInch = 464.0 / (297.0 / 25.4);

PrintSettings settingsOf(const QString& paperName, PrintOrientation orientation,
                         PrintAlignment alignment = PrintAlignment::Center, int rotation = 0)
{
    PrintSettings settings;
    for (const PaperPreset& preset : paperPresets()) {
        if (preset.name == paperName)
            settings.paper = preset;
    }
    settings.orientation = orientation;
    settings.alignment = alignment;
    settings.rotationDegrees = rotation;
    return settings;
}

PrintSettings a4(PrintOrientation orientation = PrintOrientation::Portrait,
                 PrintAlignment alignment = PrintAlignment::Center, int rotation = 0)
{
    return settingsOf(QStringLiteral("DIN A4"), orientation, alignment, rotation);
}

PrintableImage imageFrom(const QImage& pixels, double dpiX, double dpiY,
                         const QString& path = QStringLiteral("/targets/a.tif"))
{
    PrintableImage image;
    image.filePath = path;
    image.fileName = QFileInfo(path).fileName();
    image.pixelWidth = static_cast<quint32>(pixels.width());
    image.pixelHeight = static_cast<quint32>(pixels.height());
    image.dpiX = dpiX;
    image.dpiY = dpiY;
    image.colorModel = QStringLiteral("RGB");
    image.image = pixels;
    return image;
}

PrintableImage solidImage(int width, int height, double dpiX, double dpiY, QRgb colour = kRed,
                          const QString& path = QStringLiteral("/targets/a.tif"))
{
    QImage pixels(width, height, QImage::Format_ARGB32);
    pixels.fill(colour);
    return imageFrom(pixels, dpiX, dpiY, path);
}

// Four solid quarters: red top left, green top right, blue bottom left, yellow bottom right.
PrintableImage quarteredImage()
{
    QImage pixels(200, 300, QImage::Format_ARGB32);
    for (int y = 0; y < 300; ++y) {
        for (int x = 0; x < 200; ++x) {
            const bool right = x >= 100;
            const bool bottom = y >= 150;
            pixels.setPixel(x, y, bottom ? (right ? kYellow : kBlue) : (right ? kGreen : kRed));
        }
    }
    return imageFrom(pixels, 50.0, 50.0); // 4 x 6 inches
}

QImage shot(PreviewWidget& preview)
{
    return preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool near(QRgb a, QRgb b, int tolerance = 2)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString describe(QRgb c)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// Where the sheet's 1-pixel border line lies along a row (or a column), to a
// fraction of a pixel: the centroid of how far each pixel is pulled from the
// paper/background towards the border colour. NaN when no line is found.
double borderLine(const QImage& image, bool alongRow, int fixed, int from, int to)
{
    const double reference = 251.0; // halfway between background (247) and paper (255) in green
    const double border = 158.0;
    double weight = 0.0;
    double moment = 0.0;
    for (int i = from; i <= to; ++i) {
        const int green = qGreen(alongRow ? image.pixel(i, fixed) : image.pixel(fixed, i));
        if (std::abs(reference - green) <= 6.0)
            continue;
        const double coverage = std::clamp((reference - green) / (reference - border), 0.0, 1.0);
        weight += coverage;
        moment += coverage * (i + 0.5);
    }
    return weight > 0.0 ? moment / weight : std::nan("");
}

void sendWheel(QWidget& widget, QPointF position, QPoint angleDelta, bool* accepted = nullptr)
{
    QWheelEvent wheel(position, widget.mapToGlobal(position), QPoint(), angleDelta, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    wheel.setAccepted(false);
    QApplication::sendEvent(&widget, &wheel);
    if (accepted)
        *accepted = wheel.isAccepted();
}

bool sendMouse(QWidget& widget, QEvent::Type type, QPointF position, Qt::MouseButton button)
{
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, position, widget.mapToGlobal(position), button, buttons, Qt::NoModifier);
    event.setAccepted(false);
    QApplication::sendEvent(&widget, &event);
    return event.isAccepted();
}

bool sendKey(QWidget& widget, int key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
    return event.isAccepted();
}

// Both signals in the order they were emitted.
struct SignalLog
{
    QStringList entries;

    explicit SignalLog(PreviewWidget& preview)
    {
        QObject::connect(&preview, &PreviewWidget::zoomChanged,
                         [this](double percent) { entries << QStringLiteral("zoom %1").arg(percent); });
        QObject::connect(&preview, &PreviewWidget::zoomEnabledChanged, [this](bool enabled) {
            entries << QStringLiteral("enabled %1").arg(enabled ? "true" : "false");
        });
    }
    QStringList take()
    {
        QStringList result = entries;
        entries.clear();
        return result;
    }
};

struct Sheet
{
    double left;
    double top;
    double right;
    double bottom;
};

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void metaObjectMatchesItsClients();
    void nothingButBackgroundBeforeSettings();
    void sheetGeometry_data();
    void sheetGeometry();
    void zoomInRunsUpToExactly32();
    void zoomOutRunsDownToExactly0_2();
    void zoomWithoutImageDoesNothing();
    void signalsInOrder();
    void settingsKeepZoomAndStaySilent();
    void keys_data();
    void keys();
    void wheel_data();
    void wheel();
    void wheelZoomKeepsThePointUnderTheCursor();
    void clampOverridesTheAnchor();
    void dragPansToTheMarginAndNoFurther_data();
    void dragPansToTheMarginAndNoFurther();
    void noPanAtOrBelowFit_data();
    void noPanAtOrBelowFit();
    void pressTakesFocus();
    void placeholderOnlyWithoutImage();
    void clearingTheImageBringsBackTheFittedPlaceholder();
    void imagePlacement_data();
    void imagePlacement();
    void imageLargerThanSheetIsClippedWithFrameOutside_data();
    void imageLargerThanSheetIsClippedWithFrameOutside();
    void quarterTurns_data();
    void quarterTurns();
    void turnedPixelsFollowRotationAndImageChanges();
    void smoothingBelowZoom8Only_data();
    void smoothingBelowZoom8Only();
};

void TestPreview::metaObjectMatchesItsClients()
{
    PreviewWidget preview;
    const QMetaObject* meta = preview.metaObject();
    QCOMPARE(QString::fromLatin1(meta->className()), QStringLiteral("Lumetra::PreviewWidget"));
    const QStringList expected{"zoomChanged(double)", "zoomEnabledChanged(bool)", "zoomIn()", "zoomOut()",
                               "resetZoomToFit()"};
    QCOMPARE(meta->methodCount() - meta->methodOffset(), int(expected.size()));
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(QString::fromLatin1(meta->method(meta->methodOffset() + i).methodSignature()),
                 expected.at(i));
    QCOMPARE(meta->method(meta->methodOffset()).parameterNames().value(0), QByteArray("percent"));
    QCOMPARE(meta->method(meta->methodOffset() + 1).parameterNames().value(0), QByteArray("enabled"));
    QCOMPARE(preview.sizeHint(), QSize(720, 560));
    QCOMPARE(preview.minimumSizeHint(), QSize(360, 360));
    QCOMPARE(preview.focusPolicy(), Qt::StrongFocus);
    QVERIFY(preview.hasMouseTracking());
    QCOMPARE(preview.zoomPercent(), 100.0);
    QVERIFY(!preview.zoomEnabled());
}

void TestPreview::nothingButBackgroundBeforeSettings()
{
    // A 0 x 0 mm paper has no sheet to fit; the widget must neither divide by it nor draw it.
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setImage(solidImage(100, 100, 100, 100));
    preview.zoomIn();
    QImage expected(720, 560, QImage::Format_RGB32);
    expected.fill(kBackground);
    QCOMPARE(shot(preview), expected);
}

void TestPreview::sheetGeometry_data()
{
    QTest::addColumn<QSize>("widgetSize");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<PrintOrientation>("orientation");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("top");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");

    // Fit scale 0.413356: 328.08 x 464 at (195.96, 48).
    QTest::newRow("A4 portrait 720x560")
        << QSize(720, 560) << "DIN A4" << PrintOrientation::Portrait << 195.9596 << 48.0 << 328.0808 << 464.0;
    // Fit scale 0.555892, limited by the width: 624 x 441.21.
    QTest::newRow("A4 landscape 720x560")
        << QSize(720, 560) << "DIN A4" << PrintOrientation::Landscape << 48.0 << 59.3939 << 624.0 << 441.2121;
    QTest::newRow("A3 portrait 1000x400") << QSize(1000, 400) << "DIN A3" << PrintOrientation::Portrait
                                          << 392.5143 << 48.0 << 214.9714 << 304.0;
    QTest::newRow("A3 landscape 900x700")
        << QSize(900, 700) << "DIN A3" << PrintOrientation::Landscape << 48.0 << 65.7286 << 804.0 << 568.5429;
    QTest::newRow("A4 portrait 400x900")
        << QSize(400, 900) << "DIN A4" << PrintOrientation::Portrait << 48.0 << 235.0286 << 304.0 << 429.9429;
}

void TestPreview::sheetGeometry()
{
    QFETCH(QSize, widgetSize);
    QFETCH(QString, paper);
    QFETCH(PrintOrientation, orientation);
    QFETCH(double, left);
    QFETCH(double, top);
    QFETCH(double, width);
    QFETCH(double, height);

    PreviewWidget preview;
    preview.resize(widgetSize);
    preview.setSettings(settingsOf(paper, orientation));
    const QImage image = shot(preview);
    QCOMPARE(image.size(), widgetSize);

    const int midX = int(left + width / 2);
    const int midY = int(top + height / 2);
    // Sample the edges away from the drop-target card, which sits 44 pixels inside.
    const int rowY = int(top + 20);
    const int columnX = int(left + 20);
    const double tolerance = 0.15;
    const double measuredLeft = borderLine(image, true, rowY, int(left) - 4, int(left) + 4);
    const double measuredRight = borderLine(image, true, rowY, int(left + width) - 4, int(left + width) + 4);
    const double measuredTop = borderLine(image, false, columnX, int(top) - 4, int(top) + 4);
    const double measuredBottom =
        borderLine(image, false, columnX, int(top + height) - 4, int(top + height) + 4);
    QVERIFY2(std::abs(measuredLeft - left) < tolerance, qPrintable(QString::number(measuredLeft)));
    QVERIFY2(std::abs(measuredRight - (left + width)) < tolerance,
             qPrintable(QString::number(measuredRight)));
    QVERIFY2(std::abs(measuredTop - top) < tolerance, qPrintable(QString::number(measuredTop)));
    QVERIFY2(std::abs(measuredBottom - (top + height)) < tolerance,
             qPrintable(QString::number(measuredBottom)));

    // Full-strength border colour where the line covers whole pixels is not
    // guaranteed on fractional edges; the top edge at exactly 48 covers two rows by half.
    QCOMPARE(image.pixel(2, 2), kBackground);
    QCOMPARE(image.pixel(midX, int(top) - 3), kBackground);
    QCOMPARE(image.pixel(int(left) + 4, midY), kWhite);
    QCOMPARE(image.pixel(int(left) - 3, midY), kBackground);
}

void TestPreview::zoomInRunsUpToExactly32()
{
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    preview.setImage(solidImage(100, 100, 100, 100));
    QSignalSpy zoom(&preview, &PreviewWidget::zoomChanged);
    for (int step = 1; step <= 19; ++step) {
        preview.zoomIn();
        QCOMPARE(zoom.size(), step);
        QVERIFY(qFuzzyCompare(zoom.last().at(0).toDouble(), 100.0 * std::pow(1.2, step)));
    }
    QVERIFY(std::abs(preview.zoomPercent() - 3194.7999) < 0.001);
    preview.zoomIn();
    QCOMPARE(zoom.size(), 20);
    QCOMPARE(zoom.last().at(0).toDouble(), 3200.0);
    QCOMPARE(preview.zoomPercent(), 3200.0);
    preview.zoomIn();
    QCOMPARE(zoom.size(), 20);
    QCOMPARE(preview.zoomPercent(), 3200.0);
}

void TestPreview::zoomOutRunsDownToExactly0_2()
{
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    preview.setImage(solidImage(100, 100, 100, 100));
    QSignalSpy zoom(&preview, &PreviewWidget::zoomChanged);
    for (int step = 1; step <= 8; ++step) {
        preview.zoomOut();
        QVERIFY(qFuzzyCompare(zoom.last().at(0).toDouble(), 100.0 / std::pow(1.2, step)));
    }
    QVERIFY(std::abs(preview.zoomPercent() - 23.2568) < 0.001);
    preview.zoomOut();
    QCOMPARE(zoom.size(), 9);
    QCOMPARE(zoom.last().at(0).toDouble(), 20.0);
    preview.zoomOut();
    QCOMPARE(zoom.size(), 9);
    QCOMPARE(preview.zoomPercent(), 20.0);
}

void TestPreview::zoomWithoutImageDoesNothing()
{
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    SignalLog log(preview);
    preview.zoomIn();
    preview.zoomOut();
    sendWheel(preview, QPointF(300, 300), QPoint(0, 120));
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(preview.zoomPercent(), 100.0);
    preview.resetZoomToFit();
    QCOMPARE(log.take(), QStringList{"zoom 100"});
}

void TestPreview::signalsInOrder()
{
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    SignalLog log(preview);
    QSignalSpy enabled(&preview, &PreviewWidget::zoomEnabledChanged);

    preview.setImage(solidImage(100, 100, 100, 100, kRed, QStringLiteral("/t/first.tif")));
    QCOMPARE(log.take(), (QStringList{"zoom 100", "enabled true", "zoom 100"}));
    QVERIFY(preview.zoomEnabled());

    preview.zoomIn();
    QCOMPARE(log.take(), QStringList{"zoom 120"});

    // The same file again (the window re-sends it on every settings change) keeps the view.
    preview.setImage(solidImage(100, 100, 100, 100, kRed, QStringLiteral("/t/first.tif")));
    QCOMPARE(log.take(), QStringList{"zoom 120"});
    QCOMPARE(preview.zoomPercent(), 120.0);

    // A path differing only in case is another file.
    preview.setImage(solidImage(100, 100, 100, 100, kRed, QStringLiteral("/t/First.tif")));
    QCOMPARE(log.take(), (QStringList{"zoom 100", "zoom 100"}));
    QCOMPARE(preview.zoomPercent(), 100.0);

    for (int i = 0; i < 25; ++i)
        preview.zoomIn();
    log.take();
    preview.zoomIn();
    QCOMPARE(log.take(), QStringList());

    preview.setImage(std::nullopt);
    QCOMPARE(log.take(), (QStringList{"zoom 100", "enabled false", "zoom 100"}));
    QVERIFY(!preview.zoomEnabled());
    QCOMPARE(enabled.size(), 2);

    preview.setImage(std::nullopt);
    QCOMPARE(log.take(), QStringList{"zoom 100"});
    QCOMPARE(enabled.size(), 2);
}

void TestPreview::settingsKeepZoomAndStaySilent()
{
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    preview.setImage(solidImage(100, 100, 100, 100));
    for (int i = 0; i < 4; ++i)
        preview.zoomIn();
    // Drag the sheet to its lower right limit, then turn it: the pan is re-clamped at once.
    sendMouse(preview, QEvent::MouseButtonPress, QPointF(360, 280), Qt::LeftButton);
    sendMouse(preview, QEvent::MouseMove, QPointF(1360, 1280), Qt::LeftButton);
    sendMouse(preview, QEvent::MouseButtonRelease, QPointF(1360, 1280), Qt::LeftButton);
    SignalLog log(preview);
    preview.setSettings(a4(PrintOrientation::Landscape));
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(preview.zoomPercent(), 100.0 * std::pow(1.2, 4));
    // Portrait allowed a vertical pan of 249.08; landscape at 2.0736 (1293.9 x 914.9)
    // allows 225.45, which puts the top edge 48 pixels from the widget's top.
    const QImage image = shot(preview);
    const double top = borderLine(image, false, 300, 40, 56);
    QVERIFY2(std::abs(top - 48.0) < 0.15, qPrintable(QString::number(top)));
}

void TestPreview::keys_data()
{
    QTest::addColumn<bool>("withImage");
    QTest::addColumn<int>("zoomInsBefore");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("percentAfter");
    QTest::addColumn<int>("emissions");

    QTest::newRow("plus") << true << 0 << int(Qt::Key_Plus) << true << 120.0 << 1;
    QTest::newRow("equal") << true << 0 << int(Qt::Key_Equal) << true << 120.0 << 1;
    QTest::newRow("minus") << true << 0 << int(Qt::Key_Minus) << true << 100.0 / 1.2 << 1;
    QTest::newRow("underscore") << true << 0 << int(Qt::Key_Underscore) << true << 100.0 / 1.2 << 1;
    QTest::newRow("zero") << true << 3 << int(Qt::Key_0) << true << 100.0 << 1;
    QTest::newRow("zero at fit still announces") << true << 0 << int(Qt::Key_0) << true << 100.0 << 1;
    QTest::newRow("plus at the limit") << true << 25 << int(Qt::Key_Plus) << true << 3200.0 << 0;
    QTest::newRow("other key") << true << 0 << int(Qt::Key_A) << false << 100.0 << 0;
    QTest::newRow("one is not zero") << true << 2 << int(Qt::Key_1) << false << 144.0 << 0;
    QTest::newRow("plus without image") << false << 0 << int(Qt::Key_Plus) << false << 100.0 << 0;
    QTest::newRow("zero without image") << false << 0 << int(Qt::Key_0) << false << 100.0 << 0;
}

void TestPreview::keys()
{
    QFETCH(bool, withImage);
    QFETCH(int, zoomInsBefore);
    QFETCH(int, key);
    QFETCH(bool, accepted);
    QFETCH(double, percentAfter);
    QFETCH(int, emissions);

    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    if (withImage)
        preview.setImage(solidImage(100, 100, 100, 100));
    for (int i = 0; i < zoomInsBefore; ++i)
        preview.zoomIn();
    QSignalSpy zoom(&preview, &PreviewWidget::zoomChanged);
    QCOMPARE(sendKey(preview, key), accepted);
    QVERIFY2(qFuzzyCompare(preview.zoomPercent(), percentAfter),
             qPrintable(QString::number(preview.zoomPercent())));
    QCOMPARE(zoom.size(), emissions);
}

void TestPreview::wheel_data()
{
    QTest::addColumn<bool>("withImage");
    QTest::addColumn<QPoint>("angleDelta");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("percentAfter");
    QTest::addColumn<int>("emissions");

    QTest::newRow("one notch in") << true << QPoint(0, 120) << true << 124.08614 << 1;
    QTest::newRow("one notch out") << true << QPoint(0, -120) << true << 80.58918 << 1;
    QTest::newRow("zero vertical delta") << true << QPoint(0, 0) << true << 100.0 << 0;
    QTest::newRow("horizontal only") << true << QPoint(120, 0) << true << 100.0 << 0;
    QTest::newRow("far out clamps") << true << QPoint(0, -5000) << true << 20.0 << 1;
    QTest::newRow("far in clamps") << true << QPoint(0, 5000) << true << 3200.0 << 1;
    QTest::newRow("without image") << false << QPoint(0, 120) << false << 100.0 << 0;
}

void TestPreview::wheel()
{
    QFETCH(bool, withImage);
    QFETCH(QPoint, angleDelta);
    QFETCH(bool, accepted);
    QFETCH(double, percentAfter);
    QFETCH(int, emissions);

    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    if (withImage)
        preview.setImage(solidImage(100, 100, 100, 100));
    QSignalSpy zoom(&preview, &PreviewWidget::zoomChanged);
    bool wasAccepted = !accepted;
    sendWheel(preview, QPointF(359, 279), angleDelta, &wasAccepted);
    QCOMPARE(wasAccepted, accepted);
    QVERIFY2(std::abs(preview.zoomPercent() - percentAfter) < 1e-4,
             qPrintable(QString::number(preview.zoomPercent(), 'f', 6)));
    QCOMPARE(zoom.size(), emissions);
}

void TestPreview::wheelZoomKeepsThePointUnderTheCursor()
{
    // A ramp: red grows with x, green with y, so a pixel's colour says which
    // point of the image is under it, to a fraction of an image pixel.
    QImage ramp(256, 256, QImage::Format_ARGB32);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x)
            ramp.setPixel(x, y, qRgb(x, y, 0));
    }
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    preview.setImage(imageFrom(ramp, 32.0, 32.0)); // 8 x 8 inches
    for (int i = 0; i < 4; ++i)
        preview.zoomIn();

    const QPoint anchor(200, 150);
    const QPoint elsewhere(600, 450);
    const QImage before = shot(preview);
    sendWheel(preview, QPointF(anchor), QPoint(0, 120));
    QVERIFY(std::abs(preview.zoomPercent() - 100.0 * std::pow(1.2, 4) * 1.2408614) < 1e-3);
    const QImage after = shot(preview);

    const QRgb underBefore = before.pixel(anchor);
    const QRgb underAfter = after.pixel(anchor);
    QVERIFY2(near(underBefore, underAfter, 1),
             qPrintable(describe(underBefore) + " " + describe(underAfter)));
    // The rest of the view did move, so the comparison above means something.
    QVERIFY(std::abs(qRed(before.pixel(elsewhere)) - qRed(after.pixel(elsewhere))) > 10);
}

void TestPreview::clampOverridesTheAnchor()
{
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    preview.setImage(solidImage(100, 100, 100, 100)); // one inch, in the middle
    sendWheel(preview, QPointF(100, 100), QPoint(0, 120));
    // Sheet 407.10 x 575.76. Narrower than the available width, so it stays centred
    // horizontally; vertically the anchor moves it to a pan of 43.11 (limit 55.88).
    const QImage image = shot(preview);
    const double left = borderLine(image, true, 100, 150, 162);
    const double top = borderLine(image, false, 200, 29, 41);
    QVERIFY2(std::abs(left - 156.4486) < 0.15, qPrintable(QString::number(left)));
    QVERIFY2(std::abs(top - 35.2343) < 0.15, qPrintable(QString::number(top)));
}

void TestPreview::dragPansToTheMarginAndNoFurther_data()
{
    QTest::addColumn<PrintOrientation>("orientation");
    QTest::newRow("portrait") << PrintOrientation::Portrait;
    QTest::newRow("landscape") << PrintOrientation::Landscape;
}

void TestPreview::dragPansToTheMarginAndNoFurther()
{
    QFETCH(PrintOrientation, orientation);
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4(orientation));
    preview.setImage(solidImage(100, 100, 100, 100));
    for (int i = 0; i < 4; ++i)
        preview.zoomIn(); // 2.0736: the sheet is taller than the widget either way

    QVERIFY(sendMouse(preview, QEvent::MouseButtonPress, QPointF(360, 280), Qt::LeftButton));
    QCOMPARE(preview.cursor().shape(), Qt::ClosedHandCursor);
    QVERIFY(sendMouse(preview, QEvent::MouseMove, QPointF(-640, -720), Qt::LeftButton));
    QImage image = shot(preview);
    // Dragged up and left as far as it goes: a 48-pixel gap at the right and bottom.
    QVERIFY(std::abs(borderLine(image, true, 300, 664, 680) - 672.0) < 0.15);
    QVERIFY(std::abs(borderLine(image, false, 600, 504, 520) - 512.0) < 0.15);

    QVERIFY(sendMouse(preview, QEvent::MouseMove, QPointF(1360, 1280), Qt::LeftButton));
    image = shot(preview);
    QVERIFY(std::abs(borderLine(image, true, 300, 40, 56) - 48.0) < 0.15);
    QVERIFY(std::abs(borderLine(image, false, 300, 40, 56) - 48.0) < 0.15);

    QVERIFY(sendMouse(preview, QEvent::MouseButtonRelease, QPointF(1360, 1280), Qt::LeftButton));
    QCOMPARE(preview.cursor().shape(), Qt::ArrowCursor);
    // After the release, moving the mouse no longer pans.
    QVERIFY(!sendMouse(preview, QEvent::MouseMove, QPointF(0, 0), Qt::NoButton));
    QCOMPARE(shot(preview), image);
}

void TestPreview::noPanAtOrBelowFit_data()
{
    QTest::addColumn<int>("zoomOuts");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("zoomIns");
    QTest::newRow("fit, left button") << 0 << Qt::LeftButton << 0;
    QTest::newRow("below fit, left button") << 1 << Qt::LeftButton << 0;
    QTest::newRow("zoomed in, right button") << 0 << Qt::RightButton << 3;
}

void TestPreview::noPanAtOrBelowFit()
{
    QFETCH(int, zoomOuts);
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, zoomIns);
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    preview.setImage(solidImage(100, 100, 100, 100));
    for (int i = 0; i < zoomOuts; ++i)
        preview.zoomOut();
    for (int i = 0; i < zoomIns; ++i)
        preview.zoomIn();
    const QImage before = shot(preview);
    QVERIFY(!sendMouse(preview, QEvent::MouseButtonPress, QPointF(360, 280), button));
    QCOMPARE(preview.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!sendMouse(preview, QEvent::MouseMove, QPointF(200, 100), button));
    QVERIFY(!sendMouse(preview, QEvent::MouseButtonRelease, QPointF(200, 100), button));
    QCOMPARE(shot(preview), before);
}

void TestPreview::pressTakesFocus()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit;
    auto* preview = new PreviewWidget;
    layout->addWidget(edit);
    layout->addWidget(preview);
    preview->setSettings(a4());
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        QSKIP("the platform does not activate windows, so focus cannot be observed");
    edit->setFocus();
    QVERIFY(edit->hasFocus());
    // Without an image and with the right button: no drag, but the focus moves.
    QTest::mouseClick(preview, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(preview->hasFocus());
    edit->setFocus();
    preview->setImage(solidImage(100, 100, 100, 100));
    QTest::mouseClick(preview, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QVERIFY(preview->hasFocus());
}

void TestPreview::placeholderOnlyWithoutImage()
{
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    QImage image = shot(preview);
    // Card (239.96, 92, 240.08, 376): its fill, the tray's floor at y 314 and the arrow's shaft at x 360.
    QCOMPARE(image.pixel(250, 450), kCardFill);
    QVERIFY2(near(image.pixel(360, 314), kIcon), qPrintable(describe(image.pixel(360, 314))));
    QVERIFY2(near(image.pixel(360, 260), kIcon), qPrintable(describe(image.pixel(360, 260))));
    QVERIFY(near(image.pixel(330, 305), kCardFill));
    // The card's left side is dashed: dark dashes with gaps between them.
    int dark = 0;
    int light = 0;
    for (int y = 110; y < 450; ++y) {
        const int green = qGreen(image.pixel(240, y));
        if (green < 150)
            ++dark;
        else if (green > 240)
            ++light;
    }
    QVERIFY2(dark > 50 && light > 20, qPrintable(QStringLiteral("%1 %2").arg(dark).arg(light)));

    preview.setImage(solidImage(100, 100, 100, 100, kBlue)); // one inch in the middle
    image = shot(preview);
    QCOMPARE(image.pixel(250, 450), kWhite);
    QCOMPARE(image.pixel(360, 280), kBlue);
    QCOMPARE(image.pixel(360, 314), kWhite);
    for (int y = 110; y < 450; ++y)
        QCOMPARE(image.pixel(240, y), kWhite);
}

void TestPreview::clearingTheImageBringsBackTheFittedPlaceholder()
{
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    const QImage empty = shot(preview);
    preview.setImage(solidImage(100, 100, 100, 100));
    preview.zoomIn();
    preview.zoomIn();
    preview.setImage(std::nullopt);
    QCOMPARE(preview.zoomPercent(), 100.0);
    QCOMPARE(shot(preview), empty);
}

void TestPreview::imagePlacement_data()
{
    QTest::addColumn<PrintAlignment>("alignment");
    QTest::addColumn<double>("dpiY");
    QTest::addColumn<QRectF>("inches"); // where the image should land on the sheet

    // 200 x 300 pixels at 50 dpi: 4 x 6 inches on 8.2677 x 11.6929.
    QTest::newRow("top left") << PrintAlignment::TopLeft << 50.0 << QRectF(0, 0, 4, 6);
    QTest::newRow("center") << PrintAlignment::Center << 50.0 << QRectF(2.13386, 2.84646, 4, 6);
    QTest::newRow("bottom right") << PrintAlignment::BottomRight << 50.0 << QRectF(4.26772, 5.69291, 4, 6);
    QTest::newRow("top right") << PrintAlignment::TopRight << 50.0 << QRectF(4.26772, 0, 4, 6);
    QTest::newRow("center left") << PrintAlignment::CenterLeft << 50.0 << QRectF(0, 2.84646, 4, 6);
    QTest::newRow("bottom center") << PrintAlignment::BottomCenter << 50.0 << QRectF(2.13386, 5.69291, 4, 6);
    // At 100 dpi vertically the same pixels measure 4 x 3 inches.
    QTest::newRow("center, unequal dpi") << PrintAlignment::Center << 100.0 << QRectF(2.13386, 4.34646, 4, 3);
    QTest::newRow("out of range is center") << PrintAlignment(11) << 50.0 << QRectF(2.13386, 2.84646, 4, 6);
}

void TestPreview::imagePlacement()
{
    QFETCH(PrintAlignment, alignment);
    QFETCH(double, dpiY);
    QFETCH(QRectF, inches);

    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4(PrintOrientation::Portrait, alignment));
    preview.setImage(solidImage(200, 300, 50.0, dpiY, kRed));
    const QImage image = shot(preview);

    const double left = kA4PortraitLeft + inches.x() * kA4PortraitPerInch;
    const double top = kA4PortraitTop + inches.y() * kA4PortraitPerInch;
    const double right = left + inches.width() * kA4PortraitPerInch;
    const double bottom = top + inches.height() * kA4PortraitPerInch;
    const double midX = (left + right) / 2;
    const double midY = (top + bottom) / 2;
    const auto pixelAt = [&](double x, double y) {
        return image.pixel(int(std::floor(x)), int(std::floor(y)));
    };

    // Inside, 3 pixels from each corner: the image's own colour.
    for (const QPointF& p :
         {QPointF(left + 3, top + 3), QPointF(right - 3, top + 3), QPointF(left + 3, bottom - 3),
          QPointF(right - 3, bottom - 3), QPointF(midX, midY)})
        QVERIFY2(near(pixelAt(p.x(), p.y()), kRed), qPrintable(describe(pixelAt(p.x(), p.y()))));
    // Outside, 3 pixels beyond each edge: paper or background, never image.
    for (const QPointF& p : {QPointF(left - 3, midY), QPointF(right + 3, midY), QPointF(midX, top - 3),
                             QPointF(midX, bottom + 3)}) {
        const QRgb c = pixelAt(p.x(), p.y());
        QVERIFY2(c == kWhite || c == kBackground, qPrintable(describe(c)));
    }
}

void TestPreview::imageLargerThanSheetIsClippedWithFrameOutside_data()
{
    QTest::addColumn<PrintAlignment>("alignment");
    QTest::addColumn<double>("frameLeft");
    QTest::addColumn<double>("frameRight");
    // A3 print size (11.69 x 16.54 in) on A4 portrait: 464.0 x 656.2 widget pixels.
    // Centred it overhangs the sheet by 67.96 on either side; top left, only on the right.
    QTest::newRow("center") << PrintAlignment::Center << 128.0 << 592.0;
    QTest::newRow("top left") << PrintAlignment::TopLeft << 195.96 << 659.96;
    QTest::newRow("center right") << PrintAlignment::CenterRight << 60.04 << 524.04;
}

void TestPreview::imageLargerThanSheetIsClippedWithFrameOutside()
{
    QFETCH(PrintAlignment, alignment);
    QFETCH(double, frameLeft);
    QFETCH(double, frameRight);

    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4(PrintOrientation::Portrait, alignment));
    preview.setImage(solidImage(2970, 4200, 254.0, 254.0, kRed)); // exactly A3
    const QImage image = shot(preview);

    // On the sheet: image; beside the sheet: background, though the image reaches there.
    QVERIFY(near(image.pixel(360, 280), kRed));
    QVERIFY(near(image.pixel(200, 280), kRed));
    QVERIFY(near(image.pixel(520, 280), kRed));
    for (int x = 0; x < 720; ++x) {
        if (x < 194 || x > 526) {
            if (std::abs(x + 0.5 - frameLeft) > 2 && std::abs(x + 0.5 - frameRight) > 2)
                QVERIFY2(image.pixel(x, 280) == kBackground, qPrintable(QString::number(x)));
        }
    }
    // The dashed frame at the image's full extent, where it lies off the sheet.
    int framesOffSheet = 0;
    for (double frameX : {frameLeft, frameRight}) {
        if (frameX > 190 && frameX < 530)
            continue; // on the sheet's own border
        ++framesOffSheet;
        const int column = int(std::floor(frameX));
        int dark = 0;
        int gaps = 0;
        for (int y = 60; y < 500; ++y) {
            const QRgb c = image.pixel(column, y);
            if (qGreen(c) < 200 && qRed(c) < 200)
                ++dark;
            else
                ++gaps;
        }
        QVERIFY2(dark > 50 && gaps > 50,
                 qPrintable(QStringLiteral("x %1: %2 %3").arg(column).arg(dark).arg(gaps)));
    }
    QVERIFY(framesOffSheet > 0);
}

void TestPreview::quarterTurns_data()
{
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QRectF>("inches");
    QTest::addColumn<QRgb>("topLeft");
    QTest::addColumn<QRgb>("topRight");
    QTest::addColumn<QRgb>("bottomLeft");
    QTest::addColumn<QRgb>("bottomRight");

    const QRectF upright(2.13386, 2.84646, 4, 6);
    const QRectF turned(1.13386, 3.84646, 6, 4);
    QTest::newRow("0") << 0 << upright << kRed << kGreen << kBlue << kYellow;
    // A quarter turn clockwise: the left column, read upwards, becomes the top row.
    QTest::newRow("90") << 90 << turned << kBlue << kRed << kYellow << kGreen;
    QTest::newRow("450") << 450 << turned << kBlue << kRed << kYellow << kGreen;
    QTest::newRow("180") << 180 << upright << kYellow << kBlue << kGreen << kRed;
    QTest::newRow("270") << 270 << turned << kGreen << kYellow << kRed << kBlue;
    QTest::newRow("-90") << -90 << turned << kGreen << kYellow << kRed << kBlue;
}

void TestPreview::quarterTurns()
{
    QFETCH(int, rotation);
    QFETCH(QRectF, inches);
    QFETCH(QRgb, topLeft);
    QFETCH(QRgb, topRight);
    QFETCH(QRgb, bottomLeft);
    QFETCH(QRgb, bottomRight);

    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4(PrintOrientation::Portrait, PrintAlignment::Center, rotation));
    preview.setImage(quarteredImage());
    const QImage image = shot(preview);

    const double left = kA4PortraitLeft + inches.x() * kA4PortraitPerInch;
    const double top = kA4PortraitTop + inches.y() * kA4PortraitPerInch;
    const double width = inches.width() * kA4PortraitPerInch;
    const double height = inches.height() * kA4PortraitPerInch;
    const auto at = [&](double fx, double fy) {
        return image.pixel(int(left + width * fx), int(top + height * fy));
    };
    QVERIFY2(near(at(0.25, 0.25), topLeft), qPrintable(describe(at(0.25, 0.25))));
    QVERIFY2(near(at(0.75, 0.25), topRight), qPrintable(describe(at(0.75, 0.25))));
    QVERIFY2(near(at(0.25, 0.75), bottomLeft), qPrintable(describe(at(0.25, 0.75))));
    QVERIFY2(near(at(0.75, 0.75), bottomRight), qPrintable(describe(at(0.75, 0.75))));
    // Filled to the corners, not stretched or letterboxed in the turned rectangle.
    QVERIFY(near(image.pixel(int(left + 3), int(top + 3)), topLeft));
    QVERIFY(near(image.pixel(int(left + width - 3), int(top + height - 3)), bottomRight));
    const QRgb beside = image.pixel(int(left - 3), int(top + height / 2));
    QVERIFY2(beside == kWhite, qPrintable(describe(beside)));
    const QRgb below = image.pixel(int(left + width / 2), int(top + height + 3));
    QVERIFY2(below == kWhite, qPrintable(describe(below)));
}

void TestPreview::turnedPixelsFollowRotationAndImageChanges()
{
    // The turned pixels are kept between paints; each change must still show at once.
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4(PrintOrientation::Portrait, PrintAlignment::Center, 90));
    preview.setImage(quarteredImage());
    const QImage turned = shot(preview);
    QVERIFY(near(turned.pixel(300, 240), kBlue));

    preview.setSettings(a4(PrintOrientation::Portrait, PrintAlignment::Center, 270));
    QVERIFY(near(shot(preview).pixel(300, 240), kGreen));
    preview.setSettings(a4(PrintOrientation::Portrait, PrintAlignment::Center, -270)); // the same as 90
    QCOMPARE(shot(preview), turned);

    // Same file, new pixels (a reload of an edited file): the new pixels show.
    PrintableImage edited = quarteredImage();
    edited.image.fill(kYellow);
    preview.setImage(edited);
    QVERIFY(near(shot(preview).pixel(300, 240), kYellow));

    preview.setImage(quarteredImage());
    QCOMPARE(shot(preview), turned);
}

void TestPreview::smoothingBelowZoom8Only_data()
{
    QTest::addColumn<int>("wheelDelta"); // from fit; 0 stays at fit
    QTest::addColumn<int>("zoomIns");
    QTest::addColumn<bool>("smooth");
    QTest::newRow("fit") << 0 << 0 << true;
    QTest::newRow("7.98") << 1155 << 0 << true;
    QTest::newRow("7.996") << 1156 << 0 << true;
    QTest::newRow("8.01") << 1157 << 0 << false;
    QTest::newRow("32") << 0 << 25 << false;
}

void TestPreview::smoothingBelowZoom8Only()
{
    QFETCH(int, wheelDelta);
    QFETCH(int, zoomIns);
    QFETCH(bool, smooth);

    // 4 x 4 black and white squares, one inch each, centred.
    QImage checker(4, 4, QImage::Format_ARGB32);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            checker.setPixel(x, y, (x + y) % 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    }
    PreviewWidget preview;
    preview.resize(720, 560);
    preview.setSettings(a4());
    preview.setImage(imageFrom(checker, 1.0, 1.0));
    if (wheelDelta != 0)
        sendWheel(preview, QPointF(359, 279), QPoint(0, wheelDelta));
    for (int i = 0; i < zoomIns; ++i)
        preview.zoomIn();
    QCOMPARE(preview.zoomPercent() < 800.0, smooth);

    const QImage image = shot(preview);
    // Look only inside the image, away from its edges and frame.
    const double side = 4.0 * kA4PortraitPerInch * preview.zoomPercent() / 100.0;
    const QRect inside = QRect(QPoint(int(360 - side / 2) + 3, int(280 - side / 2) + 3),
                               QPoint(int(360 + side / 2) - 3, int(280 + side / 2) - 3))
                             .intersected(QRect(0, 0, 720, 560));
    int blended = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (c != qRgb(0, 0, 0) && c != qRgb(255, 255, 255))
                ++blended;
        }
    }
    if (smooth)
        QVERIFY2(blended > 1000, qPrintable(QString::number(blended)));
    else
        QCOMPARE(blended, 0);
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
