#include "papergeometry.h"
#include "printmodel.h"

#include <QtTest>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

using namespace Lumetra;

Q_DECLARE_METATYPE(Lumetra::PrintOrientation)
Q_DECLARE_METATYPE(Lumetra::PrintAlignment)

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kA4W = 210.0 / 25.4;
const double kA4H = 297.0 / 25.4;

bool near(double a, double b, double eps = 1e-9)
{
    return std::abs(a - b) <= eps;
}

PrintableImage imageOf(quint32 w, quint32 h, double dpiX, double dpiY)
{
    PrintableImage image;
    image.pixelWidth = w;
    image.pixelHeight = h;
    image.dpiX = dpiX;
    image.dpiY = dpiY;
    return image;
}

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void paperSizes_data();
    void paperSizes();
    void printSizes_data();
    void printSizes();
    void smallestFittingPaper_data();
    void smallestFittingPaper();
    void orientationForImage_data();
    void orientationForImage();
    void angles_data();
    void angles();
    void rotatedImagePixels_data();
    void rotatedImagePixels();
    void rotatedImageWithoutPixelWork();
    void placement_data();
    void placement();
    void alignmentTables_data();
    void alignmentTables();
    void placementFollowsRotation();
};

void TestModel::paperSizes_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::newRow("portrait") << 0 << kA4W << kA4H;
    QTest::newRow("landscape") << 1 << kA4H << kA4W;
    QTest::newRow("unknown value 2 is portrait") << 2 << kA4W << kA4H;
    QTest::newRow("unknown value -1 is portrait") << -1 << kA4W << kA4H;
}

void TestModel::paperSizes()
{
    QFETCH(int, orientation);
    QFETCH(double, width);
    QFETCH(double, height);
    const PaperPreset a4 = paperPresets().first();
    const SizeD inches = a4.sizeInches(static_cast<PrintOrientation>(orientation));
    QVERIFY(near(inches.width, width));
    QVERIFY(near(inches.height, height));
    const SizeD mm = a4.sizeMillimeters(static_cast<PrintOrientation>(orientation));
    QVERIFY(near(mm.width, width * 25.4));
    QVERIFY(near(mm.height, height * 25.4));
}

void TestModel::printSizes_data()
{
    QTest::addColumn<uint>("pixelWidth");
    QTest::addColumn<uint>("pixelHeight");
    QTest::addColumn<double>("dpiX");
    QTest::addColumn<double>("dpiY");
    QTest::addColumn<double>("inchesW");
    QTest::addColumn<double>("inchesH");

    QTest::newRow("A4 at 300") << 2480u << 3508u << 300.0 << 300.0 << 8.2666666667 << 11.6933333333;
    QTest::newRow("zero x dpi") << 720u << 300u << 0.0 << 150.0 << 10.0 << 2.0;
    QTest::newRow("negative dpi") << 144u << 144u << -300.0 << -1.0 << 2.0 << 2.0;
    QTest::newRow("NaN dpi") << 144u << 72u << kNaN << 36.0 << 2.0 << 2.0;
    QTest::newRow("infinite dpi") << 144u << 144u << kInf << -kInf << 2.0 << 2.0;
    QTest::newRow("anisotropic") << 600u << 600u << 300.0 << 150.0 << 2.0 << 4.0;
    QTest::newRow("above 2^31 pixels") << 4294967295u << 1u << 1.0 << 1.0 << 4294967295.0 << 1.0;
}

void TestModel::printSizes()
{
    QFETCH(uint, pixelWidth);
    QFETCH(uint, pixelHeight);
    QFETCH(double, dpiX);
    QFETCH(double, dpiY);
    QFETCH(double, inchesW);
    QFETCH(double, inchesH);

    const PrintableImage image = imageOf(pixelWidth, pixelHeight, dpiX, dpiY);
    const SizeD inches = image.printSizeInches();
    QVERIFY2(near(inches.width, inchesW, 1e-9), qPrintable(QString::number(inches.width, 'f', 12)));
    QVERIFY2(near(inches.height, inchesH, 1e-9), qPrintable(QString::number(inches.height, 'f', 12)));
    const SizeD mm = image.printSizeMillimeters();
    QVERIFY(near(mm.width, inchesW * 25.4, 1e-7));
    QVERIFY(near(mm.height, inchesH * 25.4, 1e-7));
    const SizeD dips = image.printSizeDips();
    QVERIFY(near(dips.width, inchesW * 96.0, 1e-7));
    QVERIFY(near(dips.height, inchesH * 96.0, 1e-7));
}

void TestModel::smallestFittingPaper_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<PrintOrientation>("orientation");
    QTest::addColumn<QString>("expected");

    const double a3W = 297.0 / 25.4;
    const double a3H = 420.0 / 25.4;
    const double a2H = 594.0 / 25.4;
    const auto P = PrintOrientation::Portrait;
    const auto L = PrintOrientation::Landscape;

    QTest::newRow("exactly A4") << kA4W << kA4H << P << "DIN A4";
    QTest::newRow("A4 plus the tolerance") << kA4W + 0.0001 << kA4H + 0.0001 << P << "DIN A4";
    QTest::newRow("A4 just inside the tolerance") << kA4W << kA4H + 0.000099 << P << "DIN A4";
    QTest::newRow("A4 just outside in height") << kA4W << kA4H + 0.000101 << P << "DIN A3";
    QTest::newRow("A4 just outside in width") << kA4W + 0.000101 << kA4H << P << "DIN A3";
    QTest::newRow("2480x3508 at 300 dpi") << 2480.0 / 300 << 3508.0 / 300 << P << "DIN A3";
    QTest::newRow("A4 landscape in landscape") << kA4H << kA4W << L << "DIN A4";
    QTest::newRow("A4 portrait in landscape") << kA4W << kA4H << L << "DIN A3";
    QTest::newRow("12 x 8 landscape") << 12.0 << 8.0 << L << "DIN A3";
    QTest::newRow("just over A3 width") << a3W + 0.0002 << a3H << P << "DIN A3+";
    QTest::newRow("taller than A2") << 1.0 << a2H + 0.0002 << P << "DIN A2";
    QTest::newRow("much larger than A2") << 100.0 << 100.0 << L << "DIN A2";
    QTest::newRow("NaN width") << kNaN << 1.0 << P << "DIN A2";
    QTest::newRow("empty image") << 0.0 << 0.0 << P << "DIN A4";
}

void TestModel::smallestFittingPaper()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(PrintOrientation, orientation);
    QFETCH(QString, expected);

    const PaperPreset paper = Lumetra::smallestFittingPaper({width, height}, orientation);
    QCOMPARE(paper.name, expected);
    const bool found = std::any_of(paperPresets().cbegin(), paperPresets().cend(), [&](const PaperPreset& p) {
        return p.name == paper.name && p.widthMillimeters == paper.widthMillimeters &&
               p.heightMillimeters == paper.heightMillimeters;
    });
    QVERIFY(found);
}

void TestModel::orientationForImage_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<PrintOrientation>("expected");
    QTest::newRow("wider") << 12.0 << 8.0 << PrintOrientation::Landscape;
    QTest::newRow("barely wider") << 8.0000001 << 8.0 << PrintOrientation::Landscape;
    QTest::newRow("taller") << 8.0 << 12.0 << PrintOrientation::Portrait;
    QTest::newRow("square") << 8.0 << 8.0 << PrintOrientation::Portrait;
    QTest::newRow("NaN width") << kNaN << 8.0 << PrintOrientation::Portrait;
    QTest::newRow("NaN height") << 8.0 << kNaN << PrintOrientation::Portrait;
}

void TestModel::orientationForImage()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(PrintOrientation, expected);
    QCOMPARE(Lumetra::orientationForImage({width, height}), expected);
}

void TestModel::angles_data()
{
    QTest::addColumn<int>("degrees");
    QTest::addColumn<int>("normalized");
    QTest::addColumn<bool>("quarter");

    QTest::newRow("0") << 0 << 0 << false;
    QTest::newRow("90") << 90 << 90 << true;
    QTest::newRow("180") << 180 << 180 << false;
    QTest::newRow("270") << 270 << 270 << true;
    QTest::newRow("360") << 360 << 0 << false;
    QTest::newRow("450") << 450 << 90 << true;
    QTest::newRow("-90") << -90 << 270 << true;
    QTest::newRow("-270") << -270 << 90 << true;
    QTest::newRow("-360") << -360 << 0 << false;
    QTest::newRow("45") << 45 << 45 << false;
    QTest::newRow("-1") << -1 << 359 << false;
    QTest::newRow("INT_MAX") << INT_MAX << 127 << false;
    QTest::newRow("INT_MIN") << INT_MIN << 232 << false;
}

void TestModel::angles()
{
    QFETCH(int, degrees);
    QFETCH(int, normalized);
    QFETCH(bool, quarter);

    QCOMPARE(normalizedDegrees(degrees), normalized);
    QCOMPARE(isQuarterTurn(degrees), quarter);
    const SizeD turned = rotatedSize({3.0, 5.0}, degrees);
    QCOMPARE(turned.width, quarter ? 5.0 : 3.0);
    QCOMPARE(turned.height, quarter ? 3.0 : 5.0);
}

void TestModel::rotatedImagePixels_data()
{
    QTest::addColumn<int>("degrees");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<QRgb>>("rows");

    // Source, 3 x 2:  a b c
    //                 d e f
    const QRgb a = 0xff100000, b = 0xff200000, c = 0xff300000;
    const QRgb d = 0xff000010, e = 0xff000020, f = 0xff000030;
    // A clockwise quarter turn on screen brings the bottom-left corner to the top-left.
    QTest::newRow("90 clockwise") << 90 << QSize(2, 3) << QList<QRgb>{d, a, e, b, f, c};
    QTest::newRow("-270 is 90") << -270 << QSize(2, 3) << QList<QRgb>{d, a, e, b, f, c};
    QTest::newRow("270 anticlockwise") << 270 << QSize(2, 3) << QList<QRgb>{c, f, b, e, a, d};
    QTest::newRow("-90 is 270") << -90 << QSize(2, 3) << QList<QRgb>{c, f, b, e, a, d};
    QTest::newRow("180") << 180 << QSize(3, 2) << QList<QRgb>{f, e, d, c, b, a};
    QTest::newRow("0") << 0 << QSize(3, 2) << QList<QRgb>{a, b, c, d, e, f};
}

void TestModel::rotatedImagePixels()
{
    QFETCH(int, degrees);
    QFETCH(QSize, size);
    QFETCH(QList<QRgb>, rows);

    QImage source(3, 2, QImage::Format_ARGB32);
    const QRgb pixels[] = {0xff100000, 0xff200000, 0xff300000, 0xff000010, 0xff000020, 0xff000030};
    for (int i = 0; i < 6; ++i)
        source.setPixel(i % 3, i / 3, pixels[i]);

    const QImage turned = rotatedImage(source, degrees);
    QCOMPARE(turned.size(), size);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            QCOMPARE(turned.pixel(x, y), rows[y * size.width() + x]);
    }
}

void TestModel::rotatedImageWithoutPixelWork()
{
    QImage source(4, 2, QImage::Format_RGB32);
    source.fill(Qt::red);
    const QImage same = rotatedImage(source, 720);
    QCOMPARE(same.constBits(), source.constBits());
    QVERIFY(rotatedImage(QImage(), 90).isNull());
    QVERIFY(rotatedImage(QImage(), 0).isNull());
    // A non-multiple of 90 leaves the size alone in layout but still turns pixels.
    QCOMPARE(rotatedSize({4.0, 2.0}, 45).width, 4.0);
}

void TestModel::placement_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<double>("imageWidth");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");

    const double dx = kA4W - 4.0;
    const double dy = kA4H - 6.0;
    QTest::newRow("TopLeft") << 0 << 4.0 << 0.0 << 0.0;
    QTest::newRow("TopCenter") << 1 << 4.0 << dx / 2 << 0.0;
    QTest::newRow("TopRight") << 2 << 4.0 << dx << 0.0;
    QTest::newRow("CenterLeft") << 3 << 4.0 << 0.0 << dy / 2;
    QTest::newRow("Center") << 4 << 4.0 << dx / 2 << dy / 2;
    QTest::newRow("CenterRight") << 5 << 4.0 << dx << dy / 2;
    QTest::newRow("BottomLeft") << 6 << 4.0 << 0.0 << dy;
    QTest::newRow("BottomCenter") << 7 << 4.0 << dx / 2 << dy;
    QTest::newRow("BottomRight") << 8 << 4.0 << 4.2677165354 << 5.6929133858;
    QTest::newRow("9 is Center") << 9 << 4.0 << dx / 2 << dy / 2;
    QTest::newRow("-1 is Center") << -1 << 4.0 << dx / 2 << dy / 2;
    QTest::newRow("too wide, Center") << 4 << 10.0 << -0.8661417323 << dy / 2;
    QTest::newRow("too wide, TopLeft") << 0 << 10.0 << 0.0 << 0.0;
    QTest::newRow("too wide, TopRight") << 2 << 10.0 << kA4W - 10.0 << 0.0;
}

void TestModel::placement()
{
    QFETCH(int, alignment);
    QFETCH(double, imageWidth);
    QFETCH(double, x);
    QFETCH(double, y);

    const QRectF rect =
        imageRectOnPaper({kA4W, kA4H}, {imageWidth, 6.0}, static_cast<PrintAlignment>(alignment));
    QVERIFY2(near(rect.x(), x, 1e-9), qPrintable(QString::number(rect.x(), 'f', 10)));
    QVERIFY2(near(rect.y(), y, 1e-9), qPrintable(QString::number(rect.y(), 'f', 10)));
    QCOMPARE(rect.width(), imageWidth);
    QCOMPARE(rect.height(), 6.0);
}

void TestModel::alignmentTables_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<double>("horizontal");
    QTest::addColumn<double>("vertical");
    QTest::addColumn<QString>("title");

    QTest::newRow("0") << 0 << 0.0 << 0.0 << "Top Left";
    QTest::newRow("4") << 4 << 0.5 << 0.5 << "Center";
    QTest::newRow("8") << 8 << 1.0 << 1.0 << "Bottom Right";
    QTest::newRow("9") << 9 << 0.5 << 0.5 << "Center";
    QTest::newRow("-1") << -1 << 0.5 << 0.5 << "Center";
    QTest::newRow("INT_MIN") << INT_MIN << 0.5 << 0.5 << "Center";
}

void TestModel::alignmentTables()
{
    QFETCH(int, value);
    QFETCH(double, horizontal);
    QFETCH(double, vertical);
    QFETCH(QString, title);
    const auto alignment = static_cast<PrintAlignment>(value);
    QCOMPARE(horizontalFraction(alignment), horizontal);
    QCOMPARE(verticalFraction(alignment), vertical);
    QCOMPARE(alignmentTitle(alignment), title);
}

void TestModel::placementFollowsRotation()
{
    // Unequal resolutions make sure the turn swaps the physical sizes.
    PrintableImage image = imageOf(1200, 900, 300.0, 150.0); // 4 x 6 in
    PrintSettings settings;
    settings.alignment = PrintAlignment::BottomRight;
    settings.rotationDegrees = 90;
    const QRectF rect = placedImageRectInches({kA4W, kA4H}, image, settings);
    QVERIFY(near(rect.width(), 6.0));
    QVERIFY(near(rect.height(), 4.0));
    QVERIFY(near(rect.x(), kA4W - 6.0));
    QVERIFY(near(rect.y(), kA4H - 4.0));
}

QTEST_APPLESS_MAIN(TestModel)
#include "tst_model.moc"
