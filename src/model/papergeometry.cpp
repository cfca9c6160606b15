#include "papergeometry.h"

#include <QTransform>

namespace Lumetra {

namespace {

struct AlignmentEntry
{
    double horizontal;
    double vertical;
    const char* title;
    const char* keyword;
};

constexpr AlignmentEntry kAlignments[] = {
    {0.0, 0.0, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Top Left"), "top-left"},
    {0.5, 0.0, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Top Center"), "top"},
    {1.0, 0.0, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Top Right"), "top-right"},
    {0.0, 0.5, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Center Left"), "left"},
    {0.5, 0.5, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Center"), "center"},
    {1.0, 0.5, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Center Right"), "right"},
    {0.0, 1.0, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Bottom Left"), "bottom-left"},
    {0.5, 1.0, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Bottom Center"), "bottom"},
    {1.0, 1.0, QT_TRANSLATE_NOOP("Lumetra::PrintAlignment", "Bottom Right"), "bottom-right"},
};

const AlignmentEntry& alignmentEntry(PrintAlignment alignment)
{
    // Negative values wrap to large unsigned ones and fall back to Center too.
    const auto index = static_cast<quint32>(alignment);
    return index < 9 ? kAlignments[index] : kAlignments[static_cast<int>(PrintAlignment::Center)];
}

struct SheetEntry
{
    PaperSeries series;
    const char16_t* name;
    double widthMillimeters;
    double heightMillimeters;
};

// Smallest first within each series; the fit depends on that order. The names are stored in the
// settings and must never change. The North American sheets are whole inches (or halves), given in
// millimetres exactly.
constexpr SheetEntry kSheets[] = {
    {PaperSeries::Din, u"DIN A4", 210.0, 297.0},
    {PaperSeries::Din, u"DIN A3", 297.0, 420.0},
    {PaperSeries::Din, u"DIN A3+", 329.0, 483.0},
    {PaperSeries::Din, u"DIN A2", 420.0, 594.0},
    {PaperSeries::NorthAmerican, u"Letter", 215.9, 279.4},
    {PaperSeries::NorthAmerican, u"Legal", 215.9, 355.6},
    {PaperSeries::NorthAmerican, u"Tabloid (11 × 17 in)", 279.4, 431.8},
    {PaperSeries::NorthAmerican, u"Super B (13 × 19 in)", 330.2, 482.6},
    {PaperSeries::NorthAmerican, u"ANSI C (17 × 22 in)", 431.8, 558.8},
};

const SheetEntry* sheetNamed(const QString& name)
{
    for (const SheetEntry& entry : kSheets) {
        if (name == QStringView(entry.name))
            return &entry;
    }
    return nullptr;
}

PaperPreset presetOf(const SheetEntry& entry)
{
    return {QString::fromUtf16(entry.name), entry.widthMillimeters, entry.heightMillimeters};
}

} // namespace

QList<PaperPreset> paperPresets()
{
    return paperPresets(PaperSeries::Din);
}

QList<PaperPreset> paperPresets(PaperSeries series)
{
    // A value of no series lists the DIN sheets, so the list is never empty.
    const PaperSeries wanted =
        series == PaperSeries::NorthAmerican ? PaperSeries::NorthAmerican : PaperSeries::Din;
    QList<PaperPreset> presets;
    for (const SheetEntry& entry : kSheets) {
        if (entry.series == wanted)
            presets.append(presetOf(entry));
    }
    return presets;
}

QList<PaperPreset> allPaperPresets()
{
    QList<PaperPreset> presets;
    for (const SheetEntry& entry : kSheets)
        presets.append(presetOf(entry));
    return presets;
}

std::optional<PaperPreset> paperPresetNamed(const QString& name)
{
    if (const SheetEntry* entry = sheetNamed(name))
        return presetOf(*entry);
    return std::nullopt;
}

PaperSeries paperSeries(const PaperPreset& paper)
{
    const SheetEntry* entry = sheetNamed(paper.name);
    return entry ? entry->series : PaperSeries::Din;
}

bool fitsOnPaper(SizeD imageInches, SizeD paperInches)
{
    return imageInches.width <= paperInches.width + kFitToleranceInches &&
           imageInches.height <= paperInches.height + kFitToleranceInches;
}

PaperPreset smallestFittingPaper(SizeD imageInches, PrintOrientation orientation)
{
    return smallestFittingPaper(imageInches, orientation, PaperSeries::Din);
}

PaperPreset smallestFittingPaper(SizeD imageInches, PrintOrientation orientation, PaperSeries series)
{
    const QList<PaperPreset> presets = paperPresets(series);
    for (const PaperPreset& preset : presets) {
        if (fitsOnPaper(imageInches, preset.sizeInches(orientation)))
            return preset;
    }
    return presets.last();
}

PrintOrientation orientationForImage(SizeD size)
{
    return size.width > size.height ? PrintOrientation::Landscape : PrintOrientation::Portrait;
}

int normalizedDegrees(int degrees)
{
    return ((degrees % 360) + 360) % 360;
}

bool isQuarterTurn(int degrees)
{
    const int n = normalizedDegrees(degrees);
    return n == 90 || n == 270;
}

SizeD rotatedSize(SizeD size, int degrees)
{
    if (isQuarterTurn(degrees))
        return {size.height, size.width};
    return size;
}

QImage rotatedImage(const QImage& image, int degrees)
{
    const int n = normalizedDegrees(degrees);
    if (n == 0 || image.isNull())
        return image;
    QTransform transform;
    transform.rotate(static_cast<qreal>(n), Qt::ZAxis);
    return image.transformed(transform, Qt::FastTransformation);
}

QImage rotatedImage(const QImage& image, int degrees, const QImage& alreadyTurned)
{
    const SizeD turned = rotatedSize(SizeD{double(image.width()), double(image.height())}, degrees);
    if (!alreadyTurned.isNull() && alreadyTurned.width() == int(turned.width) &&
        alreadyTurned.height() == int(turned.height))
        return alreadyTurned;
    return rotatedImage(image, degrees);
}

QRectF imageRectOnPaper(SizeD paper, SizeD image, PrintAlignment alignment)
{
    const double x = (paper.width - image.width) * horizontalFraction(alignment);
    const double y = (paper.height - image.height) * verticalFraction(alignment);
    return {x, y, image.width, image.height};
}

QRectF placedImageRectInches(SizeD paperInches, const PrintableImage& image, const PrintSettings& settings)
{
    return imageRectOnPaper(paperInches, rotatedSize(image.printSizeInches(), settings.rotationDegrees),
                            settings.alignment);
}

QString alignmentKeyword(PrintAlignment alignment)
{
    return QString::fromLatin1(alignmentEntry(alignment).keyword);
}

std::optional<PrintAlignment> alignmentForKeyword(const QString& keyword)
{
    for (int i = 0; i < 9; ++i) {
        if (keyword == QLatin1String(kAlignments[i].keyword))
            return static_cast<PrintAlignment>(i);
    }
    return std::nullopt;
}

double horizontalFraction(PrintAlignment alignment)
{
    return alignmentEntry(alignment).horizontal;
}

double verticalFraction(PrintAlignment alignment)
{
    return alignmentEntry(alignment).vertical;
}

QString alignmentTitle(PrintAlignment alignment)
{
    return QString::fromLatin1(alignmentEntry(alignment).title);
}

} // namespace Lumetra
