#include "mainwindow.h"

#include "papergeometry.h"

#include <QMessageBox>
#include <QPushButton>

#include <exception>

namespace Lumetra {

void MainWindow::printImage()
{
    if (!m_image)
        return;
    if (!confirmPrintCrop(m_set))
        return;
    try {
        if (m_set.pages.size() <= 1) {
            m_printService.print(this, *m_image, m_settings);
        } else {
            // The page shown is decoded already; the others are decoded in turn as they print.
            m_printService.print(
                this, int(m_set.pages.size()),
                [this](int index) {
                    return index == m_pageShown ? *m_image : m_imageLoader.loadPage(m_set.pages.at(index));
                },
                m_settings);
        }
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
