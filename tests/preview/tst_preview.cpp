#include "previewwidget.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <optional>
#include <utility>

using namespace Lumetra;

namespace {

const QRgb kBackground = qRgb(245, 247, 250);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kCardFill = qRgb(247, 250, 252);
const QRgb kIcon = qRgb(48, 61, 76);
const QRgb kRed = qRgb(200, 30, 30);
const QRgb kGreen = qRgb(30, 200, 30);
const QRgb kBlue = qRgb(30, 30, 200);
const QRgb kYellow = qRgb(220, 220, 40);

PrintSettings a4(PrintOrientation orientation = PrintOrientation::Portrait,
                 PrintAlignment alignment = PrintAlignment::Center, int rotation = 0)
{
    return {{QStringLiteral("DIN A4"), 210.0, 297.0}, orientation, alignment, rotation};
}

PrintableImage imageFrom(const QImage& pixels, double dpiX, double dpiY,
                         const QString& path = QStringLiteral("/targets/a.tif"))
{
    PrintableImage image;
    image.filePath = path;
    image.pixelWidth = static_cast<quint32>(pixels.width());
    image.pixelHeight = static_cast<quint32>(pixels.height());
    image.dpiX = dpiX;
    image.dpiY = dpiY;
    image.image = pixels;
    return image;
}

// One inch square unless told otherwise.
PrintableImage solidImage(QRgb colour = kRed, const QString& path = QStringLiteral("/targets/a.tif"),
                          QSize pixels = QSize(100, 100), double dpi = 100.0)
{
    QImage image(pixels, QImage::Format_ARGB32);
    image.fill(colour);
    return imageFrom(image, dpi, dpi, path);
}

// 4 x 6 inches at 50 dpi of solid quarters: red top left, green top right, blue bottom left,
// yellow bottom right.
PrintableImage quarteredImage()
{
    QImage pixels(200, 300, QImage::Format_ARGB32);
    for (int i = 0; i < 200 * 300; ++i) {
        const int x = i % 200;
        pixels.setPixel(x, i / 200,
                        i / 200 >= 150 ? (x >= 100 ? kYellow : kBlue) : (x >= 100 ? kGreen : kRed));
    }
    return imageFrom(pixels, 50.0, 50.0);
}

// A 720 x 560 preview of the settings, with an optional image, zoomed in (out if negative) by steps.
struct Preview : PreviewWidget
{
    explicit Preview(const PrintSettings& settings = a4(), std::optional<PrintableImage> image = {},
                     int zoomSteps = 0)
    {
        resize(720, 560);
        setSettings(settings);
        if (image)
            setImage(std::move(image));
        for (; zoomSteps > 0; --zoomSteps)
            zoomIn();
        for (; zoomSteps < 0; ++zoomSteps)
            zoomOut();
    }
    QImage shot() { return grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// Inches on A4 portrait to widget pixels at fit: the sheet spans y 48 to 512 and x from 195.96.
QRectF a4Pixels(const QRectF& inches)
{
    const double perInch = 464.0 / (297.0 / 25.4);
    return {195.95959595959596 + inches.x() * perInch, 48.0 + inches.y() * perInch, inches.width() * perInch,
            inches.height() * perInch};
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

#define VERIFY_NEAR(actual, expected) QVERIFY2(near(actual, expected), qPrintable(describe(actual)))

// How many pixels of the area, clipped to the image, pass the test.
template<typename Test> int countPixels(const QImage& image, const QRect& area, Test test)
{
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    }
    return count;
}

// How many pixels of the area are not (nearly) the colour.
int offColour(const QImage& image, const QRect& area, QRgb colour)
{
    return countPixels(image, area, [colour](QRgb c) { return !near(c, colour); });
}

// Where the sheet's 1-pixel border line lies along a row (or a column) within 4 pixels of
// `expected`, to a fraction of a pixel: the centroid of how far each pixel is pulled from the
// paper/background towards the border colour. NaN when no line is found.
double borderLine(const QImage& image, bool alongRow, int fixed, double expected)
{
    const double reference = 251.0; // halfway between background (247) and paper (255) in green
    const double border = 158.0;
    double weight = 0.0;
    double moment = 0.0;
    for (int i = int(expected) - 4; i <= int(expected) + 4; ++i) {
        const int green = qGreen(alongRow ? image.pixel(i, fixed) : image.pixel(fixed, i));
        if (std::abs(reference - green) <= 6.0)
            continue;
        const double coverage = std::clamp((reference - green) / (reference - border), 0.0, 1.0);
        weight += coverage;
        moment += coverage * (i + 0.5);
    }
    return weight > 0.0 ? moment / weight : std::nan("");
}

#define VERIFY_EDGE(image, alongRow, fixed, expected)                                                        \
    do {                                                                                                     \
        const double found = borderLine(image, alongRow, fixed, expected);                                   \
        QVERIFY2(std::abs(found - (expected)) < 0.15, qPrintable(QString::number(found)));                   \
    } while (false)

// Whether the widget accepted the event.
bool send(QWidget& widget, QEvent&& event)
{
    event.setAccepted(false);
    QApplication::sendEvent(&widget, &event);
    return event.isAccepted();
}

bool sendWheel(QWidget& widget, QPointF position, QPoint angleDelta)
{
    return send(widget, QWheelEvent(position, widget.mapToGlobal(position), QPoint(), angleDelta,
                                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false));
}

bool sendMouse(QWidget& widget, QEvent::Type type, QPointF position, Qt::MouseButton button)
{
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    return send(widget,
                QMouseEvent(type, position, widget.mapToGlobal(position), button, buttons, Qt::NoModifier));
}

// Both signals in the order they were emitted.
struct SignalLog : QStringList
{
    explicit SignalLog(PreviewWidget& preview)
    {
        QObject::connect(&preview, &PreviewWidget::zoomChanged,
                         [this](double percent) { append(QStringLiteral("zoom %1").arg(percent)); });
        QObject::connect(&preview, &PreviewWidget::zoomEnabledChanged, [this](bool on) {
            append(QStringLiteral("enabled %1").arg(on ? "true" : "false"));
        });
    }
    QStringList take() { return std::exchange<QStringList>(*this, {}); }
};

} // namespace

// A key press (key non-zero) or else a wheel event at the widget's centre.
struct InputCase
{
    bool withImage;
    int zoomSteps, key;
    QPoint angleDelta;
    bool accepted;
    double percentAfter;
    int emissions;
};

// Where the quartered image lands on A4 portrait, and its quarters' colours in reading order.
struct PlacementCase
{
    PrintAlignment alignment;
    int rotation;
    QRectF inches;
    QList<QRgb> quarters;
};

Q_DECLARE_METATYPE(Lumetra::PrintSettings)
Q_DECLARE_METATYPE(Lumetra::PrintAlignment)
Q_DECLARE_METATYPE(InputCase)
Q_DECLARE_METATYPE(PlacementCase)

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void nothingButBackgroundBeforeSettings()
    {
        // A 0 x 0 mm paper has no sheet to fit; the widget must neither divide by it nor draw it
        // (an empty sheet would still get a drop-target card, turned inside out).
        Preview preview{PrintSettings()};
        QImage expected(720, 560, QImage::Format_RGB32);
        expected.fill(kBackground);
        QCOMPARE(preview.shot(), expected);
        preview.setImage(solidImage());
        preview.zoomIn();
        QCOMPARE(preview.shot(), expected);
    }

    void sheetGeometry_data()
    {
        QTest::addColumn<QSize>("widgetSize");
        QTest::addColumn<PrintSettings>("settings");
        QTest::addColumn<QRectF>("sheet");
        const PaperPreset a3{QStringLiteral("DIN A3"), 297.0, 420.0};
        // Fit scale 0.413356, limited by the height; in landscape 0.555892, limited by the width.
        QTest::newRow("A4 portrait 720x560")
            << QSize(720, 560) << a4() << QRectF(195.9596, 48.0, 328.0808, 464.0);
        QTest::newRow("A4 landscape 720x560")
            << QSize(720, 560) << a4(PrintOrientation::Landscape) << QRectF(48.0, 59.3939, 624.0, 441.2121);
        QTest::newRow("A3 portrait 1000x400")
            << QSize(1000, 400) << PrintSettings{a3} << QRectF(392.5143, 48.0, 214.9714, 304.0);
    }

    void sheetGeometry()
    {
        QFETCH(QSize, widgetSize);
        QFETCH(PrintSettings, settings);
        QFETCH(QRectF, sheet);
        Preview preview(settings);
        preview.resize(widgetSize);
        const QImage image = preview.shot();
        // Sample the edges away from the drop-target card, which sits 44 pixels inside.
        VERIFY_EDGE(image, true, int(sheet.top() + 20), sheet.left());
        VERIFY_EDGE(image, true, int(sheet.top() + 20), sheet.right());
        VERIFY_EDGE(image, false, int(sheet.left() + 20), sheet.top());
        VERIFY_EDGE(image, false, int(sheet.left() + 20), sheet.bottom());
    }

    void signalsInOrder()
    {
        Preview preview;
        SignalLog log(preview);
        preview.zoomIn();
        preview.zoomOut();
        QCOMPARE(log.take(), QStringList());
        preview.resetZoomToFit(); // announces even without an image
        QCOMPARE(log.take(), QStringList{"zoom 100"});
        QVERIFY(!preview.zoomEnabled());

        preview.setImage(solidImage(kRed, QStringLiteral("/t/first.tif")));
        QCOMPARE(log.take(), (QStringList{"zoom 100", "enabled true", "zoom 100"}));
        QVERIFY(preview.zoomEnabled());
        preview.zoomIn();
        QCOMPARE(log.take(), QStringList{"zoom 120"});
        // The same file again (the window re-sends it on every settings change) keeps the view.
        preview.setImage(solidImage(kRed, QStringLiteral("/t/first.tif")));
        QCOMPARE(log.take(), QStringList{"zoom 120"});
        // A path differing only in case is another file.
        preview.setImage(solidImage(kRed, QStringLiteral("/t/First.tif")));
        QCOMPARE(log.take(), (QStringList{"zoom 100", "zoom 100"}));

        preview.setImage(std::nullopt);
        QCOMPARE(log.take(), (QStringList{"zoom 100", "enabled false", "zoom 100"}));
        QVERIFY(!preview.zoomEnabled());
        preview.setImage(std::nullopt);
        QCOMPARE(log.take(), QStringList{"zoom 100"});
    }

    void keysAndWheel_data()
    {
        QTest::addColumn<InputCase>("input");
        // image?, zoom steps before, key, wheel angle delta, accepted?, percent after, zoomChanged count
        QTest::newRow("plus") << InputCase{true, 0, Qt::Key_Plus, {}, true, 120.0, 1};
        QTest::newRow("equal") << InputCase{true, 0, Qt::Key_Equal, {}, true, 120.0, 1};
        QTest::newRow("minus") << InputCase{true, 0, Qt::Key_Minus, {}, true, 100.0 / 1.2, 1};
        QTest::newRow("underscore") << InputCase{true, 0, Qt::Key_Underscore, {}, true, 100.0 / 1.2, 1};
        QTest::newRow("zero") << InputCase{true, 3, Qt::Key_0, {}, true, 100.0, 1};
        QTest::newRow("zero at fit still announces") << InputCase{true, 0, Qt::Key_0, {}, true, 100.0, 1};
        // 1.2^19 = 31.948, then exactly 32; 1.2^-8 = 0.23257, then exactly 0.2; then no further.
        QTest::newRow("plus reaches 32") << InputCase{true, 19, Qt::Key_Plus, {}, true, 3200.0, 1};
        QTest::newRow("plus at the limit") << InputCase{true, 20, Qt::Key_Plus, {}, true, 3200.0, 0};
        QTest::newRow("minus reaches 0.2") << InputCase{true, -8, Qt::Key_Minus, {}, true, 20.0, 1};
        QTest::newRow("one is not zero") << InputCase{true, 2, Qt::Key_1, {}, false, 144.0, 0};
        QTest::newRow("plus without image") << InputCase{false, 0, Qt::Key_Plus, {}, false, 100.0, 0};
        QTest::newRow("zero without image") << InputCase{false, 0, Qt::Key_0, {}, false, 100.0, 0};
        QTest::newRow("one notch in") << InputCase{true, 0, 0, {0, 120}, true, 124.08614, 1};
        QTest::newRow("one notch out") << InputCase{true, 0, 0, {0, -120}, true, 80.58918, 1};
        QTest::newRow("zero vertical delta") << InputCase{true, 0, 0, {0, 0}, true, 100.0, 0};
        QTest::newRow("horizontal only") << InputCase{true, 0, 0, {120, 0}, true, 100.0, 0};
        QTest::newRow("far out clamps") << InputCase{true, 0, 0, {0, -5000}, true, 20.0, 1};
        QTest::newRow("wheel without image") << InputCase{false, 0, 0, {0, 120}, false, 100.0, 0};
    }

    void keysAndWheel()
    {
        QFETCH(InputCase, input);
        Preview preview(a4(), input.withImage ? std::optional(solidImage()) : std::nullopt, input.zoomSteps);
        QSignalSpy zoom(&preview, &PreviewWidget::zoomChanged);
        const bool accepted = input.key
                                  ? send(preview, QKeyEvent(QEvent::KeyPress, input.key, Qt::NoModifier))
                                  : sendWheel(preview, QPointF(359, 279), input.angleDelta);
        QCOMPARE(accepted, input.accepted);
        QVERIFY2(std::abs(preview.zoomPercent() - input.percentAfter) < 1e-4,
                 qPrintable(QString::number(preview.zoomPercent(), 'f', 6)));
        QCOMPARE(zoom.size(), input.emissions);
    }

    void wheelZoomKeepsThePointUnderTheCursor()
    {
        // A ramp: red grows with x, green with y, so a pixel's colour says which
        // point of the image is under it, to a fraction of an image pixel.
        QImage ramp(256, 256, QImage::Format_ARGB32);
        for (int i = 0; i < 256 * 256; ++i)
            ramp.setPixel(i % 256, i / 256, qRgb(i % 256, i / 256, 0));
        Preview preview(a4(), imageFrom(ramp, 32.0, 32.0), 4); // 8 x 8 inches
        const QPoint anchor(200, 150);
        const QPoint elsewhere(600, 450);
        const QImage before = preview.shot();
        sendWheel(preview, QPointF(anchor), QPoint(0, 120));
        const QImage after = preview.shot();
        QVERIFY2(near(before.pixel(anchor), after.pixel(anchor), 1),
                 qPrintable(describe(before.pixel(anchor)) + " " + describe(after.pixel(anchor))));
        // The rest of the view did move, so the comparison above means something.
        QVERIFY(std::abs(qRed(before.pixel(elsewhere)) - qRed(after.pixel(elsewhere))) > 10);
    }

    void clampOverridesTheAnchor()
    {
        Preview preview(a4(), solidImage());
        sendWheel(preview, QPointF(100, 100), QPoint(0, 120));
        // Sheet 407.10 x 575.76. Narrower than the available width, so it stays centred
        // horizontally; vertically the anchor moves it to a pan of 43.11 (limit 55.88).
        const QImage image = preview.shot();
        VERIFY_EDGE(image, true, 100, 156.4486);
        VERIFY_EDGE(image, false, 200, 35.2343);
    }

    void panning_data()
    {
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<int>("zoomSteps");
        QTest::addColumn<Qt::MouseButton>("button");
        // Zoomed in 4 steps (2.0736) the sheet is taller than the widget either way.
        QTest::newRow("portrait") << false << 4 << Qt::LeftButton;
        QTest::newRow("landscape") << true << 4 << Qt::LeftButton;
        QTest::newRow("fit: no pan") << false << 0 << Qt::LeftButton;
        QTest::newRow("below fit: no pan") << false << -1 << Qt::LeftButton;
        QTest::newRow("right button: no pan") << false << 3 << Qt::RightButton;
    }

    void panning()
    {
        QFETCH(bool, landscape);
        QFETCH(int, zoomSteps);
        QFETCH(Qt::MouseButton, button);
        const auto turned = [](bool l) {
            return a4(l ? PrintOrientation::Landscape : PrintOrientation::Portrait);
        };
        Preview preview(turned(landscape), solidImage(), zoomSteps);
        const QImage before = preview.shot();
        const bool pans = zoomSteps > 0 && button == Qt::LeftButton;
        QCOMPARE(sendMouse(preview, QEvent::MouseButtonPress, QPointF(360, 280), button), pans);
        QCOMPARE(preview.cursor().shape(), pans ? Qt::ClosedHandCursor : Qt::ArrowCursor);
        QCOMPARE(sendMouse(preview, QEvent::MouseMove, QPointF(-640, -720), button), pans);
        if (!pans) {
            QVERIFY(!sendMouse(preview, QEvent::MouseButtonRelease, QPointF(-640, -720), button));
            QCOMPARE(preview.shot(), before);
            return;
        }
        QImage image = preview.shot();
        // Dragged up and left as far as it goes: a 48-pixel gap at the right and bottom.
        VERIFY_EDGE(image, true, 300, 672.0);
        VERIFY_EDGE(image, false, 600, 512.0);
        QVERIFY(sendMouse(preview, QEvent::MouseMove, QPointF(1360, 1280), button));
        image = preview.shot();
        VERIFY_EDGE(image, true, 300, 48.0);
        VERIFY_EDGE(image, false, 300, 48.0);
        QVERIFY(sendMouse(preview, QEvent::MouseButtonRelease, QPointF(1360, 1280), button));
        QCOMPARE(preview.cursor().shape(), Qt::ArrowCursor);
        // After the release, moving the mouse no longer pans.
        QVERIFY(!sendMouse(preview, QEvent::MouseMove, QPointF(0, 0), Qt::NoButton));
        QCOMPARE(preview.shot(), image);

        // Turning the sheet keeps the zoom silently and re-clamps the pan at once: the turned sheet's
        // smaller limit (landscape 225.45 down, portrait 28.15 across) brings that edge back to 48.
        const double zoom = preview.zoomPercent();
        SignalLog log(preview);
        preview.setSettings(turned(!landscape));
        QCOMPARE(log.take(), QStringList());
        QCOMPARE(preview.zoomPercent(), zoom);
        VERIFY_EDGE(preview.shot(), landscape, 300, 48.0);
    }

    void pressTakesFocus()
    {
        Preview preview;
        preview.show();
        preview.activateWindow();
        if (!QTest::qWaitForWindowActive(&preview))
            QSKIP("the platform does not activate windows, so focus cannot be observed");
        preview.clearFocus();
        QVERIFY(!preview.hasFocus());
        // Without an image and with the right button: no drag, but the focus moves.
        QTest::mouseClick(&preview, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
        QVERIFY(preview.hasFocus());
        // And a press that starts a drag takes it too.
        preview.clearFocus();
        preview.setImage(solidImage());
        preview.zoomIn();
        QTest::mouseClick(&preview, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
        QVERIFY(preview.hasFocus());
    }

    void placeholderOnlyWithoutImage()
    {
        Preview preview;
        const QImage empty = preview.shot();
        // Card (239.96, 92, 240.08, 376): its fill, the tray's floor at y 314 and the arrow's shaft at x 360.
        QCOMPARE(empty.pixel(250, 450), kCardFill);
        VERIFY_NEAR(empty.pixel(360, 314), kIcon);
        VERIFY_NEAR(empty.pixel(360, 260), kIcon);
        VERIFY_NEAR(empty.pixel(330, 305), kCardFill);
        // The card's left side is dashed: dark dashes with gaps between them.
        const QRect side(240, 110, 1, 340);
        const int dark = countPixels(empty, side, [](QRgb c) { return qGreen(c) < 150; });
        const int light = countPixels(empty, side, [](QRgb c) { return qGreen(c) > 240; });
        QVERIFY2(dark > 50 && light > 20, qPrintable(QStringLiteral("%1 %2").arg(dark).arg(light)));

        preview.setImage(solidImage(kBlue)); // one inch in the middle
        const QImage image = preview.shot();
        QCOMPARE(image.pixel(360, 280), kBlue);
        QCOMPARE(image.pixel(250, 450), kWhite);
        QCOMPARE(offColour(image, side, kWhite), 0);

        // Clearing a zoomed-in image brings the placeholder back at the fitted view.
        preview.zoomIn();
        preview.zoomIn();
        preview.setImage(std::nullopt);
        QCOMPARE(preview.shot(), empty);
    }

    void imagePlacement_data()
    {
        QTest::addColumn<PlacementCase>("placement");
        using A = PrintAlignment;
        const QList<QRgb> upright{kRed, kGreen, kBlue, kYellow};
        const QRectF turned(1.13386, 3.84646, 6, 4);
        // 4 x 6 inches on 8.2677 x 11.6929.
        QTest::newRow("top left") << PlacementCase{A::TopLeft, 0, {0, 0, 4, 6}, upright};
        QTest::newRow("bottom right") << PlacementCase{A::BottomRight, 0, {4.26772, 5.69291, 4, 6}, upright};
        // A quarter turn clockwise: the left column, read upwards, becomes the top row.
        QTest::newRow("90") << PlacementCase{A::Center, 90, turned, {kBlue, kRed, kYellow, kGreen}};
        QTest::newRow("270") << PlacementCase{A::Center, 270, turned, {kGreen, kYellow, kRed, kBlue}};
    }

    void imagePlacement()
    {
        QFETCH(PlacementCase, placement);
        Preview preview(a4(PrintOrientation::Portrait, placement.alignment, placement.rotation),
                        quarteredImage());
        const QImage image = preview.shot();
        const QRectF r = a4Pixels(placement.inches);
        // Each quarter in its own colour up to 3 pixels from its edges: not stretched or letterboxed...
        for (int i = 0; i < 4; ++i) {
            const QRectF quarter(r.x() + (i % 2) * r.width() / 2, r.y() + (i / 2) * r.height() / 2,
                                 r.width() / 2, r.height() / 2);
            QCOMPARE(offColour(image, quarter.adjusted(3, 3, -3, -3).toRect(), placement.quarters.at(i)), 0);
        }
        // ...and none of the image's colours more than 3 pixels outside the rectangle.
        const auto ofImage = [](QRgb c) {
            return near(c, kRed) || near(c, kGreen) || near(c, kBlue) || near(c, kYellow);
        };
        QCOMPARE(countPixels(image, image.rect(), ofImage),
                 countPixels(image, r.adjusted(-3, -3, 3, 3).toRect(), ofImage));
    }

    void imageLargerThanSheetIsClippedWithFrameOutside_data()
    {
        QTest::addColumn<PrintAlignment>("alignment");
        QTest::addColumn<QList<double>>("framesOffSheet");
        // A3 print size (11.69 x 16.54 in) on A4 portrait: 464.0 x 656.2 widget pixels, covering the
        // whole sheet. Centred it overhangs by 67.96 on either side; top left, only on the right.
        QTest::newRow("center") << PrintAlignment::Center << QList<double>{128.0, 592.0};
        QTest::newRow("top left") << PrintAlignment::TopLeft << QList<double>{659.96};
        QTest::newRow("center right") << PrintAlignment::CenterRight << QList<double>{60.04};
    }

    void imageLargerThanSheetIsClippedWithFrameOutside()
    {
        QFETCH(PrintAlignment, alignment);
        QFETCH(QList<double>, framesOffSheet);
        Preview preview(a4(PrintOrientation::Portrait, alignment),
                        solidImage(kRed, QStringLiteral("/t/a3.tif"), QSize(297, 420), 25.4));
        const QImage image = preview.shot();
        // The sheet shows image throughout; beside it nothing, though the image reaches there.
        const auto red = [](QRgb c) { return near(c, kRed); };
        const QRect sheet = a4Pixels(QRectF(0, 0, 210 / 25.4, 297 / 25.4)).toRect();
        QCOMPARE(offColour(image, sheet.adjusted(2, 2, -2, -2), kRed), 0);
        QCOMPARE(countPixels(image, image.rect(), red), countPixels(image, sheet, red));
        // The dashed frame at the image's full extent, where it lies off the sheet.
        for (double x : framesOffSheet) {
            const int dark = countPixels(image, QRect(int(x), 60, 1, 440),
                                         [](QRgb c) { return qGreen(c) < 200 && qRed(c) < 200; });
            QVERIFY2(dark > 50 && dark < 390, qPrintable(QStringLiteral("x %1: %2").arg(x).arg(dark)));
        }
    }

    void turnedPixelsFollowRotationAndImageChanges()
    {
        // The turned pixels are kept between paints; each change must still show at once.
        const auto turnedBy = [](int degrees) {
            return a4(PrintOrientation::Portrait, PrintAlignment::Center, degrees);
        };
        Preview preview(turnedBy(90), quarteredImage());
        const QImage turned = preview.shot();
        VERIFY_NEAR(turned.pixel(300, 240), kBlue);
        preview.setSettings(turnedBy(270));
        VERIFY_NEAR(preview.shot().pixel(300, 240), kGreen);
        preview.setSettings(turnedBy(-270)); // the same as 90
        QCOMPARE(preview.shot(), turned);

        // Same file, new pixels (a reload of an edited file): the new pixels show.
        PrintableImage edited = quarteredImage();
        edited.image.fill(kYellow);
        preview.setImage(edited);
        VERIFY_NEAR(preview.shot().pixel(300, 240), kYellow);
        preview.setImage(quarteredImage());
        QCOMPARE(preview.shot(), turned);
    }

    void smoothingBelowZoom8Only_data()
    {
        QTest::addColumn<int>("wheelDelta"); // from fit
        QTest::addColumn<bool>("smooth");
        QTest::newRow("7.996") << 1156 << true;
        QTest::newRow("8.01") << 1157 << false;
        QTest::newRow("32") << 5000 << false;
    }

    void smoothingBelowZoom8Only()
    {
        QFETCH(int, wheelDelta);
        QFETCH(bool, smooth);
        // 4 x 4 black and white squares, one inch each, centred; squares meet near the centre.
        QImage checker(4, 4, QImage::Format_ARGB32);
        for (int i = 0; i < 16; ++i)
            checker.setPixel(i % 4, i / 4, (i % 4 + i / 4) % 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        Preview preview(a4(), imageFrom(checker, 1.0, 1.0));
        sendWheel(preview, QPointF(359, 279), QPoint(0, wheelDelta));
        QCOMPARE(preview.zoomPercent() < 800.0, smooth);
        const int blended = countPixels(preview.shot(), QRect(310, 230, 100, 100), [](QRgb c) {
            return c != qRgb(0, 0, 0) && c != qRgb(255, 255, 255);
        });
        if (smooth)
            QVERIFY2(blended > 1000, qPrintable(QString::number(blended)));
        else
            QCOMPARE(blended, 0);
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
