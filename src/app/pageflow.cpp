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
    const BusyCursor busy;
    // The page shown lets go of its pixels, in the window and in the preview, before the next
    // is decoded, so that one page at a time is held however large the set.
    m_image->image = QImage();
    m_preview->setImage(m_image);
    QString problem;
    try {
        m_image = m_imageLoader.loadPage(m_set.pages.at(index));
        m_pageShown = index;
    } catch (const ImageLoadException& error) {
        problem = error.message();
    } catch (const std::exception& error) {
        problem = QString::fromUtf8(error.what());
    }
    if (problem.isEmpty()) {
        clearError();
    } else {
        // The page that was shown read well a moment ago and stays; should it have gone too, the
        // sheet shows empty under the first error, and printing refuses the empty page.
        try {
            m_image = m_imageLoader.loadPage(m_set.pages.at(m_pageShown));
        } catch (const std::exception&) {
            m_image->image = QImage();
        }
        showError(QStringLiteral("Could not show the page"), problem);
    }
    updateMetadata();
    updatePreview();
    updatePageNavigation();
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
