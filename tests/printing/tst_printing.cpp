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

// Prints with the dialog answered by `action` and any margin warning cancelled; returns what the user saw
// and how print() ended: "dialog/<warning title|text>/printed", ".../cancelled" or the exception's message.
QString tryPrint(PrintService& service, const PrintableImage& image, const PrintSettings& settings,
                 const Answer& action = &QPrintDialog::accept)
{
    QStringList seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QPrintDialog*>(modal); dialog && !seen.contains(u"dialog")) {
            seen << u"dialog"_s;
            action(dialog);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->windowTitle() + u'|' + box->informativeText();
            QTest::keyClick(box, Qt::Key_Escape); // Cancel
        }
    });
    timer.start(20);
    try {
        seen << (service.print(nullptr, image, settings) ? u"printed"_s : u"cancelled"_s);
    } catch (const PrintException& exception) {
        seen << exception.message();
    }
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

    PrivateCups m_cups;

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
        // The device queue (A4, Letter) colour-manages, fits to the page by default and has margins.
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
        service.setQueueName(device ? m_cups.deviceQueue() : m_cups.postScriptQueue());
        QCOMPARE(tryPrint(service, printable(pixels, dpi), settings), u"dialog/printed"_s);
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
            u"dialog/Image reaches into the margins|Not printed:\n%1\n\nContinue printing, or "
            "cancel and choose another alignment or a larger paper size./cancelled"_s;
        const PrintableImage small = printable(chart(100, 100), 254); // 254 dpi: ten pixels a millimetre
        QTest::newRow("no image") << "" << printable(QImage(), 254) << settingsFor(0)
                                  << "No image is loaded.";
        QTest::newRow("dialog cancelled") << "cancel" << small << settingsFor(0) << "dialog/cancelled";
        QTest::newRow("printer cannot be opened")
            << "unwritable" << small << settingsFor(0) << "dialog/The printer could not be opened.";
        QTest::newRow("queue refuses jobs") << "refuse" << small << settingsFor(0)
                                            << sent + "Destination \"lumetra-doomed\" is not accepting jobs.";
        QTest::newRow("queue deleted after the dialog")
            << "delete" << small << settingsFor(0) << sent + "The printer or class does not exist.";
        // The device cannot print 3, 4, 5, 6 mm at the left, bottom, right, top of the portrait media.
        QTest::newRow("margins top left")
            << "device" << small << settingsFor(0, 0) << warned.arg(u"Top: 6.0 mm\nLeft: 3.0 mm"_s);
        QTest::newRow("margins bottom right, turned")
            << "device" << small << settingsFor(0, 8, 90) << warned.arg(u"Bottom: 5.0 mm\nRight: 6.0 mm"_s);
        QTest::newRow("margins 0.1 mm in") << "device" << printable(chart(2002, 2852), 254) << settingsFor(0)
                                           << warned.arg(u"Top: 0.1 mm\nRight: 0.1 mm"_s);
        QTest::newRow("margins just clear")
            << "device" << printable(chart(2000, 2850), 254) << settingsFor(0) << "dialog/printed";
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
        PrintService service;
        service.setQueueName(setup == u"device" ? m_cups.deviceQueue() : doomed);
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
            QVERIFY(foundAlone(m_cups.devicePages().value(0), pixels, QPoint(940, 1304)));
        }
        QCOMPARE(choices, 2);
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
