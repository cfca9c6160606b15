#pragma once

#include "printmodel.h"

#include <QImage>
#include <QMarginsF>
#include <QPointF>
#include <QRectF>
#include <QSize>

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

// Widget pixels per layout pixel at zoom 1: the sheet fitted into the widget less
// the margin. Zero for a sheet without area, so nothing downstream divides by it.
double previewFitScale(QSize widgetSize, SizeD paperInches);

// The sheet in widget pixels, centred and then moved by the pan.
QRectF previewSheetRect(QSize widgetSize, SizeD paperInches, double zoom, QPointF pan);

// Draws one whole frame. turnedPixels are the image's pixels already turned by
// the settings' rotation (rotatedImage); ignored when frame.image is null.
void paintPreviewFrame(QPainter& painter, const PreviewFrame& frame, const QImage& turnedPixels);

} // namespace Lumetra
