#include "appidentity.h"
#include "backgroundload.h"
#include "fixtures.h"
#include "mainwindow.h"
#include "papergeometry.h"
#include "previewpainting.h"
#include "printrecord.h"
#include "privatecups.h"

#include <QtPrintSupport>
#include <QtTest>
#include <QtWidgets>

using namespace Qt::Literals::StringLiterals;

class Lumetra::MainWindowProbe
{
public:
    static QString printed(const MainWindow& w) // sheet, turn and alignment: "DIN A4, Portrait, 0, 4"
    {
        const PrintSettings& s = w.m_settings;
        return s.paper.name + (int(s.orientation) ? u", Landscape"_s : u", Portrait"_s) +
               u", %1, %2"_s.arg(s.rotationDegrees).arg(int(s.alignment));
    }
    static void show(MainWindow& w, const PrintableImage& image) // as a load leaves it, in the Image box
    {
        w.m_image = image;
        w.updateMetadata();
    }
};

using namespace Lumetra;
using Step = std::function<void(QWidget*)>;

const Step escape = [](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); }; // Cancel
const Step enter = [](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); };  // the default button

// Runs `act`, answering each modal that comes up with the next step (closing any beyond them) from a timer,
// the only way past exec(). Returns what each showed: "title | text | informative text | plain | busy".
static QStringList answered(QList<Step> steps, const std::function<void()>& act)
{
    QStringList seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || qobject_cast<QProgressDialog*>(modal)) // a print's progress closes itself
            return;
        QString note = qobject_cast<QPrintDialog*>(modal) ? u"print dialog"_s : modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            note += u" | "_s + box->text() + u" | "_s + box->informativeText() +
                    (box->textFormat() == Qt::PlainText ? u" | plain"_s : QString());
        seen << note + (QGuiApplication::overrideCursor() ? u" | busy"_s : QString()); // wait cursor
        steps.isEmpty() ? void(modal->close()) : steps.takeFirst()(modal);
    });
    timer.start(10);
    act();
    return seen;
}

static double contrast(const QImage& drawn) // WCAG's, between its lightest and darkest pixels
{
    const auto lin = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    double low = 1, high = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            const QColor c = drawn.pixelColor(x, y);
            const double l = 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
            low = std::min(low, l), high = std::max(high, l);
        }
    return (high + 0.05) / (low + 0.05);
}

class TestApp : public QObject
{
    Q_OBJECT

public:
    TestApp()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path())); // never the user's settings
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));   // nor the user's print history
        qputenv("CFFIXED_USER_HOME", QFile::encodeName(m_home.path()));
        QApplication::setQuitOnLastWindowClosed(false); // the tests close windows and go on
        setApplicationIdentity();
    }

public slots:
    void openUrl(const QUrl& url) { m_openedUrls << url; }

private:
    QTemporaryDir m_home, m_files;
    Testing::PrivateCups m_cups;
    QString m_cupsProblem;
    QList<QUrl> m_openedUrls;
    std::unique_ptr<MainWindow> w;

    static QSettings store() { return QSettings(u"Quorvane"_s, u"Lumetra"_s); }
    void restart()
    {
        w = std::make_unique<MainWindow>();
        w->show();
        (void)QTest::qWaitForWindowActive(w.get()); // for the shortcuts
    }
    template<typename T = QWidget> T* named(const char* n) { return w->findChild<T*>(QLatin1String(n)); }
    QComboBox* paper() { return named<QComboBox>("paperCombo"); }
    QLabel* error() { return named<QLabel>("errorLabel"); }
    QToolButton* alignment(int i) { return w->findChild<QToolButton*>(u"alignmentButton%1"_s.arg(i)); }
    void trigger(const char* action) { named<QAction>(action)->trigger(); }
    void load(const QStringList& paths) { w->loadCommandLine(paths), idle(); }
    void load(const QString& path) { load(QStringList(path)); }
    void idle() { QTRY_VERIFY_WITH_TIMEOUT(named<QAction>("loadAction")->isEnabled(), 20000); } // load's end
    QStringList lines() // name, pixels, DPI, print size, colour model, profile, and a set's page lines
    {
        QStringList lines;
        for (QLabel* label : named("imageBox")->findChildren<QLabel*>())
            if (!label->isHidden())
                lines << label->text();
        return lines;
    }
    QString state() // the image's name | the sheet | the error, or "hidden -" when hidden and empty
    {
        return lines().first() + u" | "_s + paper()->currentText() + u", "_s +
               named<QComboBox>("orientationCombo")->currentText() +
               (error()->isVisible() ? u" | "_s : u" | hidden "_s) +
               (error()->text().isEmpty() ? u"-"_s : error()->text());
    }
    QString drop(const QStringList& targets) // "+" or "-" for enter, move and drop accepted or refused
    {
        QMimeData data;
        for (const QString& target : targets)
            data.setUrls(data.urls() << QUrl::fromUserInput(target));
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDragMoveEvent move(QPoint(22, 22), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(22, 22), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QString result;
        for (QDropEvent* event : std::initializer_list<QDropEvent*>{&enter, &move, &drop}) {
            QCoreApplication::sendEvent(w.get(), event);
            result += event->isAccepted() ? u'+' : u'-';
        }
        return result;
    }
    QString png(const QString& name, int width, int height, double dpi, const QColorSpace& space = {})
    {
        QImage image = Testing::chart(width, height); // pixels of their own: a shift or a turn shows
        image.setDotsPerMeterX(qRound(dpi / 0.0254)), image.setDotsPerMeterY(qRound(dpi / 0.0254));
        image.setColorSpace(space);
        return image.save(m_files.filePath(name)) ? m_files.filePath(name) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid() && QDir::setCurrent(m_files.path())); // for the relative paths
#ifndef Q_OS_MACOS
        QVERIFY2(store().fileName().startsWith(m_home.path()), qPrintable(store().fileName()));
#endif
        QVERIFY2(PrintHistory::filePath().startsWith(m_home.path()), qPrintable(PrintHistory::filePath()));
        // Before anything of Qt's print support talks to CUPS.
        if (!m_cups.start() || !m_cups.setDefaultQueue(m_cups.rawQueue()))
            m_cupsProblem = u"no private CUPS queue: "_s + m_cups.errorString();
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
    }
    void init()
    {
        store().clear(), restart();
    }
    void cleanup()
    {
        w.reset(); // every way out of a read or a print, failures included, takes the busy cursor down:
        QVERIFY(!QGuiApplication::overrideCursor() && !QApplication::activeModalWidget());
    }

    // Paper, orientation and alignment as stored (an empty one is not) and as the inspector stores them.
    void storedSettings()
    {
        const QStringList keys = {u"print/paper"_s, u"print/orientation"_s, u"print/alignment"_s};
        for (const auto& [values, sheet, button] :
             {std::tuple{u",,"_s, u"DIN A4, Portrait"_s, 4},
              {u"Tabloid (11 × 17 in),1,8"_s, u"Tabloid (11 × 17 in), Landscape"_s, 8},
              {u"din a3,2,9"_s, u"DIN A4, Portrait"_s, 4}}) { // unknown paper, past the last values
            for (int i = 0; i < 3; ++i) // the first row stores nothing, the others all three
                if (!values.section(u',', i, i).isEmpty())
                    store().setValue(keys[i], values.section(u',', i, i));
            restart();
            QCOMPARE(state(), u"No image loaded | "_s + sheet + u" | hidden -"_s);
            QCOMPARE(MainWindowProbe::printed(*w), sheet + u", 0, %1"_s.arg(button)); // what prints is shown
            QVERIFY(alignment(button)->isChecked());
        }
        paper()->setCurrentText(u"Legal"_s);
        named<QComboBox>("orientationCombo")->setCurrentIndex(1);
        QTest::mouseClick(alignment(6), Qt::LeftButton);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(store().value(keys[i]).toString(), u"Legal,1,6"_s.section(u',', i, i));
    }

    // The series of the paper chosen before is the one searched; an image turned by the user gives way.
    void automaticPaperAndOrientation()
    {
        for (const auto& [stored, width, height, dpi, sheet] :
             {std::tuple{u"DIN A3+"_s, 2480, 3508, 300, u"DIN A3, Portrait"_s}, // A4 and a hair too tall
              {u"Legal"_s, 1700, 1100, 100, u"Tabloid (11 × 17 in), Landscape"_s}}) {
            store().setValue(u"print/paper"_s, stored);
            restart();
            load(png(u"earlier.png"_s, 60, 90, 300));
            named<QComboBox>("orientationCombo")->setCurrentIndex(1);
            load(png(u"auto.png"_s, width, height, dpi));
            QCOMPARE(state(), u"auto.png | "_s + sheet + u" | hidden -"_s);
            QCOMPARE(MainWindowProbe::printed(*w), sheet + u", 0, 4"_s);
        }
    }

    // A failed or refused load keeps what is shown; errors are escaped, profile names shown as they stand.
    void failedLoadAndProfileWarning()
    {
        const QString good = png(u"good.png"_s, 1200, 800, 100);
        load(good);
        load({good, u"a<b>&.png"_s}); // a set is refused as a whole, naming the page
        const QString failed =
            u"good.png | DIN A3, Landscape | <b>Could not load target image</b><br>"
            "a&lt;b&gt;&amp;.png: The file does not exist. Check the file name and folder."_s;
        QCOMPARE(state(), failed);
        QColorSpace space(QColorSpace::SRgb);
        space.setDescription(u"  <b>Wide</b> & bright  "_s);
        const QString profiled = png(u"<i>profiled.png"_s, 600, 900, 50, space);
        const QString question = u"Embedded ICC profile detected | This image contains an embedded ICC "
                                 "profile: <b>Wide</b> & bright. | Lumetra ignores embedded profiles for "
                                 "profiling target output. Continue loading this image, or cancel and choose "
                                 "a different file. | plain"_s;
        QCOMPARE(answered({escape}, [&] { load(profiled); }), QStringList(question));
        QCOMPARE(state(), failed);
        QCOMPARE(answered({enter}, [&] { load(profiled); }), QStringList(question));
        QCOMPARE(state(), u"<i>profiled.png | DIN A3+, Portrait | hidden -"_s);
        QCOMPARE(lines().at(5), u"ICC Profile: <b>Wide</b> & bright (Ignored)"_s);
    }

    // Channels the loader leaves out of the print are named on the colour model's line.
    void ignoredChannels()
    {
        PrintableImage image = Testing::printable(Testing::chart(60, 90), 300);
        image.colorModel = u"CMYK"_s;
        for (const auto& [count, line] :
             {std::pair(1, u"Color model: CMYK (printed as RGB), 1 extra channel ignored"_s),
              std::pair(2, u"Color model: CMYK (printed as RGB), 2 extra channels ignored"_s)}) {
            image.ignoredChannels = count;
            MainWindowProbe::show(*w, image);
            QCOMPARE(lines().at(4), line);
        }
    }

    // Cancelled, nothing is printed; continued, the print dialog comes up; the status bar says what came of
    // it until an error or another target replaces it.
    void cropWarningAndPrintOutcome()
    {
        const QString crop = png(u"crop.png"_s, 2480, 3508, 300), pdf = m_files.filePath(u"crop.pdf"_s);
        load(crop);
        paper()->setCurrentIndex(0);
        const QString warning =
            u"Image will be cropped | The image is larger than the selected paper at its "
            "embedded print size. | Image: 8.2667 x 11.6934 in\nPaper: 8.2677 x 11.6929 in\n"
            "The image is 0.01 mm taller than the sheet.\n\n"
            "Continue printing, or cancel and choose a larger paper size. | plain"_s;
        const auto toFile = [](const QString& file) -> Step {
            return [file](QWidget* dialog) {
                qobject_cast<QPrintDialog*>(dialog)->printer()->setOutputFileName(file);
                static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
            };
        };
        const QString failed = u"crop.png | DIN A4, Portrait | <b>Could not print target image</b><br>"
                               "The printer could not be opened."_s;
        for (const auto& [steps, status, shown] :
             {std::tuple{QList<Step>{escape}, u"Printing cancelled."_s,
                         u"crop.png | DIN A4, Portrait | hidden -"_s},
              {{enter, toFile(u"/no/such/folder.pdf"_s)}, QString(), failed}, // a file it cannot write
              {{enter, toFile(pdf)}, u"Saved to "_s + pdf, failed}}) {        // an earlier error stays
            QCOMPARE(answered(steps, [this] { trigger("printAction"); }),
                     QStringList({warning, u"print dialog"_s}).mid(0, steps.size()));
            QCOMPARE(w->statusBar()->currentMessage(), status);
            QCOMPARE(state(), shown);
        }
        QVERIFY(QFileInfo(pdf).size() > 0);
        load(crop);
        QCOMPARE(w->statusBar()->currentMessage(), QString());
    }

    // An image, a set as one job, and pages 2 to 3 of it: a Letter sheet a page, its pixels at its dpi.
    void printReachesQueue()
    {
        QString problem = m_cupsProblem;
        if (!problem.isEmpty() || !Testing::popplerToolsAvailable(&problem))
            QSKIP(qPrintable(problem));
        const QStringList paths = {png(u"job_1.png"_s, 60, 90, 100), png(u"job_2.png"_s, 45, 30, 200),
                                   png(u"job_3.png"_s, 60, 90, 300)};
        const auto print = [&](const Step& step, const QList<int>& pages) {
            const QStringList before = m_cups.spooledDocuments();
            QCOMPARE(answered({step}, [this] { trigger("printAction"); }), QStringList(u"print dialog"_s));
            const QString document = m_cups.waitForNewDocument(before);
            QVERIFY2(Testing::isPdf(document), qPrintable(m_cups.errorLogTail()));
            // The queue is asked for every page of the PDF, which holds only the pages chosen.
            const QByteArray range = QByteArray("page-ranges\0\x08\0\0\0\x01\0\0\0", 20) + char(pages.size());
            QVERIFY(m_cups.jobAttributes(document).contains(range));
            QCOMPARE(Testing::pdfPageSizePoints(document, int(pages.size())), QSizeF(612, 792));
            QVERIFY(!Testing::pdfPageSizePoints(document, int(pages.size()) + 1).isValid());
            const QList<Testing::PdfImageInfo> infos = Testing::listPdfImages(document, &problem);
            const QList<QImage> images = Testing::extractPdfImages(document, &problem);
            QVERIFY2(images.size() == pages.size() && infos.size() == pages.size(), qPrintable(problem));
            for (int i = 0; i < pages.size(); ++i) {
                QCOMPARE(QList<int>({infos[i].xPpi, infos[i].yPpi}), QList<int>(2, (pages[i] + 1) * 100));
                QCOMPARE(images[i], QImage(paths[pages[i]]).convertToFormat(images[i].format()));
            }
            QCOMPARE(store().value(u"print/queue"_s).toString(), m_cups.rawQueue()); // for the next run
            const int job = QFileInfo(document).fileName().mid(1, 5).toInt();        // d00012-001 is job 12
            QCOMPARE(w->statusBar()->currentMessage(),
                     u"Sent to \"%1\" as job %2"_s.arg(m_cups.rawQueue()).arg(job));
        };
        paper()->setCurrentText(u"Letter"_s);
        load(paths[0]);
        print(enter, {0});
        load(paths);
        const Step allPages = [](QWidget* dialog) { // the range offered starts at every page of the set
            QCOMPARE(dialog->findChild<QSpinBox*>(u"from"_s)->value(), 1);
            QCOMPARE(dialog->findChild<QSpinBox*>(u"to"_s)->value(), 3);
            static_cast<QDialog*>(dialog)->accept();
        };
        print(allPages, {0, 1, 2});
        const Step range = [](QWidget* dialog) {
            dialog->findChild<QRadioButton*>(u"printRange"_s)->setChecked(true);
            dialog->findChild<QSpinBox*>(u"from"_s)->setValue(2);
            dialog->findChild<QSpinBox*>(u"to"_s)->setValue(3);
            static_cast<QDialog*>(dialog)->accept();
        };
        print(range, {1, 2});
    }

    // The command line prints by the same job path without a window: to the default queue with the target's
    // pixels exact and its driver option kept for the next run to that queue, to a PDF, and not at all on a
    // warning without --yes, a file that is not there or a usage error.
    void commandLine()
    {
        QString problem = m_cupsProblem;
        if (!problem.isEmpty() || !Testing::popplerToolsAvailable(&problem))
            QSKIP(qPrintable(problem));
        const QString chart = png(u"cli.png"_s, 300, 200, 100);
        png(u"cli-crop.png"_s, 2480, 3508, 300);            // 0.01 mm taller than DIN A4
        const auto run = [](const QStringList& arguments) { // "exit code|output|error output"
            QProcess lumetra;
            lumetra.start(QStringLiteral(LUMETRA_EXECUTABLE), arguments);
            const bool ended = lumetra.waitForFinished(120000);
            return u"%1|%2|%3"_s.arg(ended ? lumetra.exitCode() : -1)
                .arg(QString::fromUtf8(lumetra.readAllStandardOutput()),
                     QString::fromUtf8(lumetra.readAllStandardError()));
        };
        const QString sent = u"0|Sent to \"%1\" as job "_s.arg(m_cups.rawQueue());
        for (const QStringList& options : {QStringList{u"-o"_s, u"MediaType=Glossy"_s}, QStringList()}) {
            const QStringList before = m_cups.spooledDocuments();
            const QString result = run(QStringList{u"--print"_s} + options + QStringList{u"cli.png"_s});
            QVERIFY2(result.startsWith(sent), qPrintable(result));
            // Its record names the file by its digest and the job by its id.
            const QJsonObject record =
                QJsonDocument::fromJson(run({u"--history"_s, u"1"_s}).section(u'|', 1, 1).toUtf8()).object();
            QFile file(chart);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(record[u"pages"_s][0][u"sha256"_s].toString(),
                     QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
            QCOMPARE(record[u"jobId"_s].toInt(), result.section(u'|', 1, 1).section(u' ', -1).toInt());
            const QString document = m_cups.waitForNewDocument(before);
            QCOMPARE(Testing::extractPdfImages(document).value(0),
                     QImage(chart).convertToFormat(QImage::Format_RGB32));
            QVERIFY(m_cups.jobAttributes(document).contains(QByteArray("MediaType\0\x06Glossy", 17)));
        }
        const QString warning = u"Image will be cropped: The image is larger than the selected paper at its "
                                u"embedded print size.\n"
                                "Image: 8.2667 x 11.6934 in\nPaper: 8.2677 x 11.6929 in\nThe image is 0.01 "
                                "mm taller than the sheet.\n\n"
                                "Continue printing, or cancel and choose a larger paper size.\n"_s;
        const QStringList crop{u"--print"_s,  u"--paper"_s,      u"DIN A4"_s,
                               u"--output"_s, u"cli-crop.pdf"_s, u"cli-crop.png"_s};
        QCOMPARE(run(crop),
                 u"2||"_s + warning + u"lumetra: Nothing was printed. Give --yes to print anyway.\n"_s);
        QVERIFY(!QFile::exists(u"cli-crop.pdf"_s));
        QCOMPARE(run(crop + QStringList{u"--yes"_s}),
                 u"0|Saved to cli-crop.pdf\n|"_s + warning + u"Accepted with --yes.\n"_s);
        QCOMPARE(Testing::pdfPageSizePoints(u"cli-crop.pdf"_s).toSize(), QSize(595, 842));
        QCOMPARE(run({u"--print"_s, u"nothere.png"_s}),
                 u"1||lumetra: nothere.png: The file does not exist. Check the file name and folder.\n"_s);
        QVERIFY(
            run({u"--print"_s, u"--alignment"_s, u"middle"_s, u"cli.png"_s})
                .startsWith(u"2||lumetra: --alignment takes top-left, top, top-right, left, center, right, "
                            "bottom-left, bottom or bottom-right.\nUsage: lumetra --print"_s));
        QCOMPARE(run({u"--version"_s}), u"0|Lumetra 1.0\n|"_s);
        // The window names the queue's kept driver settings before printing, and lets them go.
        store().setValue(u"print/queue"_s, m_cups.rawQueue());
        restart();
        QLabel* printer = named<QLabel>("printerLabel");
        QCOMPARE(printer->text(), u"lumetra-raw: MediaType Glossy"_s);
        emit named<QLabel>("forgetDriverSettings")->linkActivated(u"forget"_s);
        QCOMPARE(printer->text(), u"lumetra-raw: the driver's defaults"_s);
        QVERIFY(run({u"--print"_s, u"cli.png"_s}).startsWith(sent)); // and so does the command line
        QCOMPARE(store().value(u"printers/lumetra-raw/options"_s).toStringList(), QStringList());
    }

    // Each print appends a line naming every page it printed by its file's SHA-256, where it went and each
    // option sent in order, behind a line a crash cut short; the list shows the newest first and copies its
    // line. A history that cannot be written leaves the print a print.
    void printHistory()
    {
        if (!m_cupsProblem.isEmpty())
            QSKIP(qPrintable(m_cupsProblem));
        QStringList
            rows; // the dialog's title, then each record's columns but the date, or the line saying none
        const Step read = [&rows](QWidget* dialog) {
            auto* list = dialog->findChild<QTreeWidget*>(u"historyList"_s);
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                for (int column = 1; column < list->columnCount(); ++column)
                    rows << list->topLevelItem(i)->text(column);
            if (list->isHidden() && !dialog->findChild<QPushButton*>(u"copyButton"_s)->isEnabled())
                rows << dialog->findChild<QLabel*>(u"historyEmpty"_s)->text();
            QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier); // the record selected: the newest
            QTest::keyClick(dialog, Qt::Key_Escape);
        };
        const auto history = [&] {
            rows.clear();
            return answered({read}, [this] { trigger("historyAction"); }) + rows;
        };
        QFile::remove(PrintHistory::filePath()); // the prints of the cases before
        QCOMPARE(history(), QStringList({u"Print History"_s, u"No prints have been recorded yet."_s}));

        const QStringList paths = {png(u"hist_1.png"_s, 60, 90, 100), png(u"hist_2.png"_s, 45, 30, 254)};
        const QString pdf = m_files.filePath(u"hist.pdf"_s);
        const Step secondTwice = [](QWidget* dialog) {
            dialog->findChild<QRadioButton*>(u"printRange"_s)->setChecked(true);
            dialog->findChild<QSpinBox*>(u"from"_s)->setValue(2);
            dialog->findChild<QSpinBox*>(u"to"_s)->setValue(2);
            dialog->findChild<QSpinBox*>(u"copies"_s)->setValue(2);
            static_cast<QDialog*>(dialog)->accept();
        };
        const Step toFile = [pdf](QWidget* dialog) {
            qobject_cast<QPrintDialog*>(dialog)->printer()->setOutputFileName(pdf);
            static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
        };
        load(paths);
        answered({secondTwice}, [this] { trigger("printAction"); });
        const int job = w->statusBar()->currentMessage().section(u' ', -1).toInt();
        QCOMPARE(w->statusBar()->currentMessage(),
                 u"Sent to \"%1\" as job %2"_s.arg(m_cups.rawQueue()).arg(job));
        const QByteArray sent = PrintHistory::lastLines(1).value(0);
        QJsonObject record = QJsonDocument::fromJson(sent).object();
        const QDateTime time = QDateTime::fromString(record.take(u"time"_s).toString(), Qt::ISODate);
        QVERIFY2(time.timeSpec() != Qt::LocalTime && qAbs(time.secsTo(QDateTime::currentDateTime())) < 60,
                 sent.constData()); // with its offset
        QStringList options;
        for (const QJsonValue& option : record.take(u"options"_s).toArray())
            options << option[0].toString() + u'=' + option[1].toString();
        const qsizetype media = options.indexOf(u"media=iso_a4_210x297mm"_s);
        QCOMPARE(options.mid(media - 1, 3),
                 QStringList({u"copies=2"_s, u"media=iso_a4_210x297mm"_s, u"print-scaling=none"_s}));
        QFile file(paths[1]);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString sha256 =
            QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
        QCOMPARE(
            QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)),
            uR"({"alignment":"center","copies":2,"jobId":%1,"orientation":"portrait","pages":[{"dpiX":254,)"
            R"("dpiY":254,"file":"%2","page":1,"pixelHeight":30,"pixelWidth":45,"resolutionAssumed":false,)"
            R"("sha256":"%3"}],"pdf":null,"printerMakeAndModel":"Local Raw Printer","queue":"%4","rotation":0,)"
            R"("sheet":"DIN A4","version":"1.0"})"_s.arg(job)
                .arg(paths[1], sha256, m_cups.rawQueue()));

        QFile cut(PrintHistory::filePath());
        QVERIFY(cut.open(QIODevice::Append) && cut.write("{\"time\":") == 8);
        cut.close();
        answered({toFile}, [this] { trigger("printAction"); });
        const QList<QByteArray> lines = PrintHistory::lastLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], sent);
        record = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(QJsonArray({record[u"pdf"_s], record[u"jobId"_s], record[u"queue"_s], record[u"options"_s],
                             record[u"copies"_s], record[u"pages"_s].toArray().size()}),
                 QJsonArray({pdf, QJsonValue(), QJsonValue(), QJsonArray(), 1, 2}));
        QCOMPARE(history(),
                 QStringList({u"Print History"_s, u"hist_1.png and 1 more"_s, u"DIN A4, Portrait"_s,
                              u"PDF file"_s, u"hist.pdf"_s, QString(), u"hist_2.png"_s, u"DIN A4, Portrait"_s,
                              m_cups.rawQueue(), QString::number(job), u"job-priority=50, copies=2"_s}));
        QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), lines[1]);

        QVERIFY(QFile::remove(PrintHistory::filePath()) && QDir().mkdir(PrintHistory::filePath()));
        QFile blocked(PrintHistory::filePath());
        QVERIFY(!blocked.open(QIODevice::ReadWrite | QIODevice::Append));
        answered({toFile}, [this] { trigger("printAction"); });
        QCOMPARE(w->statusBar()->currentMessage(), u"Saved to "_s + pdf);
        QCOMPARE(error()->text(),
                 u"<b>Printed, but not recorded in the print history</b><br>The print history "
                 "%1 cannot be written: %2."_s.arg(blocked.fileName(), blocked.errorString()));
        QVERIFY(QDir().rmdir(PrintHistory::filePath()));
    }

    // Sheets dropped together load in their names' order once the drop returned (the drag's source never
    // waits on a question), with one layout, a page at a time.
    void targetSet()
    {
        const auto navigation = [this] {
            return named<QLabel>("pageLabel")->text() +
                   (named<QAction>("previousPageAction")->isEnabled() ? u" <"_s : u" -"_s) +
                   (named<QAction>("nextPageAction")->isEnabled() ? u">"_s : u"-"_s);
        };
        // A drag with any URL that is not a file Lumetra reads is refused before the drop.
        const QString web = u"https://quorvane.com/chart.png"_s, file = png(u"a.png"_s, 60, 90, 300);
        for (const QStringList& urls : {QStringList{web}, {u"/chart.pdf"_s}, {file, web}})
            QCOMPARE(drop(urls), u"---"_s);
        QCOMPARE(drop({png(u"sheet_10.png"_s, 800, 1200, 100), // 8 x 12 in, which needs A3
                       png(u"sheet_2.PNG"_s, 600, 900, 200), png(u"sheet_1.png"_s, 600, 900, 100)}),
                 u"+++"_s);
        QCOMPARE(lines().first(), u"No image loaded"_s);
        QTRY_COMPARE(state(), u"sheet_1.png | DIN A3, Portrait | hidden -"_s);
        QCOMPARE(
            lines().mid(1),
            QStringList({u"Pixels: 600 x 900"_s, u"DPI: 100.00 x 100.00"_s,
                         u"Print size: 6.00\u00a0x\u00a09.00\u00a0in / 152.4\u00a0x\u00a0228.6\u00a0mm"_s,
                         u"Color model: RGB"_s, u"ICC Profile: none"_s, u"Pages in set: 3"_s,
                         u"Resolution differs from page 1: sheet_2.PNG"_s}));
        QCOMPARE(navigation(), u"Page 1 of 3 ->"_s);
        QTest::keyClick(named("preview"), Qt::Key_PageDown);
        QCOMPARE(navigation(), u"Page 2 of 3 <>"_s);
        trigger("nextPageAction");
        trigger("nextPageAction"); // nothing beyond the last page
        QCOMPARE(navigation(), u"Page 3 of 3 <-"_s);
        QCOMPARE(state(), u"sheet_10.png | DIN A3, Portrait | hidden -"_s);
    }

    // A resolution the file does not state shows as assumed, and so does the print size that follows from it.
    void assumedResolution()
    {
        QFile file(png(u"unstated.png"_s, 72, 144, 300));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray data = file.readAll();
        data.remove(data.indexOf("pHYs") - 4, 21); // its length, type, 9 bytes and checksum
        QVERIFY(file.resize(0) && file.write(data) == data.size());
        file.close();
        load(file.fileName());
        QCOMPARE(lines().mid(2, 2),
                 QStringList({u"DPI: 72.00 x 72.00 (not stated in the file)"_s,
                              u"Print size: 1.00\u00a0x\u00a02.00\u00a0in / 25.4\u00a0x\u00a050.8\u00a0mm "
                              "(at the assumed resolution)"_s}));
    }

    // While a set is read, the window handles each page's report as it comes, the worker waiting on it
    // mid-load, and shows it; Load, Print, Open Recent and the page steps stay off until the set is in.
    void loadKeepsWindowLive()
    {
        const QStringList paths = {png(u"live_1.png"_s, 60, 90, 100), png(u"live_2.png"_s, 60, 90, 100),
                                   png(u"live_3.png"_s, 60, 90, 100)};
        const auto commands = [this] {
            QStringList on;
            for (const char* name : {"loadAction", "printAction", "previousPageAction", "nextPageAction"})
                if (named<QAction>(name)->isEnabled())
                    on << QLatin1String(name);
            return on.join(u' ') + (named<QMenu>("recentMenu")->isEnabled() ? u" recentMenu"_s : QString());
        };
        load(paths); // everything but Previous Page is on
        QStringList seen;
        QSemaphore handled;
        // On the worker before each page: the window must take the report in while the worker waits on it.
        const auto report = [&] {
            QMetaObject::invokeMethod(
                this,
                [&] {
                    seen << w->statusBar()->currentMessage() + u" |"_s + commands();
                    handled.release();
                },
                Qt::QueuedConnection);
            if (!handled.tryAcquire(1, 10000))
                seen << u"the window took no events"_s;
        };
        connect(w->findChild<BackgroundLoad*>(), &BackgroundLoad::reading, this, report,
                Qt::DirectConnection);
        load(paths);
        QCOMPARE(seen, QStringList({u"Reading live_1.png, 1 of 3… |"_s, u"Reading live_2.png, 2 of 3… |"_s,
                                    u"Reading live_3.png, 3 of 3… |"_s}));
        QCOMPARE(commands(), u"loadAction printAction nextPageAction recentMenu"_s);
    }

    // At the smallest window, on every sheet either way up, each line of the empty sheet's hint is drawn
    // whole: its text within its box, the box on the card, clear of the icon and of the other line.
    void emptySheetHintFits()
    {
        w->resize(1, 1);
        QApplication::processEvents();
        QWidget* preview = named("preview");
        QVERIFY(preview->width() < 400 && preview->height() < 400); // as small as the window lets it be
        for (const PaperPreset& preset : allPaperPresets()) {
            for (const PrintOrientation orientation :
                 {PrintOrientation::Portrait, PrintOrientation::Landscape}) {
                const QRectF sheet =
                    previewSheetRect(preview->size(), preset.sizeInches(orientation), 1.0, {});
                const PlaceholderLayout hint = placeholderLayout(sheet, preview->font(), preview);
                for (const auto& [text, font, box] : {std::tuple{hint.title, hint.titleFont, hint.titleBox},
                                                      {hint.hint, hint.hintFont, hint.hintBox}}) {
                    const QRectF drawn =
                        QFontMetricsF(font, preview).boundingRect(box, kPlaceholderTextFlags, text);
                    QVERIFY2(box.contains(drawn) && hint.card.contains(box) && !box.intersects(hint.iconBox),
                             qPrintable(preset.name + u", "_s + text));
                }
                QVERIFY(!hint.titleBox.intersects(hint.hintBox));
            }
        }
    }

    // On a laptop's screen (ctest's) and a dark palette: the window fits, an error shows, the text reads.
    void windowFitsAndReads()
    {
        const QRect available = w->screen()->availableGeometry();
        QVERIFY(available.contains(w->frameGeometry()));
        const QSize frame = w->frameGeometry().size() - w->size();
        QCOMPARE(w->size(), QSize(1080, 720).boundedTo(available.size() - frame));
        QApplication::setPalette(QPalette(QColor(45, 45, 45))); // with white text
        load(png(u"fits.png"_s, 600, 900, 300));
        load(u"missing.png"_s);
        QTest::qWait(0); // the palette and layouts settle as they would before the next paint
        QCOMPARE(w->palette().color(QPalette::Window), QColor(45, 45, 45));
        QCOMPARE(error()->visibleRegion(), QRegion(error()->rect()));
        for (const char* name : {"errorLabel", "zoomLabel", "inspectorTitle", "pixelsLabel"}) {
            auto* label = named<QLabel>(name);
            named<QScrollArea>("inspectorScroll")->ensureWidgetVisible(label, 0, 0);
            const QRect area(label->mapTo(w.get(), QPoint(2, 2)), label->size() - QSize(4, 4)); // inside
            const double ratio = contrast(w->grab(area).toImage());
            QVERIFY2(ratio >= 4.5, qPrintable(u"%1: %2 : 1"_s.arg(QLatin1String(name)).arg(ratio)));
        }
        QApplication::setPalette(QApplication::style()->standardPalette());
    }

    void recentTargets()
    {
        for (int i = 0; i < 11; ++i)
            load(png(u"recent-%1&.png"_s.arg(i), 60, 90, 300));
        load({png(u"set_2.png"_s, 60, 90, 300), png(u"set_1.png"_s, 60, 90, 300)}); // one entry
        load(m_files.filePath(u"recent-9&.png"_s));                                 // again: moves to the top
        restart();                                                                  // the list is kept
        QMenu* menu = named<QMenu>("recentMenu");
        QCOMPARE(menu->actions().size(), 12); // ten targets, a separator and Clear Menu
        QCOMPARE(menu->actions().at(9)->text(), u"recent-2&&.png"_s);
        QCOMPARE(menu->actions().at(1)->text(), u"set_1.png and 1 more"_s);
        menu->actions().at(0)->trigger(), idle();
        QCOMPARE(lines().first(), u"recent-9&.png"_s);
        menu->actions().at(1)->trigger(), idle();
        QCOMPARE(lines().first() + u", "_s + named<QLabel>("pageLabel")->text(), u"set_1.png, Page 1 of 2"_s);
        trigger("clearRecentAction");
        QVERIFY(menu->actions().size() == 2 && !menu->isEnabled()); // the separator and Clear Menu
    }

    // Alt and a menu's letter, or F10, open a menu; every item of a menu has a letter of its own; Ctrl+=
    // zooms in.
    void keyboard()
    {
        load(png(u"zoom.png"_s, 60, 90, 300));
        QTest::keyClick(w.get(), Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(named<QLabel>("zoomLabel")->text(), u"120%"_s);
        for (QWidget* menu :
             {named("fileMenu"), named("viewMenu"), named("helpMenu"), (QWidget*)w->menuBar()}) {
            QStringList letters;
            for (QAction* action : menu->actions())
                if (!action->isSeparator())
                    letters << QKeySequence::mnemonic(action->text()).toString();
            QVERIFY2(!letters.contains(QString()) &&
                         QSet<QString>(letters.begin(), letters.end()).size() == letters.size(),
                     qPrintable(letters.join(u' ')));
        }
        for (const auto& [key, modifiers, menu] : {std::tuple{Qt::Key_F, Qt::AltModifier, "fileMenu"},
                                                   {Qt::Key_V, Qt::AltModifier, "viewMenu"},
                                                   {Qt::Key_H, Qt::AltModifier, "helpMenu"},
                                                   {Qt::Key_F10, Qt::NoModifier, "fileMenu"}}) {
            QTest::keyClick(w.get(), key, modifiers);
            QTRY_VERIFY2(named<QMenu>(menu)->isVisible(), menu);
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
            QTest::keyClick(w->menuBar(), Qt::Key_Escape); // leaves the menu bar
        }
    }

    void aboutLink()
    {
        const Step click = [](QWidget* about) {
            QTest::mouseClick(about->findChildren<QLabel*>().last(),
                              Qt::LeftButton); // the link, in its middle
            about->close();
        };
        QCOMPARE(answered({click}, [this] { trigger("aboutAction"); }), QStringList(u"About Lumetra"_s));
        QCOMPARE(m_openedUrls, QList<QUrl>({QUrl(u"https://quorvane.com"_s)}));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
