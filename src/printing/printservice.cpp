#include "printservice.h"

#include "papergeometry.h"

#include <QGuiApplication>
#include <QMarginsF>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace Lumetra {

namespace {

// Spooling a large target takes seconds; the wait cursor goes on every way out.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

bool PrintService::usesNativeDialog()
{
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    return true;
#else
    return false;
#endif
}

QPageLayout PrintService::pageLayout(const PrintSettings& settings)
{
    const SizeD portrait = settings.paper.sizeMillimeters(PrintOrientation::Portrait);
    // ExactMatch keeps the preset's size even when a standard size lies close by. A preset that is
    // exactly a standard sheet gets Qt's standard id, whose key is the media name CUPS and driverless
    // printers know (A4, Letter, Legal, Tabloid, AnsiC). Qt's own SuperB is another sheet (305 x 487 mm),
    // so Super B (13 x 19 in) keeps its exact custom size.
    const QPageSize pageSize(QSizeF(portrait.width, portrait.height), QPageSize::Millimeter,
                             settings.paper.name, QPageSize::ExactMatch);
    const QPageLayout::Orientation orientation =
        settings.orientation == PrintOrientation::Landscape ? QPageLayout::Landscape : QPageLayout::Portrait;
    QPageLayout layout(pageSize, orientation, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter,
                       QMarginsF(0, 0, 0, 0));
    layout.setMode(QPageLayout::FullPageMode);
    return layout;
}

void PrintService::applyPageLayout(QPrinter& printer, const QPageLayout& layout)
{
    printer.setPageLayout(layout);
    // A CUPS queue whose driver has non-zero minimum margins and no custom sizes refuses the whole
    // layout and keeps its default page; the page size and orientation on their own are always taken.
    // With full-page printing the margins do not move the sheet's origin.
    if (!printer.pageLayout().pageSize().isEquivalentTo(layout.pageSize()) ||
        printer.pageLayout().orientation() != layout.orientation()) {
        printer.setPageSize(layout.pageSize());
        printer.setPageOrientation(layout.orientation());
        printer.setPageMargins(layout.margins(), layout.units());
    }
    // Replacing the layout may drop full-page mode, which keeps the painter's origin on the sheet's corner.
    printer.setFullPage(true);
}

void PrintService::preparePrinter(QPrinter& printer, const PrintSettings& settings)
{
    printer.setDocName(QStringLiteral("Lumetra"));
    printer.setFullPage(true);
    applyPageLayout(printer, pageLayout(settings));
    // Queues whose driver does not announce colour would otherwise default to grey.
    printer.setColorMode(QPrinter::Color);
}

QRectF PrintService::targetRect(const QRectF& paperDevicePixels, double resolution,
                                const PrintableImage& image, const PrintSettings& settings)
{
    const SizeD sheetInches{paperDevicePixels.width() / resolution, paperDevicePixels.height() / resolution};
    const QRectF inches = placedImageRectInches(sheetInches, image, settings);
    return {paperDevicePixels.x() + inches.x() * resolution, paperDevicePixels.y() + inches.y() * resolution,
            inches.width() * resolution, inches.height() * resolution};
}

void PrintService::drawPage(QPainter& painter, const QRectF& paperDevicePixels, double resolution,
                            const PrintableImage& image, const PrintSettings& settings)
{
    // Pixels are replicated, never interpolated, and never JPEG-compressed by a PDF spool.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::LosslessImageRendering, true);
    const QRectF target = targetRect(paperDevicePixels, resolution, image, settings);
    const QImage pixels = rotatedImage(image.image, settings.rotationDegrees);
    painter.drawImage(target, pixels, QRectF(0, 0, pixels.width(), pixels.height()), Qt::AutoColor);
}

bool PrintService::print(QWidget* parent, const PrintableImage& image, const PrintSettings& settings) const
{
    if (image.image.isNull())
        throw PrintException(QStringLiteral("No image is loaded."));

    QPrinter printer(QPrinter::HighResolution);
    preparePrinter(printer, settings);

    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // Qt's own dialog falls back to the queue's default page; the preview, the fit and the crop
    // warning all refer to the preset, so it wins there. A native dialog reports what the user
    // chose, and that choice stands.
    if (!usesNativeDialog())
        applyPageLayout(printer, pageLayout(settings));

    const WaitCursor waitCursor;
    QPainter painter(&printer);
    if (!painter.isActive())
        throw PrintException(QStringLiteral("The printer could not be opened."));
    drawPage(painter, printer.paperRect(QPrinter::DevicePixel), printer.resolution(), image, settings);
    painter.end();
    return true;
}

} // namespace Lumetra
