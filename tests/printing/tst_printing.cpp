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
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <functional>
#include <optional>

using namespace Lumetra;

namespace {

using Testing::chart;
using Testing::printable;

// paper: index into allPaperPresets() (A4, A3, A3+, A2, Letter, Legal, Tabloid, Super B, ANSI C).
PrintSettings settingsFor(int paper, int alignment = 4, int rotation = 0, bool landscape = false)
{
    PrintSettings settings;
    settings.paper = allPaperPresets().at(paper);
    settings.orientation = landscape || rotation ? PrintOrientation::Landscape : PrintOrientation::Portrait;
    settings.alignment = PrintAlignment(alignment);
    settings.rotationDegrees = rotation;
    return settings;
}

// Answers the next print dialog with `action` once it is shown, and any warning after it with the
// button `warningButton`, noting the warning's title and informative text.
struct DialogAnswer
{
    explicit DialogAnswer(std::function<void(QPrintDialog*)> action,
                          const QString& warningButton = QStringLiteral("Continue"))
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
    const QByteArray head = QByteArray(1, '\x44') + char(name.size() >> 8) + char(name.size() & 255) + name;
    const qsizetype at = attributes.indexOf(head);
    if (at < 0 || at + head.size() + 2 > attributes.size())
        return {};
    const auto length =
        qsizetype(uchar(attributes[at + head.size()])) << 8 | uchar(attributes[at + head.size() + 1]);
    return attributes.mid(at + head.size() + 2, length);
}

void pressPrint(QPrintDialog* dialog)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text().remove(u'&') == u"Print" && button->isEnabled())
            return button->click();
    }
    dialog->reject(); // so that print() returns instead of waiting for ever
    QFAIL("the print dialog has no enabled Print button");
}

// Opens the dialog's Properties, lets `change` work on them, confirms them, then prints.
void pressPrintAfterProperties(QPrintDialog* dialog, const std::function<void(QWidget*)>& change)
{
    auto* properties = dialog->findChild<QPushButton*>(QStringLiteral("properties"));
    QVERIFY(properties);
    auto* timer = new QTimer(dialog);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == dialog)
            return;
        timer->stop();
        change(modal);
        modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    timer->start(20);
    properties->click(); // returns once the Properties are confirmed
    pressPrint(dialog);
}

// Where `expected` lies pixel for pixel in `page`, searched within 3 pixels of `near`; null when nowhere.
std::optional<QPoint> findExact(const QImage& page, const QImage& expected, QPoint near)
{
    const QImage want = expected.convertToFormat(QImage::Format_RGB32);
    const auto rowBytes = size_t(want.width()) * 4;
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            const QPoint at = near + QPoint(dx, dy);
            if (!page.rect().contains(QRect(at, want.size())))
                continue;
            int y = 0;
            while (y < want.height() && std::memcmp(page.constScanLine(at.y() + y) + at.x() * 4,
                                                    want.constScanLine(y), rowBytes) == 0)
                ++y;
            if (y == want.height())
                return at;
        }
    }
    return std::nullopt;
}

// Pixels of the page outside `rect` that are not white.
int marksOutside(const QImage& page, const QRect& rect)
{
    int marks = 0;
    for (int y = 0; y < page.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        for (int x = 0; x < page.width(); ++x)
            marks += !rect.contains(x, y) && (line[x] & 0xffffff) != 0xffffff;
    }
    return marks;
}

} // namespace

class TestPrinting : public QObject
{
    Q_OBJECT

    Testing::PrivateCups m_cups;
    QString m_skip;
    QString m_deviceSkip;

    // Prints through the device queue, answering the print dialog with `answer`, and returns the
    // device's pages; the job must be the one the queue completed.
    QList<QImage> printOnDevice(PrintService& service, const PrintableImage& image,
                                const PrintSettings& settings,
                                std::function<void(QPrintDialog*)> answer = pressPrint)
    {
        QFile::remove(m_cups.deviceOutput());
        DialogAnswer dialog(std::move(answer));
        [&] { QVERIFY(service.print(nullptr, image, settings)); }();
        if (QTest::currentTestFailed())
            return {};
        [&] {
            QCOMPARE(service.lastJobQueue(), m_cups.deviceQueue());
            QVERIFY2(m_cups.waitForCompletedJob(m_cups.deviceQueue(), service.lastJobId()),
                     qPrintable(m_cups.errorLogTail()));
        }();
        QString error;
        const QList<QImage> pages = Testing::readPwgRaster(m_cups.deviceOutput(), &error);
        if (pages.isEmpty())
            qWarning("%s", qPrintable(error));
        return pages;
    }

private slots:
    void initTestCase()
    {
        // The scheduler must be up before Qt's print support first talks to CUPS.
        if (Testing::popplerToolsAvailable(&m_skip) && !m_cups.start())
            m_skip = QStringLiteral("no private CUPS scheduler: ") + m_cups.errorString();
        m_deviceSkip = m_skip;
        if (m_skip.isEmpty() && !m_cups.addDeviceQueue())
            m_deviceSkip = QStringLiteral("no device queue: ") + m_cups.errorString();
    }

    void preparedPrinter()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        // The generic PostScript driver does not announce colour, so Qt starts such a printer in grey.
        QPrinter printer(QPrinter::HighResolution);
        printer.setPrinterName(m_cups.postScriptQueue());
        QCOMPARE(printer.colorMode(), QPrinter::GrayScale);
        PrintService::preparePrinter(printer, settingsFor(2, 4, 0, true));
        QCOMPARE(printer.colorMode(), QPrinter::Color);
        QVERIFY(printer.fullPage());
        QCOMPARE(printer.pageLayout().fullRect(QPageLayout::Millimeter).size(), QSizeF(483, 329));
    }

    void placement_data()
    {
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QRectF>("paperRect");
        QTest::addColumn<QRectF>("expected");
        // A4 (2480 x 3508 px) at 300 dpi on a 600 dpi device.
        const QSize a4Pixels(2480, 3508);
        const QRectF a3(0, 0, 7015.748, 9921.260);
        const QRectF a4(0, 0, 210 / 25.4 * 600, 297 / 25.4 * 600);
        QTest::newRow("A3 centre") << a4Pixels << 4 << 0 << a3 << QRectF(1027.874, 1452.630, 4960, 7016);
        QTest::newRow("A4 centre overhangs") << a4Pixels << 4 << 0 << a4 << QRectF(0.315, -0.126, 4960, 7016);
        QTest::newRow("top left larger than offset paper")
            << QSize(6000, 9000) << 0 << 0 << a4.translated(-10, -20) << QRectF(-10, -20, 12000, 18000);
        // A 4 x 6 inch image (1200 x 1800 px at 300 dpi) on A4; the spooled pages check every alignment.
        QTest::newRow("4x6 bottom right")
            << QSize(1200, 1800) << 8 << 0 << a4 << QRectF(2560.630, 3415.748, 2400, 3600);
        QTest::newRow("4x6 turned on A4 landscape")
            << QSize(1200, 1800) << 4 << 90 << a4.transposed() << QRectF(1707.874, 1280.315, 3600, 2400);
    }
    void placement()
    {
        QFETCH(QSize, pixels);
        QFETCH(int, alignment);
        QFETCH(int, rotation);
        QFETCH(QRectF, paperRect);
        QFETCH(QRectF, expected);
        const QRectF got =
            PrintService::targetRect(paperRect, 600, printable(QImage(pixels, QImage::Format_RGB32), 300),
                                     settingsFor(0, alignment, rotation));
        const QRectF error =
            got.adjusted(-expected.left(), -expected.top(), -expected.right(), -expected.bottom());
        QVERIFY2(qAbs(error.left()) + qAbs(error.top()) + qAbs(error.right()) + qAbs(error.bottom()) < 0.002,
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
        // A 30 x 20 px chart at 150 dpi on a 300 dpi sheet: each pixel must become an exact 2 x 2 block,
        // and nothing else may be drawn.
        const QImage pixels = chart(30, 20);
        QImage sheet(100, 100, QImage::Format_RGB32);
        sheet.fill(Qt::white);
        QImage expected = sheet.copy();
        QPainter painter(&sheet);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        PrintService::drawPage(painter, QRectF(4, 6, 90, 90), 300, printable(pixels, 150),
                               settingsFor(0, alignment, rotation));
        // Lossless image rendering keeps a PDF spool from JPEG-compressing the chart.
        QVERIFY(painter.testRenderHint(QPainter::LosslessImageRendering));
        painter.end();
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 60; ++x) {
                // A clockwise quarter turn: the bottom-left source pixel becomes the top-left one.
                const QPoint source = rotation ? QPoint(x / 2, 19 - y / 2) : QPoint(x / 2, y / 2);
                expected.setPixel(origin + (rotation ? QPoint(y, x) : QPoint(x, y)), pixels.pixel(source));
            }
        }
        QCOMPARE(sheet, expected);
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
        const QString file = dir.filePath(QStringLiteral("missing-folder/target.pdf"));
        DialogAnswer answer([&](QPrintDialog* dialog) {
            if (!unwritable)
                return dialog->reject();
            dialog->printer()->setOutputFileName(file);
            dialog->done(QDialog::Accepted);
        });
        PrintableImage image = printable(noImage ? QImage() : chart(60, 90), 300);
        if (noImage)
            image.pixelWidth = image.pixelHeight = 100; // a stated size without pixels
        const QStringList before = m_cups.spooledDocuments();
        QString thrown;
        try {
            QVERIFY(!PrintService().print(nullptr, image, settingsFor(0)));
        } catch (const PrintException& exception) {
            thrown = exception.message();
        }
        QCOMPARE(thrown, message);
        QTest::qWait(300);
        QCOMPARE(answer.seen, !noImage);
        QCOMPARE(m_cups.spooledDocuments(), before);
        QVERIFY(!QFile::exists(file));
    }

    void endToEnd_data()
    {
        QTest::addColumn<bool>("postScriptQueue");
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QByteArray>("media"); // what the job asks CUPS for
        const char* papers[] = {"A4", "A3", "A3+", "A2", "Letter", "Legal", "Tabloid", "Super B", "ANSI C"};
        const QByteArray media[] = {"iso_a4_210x297mm",  "iso_a3_297x420mm",   "custom_329x483mm_329x483mm",
                                    "iso_a2_420x594mm",  "na_letter_8.5x11in", "na_legal_8.5x14in",
                                    "na_ledger_11x17in", "na_super-b_13x19in", "na_c_17x22in"};
        // Every sheet through the queue with a driver: the North American ones in both orientations, the
        // DIN ones turned on every other sheet, the rows running through all nine alignments; the grey
        // source there too, since that driver starts such a printer in grey.
        for (int paper = 0; paper < 9; ++paper) {
            for (const int rotation : {0, 90}) {
                if (paper < 4 && rotation != paper % 2 * 90)
                    continue;
                QTest::addRow("ps %s RGB rotation %d", papers[paper], rotation)
                    << true << paper << rotation << int(QImage::Format_RGB32) << (paper + rotation / 90) % 9
                    << media[paper];
            }
        }
        QTest::newRow("ps gray rotation 90")
            << true << 0 << 90 << int(QImage::Format_Grayscale8) << 4 << media[0];
        // The raw queue takes the custom size and the opaque ARGB pixels the TIFF reader hands CMYK over as.
        QTest::newRow("raw A3+ RGB rotation 0")
            << false << 2 << 0 << int(QImage::Format_RGB32) << 8 << media[2];
        QTest::newRow("raw CMYK source rotation 90")
            << false << 1 << 90 << int(QImage::Format_ARGB32) << 0 << media[1];
    }
    void endToEnd()
    {
        QFETCH(bool, postScriptQueue);
        QFETCH(int, paper);
        QFETCH(int, rotation);
        QFETCH(int, format);
        QFETCH(int, alignment);
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        const QString queue = postScriptQueue ? m_cups.postScriptQueue() : m_cups.rawQueue();
        QVERIFY(m_cups.setDefaultQueue(queue));
        const QImage pixels = chart(60, 90, QImage::Format(format));
        const PrintSettings settings = settingsFor(paper, alignment, rotation);
        const QStringList before = m_cups.spooledDocuments();
        DialogAnswer answer(pressPrint);
        QVERIFY(PrintService().print(nullptr, printable(pixels, 300), settings));
        const QString document = m_cups.waitForNewDocument(before);
        QVERIFY2(!document.isEmpty(), qPrintable(m_cups.errorLogTail()));
        const QByteArray job = m_cups.jobAttributes(document);
        QVERIFY(job.contains("Lumetra") && job.contains("/printers/" + queue.toUtf8()));
        QFETCH(QByteArray, media);
        QCOMPARE(ippKeyword(job, "media"), media);

        // The preset's page in the chosen orientation, which Qt's PDF writer states in whole points.
        QString error;
        const QSizeF page = Testing::pdfPageSizePoints(document, 1, &error);
        const SizeD mm = settings.paper.sizeMillimeters(settings.orientation);
        QCOMPARE(page, QSizeF(qRound(mm.width / 25.4 * 72), qRound(mm.height / 25.4 * 72)));

        const QImage expected = rotatedImage(pixels, rotation).convertToFormat(QImage::Format_RGB32);
        const QList<Testing::PdfImageInfo> list = Testing::listPdfImages(document, &error);
        QVERIFY2(list.size() == 1, qPrintable(QStringLiteral("%1 images %2").arg(list.size()).arg(error)));
        const Testing::PdfImageInfo& info = list.first();
        QCOMPARE(info.encoding, QStringLiteral("image")); // Flate or uncompressed, never JPEG
        QCOMPARE(info.color, QStringLiteral("rgb")); // asked for colour, Qt spools grey targets as RGB too
        QCOMPARE(QList<int>({info.width, info.height, info.xPpi, info.yPpi, info.interpolate}),
                 QList<int>({expected.width(), expected.height(), 300, 300, 0}));
        const QList<QImage> extracted = Testing::extractPdfImages(document, &error);
        QVERIFY2(extracted.size() == 1, qPrintable(error));
        QCOMPARE(extracted.first().convertToFormat(QImage::Format_RGB32), expected); // every pixel

        // Where the chart lies: render the page at one pixel per point and find the chart, which has
        // no white pixel, on the white sheet.
        const QImage rendered = Testing::renderPdfPage(document, 72, 1, &error);
        QVERIFY2(!rendered.isNull(), qPrintable(error));
        QRect found;
        for (int y = 0; y < rendered.height(); ++y) {
            for (int x = 0; x < rendered.width(); ++x)
                found |= qGray(rendered.pixel(x, y)) < 250 ? QRect(x, y, 1, 1) : QRect();
        }
        // A 60 x 90 px chart at 300 dpi is 14.4 x 21.6 points, turned with the sheet; the alignments
        // run row by row from the top left, giving their share of the free space before the chart.
        const QSizeF size = rotation ? QSizeF(21.6, 14.4) : QSizeF(14.4, 21.6);
        const QRectF want(QPointF((page.width() - size.width()) * (alignment % 3) / 2,
                                  (page.height() - size.height()) * (alignment / 3) / 2),
                          size);
        const QRectF off = QRectF(found).adjusted(-want.left(), -want.top(), -want.right(), -want.bottom());
        QVERIFY2(qMax(qMax(qAbs(off.left()), qAbs(off.top())), qMax(qAbs(off.right()), qAbs(off.bottom()))) <
                     1.5,
                 qPrintable(QDebug::toString(found)));
    }

    void deviceRaster_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("dpi");
        const char* names[] = {"A4", "A3", "", "", "Letter"};
        for (const int paper : {0, 1, 4}) {
            for (const int rotation : {0, 90})
                QTest::addRow("%s rotation %d", names[paper], rotation) << paper << rotation << 300;
        }
        QTest::newRow("A4 150 dpi target") << 0 << 0 << 150;
    }
    void deviceRaster()
    {
        QFETCH(int, paper);
        QFETCH(int, rotation);
        QFETCH(int, dpi);
        if (!m_deviceSkip.isEmpty())
            QSKIP(qPrintable(m_deviceSkip));
        // The device queue colour-manages and fits to the page by default; the target must reach its
        // raster untouched, centred, at its own size.
        const QImage pixels = chart(dpi == 300 ? 600 : 300, dpi == 300 ? 900 : 450);
        const PrintSettings settings = settingsFor(paper, 4, rotation);
        PrintService service;
        service.setQueueName(m_cups.deviceQueue());
        const QList<QImage> pages = printOnDevice(service, printable(pixels, dpi), settings);
        QCOMPARE(pages.size(), 1);
        const QImage& page = pages.first();
        const SizeD mm = settings.paper.sizeMillimeters(PrintOrientation::Portrait);
        QCOMPARE(page.size(), QSize(qRound(mm.width / 25.4 * 300), qRound(mm.height / 25.4 * 300)));
        // A landscape sheet reaches the printer as its portrait media with the page turned a quarter
        // anticlockwise; a 150 dpi pixel becomes a 2 x 2 block.
        const int scale = 300 / dpi;
        QImage expected = rotatedImage(pixels, rotation ? rotation + 270 : 0);
        expected = expected.scaled(expected.size() * scale);
        const QPoint centred((page.width() - expected.width()) / 2, (page.height() - expected.height()) / 2);
        const std::optional<QPoint> at = findExact(page, expected, centred);
        QVERIFY2(at, qPrintable(QStringLiteral("not found near (%1, %2)").arg(centred.x()).arg(centred.y())));
        QCOMPARE(marksOutside(page, QRect(*at, expected.size())), 0);
    }

    void queueAltersPlainJobs()
    {
        if (!m_deviceSkip.isEmpty())
            QSKIP(qPrintable(m_deviceSkip));
        // The same document sent without Lumetra's options is fitted and colour-managed by the queue,
        // so the exact rows above prove the options, not a harmless queue.
        const QImage pixels = chart(600, 900);
        PrintService service;
        service.setQueueName(m_cups.deviceQueue());
        const QStringList before = m_cups.spooledDocuments();
        QCOMPARE(printOnDevice(service, printable(pixels, 300), settingsFor(0)).size(), 1);
        const QString document = m_cups.waitForNewDocument(before);
        QVERIFY(!document.isEmpty());
        QFile::remove(m_cups.deviceOutput());
        QString output;
        QVERIFY2(m_cups.runTool(QStringLiteral("lp"), {QStringLiteral("-d"), m_cups.deviceQueue(), document},
                                &output),
                 qPrintable(m_cups.errorString()));
        const int job = output.section(u'-', -1).section(u' ', 0, 0).toInt();
        QVERIFY2(m_cups.waitForCompletedJob(m_cups.deviceQueue(), job), qPrintable(output));
        const QList<QImage> pages = Testing::readPwgRaster(m_cups.deviceOutput());
        QCOMPARE(pages.size(), 1);
        QVERIFY(marksOutside(pages.first(), QRect()) > 0);
        QVERIFY(!findExact(pages.first(), pixels, QPoint(940, 1304)));
    }

    void handOverFailures_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << false << "Destination \"lumetra-doomed\" is not accepting jobs.";
        QTest::newRow("deleted after the dialog") << true << "The printer or class does not exist.";
    }
    void handOverFailures()
    {
        QFETCH(bool, deleted);
        QFETCH(QString, reason);
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        const QString queue = QStringLiteral("lumetra-doomed");
        QVERIFY(m_cups.runTool(QStringLiteral("lpadmin"),
                               {QStringLiteral("-p"), queue, QStringLiteral("-E"), QStringLiteral("-v"),
                                QStringLiteral("file:///dev/null")}));
        if (!deleted)
            QVERIFY(m_cups.runTool(QStringLiteral("cupsreject"), {queue}));
        PrintService service;
        service.setQueueName(queue);
        QCOMPARE(service.queueName(), queue);
        DialogAnswer answer([&](QPrintDialog* dialog) {
            if (deleted)
                m_cups.runTool(QStringLiteral("lpadmin"), {QStringLiteral("-x"), queue});
            pressPrint(dialog);
        });
        const QStringList before = m_cups.spooledDocuments();
        QString thrown;
        try {
            service.print(nullptr, printable(chart(60, 90), 300), settingsFor(0));
        } catch (const PrintException& exception) {
            thrown = exception.message();
        }
        if (!deleted)
            m_cups.runTool(QStringLiteral("lpadmin"), {QStringLiteral("-x"), queue});
        QCOMPARE(thrown, QStringLiteral("The print job could not be sent to \"%1\": %2").arg(queue, reason));
        QCOMPARE(service.lastJobId(), 0);
        QCOMPARE(m_cups.spooledDocuments(), before);
    }

    void keptPrinterAndOptions()
    {
        if (!m_deviceSkip.isEmpty())
            QSKIP(qPrintable(m_deviceSkip));
        // The first dialog is turned to the device queue by hand, and its Properties ask for four pages
        // per sheet (which would shrink the target) and high quality. The second dialog starts on that
        // queue and is accepted as it opens: the quality stays, the page stays exact.
        QVERIFY(m_cups.setDefaultQueue(m_cups.rawQueue()));
        PrintService service;
        const QImage pixels = chart(600, 900);
        QStringList shown;
        const auto first = [&](QPrintDialog* d) {
            auto* queues = d->findChild<QComboBox*>(QStringLiteral("printers"));
            QVERIFY(queues);
            shown << queues->currentText();
            queues->setCurrentIndex(queues->findText(m_cups.deviceQueue()));
            pressPrintAfterProperties(d, [&](QWidget* properties) {
                for (QComboBox* combo : properties->findChildren<QComboBox*>()) {
                    if (combo->objectName() == QStringLiteral("pagesPerSheetCombo"))
                        combo->setCurrentIndex(combo->findText(QStringLiteral("4"), Qt::MatchStartsWith));
                    else if (combo->findText(QStringLiteral("High")) >= 0)
                        combo->setCurrentIndex(combo->findText(QStringLiteral("High")));
                    else
                        continue;
                    shown << combo->currentText();
                }
            });
        };
        const auto second = [&](QPrintDialog* d) {
            shown << d->findChild<QComboBox*>(QStringLiteral("printers"))->currentText();
            pressPrint(d);
        };
        QByteArray quality;
        for (const auto& answer :
             {std::function<void(QPrintDialog*)>(first), std::function<void(QPrintDialog*)>(second)}) {
            const QStringList before = m_cups.spooledDocuments();
            const QList<QImage> pages =
                printOnDevice(service, printable(pixels, 300), settingsFor(0), answer);
            QCOMPARE(pages.size(), 1);
            QVERIFY(findExact(pages.first(), pixels, QPoint(940, 1304)));
            const QByteArray job = m_cups.jobAttributes(m_cups.waitForNewDocument(before));
            quality += job.contains(QByteArray("PrintQuality\0\x01"
                                               "5",
                                               15))
                           ? "high "
                           : "default ";
        }
        QCOMPARE(shown, QStringList({m_cups.rawQueue(), QStringLiteral("High"), QStringLiteral("4 (2x2)"),
                                     m_cups.deviceQueue()}));
        QCOMPARE(quality, QByteArray("high high "));
        QCOMPARE(service.queueName(), m_cups.deviceQueue());
    }

    void progressWhileSpooling()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        // A 12-megapixel target takes long enough to write for the modal progress to be caught busy;
        // from then on every step it shows is noted: busy while the page is written, then the share sent.
        PrintService service;
        service.setQueueName(m_cups.rawQueue());
        QStringList steps;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (!progress)
                return;
            watch.stop();
            const auto note = [&steps, progress] {
                const QString step = QStringLiteral("%1 %2/%3")
                                         .arg(progress->labelText())
                                         .arg(progress->value())
                                         .arg(progress->maximum());
                if (steps.isEmpty() || steps.last() != step)
                    steps << step;
            };
            steps << QStringLiteral("modal %1").arg(progress->windowModality() == Qt::ApplicationModal);
            note();
            QObject::connect(progress->findChild<QProgressBar*>(), &QProgressBar::valueChanged, progress,
                             note);
        });
        watch.start(5);
        DialogAnswer answer(pressPrint);
        QVERIFY(service.print(nullptr, printable(chart(3000, 4000), 600), settingsFor(0)));
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY2(steps.size() >= 4, qPrintable(steps.join(u'|')));
        const QString sending = QStringLiteral("Sending to \"%1\"...").arg(m_cups.rawQueue());
        QCOMPARE(steps.mid(0, 2),
                 QStringList({QStringLiteral("modal 1"), QStringLiteral("Preparing the page... -1/0")}));
        QCOMPARE(steps.last(), sending + QStringLiteral(" 1000/1000"));
        // The share sent only grows.
        int last = -1;
        for (const QString& step : steps.mid(2)) {
            QVERIFY2(step.startsWith(sending), qPrintable(step));
            const int value = step.section(u' ', -1).section(u'/', 0, 0).toInt();
            QVERIFY(value >= last);
            last = value;
        }
    }

    void marginIntrusion_data()
    {
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<int>("alignment");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QMarginsF>("expected");
        // At 254 dpi ten pixels are one millimetre; the queue cannot print 3 mm at each edge of A4
        // (210 x 297 mm) and 1, 2, 3 and 4 mm at its left, top, right and bottom in the last rows.
        QTest::newRow("centred, 3 mm clear") << QSize(2040, 2910) << 4 << false << QMarginsF();
        QTest::newRow("centred, 0.1 mm into each side")
            << QSize(2042, 2912) << 4 << false << QMarginsF(0.1, 0.1, 0.1, 0.1);
        QTest::newRow("top left corner") << QSize(100, 100) << 0 << false << QMarginsF(3, 3, 0, 0);
        QTest::newRow("larger than the sheet") << QSize(2200, 100) << 4 << false << QMarginsF(3, 0, 3, 0);
    }
    void marginIntrusion()
    {
        QFETCH(QSize, pixels);
        QFETCH(int, alignment);
        QFETCH(bool, landscape);
        QFETCH(QMarginsF, expected);
        const QMarginsF got = PrintService::marginIntrusion(
            QMarginsF(3, 3, 3, 3), printable(QImage(pixels, QImage::Format_RGB32), 254),
            settingsFor(0, alignment, 0, landscape));
        const QMarginsF error = got - expected;
        QVERIFY2(qAbs(error.left()) + qAbs(error.top()) + qAbs(error.right()) + qAbs(error.bottom()) < 1e-6,
                 qPrintable(QDebug::toString(got)));
    }

    void marginWarning_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QString>("warning");
        // A landscape sheet lies on the portrait media turned anticlockwise: its bottom edge is the
        // media's right edge (5 mm), its right edge the media's top (6 mm).
        QTest::newRow("top left") << 0 << false << "Top: 6.0 mm\nLeft: 3.0 mm";
        QTest::newRow("bottom right, landscape") << 8 << true << "Bottom: 5.0 mm\nRight: 6.0 mm";
    }
    void marginWarning()
    {
        QFETCH(int, alignment);
        QFETCH(bool, landscape);
        QFETCH(QString, warning);
        if (!m_deviceSkip.isEmpty())
            QSKIP(qPrintable(m_deviceSkip));
        // The device queue cannot print 3 to 6 mm at the edges; a target in a corner reaches into two of
        // them. The outline in the preview comes from the same margins.
        PrintService service;
        service.setQueueName(m_cups.rawQueue());
        QCOMPARE(service.unprintableMargins(settingsFor(0)), QMarginsF()); // a raw queue tells none
        service.setQueueName(m_cups.deviceQueue());
        QCOMPARE(service.unprintableMargins(settingsFor(0, alignment, 0, landscape)),
                 landscape ? QMarginsF(4, 3, 6, 5) : QMarginsF(3, 6, 5, 4));
        DialogAnswer answer(pressPrint, QStringLiteral("Cancel"));
        const QStringList before = m_cups.spooledDocuments();
        QVERIFY(
            !service.print(nullptr, printable(chart(60, 90), 300), settingsFor(0, alignment, 0, landscape)));
        QCOMPARE(answer.warnings.join(u'/'),
                 QStringLiteral("Image reaches into the margins|Not printed:\n%1\n\nContinue printing, or "
                                "cancel and choose another alignment or a larger paper size.")
                     .arg(warning));
        QCOMPARE(service.lastJobId(), 0);
        QCOMPARE(m_cups.spooledDocuments(), before);
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
