#include "mainwindow.h"

#include "papergeometry.h"
#include "previewwidget.h"
#include "printrecord.h"

#include <QDateTime>
#include <QDir>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>

#include <exception>

namespace Lumetra {

void MainWindow::printImage()
{
    if (!m_image || m_busy)
        return;
    // Nothing may open a second print dialog, load or turn the page while this print runs.
    setBusy(true);
    const auto idle = qScopeGuard([this] { setBusy(false); });
    const QString cancelled = tr("Printing cancelled.");
    if (!confirmPrintCrop(m_set)) {
        statusBar()->showMessage(cancelled);
        return;
    }
    try {
        // The preview's turned copy is the print's too: a 200-megapixel target is not turned twice.
        const bool printed = m_set.pages.size() <= 1
                                 ? m_printService.print(this, *m_image, m_settings, m_preview->turnedImage())
                                 : printSet();
        if (!printed) {
            statusBar()->showMessage(cancelled);
            return;
        }
        savePrintQueue();
        // The dialog may have moved to another queue, with other margins.
        m_preview->setUnprintableMargins(m_printService.unprintableMargins(m_settings));
        recordPrint();
        const QPrinter& printer = m_printService.printer();
        if (m_printService.lastJobId() > 0) {
            statusBar()->showMessage(tr("Sent to \"%1\" as job %2")
                                         .arg(m_printService.lastJobQueue())
                                         .arg(m_printService.lastJobId()));
        } else if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
            statusBar()->showMessage(
                tr("Saved to %1").arg(QDir::toNativeSeparators(printer.outputFileName())));
        } else {
            statusBar()->clearMessage(); // handed to the platform's print system, which reports on its own
        }
    } catch (const PrintException& error) {
        showError(tr("Could not print target image"), error.message());
    } catch (const std::exception& error) {
        showError(tr("Could not print target image"), QString::fromUtf8(error.what()));
    }
}

// Appends the job that just printed to the print history. A record that cannot be written leaves the print
// a print: the error says what was not recorded, and the status bar, written after it, where the job went.
void MainWindow::recordPrint()
{
    const std::optional<CheckedJob>& job = m_printService.lastJob();
    if (!job)
        return; // the platform's print system took the job and tells nothing of it
    try {
        PrintHistory::append(
            printRecord(m_set, *job, m_printService.lastJobId(), QDateTime::currentDateTime()));
    } catch (const PrintHistoryException& error) {
        showError(tr("Printed, but not recorded in the print history"), error.message());
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
    const QString advice = tr("Continue printing, or cancel and choose a larger paper size.");
    if (set.pages.size() == 1) {
        const SizeD size =
            rotatedSize(set.pages.constFirst().facts.printSizeInches(), m_settings.rotationDegrees);
        // A target a hair larger than its sheet must not read as the same size: more digits until the
        // overhanging side differs.
        int decimals = 2;
        const auto differs = [&](double image, double sheet) {
            return image <= sheet + kFitToleranceInches ||
                   QString::number(image, 'f', decimals) != QString::number(sheet, 'f', decimals);
        };
        while (decimals < 4 && !(differs(size.width, paper.width) && differs(size.height, paper.height)))
            ++decimals;
        const auto number = [decimals](double value) { return QString::number(value, 'f', decimals); };
        box.setText(tr("The image is larger than the selected paper at its embedded print size."));
        box.setInformativeText(tr("Image: %1 x %2 in\nPaper: %3 x %4 in\nThe image is %5.\n\n%6")
                                   .arg(number(size.width), number(size.height), number(paper.width),
                                        number(paper.height), overhang(size, paper), advice));
    } else {
        QStringList pages;
        for (const TargetPage& page : set.pages) {
            if (tooLarge.contains(page.name())) {
                pages << tr("%1: %2").arg(
                    page.name(),
                    overhang(rotatedSize(page.facts.printSizeInches(), m_settings.rotationDegrees), paper));
            }
        }
        box.setText(tr("Pages larger than the selected paper at their embedded print size: %1 of %2.")
                        .arg(tooLarge.size())
                        .arg(set.pages.size()));
        box.setInformativeText(tr("%1\nPaper: %2 x %3 in\n\n%4")
                                   .arg(pages.join(QLatin1Char('\n')), QString::number(paper.width, 'f', 2),
                                        QString::number(paper.height, 'f', 2), advice));
    }
    QPushButton* continueButton = box.addButton(tr("Continue"), QMessageBox::AcceptRole);
    box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(continueButton);
    box.exec();
    return box.clickedButton() == continueButton;
}

// How far an image of that size (in inches, as turned on the sheet) reaches beyond the sheet, in
// millimetres: "0.01 mm taller than the sheet". Never rounded to nothing.
QString MainWindow::overhang(SizeD image, SizeD paper)
{
    const auto millimetres = [](double inches) {
        const double value = inches * kMillimetersPerInch;
        return QString::number(value, 'f', value >= 0.095 ? 1 : value >= 0.0095 ? 2 : 3);
    };
    QStringList sides;
    if (image.width > paper.width + kFitToleranceInches)
        sides << tr("%1 mm wider").arg(millimetres(image.width - paper.width));
    if (image.height > paper.height + kFitToleranceInches)
        sides << tr("%1 mm taller").arg(millimetres(image.height - paper.height));
    return tr("%1 than the sheet").arg(sides.join(tr(" and ")));
}

} // namespace Lumetra
