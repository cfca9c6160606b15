#include "appidentity.h"
#include "fixtures.h"
#include "mainwindow.h"
#include "privatecups.h"

#include <QtPrintSupport>
#include <QtTest>
#include <QtWidgets>

using namespace Qt::Literals::StringLiterals;

namespace Lumetra {

// Reaches what no widget shows exactly: the settings a print would use.
class MainWindowProbe
{
public:
    static int rotation(const MainWindow& w) { return w.m_settings.rotationDegrees; }
    static QString sheet(const MainWindow& w)
    {
        return w.m_settings.paper.name +
               (w.m_settings.orientation == PrintOrientation::Landscape ? u", Landscape"_s : u", Portrait"_s);
    }
    // Whether the page shown holds its pixels (a set lets go of them while a job is written).
    static bool showsPixels(const MainWindow& w) { return w.m_image && !w.m_image->image.isNull(); }
};

} // namespace Lumetra

using namespace Lumetra;
using Probe = MainWindowProbe;
using Step = std::function<void(QWidget*)>;

namespace {

// Runs `act` and answers the modal widgets that come up meanwhile, one step each, from a timer (the only
// way past exec()). Returns what each showed: "title | text | informative text", with " | plain" for a
// plain-text message box and " | busy" under the wait cursor. One that no step answers is closed.
QStringList answered(QList<Step> steps, const std::function<void()>& act)
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
        seen << note + (QGuiApplication::overrideCursor() ? u" | busy"_s : QString());
        steps.isEmpty() ? void(modal->close()) : steps.takeFirst()(modal);
    });
    timer.start(10);
    act();
    return seen;
}

// Return takes a message box's default button (Continue), Escape cancels.
Step press(Qt::Key key)
{
    return [key](QWidget* modal) { QTest::keyClick(modal, key); };
}

// Accepts a print dialog as it stands, or printing to `file` behind its back.
Step print(const QString& file = {})
{
    return [file](QWidget* modal) {
        auto* dialog = qobject_cast<QPrintDialog*>(modal);
        if (!dialog)
            return void(modal->close());
        if (file.isEmpty())
            return dialog->accept();
        dialog->printer()->setOutputFileName(file);
        dialog->done(QDialog::Accepted);
    };
}

// WCAG contrast between the lightest and the darkest pixel inside the area's border.
double contrast(const QImage& drawn, const QRect& area)
{
    const auto linear = [](double s) {
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    double low = 2, high = 0;
    for (int y = area.top() + 2; y < area.bottom() - 1; ++y)
        for (int x = area.left() + 2; x < area.right() - 1; ++x) {
            const QColor c = drawn.pixelColor(x, y);
            const double l =
                0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
            low = std::min(low, l);
            high = std::max(high, l);
        }
    return (high + 0.05) / (low + 0.05);
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

public:
    TestApp()
    {
        // The settings store lives in a folder of its own, never the user's: XDG on Linux,
        // CoreFoundation's home on macOS.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
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
    // The stored print values in key order: alignment, orientation, paper.
    static QString stored()
    {
        QStringList values;
        for (const QString& key : store().allKeys())
            if (key.startsWith(u"print/"_s))
                values << store().value(key).toString();
        return values.join(u", "_s);
    }
    void restart()
    {
        w = std::make_unique<MainWindow>();
        w->show();
        QApplication::setActiveWindow(w.get());
        (void)QTest::qWaitForWindowActive(w.get());
    }
    template<typename T = QWidget> T* named(const char* name)
    {
        return w->findChild<T*>(QLatin1String(name));
    }
    QComboBox* paper() { return named<QComboBox>("paperCombo"); }
    QComboBox* orientation() { return named<QComboBox>("orientationCombo"); }
    QLabel* error() { return named<QLabel>("errorLabel"); }
    QToolButton* alignment(int i) { return w->findChild<QToolButton*>(u"alignmentButton%1"_s.arg(i)); }
    void trigger(const char* action) { named<QAction>(action)->trigger(); }
    void load(const QString& path) { w->loadCommandLine({path}); }
    // Name, pixels, DPI, print size, colour model, profile and, for a set, its page lines.
    QStringList lines()
    {
        QStringList lines;
        for (const char* name : {"imageNameLabel", "pixelsLabel", "dpiLabel", "printSizeLabel",
                                 "colorModelLabel", "iccLabel", "pageCountLabel", "pageDifferencesLabel"})
            if (!named<QLabel>(name)->isHidden())
                lines << named<QLabel>(name)->text();
        return lines;
    }
    // The image's name, the sheet, and the error label ("hidden -" when hidden and empty).
    QString state()
    {
        return lines().first() + u" | "_s + paper()->currentText() + u", "_s + orientation()->currentText() +
               (error()->isVisible() ? u" | "_s : u" | hidden "_s) +
               (error()->text().isEmpty() ? u"-"_s : error()->text());
    }
    // Enter, move and drop over the window: "+" for each event the window accepts, "-" for a refusal.
    QString drop(const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDragMoveEvent move(QPoint(22, 22), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(22, 22), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QString result;
        for (QDropEvent* event : std::initializer_list<QDropEvent*>{&enter, &move, &drop}) {
            event->ignore();
            QCoreApplication::sendEvent(w.get(), event);
            result += event->isAccepted() ? u'+' : u'-';
        }
        return result;
    }
    QString png(const QString& name, int width, int height, double dpi, const QColorSpace& space = {})
    {
        QImage image(width, height, QImage::Format_RGB888);
        image.fill(QColor(200, 40, 90));
        image.setDotsPerMeterX(qRound(dpi / 0.0254));
        image.setDotsPerMeterY(qRound(dpi / 0.0254));
        image.setColorSpace(space);
        return image.save(m_files.filePath(name)) ? m_files.filePath(name) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid() && QDir::setCurrent(m_files.path()));
#ifndef Q_OS_MACOS
        QVERIFY2(store().fileName().startsWith(m_home.path()), qPrintable(store().fileName()));
#endif
        // Before anything of Qt's print support talks to CUPS.
        if (!m_cups.start())
            m_cupsProblem = u"no private CUPS scheduler: "_s + m_cups.errorString();
        else if (!m_cups.setDefaultQueue(m_cups.rawQueue()))
            m_cupsProblem = u"could not make the raw queue the default"_s;
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
    }
    void init()
    {
        store().clear();
        restart();
    }
    void cleanup()
    {
        w.reset();
        // Every way out of a read or a print, failures included, takes the busy cursor down.
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    // Paper, orientation and alignment as stored (an empty one is not), then as the window shows them.
    void startUpReadsStoredSettings()
    {
        for (const auto& [values, sheet, button] :
             {std::tuple{u",,"_s, u"DIN A4, Portrait"_s, 4},
              {u"Tabloid (11 × 17 in),1,8"_s, u"Tabloid (11 × 17 in), Landscape"_s, 8},
              {u"DIN A3,2,9"_s, u"DIN A3, Portrait"_s, 4},      // past the last values
              {u"din a3,-1,-1"_s, u"DIN A4, Portrait"_s, 4}}) { // unknown paper, negative values
            store().clear();
            const QStringList keys = {u"print/paper"_s, u"print/orientation"_s, u"print/alignment"_s};
            for (int i = 0; i < 3; ++i)
                if (!values.section(u',', i, i).isEmpty())
                    store().setValue(keys[i], values.section(u',', i, i));
            const QString before = stored();
            restart();
            QCOMPARE(state(), u"No image loaded | "_s + sheet + u" | hidden -"_s);
            QCOMPARE(Probe::sheet(*w), sheet); // what prints is what shows
            QVERIFY(alignment(button)->isChecked());
            w.reset();
            QCOMPARE(stored(), before); // read, never rewritten
        }
    }

    void inspectorChangesAreStored()
    {
        paper()->setCurrentText(u"Tabloid (11 × 17 in)"_s);
        orientation()->setCurrentIndex(1);
        QTest::mouseClick(alignment(6), Qt::LeftButton);
        QCOMPARE(stored(), u"6, 1, Tabloid (11 × 17 in)"_s);
        // A load stores none of the choices it makes, yet the next click stores them all.
        init();
        load(png(u"store.png"_s, 600, 900, 300));
        QCOMPARE(stored(), QString());
        QTest::mouseClick(alignment(0), Qt::LeftButton);
        QCOMPARE(stored(), u"0, 0, DIN A4"_s);
    }

    // The series of the paper chosen before is the one searched; an image turned by the user gives way
    // too, the alignment stays.
    void automaticPaperAndOrientation()
    {
        for (const auto& [stored, width, height, dpi, sheet] :
             {std::tuple{u"DIN A3+"_s, 2480, 3508, 300, u"DIN A3, Portrait"_s}, // A4 and a hair too tall
              {u"Legal"_s, 1700, 1100, 100, u"Tabloid (11 × 17 in), Landscape"_s}}) {
            store().setValue(u"print/paper"_s, stored);
            store().setValue(u"print/alignment"_s, 2);
            restart();
            load(png(u"earlier.png"_s, 60, 90, 300));
            orientation()->setCurrentIndex(1);
            load(png(u"auto.png"_s, width, height, dpi));
            QCOMPARE(state(), u"auto.png | "_s + sheet + u" | hidden -"_s);
            QCOMPARE(Probe::sheet(*w), sheet);
            QCOMPARE(Probe::rotation(*w), 0);
            QVERIFY(alignment(2)->isChecked());
        }
    }

    // A failed or refused load keeps the image, sheet and error shown; errors are escaped.
    void failedLoadAndProfileWarning()
    {
        const QString good = png(u"good.png"_s, 1200, 800, 100);
        QVERIFY(QFile(u"a<b>&.png"_s).open(QIODevice::WriteOnly)); // empty
        load(good);
        load(u"a<b>&.png"_s);
        QCOMPARE(state(), u"good.png | DIN A3, Landscape | <b>Could not load target image</b><br>"
                          "The file could not be read as an image."_s);
        QCOMPARE(error()->textFormat(), Qt::RichText);
        // A set with an unreadable page is refused as a whole, naming the page.
        w->loadCommandLine({good, u"a<b>&.png"_s});
        const QString failed = u"good.png | DIN A3, Landscape | <b>Could not load target image</b><br>"
                               "a&lt;b&gt;&amp;.png: The file could not be read as an image."_s;
        QCOMPARE(state(), failed);

        QColorSpace space(QColorSpace::SRgb);
        space.setDescription(u"  <b>Wide</b> & bright  "_s); // trimmed, and never read as markup
        const QString profiled = png(u"<i>profiled.png"_s, 600, 900, 50, space);
        const QString question =
            u"Embedded ICC profile detected | This image contains an embedded ICC profile: "
            "<b>Wide</b> & bright. | Lumetra ignores embedded profiles for profiling target "
            "output. Continue loading this image, or cancel and choose a different file. | "
            "plain"_s; // never under the wait cursor
        QCOMPARE(answered({press(Qt::Key_Escape)}, [&] { load(profiled); }), QStringList(question));
        QCOMPARE(state(), failed);
        QCOMPARE(answered({press(Qt::Key_Return)}, [&] { load(profiled); }), QStringList(question));
        QCOMPARE(state(), u"<i>profiled.png | DIN A3+, Portrait | hidden -"_s);
        QCOMPARE(lines().at(5), u"ICC Profile: <b>Wide</b> & bright (Ignored)"_s);
        for (QLabel* label : named("imageBox")->findChildren<QLabel*>())
            QCOMPARE(label->textFormat(), Qt::PlainText);
    }

    // A drag is refused before the drop; an accepted drop loads after the event returned, so that the
    // application the drag came from never waits on the question Lumetra asks.
    void dragAndDrop()
    {
        const QString web = u"https://quorvane.com/chart.png"_s;
        for (const auto& [urls, accepted] : {std::pair{QStringList{u"b.PNG"_s, u"a.jpg"_s}, true},
                                             {QStringList{web}, false},
                                             {QStringList{u"chart.pdf"_s}, false},
                                             {QStringList{u"a.jpg"_s, web}, false}}) {
            restart();
            QList<QUrl> list;
            for (const QString& url : urls)
                list << (url == web ? QUrl(url)
                                    : QUrl::fromLocalFile(png(url, 600, 900, 300, QColorSpace::SRgb)));
            const QStringList seen = answered({press(Qt::Key_Return)}, [&] {
                QCOMPARE(drop(list), accepted ? u"+++"_s : u"---"_s);
                QCOMPARE(lines().first(), u"No image loaded"_s);
                QTRY_COMPARE(lines().first(), accepted ? u"a.jpg"_s : u"No image loaded"_s);
            });
            QCOMPARE(seen.size(), accepted ? 1 : 0);
        }
    }

    // Cancelled, nothing is printed; continued, the print dialog comes up, and a failed print is shown.
    void cropWarningAndFailedPrint()
    {
        load(png(u"crop.png"_s, 2480, 3508, 300));
        paper()->setCurrentIndex(0);
        const QString warning = u"Image will be cropped | The image is larger than the selected paper at its "
                                "embedded print size. | Image: 8.27 x 11.69 in\nPaper: 8.27 x 11.69 in\n\n"
                                "Continue printing, or cancel and choose a larger paper size."_s;
        QCOMPARE(answered({press(Qt::Key_Escape)}, [this] { trigger("printAction"); }), QStringList(warning));
        QCOMPARE(state(), u"crop.png | DIN A4, Portrait | hidden -"_s);
        const Step unwritable = print(m_files.filePath(u"missing-folder/target.pdf"_s));
        QCOMPARE(answered({press(Qt::Key_Return), unwritable}, [this] { trigger("printAction"); }),
                 QStringList({warning, u"print dialog"_s}));
        QCOMPARE(state(), u"crop.png | DIN A4, Portrait | <b>Could not print target image</b><br>"
                          "The printer could not be opened."_s);
    }

    // One image, then a set of three as one job, then pages 2 to 3 of it picked in the dialog's own fields.
    void printReachesQueue()
    {
        QString problem = m_cupsProblem;
        if (problem.isEmpty() && !Testing::popplerToolsAvailable(&problem))
            problem = u"poppler tools missing: "_s + problem;
        if (!problem.isEmpty())
            QSKIP(qPrintable(problem));
        QList<QImage> pages;
        QStringList paths;
        for (int k = 0; k < 3; ++k) { // 60 x 90 at 100 dpi, 45 x 30 at 200, 60 x 90 at 300
            pages << Testing::chart(60 - 15 * (k % 2), 90 - 60 * (k % 2), QImage::Format_RGB32, k);
            pages[k].setDotsPerMeterX(qRound((k + 1) * 100 / 0.0254));
            pages[k].setDotsPerMeterY(qRound((k + 1) * 100 / 0.0254));
            QVERIFY(pages[k].save(paths.emplaceBack(m_files.filePath(u"job_%1.png"_s.arg(k + 1)))));
        }
        // Prints, the dialog answered by `step`: a Letter sheet for each page given, with its pixels.
        const auto printed = [&](const Step& step, const QList<int>& expected) {
            const QStringList before = m_cups.spooledDocuments();
            QCOMPARE(answered({step}, [this] { trigger("printAction"); }), QStringList(u"print dialog"_s));
            QVERIFY(Probe::showsPixels(*w));
            const QString document = m_cups.waitForNewDocument(before);
            QVERIFY2(Testing::isPdf(document), qPrintable(m_cups.errorLogTail()));
            QVERIFY(!m_cups.jobAttributes(document).contains("page-ranges")); // the queue must not pick again
            QCOMPARE(Testing::pdfPageSizePoints(document, int(expected.size())), QSizeF(612, 792));
            QVERIFY(!Testing::pdfPageSizePoints(document, int(expected.size()) + 1).isValid());
            const QList<Testing::PdfImageInfo> infos = Testing::listPdfImages(document, &problem);
            const QList<QImage> images = Testing::extractPdfImages(document, &problem);
            QVERIFY2(images.size() == expected.size() && infos.size() == expected.size(),
                     qPrintable(problem));
            for (int i = 0; i < expected.size(); ++i) {
                QCOMPARE(QList<int>({infos[i].xPpi, infos[i].yPpi}), QList<int>(2, (expected[i] + 1) * 100));
                QCOMPARE(images[i].convertToFormat(QImage::Format_RGB32), pages[expected[i]]);
            }
            // d00012-001 is job 12; the window names it, and the queue is kept for the next run.
            const int job = QFileInfo(document).fileName().section(u'-', 0, 0).mid(1).toInt();
            QCOMPARE(w->statusBar()->currentMessage(),
                     u"Sent to \"%1\" as job %2"_s.arg(m_cups.rawQueue()).arg(job));
            QCOMPARE(store().value(u"print/queue"_s).toString(), m_cups.rawQueue());
        };
        paper()->setCurrentText(u"Letter"_s);
        load(paths[0]);
        printed(print(), {0});
        w->loadCommandLine(paths);
        printed(print(), {0, 1, 2});
        printed(
            [](QWidget* dialog) {
                dialog->findChild<QRadioButton*>(u"printRange"_s)->setChecked(true);
                dialog->findChild<QSpinBox*>(u"from"_s)->setValue(2);
                dialog->findChild<QSpinBox*>(u"to"_s)->setValue(3);
                static_cast<QDialog*>(dialog)->accept();
            },
            {1, 2});
    }

    // Three sheets dropped together, in the order of their names: one layout, a page at a time.
    void targetSet()
    {
        const auto navigation = [this] {
            return named<QLabel>("pageLabel")->text() +
                   (named<QAction>("previousPageAction")->isEnabled() ? u" <"_s : u" -"_s) +
                   (named<QAction>("nextPageAction")->isEnabled() ? u">"_s : u"-"_s);
        };
        QCOMPARE(navigation(), u" --"_s);
        // 8 x 12 in, which needs A3; 3 x 4.5 in at another resolution; 6 x 9 in.
        QCOMPARE(drop({QUrl::fromLocalFile(png(u"sheet_10.png"_s, 800, 1200, 100)),
                       QUrl::fromLocalFile(png(u"sheet_2.png"_s, 600, 900, 200)),
                       QUrl::fromLocalFile(png(u"sheet_1.png"_s, 600, 900, 100))}),
                 u"+++"_s);
        QTRY_COMPARE(state(), u"sheet_1.png | DIN A3, Portrait | hidden -"_s);
        QCOMPARE(lines().mid(1),
                 QStringList({u"Pixels: 600 x 900"_s, u"DPI: 100.00 x 100.00"_s,
                              u"Print size: 6.00 x 9.00 in / 152.4 x 228.6 mm"_s, u"Color model: RGB"_s,
                              u"ICC Profile: none"_s, u"Pages in set: 3"_s,
                              u"Resolution differs from page 1: sheet_2.png"_s}));
        QCOMPARE(navigation(), u"Page 1 of 3 ->"_s);
        QTest::keyClick(named("preview"), Qt::Key_PageDown);
        QCOMPARE(navigation(), u"Page 2 of 3 <>"_s);
        QCOMPARE(lines().mid(0, 3),
                 QStringList({u"sheet_2.png"_s, u"Pixels: 600 x 900"_s, u"DPI: 200.00 x 200.00"_s}));
        trigger("nextPageAction");
        trigger("nextPageAction"); // nothing beyond the last page
        QCOMPARE(navigation(), u"Page 3 of 3 <-"_s);
        QCOMPARE(state(), u"sheet_10.png | DIN A3, Portrait | hidden -"_s);
        // On A4 only the third page overhangs the sheet, and the warning names it.
        paper()->setCurrentIndex(0);
        QCOMPARE(
            answered({press(Qt::Key_Escape)}, [this] { trigger("printAction"); }),
            QStringList(u"Image will be cropped | Pages larger than the selected paper at their embedded "
                        "print size: 1 of 3. | Cropped: sheet_10.png\nPaper: 8.27 x 11.69 in\n\n"
                        "Continue printing, or cancel and choose a larger paper size."_s));
    }

    // On a small laptop's screen (ctest's, see CMakeLists.txt) with the dark palette: the window fits,
    // a new error is scrolled into view, and the text reads.
    void windowFitsAndReads()
    {
        const QRect available = w->screen()->availableGeometry();
        if (qEnvironmentVariableIsSet("LUMETRA_TEST_SCREEN"))
            QCOMPARE(u"%1x%2"_s.arg(available.width()).arg(available.height()),
                     qEnvironmentVariable("LUMETRA_TEST_SCREEN"));
        QVERIFY(available.contains(w->frameGeometry()));
        QCOMPARE(w->size(),
                 QSize(1080, 720).boundedTo(available.size() - (w->frameGeometry().size() - w->size())));

        const QPalette light = QApplication::palette();
        const QPalette dark(QColor(230, 230, 230), QColor(60, 60, 60), QColor(90, 90, 90), QColor(20, 20, 20),
                            QColor(45, 45, 45), QColor(230, 230, 230), Qt::white, QColor(30, 30, 30),
                            QColor(43, 43, 43));
        QApplication::setPalette(dark);
        const auto restore = qScopeGuard([light] { QApplication::setPalette(light); });
        load(png(u"fits.png"_s, 600, 900, 300));
        load(u"missing.png"_s);
        QTest::qWait(0); // the palette and layouts settle as they would before the next paint
        QCOMPARE(w->palette().color(QPalette::Window), dark.color(QPalette::Window));
        QVERIFY(!error()->text().isEmpty());
        QCOMPARE(error()->visibleRegion(), QRegion(error()->rect()));
        QVERIFY(w->rect().contains(QRect(error()->mapTo(w.get(), QPoint()), error()->size())));
        for (const char* name : {"errorLabel", "zoomLabel", "inspectorTitle", "pixelsLabel"}) {
            auto* label = named<QLabel>(name);
            named<QScrollArea>("inspectorScroll")->ensureWidgetVisible(label, 0, 0);
            const double ratio =
                contrast(w->grab().toImage(), QRect(label->mapTo(w.get(), QPoint()), label->size()));
            QVERIFY2(ratio >= 4.5, qPrintable(u"%1: %2 : 1"_s.arg(QLatin1String(name)).arg(ratio)));
        }
    }

    void recentTargets()
    {
        QStringList paths;
        for (int i = 0; i < 11; ++i)
            load(paths.emplaceBack(png(u"recent-%1&.png"_s.arg(i), 60, 90, 300)));
        load(paths.at(9)); // again: moves to the top
        QVERIFY(QFile::remove(paths.at(8)));
        restart(); // kept; a file gone since is shown disabled when the menu opens
        QMenu* menu = named<QMenu>("recentMenu");
        emit menu->aboutToShow();
        QStringList shown;
        for (QAction* action : menu->actions())
            shown << action->text() + (action->isEnabled() ? QString() : u" (missing)"_s);
        QCOMPARE(
            shown.join(u", "_s),
            u"recent-9&&.png, recent-10&&.png, recent-8&&.png (missing), recent-7&&.png, recent-6&&.png, "
            "recent-5&&.png, recent-4&&.png, recent-3&&.png, recent-2&&.png, recent-1&&.png, , Clear Menu"_s);
        menu->actions().at(1)->trigger();
        QCOMPARE(lines().first(), u"recent-10&.png"_s);
        trigger("clearRecentAction");
        QCOMPARE(menu->actions().size(), 2); // the separator and Clear Menu
        QVERIFY(!menu->isEnabled());
    }

    void aboutLink()
    {
        const Step click = [](QWidget* about) {
            QLabel* link = about->findChildren<QLabel*>().last();
            QCOMPARE(link->text(), u"<a href=\"https://quorvane.com\">https://quorvane.com</a>"_s);
            QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
            QVERIFY(about->isVisible()); // a link leaves the dialog open
            about->close();
        };
        QCOMPARE(answered({click}, [this] { trigger("aboutAction"); }), QStringList(u"About Lumetra"_s));
        QCOMPARE(m_openedUrls, QList<QUrl>({QUrl(u"https://quorvane.com"_s)}));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
