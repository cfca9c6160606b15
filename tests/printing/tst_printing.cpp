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
    const auto orientation = rotation ? PrintOrientation::Landscape : PrintOrientation::Portrait;
    return {allPaperPresets().at(paper), orientation, PrintAlignment(alignment), rotation};
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
bool foundAlone(QImage page, const QImage& want, QPoint near)
{
    QImage white(page.size(), QImage::Format_RGB32);
    white.fill(Qt::white);
    for (int d = 0; d < 49; ++d) {
        const QRect rect(near + QPoint(d % 7 - 3, d / 7 - 3), want.size());
        if (page.copy(rect) == want.convertToFormat(QImage::Format_RGB32)) {
            QPainter(&page).fillRect(rect, Qt::white);
            return page == white;
        }
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
        QString missing;
        if (!popplerToolsAvailable(&missing) || !m_cups.start() || !m_cups.addDeviceQueue())
            QSKIP(qPrintable(missing.isEmpty() ? m_cups.errorString() : missing));
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
        // Qt starts the generic PostScript driver, which announces no colour, in grey; grey targets and the
        // opaque ARGB pixels of a CMYK TIFF must print unchanged too.
        const QImage::Format formats[] = {QImage::Format_RGB32, QImage::Format_Grayscale8,
                                          QImage::Format_ARGB32};
        const QImage pixels = chart(dpi * 2 / 3, dpi, formats[device ? 0 : paper % 3]);
        const PrintSettings settings = settingsFor(paper, 4, rotation);
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
        const QSizeF off = pdfPageSizePoints(document) - QSizeF(mm.width, mm.height) * 72 / 25.4;
        QVERIFY2(qAbs(off.width()) <= 0.5 && qAbs(off.height()) <= 0.5, qPrintable(QDebug::toString(off)));
        // One lossless, unsmoothed image with every pixel, at the target's ppi.
        const QList<PdfImageInfo> list = listPdfImages(document);
        QCOMPARE(list.size(), 1);
        QCOMPARE(QList<int>({list[0].encoding == u"image", list[0].xPpi, list[0].yPpi, list[0].interpolate}),
                 QList<int>({1, dpi, dpi, 0}));
        QCOMPARE(extractPdfImages(document).value(0).convertToFormat(QImage::Format_RGB32),
                 rotatedImage(pixels, rotation).convertToFormat(QImage::Format_RGB32));
        if (!device)
            return;
        // The device's 300 dpi raster of the portrait media: every pixel unchanged and centred (so on the
        // right sheet); a landscape page turned anticlockwise, a 150 dpi pixel a 2 x 2 block.
        QVERIFY(m_cups.waitForCompletedJob(m_cups.deviceQueue(), service.lastJobId()));
        const QList<QImage> pages = m_cups.devicePages();
        QImage want = rotatedImage(pixels, rotation ? rotation + 270 : 0);
        want = want.scaled(want.size() * (300 / dpi));
        QVERIFY(pages.size() == 1 &&
                foundAlone(pages[0], want,
                           QPoint(pages[0].width() - want.width(), pages[0].height() - want.height()) / 2));
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
        PrintableImage none = small;
        none.image = QImage(); // a stated size without pixels
        QTest::newRow("no image") << "" << none << settingsFor(0) << "No image is loaded.";
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
                    const QString choice =
                        box->objectName() == u"pagesPerSheetCombo" ? u"4 (2x2)"_s : u"High"_s;
                    box->setCurrentText(choice);
                    choices += box->currentText() == choice;
                }
                properties->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            });
            dialog->findChild<QPushButton*>(u"properties"_s)->click(); // returns once they are confirmed
            dialog->accept();
        };
        const QImage pixels = chart(600, 900);
        for (const Answer& answer : {first, Answer(&QPrintDialog::accept)}) {
            const QStringList before = m_cups.spooledDocuments();
            QCOMPARE(tryPrint(service, printable(pixels, 300), settingsFor(0), answer), u"dialog/printed"_s);
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
