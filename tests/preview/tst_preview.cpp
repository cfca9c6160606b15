#include "previewpainting.h"
#include "previewwidget.h"

#include <QtTest>

using namespace Lumetra;
using O = PrintOrientation;

namespace {

const QRgb kRed = qRgb(200, 30, 30), kGreen = qRgb(30, 200, 30), kBlue = qRgb(30, 30, 200);
const QRgb kYellow = qRgb(220, 220, 40), kWhite = qRgb(255, 255, 255), kBackground = qRgb(245, 247, 250);
const auto ofQuarters = [](QRgb c) { return c == kRed || c == kGreen || c == kBlue || c == kYellow; };

PrintSettings a4(PrintAlignment alignment = PrintAlignment::Center, int rotation = 0)
{
    return {{"DIN A4", 210.0, 297.0}, O::Portrait, alignment, rotation};
}

// Solid quarters, red and green over blue and yellow: 4 x 6 inches at 50 dpi.
PrintableImage quartered(double dpi = 50)
{
    const QRgb c[] = {kRed, kGreen, kBlue, kYellow};
    const QImage pixels =
        QImage(reinterpret_cast<const uchar*>(c), 2, 2, QImage::Format_RGB32).scaled(200, 300);
    return {"/t/a.tif", {}, 200, 300, dpi, dpi, {}, false, {}, false, 0, pixels};
}

struct Preview : PreviewWidget
{
    explicit Preview(const PrintSettings& settings = a4(), std::optional<PrintableImage> image = {})
    {
        resize(720, 560);
        setSettings(settings);
        setImage(std::move(image));
    }
    QImage shot() { return grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// Inches on A4 portrait to widget pixels at fit, where the sheet spans y 48 to 512.
QRectF a4Pixels(const QRectF& inches)
{
    const double perInch = 464 / (297 / 25.4);
    return QTransform(perInch, 0, 0, perInch, 360 - 105 / 25.4 * perInch, 48).mapRect(inches);
}

template<typename Test> int count(const QImage& image, const QRect& area, Test test)
{
    int n = 0;
    for (int i = 0; i < area.width() * area.height(); ++i)
        n += test(image.pixel(area.x() + i % area.width(), area.y() + i / area.width()));
    return n;
}

void wheel(QWidget& widget, QPointF at, int delta)
{
    QWheelEvent event(at, widget.mapToGlobal(at), {}, {0, delta}, {}, {}, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&widget, &event);
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void sheetGeometry()
    {
        // Fitted into 720 x 560 less 48 pixels each side: by the height in portrait, the width in landscape.
        const auto sheet = [](O o) { return previewSheetRect({720, 560}, a4().paper.sizeInches(o), 1, {}); };
        QCOMPARE(sheet(O::Portrait), QRectF(360 - 232 * 210 / 297.0, 48, 464 * 210 / 297.0, 464));
        QCOMPARE(sheet(O::Landscape), QRectF(48, 280 - 312 * 210 / 297.0, 624, 624 * 210 / 297.0));
    }

    void zoomAndPan()
    {
        Preview preview(a4(), quartered());
        const auto keys = [&](QString k) { return QTest::keyClicks(&preview, k), preview.zoomPercent(); };
        QCOMPARE(keys("---------"), 20.0);
        QCOMPARE(keys(QString(30, u'+')), 3200.0);
        QCOMPARE(keys("0++++"), 207.36);
        // The wheel zooms about the cursor: the image's left edge, 54.6 pixels left of it, moves to 182.2.
        wheel(preview, {250, 150}, 120);
        QVERIFY(preview.shot().pixel(190, 150) == kRed && preview.shot().pixel(176, 150) == kWhite);
        // Dragged far up and left the sheet stops 48 pixels short of the right and bottom; released, stays.
        QTest::mousePress(&preview, Qt::LeftButton, {}, {360, 280});
        QTest::mouseMove(&preview, {-640, -720});
        QTest::mouseRelease(&preview, Qt::LeftButton, {}, {-640, -720});
        QMouseEvent move(QEvent::MouseMove, {700, 540}, {700, 540}, Qt::NoButton, {}, {});
        QCoreApplication::sendEvent(&preview, &move);
        const QImage shot = preview.shot();
        QVERIFY(shot.pixel(670, 300) == kWhite && shot.pixel(673, 300) == kBackground);
        QVERIFY(shot.pixel(300, 510) == kWhite && shot.pixel(300, 513) == kBackground);
    }

    void imagePlacement()
    {
        const double w = 210 / 25.4, h = 297 / 25.4;
        Preview preview(a4(PrintAlignment::BottomRight), quartered());
        // The corners 3 pixels inside in the colours of the quarters, 3 pixels outside none of them.
        const auto corners = [&](const QRectF& inches, const QList<QRgb>& quarters) {
            const QImage shot = preview.shot();
            const QRectF r = a4Pixels(inches) & a4Pixels({0, 0, w, h});
            for (int i = 0; i < 4; ++i) {
                const QPointF corner(i % 2 ? r.right() : r.left(), i / 2 ? r.bottom() : r.top());
                const QPointF inward(i % 2 ? -3 : 3, i / 2 ? -3 : 3);
                QCOMPARE(shot.pixel((corner + inward).toPoint()), quarters[i]);
                QVERIFY(!ofQuarters(shot.pixel((corner - inward).toPoint())));
            }
        };
        corners({w - 4, h - 6, 4, 6}, {kRed, kGreen, kBlue, kYellow});
        // Turned clockwise, the left column read upwards is the top row.
        preview.setSettings(a4(PrintAlignment::Center, 90));
        corners({(w - 6) / 2, (h - 4) / 2, 6, 4}, {kBlue, kRed, kYellow, kGreen});
        PrintableImage large = quartered(10); // 30 x 20 inches once turned
        large.image.fill(kYellow);            // new pixels of the same file
        preview.setImage(large);
        corners({(w - 30) / 2, (h - 20) / 2, 30, 20}, QList<QRgb>(4, kYellow)); // clipped to the sheet
    }

    void smoothingBelow800Percent()
    {
        // Wheel deltas from fit to 799.6 % and 801 %: below, smoothing blends the quarters where they meet.
        for (const int delta : {1156, 1157}) {
            Preview preview(a4(), quartered());
            wheel(preview, {359, 279}, delta);
            QCOMPARE(count(preview.shot(), {310, 230, 100, 100}, ofQuarters) < 9700, delta == 1156);
        }
    }

    void printableAreaOutline()
    {
        // 10, 20, 30 and 40 mm unprintable at the left, top, right and bottom: the outline lies within 2
        // pixels of the printable area's edge, nowhere else, and as long as that edge.
        Preview preview;
        preview.setUnprintableMargins({10, 20, 30, 40});
        const QImage shot = preview.shot();
        const QRect in = a4Pixels({10 / 25.4, 20 / 25.4, 170 / 25.4, 237 / 25.4}).toRect();
        const auto blue = [](QRgb c) { return qBlue(c) - qRed(c) > 60; };
        const int ring =
            count(shot, in.adjusted(-2, -2, 2, 2), blue) - count(shot, in.adjusted(2, 2, -2, -2), blue);
        QVERIFY(ring == count(shot, shot.rect(), blue) && ring >= 2 * (in.width() + in.height()));
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
