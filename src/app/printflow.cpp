#include "mainwindow.h"

#include "papergeometry.h"
#include "previewwidget.h"

#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

#include <exception>

namespace Lumetra {

void MainWindow::printImage()
{
    if (!m_image)
        return;
    if (!confirmPrintCrop(m_set))
        return;
    try {
        // The preview's turned copy is the print's too: a 200-megapixel target is not turned twice.
        const bool printed = m_set.pages.size() <= 1
                                 ? m_printService.print(this, *m_image, m_settings, m_preview->turnedImage())
                                 : printSet();
        if (!printed)
            return;
        savePrintQueue();
        // The dialog may have moved to another queue, with other margins.
        m_preview->setUnprintableMargins(m_printService.unprintableMargins(m_settings));
        if (m_printService.lastJobId() > 0)
            statusBar()->showMessage(tr("Sent to \"%1\" as job %2")
                                         .arg(m_printService.lastJobQueue())
                                         .arg(m_printService.lastJobId()));
    } catch (const PrintException& error) {
        showError(tr("Could not print target image"), error.message());
    } catch (const std::exception& error) {
        showError(tr("Could not print target image"), QString::fromUtf8(error.what()));
    }
}

bool MainWindow::confirmPrintCrop(const TargetSet& set)
{
    const SizeD paper = m_settings.paper.sizeInches(m_settings.orientation);
    const QStringList tooLarge = set.pagesNotFitting(paper, m_settings.rotationDegrees);
    if (tooLarge.isEmpty())
        return true;

    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(tr("Image will be cropped"));
    const QString paperWidth = QString::number(paper.width, 'f', 2);
    const QString paperHeight = QString::number(paper.height, 'f', 2);
    if (set.pages.size() == 1) {
        const SizeD size =
            rotatedSize(set.pages.constFirst().facts.printSizeInches(), m_settings.rotationDegrees);
        box.setText(tr("The image is larger than the selected paper at its embedded print size."));
        box.setInformativeText(tr("Image: %1 x %2 in\nPaper: %3 x %4 in\n\n"
                                  "Continue printing, or cancel and choose a larger paper size.")
                                   .arg(QString::number(size.width, 'f', 2),
                                        QString::number(size.height, 'f', 2), paperWidth, paperHeight));
    } else {
        box.setText(tr("Pages larger than the selected paper at their embedded print size: %1 of %2.")
                        .arg(tooLarge.size())
                        .arg(set.pages.size()));
        box.setInformativeText(tr("Cropped: %1\nPaper: %2 x %3 in\n\n"
                                  "Continue printing, or cancel and choose a larger paper size.")
                                   .arg(tooLarge.join(QStringLiteral(", ")), paperWidth, paperHeight));
    }
    QPushButton* continueButton = box.addButton(tr("Continue"), QMessageBox::AcceptRole);
    box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(continueButton);
    box.exec();
    return box.clickedButton() == continueButton;
}

} // namespace Lumetra
