#include "mainwindow.h"

#include "backgroundload.h"
#include "papergeometry.h"
#include "targetwarnings.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QUrl>

#include <exception>

namespace Lumetra {

void MainWindow::openImage()
{
    QStringList patterns;
    for (const QString& suffix : ImageLoader::suffixes())
        patterns << QStringLiteral("*.") + suffix;
    // Several files selected together are the sheets of one target.
    QFileDialog dialog(this, tr("Load target image"), browsedFolder(),
                       tr("Target images (%1)").arg(patterns.join(QLatin1Char(' '))));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    const bool chosen = dialog.exec() == QDialog::Accepted;
    // Where the user went is where they will look next time, whether or not they chose a file there.
    rememberBrowsedFolder(dialog.directory().absolutePath());
    if (chosen)
        openTargets(dialog.selectedFiles());
}

void MainWindow::loadCommandLine(const QStringList& arguments)
{
    QStringList paths;
    for (const QString& argument : arguments) {
        if (!argument.trimmed().isEmpty())
            paths << argument; // untrimmed: a name may really begin with a space
    }
    openTargets(paths);
}

QStringList MainWindow::targetFiles(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        const QString path = url.toLocalFile();
        if (path.isEmpty() || !ImageLoader::suffixes().contains(QFileInfo(path).suffix().toLower()))
            return {};
        paths << path;
    }
    return paths;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!targetFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    if (!targetFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

// The load may ask about a profile; the application the drag came from must not wait for that answer.
void MainWindow::dropEvent(QDropEvent* event)
{
    const QStringList paths = targetFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    QMetaObject::invokeMethod(
        this, [this, paths] { openTargets(paths); }, Qt::QueuedConnection);
}

// The files are the sheets of one target set; a single file with one page is a single image. They are
// read in the background; the window takes them over in takeLoadedTargets.
void MainWindow::openTargets(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    // A drop or a desktop open while the window is busy loads once it is done, the latest one only.
    if (m_busy) {
        m_waitingTargets = paths;
        return;
    }
    setBusy(true);
    setCursor(Qt::BusyCursor); // the window stays usable, unlike under a wait cursor
    statusBar()->clearMessage();
    m_loadProgress->setRange(0, 0);
    m_loadProgress->show();
    m_backgroundLoad->start(paths);
}

void MainWindow::showReading(const QString& name, int page, int pages)
{
    if (pages > 1) {
        statusBar()->showMessage(tr("Reading %1, %2 of %3\u2026").arg(name).arg(page).arg(pages));
        m_loadProgress->setRange(0, pages);
        m_loadProgress->setValue(page - 1);
    } else {
        statusBar()->showMessage(tr("Reading %1\u2026").arg(name));
    }
}

void MainWindow::takeLoadedTargets(const std::optional<LoadedTargetSet>& loaded, const QString& problem)
{
    m_loadProgress->hide();
    statusBar()->clearMessage();
    unsetCursor();
    try {
        if (!loaded) {
            showError(tr("Could not load target image"), problem);
        } else if (confirmProfileLoad(loaded->set)) {
            applyAutoSettings(loaded->set);
            m_set = loaded->set;
            m_pageShown = 0;
            m_image = loaded->firstPage;
            QStringList files; // in the set's order, each once; a file's pages follow each other
            for (const TargetPage& page : m_set.pages)
                if (files.isEmpty() || files.constLast() != page.facts.filePath)
                    files << page.facts.filePath;
            rememberTargets(files);
            updateRecentMenu();
            clearError();
            updateControls();
            updateMetadata();
            updatePreview();
            updatePageNavigation();
        }
    } catch (const std::exception& error) {
        showError(tr("Could not load target image"), QString::fromUtf8(error.what()));
    }
    setBusy(false);
}

bool MainWindow::confirmProfileLoad(const TargetSet& set)
{
    const std::optional<PrintWarning> warning = profileWarning(set);
    return !warning || confirmWarning(this, *warning);
}

void MainWindow::applyAutoSettings(const TargetSet& set)
{
    m_settings = fittedSettings(set, m_settings);
    m_autoOrientation = m_settings.orientation;
}

void MainWindow::showError(const QString& title, const QString& message)
{
    m_errorLabel->setText(
        QStringLiteral("<b>%1</b><br>%2").arg(title.toHtmlEscaped(), message.toHtmlEscaped()));
    m_errorLabel->show();
    // The column may be taller than the window; the message must not sit below its fold. The
    // column is laid out now, as the scroll area would before the next paint, so that the label
    // has its place to scroll to.
    QWidget* column = m_inspectorScroll->widget();
    column->layout()->activate();
    const QSize viewport = m_inspectorScroll->viewport()->size();
    const int height =
        column->hasHeightForWidth() ? column->heightForWidth(viewport.width()) : column->sizeHint().height();
    column->resize(viewport.width(), qMax(viewport.height(), height));
    m_inspectorScroll->ensureWidgetVisible(m_errorLabel, 0, 0);
    // Whatever the status bar said last (a job sent, say) is no longer the news.
    statusBar()->clearMessage();
}

void MainWindow::clearError()
{
    m_errorLabel->clear();
    m_errorLabel->hide();
}

} // namespace Lumetra
