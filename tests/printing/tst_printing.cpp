#include "fixtures.h"
#include "papergeometry.h"
#include "printservice.h"
#include "privatecups.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

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

void pressPrint(QPrintDialog* dialog)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text().remove(u'&') == u"Print" && button->isEnabled())
            return button->click();
    }
    dialog->reject(); // so that print() returns
    QFAIL("the print dialog has no enabled Print button");
}

// Answers the next print dialog with `action`, and any warning after it with `warningButton`, noting
// the warning's title and informative text.
struct DialogAnswer
{
    explicit DialogAnswer(Answer action = pressPrint, const QString& warningButton = u"Continue"_s)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, action, warningButton] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<QPrintDialog*>(modal); dialog && !seen) {
                seen = true;
                action(dialog);
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                warnings << box->windowTitle() + u'|' + box->informativeText();
                for (QAbstractButton* button : box->buttons()) {
                    if (button->text() == warningButton)
                        button->click();
                }
            }
        });
        timer.start(20);
    }
    QTimer timer;
    bool seen = false;
    QStringList warnings;
};

// The value of a keyword attribute in a job's IPP attributes: tag, name length, name, value length, value.
QByteArray ippKeyword(const QByteArray& attributes, const QByteArray& name)
{
    const QByteArray head = QByteArray(1, '\x44') + char(0) + char(name.size()) + name;
    const qsizetype at = attributes.indexOf(head) + head.size();
    return at < head.size() ? QByteArray() : attributes.mid(at + 2, uchar(attributes[at + 1]));
}

// Where `want` lies pixel for pixel in `page` within 3 pixels of `near`, with nothing else drawn.
bool foundAlone(const QImage& page, const QImage& want, QPoint near)
{
    QImage white(page.size(), QImage::Format_RGB32);
    white.fill(Qt::white);
    for (int d = 0; d < 49; ++d) {
        const QRect rect(near + QPoint(d % 7 - 3, d / 7 - 3), want.size());
        QImage rest = page.convertToFormat(QImage::Format_RGB32);
        if (rest.copy(rect) != want.convertToFormat(QImage::Format_RGB32))
            continue;
        QPainter(&rest).fillRect(rect, Qt::white);
        return rest == white;
    }
    return false;
}

} // namespace

class TestPrinting : public QObject
{
    Q_OBJECT

    Testing::PrivateCups m_cups;
    QString m_skip, m_deviceSkip;

    // Prints on the device queue and returns its pages; the job must be the one the queue completed.
    QList<QImage> printOnDevice(PrintService& service, const PrintableImage& image,
                                const PrintSettings& settings, Answer answer = pressPrint)
    {
        DialogAnswer dialog(std::move(answer));
        if (!service.print(nullptr, image, settings) || service.lastJobQueue() != m_cups.deviceQueue() ||
            !m_cups.waitForCompletedJob(m_cups.deviceQueue(), service.lastJobId()))
            return {};
        return m_cups.devicePages();
    }

private slots:
    void initTestCase()
    {
        // The scheduler must be up before Qt's print support first talks to CUPS.
        if (Testing::popplerToolsAvailable(&m_skip) && !m_cups.start())
            m_skip = u"no private CUPS scheduler: "_s + m_cups.errorString();
        m_deviceSkip = m_skip;
        if (m_skip.isEmpty() && !m_cups.addDeviceQueue())
            m_deviceSkip = u"no device queue: "_s + m_cups.errorString();
    }

    void placement_data()
    {
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QRectF>("paper");
        QTest::addColumn<QRectF>("expected");
        // 300 dpi targets on a 600 dpi device.
        const QRectF a4(0, 0, 210 / 25.4 * 600, 297 / 25.4 * 600);
        QTest::newRow("A4 target centred on A3")
            << QSize(2480, 3508) << 4 << 0 << QRectF(0, 0, 7015.748, 9921.260)
            << QRectF(1027.874, 1452.630, 4960, 7016);
        QTest::newRow("top left, larger than offset paper")
            << QSize(6000, 9000) << 0 << 0 << a4.translated(-10, -20) << QRectF(-10, -20, 12000, 18000);
        QTest::newRow("4x6 bottom right")
            << QSize(1200, 1800) << 8 << 0 << a4 << QRectF(2560.630, 3415.748, 2400, 3600);
        QTest::newRow("4x6 turned, landscape")
            << QSize(1200, 1800) << 4 << 90 << a4.transposed() << QRectF(1707.874, 1280.315, 3600, 2400);
    }
    void placement()
    {
        QFETCH(QSize, pixels);
        QFETCH(int, alignment);
        QFETCH(int, rotation);
        QFETCH(QRectF, paper);
        QFETCH(QRectF, expected);
        const QRectF got =
            PrintService::targetRect(paper, 600, printable(QImage(pixels, QImage::Format_RGB32), 300),
                                     settingsFor(0, alignment, rotation));
        const QRectF off = got.adjusted(-expected.x(), -expected.y(), -expected.right(), -expected.bottom());
        QVERIFY2(qAbs(off.x()) + qAbs(off.y()) + qAbs(off.right()) + qAbs(off.bottom()) < 0.002,
                 qPrintable(QDebug::toString(got)));
    }

    void drawnPixels_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QPoint>("origin");
        QTest::newRow("top left") << 0 << 0 << QPoint(4, 6);
        QTest::newRow("bottom right, turned") << 8 << 90 << QPoint(54, 36);
    }
    void drawnPixels()
    {
        QFETCH(int, alignment);
        QFETCH(int, rotation);
        QFETCH(QPoint, origin);
        // A 150 dpi chart on a 300 dpi sheet: each pixel an exact 2 x 2 block, nothing else drawn.
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

    void failurePaths_data()
    {
        QTest::addColumn<bool>("noImage");
        QTest::addColumn<bool>("unwritable");
        QTest::addColumn<QString>("message");
        QTest::newRow("no image, no dialog") << true << false << "No image is loaded.";
        QTest::newRow("dialog cancelled") << false << false << QString();
        QTest::newRow("printer cannot be opened") << false << true << "The printer could not be opened.";
    }
    void failurePaths()
    {
        QFETCH(bool, noImage);
        QFETCH(bool, unwritable);
        QFETCH(QString, message);
        if (!noImage && !m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        // The dialog itself refuses an unwritable file, so the printer is pointed at one behind its back.
        const QTemporaryDir dir;
        const QString file = dir.filePath(u"missing-folder/target.pdf"_s);
        DialogAnswer answer([&](QPrintDialog* dialog) {
            if (!unwritable)
                return dialog->reject();
            dialog->printer()->setOutputFileName(file);
            dialog->done(QDialog::Accepted);
        });
        PrintableImage image = printable(noImage ? QImage() : chart(60, 90), 300);
        image.pixelWidth = image.pixelHeight = 100; // a stated size without pixels
        const QStringList before = m_cups.spooledDocuments();
        QString thrown;
        try {
            QVERIFY(!PrintService().print(nullptr, image, settingsFor(0)));
        } catch (const PrintException& exception) {
            thrown = exception.message();
        }
        QCOMPARE(thrown, message);
        QCOMPARE(answer.seen, !noImage);
        QCOMPARE(m_cups.spooledDocuments(), before);
        QVERIFY(!QFile::exists(file));
    }

    void sheets_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QByteArray>("media");
        const char* media[] = {"",
                               "",
                               "custom_329x483mm_329x483mm",
                               "",
                               "na_letter_8.5x11in",
                               "na_legal_8.5x14in",
                               "na_ledger_11x17in",
                               "na_super-b_13x19in",
                               "na_c_17x22in"};
        for (const int paper : {2, 4, 5, 6, 7, 8}) {
            for (const int rotation : {0, 90})
                QTest::addRow("%s %d", media[paper], rotation)
                    << paper << rotation << QByteArray(media[paper]);
        }
    }
    void sheets()
    {
        QFETCH(int, paper);
        QFETCH(int, rotation);
        QFETCH(QByteArray, media);
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        // The generic PostScript driver does not announce colour, so Qt starts its printer in grey.
        QVERIFY(m_cups.setDefaultQueue(m_cups.postScriptQueue()));
        // Grey targets and the opaque ARGB pixels a CMYK TIFF comes as must print unchanged too.
        const QImage::Format formats[] = {QImage::Format_RGB32, QImage::Format_Grayscale8,
                                          QImage::Format_ARGB32};
        const QImage pixels = chart(60, 90, formats[paper % 3]);
        const PrintSettings settings = settingsFor(paper, 4, rotation);
        const QStringList before = m_cups.spooledDocuments();
        DialogAnswer answer;
        QVERIFY(PrintService().print(nullptr, printable(pixels, 300), settings));
        const QString document = m_cups.waitForNewDocument(before);
        const QByteArray job = m_cups.jobAttributes(document);
        QVERIFY2(job.contains("Lumetra"), qPrintable(m_cups.errorLogTail()));
        QCOMPARE(ippKeyword(job, "media"), media);
        QCOMPARE(ippKeyword(job, "print-scaling"), "none");
        const SizeD mm = settings.paper.sizeMillimeters(settings.orientation);
        const QSizeF off = Testing::pdfPageSizePoints(document) - QSizeF(mm.width, mm.height) * 72 / 25.4;
        QVERIFY2(qAbs(off.width()) <= 0.5 && qAbs(off.height()) <= 0.5, qPrintable(QDebug::toString(off)));
        // One lossless image with every pixel, at the target's ppi, not smoothed.
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
        for (const int paper : {0, 4}) {
            for (const int rotation : {0, 90})
                QTest::addRow("%s %d", paper ? "Letter" : "A4", rotation) << paper << rotation << 300;
        }
        QTest::newRow("150 dpi target") << 0 << 0 << 150;
    }
    void deviceRaster()
    {
        QFETCH(int, paper);
        QFETCH(int, rotation);
        QFETCH(int, dpi);
        if (!m_deviceSkip.isEmpty())
            QSKIP(qPrintable(m_deviceSkip));
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
        QImage expected = rotatedImage(pixels, rotation ? rotation + 270 : 0);
        expected = expected.scaled(expected.size() * (300 / dpi));
        QVERIFY(foundAlone(
            pages[0], expected,
            QPoint(pages[0].width() - expected.width(), pages[0].height() - expected.height()) / 2));
    }

    void refusedJob_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << false << "Destination \"lumetra-doomed\" is not accepting jobs.";
        QTest::newRow("deleted after the dialog") << true << "The printer or class does not exist.";
    }
    void refusedJob()
    {
        QFETCH(bool, deleted);
        QFETCH(QString, reason);
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        const QString queue = u"lumetra-doomed"_s;
        QVERIFY(m_cups.runTool(u"lpadmin"_s, {u"-p"_s, queue, u"-E"_s, u"-v"_s, u"file:///dev/null"_s}));
        QVERIFY(deleted || m_cups.runTool(u"cupsreject"_s, {queue}));
        PrintService service;
        service.setQueueName(queue);
        DialogAnswer answer([&](QPrintDialog* dialog) {
            if (deleted)
                m_cups.runTool(u"lpadmin"_s, {u"-x"_s, queue});
            pressPrint(dialog);
        });
        const QStringList before = m_cups.spooledDocuments();
        QString thrown;
        try {
            service.print(nullptr, printable(chart(60, 90), 300), settingsFor(0));
        } catch (const PrintException& exception) {
            thrown = exception.message();
        }
        m_cups.runTool(u"lpadmin"_s, {u"-x"_s, queue});
        QCOMPARE(thrown, u"The print job could not be sent to \"%1\": %2"_s.arg(queue, reason));
        QCOMPARE(service.lastJobId(), 0);
        QCOMPARE(m_cups.spooledDocuments(), before);
    }

    void keptQueueAndOptions()
    {
        if (!m_deviceSkip.isEmpty())
            QSKIP(qPrintable(m_deviceSkip));
        // The first dialog is turned to the device queue by hand, its Properties set to high quality and
        // four pages per sheet (which would shrink the target). The second starts on that queue and
        // keeps the quality; both pages stay exact.
        QVERIFY(m_cups.setDefaultQueue(m_cups.rawQueue()));
        PrintService service;
        const QImage pixels = chart(600, 900);
        QStringList shown;
        const Answer first = [&](QPrintDialog* d) {
            auto* queues = d->findChild<QComboBox*>(u"printers"_s);
            shown << queues->currentText();
            queues->setCurrentIndex(queues->findText(m_cups.deviceQueue()));
            QTimer::singleShot(100, d, [&shown] {
                QWidget* properties = QApplication::activeModalWidget();
                for (QComboBox* combo : properties->findChildren<QComboBox*>()) {
                    const QString choice =
                        combo->objectName() == u"pagesPerSheetCombo" ? u"4 (2x2)"_s : u"High"_s;
                    if (combo->findText(choice) >= 0)
                        combo->setCurrentIndex(combo->findText(choice)), shown << choice;
                }
                properties->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            });
            d->findChild<QPushButton*>(u"properties"_s)->click(); // returns once the Properties are confirmed
            pressPrint(d);
        };
        const Answer second = [&](QPrintDialog* d) {
            shown << d->findChild<QComboBox*>(u"printers"_s)->currentText();
            pressPrint(d);
        };
        for (const Answer& answer : {first, second}) {
            const QStringList before = m_cups.spooledDocuments();
            const QList<QImage> pages =
                printOnDevice(service, printable(pixels, 300), settingsFor(0), answer);
            QCOMPARE(pages.size(), 1);
            QVERIFY(foundAlone(pages[0], pixels, QPoint(940, 1304)));
            const QByteArray job = m_cups.jobAttributes(m_cups.waitForNewDocument(before));
            QVERIFY(job.contains(QByteArray("PrintQuality\0\x01"
                                            "5",
                                            15)));
        }
        QCOMPARE(shown, QStringList({m_cups.rawQueue(), u"High"_s, u"4 (2x2)"_s, m_cups.deviceQueue()}));
        QCOMPARE(service.queueName(), m_cups.deviceQueue());
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
        if (!m_deviceSkip.isEmpty())
            QSKIP(qPrintable(m_deviceSkip));
        PrintService service;
        service.setQueueName(m_cups.deviceQueue());
        DialogAnswer answer(pressPrint, u"Cancel"_s);
        const QStringList before = m_cups.spooledDocuments();
        QCOMPARE(service.print(nullptr, printable(chart(pixels.width(), pixels.height()), 254),
                               settingsFor(0, alignment, 0, landscape)),
                 warning.isEmpty());
        QCOMPARE(answer.warnings.join(u'/'),
                 warning.isEmpty()
                     ? QString()
                     : u"Image reaches into the margins|Not printed:\n%1\n\nContinue printing, or "
                       "cancel and choose another alignment or a larger paper size."_s.arg(warning));
        QCOMPARE(m_cups.spooledDocuments().size(), before.size() + warning.isEmpty());
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
