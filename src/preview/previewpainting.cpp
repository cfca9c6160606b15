#include "previewpainting.h"

#include "papergeometry.h"
#include "previewwidget.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QFontMetricsF>
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

// Fonts given in pixels report no point size; size those in pixels instead.
void setFontSize(QFont& font, double size, bool inPixels)
{
    if (inPixels)
        font.setPixelSize(std::max(1, int(std::lround(size))));
    else
        font.setPointSizeF(std::max(1.0, size));
}

// The drop icon, pen included, spans 71 x 73 pixels at full size; its centre is 37.5 below its top.
constexpr double kIconWidth = 71.0, kIconHeight = 73.0, kIconCentre = 37.5;

void paintPlaceholder(QPainter& painter, const QRectF& sheet)
{
    const PlaceholderLayout layout = placeholderLayout(sheet, painter.font(), painter.device());
    painter.setPen(makePen(kCardBorder, 2.0, Qt::DashLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(kCardFill);
    painter.drawRoundedRect(layout.card, 8.0, 8.0, Qt::AbsoluteSize);

    // A tray open at the top and an arrow pointing down into it, drawn about the icon's centre.
    const double s = layout.scale;
    const QPointF c(layout.iconBox.center().x(), layout.iconBox.top() + kIconCentre * s);
    QPainterPath tray;
    tray.moveTo(c + QPointF(-34.0, 16.0) * s);
    tray.lineTo(c + QPointF(-34.0, 34.0) * s);
    tray.lineTo(c + QPointF(34.0, 34.0) * s);
    tray.lineTo(c + QPointF(34.0, 16.0) * s);
    painter.setPen(makePen(kIcon, 3.0 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(tray);
    painter.drawLine(QLineF(c + QPointF(0.0, -36.0) * s, c + QPointF(0.0, 12.0) * s));
    painter.drawLine(QLineF(c + QPointF(-16.0, -4.0) * s, c + QPointF(0.0, 12.0) * s));
    painter.drawLine(QLineF(c + QPointF(16.0, -4.0) * s, c + QPointF(0.0, 12.0) * s));

    painter.setPen(kFirstLine);
    painter.setFont(layout.titleFont);
    painter.drawText(layout.titleBox, kPlaceholderTextFlags, layout.title);
    painter.setPen(kSecondLine);
    painter.setFont(layout.hintFont);
    painter.drawText(layout.hintBox, kPlaceholderTextFlags, layout.hint);
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

PlaceholderLayout placeholderLayout(const QRectF& sheet, const QFont& font, QPaintDevice* device)
{
    // The title sits 16 pixels below the icon at full size, the second line 8 below the title.
    constexpr double kIconGap = 16.0, kLineGap = 8.0, kPadding = 12.0, kSmallest = 0.25;
    PlaceholderLayout layout;
    // A small sheet keeps a narrower border round the card, leaving the hint its room.
    const double inset = std::min(44.0, 0.1 * std::min(sheet.width(), sheet.height()));
    layout.card = sheet.adjusted(inset, inset, -inset, -inset);
    const QRectF room = layout.card.adjusted(kPadding, kPadding, -kPadding, -kPadding);
    layout.title = PreviewWidget::tr("Drag and drop a target image");
    layout.hint = PreviewWidget::tr("TIFF, JPEG, or PNG");

    const bool inPixels = font.pointSizeF() <= 0.0;
    const double base = inPixels ? font.pixelSize() : font.pointSizeF();
    const QRectF unbounded(0.0, 0.0, std::max(room.width(), 1.0), 1e6);
    for (double scale = 1.0;; scale *= 0.9) {
        layout.scale = scale;
        layout.titleFont = font;
        setFontSize(layout.titleFont, (base + 2.0) * scale, inPixels);
        layout.titleFont.setWeight(QFont::Bold);
        layout.hintFont = font;
        setFontSize(layout.hintFont, std::max(base, 10.0) * scale, inPixels);
        layout.hintFont.setWeight(QFont::Normal);
        const QRectF title = QFontMetricsF(layout.titleFont, device)
                                 .boundingRect(unbounded, kPlaceholderTextFlags, layout.title);
        const QRectF hint = QFontMetricsF(layout.hintFont, device)
                                .boundingRect(unbounded, kPlaceholderTextFlags, layout.hint);
        const double height = (kIconHeight + kIconGap + kLineGap) * scale + title.height() + hint.height();
        const double width = std::max({kIconWidth * scale, title.width(), hint.width()});
        if ((height <= room.height() && width <= room.width()) || scale < kSmallest) {
            const double top = room.center().y() - height * 0.5;
            layout.iconBox = QRectF(room.center().x() - kIconWidth * scale * 0.5, top, kIconWidth * scale,
                                    kIconHeight * scale);
            layout.titleBox =
                QRectF(room.left(), top + (kIconHeight + kIconGap) * scale, room.width(), title.height());
            layout.hintBox =
                QRectF(room.left(), layout.titleBox.bottom() + kLineGap * scale, room.width(), hint.height());
            return layout;
        }
    }
}

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
