#include "appidentity.h"
#include "fixtures.h"
#include "mainwindow.h"
#include "papergeometry.h"
#include "previewwidget.h"
#include "privatecups.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QStatusBar>
#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace Lumetra {

// Reaches the few private operations whose effects no widget shows exactly.
class MainWindowProbe
{
public:
    static int rotation(const MainWindow& window) { return window.m_settings.rotationDegrees; }
    static int orientation(const MainWindow& window) { return int(window.m_settings.orientation); }
    static QString paper(const MainWindow& window) { return window.m_settings.paper.name; }
    // Whether the page shown holds its pixels (a set lets go of them while a job is written).
    static bool showsPixels(const MainWindow& window)
    {
        return window.m_image && !window.m_image->image.isNull();
    }
    static void showError(MainWindow& w, const QString& title, const QString& text)
    {
        w.showError(title, text);
    }
    // On the paper, with the sheet (0 portrait, 1 landscape) and the image turned as given.
    static bool confirmPrintCrop(MainWindow& w, const PaperPreset& paper, const PrintableImage& image,
                                 int sheet, int degrees)
    {
        w.m_settings = {paper, static_cast<PrintOrientation>(sheet), w.m_settings.alignment, degrees};
        return w.confirmPrintCrop(TargetSet{{TargetPage{image}}});
    }
};

} // namespace Lumetra

using namespace Lumetra;
using Probe = MainWindowProbe;

namespace {

using Step = std::function<void(QWidget*)>;

// Answers the modal widgets that come up, one step per widget, from a timer (the only way past
// exec() from inside a test), and notes what each showed: "title | text | informative text", with
// " | busy" when it came up under the wait cursor and " | plain" for a plain-text message box.
struct ModalAnswerer
{
    explicit ModalAnswerer(QList<Step> steps) : steps(std::move(steps))
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start(10);
    }
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        // The print's progress answers itself when the job has been handed over.
        if (!modal || qobject_cast<QProgressDialog*>(modal)) {
            idlePolls = 0;
            return;
        }
        // A modal that no step answers (or that a step failed to close) would block the test until
        // the watchdog kills it; note it and close it so that the comparison of what was seen fails.
        if (steps.isEmpty()) {
            if (++idlePolls == 300) {
                seen << u"unanswered: "_s + modal->windowTitle();
                modal->close();
                idlePolls = 0;
            }
            return;
        }
        idlePolls = 0;
        QString note = modal->windowTitle();
        if (qobject_cast<QPrintDialog*>(modal))
            note = u"print dialog"_s;
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            note += u" | "_s + box->text() + u" | "_s + box->informativeText() +
                    (box->textFormat() == Qt::PlainText ? u" | plain"_s : QString());
        seen << note + (QGuiApplication::overrideCursor() ? u" | busy"_s : QString());
        steps.takeFirst()(modal);
    }

    QList<Step> steps;
    QTimer timer;
    QStringList seen;
    int idlePolls = 0;
};

// "Escape" and "Return" are keys, "Print" accepts a print dialog, an absolute path is a file the
// printer is pointed at behind the dialog's back (it refuses unwritable ones), "Continue" is a message
// box's accepting button, anything else its rejecting one or closing.
Step respond(const QString& how)
{
    return [=](QWidget* modal) {
        auto* print = qobject_cast<QPrintDialog*>(modal);
        if (print && how == u"Print"_s)
            return print->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        if (print && how.startsWith(u'/')) {
            print->printer()->setOutputFileName(how);
            return print->done(QDialog::Accepted);
        }
        if (how == u"Escape"_s || how == u"Return"_s)
            return QTest::keyClick(modal, how == u"Escape"_s ? Qt::Key_Escape : Qt::Key_Return);
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            const auto role = how == u"Continue"_s ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
            for (QAbstractButton* button : box->buttons()) {
                if (box->buttonRole(button) == role)
                    return button->click();
            }
        }
        modal->close();
    };
}

QString texts(const QList<QAction*>& actions)
{
    QStringList names;
    for (QAction* action : actions)
        names << action->text() + (action->menu() ? u": "_s + texts(action->menu()->actions()) : QString());
    return names.join(u", "_s);
}

// WCAG contrast of the text in the area against its background: the most frequent colour is the
// background, the text the pixel farthest from it.
double textContrast(const QImage& drawn, const QRect& area)
{
    const auto luminance = [](QRgb c) {
        const auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    QHash<QRgb, int> counts;
    for (int y = area.top() + 2; y < area.bottom() - 1; ++y)
        for (int x = area.left() + 2; x < area.right() - 1; ++x)
            ++counts[drawn.pixel(x, y)];
    QRgb background = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        background = it.value() > counts.value(background) ? it.key() : background;
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double a = luminance(it.key()) + 0.05, b = luminance(background) + 0.05;
        best = std::max(best, std::max(a, b) / std::min(a, b));
    }
    return best;
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

public:
    explicit TestApp(QString home) : m_home(std::move(home)) {}

public slots:
    void openUrl(const QUrl& url) { m_openedUrls << url; }

private:
    QString m_home;
    QTemporaryDir m_files;
    Testing::PrivateCups m_cups;
    QString m_cupsProblem;
    QList<QUrl> m_openedUrls;
    std::unique_ptr<MainWindow> w;

    static QSettings store() { return QSettings(u"Quorvane"_s, u"Lumetra"_s); }
    // The stored values in key order: alignment, orientation, paper.
    static QString stored()
    {
        QStringList values;
        for (const QString& key : store().allKeys()) {
            if (key.startsWith(u"print/"_s))
                values << store().value(key).toString();
        }
        return values.join(u", "_s);
    }

    void restart(const QString& path = {})
    {
        w = std::make_unique<MainWindow>();
        w->show();
        QApplication::setActiveWindow(w.get());
        (void)QTest::qWaitForWindowActive(w.get()); // the shortcut cases fail plainly if it does not
        if (!path.isEmpty())
            load(path);
    }
    template<typename T = QWidget> T* named(const char* name)
    {
        return w->findChild<T*>(QLatin1String(name));
    }
    QComboBox* paper() { return named<QComboBox>("paperCombo"); }
    QComboBox* orientation() { return named<QComboBox>("orientationCombo"); }
    QAction* action(const char* name) { return named<QAction>(name); }
    QLabel* error() { return named<QLabel>("errorLabel"); }
    QLabel* zoomLabel() { return named<QLabel>("zoomLabel"); }
    QString sheet() { return paper()->currentText() + u", "_s + orientation()->currentText(); }
    // Name, pixels, DPI, print size, colour model and profile, top to bottom.
    QStringList lines()
    {
        QStringList lines;
        for (const char* name :
             {"imageNameLabel", "pixelsLabel", "dpiLabel", "printSizeLabel", "colorModelLabel", "iccLabel"})
            lines << named<QLabel>(name)->text();
        // A set's page count and the pages unlike the first, when shown.
        for (const char* name : {"pageCountLabel", "pageDifferencesLabel"})
            if (!named<QLabel>(name)->isHidden())
                lines << named<QLabel>(name)->text();
        return lines;
    }
    // The image's name, the sheet, and the error label: its text when shown, "-" when hidden and empty.
    QString state()
    {
        const QString text = error()->text().isEmpty() ? u"-"_s : error()->text();
        return lines().first() + u" | "_s + sheet() + (error()->isVisible() ? u" | "_s : u" | hidden "_s) +
               text;
    }
    QToolButton* alignment(int i) { return w->findChild<QToolButton*>(u"alignmentButton%1"_s.arg(i)); }
    QList<int> checked()
    {
        QList<int> on;
        for (int i = 0; i < 9; ++i)
            on << (alignment(i)->isChecked() ? QList<int>{i} : QList<int>{});
        return on;
    }
    void load(const QString& path) { w->loadCommandLine({path}); }
    void showPrintError()
    {
        Probe::showError(*w, u"Could not print target image"_s, u"The printer could not be opened."_s);
    }

    // A drag that enters and moves over the window and, where the window takes it, is dropped.
    QString drop(const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDragMoveEvent move(QPoint(22, 22), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(22, 22), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        move.ignore();
        drop.ignore();
        QCoreApplication::sendEvent(w.get(), &enter);
        QCoreApplication::sendEvent(w.get(), &move);
        if (enter.isAccepted() != move.isAccepted())
            return u"enter and move disagree"_s;
        if (!move.isAccepted())
            return u"refused at the drag"_s;
        QCoreApplication::sendEvent(w.get(), &drop);
        return drop.isAccepted() ? u"dropped"_s : u"refused at the drop"_s;
    }

    QString png(const QString& name, int width, int height, double dpi, const QColorSpace& space = {},
                double dpiY = 0)
    {
        QImage image(width, height, QImage::Format_RGB888);
        image.fill(QColor(200, 40, 90));
        image.setDotsPerMeterX(qRound(dpi / 0.0254));
        image.setDotsPerMeterY(qRound((dpiY > 0 ? dpiY : dpi) / 0.0254));
        image.setColorSpace(space);
        return image.save(m_files.filePath(name)) ? m_files.filePath(name) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid() && QDir::setCurrent(m_files.path())); // for relative paths
#ifndef Q_OS_MACOS
        QVERIFY2(store().fileName().startsWith(m_home), qPrintable(store().fileName())); // never the user's
#endif
        // Before anything of Qt's print support talks to CUPS.
        if (!m_cups.start())
            m_cupsProblem = m_cups.errorString();
        else if (!m_cups.setDefaultQueue(m_cups.rawQueue()))
            m_cupsProblem = u"could not make the raw queue the default"_s;
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(u"https"_s);
    }

    void init()
    {
        QSettings settings = store();
        settings.clear();
        settings.sync();
        QFile::remove(settings.fileName());
        restart();
    }

    void cleanup()
    {
        w.reset();
        // Every way out of a read or a print, failures included, takes the busy cursor down.
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void startUpState()
    {
        QCOMPARE(w->windowTitle(), u"Lumetra"_s);
        QCOMPARE(texts(w->menuBar()->actions()),
                 u"File: Load, Open Recent: , Clear Menu, Print, , Quit, "
                 "View: Zoom In, Zoom Out, Fit to Screen, , Previous Page, Next Page, Help: About Lumetra"_s);
        QCOMPARE(action("aboutAction")->menuRole(), QAction::AboutRole);
        QCOMPARE(action("quitAction")->menuRole(), QAction::QuitRole);
        QVERIFY(!named<QMenu>("recentMenu")->isEnabled()); // nothing loaded yet
        // The shortcuts work wherever the focus is; only Load and Quit are enabled without an image.
        QCOMPARE(texts(w->actions()),
                 u"Load, Print, Zoom In, Zoom Out, Fit to Screen, Quit, Previous Page, Next Page"_s);
        for (QAction* action : w->actions())
            QCOMPARE(action->isEnabled(),
                     action == this->action("loadAction") || action == this->action("quitAction"));
        // The platform's own shortcuts first (the menus show them), then the bare keys.
        const auto keys = [this](const char* name) { return action(name)->shortcuts(); };
        QCOMPARE(keys("zoomInAction"), QKeySequence::keyBindings(QKeySequence::ZoomIn) +
                                           QList<QKeySequence>({Qt::Key_Plus, Qt::Key_Equal}));
        QCOMPARE(keys("zoomOutAction"),
                 QKeySequence::keyBindings(QKeySequence::ZoomOut) + QList<QKeySequence>({Qt::Key_Minus}));
        QCOMPARE(keys("fitAction"), QList<QKeySequence>({Qt::CTRL | Qt::Key_0, Qt::Key_0}));
        QCOMPARE(keys("quitAction"), QKeySequence::keyBindings(QKeySequence::Quit));
        QCOMPARE(zoomLabel()->text(), u"100%"_s);
        QVERIFY(!zoomLabel()->isEnabled());
        QCOMPARE(lines(), QStringList({u"No image loaded"_s, {}, {}, {}, {}, {}}));
        QCOMPARE(state(), u"No image loaded | DIN A4, Portrait | hidden -"_s);

        // Toolbar, left to right: a spacer, Load, Print, the stretch, the zoom label, Fit to Screen,
        // and after a separator the page navigation.
        auto* toolBar = named<QToolBar>("MainToolBar");
        QCOMPARE(texts(toolBar->actions()),
                 u", Load, Print, , , Fit to Screen, , Previous Page, , Next Page"_s);
        QCOMPARE(toolBar->widgetForAction(toolBar->actions()[4]), zoomLabel());
        QVERIFY(!toolBar->isMovable() && toolBar->iconSize() == QSize(24, 24));

        // Every icon-only button has a name for assistive technology, and every painted icon a
        // drawing for screens of twice the density.
        QStringList names;
        for (QToolButton* button : w->findChildren<QToolButton*>()) {
            if (button->toolButtonStyle() == Qt::ToolButtonIconOnly && button->isVisibleTo(w.get()))
                names << QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name);
        }
        names.sort();
        QCOMPARE(names.join(u", "_s), u"About Lumetra, Bottom Center, Bottom Left, Bottom Right, Center, "
                                      "Center Left, Center Right, Fit to Screen, Load, Next Page, "
                                      "Previous Page, Print, Top Center, Top Left, Top Right"_s);
        for (QAction* action : toolBar->actions()) {
            const QSize size = action->icon().actualSize(QSize(24, 24));
            QVERIFY(action->icon().isNull() || action->icon().availableSizes().contains(size * 2));
        }
        QVERIFY(alignment(0)->icon().availableSizes().contains(QSize(96, 96)));

        // The compiled-in resources, stored uncompressed.
        const QImage logo(u":/branding/quorvane-logo.png"_s);
        QCOMPARE(logo.size(), QSize(1317, 440));
        QVERIFY(!logo.hasAlphaChannel() && qRound(logo.dotsPerMeterX() * 0.0254) == 300);
        for (const QString& path :
             {u":/icons/open.svg"_s, u":/icons/print.svg"_s, u":/branding/quorvane-logo.png"_s})
            QCOMPARE(QResource(path).compressionAlgorithm(), QResource::NoCompression);
    }

    // Run once per screen size (see CMakeLists.txt): the window opens inside the screen's free
    // area at the specified size where it fits, the column keeps its order and width, and a
    // new error is scrolled into view.
    void windowFitsScreen()
    {
        const QRect available = w->screen()->availableGeometry();
        if (qEnvironmentVariableIsSet("LUMETRA_TEST_SCREEN")) // the screen ctest configured is the one in use
            QCOMPARE(u"%1x%2"_s.arg(available.width()).arg(available.height()),
                     qEnvironmentVariable("LUMETRA_TEST_SCREEN"));
        const QSize frame = w->frameGeometry().size() - w->size();
        QCOMPARE(w->size(), QSize(1080, 720).boundedTo(available.size() - frame));
        QVERIFY(available.contains(w->frameGeometry()));
        QVERIFY(w->minimumSizeHint().boundedTo(QSize(1280, 720)) == w->minimumSizeHint());

        load(png(u"fits.png"_s, 600, 900, 300));
        showPrintError();
        QTest::qWait(0); // layouts settle as they would before the next paint
        auto* column = named<QScrollArea>("inspectorScroll");
        QCOMPARE(column->width(), 320);
        QCOMPARE(error()->visibleRegion(), QRegion(error()->rect()));
        QVERIFY(w->rect().contains(QRect(error()->mapTo(w.get(), QPoint()), error()->size())));

        // Top to bottom, and all of it within reach of the column's scroll bar.
        int bottom = -1;
        for (const char* name : {"inspectorTitle", "paperBox", "orientationBox", "alignmentBox", "imageBox",
                                 "logoButton", "errorLabel"}) {
            const QWidget* part = named(name);
            QVERIFY2(part->y() > bottom, name);
            bottom = part->geometry().bottom();
        }
        QVERIFY(bottom <= column->viewport()->height() + column->verticalScrollBar()->maximum());
        column->verticalScrollBar()->setValue(0);
        QCOMPARE(named("inspectorTitle")->visibleRegion(), QRegion(named("inspectorTitle")->rect()));
    }

    void windowGeometryIsRemembered()
    {
        const QRect available = w->screen()->availableGeometry();
        const QRect placed(available.topLeft() + QPoint(40, 30), QSize(700, 500));
        w->setGeometry(placed);
        const QRect left = w->geometry(); // as the platform placed it
        QCOMPARE(left.size(), placed.size());
        action("quitAction")->trigger();
        QVERIFY(!w->isVisible());
        restart();
        QCOMPARE(w->geometry(), left);

        // A size stored on a larger screen is brought within this one.
        QWidget large;
        large.setGeometry(QRect(available.topLeft(), available.size() * 2));
        store().setValue(u"window/geometry"_s, large.saveGeometry());
        restart();
        QVERIFY(available.contains(w->frameGeometry()));
    }

    void storedSettingsReadBack_data()
    {
        QTest::addColumn<QString>("values"); // paper, orientation, alignment; an empty one is not stored
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<int>("alignment");
        QTest::newRow("all valid") << u"DIN A3+,1,8"_s << u"DIN A3+, Landscape"_s << 8;
        QTest::newRow("paper in other case") << u"din a3,1,0"_s << u"DIN A4, Landscape"_s << 0;
        QTest::newRow("unknown paper") << u"Letter size,,"_s << u"DIN A4, Portrait"_s << 4;
        QTest::newRow("past the last value") << u"DIN A3,2,9"_s << u"DIN A3, Portrait"_s << 4;
        QTest::newRow("negative") << u",-1,-1"_s << u"DIN A4, Portrait"_s << 4;
    }

    void storedSettingsReadBack()
    {
        QFETCH(QString, values);
        const QStringList keys = {u"print/paper"_s, u"print/orientation"_s, u"print/alignment"_s};
        for (int i = 0; i < 3; ++i) {
            if (!values.section(u',', i, i).isEmpty())
                store().setValue(keys[i], values.section(u',', i, i));
        }
        const QString before = stored();
        restart();
        QTEST(sheet(), "sheet");
        // What prints is what shows.
        QCOMPARE(Probe::orientation(*w), orientation()->currentIndex());
        QCOMPARE(Probe::paper(*w), paper()->currentText());
        QFETCH(int, alignment);
        QCOMPARE(checked(), QList<int>({alignment}));
        w.reset();
        QCOMPARE(stored(), before); // read, never rewritten
    }

    void inspectorChangesAreStored()
    {
        paper()->setCurrentIndex(2);
        QCOMPARE(stored(), u"4, 0, DIN A3+"_s);
        orientation()->setCurrentIndex(1);
        QCOMPARE(Probe::rotation(*w), 0); // without an image there is nothing to turn
        QCOMPARE(stored(), u"4, 1, DIN A3+"_s);
        // Clicking the checked button keeps it checked and still stores.
        store().remove(u"print/alignment"_s);
        QTest::mouseClick(alignment(4), Qt::LeftButton);
        QCOMPARE(checked(), QList<int>({4}));
        QCOMPARE(stored(), u"4, 1, DIN A3+"_s);
        QTest::mouseClick(alignment(6), Qt::LeftButton);
        QCOMPARE(checked(), QList<int>({6}));

        // The next start reads all three back. A load writes nothing, yet the next
        // click stores the automatically chosen paper and orientation too.
        restart();
        QCOMPARE(sheet(), u"DIN A3+, Landscape"_s);
        QCOMPARE(checked(), QList<int>({6}));
        init();
        load(png(u"store.png"_s, 600, 900, 300));
        QCOMPARE(stored(), QString()); // a load stores none of the print choices
        QTest::mouseClick(alignment(0), Qt::LeftButton);
        QCOMPARE(stored(), u"0, 0, DIN A4"_s);
    }

    // Both series in the paper list, DIN first; each choice is stored under its name and read back.
    void everyPaperRoundTrips()
    {
        const QStringList names = u"DIN A4|DIN A3|DIN A3+|DIN A2||Letter|Legal|Tabloid (11 × 17 in)|"
                                  "Super B (13 × 19 in)|ANSI C (17 × 22 in)"_s.split(u'|');
        QStringList listed;
        for (int i = 0; i < paper()->count(); ++i)
            listed << paper()->itemData(i).toString();
        QCOMPARE(listed, names);
        QCOMPARE(paper()->itemText(4), QString()); // the separator between the series
        for (int i = names.size() - 1; i >= 0; --i) {
            if (names[i].isEmpty())
                continue;
            paper()->setCurrentIndex(i);
            QCOMPARE(store().value(u"print/paper"_s).toString(), names[i]);
            restart();
            QCOMPARE(paper()->currentText(), names[i]);
            QCOMPARE(Probe::paper(*w), names[i]);
        }
    }

    void automaticOrientationAndPaper_data()
    {
        QTest::addColumn<QString>("stored"); // the paper chosen before
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QString>("sheet");
        // Which sheet fits is the model's to decide; here the stored paper's series is the one searched.
        QTest::newRow("A4 at 300 dpi, a hair too tall")
            << u"DIN A3+"_s << QSize(2480, 3508) << 300.0 << u"DIN A3, Portrait"_s;
        QTest::newRow("11 x 17 landscape after Legal")
            << u"Legal"_s << QSize(1700, 1100) << 100.0 << u"Tabloid (11 × 17 in), Landscape"_s;
    }

    void automaticOrientationAndPaper()
    {
        QFETCH(QSize, pixels);
        QFETCH(double, dpi);
        // A stored paper and an earlier image turned by the user give way; the alignment stays.
        QFETCH(QString, stored);
        store().setValue(u"print/paper"_s, stored);
        store().setValue(u"print/alignment"_s, 2);
        restart(png(u"earlier.png"_s, 60, 90, 300));
        orientation()->setCurrentIndex(1);
        load(png(u"auto.png"_s, pixels.width(), pixels.height(), dpi));
        QFETCH(QString, sheet);
        QCOMPARE(state(), u"auto.png | "_s + sheet + u" | hidden -"_s);
        QCOMPARE(Probe::rotation(*w), 0);
        QCOMPARE(Probe::paper(*w), paper()->currentText());
        QCOMPARE(checked(), QList<int>({2}));
    }

    void metadataLinesAndQuarterTurn()
    {
        load(png(u"a4-at-300.png"_s, 2480, 3508, 300));
        const QStringList upright = lines();
        QCOMPARE(upright,
                 QStringList({u"a4-at-300.png"_s, u"Pixels: 2480 x 3508"_s, u"DPI: 300.00 x 300.00"_s,
                              u"Print size: 8.27 x 11.69 in / 210.0 x 297.0 mm"_s, u"Color model: RGB"_s,
                              u"ICC Profile: none"_s}));
        QVERIFY(action("printAction")->isEnabled() && zoomLabel()->isEnabled());

        // Switching orientation turns the image with the sheet; pixels and paper never change.
        orientation()->setCurrentIndex(1);
        QCOMPARE(Probe::rotation(*w), 90);
        QStringList turned = upright;
        turned[3] = u"Print size: 11.69 x 8.27 in / 297.0 x 210.0 mm"_s;
        QCOMPARE(lines(), turned);
        QCOMPARE(sheet(), u"DIN A3, Landscape"_s);
        orientation()->setCurrentIndex(0);
        QCOMPARE(Probe::rotation(*w), 0);
        QCOMPARE(lines(), upright);

        // Uneven resolutions; PNG keeps one value per axis, in dots per metre.
        load(png(u"uneven.png"_s, 300, 144, 150, {}, 72));
        QCOMPARE(lines().mid(1, 3), QStringList({u"Pixels: 300 x 144"_s, u"DPI: 150.01 x 72.01"_s,
                                                 u"Print size: 2.00 x 2.00 in / 50.8 x 50.8 mm"_s}));
        // CMYK is printed as RGB, and the colour line says so.
        load(QStringLiteral(LUMETRA_CMYK_JPEG));
        QCOMPARE(lines().at(4), u"Color model: CMYK (printed as RGB)"_s);
    }

    void profileWarning_data()
    {
        QTest::addColumn<QString>("description"); // empty: Qt's own "sRGB"
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("name"); // as the warning and the profile line show it

        const QString none, png = u"profiled.png"_s, srgb = u"sRGB"_s;
        QTest::newRow("Cancel") << none << png << u"Cancel"_s << srgb;
        QTest::newRow("Escape") << none << png << u"Escape"_s << srgb;
        QTest::newRow("Return takes the default") << none << png << u"Return"_s << srgb;
        QTest::newRow("blank, in a JPEG")
            << u"   "_s << u"blank.jpg"_s << u"Continue"_s << u"Embedded ICC profile"_s;
        // Trimmed, and shown as it stands, never rendered as markup.
        const QString markup = u"<b>Wide</b> & <i>bright</i>"_s;
        QTest::newRow("Continue, padded markup")
            << u"  "_s + markup + u"  "_s << u"<b>chart<i>.png"_s << u"Continue"_s << markup;
    }

    void profileWarning()
    {
        QFETCH(QString, description);
        QFETCH(QString, file);
        QFETCH(QString, answer);
        QFETCH(QString, name);
        QColorSpace space(QColorSpace::SRgb);
        if (!description.isEmpty())
            space.setDescription(description);
        const QString profiled = png(file, 600, 900, 50, space);
        load(png(u"plain-first.png"_s, 900, 600, 300));
        Probe::showError(*w, u"Earlier"_s, u"problem"_s);

        // The question never sits under the wait cursor.
        ModalAnswerer answerer({respond(answer)});
        load(profiled);
        QCOMPARE(answerer.seen,
                 QStringList(u"Embedded ICC profile detected | This image contains an embedded "
                             "ICC profile: %1. | Lumetra ignores embedded profiles for profiling "
                             "target output. Continue loading this image, or cancel and choose "
                             "a different file. | plain"_s.arg(name)));

        // Refused, the old image, paper and orientation stay, and so does the earlier error.
        if (answer == u"Continue"_s || answer == u"Return"_s) {
            QCOMPARE(state(), file + u" | DIN A3+, Portrait | hidden -"_s);
            QCOMPARE(lines().last(), u"ICC Profile: %1 (Ignored)"_s.arg(name));
            for (QLabel* label : named("imageBox")->findChildren<QLabel*>())
                QCOMPARE(label->textFormat(), Qt::PlainText);
        } else {
            QCOMPARE(state(), u"plain-first.png | DIN A4, Landscape | <b>Earlier</b><br>problem"_s);
        }
        QCOMPARE(Probe::orientation(*w), orientation()->currentIndex()); // what prints is what shows
    }

    void failedOrCancelledLoadKeepsImage()
    {
        const QString good = png(u"good.png"_s, 1200, 800, 100);
        QVERIFY(QFile(u"broken.png"_s).open(QIODevice::WriteOnly)); // empty
        load(good);
        const QString failed = u"good.png | DIN A3, Landscape | <b>Could not load target image</b><br>"
                               "The file could not be read as an image."_s;
        load(u"broken.png"_s);
        QCOMPARE(state(), failed);
        QCOMPARE(error()->textFormat(), Qt::RichText);
        // A cancelled Open dialog changes nothing either.
        ModalAnswerer answerer({respond(u"Cancel"_s)});
        action("loadAction")->trigger();
        QCOMPARE(answerer.seen, QStringList(u"Load target image"_s));
        QCOMPARE(state(), failed);
        load(good);
        QCOMPARE(state(), u"good.png | DIN A3, Landscape | hidden -"_s);

        // Both parts are escaped, so a message reads literally.
        Probe::showError(*w, u"A & B"_s, u"x < y <b>z</b>"_s);
        QCOMPARE(error()->text(), u"<b>A &amp; B</b><br>x &lt; y &lt;b&gt;z&lt;/b&gt;"_s);
    }

    void commandLineAndOpenDialog()
    {
        for (const QString& blank : {u"   "_s, QString()})
            load(blank);
        QCOMPARE(state(), u"No image loaded | DIN A4, Portrait | hidden -"_s);
        // A path with spaces around it is passed on as it stands, not trimmed.
        png(u"  spaced.png"_s, 50, 50, 100);
        load(u"  spaced.png"_s);
        QCOMPARE(lines().first(), u"  spaced.png"_s);

        // The platform's Open shortcut, with the focus in the inspector; the dialog opens in the
        // folder of the last target.
        const QString path = png(u"opened.png"_s, 900, 600, 300);
        QStringList filters;
        ModalAnswerer answerer({[&](QWidget* modal) {
            auto* dialog = static_cast<QFileDialog*>(modal);
            filters = dialog->nameFilters() << dialog->directory().absolutePath();
            // Typed as a user would: selectFile() leaves the name field alone while it has the
            // focus, which it gets as soon as the dialog is activated, and accept() then has no file.
            if (auto* name = dialog->findChild<QLineEdit*>(u"fileNameEdit"_s))
                name->setText(path);
            static_cast<QDialog*>(dialog)->accept();
        }});
        paper()->setFocus();
        QTest::keySequence(w.get(), QKeySequence::Open);
        QCOMPARE(answerer.seen, QStringList(u"Load target image"_s));
        QCOMPARE(filters, QStringList({u"Target images (*.tif *.tiff *.jpg *.jpeg *.png)"_s,
                                       QDir(m_files.path()).absolutePath()}));
        QCOMPARE(lines().first(), u"opened.png"_s);
    }

    void dragAndDrop_data()
    {
        QTest::addColumn<QStringList>("urls"); // a name stands for a file of that name in the test folder
        QTest::addColumn<bool>("accepted");
        const QString web = u"https://quorvane.com/chart.png"_s;
        QTest::newRow("several files, one set") << QStringList{u"b.jpg"_s, u"a.png"_s} << true;
        QTest::newRow("suffix in capitals") << QStringList{u"A.PNG"_s} << true;
        QTest::newRow("web link") << QStringList{web} << false;
        QTest::newRow("unreadable suffix") << QStringList{u"chart.pdf"_s} << false;
        QTest::newRow("file and web link") << QStringList{u"a.png"_s, web} << false;
        QTest::newRow("readable and unreadable") << QStringList{u"a.png"_s, u"chart.pdf"_s} << false;
    }

    // The cursor refuses a drag before the drop, and an accepted drop loads after the event returned,
    // so that the application the drag came from never waits on a question Lumetra asks.
    void dragAndDrop()
    {
        QFETCH(QStringList, urls);
        QFETCH(bool, accepted);
        QList<QUrl> list;
        for (const QString& url : urls)
            list << (url.contains(u':') ? QUrl(url) : QUrl::fromLocalFile(m_files.filePath(url)));
        for (const QString& url : urls)
            if (!url.contains(u':'))
                png(url, 600, 900, 300, QColorSpace(QColorSpace::SRgb));
        ModalAnswerer answerer({respond(u"Continue"_s)});
        QCOMPARE(drop(list), accepted ? u"dropped"_s : u"refused at the drag"_s);
        QCOMPARE(answerer.seen, QStringList());
        QCOMPARE(lines().first(), u"No image loaded"_s);
        // Several files are the pages of one set, in the order of their names.
        QTRY_COMPARE(lines().first(), accepted ? urls.last() : u"No image loaded"_s);
        QCOMPARE(answerer.seen.size(), accepted ? 1 : 0);
    }

    void fileOpenEvent()
    {
        // Files opened from the desktop arrive as an application event and take the same road, after
        // the event returned; here the target shipped for the run command.
        QFileOpenEvent event(QStringLiteral(LUMETRA_SAMPLE_TARGET));
        QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
        QCOMPARE(lines().first(), u"No image loaded"_s);
        QTRY_COMPARE(state(), u"sample-target.tif | DIN A4, Landscape | hidden -"_s);
        QCOMPARE(lines().mid(1, 3), QStringList({u"Pixels: 1950 x 1350"_s, u"DPI: 300.00 x 300.00"_s,
                                                 u"Print size: 6.50 x 4.50 in / 165.1 x 114.3 mm"_s}));
        // Files opened together arrive one event each and load as one set.
        QFileOpenEvent second(png(u"opened_2.png"_s, 60, 90, 300));
        QFileOpenEvent first(png(u"opened_1.png"_s, 60, 90, 300));
        QCoreApplication::sendEvent(QCoreApplication::instance(), &second);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &first);
        QTRY_COMPARE(named<QLabel>("pageLabel")->text(), u"Page 1 of 2"_s);
        QCOMPARE(lines().first(), u"opened_1.png"_s);
        // Once the window is gone, nothing is routed any more.
        w.reset();
        QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
        QTest::qWait(0);
    }

    void openRecent()
    {
        QStringList paths;
        for (int i = 0; i < 11; ++i)
            load(paths.emplaceBack(png(u"recent-%1&.png"_s.arg(i), 60, 90, 300)));
        load(paths.at(9)); // again: moves to the top
        QMenu* menu = named<QMenu>("recentMenu");
        const auto entries = [&menu] {
            QStringList shown;
            for (QAction* action : menu->actions())
                shown << action->text() + (action->isEnabled() ? QString() : u" (missing)"_s);
            return shown.join(u", "_s);
        };
        QCOMPARE(entries(),
                 u"recent-9&&.png, recent-10&&.png, recent-8&&.png, recent-7&&.png, recent-6&&.png, "
                 "recent-5&&.png, recent-4&&.png, recent-3&&.png, recent-2&&.png, recent-1&&.png, , "
                 "Clear Menu"_s);

        // Kept across a restart; a file gone since is shown disabled when the menu opens.
        QVERIFY(QFile::remove(paths.at(8)));
        restart();
        menu = named<QMenu>("recentMenu");
        emit menu->aboutToShow();
        QVERIFY(
            entries().startsWith(u"recent-9&&.png, recent-10&&.png, recent-8&&.png (missing), recent-7"_s));
        menu->actions().at(1)->trigger();
        QCOMPARE(lines().first(), u"recent-10&.png"_s);

        named<QAction>("clearRecentAction")->trigger();
        QCOMPARE(entries(), u", Clear Menu"_s);
        QVERIFY(!menu->isEnabled());
    }

    void readableOnAnyPalette_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QApplication::palette();
        QPalette dark(QColor(230, 230, 230), QColor(60, 60, 60), QColor(90, 90, 90), QColor(20, 20, 20),
                      QColor(45, 45, 45), QColor(230, 230, 230), Qt::white, QColor(30, 30, 30),
                      QColor(43, 43, 43));
        QTest::newRow("dark") << dark;
    }

    void readableOnAnyPalette()
    {
        QFETCH(QPalette, palette);
        const QPalette before = QApplication::palette();
        QApplication::setPalette(palette);
        QTest::qWait(0); // the palette reaches the window through the event loop
        load(png(u"readable.png"_s, 600, 900, 300));
        showPrintError();
        const QPalette shown = w->palette();
        for (const char* name :
             {"zoomLabel", "inspectorTitle", "imageNameLabel", "pixelsLabel", "iccLabel", "errorLabel"}) {
            QLabel* label = named<QLabel>(name);
            named<QScrollArea>("inspectorScroll")->ensureWidgetVisible(label, 0, 0);
            const double ratio =
                textContrast(w->grab().toImage(), QRect(label->mapTo(w.get(), QPoint()), label->size()));
            QVERIFY2(ratio >= 4.5, qPrintable(u"%1: %2 : 1"_s.arg(QLatin1String(name)).arg(ratio)));
        }
        QApplication::setPalette(before);
        QCOMPARE(shown.color(QPalette::Window), palette.color(QPalette::Window)); // the palette reached it
    }

    void zoomKeys()
    {
        QWidget* focus = alignment(0);
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Plus); // without an image the keys do nothing
        QCOMPARE(zoomLabel()->text(), u"100%"_s);

        load(png(u"zoom.png"_s, 600, 900, 300));
        focus->setFocus();
        // 83.33 and 69.44 round down; 0 (Fit to Screen) goes back to the fit.
        const QList<std::pair<Qt::Key, const char*>> steps = {
            {Qt::Key_Plus, "120%"}, {Qt::Key_Equal, "144%"}, {Qt::Key_Minus, "120%"}, {Qt::Key_Minus, "100%"},
            {Qt::Key_Minus, "83%"}, {Qt::Key_Minus, "69%"},  {Qt::Key_Plus, "83%"},   {Qt::Key_0, "100%"}};
        for (const auto& [key, expected] : steps) {
            QTest::keyClick(focus, key);
            QCOMPARE(zoomLabel()->text(), QString::fromLatin1(expected));
        }
        // The platform's zoom shortcuts do the same.
        for (const auto& [keys, expected] : {std::pair{QKeySequence(QKeySequence::ZoomIn), "120%"},
                                             {QKeySequence(QKeySequence::ZoomOut), "100%"},
                                             {QKeySequence(QKeySequence::ZoomIn), "120%"},
                                             {QKeySequence(Qt::CTRL | Qt::Key_0), "100%"}}) {
            QTest::keySequence(w.get(), keys);
            QCOMPARE(zoomLabel()->text(), QString::fromLatin1(expected));
        }
    }

    void cropWarning_data()
    {
        QTest::addColumn<QString>("answer");
        for (const char* answer : {"Continue", "Cancel", "Escape"})
            QTest::newRow(answer) << QString::fromLatin1(answer);
    }

    void cropWarning()
    {
        QFETCH(QString, answer);
        load(png(u"crop.png"_s, 2480, 3508, 300));
        paper()->setCurrentIndex(0);
        ModalAnswerer answerer({respond(answer), respond(u"Cancel"_s)});
        action("printAction")->trigger();
        QStringList seen = {
            u"Image will be cropped | The image is larger than the selected paper at its embedded "
            "print size. | Image: 8.27 x 11.69 in\nPaper: 8.27 x 11.69 in\n\nContinue printing, "
            "or cancel and choose a larger paper size."_s};
        if (answer == u"Continue"_s)
            seen << u"print dialog"_s;
        QCOMPARE(answerer.seen, seen);
        QCOMPARE(state(), u"crop.png | DIN A4, Portrait | hidden -"_s);
    }

    // Boundaries of a paper-sized image on its paper: just inside and outside the tolerance, turned with
    // the sheet; the warning names the sheet in use.
    void cropBoundaries()
    {
        struct Row
        {
            const char16_t* paper;
            double extraWidth, extraHeight;
            int sheet, degrees;      // sheet: 0 portrait, 1 landscape
            const char16_t* warning; // the paper line of the warning; none when it does not warn
        };
        for (const Row& row :
             {Row{u"DIN A4", 0.00009, 0.00009, 0, 0, nullptr}, Row{u"DIN A4", 0, 0, 1, 90, nullptr},
              Row{u"DIN A4", 0, 0, 1, 0, u"Paper: 11.69 x 8.27 in"},
              Row{u"Super B (13 × 19 in)", 0.00009, 0, 1, 90, nullptr},
              Row{u"Super B (13 × 19 in)", 0.00012, 0, 1, 90, u"Paper: 19.00 x 13.00 in"}}) {
            const PaperPreset paper = *paperPresetNamed(QString::fromUtf16(row.paper));
            const SizeD size = paper.sizeInches(PrintOrientation::Portrait);
            PrintableImage image;
            image.pixelWidth = image.pixelHeight = 10000;
            image.dpiX = 10000 / (size.width + row.extraWidth);
            image.dpiY = 10000 / (size.height + row.extraHeight);
            ModalAnswerer answerer({respond(u"Cancel"_s)});
            QCOMPARE(Probe::confirmPrintCrop(*w, paper, image, row.sheet, row.degrees), !row.warning);
            QCOMPARE(answerer.seen.size(), row.warning ? 1 : 0);
            if (row.warning)
                QVERIFY2(answerer.seen.first().contains(QString::fromUtf16(row.warning)),
                         qPrintable(answerer.seen.first()));
        }
    }

    // Three sheets dropped together: one layout for all, stepped through one page at a time.
    void targetSetLayoutAndNavigation()
    {
        QLabel* pageLabel = named<QLabel>("pageLabel");
        const auto navigation = [&] {
            return pageLabel->text() + u" | "_s +
                   (action("previousPageAction")->isEnabled() ? u"<"_s : u"-"_s) +
                   (action("nextPageAction")->isEnabled() ? u">"_s : u"-"_s);
        };
        load(png(u"solo.png"_s, 60, 90, 100));
        QCOMPARE(navigation(), u" | --"_s);

        // 6 x 9 in, 3 x 4.5 in at another resolution, and 8 x 12 in, which needs A3.
        const QList<QUrl> sheets = {QUrl::fromLocalFile(png(u"sheet_10.png"_s, 800, 1200, 100)),
                                    QUrl::fromLocalFile(png(u"sheet_2.png"_s, 600, 900, 200)),
                                    QUrl::fromLocalFile(png(u"sheet_1.png"_s, 600, 900, 100))};
        QCOMPARE(drop(sheets), u"dropped"_s);
        QTRY_COMPARE(state(), u"sheet_1.png | DIN A3, Portrait | hidden -"_s);
        QCOMPARE(lines().mid(1),
                 QStringList({u"Pixels: 600 x 900"_s, u"DPI: 100.00 x 100.00"_s,
                              u"Print size: 6.00 x 9.00 in / 152.4 x 228.6 mm"_s, u"Color model: RGB"_s,
                              u"ICC Profile: none"_s, u"Pages in set: 3"_s,
                              u"Resolution differs from page 1: sheet_2.png"_s}));
        QCOMPARE(navigation(), u"Page 1 of 3 | ->"_s);

        // Page Down with the focus on the preview, then the toolbar's action; the sheet stays.
        QWidget* preview = w->findChild<PreviewWidget*>();
        preview->setFocus();
        QTest::keyClick(preview, Qt::Key_PageDown);
        QCOMPARE(navigation(), u"Page 2 of 3 | <>"_s);
        QCOMPARE(lines().mid(0, 3),
                 QStringList({u"sheet_2.png"_s, u"Pixels: 600 x 900"_s, u"DPI: 200.00 x 200.00"_s}));
        action("nextPageAction")->trigger();
        QCOMPARE(navigation(), u"Page 3 of 3 | <-"_s);
        QTest::keyClick(preview, Qt::Key_PageDown); // nothing beyond the last page
        QCOMPARE(state(), u"sheet_10.png | DIN A3, Portrait | hidden -"_s);

        // Turning the sheet turns every page; the page shown keeps the turn.
        orientation()->setCurrentIndex(1);
        QTest::keyClick(preview, Qt::Key_PageUp);
        QCOMPARE(navigation(), u"Page 2 of 3 | <>"_s);
        QCOMPARE(Probe::rotation(*w), 90);
        QCOMPARE(lines().at(3), u"Print size: 4.50 x 3.00 in / 114.3 x 76.2 mm"_s);

        // On A4 only the third page overhangs the sheet, and the warning names it.
        orientation()->setCurrentIndex(0);
        paper()->setCurrentIndex(0);
        {
            ModalAnswerer answerer({respond(u"Cancel"_s)});
            action("printAction")->trigger();
            QCOMPARE(
                answerer.seen,
                QStringList(u"Image will be cropped | Pages larger than the selected paper at their embedded "
                            "print size: 1 of 3. | Cropped: sheet_10.png\nPaper: 8.27 x 11.69 in\n\n"
                            "Continue printing, or cancel and choose a larger paper size."_s));
        }

        // A page rewritten since the load is not shown at the layout chosen for what it was.
        png(u"sheet_10.png"_s, 800, 1300, 100);
        action("nextPageAction")->trigger();
        QCOMPARE(state(), u"sheet_2.png | DIN A4, Portrait | <b>Could not show the page</b><br>"
                          "sheet_10.png has changed since it was loaded. Load the target again."_s);
        QCOMPARE(navigation(), u"Page 2 of 3 | <>"_s);

        // A set with one unreadable page is refused as a whole, naming it; the set shown stays.
        QFile broken(m_files.filePath(u"sheet_3.png"_s));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a png") > 0);
        broken.close();
        QCOMPARE(drop({QUrl::fromLocalFile(broken.fileName()), sheets.first()}), u"dropped"_s);
        QTRY_COMPARE(state(), u"sheet_2.png | DIN A4, Portrait | <b>Could not load target image</b><br>"
                              "sheet_3.png: The file could not be read as an image."_s);
        QCOMPARE(navigation(), u"Page 2 of 3 | <>"_s);

        // Pages with profiles: one question for the set, naming each profile once.
        const QString tagged = png(u"tagged_1.png"_s, 60, 90, 100, QColorSpace::SRgb);
        {
            ModalAnswerer answerer({respond(u"Cancel"_s)});
            w->loadCommandLine({png(u"tagged_3.png"_s, 60, 90, 100, QColorSpace::SRgb), tagged,
                                m_files.filePath(u"solo.png"_s)});
            QCOMPARE(answerer.seen,
                     QStringList(u"Embedded ICC profile detected | Pages with an embedded ICC "
                                 "profile: 2 of 3. Profiles: sRGB. | Lumetra ignores embedded "
                                 "profiles for profiling target output. Continue loading these "
                                 "pages, or cancel and choose different files. | plain"_s));
        }
        QCOMPARE(navigation(), u"Page 2 of 3 | <>"_s);

        // A single image again: no pages to step through.
        load(m_files.filePath(u"solo.png"_s));
        QCOMPARE(navigation(), u" | --"_s);
        QCOMPARE(lines().size(), 6);
    }

    void printReachesQueue()
    {
        if (!m_cupsProblem.isEmpty())
            QSKIP(qPrintable(u"no private CUPS scheduler: "_s + m_cupsProblem));
        QString problem;
        if (!Testing::popplerToolsAvailable(&problem))
            QSKIP(qPrintable(u"poppler tools missing: "_s + problem));

        // A full-page Letter target after the user chose a North American sheet: no crop warning, and
        // the whole sheet is the image.
        paper()->setCurrentIndex(paper()->findText(u"Legal"_s));
        load(png(u"to-print.png"_s, 2550, 3300, 300));
        const QStringList before = m_cups.spooledDocuments();
        ModalAnswerer answerer({respond(u"Print"_s)});
        action("printAction")->trigger();
        QCOMPARE(answerer.seen, QStringList(u"print dialog"_s));
        QCOMPARE(state(), u"to-print.png | Letter, Portrait | hidden -"_s);

        const QString document = m_cups.waitForNewDocument(before);
        QVERIFY2(Testing::isPdf(document), qPrintable(m_cups.errorLogTail()));
        const QList<Testing::PdfImageInfo> images = Testing::listPdfImages(document, &problem);
        QVERIFY2(images.size() == 1, qPrintable(problem));
        QCOMPARE(QList<int>({images[0].width, images[0].height, images[0].xPpi, images[0].yPpi}),
                 QList<int>({2550, 3300, 300, 300}));
        QCOMPARE(Testing::pdfPageSizePoints(document, 1, &problem), QSizeF(612, 792));
        QVERIFY(m_cups.jobAttributes(document).contains("Lumetra"));
        // d00012-001 is job 12; the window names it, and the queue is kept for the next run.
        const int job = QFileInfo(document).fileName().section(u'-', 0, 0).mid(1).toInt();
        QCOMPARE(w->statusBar()->currentMessage(),
                 u"Sent to \"%1\" as job %2"_s.arg(m_cups.rawQueue()).arg(job));
        QCOMPARE(store().value(u"print/queue"_s).toString(), m_cups.rawQueue());
    }

    // A set prints as one job, a sheet per page, each page's pixels as they are in its file and
    // placed as a single print would place them; the dialog's page range picks the pages.
    void targetSetPrintsAsOneJob()
    {
        if (!m_cupsProblem.isEmpty())
            QSKIP(qPrintable(u"no private CUPS scheduler: "_s + m_cupsProblem));
        QString problem;
        if (!Testing::popplerToolsAvailable(&problem))
            QSKIP(qPrintable(u"poppler tools missing: "_s + problem));

        // Three pages, each with pixels of its own, at two resolutions.
        QList<QImage> sources;
        QList<QUrl> urls;
        const int sizes[3][3] = {{60, 90, 300}, {45, 30, 150}, {60, 90, 200}};
        for (int k = 0; k < 3; ++k) {
            QImage image = Testing::chart(sizes[k][0], sizes[k][1], QImage::Format_RGB32, k);
            image.setDotsPerMeterX(qRound(sizes[k][2] / 0.0254));
            image.setDotsPerMeterY(qRound(sizes[k][2] / 0.0254));
            const QString path = m_files.filePath(u"job_%1.png"_s.arg(k + 1));
            QVERIFY(image.save(path));
            sources << image;
            urls.prepend(QUrl::fromLocalFile(path));
        }
        QCOMPARE(drop(urls), u"dropped"_s);
        QTRY_COMPARE(named<QLabel>("pageLabel")->text(), u"Page 1 of 3"_s);
        alignment(4)->click();

        // Where each page lands on A4 at 50 dpi, from the one placement rule.
        const auto expectedRect = [&](int k) {
            const PrintableImage facts = Testing::printable(sources[k], sizes[k][2]);
            PrintSettings settings;
            settings.alignment = PrintAlignment::Center;
            const QRectF inches = placedImageRectInches({210 / 25.4, 297 / 25.4}, facts, settings);
            return QRect(QPoint(qRound(inches.left() * 50), qRound(inches.top() * 50)),
                         QPoint(qRound(inches.right() * 50) - 1, qRound(inches.bottom() * 50) - 1));
        };
        const auto inked = [](const QImage& page) {
            QRect box;
            for (int y = 0; y < page.height(); ++y)
                for (int x = 0; x < page.width(); ++x)
                    if (page.pixelColor(x, y) != Qt::white)
                        box |= QRect(x, y, 1, 1);
            return box;
        };
        const auto verifyDocument = [&](const QString& document, const QList<int>& pages) {
            QVERIFY2(Testing::isPdf(document), qPrintable(m_cups.errorLogTail()));
            QVERIFY(Testing::pdfPageSizePoints(document, int(pages.size())).isValid());
            QVERIFY(!Testing::pdfPageSizePoints(document, int(pages.size()) + 1).isValid());
            const QList<Testing::PdfImageInfo> infos = Testing::listPdfImages(document, &problem);
            const QList<QImage> images = Testing::extractPdfImages(document, &problem);
            QVERIFY2(images.size() == pages.size() && infos.size() == pages.size(), qPrintable(problem));
            for (int i = 0; i < pages.size(); ++i) {
                const int k = pages[i];
                QCOMPARE(QList<int>({infos[i].xPpi, infos[i].yPpi}), QList<int>({sizes[k][2], sizes[k][2]}));
                QCOMPARE(images[i].convertToFormat(QImage::Format_RGB32), sources[k]);
                // The renderer's edge pixels may take a tint from the image beside them.
                const QRect ink = inked(Testing::renderPdfPage(document, 50, i + 1));
                const QRect rect = expectedRect(k);
                QVERIFY2(qAbs(ink.left() - rect.left()) <= 1 && qAbs(ink.top() - rect.top()) <= 1 &&
                             qAbs(ink.right() - rect.right()) <= 1 && qAbs(ink.bottom() - rect.bottom()) <= 1,
                         qPrintable(u"page %1 inked at %2,%3 to %4,%5"_s.arg(i + 1)
                                        .arg(ink.left())
                                        .arg(ink.top())
                                        .arg(ink.right())
                                        .arg(ink.bottom())));
            }
        };

        const QStringList before = m_cups.spooledDocuments();
        {
            ModalAnswerer answerer({respond(u"Print"_s)});
            action("printAction")->trigger();
            QCOMPARE(answerer.seen, QStringList(u"print dialog"_s));
        }
        QVERIFY(Probe::showsPixels(*w));
        const QString document = m_cups.waitForNewDocument(before);
        verifyDocument(document, {0, 1, 2});
        QVERIFY(!m_cups.jobAttributes(document).contains("page-ranges"));

        // Pages 2 to 3, chosen in the dialog's own fields; the job holds just those.
        const QStringList beforeRange = m_cups.spooledDocuments();
        ModalAnswerer answerer({[&](QWidget* modal) {
            auto* dialog = static_cast<QPrintDialog*>(modal);
            dialog->findChild<QRadioButton*>(u"printRange"_s)->setChecked(true);
            dialog->findChild<QSpinBox*>(u"from"_s)->setValue(2);
            dialog->findChild<QSpinBox*>(u"to"_s)->setValue(3);
            dialog->accept();
        }});
        action("printAction")->trigger();
        QCOMPARE(answerer.seen, QStringList(u"print dialog"_s));
        const QString range = m_cups.waitForNewDocument(beforeRange);
        verifyDocument(range, {1, 2});
        // The pages are chosen once, here; the queue must not pick among them again.
        QVERIFY(!m_cups.jobAttributes(range).contains("page-ranges"));
    }

    void failedPrintShowsError()
    {
        load(png(u"fails.png"_s, 60, 90, 300));
        const QString unwritable = m_files.filePath(u"missing-folder/target.pdf"_s);
        const QString written = m_files.filePath(u"printed.pdf"_s);
        // Nothing is in the way of an image that fits: the Print shortcut, from the inspector, brings the
        // dialog straight up. A cancelled dialog is no error; a good print after a failed one leaves the
        // error where it is.
        ModalAnswerer answerer({respond(u"Cancel"_s), respond(unwritable), respond(written)});
        orientation()->setFocus();
        QTest::keySequence(w.get(), QKeySequence::Print);
        QCOMPARE(state(), u"fails.png | DIN A4, Portrait | hidden -"_s);
        for (int i = 0; i < 2; ++i) {
            action("printAction")->trigger();
            QCOMPARE(state(), u"fails.png | DIN A4, Portrait | <b>Could not print target image</b><br>"
                              "The printer could not be opened."_s);
        }
        QCOMPARE(answerer.seen, QStringList({u"print dialog"_s, u"print dialog"_s, u"print dialog"_s}));
        QVERIFY(!QFile::exists(unwritable) && Testing::isPdf(written));
    }

    void aboutDialog()
    {
        QStringList shown;
        Qt::TextInteractionFlags linkFlags;
        // From the Help menu, closed with Return (Close is the default button; a link leaves the dialog
        // open), then from the logo button, closed with Escape.
        ModalAnswerer answerer({[&](QWidget* modal) {
                                    for (QLabel* label : modal->findChildren<QLabel*>())
                                        shown << (label->pixmap().isNull()
                                                      ? label->text()
                                                      : u"%1 x %2 at %3"_s.arg(label->pixmap().width())
                                                            .arg(label->pixmap().height())
                                                            .arg(label->pixmap().devicePixelRatio()));
                                    QLabel* link = modal->findChildren<QLabel*>().last();
                                    linkFlags = link->textInteractionFlags();
                                    emit link->linkActivated(u"https://quorvane.com"_s);
                                    shown << (modal->isVisible() ? u"open"_s : u"closed"_s);
                                    for (QPushButton* button : modal->findChildren<QPushButton*>())
                                        shown << (button->isDefault() ? button->text() : QString());
                                    QTest::keyClick(modal, Qt::Key_Return);
                                },
                                respond(u"Escape"_s)});
        action("aboutAction")->trigger();
        QTest::mouseClick(named("logoButton"), Qt::LeftButton);
        QCOMPARE(answerer.seen, QStringList({u"About Lumetra"_s, u"About Lumetra"_s}));
        // The logo is drawn for the screen's pixel density (twice as many pixels on tst_app_hidpi).
        const qreal ratio = w->devicePixelRatioF();
        QCOMPARE(shown,
                 QStringList({u"%1 x %2 at %3"_s.arg(qRound(359 * ratio)).arg(qRound(120 * ratio)).arg(ratio),
                              u"Lumetra"_s, u"Developed by Quorvane Limited"_s, u"Version 1.0"_s,
                              u"<a href=\"https://quorvane.com\">https://quorvane.com</a>"_s, u"open"_s,
                              u"Close"_s}));
        QCOMPARE(linkFlags,
                 Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard | Qt::TextSelectableByMouse);
        QCOMPARE(m_openedUrls, QList<QUrl>({QUrl(u"https://quorvane.com"_s)}));
    }
};

int main(int argc, char** argv)
{
    // The settings store lives in a folder of its own for the whole run, never
    // the user's: XDG on Linux, CoreFoundation's home on macOS.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(u"config"_s)));
    qputenv("CFFIXED_USER_HOME", QFile::encodeName(home.path()));

    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    QApplication::setQuitOnLastWindowClosed(false); // the tests close windows and go on
    setApplicationIdentity();
    TestApp test(home.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
