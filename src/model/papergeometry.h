#pragma once

#include "printmodel.h"

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>

#include <optional>

namespace Lumetra {

// An image fits a sheet when it is no more than this much larger on either side.
constexpr double kFitToleranceInches = 0.0001;

// DIN A4, A3, A3+ and A2, smallest first.
QList<PaperPreset> paperPresets();

// The sheets of one series, smallest first: DIN as above; Letter, Legal, Tabloid, Super B and ANSI C.
QList<PaperPreset> paperPresets(PaperSeries series);

// Every sheet: the DIN series, then the North American one, each smallest first.
QList<PaperPreset> allPaperPresets();

// The sheet of that exact name (the name is the stored identity), if there is one.
std::optional<PaperPreset> paperPresetNamed(const QString& name);

// The series a sheet belongs to, by its name; a sheet of no series counts as DIN.
PaperSeries paperSeries(const PaperPreset& paper);

// True when the image size fits within the paper size, allowing kFitToleranceInches.
// A NaN side never fits.
bool fitsOnPaper(SizeD imageInches, SizeD paperInches);

// The first DIN preset that holds the image in the given orientation, else the largest.
PaperPreset smallestFittingPaper(SizeD imageInches, PrintOrientation orientation);

// The same within one series.
PaperPreset smallestFittingPaper(SizeD imageInches, PrintOrientation orientation, PaperSeries series);

PrintOrientation orientationForImage(SizeD size);

// Any angle in degrees brought into 0..359.
int normalizedDegrees(int degrees);
bool isQuarterTurn(int degrees);
SizeD rotatedSize(SizeD size, int degrees);
QImage rotatedImage(const QImage& image, int degrees);
// The same, taking `alreadyTurned` (a turned copy kept elsewhere, such as the preview's) when it has the
// turned image's size, so that a large target is not turned twice.
QImage rotatedImage(const QImage& image, int degrees, const QImage& alreadyTurned);

// The image rectangle relative to the paper's top-left corner; never clamped.
QRectF imageRectOnPaper(SizeD paper, SizeD image, PrintAlignment alignment);

// Where the settings put the image on a sheet of the given size, in inches:
// the one placement rule shared by the preview and the printout.
QRectF placedImageRectInches(SizeD paperInches, const PrintableImage& image, const PrintSettings& settings);

// The alignment's word on the command line and in print records: "top-left", "top", ..., "center", ...,
// "bottom-right"; and back, for any of the nine words.
QString alignmentKeyword(PrintAlignment alignment);
std::optional<PrintAlignment> alignmentForKeyword(const QString& keyword);

double horizontalFraction(PrintAlignment alignment);
double verticalFraction(PrintAlignment alignment);
QString alignmentTitle(PrintAlignment alignment);

} // namespace Lumetra
