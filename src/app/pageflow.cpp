#include "mainwindow.h"

#include "busycursor.h"
#include "previewwidget.h"

#include <QAction>
#include <QKeySequence>
#include <QLabel>
#include <QScopeGuard>

#include <exception>

namespace Lumetra {

void MainWindow::buildPageActions()
{
    m_previousPageAction = new QAction(tr("&Previous Page"), this);
    m_previousPageAction->setObjectName(QStringLiteral("previousPageAction"));
    m_previousPageAction->setShortcut(QKeySequence(Qt::Key_PageUp));
    addAction(m_previousPageAction);
    connect(m_previousPageAction, &QAction::triggered, this, [this] { showPage(m_pageShown - 1); });

    m_nextPageAction = new QAction(tr("&Next Page"), this);
    m_nextPageAction->setObjectName(QStringLiteral("nextPageAction"));
    m_nextPageAction->setShortcut(QKeySequence(Qt::Key_PageDown));
    addAction(m_nextPageAction);
    connect(m_nextPageAction, &QAction::triggered, this, [this] { showPage(m_pageShown + 1); });

    m_pageLabel = new QLabel;
    m_pageLabel->setObjectName(QStringLiteral("pageLabel"));
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
        showError(tr("Could not show the page"), problem);
    }
    updateMetadata();
    updatePreview();
    updatePageNavigation();
}

bool MainWindow::printSet()
{
    QList<PrintableImage> pages;
    for (const TargetPage& page : m_set.pages)
        pages << page.facts;
    // While the job is written, the page shown lets go of its pixels, in the window and in the
    // preview, so that the page being written is the only one held; it is read again afterwards.
    bool released = false;
    const auto restore = qScopeGuard([this, &released] {
        if (!released)
            return;
        try {
            m_image = m_imageLoader.loadPage(m_set.pages.at(m_pageShown));
        } catch (const std::exception& error) {
            showError(tr("Could not show the page"), QString::fromUtf8(error.what()));
        }
        updatePreview();
    });
    // Pages are decoded on the thread that writes the job, from copies of what they need.
    const ImageLoader& loader = m_imageLoader;
    const TargetSet set = m_set;
    return m_printService.print(
        this, pages, [&loader, set](int index) { return loader.loadPage(set.pages.at(index)); }, m_settings,
        [this, &released] {
            released = true;
            m_image->image = QImage();
            updatePreview();
        });
}

void MainWindow::updatePageNavigation()
{
    const auto count = int(m_set.pages.size());
    m_pageLabel->setText(count > 1 ? tr("Page %1 of %2").arg(m_pageShown + 1).arg(count) : QString());
    updateCommands();
}

} // namespace Lumetra
