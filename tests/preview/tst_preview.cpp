#include "previewwidget.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>

using namespace Lumetra;
using A = PrintAlignment;
using O = PrintOrientation;

namespace {

const QRgb kBackground = qRgb(245, 247, 250), kCardFill = qRgb(247, 250, 252), kIcon = qRgb(48, 61, 76);
const QRgb kWhite = qRgb(255, 255, 255), kRed = qRgb(200, 30, 30), kGreen = qRgb(30, 200, 30);
const QRgb kBlue = qRgb(30, 30, 200), kYellow = qRgb(220, 220, 40);

PrintSettings a4(O orientation = O::Portrait, A alignment = A::Center, int rotation = 0)
{
    return {{"DIN A4", 210.0, 297.0}, orientation, alignment, rotation};
}

PrintableImage imageFrom(const QImage& pixels, double dpi, const QString& path = QStringLiteral("/t/a.tif"))
{
    PrintableImage image;
    image.filePath = path;
    image.pixelWidth = quint32(pixels.width());
    image.pixelHeight = quint32(pixels.height());
    image.dpiX = image.dpiY = dpi;
    image.image = pixels;
    return image;
}

// One inch square unless told otherwise.
PrintableImage solidImage(QRgb colour = kRed, const QString& path = QStringLiteral("/t/a.tif"),
                          QSize pixels = QSize(100, 100), double dpi = 100.0)
{
    QImage image(pixels, QImage::Format_ARGB32);
    image.fill(colour);
    return imageFrom(image, dpi, path);
}

// 4 x 6 inches of solid quarters: red top left, green top right, blue bottom left, yellow bottom right.
PrintableImage quarteredImage()
{
    QImage pixels(2, 2, QImage::Format_ARGB32);
    for (int i = 0; i < 4; ++i)
        pixels.setPixel(i % 2, i / 2, QList<QRgb>{kRed, kGreen, kBlue, kYellow}.at(i));
    return imageFrom(pixels.scaled(200, 300), 50.0);
}

// A 720 x 560 preview of the settings, with an optional image, zoomed in (out if negative) by steps.
struct Preview : PreviewWidget
{
    explicit Preview(const PrintSettings& settings = a4(), std::optional<PrintableImage> image = {},
                     int zoomSteps = 0)
    {
        resize(720, 560);
        setSettings(settings);
        setImage(std::move(image));
        for (int i = 0; i < std::abs(zoomSteps); ++i)
            zoomSteps > 0 ? zoomIn() : zoomOut();
    }
    QImage shot() { return grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// Inches on A4 portrait to widget pixels at fit: the sheet spans y 48 to 512 and x from 195.96.
QRectF a4Pixels(const QRectF& inches)
{
    const double perInch = 464.0 / (297.0 / 25.4);
    return QTransform(perInch, 0, 0, perInch, 195.95959595959596, 48.0).mapRect(inches);
}

bool near(QRgb a, QRgb b, int tolerance = 2)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// How many pixels of the area, clipped to the image, pass the test.
template<typename Test> int countPixels(const QImage& image, const QRect& area, Test test)
{
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int i = 0; i < clipped.width() * clipped.height(); ++i)
        count += test(image.pixel(clipped.x() + i % clipped.width(), clipped.y() + i / clipped.width()));
    return count;
}

int offColour(const QImage& image, const QRect& area, QRgb colour)
{
    return countPixels(image, area, [colour](QRgb c) { return !near(c, colour); });
}

bool ofQuarters(QRgb c)
{
    return near(c, kRed) || near(c, kGreen) || near(c, kBlue) || near(c, kYellow);
}

// Whether a one-pixel line shows dashes: dark runs with light gaps between them.
bool dashed(const QImage& image, const QRect& line)
{
    return countPixels(image, line, [](QRgb c) { return qGreen(c) < 200; }) > 50 &&
           countPixels(image, line, [](QRgb c) { return qGreen(c) > 240; }) > 20;
}

// The sheet border lines of the orientation that miss the given points on them by 0.15 pixels or more; empty
// when none does. A line is found to a fraction of a pixel, across it within 4 pixels of the point, as the
// centroid of how far each pixel is pulled from paper or background (green 251 halfway) to the border (158).
QString borderMisses(const QImage& image, Qt::Orientation lines, const QList<QPointF>& points)
{
    QString misplaced;
    for (const QPointF& p : points) {
        const bool vertical = lines == Qt::Vertical;
        const double expected = vertical ? p.x() : p.y();
        double weight = 0.0, moment = 0.0;
        for (int i = int(expected) - 4; i <= int(expected) + 4; ++i) {
            const int green = qGreen(vertical ? image.pixel(i, int(p.y())) : image.pixel(int(p.x()), i));
            const double pull =
                std::abs(251 - green) <= 6 ? 0.0 : std::clamp((251.0 - green) / 93.0, 0.0, 1.0);
            weight += pull;
            moment += pull * (i + 0.5);
        }
        const double found = weight > 0.0 ? moment / weight : -1.0;
        if (std::abs(found - expected) >= 0.15)
            misplaced += QStringLiteral("(%1, %2) found at %3; ").arg(p.x()).arg(p.y()).arg(found);
    }
    return misplaced;
}

// Whether the widget accepted the event.
bool send(QWidget& widget, QEvent&& event)
{
    event.setAccepted(false);
    QCoreApplication::sendEvent(&widget, &event);
    return event.isAccepted();
}

bool sendWheel(QWidget& widget, QPointF at, QPoint angleDelta)
{
    return send(widget, QWheelEvent(at, widget.mapToGlobal(at), QPoint(), angleDelta, Qt::NoButton,
                                    Qt::NoModifier, Qt::NoScrollPhase, false));
}

bool sendMouse(QWidget& widget, QEvent::Type type, QPointF at, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    return send(widget, QMouseEvent(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier));
}

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
Q_DECLARE_METATYPE(InputCase)
Q_DECLARE_METATYPE(PlacementCase)

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void nothingButBackgroundBeforeSettings()
    {
        // A 0 x 0 mm paper has no sheet to fit: nothing may divide by it or draw it, not even the drop card.
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
        // Fit scale 0.413356, limited by the height; in landscape 0.555892, limited by the width.
        QTest::newRow("A4 portrait 720x560")
            << QSize(720, 560) << a4() << QRectF(195.9596, 48.0, 328.0808, 464.0);
        QTest::newRow("A4 landscape 720x560")
            << QSize(720, 560) << a4(O::Landscape) << QRectF(48.0, 59.3939, 624.0, 441.2121);
    }

    void sheetGeometry()
    {
        QFETCH(QSize, widgetSize);
        QFETCH(PrintSettings, settings);
        QFETCH(QRectF, sheet);
        Preview preview(settings);
        preview.resize(widgetSize);
        const QImage image = preview.shot();
        // Measured 20 pixels in from a corner, clear of the drop card 44 pixels inside.
        const double x = sheet.left() + 20, y = sheet.top() + 20;
        QCOMPARE(borderMisses(image, Qt::Vertical, {{sheet.left(), y}, {sheet.right(), y}}), "");
        QCOMPARE(borderMisses(image, Qt::Horizontal, {{x, sheet.top()}, {x, sheet.bottom()}}), "");
    }

    void signalsInOrder()
    {
        Preview preview;
        QStringList log; // both signals in the order they were emitted
        connect(&preview, &PreviewWidget::zoomChanged,
                [&](double percent) { log << QString::number(percent); });
        connect(&preview, &PreviewWidget::zoomEnabledChanged, [&](bool on) { log << (on ? "on" : "off"); });
        const auto take = [&log] { return std::exchange(log, {}); };
        preview.zoomIn();
        QCOMPARE(take(), QStringList());
        preview.resetZoomToFit(); // announces even without an image
        QCOMPARE(take(), QStringList{"100"});
        preview.setImage(solidImage());
        QCOMPARE(take(), (QStringList{"100", "on", "100"}));
        preview.zoomIn();
        QCOMPARE(take(), QStringList{"120"});
        // The same file again (the window re-sends it on every settings change) keeps the view...
        preview.setImage(solidImage());
        QCOMPARE(take(), QStringList{"120"});
        // ...but a path differing only in case is another file.
        preview.setImage(solidImage(kRed, QStringLiteral("/t/A.tif")));
        QCOMPARE(take(), (QStringList{"100", "100"}));
        preview.setImage(std::nullopt);
        QCOMPARE(take(), (QStringList{"100", "off", "100"}));
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
        // 1.2^19 = 31.948, then exactly 32; 1.2^-8 = 0.23257, then exactly 0.2.
        QTest::newRow("plus reaches 32") << InputCase{true, 19, Qt::Key_Plus, {}, true, 3200.0, 1};
        QTest::newRow("plus at the limit") << InputCase{true, 20, Qt::Key_Plus, {}, true, 3200.0, 0};
        QTest::newRow("minus reaches 0.2") << InputCase{true, -8, Qt::Key_Minus, {}, true, 20.0, 1};
        QTest::newRow("one is not zero") << InputCase{true, 2, Qt::Key_1, {}, false, 144.0, 0};
        QTest::newRow("zero without image") << InputCase{false, 0, Qt::Key_0, {}, false, 100.0, 0};
        QTest::newRow("one notch in") << InputCase{true, 0, 0, {0, 120}, true, 124.08614, 1};
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
        QCOMPARE(qRound64(preview.zoomPercent() * 1e4), qRound64(input.percentAfter * 1e4));
        QCOMPARE(zoom.size(), input.emissions);
    }

    void anchoredZoomKeepsThePointUnderTheCursorWhereTheClampAllows()
    {
        // A ramp (red grows with x, green with y) tells which point of the image is under a pixel.
        QImage ramp(256, 256, QImage::Format_ARGB32);
        for (int i = 0; i < 256 * 256; ++i)
            ramp.setPixel(i % 256, i / 256, qRgb(i % 256, i / 256, 0));
        Preview preview(a4(), imageFrom(ramp, 32.0), 4); // 8 x 8 inches
        const QImage before = preview.shot();
        sendWheel(preview, QPointF(200, 150), QPoint(0, 120));
        const QImage after = preview.shot();
        QVERIFY(near(before.pixel(200, 150), after.pixel(200, 150), 1));
        // Elsewhere the view did move, so the comparison above means something.
        QVERIFY(std::abs(qRed(before.pixel(600, 450)) - qRed(after.pixel(600, 450))) > 10);

        // From fit, one notch makes a 407.10 x 575.76 sheet, narrower than the available width, so the clamp
        // keeps it centred across; vertically the anchor moves it to a pan of 43.11 (limit 55.88).
        preview.resetZoomToFit();
        sendWheel(preview, QPointF(100, 100), QPoint(0, 120));
        const QImage image = preview.shot();
        QCOMPARE(borderMisses(image, Qt::Vertical, {{156.4486, 100}}), "");
        QCOMPARE(borderMisses(image, Qt::Horizontal, {{200, 35.2343}}), "");
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
        QTest::newRow("right button: no pan") << false << 3 << Qt::RightButton;
    }

    void panning()
    {
        QFETCH(bool, landscape);
        QFETCH(int, zoomSteps);
        QFETCH(Qt::MouseButton, button);
        Preview preview(a4(landscape ? O::Landscape : O::Portrait), solidImage(), zoomSteps);
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
        // Dragged up and left as far as it goes: a 48-pixel gap at the right and bottom.
        QImage image = preview.shot();
        QCOMPARE(borderMisses(image, Qt::Vertical, {{672, 300}}), "");
        QCOMPARE(borderMisses(image, Qt::Horizontal, {{600, 512}}), "");
        QVERIFY(sendMouse(preview, QEvent::MouseMove, QPointF(1360, 1280), button));
        QVERIFY(sendMouse(preview, QEvent::MouseButtonRelease, QPointF(1360, 1280), button));
        QCOMPARE(preview.cursor().shape(), Qt::ArrowCursor);
        // After the release, moving the mouse no longer pans.
        image = preview.shot();
        QVERIFY(!sendMouse(preview, QEvent::MouseMove, QPointF(0, 0), Qt::NoButton));
        QCOMPARE(preview.shot(), image);

        // Dragged fully down and right, then turned: the zoom stays, silently, and the turned sheet's smaller
        // limit (portrait 28.15 across, landscape 225.45 down) brings its left or top edge to 48 at once.
        QSignalSpy zoom(&preview, &PreviewWidget::zoomChanged);
        preview.setSettings(a4(landscape ? O::Portrait : O::Landscape));
        QCOMPARE(zoom.size(), 0);
        QCOMPARE(preview.shot().pixel(landscape ? QPoint(50, 300) : QPoint(300, 50)), kWhite);
    }

    void pressTakesFocus()
    {
        Preview preview;
        preview.show();
        if (!QTest::qWaitForWindowActive(&preview))
            QSKIP("the platform does not activate windows, so focus cannot be observed");
        preview.clearFocus();
        QVERIFY(!preview.hasFocus());
        // Even a right-button press without an image, which starts no drag.
        QTest::mouseClick(&preview, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
        QVERIFY(preview.hasFocus());
    }

    void placeholderOnlyWithoutImage()
    {
        Preview preview;
        const QImage empty = preview.shot();
        // Card (239.96, 92, 240.08, 376): its fill, the tray's floor at y 314, the arrow's shaft at x 360
        // and the card's fill inside the tray.
        QCOMPARE(empty.pixel(250, 450), kCardFill);
        QCOMPARE(empty.pixel(360, 314), kIcon);
        QCOMPARE(empty.pixel(360, 260), kIcon);
        QCOMPARE(empty.pixel(330, 305), kCardFill);
        // The card's left side is dashed: dark dashes with gaps between them.
        const QRect side(240, 110, 1, 340);
        QVERIFY(dashed(empty, side));

        preview.setImage(solidImage(kBlue)); // one inch in the middle
        const QImage image = preview.shot();
        QCOMPARE(image.pixel(360, 280), kBlue);
        QCOMPARE(offColour(image, side, kWhite), 0);
        // Clearing a zoomed-in image brings the placeholder back at the fitted view.
        preview.zoomIn();
        preview.setImage(std::nullopt);
        QCOMPARE(preview.shot(), empty);
    }

    void imagePlacement_data()
    {
        QTest::addColumn<PlacementCase>("placement");
        // 4 x 6 inches on 8.2677 x 11.6929. A quarter turn clockwise makes the left column, read upwards,
        // the top row.
        QTest::newRow("bottom right")
            << PlacementCase{A::BottomRight, 0, {4.26772, 5.69291, 4, 6}, {kRed, kGreen, kBlue, kYellow}};
        QTest::newRow("90") << PlacementCase{
            A::Center, 90, {1.13386, 3.84646, 6, 4}, {kBlue, kRed, kYellow, kGreen}};
    }

    void imagePlacement()
    {
        QFETCH(PlacementCase, placement);
        Preview preview(a4(O::Portrait, placement.alignment, placement.rotation), quarteredImage());
        const QImage image = preview.shot();
        const QRectF r = a4Pixels(placement.inches);
        // Each quarter in its own colour up to 3 pixels from its edges: not stretched or letterboxed...
        for (int i = 0; i < 4; ++i) {
            const QRectF quarter(r.topLeft() + QPointF(i % 2 * r.width(), i / 2 * r.height()) / 2,
                                 r.size() / 2);
            QCOMPARE(offColour(image, quarter.adjusted(3, 3, -3, -3).toRect(), placement.quarters.at(i)), 0);
        }
        // ...and none of the image's colours more than 3 pixels outside the rectangle.
        QCOMPARE(countPixels(image, image.rect(), ofQuarters),
                 countPixels(image, r.adjusted(-3, -3, 3, 3).toRect(), ofQuarters));
    }

    void imageLargerThanSheetIsClippedWithFrameOutside()
    {
        // A3 print size (11.69 x 16.54 in) centred on A4 portrait: 464.0 x 656.2 widget pixels, covering the
        // whole sheet and overhanging it by 67.96 on either side.
        Preview preview(a4(), solidImage(kRed, QStringLiteral("/t/a3.tif"), QSize(297, 420), 25.4));
        const QImage image = preview.shot();
        // The sheet shows image throughout; beside it nothing, though the image reaches there.
        const auto red = [](QRgb c) { return near(c, kRed); };
        const QRect sheet = a4Pixels(QRectF(0, 0, 210 / 25.4, 297 / 25.4)).toRect();
        QCOMPARE(offColour(image, sheet.adjusted(2, 2, -2, -2), kRed), 0);
        QCOMPARE(countPixels(image, image.rect(), red), countPixels(image, sheet, red));
        // The dashed frame at the image's full extent, where it lies off the sheet.
        QVERIFY(dashed(image, QRect(128, 60, 1, 440)));
        QVERIFY(dashed(image, QRect(592, 60, 1, 440)));
    }

    void turnedPixelsFollowRotationAndImageChanges()
    {
        // The turned pixels are kept between paints; each change must still show at once.
        Preview preview(a4(O::Portrait, A::Center, 90), quarteredImage());
        QCOMPARE(preview.shot().pixel(300, 240), kBlue);
        preview.setSettings(a4(O::Portrait, A::Center, 270));
        QCOMPARE(preview.shot().pixel(300, 240), kGreen);
        // Same file, new pixels (a reload of an edited file): the new pixels show.
        PrintableImage edited = quarteredImage();
        edited.image.fill(kYellow);
        preview.setImage(edited);
        QCOMPARE(preview.shot().pixel(300, 240), kYellow);
    }

    void printableAreaOutline()
    {
        // 10, 20, 30 and 40 mm the printer cannot print at the left, top, right and bottom edges of A4.
        Preview preview;
        const auto accent = [](QRgb c) { return qBlue(c) - qRed(c) > 60; };
        QCOMPARE(countPixels(preview.shot(), preview.rect(), accent), 0);
        preview.setUnprintableMargins(QMarginsF(10, 20, 30, 40));
        const QImage shot = preview.shot();
        const QRect printable = a4Pixels(QRectF(10 / 25.4, 20 / 25.4, 170 / 25.4, 237 / 25.4)).toRect();
        // Each side of the outline lies on the printable area's edge, and nothing else is drawn in it.
        for (const QRect& side :
             {QRect(printable.left() + 4, printable.top() - 1, printable.width() - 8, 3),
              QRect(printable.left() + 4, printable.bottom() - 1, printable.width() - 8, 3),
              QRect(printable.left() - 1, printable.top() + 4, 3, printable.height() - 8),
              QRect(printable.right() - 1, printable.top() + 4, 3, printable.height() - 8)}) {
            const int length = qMax(side.width(), side.height());
            QVERIFY2(countPixels(shot, side, accent) >= length, qPrintable(QDebug::toString(side)));
        }
        QCOMPARE(countPixels(shot, printable.adjusted(3, 3, -3, -3), accent), 0);
        preview.setUnprintableMargins(QMarginsF());
        QCOMPARE(countPixels(preview.shot(), preview.rect(), accent), 0);
    }

    void smoothingBelowZoom8Only()
    {
        // Wheel deltas from fit to 7.996 and to 8.01. Where the quarters meet, smoothing blends their
        // colours.
        for (const int delta : {1156, 1157}) {
            Preview preview(a4(), quarteredImage());
            sendWheel(preview, QPointF(359, 279), QPoint(0, delta));
            const bool smooth = preview.zoomPercent() < 800.0;
            QCOMPARE(smooth, delta == 1156);
            const int blended =
                countPixels(preview.shot(), QRect(310, 230, 100, 100), std::not_fn(ofQuarters));
            QVERIFY2(smooth ? blended > 300 : blended == 0,
                     qPrintable(QStringLiteral("%1: %2").arg(delta).arg(blended)));
        }
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
