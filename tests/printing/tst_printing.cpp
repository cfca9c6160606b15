#include "fixtures.h"
#include "papergeometry.h"
#include "printservice.h"
#include "privatecups.h"

#include <QtPrintSupport>
#include <QtTest>
#include <QtWidgets>

#include <functional>

using namespace Lumetra;
using namespace Qt::StringLiterals;
using Testing::chart;
using Testing::printable;
using Answer = std::function<void(QPrintDialog*)>;

namespace {

// paper: index into allPaperPresets() (A4, A3, A3+, A2, Letter, Legal, Tabloid, Super B, ANSI C).
PrintSettings settingsFor(int paper, int alignment = 4, int rotation = 0, bool landscape = false)
{
    return {allPaperPresets().at(paper),
            landscape || rotation ? PrintOrientation::Landscape : PrintOrientation::Portrait,
            PrintAlignment(alignment), rotation};
}

// Prints with the dialog answered by `action` and any margin warning by `warningButton`; returns what the
// user saw and how print() ended: "dialog/<warning title|text>/printed", ".../cancelled" or the exception.
QString printAnswered(PrintService& service, const PrintableImage& image, const PrintSettings& settings,
                      const Answer& action = &QPrintDialog::accept,
                      const QString& warningButton = u"Continue"_s)
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
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == warningButton)
                    button->click();
            }
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
    QImage white(page.size(), QImage::Format_RGB32);
    white.fill(Qt::white);
    for (int d = 0; d < 49; ++d) {
        const QRect rect(near + QPoint(d % 7 - 3, d / 7 - 3), want.size());
        QImage rest = page.convertToFormat(QImage::Format_RGB32);
        if (rest.copy(rect) == want.convertToFormat(QImage::Format_RGB32)) {
            QPainter(&rest).fillRect(rect, Qt::white);
            return rest == white;
        }
    }
    return false;
}

} // namespace

class TestPrinting : public QObject
{
    Q_OBJECT

    Testing::PrivateCups m_cups;
    QString m_skip;

    // Prints on the device queue and returns its pages; the job must be the one the queue completed.
    QList<QImage> printOnDevice(PrintService& service, const PrintableImage& image,
                                const PrintSettings& settings, const Answer& action = &QPrintDialog::accept)
    {
        if (printAnswered(service, image, settings, action) != u"dialog/printed" ||
            service.lastJobQueue() != m_cups.deviceQueue() ||
            !m_cups.waitForCompletedJob(m_cups.deviceQueue(), service.lastJobId()))
            return {};
        return m_cups.devicePages();
    }

private slots:
    void initTestCase()
    {
        // The scheduler must be up before Qt's print support first talks to CUPS.
        if (Testing::popplerToolsAvailable(&m_skip) && !(m_cups.start() && m_cups.addDeviceQueue()))
            m_skip = u"no private CUPS queues: "_s + m_cups.errorString();
    }
    void init()
    {
        if (!m_skip.isEmpty() && QTest::currentTestFunction() != "drawnPixels"_ba)
            QSKIP(qPrintable(m_skip));
    }

    void drawnPixels_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QPoint>("origin");
        QTest::newRow("top left") << 0 << 0 << QPoint(4, 6);
        QTest::newRow("centred") << 4 << 0 << QPoint(19, 31);
        QTest::newRow("bottom right, turned") << 8 << 90 << QPoint(54, 36);
    }
    void drawnPixels()
    {
        QFETCH(int, alignment);
        QFETCH(int, rotation);
        QFETCH(QPoint, origin);
        // A 150 dpi chart on the 90 x 90 px paper of a 300 dpi sheet: each pixel an exact 2 x 2 block, even
        // when smoothing was on, and nothing else drawn.
        const QImage pixels = chart(30, 20);
        QImage sheet(100, 100, QImage::Format_RGB32);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        PrintService::drawPage(painter, QRectF(4, 6, 90, 90), 300, printable(pixels, 150),
                               settingsFor(0, alignment, rotation));
        QVERIFY(painter.testRenderHint(QPainter::LosslessImageRendering)); // no JPEG in a PDF spool
        painter.end();
        const QImage turned = rotatedImage(pixels, rotation); // clockwise
        QVERIFY(foundAlone(sheet, turned.scaled(turned.size() * 2), origin));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("seen");
        const QString sendFailure = u"dialog/The print job could not be sent to \"lumetra-doomed\": "_s;
        QTest::newRow("no image") << "no image"
                                  << "No image is loaded.";
        QTest::newRow("dialog cancelled") << "cancel"
                                          << "dialog/cancelled";
        QTest::newRow("printer cannot be opened") << "unwritable"
                                                  << "dialog/The printer could not be opened.";
        QTest::newRow("queue refuses jobs")
            << "refuse" << sendFailure + "Destination \"lumetra-doomed\" is not accepting jobs.";
        QTest::newRow("queue deleted after the dialog")
            << "delete" << sendFailure + "The printer or class does not exist.";
    }
    void failures()
    {
        QFETCH(QString, failure);
        QFETCH(QString, seen);
        const QString queue = u"lumetra-doomed"_s;
        QVERIFY(m_cups.runTool(u"lpadmin"_s, {u"-p"_s, queue, u"-E"_s, u"-v"_s, u"file:///dev/null"_s}));
        QVERIFY(failure != u"refuse" || m_cups.runTool(u"cupsreject"_s, {queue}));
        PrintService service;
        service.setQueueName(queue);
        // The dialog itself refuses an unwritable file, so the printer is pointed at one behind its back.
        const QTemporaryDir dir;
        const QString file = dir.filePath(u"missing-folder/target.pdf"_s);
        const Answer action = [&](QPrintDialog* dialog) {
            if (failure == u"cancel")
                return dialog->reject();
            if (failure == u"delete")
                m_cups.runTool(u"lpadmin"_s, {u"-x"_s, queue});
            if (failure != u"unwritable")
                return dialog->accept();
            dialog->printer()->setOutputFileName(file);
            dialog->done(QDialog::Accepted);
        };
        PrintableImage image = printable(failure == u"no image" ? QImage() : chart(100, 100), 300);
        image.pixelWidth = image.pixelHeight = 100; // a stated size without pixels
        const QStringList before = m_cups.spooledDocuments();
        QCOMPARE(printAnswered(service, image, settingsFor(0), action), seen);
        m_cups.runTool(u"lpadmin"_s, {u"-x"_s, queue});
        QCOMPARE(service.lastJobId(), 0);
        QCOMPARE(m_cups.spooledDocuments(), before);
        QVERIFY(!QFile::exists(file));
    }

    void sheets_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("rotation");
        const char* names[] = {"", "", "A3+", "", "Letter", "Legal", "Tabloid", "Super B", "ANSI C"};
        for (const int paper : {2, 4, 5, 6, 7, 8}) {
            for (const int rotation : {0, 90})
                QTest::addRow("%s %d", names[paper], rotation) << paper << rotation;
        }
    }
    void sheets()
    {
        QFETCH(int, paper);
        QFETCH(int, rotation);
        // The generic PostScript driver does not announce colour, so Qt starts its printer in grey. Grey
        // targets and the opaque ARGB pixels a CMYK TIFF comes as must print unchanged too.
        QVERIFY(m_cups.setDefaultQueue(m_cups.postScriptQueue()));
        const QImage::Format formats[] = {QImage::Format_RGB32, QImage::Format_Grayscale8,
                                          QImage::Format_ARGB32};
        const QImage pixels = chart(60, 90, formats[paper % 3]);
        const PrintSettings settings = settingsFor(paper, 4, rotation);
        const QStringList before = m_cups.spooledDocuments();
        PrintService service;
        QCOMPARE(printAnswered(service, printable(pixels, 300), settings), u"dialog/printed"_s);
        const QString document = m_cups.waitForNewDocument(before);
        // The job asks CUPS for the sheet's standard media (a custom size by its millimetres), unscaled.
        const QByteArray media[] = {"",
                                    "",
                                    "custom_329x483mm_329x483mm",
                                    "",
                                    "na_letter_8.5x11in",
                                    "na_legal_8.5x14in",
                                    "na_ledger_11x17in",
                                    "na_super-b_13x19in",
                                    "na_c_17x22in"};
        const QByteArray job = m_cups.jobAttributes(document);
        for (const QByteArray& option : {QByteArray("media") + char(0) + char(media[paper].size()) + media[paper],
                                         QByteArray("print-scaling\0\x04none", 19), QByteArray("Lumetra")})
            QVERIFY2(job.contains(option), option.constData());
        const SizeD mm = settings.paper.sizeMillimeters(settings.orientation);
        const QSizeF off = Testing::pdfPageSizePoints(document) - QSizeF(mm.width, mm.height) * 72 / 25.4;
        QVERIFY2(qAbs(off.width()) <= 0.5 && qAbs(off.height()) <= 0.5, qPrintable(QDebug::toString(off)));
        // One lossless, unsmoothed image with every pixel, at the target's ppi.
        const QList<Testing::PdfImageInfo> list = Testing::listPdfImages(document);
        QCOMPARE(list.size(), 1);
        QCOMPARE(QList<int>({list[0].encoding == u"image", list[0].xPpi, list[0].yPpi, list[0].interpolate}),
                 QList<int>({1, 300, 300, 0}));
        const QList<QImage> images = Testing::extractPdfImages(document);
        QCOMPARE(images.size(), 1);
        QCOMPARE(images[0].convertToFormat(QImage::Format_RGB32),
                 rotatedImage(pixels, rotation).convertToFormat(QImage::Format_RGB32));
    }

    void deviceRaster_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("dpi");
        QTest::newRow("A4") << 0 << 0 << 300;
        QTest::newRow("A4 landscape") << 0 << 90 << 300;
        QTest::newRow("Letter") << 4 << 0 << 300;
        QTest::newRow("Letter landscape") << 4 << 90 << 300;
        QTest::newRow("150 dpi target") << 0 << 0 << 150;
    }
    void deviceRaster()
    {
        QFETCH(int, paper);
        QFETCH(int, rotation);
        QFETCH(int, dpi);
        // The queue colour-manages and fits to the page by default; the target must reach its 300 dpi
        // raster untouched, centred, at its own size.
        const QImage pixels = chart(2 * dpi, 3 * dpi);
        const PrintSettings settings = settingsFor(paper, 4, rotation);
        PrintService service;
        service.setQueueName(m_cups.deviceQueue());
        const QList<QImage> pages = printOnDevice(service, printable(pixels, dpi), settings);
        QVERIFY2(pages.size() == 1, qPrintable(m_cups.errorLogTail()));
        const SizeD mm = settings.paper.sizeMillimeters(PrintOrientation::Portrait);
        QCOMPARE(pages[0].size(), QSize(qRound(mm.width / 25.4 * 300), qRound(mm.height / 25.4 * 300)));
        // A landscape sheet reaches the printer as its portrait media, the page turned anticlockwise.
        QImage want = rotatedImage(pixels, rotation ? rotation + 270 : 0);
        want = want.scaled(want.size() * (300 / dpi));
        QVERIFY(foundAlone(pages[0], want,
                           QPoint(pages[0].width() - want.width(), pages[0].height() - want.height()) / 2));
    }

    void keptQueueAndOptions()
    {
        // The first dialog is turned to the device queue by hand, its Properties set to high quality and
        // four pages per sheet (which would shrink the target). The second starts on that queue and keeps
        // the quality; both pages stay exact.
        QVERIFY(m_cups.setDefaultQueue(m_cups.rawQueue()));
        PrintService service;
        const QImage pixels = chart(600, 900);
        QStringList shown;
        const Answer first = [&](QPrintDialog* dialog) {
            auto* queues = dialog->findChild<QComboBox*>(u"printers"_s);
            shown << queues->currentText();
            queues->setCurrentIndex(queues->findText(m_cups.deviceQueue()));
            QTimer::singleShot(100, dialog, [&shown] {
                QWidget* properties = QApplication::activeModalWidget();
                for (QComboBox* combo : properties->findChildren<QComboBox*>()) {
                    const QString choice =
                        combo->objectName() == u"pagesPerSheetCombo" ? u"4 (2x2)"_s : u"High"_s;
                    if (combo->findText(choice) >= 0)
                        combo->setCurrentIndex(combo->findText(choice)), shown << choice;
                }
                properties->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            });
            dialog->findChild<QPushButton*>(u"properties"_s)->click(); // returns once they are confirmed
            dialog->accept();
        };
        const Answer second = [&](QPrintDialog* dialog) {
            shown << dialog->findChild<QComboBox*>(u"printers"_s)->currentText();
            dialog->accept();
        };
        for (const Answer& answer : {first, second}) {
            const QStringList before = m_cups.spooledDocuments();
            const QList<QImage> pages =
                printOnDevice(service, printable(pixels, 300), settingsFor(0), answer);
            QVERIFY(pages.size() == 1 && foundAlone(pages[0], pixels, QPoint(940, 1304)));
            QVERIFY(m_cups.jobAttributes(m_cups.waitForNewDocument(before))
                        .contains(QByteArray("PrintQuality\0\x01"
                                             "5",
                                             15)));
        }
        QCOMPARE(shown, QStringList({m_cups.rawQueue(), u"High"_s, u"4 (2x2)"_s, m_cups.deviceQueue()}));
    }

    void marginWarning_data()
    {
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QString>("warning");
        // At 254 dpi ten pixels are a millimetre. The queue cannot print 3, 4, 5 and 6 mm at the left,
        // bottom, right and top of the portrait media; a landscape sheet lies on it turned anticlockwise.
        QTest::newRow("top left") << QSize(100, 100) << 0 << false << "Top: 6.0 mm\nLeft: 3.0 mm";
        QTest::newRow("bottom right, landscape")
            << QSize(100, 100) << 8 << true << "Bottom: 5.0 mm\nRight: 6.0 mm";
        QTest::newRow("centred, 0.1 mm in")
            << QSize(2002, 2852) << 4 << false << "Top: 0.1 mm\nRight: 0.1 mm";
        QTest::newRow("centred, just clear") << QSize(2000, 2850) << 4 << false << QString();
    }
    void marginWarning()
    {
        QFETCH(QSize, pixels);
        QFETCH(int, alignment);
        QFETCH(bool, landscape);
        QFETCH(QString, warning);
        PrintService service;
        service.setQueueName(m_cups.deviceQueue());
        const QStringList before = m_cups.spooledDocuments();
        const QString seen =
            printAnswered(service, printable(chart(pixels.width(), pixels.height()), 254),
                          settingsFor(0, alignment, 0, landscape), &QPrintDialog::accept, u"Cancel"_s);
        QCOMPARE(seen, warning.isEmpty()
                           ? u"dialog/printed"_s
                           : u"dialog/Image reaches into the margins|Not printed:\n%1\n\nContinue "
                             "printing, or cancel and choose another alignment or a larger paper "
                             "size./cancelled"_s.arg(warning));
        QCOMPARE(m_cups.spooledDocuments().size(), before.size() + warning.isEmpty());
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
