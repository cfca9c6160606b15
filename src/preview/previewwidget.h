#pragma once

#include "printmodel.h"

#include <QImage>
#include <QMarginsF>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QWidget>

#include <optional>

class QKeyEvent;
class QMouseEvent;
class QPaintEvent;
class QWheelEvent;

namespace Lumetra {

// The sheet of paper, fitted into the widget with a margin, and the loaded image
// placed on it exactly where and as large as it prints. Zooms with the wheel and
// keys, pans by dragging once zoomed in beyond the fit.
class PreviewWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr double kLayoutDpi = 96.0;
    static constexpr double kMargin = 48.0;
    static constexpr double kMinZoom = 0.2;
    static constexpr double kMaxZoom = 32.0;
    static constexpr double kZoomEpsilon = 0.0001;
    static constexpr double kZoomStep = 1.2;
    static constexpr double kWheelZoomBase = 1.0018;
    static constexpr double kPanZoomThreshold = 1.0;
    static constexpr double kUnsmoothedZoom = 8.0;

    explicit PreviewWidget(QWidget* parent = nullptr);
    ~PreviewWidget() override;

    void setSettings(PrintSettings settings);
    void setImage(std::optional<PrintableImage> image);
    // The printer's unprintable margins for the shown sheet in millimetres, outlined on the sheet;
    // null when unknown or when the sheet prints to the edge.
    void setUnprintableMargins(const QMarginsF& millimetres);

    double zoomPercent() const;
    bool zoomEnabled() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void zoomChanged(double percent);
    void zoomEnabledChanged(bool enabled);

public slots:
    void zoomIn();
    void zoomOut();
    void resetZoomToFit();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

public:
    // The held image turned by the settings' rotation, made once per image and
    // rotation instead of on every paint: turning a large target costs far more
    // than a frame. The print shares it, so a large target is never turned twice.
    const QImage& turnedImage();

private:
    void setZoomFactor(double factor, const QPointF& anchor);
    void clampPan();
    void emitZoomState();
    QRectF paperRect() const;
    double fitScale() const;

    void dropStaleTurnedImage();

    PrintSettings m_settings;
    std::optional<PrintableImage> m_image;
    double m_zoom = 1.0;
    QPointF m_pan;
    QPointF m_lastPanPos;
    bool m_panning = false;
    bool m_lastZoomEnabled = false;

    QMarginsF m_unprintableMm;
    QImage m_turnedImage;
    qint64 m_turnedImageKey = 0;
    int m_turnedImageDegrees = 0;
};

} // namespace Lumetra
