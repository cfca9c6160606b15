#include "mainwindow.h"

#include "busycursor.h"
#include "papergeometry.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <exception>

namespace Lumetra {

void MainWindow::openImage()
{
    const QStringList paths =
        QFileDialog::getOpenFileNames(this, QStringLiteral("Load target image"), QString(),
                                      QStringLiteral("Target images (*.tif *.tiff *.jpg *.jpeg *.png)"));
    if (paths.isEmpty())
        return;
    loadTargets(paths);
}

void MainWindow::loadCommandLinePath(const QString& path)
{
    loadCommandLinePaths({path});
}

void MainWindow::loadCommandLinePaths(const QStringList& paths)
{
    QStringList given;
    for (const QString& path : paths) {
        if (!path.trimmed().isEmpty())
            given << path;
    }
    if (!given.isEmpty())
        loadTargets(given);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty())
            paths << path;
    }
    if (paths.isEmpty())
        return;
    loadTargets(paths);
    event->acceptProposedAction();
}

void MainWindow::loadImage(const QString& path)
{
    loadTargets({path});
}

void MainWindow::loadTargets(const QStringList& paths)
{
    try {
        LoadedTargetSet loaded = [&] {
            // Large targets take seconds to decode; the profile question below
            // must not sit under a wait cursor, so only the read is covered.
            const BusyCursor busy;
            return m_imageLoader.loadSet(paths);
        }();
        if (!confirmProfileLoad(loaded.set))
            return;
        applyAutoSettings(loaded.set);
        m_set = std::move(loaded.set);
        m_pageShown = 0;
        m_image = std::move(loaded.firstPage);
        clearError();
        updateControls();
        updateMetadata();
        updatePreview();
        updatePageNavigation();
    } catch (const ImageLoadException& error) {
        showError(QStringLiteral("Could not load target image"), error.message());
    } catch (const std::exception& error) {
        showError(QStringLiteral("Could not load target image"), QString::fromUtf8(error.what()));
    }
}

bool MainWindow::confirmProfileLoad(const TargetSet& set)
{
    QStringList names;
    int pagesWithProfile = 0;
    for (const TargetPage& page : set.pages) {
        if (!page.facts.hasIccProfile)
            continue;
        ++pagesWithProfile;
        if (!names.contains(profileName(page.facts)))
            names << profileName(page.facts);
    }
    if (pagesWithProfile == 0)
        return true;

    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Embedded ICC profile detected"));
    // The profile's description comes from the file and is shown as it stands.
    box.setTextFormat(Qt::PlainText);
    if (set.pages.size() == 1) {
        box.setText(
            QStringLiteral("This image contains an embedded ICC profile: %1.").arg(names.constFirst()));
        box.setInformativeText(
            QStringLiteral("Lumetra ignores embedded profiles for profiling target output. "
                           "Continue loading this image, or cancel and choose a different file."));
    } else {
        box.setText(QStringLiteral("Pages with an embedded ICC profile: %1 of %2. Profiles: %3.")
                        .arg(pagesWithProfile)
                        .arg(set.pages.size())
                        .arg(names.join(QStringLiteral("; "))));
        box.setInformativeText(
            QStringLiteral("Lumetra ignores embedded profiles for profiling target output. "
                           "Continue loading these pages, or cancel and choose different files."));
    }
    QPushButton* continueButton = box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(continueButton);
    box.exec();
    return box.clickedButton() == continueButton;
}

// The largest page stands upright on the sheet, and the paper holds every page.
void MainWindow::applyAutoSettings(const TargetSet& set)
{
    const PrintOrientation orientation =
        orientationForImage(set.pages.at(set.largestPage()).facts.printSizeInches());
    m_autoOrientation = orientation;
    m_settings.orientation = orientation;
    m_settings.rotationDegrees = 0;
    // Within the series of the sheet in use: a Letter user is never moved to DIN A3.
    m_settings.paper = smallestFittingPaper(set.envelopeInches(), orientation, paperSeries(m_settings.paper));
}

void MainWindow::showError(const QString& title, const QString& message)
{
    m_errorLabel->setText(
        QStringLiteral("<b>%1</b><br>%2").arg(title.toHtmlEscaped(), message.toHtmlEscaped()));
    m_errorLabel->show();
}

void MainWindow::clearError()
{
    m_errorLabel->clear();
    m_errorLabel->hide();
}

} // namespace Lumetra
