#pragma once

#include <QImage>
#include <QString>
#include <QtGlobal>

namespace Lumetra {

// A width and a height; the unit is that of the operation that produced it.
struct SizeD
{
    double width = 0.0;
    double height = 0.0;
};

enum class PrintOrientation : qint32
{
    Portrait = 0,
    Landscape = 1,
};

// Row-major over a 3 x 3 grid: value = 3 * row + column.
enum class PrintAlignment : qint32
{
    TopLeft = 0,
    TopCenter = 1,
    TopRight = 2,
    CenterLeft = 3,
    Center = 4,
    CenterRight = 5,
    BottomLeft = 6,
    BottomCenter = 7,
    BottomRight = 8,
};

constexpr double kMillimetersPerInch = 25.4;
constexpr double kDipsPerInch = 96.0;
constexpr double kFallbackDpi = 72.0;

// The families of sheets on offer. A sheet chosen automatically for an image comes from the
// family of the sheet the user works with.
enum class PaperSeries : qint32
{
    Din = 0,
    NorthAmerican = 1,
};

// A named sheet size, stored in portrait (width is the short side).
struct PaperPreset
{
    QString name;
    double widthMillimeters = 0.0;
    double heightMillimeters = 0.0;

    SizeD sizeMillimeters(PrintOrientation orientation) const;
    SizeD sizeInches(PrintOrientation orientation) const;
};

struct PrintSettings
{
    PaperPreset paper;
    PrintOrientation orientation = PrintOrientation::Portrait;
    PrintAlignment alignment = PrintAlignment::Center;
    int rotationDegrees = 0;
};

// One decoded target with the facts needed to print it at its physical size.
struct PrintableImage
{
    QString filePath;
    QString fileName;
    quint32 pixelWidth = 0;
    quint32 pixelHeight = 0;
    double dpiX = kFallbackDpi;
    double dpiY = kFallbackDpi;
    QString colorModel = QStringLiteral("Unknown");
    bool hasIccProfile = false;
    QString iccProfileDescription;
    // True when the file states no usable resolution and kFallbackDpi stands in for it.
    bool resolutionAssumed = false;
    // Channels the file holds beyond its colour model and alpha (spot colours, unspecified extra
    // samples), which are not printed.
    int ignoredChannels = 0;
    QImage image;

    SizeD printSizeInches() const;
    SizeD printSizeMillimeters() const;
    SizeD printSizeDips() const;
};

// The resolution actually used for layout: anything that is not a finite,
// positive number stands for a missing value and becomes 72 dpi.
double effectiveDpi(double dpi);

} // namespace Lumetra
