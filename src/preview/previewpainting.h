#pragma once

#include "printmodel.h"

#include <QFont>
#include <QImage>
#include <QMarginsF>
#include <QPointF>
#include <QRectF>
#include <QSize>

class QPaintDevice;
class QPainter;

namespace Lumetra {

// Everything one frame of the preview is drawn from. Internal to the preview
// library; PreviewWidget is its only client in the application.
struct PreviewFrame
{
    QSize widgetSize;
    PrintSettings settings;
    const PrintableImage* image = nullptr; // null: no image, draw the drop target
    double zoom = 1.0;
    QPointF pan;
    // What the printer cannot print at each edge of the sheet, in millimetres; null when unknown or
    // when it prints to the edge. Otherwise the printable area is outlined.
    QMarginsF unprintableMm;
};

// Where the empty sheet's drop hint goes: a dashed card inside the sheet, the tray-and-arrow icon
// and two lines of text stacked in its middle. The text wraps, and everything shrinks together
// where the card is small, so that no line is ever clipped.
struct PlaceholderLayout
{
    QRectF card;
    QRectF iconBox;
    double scale = 1.0; // of the icon and the text against their full size
    QString title;
    QFont titleFont;
    QRectF titleBox;
    QString hint;
    QFont hintFont;
    QRectF hintBox;
};

constexpr int kPlaceholderTextFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;

// `font` is the widget's; the text is measured for `device`, the one it is painted on.
PlaceholderLayout placeholderLayout(const QRectF& sheet, const QFont& font, QPaintDevice* device);

// Widget pixels per layout pixel at zoom 1: the sheet fitted into the widget less
// the margin. Zero for a sheet without area, so nothing downstream divides by it.
double previewFitScale(QSize widgetSize, SizeD paperInches);

// The sheet in widget pixels, centred and then moved by the pan.
QRectF previewSheetRect(QSize widgetSize, SizeD paperInches, double zoom, QPointF pan);

// Draws one whole frame. turnedPixels are the image's pixels already turned by
// the settings' rotation (rotatedImage); ignored when frame.image is null.
void paintPreviewFrame(QPainter& painter, const PreviewFrame& frame, const QImage& turnedPixels);

} // namespace Lumetra
