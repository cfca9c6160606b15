#include "papergeometry.h"
#include "printmodel.h"
#include "targetset.h"
#include "usererror.h"

#include <QtTest>

#include <climits>
#include <cmath>
#include <limits>

using namespace Lumetra;

Q_DECLARE_METATYPE(Lumetra::PrintOrientation)
Q_DECLARE_METATYPE(Lumetra::PaperSeries)

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kA4W = 210.0 / 25.4;
const double kA4H = 297.0 / 25.4;
constexpr auto P = PrintOrientation::Portrait;
constexpr auto L = PrintOrientation::Landscape;

#define COMPARE_NEAR(actual, expected)                                                                       \
    QVERIFY2(std::abs((actual) - (expected)) <= 1e-9, qPrintable(QString::number(actual, 'f', 12)))

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
    void paperSizes()
    {
        const PaperPreset a4 = paperPresets().first();
        // Only the value 1 is landscape; every other value behaves as portrait.
        for (int orientation : {0, 1, 2, -1}) {
            const bool landscape = orientation == 1;
            const SizeD inches = a4.sizeInches(static_cast<PrintOrientation>(orientation));
            COMPARE_NEAR(inches.width, landscape ? kA4H : kA4W);
            COMPARE_NEAR(inches.height, landscape ? kA4W : kA4H);
            QCOMPARE(a4.sizeMillimeters(static_cast<PrintOrientation>(orientation)).width,
                     landscape ? 297.0 : 210.0);
        }
    }

    void printSizes_data()
    {
        QTest::addColumn<uint>("pixelWidth");
        QTest::addColumn<uint>("pixelHeight");
        QTest::addColumn<double>("dpiX");
        QTest::addColumn<double>("dpiY");
        QTest::addColumn<double>("inchesW");
        QTest::addColumn<double>("inchesH");
        QTest::newRow("A4 at 300") << 2480u << 3508u << 300.0 << 300.0 << 2480.0 / 300 << 3508.0 / 300;
        QTest::newRow("zero and negative dpi") << 144u << 300u << 0.0 << -1.0 << 2.0 << 300.0 / 72;
        QTest::newRow("NaN and infinite dpi") << 144u << 72u << kNaN << kInf << 2.0 << 1.0;
        QTest::newRow("above 2^31 pixels") << 4294967295u << 1u << 1.0 << 1.0 << 4294967295.0 << 1.0;
    }

    void printSizes()
    {
        QFETCH(uint, pixelWidth);
        QFETCH(uint, pixelHeight);
        QFETCH(double, dpiX);
        QFETCH(double, dpiY);
        QFETCH(double, inchesW);
        QFETCH(double, inchesH);
        const PrintableImage image = imageOf(pixelWidth, pixelHeight, dpiX, dpiY);
        COMPARE_NEAR(image.printSizeInches().width, inchesW);
        COMPARE_NEAR(image.printSizeInches().height, inchesH);
        QVERIFY(std::abs(image.printSizeMillimeters().height - inchesH * 25.4) < 1e-7);
        QVERIFY(std::abs(image.printSizeDips().width - inchesW * 96.0) < 1e-5);
    }

    void smallestFittingPaper_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("height");
        QTest::addColumn<PrintOrientation>("orientation");
        QTest::addColumn<PaperSeries>("series");
        QTest::addColumn<QString>("expected");
        const double a3W = 297.0 / 25.4;
        const double a2H = 594.0 / 25.4;
        constexpr auto D = PaperSeries::Din;
        constexpr auto N = PaperSeries::NorthAmerican;
        QTest::newRow("A4 plus the tolerance") << kA4W + 0.0001 << kA4H + 0.0001 << P << D << "DIN A4";
        QTest::newRow("A4 just inside the tolerance") << kA4W << kA4H + 0.000099 << P << D << "DIN A4";
        QTest::newRow("A4 just outside in height") << kA4W << kA4H + 0.000101 << P << D << "DIN A3";
        QTest::newRow("A4 just outside in width") << kA4W + 0.000101 << kA4H << P << D << "DIN A3";
        QTest::newRow("A4 landscape in landscape") << kA4H << kA4W << L << D << "DIN A4";
        QTest::newRow("A4 portrait in landscape") << kA4W << kA4H << L << D << "DIN A3";
        QTest::newRow("just over A3 width") << a3W + 0.0002 << 1.0 << P << D << "DIN A3+";
        QTest::newRow("taller than A2") << 1.0 << a2H + 0.0002 << P << D << "DIN A2";
        QTest::newRow("NaN width") << kNaN << 1.0 << P << D << "DIN A2";
        // A full-page Letter target (2550 x 3300 px at 300 dpi) stays in the series of the sheet in use.
        QTest::newRow("Letter target, DIN") << 2550.0 / 300 << 3300.0 / 300 << P << D << "DIN A3";
        QTest::newRow("Letter target") << 2550.0 / 300 << 3300.0 / 300 << P << N << "Letter";
        QTest::newRow("NaN height, North American") << 1.0 << kNaN << P << N << "ANSI C (17 × 22 in)";
        QTest::newRow("no such series is DIN") << 12.0 << 8.0 << L << PaperSeries(7) << "DIN A3";
    }

    void smallestFittingPaper()
    {
        QFETCH(double, width);
        QFETCH(double, height);
        QFETCH(PrintOrientation, orientation);
        QFETCH(PaperSeries, series);
        QFETCH(QString, expected);
        const PaperPreset paper = Lumetra::smallestFittingPaper({width, height}, orientation, series);
        QCOMPARE(paper.name, expected);
        if (series == PaperSeries::Din) // the DIN-only form keeps its answer
            QCOMPARE(Lumetra::smallestFittingPaper({width, height}, orientation).name, expected);
        // The preset comes back whole, with its own dimensions, and belongs to the series asked for.
        const std::optional<PaperPreset> named = paperPresetNamed(paper.name);
        QVERIFY(named);
        QCOMPARE(paper.widthMillimeters, named->widthMillimeters);
        QCOMPARE(paper.heightMillimeters, named->heightMillimeters);
        QCOMPARE(paperSeries(paper), series == PaperSeries::NorthAmerican ? series : PaperSeries::Din);
    }

    void paperTables()
    {
        QStringList all;
        for (const PaperPreset& preset : allPaperPresets())
            all << u"%1 %2x%3"_s.arg(preset.name).arg(preset.widthMillimeters).arg(preset.heightMillimeters);
        QCOMPARE(all,
                 QStringList({u"DIN A4 210x297"_s, u"DIN A3 297x420"_s, u"DIN A3+ 329x483"_s,
                              u"DIN A2 420x594"_s, u"Letter 215.9x279.4"_s, u"Legal 215.9x355.6"_s,
                              u"Tabloid (11 × 17 in) 279.4x431.8"_s, u"Super B (13 × 19 in) 330.2x482.6"_s,
                              u"ANSI C (17 × 22 in) 431.8x558.8"_s}));
        const auto names = [](const QList<PaperPreset>& presets) {
            QStringList list;
            for (const PaperPreset& preset : presets)
                list << preset.name;
            return list;
        };
        QCOMPARE(names(paperPresets()), names(allPaperPresets()).mid(0, 4));
        QCOMPARE(names(paperPresets(PaperSeries::NorthAmerican)), names(allPaperPresets()).mid(4));
        // Names are identities: exact, whole, case-sensitive.
        for (const QString& name : {u"letter"_s, u"Tabloid"_s, u"Super B (13 x 19 in)"_s, QString()})
            QVERIFY2(!paperPresetNamed(name), qPrintable(name));
        QCOMPARE(paperSeries(*paperPresetNamed(u"Legal"_s)), PaperSeries::NorthAmerican);
        QCOMPARE(paperSeries(*paperPresetNamed(u"DIN A3+"_s)), PaperSeries::Din);
        QCOMPARE(paperSeries(PaperPreset{u"Letter "_s, 215.9, 279.4}), PaperSeries::Din);
    }

    // Every North American sheet on each axis in both orientations: 0.000099 in over still fits,
    // 0.000101 in over takes the next sheet that holds it.
    void northAmericanFitBoundaries_data()
    {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<PrintOrientation>("orientation");
        QTest::addColumn<bool>("height"); // the axis that grows; false: the width
        QTest::addColumn<QString>("next");
        const QString letter = u"Letter"_s, legal = u"Legal"_s, tabloid = u"Tabloid (11 × 17 in)"_s,
                      superB = u"Super B (13 × 19 in)"_s, ansiC = u"ANSI C (17 × 22 in)"_s;
        // Per sheet, the next one when it is too wide and when it is too tall, in portrait and landscape.
        const QString rows[][5] = {{letter, tabloid, legal, legal, tabloid},
                                   {legal, tabloid, tabloid, tabloid, tabloid},
                                   {tabloid, superB, superB, superB, superB},
                                   {superB, ansiC, ansiC, ansiC, ansiC},
                                   {ansiC, ansiC, ansiC, ansiC, ansiC}}; // nothing larger: the largest
        for (const auto& row : rows) {
            for (int i = 0; i < 4; ++i) {
                const PrintOrientation orientation = i < 2 ? P : L;
                QTest::addRow("%s %s %s", qPrintable(row[0]), i < 2 ? "portrait" : "landscape",
                              i % 2 ? "height" : "width")
                    << row[0] << orientation << bool(i % 2) << row[i + 1];
            }
        }
    }

    void northAmericanFitBoundaries()
    {
        QFETCH(QString, sheet);
        QFETCH(PrintOrientation, orientation);
        QFETCH(bool, height);
        QFETCH(QString, next);
        const SizeD paper = paperPresetNamed(sheet)->sizeInches(orientation);
        const auto grown = [&](double by) {
            return height ? SizeD{paper.width + 0.000099, paper.height + by}
                          : SizeD{paper.width + by, paper.height + 0.000099};
        };
        constexpr auto N = PaperSeries::NorthAmerican;
        QCOMPARE(Lumetra::smallestFittingPaper(grown(0.000099), orientation, N).name, sheet);
        QCOMPARE(Lumetra::smallestFittingPaper(grown(0.000101), orientation, N).name, next);
    }

    void orientationForImage()
    {
        QCOMPARE(Lumetra::orientationForImage({8.0000001, 8.0}), L);
        QCOMPARE(Lumetra::orientationForImage({8.0, 8.0}), P);
        QCOMPARE(Lumetra::orientationForImage({kNaN, 8.0}), P);
    }

    void angles_data()
    {
        QTest::addColumn<int>("degrees");
        QTest::addColumn<int>("normalized");
        const int rows[][2] = {{0, 0},   {90, 90},  {270, 270},     {360, 0},      {-90, 270},
                               {45, 45}, {-1, 359}, {INT_MAX, 127}, {INT_MIN, 232}};
        for (const auto& row : rows)
            QTest::addRow("%d", row[0]) << row[0] << row[1];
    }

    void angles()
    {
        QFETCH(int, degrees);
        QFETCH(int, normalized);
        const bool quarter = normalized == 90 || normalized == 270;
        QCOMPARE(normalizedDegrees(degrees), normalized);
        QCOMPARE(isQuarterTurn(degrees), quarter);
        const SizeD turned = rotatedSize({3.0, 5.0}, degrees);
        QCOMPARE(turned.width, quarter ? 5.0 : 3.0);
        QCOMPARE(turned.height, quarter ? 3.0 : 5.0);
    }

    void rotatedImagePixels_data()
    {
        QTest::addColumn<int>("degrees");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<QRgb>>("pixels");
        // Source, 3 x 2:  a b c
        //                 d e f
        const QRgb a = 0xff100000, b = 0xff200000, c = 0xff300000;
        const QRgb d = 0xff000010, e = 0xff000020, f = 0xff000030;
        // A clockwise quarter turn on screen brings the bottom-left corner to the top-left.
        QTest::newRow("90 clockwise") << 90 << QSize(2, 3) << QList<QRgb>{d, a, e, b, f, c};
        QTest::newRow("270 anticlockwise") << 270 << QSize(2, 3) << QList<QRgb>{c, f, b, e, a, d};
        QTest::newRow("-90 is 270") << -90 << QSize(2, 3) << QList<QRgb>{c, f, b, e, a, d};
        QTest::newRow("180") << 180 << QSize(3, 2) << QList<QRgb>{f, e, d, c, b, a};
    }

    void rotatedImagePixels()
    {
        QFETCH(int, degrees);
        QFETCH(QSize, size);
        QFETCH(QList<QRgb>, pixels);
        QImage source(3, 2, QImage::Format_ARGB32);
        const QRgb original[] = {0xff100000, 0xff200000, 0xff300000, 0xff000010, 0xff000020, 0xff000030};
        for (int i = 0; i < 6; ++i)
            source.setPixel(i % 3, i / 3, original[i]);
        const QImage turned = rotatedImage(source, degrees);
        QCOMPARE(turned.size(), size);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(turned.pixel(i % size.width(), i / size.width()), pixels[i]);
    }

    void rotatedImageWithoutPixelWork()
    {
        QImage source(4, 2, QImage::Format_RGB32);
        source.fill(Qt::red);
        QCOMPARE(rotatedImage(source, 720).constBits(), source.constBits());
        QVERIFY(rotatedImage(QImage(), 90).isNull());
    }

    void placement_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<double>("imageWidth");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<QString>("title");
        const double dx = kA4W - 4.0;
        const double dy = kA4H - 6.0;
        QTest::newRow("TopLeft") << 0 << 4.0 << 0.0 << 0.0 << "Top Left";
        QTest::newRow("TopCenter") << 1 << 4.0 << dx / 2 << 0.0 << "Top Center";
        QTest::newRow("TopRight") << 2 << 4.0 << dx << 0.0 << "Top Right";
        QTest::newRow("CenterLeft") << 3 << 4.0 << 0.0 << dy / 2 << "Center Left";
        QTest::newRow("Center") << 4 << 4.0 << dx / 2 << dy / 2 << "Center";
        QTest::newRow("CenterRight") << 5 << 4.0 << dx << dy / 2 << "Center Right";
        QTest::newRow("BottomLeft") << 6 << 4.0 << 0.0 << dy << "Bottom Left";
        QTest::newRow("BottomCenter") << 7 << 4.0 << dx / 2 << dy << "Bottom Center";
        QTest::newRow("BottomRight") << 8 << 4.0 << 4.2677165354 << 5.6929133858 << "Bottom Right";
        QTest::newRow("9 is Center") << 9 << 4.0 << dx / 2 << dy / 2 << "Center";
        QTest::newRow("-1 is Center") << -1 << 4.0 << dx / 2 << dy / 2 << "Center";
        QTest::newRow("too wide, TopRight") << 2 << 10.0 << kA4W - 10.0 << 0.0 << "Top Right";
    }

    void placement()
    {
        QFETCH(int, alignment);
        QFETCH(double, imageWidth);
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(QString, title);
        const auto value = static_cast<PrintAlignment>(alignment);
        const QRectF rect = imageRectOnPaper({kA4W, kA4H}, {imageWidth, 6.0}, value);
        QVERIFY(std::abs(rect.x() - x) <= 1e-9 && std::abs(rect.y() - y) <= 1e-9);
        QCOMPARE(rect.size(), QSizeF(imageWidth, 6.0));
        QCOMPARE(alignmentTitle(value), title);
    }

    void userErrorCarriesItsUtf8Text()
    {
        const UserError error(QStringLiteral("Größe < 300 mm"));
        QCOMPARE(QByteArray(error.what()), QByteArray("Gr\xc3\xb6\xc3\x9f"
                                                      "e < 300 mm"));
        QCOMPARE(error.message(), QStringLiteral("Größe < 300 mm"));
        QVERIFY(UserError(QString()).what() != nullptr);
        QCOMPARE(*UserError(QString()).what(), '\0');
    }

    void placementFollowsRotation()
    {
        // Unequal resolutions make sure the turn swaps the physical sizes.
        const PrintableImage image = imageOf(1200, 900, 300.0, 150.0); // 4 x 6 in
        PrintSettings settings;
        settings.alignment = PrintAlignment::BottomRight;
        settings.rotationDegrees = 90;
        const QRectF rect = placedImageRectInches({kA4W, kA4H}, image, settings);
        COMPARE_NEAR(rect.x(), kA4W - 6.0);
        COMPARE_NEAR(rect.y(), kA4H - 4.0);
        QCOMPARE(rect.size(), QSizeF(6.0, 4.0));
    }

    void naturalOrder_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("numbers by value")
            << QStringList{"t_10.tif", "t_2.tif", "t_1.tif"} << QStringList{"t_1.tif", "t_2.tif", "t_10.tif"};
        QTest::newRow("zero padded and wider than 64 bits")
            << QStringList{"p0100.png", "p99.png", "p100000000000000000000001.png",
                           "p100000000000000000000000.png"}
            << QStringList{"p99.png", "p0100.png", "p100000000000000000000000.png",
                           "p100000000000000000000001.png"};
        QTest::newRow("case apart, shorter first")
            << QStringList{"Sheet_2b.tif", "sheet_2.tif", "SHEET_1.tif", "sheet.tif"}
            << QStringList{"sheet.tif", "SHEET_1.tif", "sheet_2.tif", "Sheet_2b.tif"};
        QTest::newRow("by file name, not folder, each once")
            << QStringList{"/z/a_2.tif", "/a/a_10.tif", "/m/a_1.tif", "/z/../z/a_2.tif"}
            << QStringList{"/m/a_1.tif", "/z/a_2.tif", "/a/a_10.tif"};
    }

    void naturalOrder()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, expected);
        QCOMPARE(naturallyOrderedPaths(paths), expected);
    }

    // Layout facts of a set: the envelope, the largest page, and the pages that do not fit or differ.
    void setFacts()
    {
        const auto page = [](const QString& name, quint32 w, quint32 h, double dpi, const QString& model) {
            TargetPage p{imageOf(w, h, dpi, dpi)};
            p.facts.fileName = name;
            p.facts.colorModel = model;
            return p;
        };
        // 8 x 10 in, 10.5 x 7 in, and 8.2667 x 11.6933 in: 0.0004 in too tall for A4.
        const TargetSet set{{page("a.tif", 2400, 3000, 300, "RGB"), page("b.tif", 1050, 700, 100, "RGB"),
                             page("c.tif", 2480, 3508, 300, "CMYK")}};
        COMPARE_NEAR(set.envelopeInches().width, 10.5);
        COMPARE_NEAR(set.envelopeInches().height, 3508 / 300.0);
        QCOMPARE(set.largestPage(), 2);
        QCOMPARE(set.pagesWithOtherResolution(), QStringList{"b.tif"});
        QCOMPARE(set.pagesWithOtherColorModel(), QStringList{"c.tif"});
        QCOMPARE(set.pagesNotFitting({kA4W, kA4H}, 0), QStringList({"b.tif", "c.tif"}));
        QCOMPARE(set.pagesNotFitting({kA4H, kA4W}, 90), QStringList({"b.tif", "c.tif"}));
        QCOMPARE(set.pagesNotFitting({11.0, 12.0}, 0), QStringList());
        TargetPage multi = set.pages[0];
        multi.pageIndex = 2;
        multi.pagesInFile = 3;
        QCOMPARE(multi.name(), QStringLiteral("a.tif, page 3"));
    }
};

QTEST_APPLESS_MAIN(TestModel)
#include "tst_model.moc"
