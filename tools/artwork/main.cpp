// Draws the maker's logo and writes the sample colour target shipped with the
// repository. Run from anywhere with the repository root as the only argument;
// both files are overwritten in place.
#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kDpi = 300;
constexpr int kDotsPerMeter = 11811; // 300 dpi, as PNG stores it

// The mark: a ring of twelve patches around a small grey core, with a short
// tail at the lower right, so that it reads as a Q made of colour samples.
void drawMark(QPainter& painter, const QPointF& centre, double radius)
{
    const double inner = radius * 0.58;
    for (int i = 0; i < 12; ++i) {
        const double start = 90.0 - i * 30.0;
        QPainterPath patch;
        const QRectF outerRect(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        const QRectF innerRect(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
        patch.arcMoveTo(outerRect, start - 1.5);
        patch.arcTo(outerRect, start - 1.5, -27.0);
        patch.arcTo(innerRect, start - 28.5, 27.0);
        patch.closeSubpath();
        painter.fillPath(patch, QColor::fromHsvF(std::fmod(i / 12.0 + 0.98, 1.0), 0.78, 0.95));
    }
    const double core = radius * 0.36;
    painter.setBrush(QColor(0x8a, 0x94, 0xa3));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(centre, core, core);

    QPainterPath tail;
    const double t = radius * 0.16;
    const QPointF a = centre + QPointF(radius * 0.62, radius * 0.62);
    const QPointF b = centre + QPointF(radius * 1.12, radius * 1.12);
    tail.moveTo(a + QPointF(-t, t));
    tail.lineTo(a + QPointF(t, -t));
    tail.lineTo(b + QPointF(t, -t));
    tail.lineTo(b + QPointF(-t, t));
    tail.closeSubpath();
    painter.setPen(QPen(QColor(0x12, 0x17, 0x20), radius * 0.05));
    painter.setBrush(QColor(0xf2, 0xf4, 0xf7));
    painter.drawPath(tail);
}

bool writeLogo(const QString& path)
{
    QImage logo(1317, 440, QImage::Format_RGB888);
    logo.fill(QColor(0x12, 0x17, 0x20));

    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    drawMark(painter, QPointF(228, 210), 138);

    QFont word(QStringLiteral("DejaVu Sans"));
    word.setPixelSize(146);
    word.setWeight(QFont::Bold);
    word.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    painter.setFont(word);
    painter.setPen(QColor(0xf2, 0xf4, 0xf7));
    painter.drawText(QRectF(420, 95, 880, 190), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("quorvane"));

    QFont line(QStringLiteral("DejaVu Sans"));
    line.setPixelSize(38);
    line.setLetterSpacing(QFont::AbsoluteSpacing, 5);
    painter.setFont(line);
    painter.setPen(QColor(0x7f, 0xa8, 0xef));
    painter.drawText(QRectF(426, 290, 880, 60), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("COLOUR TARGETS TRUE TO SIZE"));
    painter.end();
    // Set after drawing, so that text sizes stay in plain pixels.
    logo.setDotsPerMeterX(kDotsPerMeter);
    logo.setDotsPerMeterY(kDotsPerMeter);
    return logo.save(path, "PNG");
}

// A small honest chart: a neutral ramp, twelve hues at three strengths, their
// pastel and dark shades, and a row of primaries and skin-like tones; every
// patch a flat 8-bit RGB value, separated by white gutters on a white sheet.
QImage drawTarget()
{
    constexpr int columns = 12;
    constexpr int rows = 8;
    constexpr int patch = kDpi / 2;   // 0.5 inch
    constexpr int gutter = kDpi / 30; // 0.033 inch
    constexpr int border = kDpi / 4;  // 0.25 inch
    const int width = 2 * border + columns * patch;
    const int height = 2 * border + rows * patch;

    QImage target(width, height, QImage::Format_RGB888);
    target.fill(Qt::white);
    QPainter painter(&target);

    const QColor extras[columns] = {
        QColor(255, 0, 0),     QColor(0, 255, 0),    QColor(0, 0, 255),   QColor(0, 255, 255),
        QColor(255, 0, 255),   QColor(255, 255, 0),  QColor(115, 82, 68), QColor(194, 150, 130),
        QColor(224, 180, 150), QColor(98, 122, 157), QColor(87, 108, 67), QColor(0, 0, 0),
    };
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            QColor colour;
            const double hue = column / double(columns);
            switch (row) {
            case 0: {
                const int level = qRound(column * 255.0 / (columns - 1));
                colour = QColor(level, level, level);
                break;
            }
            case 1:
                colour = QColor::fromHsvF(hue, 1.0, 1.0);
                break;
            case 2:
                colour = QColor::fromHsvF(hue, 1.0, 0.7);
                break;
            case 3:
                colour = QColor::fromHsvF(hue, 1.0, 0.4);
                break;
            case 4:
                colour = QColor::fromHsvF(hue, 0.5, 1.0);
                break;
            case 5:
                colour = QColor::fromHsvF(hue, 0.25, 1.0);
                break;
            case 6:
                colour = QColor::fromHsvF(hue, 0.5, 0.55);
                break;
            default:
                colour = extras[column];
                break;
            }
            // Whole 8-bit values, so every patch is exactly one RGB triple.
            colour = QColor(colour.red(), colour.green(), colour.blue());
            painter.fillRect(border + column * patch + gutter, border + row * patch + gutter,
                             patch - 2 * gutter, patch - 2 * gutter, colour);
        }
    }
    // Corner marks, a thin black L at each corner of the patch field.
    const int field = border - gutter;
    const int mark = kDpi / 6;
    const int thick = 4;
    const QRect frame(field, field, width - 2 * field, height - 2 * field);
    for (const QPoint& corner :
         {frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight()}) {
        const int dx = corner.x() == frame.left() ? 1 : -1;
        const int dy = corner.y() == frame.top() ? 1 : -1;
        painter.fillRect(QRect(corner, QSize(dx * mark, dy * thick)).normalized(), Qt::black);
        painter.fillRect(QRect(corner, QSize(dx * thick, dy * mark)).normalized(), Qt::black);
    }
    painter.end();
    return target;
}

bool writeTarget(const QString& path)
{
    const QImage target = drawTarget();
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(QFile::encodeName(path).constData(), "w"),
                                                TIFFClose);
    if (!tiff)
        return false;
    TIFF* t = tiff.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(target.width()));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(target.height()));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW); // lossless
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, float(kDpi));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, float(kDpi));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    TIFFSetField(t, TIFFTAG_SOFTWARE, "lumetra_artwork");
    std::vector<uchar> row(size_t(target.width()) * 3);
    for (int y = 0; y < target.height(); ++y) {
        std::copy_n(target.constScanLine(y), row.size(), row.begin());
        if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv); // fonts need the GUI side
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <repository root>\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QString logo = root.filePath(QStringLiteral("resources/branding/quorvane-logo.png"));
    const QString target = root.filePath(QStringLiteral("samples/sample-target.tif"));
    if (!writeLogo(logo)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(logo));
        return 1;
    }
    if (!writeTarget(target)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(target));
        return 1;
    }
    std::printf("wrote %s and %s\n", qPrintable(logo), qPrintable(target));
    return 0;
}
