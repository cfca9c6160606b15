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
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Load target image"), QString(),
                                     QStringLiteral("Target images (*.tif *.tiff *.jpg *.jpeg *.png)"));
    if (path.isEmpty())
        return;
    loadImage(path);
}

void MainWindow::loadCommandLinePath(const QString& path)
{
    if (path.trimmed().isEmpty())
        return;
    loadImage(path);
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
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty())
        return;
    const QString path = urls.constFirst().toLocalFile();
    if (path.isEmpty())
        return;
    loadImage(path);
    event->acceptProposedAction();
}

void MainWindow::loadImage(const QString& path)
{
    try {
        PrintableImage image = [&] {
            // Large targets take seconds to decode; the profile question below
            // must not sit under a wait cursor, so only the read is covered.
            const BusyCursor busy;
            return m_imageLoader.load(path);
        }();
        if (!confirmProfileLoad(image))
            return;
        applyAutoSettings(image);
        m_image = std::move(image);
        clearError();
        updateControls();
        updateMetadata();
        updatePreview();
    } catch (const ImageLoadException& error) {
        showError(QStringLiteral("Could not load target image"), error.message());
    } catch (const std::exception& error) {
        showError(QStringLiteral("Could not load target image"), QString::fromUtf8(error.what()));
    }
}

bool MainWindow::confirmProfileLoad(const PrintableImage& image)
{
    if (!image.hasIccProfile)
        return true;

    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Embedded ICC profile detected"));
    // The profile's description comes from the file and is shown as it stands.
    box.setTextFormat(Qt::PlainText);
    box.setText(QStringLiteral("This image contains an embedded ICC profile: %1.").arg(profileName(image)));
    box.setInformativeText(
        QStringLiteral("Lumetra ignores embedded profiles for profiling target output. "
                       "Continue loading this image, or cancel and choose a different file."));
    QPushButton* continueButton = box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(continueButton);
    box.exec();
    return box.clickedButton() == continueButton;
}

void MainWindow::applyAutoSettings(const PrintableImage& image)
{
    const SizeD size = image.printSizeInches();
    const PrintOrientation orientation = orientationForImage(size);
    m_autoOrientation = orientation;
    m_settings.orientation = orientation;
    m_settings.rotationDegrees = 0;
    // Within the series of the sheet in use: a Letter user is never moved to DIN A3.
    m_settings.paper = smallestFittingPaper(size, orientation, paperSeries(m_settings.paper));
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
