#include "mainwindow.h"

#include "papergeometry.h"
#include "previewwidget.h"
#include "printrecord.h"
#include "targetwarnings.h"

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
        updatePrinterLine();
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
    const std::optional<PrintWarning> warning = cropWarning(set, m_settings);
    return !warning || confirmWarning(this, *warning);
}

} // namespace Lumetra
