#include "papergeometry.h"
#include "targetset.h"
#include "usererror.h"

#include <QtTest>

#include <limits>

using namespace Lumetra;
using P = PaperSeries;
using O = PrintOrientation;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN(), kA4W = 210 / 25.4, kA4H = 297 / 25.4;
const auto sizeF = [](SizeD size) { return QSizeF(size.width, size.height); };

PrintableImage imageOf(quint32 w, quint32 h, double dpiX, double dpiY)
{
    return {QString(), QString(), w, h, dpiX, dpiY, QString(), false, QString(), false, 0, QImage()};
}

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void printSize()
    {
        QCOMPARE(sizeF(imageOf(2480, 3508, 300, 300).printSizeInches()), QSizeF(2480 / 300.0, 3508 / 300.0));
        // Zero, negative, NaN or infinite resolutions stand for a missing one: 72 dpi.
        QCOMPARE(sizeF(imageOf(144, 72, 0, -1).printSizeInches()), QSizeF(2, 1));
        const double inf = std::numeric_limits<double>::infinity();
        QCOMPARE(sizeF(imageOf(144, 72, kNaN, inf).printSizeInches()), QSizeF(2, 1));
        QCOMPARE(imageOf(300, 600, 300, 300).printSizeMillimeters().height, 50.8);
    }

    void paperChoice()
    {
        const auto fit = [](double w, double h, P series, O orientation = O::Portrait) {
            return smallestFittingPaper({w, h}, orientation, series).name;
        };
        // Up to 0.0001 in over still fits; beyond the largest sheet, or for NaN, the largest.
        QCOMPARE(fit(kA4W + 0.000099, kA4H + 0.000099, P::Din), "DIN A4");
        QCOMPARE(fit(kA4W + 0.000101, kA4H, P::Din), "DIN A3");
        QCOMPARE(fit(kA4H, kA4W, P::Din, O::Landscape), "DIN A4");
        QCOMPARE(fit(297 / 25.4 + 0.001, 1, P::Din), "DIN A3+");
        QCOMPARE(fit(kNaN, 1, P::Din), "DIN A2");
        QCOMPARE(fit(8.500099, 11.000099, P::NorthAmerican), "Letter");
        QCOMPARE(fit(8.5, 11.000101, P::NorthAmerican), "Legal");
        QCOMPARE(fit(17.01, 1, P::NorthAmerican), "ANSI C (17 × 22 in)");
        QCOMPARE(orientationForImage({8.0001, 8}), O::Landscape);
        QCOMPARE(orientationForImage({8, 8}), O::Portrait);
    }

    void placement()
    {
        // A 4 x 6 in image; its unequal resolutions make sure a turn swaps the physical sizes.
        const auto placed = [](double w, double h, int a, int turn = 0) {
            return placedImageRectInches({w, h}, imageOf(1200, 900, 300, 150),
                                         {{}, {}, PrintAlignment(a), turn});
        };
        const QStringList titles{"Top Left",     "Top Center",  "Top Right",     "Center Left", "Center",
                                 "Center Right", "Bottom Left", "Bottom Center", "Bottom Right"};
        const double dx = kA4W - 4, dy = kA4H - 6;
        for (int a = 0; a < 9; ++a) { // value = 3 * row + column
            QCOMPARE(placed(kA4W, kA4H, a), QRectF(dx * (a % 3) / 2, dy * (a / 3) / 2, 4, 6));
            QCOMPARE(alignmentTitle(PrintAlignment(a)), titles[a]);
        }
        QCOMPARE(placed(kA4W, kA4H, -1), QRectF(dx / 2, dy / 2, 4, 6)); // out of range: centred
        QCOMPARE(placed(kA4W, kA4H, 8, -90), QRectF(kA4W - 6, kA4H - 4, 6, 4));
        QCOMPARE(placed(3, 5, 2), QRectF(-1, 0, 4, 6)); // larger than the sheet: not clamped
    }

    void quarterTurns()
    {
        QVERIFY(isQuarterTurn(450) && isQuarterTurn(-90) && !isQuarterTurn(180));
        QCOMPARE(normalizedDegrees(std::numeric_limits<int>::min()), 232); // without overflow
        // 3 x 2 greys, then turned clockwise (the bottom-left pixel first), anticlockwise and half.
        const uchar g[] = {0, 1, 2, 3, 4, 5, 3, 0, 4, 1, 5, 2, 2, 5, 1, 4, 0, 3, 5, 4, 3, 2, 1, 0};
        const auto grey = [&](int at, int w) {
            return QImage(g + at, w, 6 / w, w, QImage::Format_Grayscale8);
        };
        QCOMPARE(rotatedImage(grey(0, 3), 90), grey(6, 2));
        QCOMPARE(rotatedImage(grey(0, 3), -90), grey(12, 2));
        QCOMPARE(rotatedImage(grey(0, 3), 180), grey(18, 3));
    }

    void naturalOrder()
    {
        QCOMPARE(naturallyOrderedPaths({"t010", "t9", "t100000000000000000001", "t100000000000000000000"}),
                 QStringList({"t9", "t010", "t100000000000000000000", "t100000000000000000001"}));
        QCOMPARE(naturallyOrderedPaths({"Sheet_2b.tif", "SHEET_1.tif", "sheet.tif"}),
                 QStringList({"sheet.tif", "SHEET_1.tif", "Sheet_2b.tif"}));
        // By file name, not folder, and each file once.
        QCOMPARE(naturallyOrderedPaths({"/z/a_2.tif", "/a/a_10.tif", "/z/../z/a_2.tif"}),
                 QStringList({"/z/a_2.tif", "/a/a_10.tif"}));
    }

    void setFacts()
    {
        // 8 x 10 in (page 3 of its file), 10.5 x 7 in, and 8.2667 x 11.6933 in: 0.0004 in too tall for A4.
        TargetSet set{{TargetPage{imageOf(2400, 3000, 300, 300), 2, 3},
                       TargetPage{imageOf(1050, 700, 100, 100)}, TargetPage{imageOf(2480, 3508, 300, 300)}}};
        for (int i = 0; i < 3; ++i)
            set.pages[i].facts.fileName = QString(QChar(u'a' + i));
        set.pages[2].facts.colorModel = "CMYK";
        QCOMPARE(sizeF(set.envelopeInches()), QSizeF(10.5, 3508 / 300.0));
        QCOMPARE(set.largestPage(), 2);
        QCOMPARE(set.pagesWithOtherResolution(), QStringList{"b"});
        QCOMPARE(set.pagesWithOtherColorModel(), QStringList{"c"});
        QCOMPARE(set.pagesNotFitting({kA4H, kA4W}, 90), QStringList({"b", "c"}));
        QCOMPARE(set.pages[0].name(), "a, page 3");
        // Error texts reach the user through what(), in UTF-8.
        QCOMPARE(QString::fromUtf8(UserError("Größe").what()), "Größe");
    }
};

QTEST_APPLESS_MAIN(TestModel)
#include "tst_model.moc"
