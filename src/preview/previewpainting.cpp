#include "previewpainting.h"

#include "papergeometry.h"
#include "previewwidget.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace Lumetra {

namespace {

const QColor kBackground(245, 247, 250);
const QColor kSheetBorder(150, 158, 171);
const QColor kCardBorder(82, 99, 118);
const QColor kCardFill(247, 250, 252);
const QColor kIcon(48, 61, 76);
const QColor kFirstLine(35, 45, 58);
const QColor kSecondLine(93, 107, 124);
const QColor kImageFrame(66, 84, 102);
const QColor kPrintableArea(0x15, 0x5a, 0xda);

QPen makePen(const QColor& colour, qreal width, Qt::PenStyle style, Qt::PenCapStyle cap,
             Qt::PenJoinStyle join)
{
    return QPen(QBrush(colour), width, style, cap, join);
}

// Fonts given in pixels report no point size; grow or shrink those in pixels instead.
void setFontSize(QFont& font, int size, bool inPixels)
{
    if (inPixels)
        font.setPixelSize(std::max(1, size));
    else
        font.setPointSize(std::max(1, size));
}

void paintPlaceholder(QPainter& painter, const QRectF& sheet)
{
    const QRectF card(sheet.x() + 44.0, sheet.y() + 44.0, sheet.width() - 88.0, sheet.height() - 88.0);
    painter.setPen(makePen(kCardBorder, 2.0, Qt::DashLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(kCardFill);
    painter.drawRoundedRect(card, 8.0, 8.0, Qt::AbsoluteSize);

    const double cx = card.x() + card.width() * 0.5;
    const double cy = card.y() + card.height() * 0.5;

    QPainterPath tray;
    tray.moveTo(cx - 34.0, cy + 16.0);
    tray.lineTo(cx - 34.0, cy + 34.0);
    tray.lineTo(cx + 34.0, cy + 34.0);
    tray.lineTo(cx + 34.0, cy + 16.0);
    painter.setPen(makePen(kIcon, 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(tray);
    painter.drawLine(QLineF(cx, cy - 36.0, cx, cy + 12.0));
    painter.drawLine(QLineF(cx - 16.0, cy - 4.0, cx, cy + 12.0));
    painter.drawLine(QLineF(cx + 16.0, cy - 4.0, cx, cy + 12.0));

    painter.setPen(kFirstLine);
    QFont titleFont = painter.font();
    const bool inPixels = titleFont.pointSize() <= 0;
    const int baseSize = inPixels ? titleFont.pixelSize() : titleFont.pointSize();
    setFontSize(titleFont, baseSize + 2, inPixels);
    titleFont.setWeight(QFont::Bold);
    painter.setFont(titleFont);
    const int textFlags = Qt::AlignHCenter | Qt::AlignTop;
    painter.drawText(QRectF(card.x() + 20.0, card.y() + 112.0, card.width() - 40.0, card.height() - 192.0),
                     textFlags, PreviewWidget::tr("Drag and drop a target image"));

    QFont hintFont = painter.font();
    setFontSize(hintFont, std::max(baseSize + 2, 12) - 2, inPixels);
    hintFont.setWeight(QFont::Normal);
    painter.setFont(hintFont);
    painter.setPen(kSecondLine);
    painter.drawText(QRectF(card.x() + 20.0, card.y() + 144.0, card.width() - 40.0, card.height() - 192.0),
                     textFlags, PreviewWidget::tr("TIFF, JPEG, or PNG"));
}

void paintImage(QPainter& painter, const PreviewFrame& frame, SizeD paper, const QRectF& sheet,
                const QImage& turnedPixels)
{
    // The same placement the printout uses, only scaled to widget pixels.
    const QRectF inches = placedImageRectInches(paper, *frame.image, frame.settings);
    const double scale = previewFitScale(frame.widgetSize, paper) * frame.zoom;
    const double perInch = PreviewWidget::kLayoutDpi * scale;
    const QRectF target(sheet.x() + inches.x() * perInch, sheet.y() + inches.y() * perInch,
                        inches.width() * perInch, inches.height() * perInch);

    // Magnified far enough, the user is looking at single pixels: show them crisp.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, frame.zoom < PreviewWidget::kUnsmoothedZoom);
    painter.save();
    painter.setClipRect(sheet, Qt::ReplaceClip);
    painter.drawImage(target, turnedPixels, QRectF(0.0, 0.0, turnedPixels.width(), turnedPixels.height()));
    painter.restore();

    painter.setPen(makePen(kImageFrame, 1.0, Qt::DashLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(target);
}

} // namespace

double previewFitScale(QSize widgetSize, SizeD paperInches)
{
    const double sheetWidth = paperInches.width * PreviewWidget::kLayoutDpi;
    const double sheetHeight = paperInches.height * PreviewWidget::kLayoutDpi;
    if (!(sheetWidth > 0.0) || !(sheetHeight > 0.0) || !std::isfinite(sheetWidth) ||
        !std::isfinite(sheetHeight))
        return 0.0;
    const double margins = 2.0 * PreviewWidget::kMargin;
    const double availableWidth = std::max(widgetSize.width(), 97) - margins;
    const double availableHeight = std::max(widgetSize.height(), 97) - margins;
    return std::min(availableWidth / sheetWidth, availableHeight / sheetHeight);
}

QRectF previewSheetRect(QSize widgetSize, SizeD paperInches, double zoom, QPointF pan)
{
    const double scale = previewFitScale(widgetSize, paperInches) * zoom;
    const double width = paperInches.width * PreviewWidget::kLayoutDpi * scale;
    const double height = paperInches.height * PreviewWidget::kLayoutDpi * scale;
    return {pan.x() + (widgetSize.width() - width) * 0.5, pan.y() + (widgetSize.height() - height) * 0.5,
            width, height};
}

void paintPreviewFrame(QPainter& painter, const PreviewFrame& frame, const QImage& turnedPixels)
{
    painter.fillRect(QRect(QPoint(0, 0), frame.widgetSize), kBackground);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);

    const SizeD paper = frame.settings.paper.sizeInches(frame.settings.orientation);
    // Before any real paper arrives there is no sheet to show.
    if (previewFitScale(frame.widgetSize, paper) <= 0.0)
        return;
    const QRectF sheet = previewSheetRect(frame.widgetSize, paper, frame.zoom, frame.pan);

    painter.setPen(makePen(kSheetBorder, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(Qt::white);
    painter.drawRect(sheet);

    if (frame.image)
        paintImage(painter, frame, paper, sheet, turnedPixels);
    else
        paintPlaceholder(painter, sheet);

    if (!frame.unprintableMm.isNull()) {
        const double perMm = sheet.width() / (paper.width * 25.4);
        painter.setPen(makePen(kPrintableArea, 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(sheet.adjusted(frame.unprintableMm.left() * perMm, frame.unprintableMm.top() * perMm,
                                        -frame.unprintableMm.right() * perMm,
                                        -frame.unprintableMm.bottom() * perMm));
    }
}

} // namespace Lumetra
