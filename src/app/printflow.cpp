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
        showError(QStringLiteral("Could not print target image"), error.message());
    } catch (const std::exception& error) {
        showError(QStringLiteral("Could not print target image"), QString::fromUtf8(error.what()));
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
    box.setWindowTitle(QStringLiteral("Image will be cropped"));
    const QString paperText =
        QStringLiteral("Paper: %1 x %2 in")
            .arg(QString::number(paper.width, 'f', 2), QString::number(paper.height, 'f', 2));
    if (set.pages.size() == 1) {
        const SizeD size =
            rotatedSize(set.pages.constFirst().facts.printSizeInches(), m_settings.rotationDegrees);
        box.setText(
            QStringLiteral("The image is larger than the selected paper at its embedded print size."));
        box.setInformativeText(
            QStringLiteral("Image: %1 x %2 in\n%3\n\n"
                           "Continue printing, or cancel and choose a larger paper size.")
                .arg(QString::number(size.width, 'f', 2), QString::number(size.height, 'f', 2), paperText));
    } else {
        box.setText(QStringLiteral("Pages larger than the selected paper at their embedded print size: "
                                   "%1 of %2.")
                        .arg(tooLarge.size())
                        .arg(set.pages.size()));
        box.setInformativeText(QStringLiteral("Cropped: %1\n%2\n\n"
                                              "Continue printing, or cancel and choose a larger paper size.")
                                   .arg(tooLarge.join(QStringLiteral(", ")), paperText));
    }
    QPushButton* continueButton = box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(continueButton);
    box.exec();
    return box.clickedButton() == continueButton;
}

} // namespace Lumetra
