#include "fixtures.h"
#include "papergeometry.h"
#include "printservice.h"
#include "privatecups.h"

#include <QtPrintSupport>
#include <QtTest>
#include <QtWidgets>

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

    void drawnPixels()
    {
        // A 150 dpi chart on the 90 x 90 px paper of a 300 dpi sheet, top left, centred and bottom right
        // turned: each pixel an exact 2 x 2 block, even with smoothing on, and nothing else drawn.
        const QImage pixels = chart(30, 20);
        for (const auto& [alignment, rotation, origin] :
             {std::tuple(0, 0, QPoint(4, 6)), std::tuple(4, 0, QPoint(19, 31)),
              std::tuple(8, 90, QPoint(54, 36))}) {
            QImage sheet(100, 100, QImage::Format_RGB32);
            sheet.fill(Qt::white);
            QPainter painter(&sheet);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            PrintService::drawPage(painter, QRectF(4, 6, 90, 90), 300, printable(pixels, 150),
                                   settingsFor(0, alignment, rotation));
            QVERIFY(painter.testRenderHint(QPainter::LosslessImageRendering)); // no JPEG in a PDF spool
            painter.end();
            const QImage turned = rotatedImage(pixels, rotation); // clockwise
            QVERIFY2(foundAlone(sheet, turned.scaled(turned.size() * 2), origin),
                     qPrintable(QDebug::toString(origin)));
        }
    }

    void endToEnd_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<bool>("device");
        QTest::addColumn<QByteArray>("media");
        // Every North American sheet and a custom one through the generic PostScript driver; A4 and Letter
        // also on the device queue, which colour-manages, fits to the page by default and has margins.
        const std::pair<int, const char*> sheets[] = {{2, "custom_329x483mm_329x483mm"},
                                                      {4, "na_letter_8.5x11in"},
                                                      {5, "na_legal_8.5x14in"},
                                                      {6, "na_ledger_11x17in"},
                                                      {7, "na_super-b_13x19in"},
                                                      {8, "na_c_17x22in"},
                                                      {0, "iso_a4_210x297mm"}};
        for (const auto& [paper, media] : sheets) {
            for (const int rotation : {0, 90}) {
                if (paper)
                    QTest::addRow("%s %d", media, rotation)
                        << paper << rotation << 300 << false << QByteArray(media);
                if (paper == 0 || paper == 4)
                    QTest::addRow("device %s %d", media, rotation)
                        << paper << rotation << 300 << true << QByteArray(media);
            }
        }
        QTest::newRow("device 150 dpi target") << 0 << 0 << 150 << true << QByteArray("iso_a4_210x297mm");
    }
    void endToEnd()
    {
        QFETCH(int, paper);
        QFETCH(int, rotation);
        QFETCH(int, dpi);
        QFETCH(bool, device);
        QFETCH(QByteArray, media);
        // The generic PostScript driver does not announce colour, so Qt starts its printer in grey. Grey
        // targets and the opaque ARGB pixels a CMYK TIFF comes as must print unchanged too.
        const QString queue = device ? m_cups.deviceQueue() : m_cups.postScriptQueue();
        QVERIFY(m_cups.setDefaultQueue(queue));
        const QImage::Format formats[] = {QImage::Format_RGB32, QImage::Format_Grayscale8,
                                          QImage::Format_ARGB32};
        const QImage pixels = chart(dpi * 2 / 3, dpi, formats[device ? 0 : paper % 3]);
        const PrintSettings settings = settingsFor(paper, 4, rotation);
        const QStringList before = m_cups.spooledDocuments();
        PrintService service;
        QCOMPARE(printAnswered(service, printable(pixels, dpi), settings), u"dialog/printed"_s);
        const QString document = m_cups.waitForNewDocument(before);
        // The job asks for the sheet's standard media (a custom size by its millimetres), unscaled.
        const QByteArray job = m_cups.jobAttributes(document);
        for (const QByteArray& option : {QByteArray("media") + char(0) + char(media.size()) + media,
                                         QByteArray("print-scaling\0\x04none", 19), QByteArray("Lumetra")})
            QVERIFY2(job.contains(option), option.constData());
        const SizeD mm = settings.paper.sizeMillimeters(settings.orientation);
        const QSizeF off = Testing::pdfPageSizePoints(document) - QSizeF(mm.width, mm.height) * 72 / 25.4;
        QVERIFY2(qAbs(off.width()) <= 0.5 && qAbs(off.height()) <= 0.5, qPrintable(QDebug::toString(off)));
        // One lossless, unsmoothed image with every pixel, at the target's ppi.
        const QList<Testing::PdfImageInfo> list = Testing::listPdfImages(document);
        QCOMPARE(list.size(), 1);
        QCOMPARE(QList<int>({list[0].encoding == u"image", list[0].xPpi, list[0].yPpi, list[0].interpolate}),
                 QList<int>({1, dpi, dpi, 0}));
        const QList<QImage> images = Testing::extractPdfImages(document);
        QCOMPARE(images.size(), 1);
        QCOMPARE(images[0].convertToFormat(QImage::Format_RGB32),
                 rotatedImage(pixels, rotation).convertToFormat(QImage::Format_RGB32));
        if (!device)
            return;
        // The device's 300 dpi raster of the portrait media: every pixel unchanged, centred; a landscape
        // page turned anticlockwise, a 150 dpi pixel a 2 x 2 block.
        QCOMPARE(service.lastJobQueue(), queue);
        QVERIFY2(m_cups.waitForCompletedJob(queue, service.lastJobId()), qPrintable(m_cups.errorLogTail()));
        const QList<QImage> pages = m_cups.devicePages();
        QCOMPARE(pages.size(), 1);
        const SizeD portrait = settings.paper.sizeMillimeters(PrintOrientation::Portrait);
        QCOMPARE(pages[0].size(),
                 QSize(qRound(portrait.width / 25.4 * 300), qRound(portrait.height / 25.4 * 300)));
        QImage want = rotatedImage(pixels, rotation ? rotation + 270 : 0);
        want = want.scaled(want.size() * (300 / dpi));
        QVERIFY(foundAlone(pages[0], want,
                           QPoint(pages[0].width() - want.width(), pages[0].height() - want.height()) / 2));
    }

    void attempts_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QSize>("pixels"); // at 254 dpi, ten to the millimetre
        QTest::addColumn<int>("alignment");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QString>("seen");
        const QString sent = u"dialog/The print job could not be sent to \"lumetra-doomed\": "_s;
        const auto warned = [](const char* sides) {
            return u"dialog/Image reaches into the margins|Not printed:\n%1\n\nContinue printing, or cancel "
                   u"and "
                   "choose another alignment or a larger paper size./cancelled"_s.arg(QLatin1String(sides));
        };
        const QSize small(100, 100);
        QTest::newRow("no image") << "no image" << small << 4 << false << "No image is loaded.";
        QTest::newRow("dialog cancelled") << "cancel" << small << 4 << false << "dialog/cancelled";
        QTest::newRow("printer cannot be opened")
            << "unwritable" << small << 4 << false << "dialog/The printer could not be opened.";
        QTest::newRow("queue refuses jobs") << "refuse" << small << 4 << false
                                            << sent + "Destination \"lumetra-doomed\" is not accepting jobs.";
        QTest::newRow("queue deleted after the dialog")
            << "delete" << small << 4 << false << sent + "The printer or class does not exist.";
        // The device queue cannot print 3, 4, 5 and 6 mm at the left, bottom, right and top of the
        // portrait media; a landscape sheet lies on it turned anticlockwise.
        QTest::newRow("margins top left")
            << "device" << small << 0 << false << warned("Top: 6.0 mm\nLeft: 3.0 mm");
        QTest::newRow("margins bottom right, landscape")
            << "device" << small << 8 << true << warned("Bottom: 5.0 mm\nRight: 6.0 mm");
        QTest::newRow("margins 0.1 mm in")
            << "device" << QSize(2002, 2852) << 4 << false << warned("Top: 0.1 mm\nRight: 0.1 mm");
        QTest::newRow("margins just clear")
            << "device" << QSize(2000, 2850) << 4 << false << "dialog/printed";
    }
    void attempts()
    {
        QFETCH(QString, setup);
        QFETCH(QSize, pixels);
        QFETCH(int, alignment);
        QFETCH(bool, landscape);
        QFETCH(QString, seen);
        const QString doomed = u"lumetra-doomed"_s;
        QVERIFY(m_cups.runTool(u"lpadmin"_s, {u"-p"_s, doomed, u"-E"_s, u"-v"_s, u"file:///dev/null"_s}));
        QVERIFY(setup != u"refuse" || m_cups.runTool(u"cupsreject"_s, {doomed}));
        PrintService service;
        service.setQueueName(setup == u"device" ? m_cups.deviceQueue() : doomed);
        // The dialog itself refuses an unwritable file, so the printer gets one behind its back.
        const QTemporaryDir dir;
        const QString file = dir.filePath(u"missing-folder/target.pdf"_s);
        const Answer action = [&](QPrintDialog* dialog) {
            if (setup == u"cancel")
                return dialog->reject();
            if (setup == u"delete")
                m_cups.runTool(u"lpadmin"_s, {u"-x"_s, doomed});
            if (setup != u"unwritable")
                return dialog->accept();
            dialog->printer()->setOutputFileName(file);
            dialog->done(QDialog::Accepted);
        };
        PrintableImage image = printable(chart(pixels.width(), pixels.height()), 254);
        if (setup == u"no image")
            image.image = QImage(); // a stated size without pixels
        const QStringList before = m_cups.spooledDocuments();
        QCOMPARE(printAnswered(service, image, settingsFor(0, alignment, 0, landscape), action, u"Cancel"_s),
                 seen);
        m_cups.runTool(u"lpadmin"_s, {u"-x"_s, doomed});
        const bool printed = seen.endsWith(u"printed");
        QCOMPARE(m_cups.spooledDocuments().size(), before.size() + printed);
        QCOMPARE(service.lastJobId() > 0, printed);
        QVERIFY(!QFile::exists(file));
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
        for (const Answer& answer : {first, Answer(&QPrintDialog::accept)}) {
            const QStringList before = m_cups.spooledDocuments();
            QCOMPARE(printAnswered(service, printable(pixels, 300), settingsFor(0), answer),
                     u"dialog/printed"_s);
            QCOMPARE(service.lastJobQueue(), m_cups.deviceQueue());
            QVERIFY(m_cups.waitForCompletedJob(m_cups.deviceQueue(), service.lastJobId()));
            const QList<QImage> pages = m_cups.devicePages();
            QVERIFY(pages.size() == 1 && foundAlone(pages[0], pixels, QPoint(940, 1304)));
            QVERIFY(m_cups.jobAttributes(m_cups.waitForNewDocument(before))
                        .contains(QByteArray("PrintQuality\0\x01"
                                             "5",
                                             15)));
        }
        QCOMPARE(shown, QStringList({u"High"_s, u"4 (2x2)"_s}));
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
