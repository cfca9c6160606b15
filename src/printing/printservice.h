#pragma once

#include "printmodel.h"
#include "usererror.h"

#include <QPageLayout>
#include <QRectF>
#include <QString>

#include <functional>

class QPainter;
class QPrinter;
class QWidget;

namespace Lumetra {

// A print that could not be done, with a finished message for the user.
class PrintException : public UserError
{
public:
    using UserError::UserError;
};

// Puts one target on one sheet at its own physical size: no scaling to fit, no smoothing, no colour
// conversion, no lossy compression.
class PrintService
{
public:
    // Runs the print dialog and prints one page. False when the dialog was cancelled.
    // Throws PrintException when there is no image or the printer cannot be opened.
    bool print(QWidget* parent, const PrintableImage& image, const PrintSettings& settings) const;

    // One page of a target set, decoded when it is drawn so that only one is held at a time.
    using PageSource = std::function<PrintableImage(int index)>;

    // Prints the pages of a set as one job, one sheet per page in order, each drawn as print()
    // draws a single image; the dialog offers a page range (1 to pageCount), which is honoured.
    bool print(QWidget* parent, int pageCount, const PageSource& pageAt, const PrintSettings& settings) const;

    // True where the print dialog is the platform's own and reports the paper the user chose;
    // false where it is Qt's dialog, which does not keep the page set here.
    static bool usesNativeDialog();

    // The preset's exact page in the chosen orientation, without margins.
    static QPageLayout pageLayout(const PrintSettings& settings);

    // Puts the layout's page size and orientation on the printer even where the printer refuses
    // the layout as a whole.
    static void applyPageLayout(QPrinter& printer, const QPageLayout& layout);

    // Everything print() sets on the printer before the dialog opens.
    static void preparePrinter(QPrinter& printer, const PrintSettings& settings);

    // Where the image goes on a sheet, in device pixels, given the sheet's paper rectangle in
    // device pixels and the device's resolution in dots per inch.
    static QRectF targetRect(const QRectF& paperDevicePixels, double resolution, const PrintableImage& image,
                             const PrintSettings& settings);

    // Draws the page as print() does once the printer is open: one drawImage, smoothing off,
    // lossless image rendering on.
    static void drawPage(QPainter& painter, const QRectF& paperDevicePixels, double resolution,
                         const PrintableImage& image, const PrintSettings& settings);
};

} // namespace Lumetra
