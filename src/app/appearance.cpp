#include "mainwindow.h"

#include "papergeometry.h"

#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QSvgRenderer>
#include <QToolBar>
#include <QToolButton>

#include <functional>

namespace Lumetra {

namespace {

const QColor kAccent(0x15, 0x5a, 0xda);
const QColor kAlert(0xd9, 0x30, 0x25);

QColor mix(const QColor& from, const QColor& to, double amount)
{
    const auto blend = [amount](double a, double b) { return a + (b - a) * amount; };
    return QColor::fromRgbF(float(blend(from.redF(), to.redF())), float(blend(from.greenF(), to.greenF())),
                            float(blend(from.blueF(), to.blueF())));
}

// One pixmap per device-pixel ratio a screen is likely to have, so that icons stay sharp on
// high-density screens instead of being scaled up from the 1x drawing.
QIcon paintedIcon(QSize size, const std::function<void(QPainter&)>& paint)
{
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(size * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A monochrome glyph in the palette's text colour, readable on light and dark toolbars alike.
QIcon glyphIcon(const QString& svgPath, const QColor& colour)
{
    return paintedIcon(QSize(24, 24), [&](QPainter& painter) {
        QSvgRenderer renderer(svgPath);
        QSizeF glyph = renderer.defaultSize();
        glyph.scale(22, 22, Qt::KeepAspectRatio);
        renderer.render(&painter, QRectF(QPointF(12 - glyph.width() / 2, 12 - glyph.height() / 2), glyph));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(0, 0, 24, 24), colour);
    });
}

// A sheet inside four corner brackets: the sheet fills the view.
QIcon fitToScreenIcon(const QColor& colour)
{
    return paintedIcon(QSize(48, 48), [&](QPainter& painter) {
        painter.setPen(QPen(colour, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        for (const QPointF& corner : {QPointF(7, 7), QPointF(41, 7), QPointF(41, 41), QPointF(7, 41)}) {
            const double dx = corner.x() < 24 ? 9 : -9;
            const double dy = corner.y() < 24 ? 9 : -9;
            painter.drawPolyline(QPolygonF({corner + QPointF(0, dy), corner, corner + QPointF(dx, 0)}));
        }
        painter.setPen(QPen(kAccent, 2.5, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(mix(kAccent, Qt::white, 0.85));
        painter.drawRect(QRectF(16, 14, 16, 20));
    });
}

// A chevron pointing back (left) or forward (right).
QIcon pageIcon(bool forward, const QColor& colour)
{
    return paintedIcon(QSize(48, 48), [&](QPainter& painter) {
        painter.setPen(QPen(colour, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const double tip = forward ? 32 : 16;
        const double tail = forward ? 18 : 30;
        painter.drawPolyline(QPolygonF({QPointF(tail, 10), QPointF(tip, 24), QPointF(tail, 38)}));
    });
}

// A sheet with a blue dot where the alignment puts the image. It depicts paper, so it keeps
// paper colours on any palette.
QIcon alignmentIcon(PrintAlignment alignment)
{
    return paintedIcon(QSize(48, 48), [&](QPainter& painter) {
        painter.setPen(QPen(QColor(0x51, 0x5e, 0x6e), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(QRectF(10, 8, 28, 32), 3, 3, Qt::AbsoluteSize);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kAccent);
        const QPointF centre(10 + horizontalFraction(alignment) * 28, 8 + verticalFraction(alignment) * 32);
        painter.drawEllipse(QRectF(centre.x() - 4.5, centre.y() - 4.5, 9, 9));
    });
}

// Text colour for secondary lines: quieter than the body text, yet well above 4.5 : 1.
void setMutedText(QLabel* label, const QPalette& palette)
{
    const QColor muted = mix(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.25);
    QPalette own = label->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        own.setColor(group, QPalette::WindowText, muted);
    label->setPalette(own);
}

} // namespace

// Everything the window draws in colour, derived from the current palette so that
// a dark desktop gets a dark, readable window. The preview keeps its own colours.
void MainWindow::applyPaletteColours()
{
    const QPalette pal = palette();
    const QColor text = pal.color(QPalette::WindowText);
    const QColor window = pal.color(QPalette::Window);
    const QColor base = pal.color(QPalette::Base);
    const QColor border = mix(window, text, 0.3);
    const QColor hoverBorder = mix(window, kAccent, 0.5);

    m_loadAction->setIcon(glyphIcon(QStringLiteral(":/icons/open.svg"), text));
    m_printAction->setIcon(glyphIcon(QStringLiteral(":/icons/print.svg"), text));
    m_fitAction->setIcon(fitToScreenIcon(text));
    m_previousPageAction->setIcon(pageIcon(false, text));
    m_nextPageAction->setIcon(pageIcon(true, text));
    if (auto* toolBar = findChild<QToolBar*>(QStringLiteral("MainToolBar"))) {
        toolBar->setStyleSheet(
            QStringLiteral("QToolBar { spacing: 6px; }"
                           "QToolButton { border: 1px solid transparent; border-radius: 5px; padding: 5px; }"
                           "QToolButton:hover { background: %1; border-color: %2; }"
                           "QToolButton:pressed { background: %3; }")
                .arg(mix(window, kAccent, 0.1).name(), hoverBorder.name(), mix(window, kAccent, 0.2).name()));
    }

    for (QLabel* label :
         {m_zoomLabel, m_pageLabel, m_printerLabel, m_pixelsLabel, m_dpiLabel, m_printSizeLabel,
          m_colorModelLabel, m_iccLabel, m_pageCountLabel, m_pageDifferencesLabel})
        setMutedText(label, pal);

    for (size_t i = 0; i < m_alignmentButtons.size(); ++i) {
        m_alignmentButtons[i]->setIcon(alignmentIcon(static_cast<PrintAlignment>(i)));
        m_alignmentButtons[i]->setStyleSheet(
            QStringLiteral("QToolButton { border: 1px solid %1; border-radius: 6px; background: %2; }"
                           "QToolButton:hover { background: %3; border-color: %4; }"
                           "QToolButton:checked { background: %5; border: 2px solid %6; }")
                .arg(border.name(), base.name(), mix(base, kAccent, 0.06).name(), hoverBorder.name(),
                     mix(base, kAccent, 0.15).name(), kAccent.name()));
    }
    m_logoButton->setStyleSheet(
        QStringLiteral(
            "QToolButton { border: 1px solid %1; border-radius: 6px; background: %2; padding: 12px; }"
            "QToolButton:hover { background: %3; border-color: %4; }")
            .arg(border.name(), base.name(), mix(base, kAccent, 0.04).name(), hoverBorder.name()));
    m_errorLabel->setStyleSheet(
        QStringLiteral("QLabel { color: %1; background: %2; border: 1px solid %3; padding: 8px; }")
            .arg(text.name(), mix(window, kAlert, 0.14).name(), mix(window, kAlert, 0.5).name()));
}

} // namespace Lumetra
