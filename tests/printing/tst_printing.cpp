#include "fixtures.h"
#include "papergeometry.h"
#include "printservice.h"
#include "privatecups.h"

#include <QtPrintSupport>
#include <QtTest>
#include <QtWidgets>

using namespace Lumetra;
using namespace Lumetra::Testing;
using namespace Qt::StringLiterals;
using Answer = std::function<void(QPrintDialog*)>;
Q_DECLARE_METATYPE(PrintableImage)
Q_DECLARE_METATYPE(PrintSettings)

namespace {

// paper: index into allPaperPresets() (A4, A3, A3+, A2, Letter, Legal, Tabloid, Super B, ANSI C).
PrintSettings settingsFor(int paper, int alignment = 4, int rotation = 0)
{
    return {allPaperPresets().at(paper), rotation ? PrintOrientation::Landscape : PrintOrientation::Portrait,
            PrintAlignment(alignment), rotation};
}

// Prints `image` with the dialog answered by `action`; each warning is answered Continue when `accept`, else
// the first is cancelled; `atProgress` looks at the progress each time it shows. Returns what the user saw
// and how print() ended: "dialog/<warning title|text|details>/writing/printed", "...cancelled" or the
// exception's message
// ("writing" once the page is about to be written).
QString tryPrint(PrintService& service, const PrintableImage& image, const PrintSettings& settings,
                 const Answer& action = &QPrintDialog::accept, bool accept = false,
                 const std::function<void(QProgressDialog*)>& atProgress = {})
{
    QStringList seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QPrintDialog*>(modal); dialog && !seen.contains(u"dialog")) {
            seen << u"dialog"_s;
            action(dialog);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->windowTitle() + u'|' + box->text() + u'|' + box->informativeText();
            QTest::keyClick(box, accept ? Qt::Key_Return : Qt::Key_Escape);
        } else if (auto* progress = qobject_cast<QProgressDialog*>(modal); progress && atProgress) {
            atProgress(progress);
        }
    });
    timer.start(20);
    QWidget window; // the print's parent, whose wait cursor must not outlast the print
    try {
        const auto written = [&seen] { seen << u"writing"_s; };
        const bool printed = image.image.isNull()
                                 ? service.print(&window, image, settings)
                                 : service.print(
                                       &window, {image}, [&image](int) { return image; }, settings, written);
        seen << (printed ? u"printed"_s : u"cancelled"_s);
    } catch (const PrintException& exception) {
        seen << exception.message();
    }
    if (window.cursor().shape() == Qt::WaitCursor)
        seen << u"still busy"_s;
    return seen.join(u'/');
}

// Whether `want` lies pixel for pixel in `page` within 3 pixels of `near`, with nothing else drawn.
bool foundAlone(const QImage& page, const QImage& want, QPoint near)
{
    for (int d = 0; d < 49; ++d) {
        QImage expected(page.size(), QImage::Format_RGB32);
        expected.fill(Qt::white);
        QPainter(&expected).drawImage(near + QPoint(d % 7 - 3, d / 7 - 3), want);
        if (page == expected && !page.isNull())
            return true;
    }
    return false;
}

} // namespace

class TestPrinting : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home, m_temp;
    PrivateCups m_cups;

public:
    TestPrinting()
    {
        // The user's own CUPS defaults and the job's temporary files stay where the test sees them.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
    }

private slots:
    void initTestCase()
    {
        // The scheduler must be up before Qt's print support first talks to CUPS.
        if (!popplerToolsAvailable() || !m_cups.start() || !m_cups.addDeviceQueue())
            QSKIP(qPrintable(u"needs poppler-utils and the private CUPS queues: "_s + m_cups.errorString()));
    }

    void drawnPixels()
    {
        // A 150 dpi chart turned clockwise and put bottom right on the 90 x 90 px paper of a 300 dpi sheet,
        // smoothing on: each pixel an exact 2 x 2 block, and nothing else drawn.
        QImage sheet(100, 100, QImage::Format_RGB32);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        PrintService::drawPage(painter, {4, 6, 90, 90}, 300, printable(chart(30, 20), 150),
                               settingsFor(0, 8, 90));
        painter.end();
        QVERIFY(foundAlone(sheet, rotatedImage(chart(30, 20).scaled(60, 40), 90), QPoint(54, 36)));
    }

    void endToEnd_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<bool>("device");
        QTest::addColumn<int>("dpi");
        // The device queue (A4, Letter) colour-manages, fits to the page by default and has margins; the
        // other sheets go to the raw queue, which takes every size.
        for (const int paper : {0, 2, 4, 5, 6, 7, 8}) {
            for (const int rotation : {0, 90}) {
                const QByteArray name = allPaperPresets().at(paper).name.toUtf8();
                if (paper)
                    QTest::addRow("%s %d", name.data(), rotation) << paper << rotation << false << 300;
                if (paper == 0 || paper == 4)
                    QTest::addRow("device %s %d", name.data(), rotation) << paper << rotation << true << 300;
            }
        }
        QTest::newRow("device 150 dpi target") << 0 << 0 << true << 150;
    }
    void endToEnd()
    {
        QFETCH(int, paper);
        QFETCH(int, rotation);
        QFETCH(bool, device);
        QFETCH(int, dpi);
        const PrintSettings settings = settingsFor(paper, 4, rotation);
        QPrinter printer; // Qt starts one on the generic PostScript driver, which announces no colour, grey
        printer.setPrinterName(m_cups.postScriptQueue());
        PrintService::preparePrinter(printer, settings);
        QCOMPARE(printer.colorMode(), QPrinter::Color);
        const QImage pixels = chart(dpi * 2 / 3, dpi);
        const QStringList before = m_cups.spooledDocuments();
        PrintService service;
        service.setQueueName(device ? m_cups.deviceQueue() : m_cups.rawQueue());
        QCOMPARE(tryPrint(service, printable(pixels, dpi), settings), u"dialog/writing/printed"_s);
        const QString document = m_cups.waitForNewDocument(before);
        // The job asks for the sheet's standard media (a custom size by its millimetres), unscaled.
        const QByteArray media =
            QByteArray("iso_a4_210x297mm - custom_329x483mm_329x483mm - na_letter_8.5x11in "
                       "na_legal_8.5x14in na_ledger_11x17in na_super-b_13x19in na_c_17x22in")
                .split(' ')[paper];
        const QByteArray job = m_cups.jobAttributes(document);
        for (const QByteArray& option : {QByteArray("media") + char(0) + char(media.size()) + media,
                                         QByteArray("print-scaling\0\x04none", 19), QByteArray("Lumetra")})
            QVERIFY2(job.contains(option), option.constData());
        const SizeD mm = settings.paper.sizeMillimeters(settings.orientation);
        QCOMPARE(pdfPageSizePoints(document).toSize(), (QSizeF(mm.width, mm.height) * 72 / 25.4).toSize());
        // The image losslessly, every pixel.
        QCOMPARE(extractPdfImages(document).value(0).convertToFormat(QImage::Format_RGB32),
                 rotatedImage(pixels, rotation).convertToFormat(QImage::Format_RGB32));
        if (!device)
            return;
        // Every pixel unchanged, centred on the portrait media's raster (a landscape sheet turned back).
        QVERIFY(m_cups.waitForCompletedJob(m_cups.deviceQueue(), service.lastJobId()));
        const QImage page = m_cups.devicePages().value(0);
        const QImage want = pixels.scaled(pixels.size() * 300 / dpi);
        QVERIFY(
            foundAlone(page, want, QPoint(page.width() - want.width(), page.height() - want.height()) / 2));
    }

    void attempts_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<PrintableImage>("image");
        QTest::addColumn<PrintSettings>("settings");
        QTest::addColumn<QString>("seen");
        const QString sent = u"dialog/The print job could not be sent to \"lumetra-doomed\": "_s;
        const QString warned =
            u"dialog/Image reaches into the margins|The printer cannot print at the edges of this sheet, and "
            u"the "
            "image reaches into them.|Not printed:\n%1\n\nContinue printing, or cancel and choose another "
            "alignment or a larger paper size./cancelled"_s;
        const PrintableImage small = printable(chart(100, 100), 254); // 254 dpi: ten pixels a millimetre
        QTest::newRow("no image") << "" << printable(QImage(), 254) << settingsFor(0)
                                  << "No image is loaded.";
        QTest::newRow("dialog cancelled") << "cancel" << small << settingsFor(0) << "dialog/cancelled";
        QTest::newRow("printer cannot be opened")
            << "unwritable" << small << settingsFor(0) << "dialog/writing/The printer could not be opened.";
        // A queue that cannot take the job is found out before the page is written.
        QTest::newRow("queue refuses jobs") << "refuse" << small << settingsFor(0)
                                            << sent + "Destination \"lumetra-doomed\" is not accepting jobs.";
        QTest::newRow("queue deleted after the dialog")
            << "delete" << small << settingsFor(0) << sent + "The printer or class does not exist.";
        QTest::newRow("queue without the sheet") << "lumetra-ps" << small << settingsFor(2)
                                                 << "dialog/\"lumetra-ps\" has no DIN A3+ paper (it offers "
                                                    "DIN A4, DIN A3, Letter, Legal, Tabloid (11 "
                                                    "\u00d7 17 in)). Choose another printer or paper.";
        QTest::newRow("grey-only printer")
            << "lumetra-grey" << small << settingsFor(0)
            << "dialog/The printer prints in grey only|\"lumetra-grey\" prints in grey only; the target's "
               "colours "
               "cannot reach the paper.|Continue printing, or cancel and choose a colour printer./cancelled";
        // The device cannot print 3, 4, 5, 6 mm at the left, bottom, right, top of the portrait media.
        QTest::newRow("margins top left")
            << "lumetra-device" << small << settingsFor(0, 0) << warned.arg(u"Top: 6.0 mm\nLeft: 3.0 mm"_s);
        QTest::newRow("margins bottom right, turned") << "lumetra-device" << small << settingsFor(0, 8, 90)
                                                      << warned.arg(u"Bottom: 5.0 mm\nRight: 6.0 mm"_s);
        QTest::newRow("margins 0.1 mm in") << "lumetra-device" << printable(chart(2002, 2852), 254)
                                           << settingsFor(0) << warned.arg(u"Top: 0.1 mm\nRight: 0.1 mm"_s);
        QTest::newRow("margins just clear") << "lumetra-device" << printable(chart(2000, 2850), 254)
                                            << settingsFor(0) << "dialog/writing/printed";
    }
    void attempts()
    {
        QFETCH(QString, setup);
        QFETCH(PrintableImage, image);
        QFETCH(PrintSettings, settings);
        QFETCH(QString, seen);
        const QString doomed = u"lumetra-doomed"_s;
        QVERIFY(m_cups.runTool(u"lpadmin"_s, {u"-p"_s, doomed, u"-E"_s, u"-v"_s, u"file:///dev/null"_s}));
        QVERIFY(setup != u"refuse" || m_cups.runTool(u"cupsreject"_s, {doomed}));
        QVERIFY(setup != u"lumetra-grey" ||
                m_cups.addDriverQueue(setup, u"drv:///sample.drv/laserjet.ppd"_s));
        PrintService service;
        service.setQueueName(setup.startsWith(u"lumetra-") ? setup : doomed);
        const Answer action = [&](QPrintDialog* dialog) {
            if (setup == u"cancel")
                return dialog->reject();
            if (setup == u"delete")
                m_cups.runTool(u"lpadmin"_s, {u"-x"_s, doomed});
            if (setup != u"unwritable")
                return dialog->accept();
            // The dialog itself refuses an unwritable file, so the printer gets one behind its back.
            dialog->printer()->setOutputFileName(u"/nonexistent/target.pdf"_s);
            dialog->done(QDialog::Accepted);
        };
        QCOMPARE(tryPrint(service, image, settings, action), seen);
        m_cups.runTool(u"lpadmin"_s, {u"-x"_s, doomed});
        QCOMPARE(service.lastJobId() > 0, seen.endsWith(u"printed")); // a job only when printed
    }

    // Queue defaults that would turn the target grey, add a banner sheet or print none of its pages: the
    // device gets one page with every pixel of the target, each time.
    void queueDefaults_data()
    {
        QTest::addColumn<QStringList>("defaults");
        QTest::addColumn<QString>("userDefault"); // kept in the user's own lpoptions, passed on by the dialog
        QTest::newRow("grey queue default") << QStringList{u"print-color-mode-default=monochrome"_s} << "";
        QTest::newRow("grey driver default") << QStringList{u"PwgRasterDocumentType=SGray_8"_s} << "";
        QTest::newRow("grey user default") << QStringList() << "PwgRasterDocumentType=SGray_8";
        QTest::newRow("banner sheet default") << QStringList{u"job-sheets-default=standard"_s} << "";
        QTest::newRow("even pages, page 2")
            << QStringList{u"page-set-default=even"_s, u"page-ranges-default=2"_s} << "";
    }
    void queueDefaults()
    {
        QFETCH(QStringList, defaults);
        QFETCH(QString, userDefault);
        QVERIFY(m_cups.addDeviceQueue(defaults));
        QFile lpoptions(m_home.filePath(u".cups/lpoptions"_s));
        QVERIFY(QDir(m_home.path()).mkpath(u".cups"_s) && lpoptions.open(QIODevice::WriteOnly));
        lpoptions.write((u"Dest %1 %2\n"_s.arg(m_cups.deviceQueue(), userDefault)).toUtf8());
        lpoptions.close();
        const auto restore = qScopeGuard([&] {
            lpoptions.remove();
            m_cups.addDeviceQueue();
        });
        PrintService service;
        service.setQueueName(m_cups.deviceQueue());
        const QImage pixels = chart(600, 900);
        QCOMPARE(tryPrint(service, printable(pixels, 300), settingsFor(0)), u"dialog/writing/printed"_s);
        QVERIFY(m_cups.waitForCompletedJob(m_cups.deviceQueue(), service.lastJobId()));
        const QList<QImage> pages = m_cups.devicePages();
        QCOMPARE(pages.size(), 1);
        QVERIFY(foundAlone(pages[0], pixels, QPoint(940, 1304)));
    }

    // A driverless printer that takes PDF lays the page out itself: CUPS passes it no scaling, so its own fit
    // to the page is warned about, with the margins of the plain sheet the job goes out on; its grey default
    // gives way to colour, and the PDF it receives holds the target exactly.
    void driverlessPrinter()
    {
        if (!m_cups.addDriverlessQueue())
            QSKIP(qPrintable(m_cups.errorString()));
        PrintService service;
        service.setQueueName(m_cups.driverlessQueue());
        // 2 mm from each edge of A4 at 127 dpi, five pixels a millimetre: 1 mm into the printer's 3 mm
        // margins.
        const QImage pixels = chart(1030, 1465);
        QCOMPARE(
            tryPrint(service, printable(pixels, 127), settingsFor(0), &QPrintDialog::accept, true),
            u"dialog/The printer resizes the page|\"lumetra-driverless\" fits every page into its printable "
            "area by its own setting (scaling: fit), so the target would not print at its true size.|Set the "
            "printer's own scaling to \"none\" (actual size) on its web page or control panel, then print "
            "again. Continue printing anyway, or cancel./Image reaches into the margins|The printer cannot "
            "print at the edges of this sheet, and the image reaches into them.|Not printed:\nTop: 1.0 "
            "mm\nBottom: 1.0 mm\nLeft: 1.0 mm\nRight: 1.0 mm\n\nContinue printing, or cancel and choose "
            "another alignment or a larger paper size./writing/printed"_s);
        QVERIFY(m_cups.waitForCompletedJob(m_cups.driverlessQueue(), service.lastJobId()));
        const QString requests = m_cups.driverlessRequests();
        const auto colourMode = requests.lastIndexOf(u"print-color-mode (keyword) "_s);
        QCOMPARE(requests.mid(colourMode).section(u'\n', 0, 0), u"print-color-mode (keyword) color"_s);
        QCOMPARE(extractPdfImages(m_cups.driverlessDocument()).value(0).convertToFormat(QImage::Format_RGB32),
                 pixels);
    }

    // Gutenprint squeezes the page into the printable area unless told to crop; it says so at the job's
    // start.
    void gutenprintKeepsSize()
    {
        const QString queue = u"lumetra-gutenprint"_s;
        if (!m_cups.addDriverQueue(queue, u"gutenprint.5.3://escp2-p600-s/expert"_s))
            QSKIP(qPrintable(u"needs printer-driver-gutenprint: "_s + m_cups.errorString()));
        PrintService service;
        service.setQueueName(queue);
        QCOMPARE(tryPrint(service, printable(chart(300, 300), 300), settingsFor(0)),
                 u"dialog/writing/printed"_s);
        QString log;
        for (const QDeadlineTimer deadline(60000);
             !log.contains(u"shrink page to fit"_s) && !deadline.hasExpired(); QThread::msleep(100))
            log = m_cups.jobLog(service.lastJobId());
        m_cups.runTool(u"cancel"_s, {u"-a"_s, queue}); // the rest of the job is of no interest
        QVERIFY2(log.contains(u"Gutenprint:   shrink page to fit 0"_s), qPrintable(log));
    }

    // Cancel while the page is written, and while it is being handed over (the scheduler held still
    // meanwhile): print() reports the cancel, and no job, no document and no temporary file is left.
    void cancel_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::newRow("while writing") << "Preparing";
        QTest::newRow("while sending") << "Sending";
    }
    void cancel()
    {
        QFETCH(QString, phase);
        const QStringList before = m_cups.spooledDocuments();
        PrintService service;
        service.setQueueName(m_cups.rawQueue());
        bool held = false;
        const auto atProgress = [&](QProgressDialog* progress) {
            // The window behind shows the wait cursor while the print runs.
            QCOMPARE(progress->parentWidget()->cursor().shape(), Qt::WaitCursor);
            if (phase == u"Sending" && !held && progress->labelText().startsWith(u"Preparing"))
                m_cups.pauseScheduler(held = true);
            if (progress->labelText().startsWith(phase)) {
                // The button once, Escape the other time.
                if (phase == u"Preparing")
                    progress->findChild<QPushButton*>()->click();
                else
                    QTest::keyClick(progress, Qt::Key_Escape);
                m_cups.pauseScheduler(held = false);
            }
        };
        QCOMPARE(tryPrint(service, printable(chart(400, 600).scaled(4000, 6000), 600), settingsFor(0),
                          &QPrintDialog::accept, false, atProgress),
                 u"dialog/writing/cancelled"_s);
        QString pending;
        QVERIFY(m_cups.runTool(u"lpstat"_s, {u"-o"_s, m_cups.rawQueue()}, &pending));
        QCOMPARE(pending, QString());
        QCOMPARE(m_cups.spooledDocuments(), before);
        QCOMPARE(QDir(m_temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void keptQueueAndOptions()
    {
        // The first dialog is turned to the device queue, its Properties to high quality and four pages per
        // sheet (which would shrink the target); the second starts there, keeps the quality, pages exact.
        PrintService service;
        int choices = 0;
        const Answer first = [&](QPrintDialog* dialog) {
            dialog->findChild<QComboBox*>(u"printers"_s)->setCurrentText(m_cups.deviceQueue());
            QTimer::singleShot(100, dialog, [&choices] {
                QWidget* properties = QApplication::activeModalWidget();
                for (QComboBox* box : properties->findChildren<QComboBox*>()) {
                    const auto pick = box->objectName() == u"pagesPerSheetCombo" ? u"4 (2x2)"_s : u"High"_s;
                    box->setCurrentText(pick);
                    choices += box->currentText() == pick;
                }
                properties->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            });
            dialog->findChild<QPushButton*>(u"properties"_s)->click(); // returns once they are confirmed
            dialog->accept();
        };
        const QImage pixels = chart(600, 900);
        for (const Answer& answer : {first, Answer(&QPrintDialog::accept)}) {
            const QStringList before = m_cups.spooledDocuments();
            QVERIFY(tryPrint(service, printable(pixels, 300), settingsFor(0), answer).endsWith(u"printed"));
            QVERIFY(m_cups.waitForCompletedJob(m_cups.deviceQueue(), service.lastJobId()));
            const QByteArray job = m_cups.jobAttributes(m_cups.waitForNewDocument(before));
            QVERIFY(job.contains(QByteArray("PrintQuality\0\0015", 15)));
            // Kept for the queue as the driver names it.
            QCOMPARE(service.lastJob()->driverSettings, QStringList(u"Printout Quality: High"_s));
            QVERIFY(foundAlone(m_cups.devicePages().value(0), pixels, QPoint(940, 1304)));
        }
        QCOMPARE(choices, 2);
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
