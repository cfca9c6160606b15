#include "mainwindow.h"

#include "busycursor.h"
#include "previewwidget.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>

#include <exception>

namespace Lumetra {

namespace {

// A chevron pointing left (back) or right (forward).
QIcon pageIcon(bool forward)
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(QStringLiteral("#233040")), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const double tip = forward ? 32 : 16;
    const double tail = forward ? 18 : 30;
    painter.drawPolyline(QPolygonF({QPointF(tail, 10), QPointF(tip, 24), QPointF(tail, 38)}));
    painter.end();
    return QIcon(pixmap);
}

} // namespace

void MainWindow::buildPageNavigation(QToolBar* toolBar)
{
    m_previousPageAction = new QAction(pageIcon(false), QStringLiteral("Previous Page"), this);
    m_previousPageAction->setShortcut(QKeySequence(Qt::Key_PageUp));
    addAction(m_previousPageAction);
    connect(m_previousPageAction, &QAction::triggered, this, [this] { showPage(m_pageShown - 1); });

    m_nextPageAction = new QAction(pageIcon(true), QStringLiteral("Next Page"), this);
    m_nextPageAction->setShortcut(QKeySequence(Qt::Key_PageDown));
    addAction(m_nextPageAction);
    connect(m_nextPageAction, &QAction::triggered, this, [this] { showPage(m_pageShown + 1); });

    m_pageLabel = new QLabel;
    m_pageLabel->setObjectName(QStringLiteral("pageLabel"));
    m_pageLabel->setStyleSheet(QStringLiteral("color: #4f5d6d;"));
    toolBar->addAction(m_previousPageAction);
    toolBar->addWidget(m_pageLabel);
    toolBar->addAction(m_nextPageAction);
}

void MainWindow::showPage(int index)
{
    if (index < 0 || index >= m_set.pages.size() || index == m_pageShown)
        return;
    try {
        PrintableImage image = [&] {
            const BusyCursor busy;
            return m_imageLoader.loadPage(m_set.pages.at(index));
        }();
        m_image = std::move(image);
        m_pageShown = index;
        clearError();
        updateMetadata();
        updatePreview();
        updatePageNavigation();
    } catch (const ImageLoadException& error) {
        showError(QStringLiteral("Could not show the page"), error.message());
    } catch (const std::exception& error) {
        showError(QStringLiteral("Could not show the page"), QString::fromUtf8(error.what()));
    }
}

void MainWindow::updatePageNavigation()
{
    const auto count = int(m_set.pages.size());
    m_previousPageAction->setEnabled(count > 1 && m_pageShown > 0);
    m_nextPageAction->setEnabled(count > 1 && m_pageShown < count - 1);
    m_pageLabel->setText(count > 1 ? QStringLiteral("Page %1 of %2").arg(m_pageShown + 1).arg(count)
                                   : QString());
}

} // namespace Lumetra
