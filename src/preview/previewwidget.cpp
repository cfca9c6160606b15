#include "previewwidget.h"

#include "papergeometry.h"
#include "previewpainting.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace Lumetra {

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_MouseTracking);
}

PreviewWidget::~PreviewWidget() = default;

void PreviewWidget::setSettings(PrintSettings settings)
{
    m_settings = std::move(settings);
    dropStaleTurnedImage();
    clampPan();
    updateGeometry();
    update();
}

void PreviewWidget::setUnprintableMargins(const QMarginsF& millimetres)
{
    if (millimetres == m_unprintableMm)
        return;
    m_unprintableMm = millimetres;
    update();
}

void PreviewWidget::setImage(std::optional<PrintableImage> image)
{
    const QString oldPath = m_image ? m_image->filePath : QString();
    const QString newPath = image ? image->filePath : QString();
    m_image = std::move(image);
    dropStaleTurnedImage();
    if (oldPath != newPath)
        resetZoomToFit();
    updateGeometry();
    update();
    emitZoomState();
}

double PreviewWidget::zoomPercent() const
{
    return m_zoom * 100.0;
}

bool PreviewWidget::zoomEnabled() const
{
    return m_image.has_value();
}

QSize PreviewWidget::sizeHint() const
{
    return {720, 560};
}

QSize PreviewWidget::minimumSizeHint() const
{
    return {360, 360};
}

void PreviewWidget::zoomIn()
{
    setZoomFactor(m_zoom * kZoomStep, QPointF(rect().center()));
}

void PreviewWidget::zoomOut()
{
    setZoomFactor(m_zoom / kZoomStep, QPointF(rect().center()));
}

void PreviewWidget::resetZoomToFit()
{
    m_pan = QPointF(0.0, 0.0);
    m_zoom = 1.0;
    clampPan();
    update();
    emitZoomState();
}

void PreviewWidget::setZoomFactor(double factor, const QPointF& anchor)
{
    if (!m_image)
        return;
    const double target = factor < kMinZoom ? kMinZoom : std::min(factor, kMaxZoom);
    if (std::abs(m_zoom - target) < kZoomEpsilon)
        return;
    if (anchor != QPointF(0.0, 0.0)) {
        // Keep the point of the sheet under the anchor where it is on screen.
        const double ratio = target / m_zoom;
        const QPointF centre(rect().center());
        m_pan = anchor - (anchor - m_pan - centre) * ratio - centre;
    }
    m_zoom = target;
    clampPan();
    update();
    emitZoomState();
}

void PreviewWidget::clampPan()
{
    const QRectF sheet = paperRect();
    const double limitX = std::max(0.0, (sheet.width() - width()) * 0.5 + kMargin);
    const double limitY = std::max(0.0, (sheet.height() - height()) * 0.5 + kMargin);
    m_pan.setX(std::clamp(m_pan.x(), -limitX, limitX));
    m_pan.setY(std::clamp(m_pan.y(), -limitY, limitY));
}

void PreviewWidget::emitZoomState()
{
    emit zoomChanged(m_zoom * 100.0);
    const bool enabled = m_image.has_value();
    if (enabled != m_lastZoomEnabled) {
        m_lastZoomEnabled = enabled;
        emit zoomEnabledChanged(enabled);
    }
}

QRectF PreviewWidget::paperRect() const
{
    return previewSheetRect(size(), m_settings.paper.sizeInches(m_settings.orientation), m_zoom, m_pan);
}

double PreviewWidget::fitScale() const
{
    return previewFitScale(size(), m_settings.paper.sizeInches(m_settings.orientation));
}

void PreviewWidget::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::OtherFocusReason);
    if (m_image && m_zoom > kPanZoomThreshold && event->button() == Qt::LeftButton) {
        m_panning = true;
        m_lastPanPos = event->position();
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PreviewWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_panning && event->button() == Qt::LeftButton) {
        m_panning = false;
        unsetCursor();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void PreviewWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (m_panning && m_image) {
        const QPointF position = event->position();
        m_pan += position - m_lastPanPos;
        m_lastPanPos = position;
        clampPan();
        update();
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void PreviewWidget::wheelEvent(QWheelEvent* event)
{
    if (!m_image) {
        QWidget::wheelEvent(event);
        return;
    }
    const double delta = static_cast<double>(event->angleDelta().y());
    setZoomFactor(m_zoom * std::pow(kWheelZoomBase, delta), event->position());
    event->accept();
}

void PreviewWidget::keyPressEvent(QKeyEvent* event)
{
    if (!m_image) {
        QWidget::keyPressEvent(event);
        return;
    }
    const QPointF centre(rect().center());
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        setZoomFactor(m_zoom * kZoomStep, centre);
        break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        setZoomFactor(m_zoom / kZoomStep, centre);
        break;
    case Qt::Key_0:
        resetZoomToFit();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void PreviewWidget::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    PreviewFrame frame;
    frame.widgetSize = size();
    frame.settings = m_settings;
    frame.image = m_image ? &*m_image : nullptr;
    frame.zoom = m_zoom;
    frame.pan = m_pan;
    frame.unprintableMm = m_unprintableMm;
    paintPreviewFrame(painter, frame, m_image ? turnedImage() : QImage());
}

const QImage& PreviewWidget::turnedImage()
{
    dropStaleTurnedImage();
    if (m_turnedImage.isNull() && m_image && !m_image->image.isNull()) {
        m_turnedImage = rotatedImage(m_image->image, m_settings.rotationDegrees);
        m_turnedImageKey = m_image->image.cacheKey();
        m_turnedImageDegrees = normalizedDegrees(m_settings.rotationDegrees);
    }
    return m_turnedImage;
}

void PreviewWidget::dropStaleTurnedImage()
{
    if (m_turnedImage.isNull())
        return;
    // Released as soon as it is stale, so a replaced target is not kept alive.
    const bool stale = !m_image || m_image->image.cacheKey() != m_turnedImageKey ||
                       normalizedDegrees(m_settings.rotationDegrees) != m_turnedImageDegrees;
    if (stale)
        m_turnedImage = QImage();
}

} // namespace Lumetra
