#include "appidentity.h"
#include "mainwindow.h"
#include "papergeometry.h"
#include "previewwidget.h"
#include "privatecups.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QSvgRenderer>
#include <QtTest>
#include <QtWidgets>

#include <tiffio.h>

#include <functional>
#include <memory>

namespace Lumetra {

// Reaches the few private operations whose effects no widget shows exactly.
class MainWindowProbe
{
public:
    static PrintSettings settings(const MainWindow& window) { return window.m_settings; }
    static void showError(MainWindow& window, const QString& title, const QString& message)
    {
        window.showError(title, message);
    }
    static void selectAlignment(MainWindow& window, int value)
    {
        window.selectAlignment(static_cast<PrintAlignment>(value));
    }
    static bool confirmPrintCrop(MainWindow& window, const PrintableImage& image)
    {
        return window.confirmPrintCrop(image);
    }
    static void setPaper(MainWindow& window, const PaperPreset& paper, PrintOrientation orientation,
                         int rotation)
    {
        window.m_settings.paper = paper;
        window.m_settings.orientation = orientation;
        window.m_settings.rotationDegrees = rotation;
    }
};

} // namespace Lumetra

using namespace Lumetra;

namespace {

// Answers the modal widgets that come up, one step per widget, from a timer:
// the only way to get past exec() from inside a test.
class ModalAnswerer
{
public:
    using Step = std::function<void(QWidget*)>;

    explicit ModalAnswerer(QList<Step> steps) : m_steps(std::move(steps))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    int answered() const { return m_answered; }
    QStringList titles() const { return m_titles; }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == m_last || m_steps.isEmpty())
            return;
        m_last = modal;
        m_titles << modal->windowTitle();
        ++m_answered;
        const Step step = m_steps.takeFirst();
        if (m_steps.isEmpty())
            m_timer.stop();
        step(modal);
    }

    QList<Step> m_steps;
    QTimer m_timer;
    QPointer<QWidget> m_last;
    int m_answered = 0;
    QStringList m_titles;
};

ModalAnswerer::Step clickButton(const QString& text, QString* seenText = nullptr, QString* seenInfo = nullptr,
                                Qt::TextFormat* seenFormat = nullptr)
{
    return [=](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (seenText)
                *seenText = box->text();
            if (seenInfo)
                *seenInfo = box->informativeText();
            if (seenFormat)
                *seenFormat = box->textFormat();
        }
        for (QAbstractButton* button : modal->findChildren<QAbstractButton*>()) {
            if (button->text() == text) {
                button->click();
                return;
            }
        }
        modal->close();
    };
}

ModalAnswerer::Step pressKey(Qt::Key key)
{
    return [=](QWidget* modal) { QTest::keyClick(modal, key); };
}

ModalAnswerer::Step rejectDialog()
{
    return [](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    };
}

// Accepts Qt's own print dialog through its Print button.
ModalAnswerer::Step acceptPrintDialog(bool* seen)
{
    return [=](QWidget* modal) {
        *seen = qobject_cast<QPrintDialog*>(modal) != nullptr;
        if (auto* buttons = modal->findChild<QDialogButtonBox*>()) {
            if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok)) {
                ok->click();
                return;
            }
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->accept();
    };
}

QGroupBox* groupBox(QWidget& window, const QString& title)
{
    for (QGroupBox* box : window.findChildren<QGroupBox*>()) {
        if (box->title() == title)
            return box;
    }
    return nullptr;
}

QComboBox* paperCombo(QWidget& window)
{
    return groupBox(window, QStringLiteral("Paper"))->findChild<QComboBox*>();
}

QComboBox* orientationCombo(QWidget& window)
{
    return groupBox(window, QStringLiteral("Orientation"))->findChild<QComboBox*>();
}

// The nine alignment buttons, indexed by alignment value through their tool tips.
QList<QToolButton*> alignmentButtons(QWidget& window)
{
    QList<QToolButton*> buttons(9, nullptr);
    for (QToolButton* button : groupBox(window, QStringLiteral("Alignment"))->findChildren<QToolButton*>()) {
        for (int i = 0; i < 9; ++i) {
            if (button->toolTip() == alignmentTitle(static_cast<PrintAlignment>(i)))
                buttons[i] = button;
        }
    }
    return buttons;
}

QList<int> checkedAlignments(QWidget& window)
{
    QList<int> checked;
    const QList<QToolButton*> buttons = alignmentButtons(window);
    for (int i = 0; i < buttons.size(); ++i) {
        if (buttons[i]->isChecked())
            checked << i;
    }
    return checked;
}

// Name, pixels, DPI, print size, colour model and profile, top to bottom.
QStringList imageLines(QWidget& window)
{
    QStringList lines;
    for (QLabel* label : groupBox(window, QStringLiteral("Image"))->findChildren<QLabel*>())
        lines << label->text();
    return lines;
}

QLabel* errorLabel(QWidget& window)
{
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (label->styleSheet().contains(QStringLiteral("#fdecea")))
            return label;
    }
    return nullptr;
}

QLabel* zoomLabel(QWidget& window)
{
    return window.findChild<QToolBar*>(QStringLiteral("MainToolBar"))->findChild<QLabel*>();
}

QAction* action(QWidget& window, const QString& text)
{
    for (QAction* candidate : window.findChildren<QAction*>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

// A drag that enters the window and is dropped there; true when the drop was accepted.
bool dropOn(QWidget& window, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    drop.ignore();
    QCoreApplication::sendEvent(&window, &drop);
    return drop.isAccepted();
}

QSettings store()
{
    return QSettings(QStringLiteral("Quorvane"), QStringLiteral("Lumetra"));
}

QMap<QString, QString> storedValues()
{
    QMap<QString, QString> values;
    QSettings settings(QStringLiteral("Quorvane"), QStringLiteral("Lumetra"));
    for (const QString& key : settings.allKeys())
        values.insert(key, settings.value(key).toString());
    return values;
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

public:
    explicit TestApp(QString home) : m_home(std::move(home)) {}

public slots:
    void openUrl(const QUrl& url) { m_openedUrls << url; }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void startUpState();
    void storedSettingsReadBack_data();
    void storedSettingsReadBack();
    void inspectorChangesAreStored();
    void loadDoesNotWriteTheStore();
    void automaticOrientationAndPaper_data();
    void automaticOrientationAndPaper();
    void secondLoadResetsRotationKeepsAlignment();
    void quarterTurnWithTheSheet();
    void orientationWithoutImage();
    void metadataLines();
    void profileLines_data();
    void profileLines();
    void profileWarning_data();
    void profileWarning();
    void tiffProfile();
    void sampleTarget();
    void fileTextsArePlain();
    void failedLoadKeepsImage();
    void errorLabelEscapes();
    void commandLineRoad();
    void openDialogRoad();
    void dropRoad();
    void fileOpenEventRoad();
    void selectAlignmentOutOfRange();
    void zoomKeys();
    void cropWarning_data();
    void cropWarning();
    void cropBoundaries_data();
    void cropBoundaries();
    void printReachesQueue();
    void printShortcutFromInspector();
    void failedPrintShowsError();
    void busyCursorOnlyWhileReading();
    void aboutDialog();

private:
    std::unique_ptr<MainWindow> makeWindow();
    QString writePng(const QString& name, int width, int height, double dpi,
                     const QColorSpace& colorSpace = QColorSpace());

    QString m_home;
    QTemporaryDir m_files;
    Testing::PrivateCups m_cups;
    QString m_cupsProblem;
    QList<QUrl> m_openedUrls;
};

void TestApp::initTestCase()
{
    QVERIFY(m_files.isValid());
#ifndef Q_OS_MACOS
    // Never the user's own store.
    const QString storePath = store().fileName();
    QVERIFY2(storePath.startsWith(m_home), qPrintable(storePath));
#endif
    // Before anything of Qt's print support talks to CUPS.
    if (!m_cups.start())
        m_cupsProblem = m_cups.errorString();
    else if (!m_cups.setDefaultQueue(m_cups.rawQueue()))
        m_cupsProblem = QStringLiteral("could not make the raw queue the default");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
}

void TestApp::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void TestApp::init()
{
    QSettings settings = store();
    settings.clear();
    settings.sync();
    QFile::remove(settings.fileName());
    m_openedUrls.clear();
}

void TestApp::cleanup()
{
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

std::unique_ptr<MainWindow> TestApp::makeWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    QApplication::setActiveWindow(window.get());
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("main window did not become active");
    return window;
}

QString TestApp::writePng(const QString& name, int width, int height, double dpi,
                          const QColorSpace& colorSpace)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(QColor(200, 40, 90));
    const int dotsPerMeter = qRound(dpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    if (colorSpace.isValid())
        image.setColorSpace(colorSpace);
    const QString path = m_files.filePath(name);
    if (!image.save(path, "PNG"))
        qWarning("could not write %s", qPrintable(path));
    return path;
}

void TestApp::startUpState()
{
    auto window = makeWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Lumetra"));
    // 1080 x 720, unless the platform's fonts make the inspector column taller than that.
    QCOMPARE(window->width(), 1080);
    QCOMPARE(window->height(), qMax(720, window->minimumSizeHint().height()));
    QVERIFY(window->acceptDrops());

    QAction* load = action(*window, QStringLiteral("Load"));
    QAction* print = action(*window, QStringLiteral("Print"));
    QVERIFY(load && print);
    QVERIFY(load->isEnabled());
    QCOMPARE(load->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(print->shortcut(), QKeySequence(QKeySequence::Print));
    QVERIFY(!print->isEnabled());
    for (const QString& text :
         {QStringLiteral("Zoom In"), QStringLiteral("Zoom Out"), QStringLiteral("Fit to Screen")}) {
        QAction* zoom = action(*window, text);
        QVERIFY2(zoom && !zoom->isEnabled(), qPrintable(text));
        QVERIFY(window->actions().contains(zoom));
    }
    QCOMPARE(action(*window, QStringLiteral("Zoom In"))->shortcuts(),
             QList<QKeySequence>({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)}));
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("100%"));
    QVERIFY(!zoomLabel(*window)->isEnabled());

    // Menus: File (Load, Print) and Help (About Lumetra), nothing else.
    const QList<QAction*> menus = window->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus[0]->text(), QStringLiteral("File"));
    QCOMPARE(menus[0]->menu()->actions(), QList<QAction*>({load, print}));
    QCOMPARE(menus[1]->text(), QStringLiteral("Help"));
    QCOMPARE(menus[1]->menu()->actions().size(), 1);
    QCOMPARE(menus[1]->menu()->actions()[0]->text(), QStringLiteral("About Lumetra"));
    QCOMPARE(menus[1]->menu()->actions()[0]->menuRole(), QAction::AboutRole);

    auto* toolBar = window->findChild<QToolBar*>(QStringLiteral("MainToolBar"));
    QVERIFY(toolBar);
    QVERIFY(!toolBar->isMovable());
    QCOMPARE(toolBar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QCOMPARE(toolBar->iconSize(), QSize(24, 24));
    // Left to right: a spacer, Load, Print, the stretch, the zoom label, Fit to Screen.
    const QList<QAction*> tools = toolBar->actions();
    QCOMPARE(tools.size(), 6);
    QCOMPARE(tools[1], load);
    QCOMPARE(tools[2], print);
    QCOMPARE(toolBar->widgetForAction(tools[4]), zoomLabel(*window));
    QCOMPARE(tools[5], action(*window, QStringLiteral("Fit to Screen")));
    QVERIFY(!load->icon().isNull());
    QVERIFY(!print->icon().isNull());

    QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A4"));
    QCOMPARE(paperCombo(*window)->count(), 4);
    QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Portrait"));
    QCOMPARE(checkedAlignments(*window), QList<int>({4}));
    QCOMPARE(imageLines(*window), QStringList({QStringLiteral("No image loaded"), QString(), QString(),
                                               QString(), QString(), QString()}));
    QVERIFY(errorLabel(*window)->isHidden());

    // The compiled-in resources are there and are what they claim to be.
    const QImage logo(QStringLiteral(":/branding/quorvane-logo.png"));
    QCOMPARE(logo.size(), QSize(1317, 440));
    QVERIFY(!logo.hasAlphaChannel());
    QCOMPARE(qRound(logo.dotsPerMeterX() * 0.0254), 300);
    for (const char* path : {":/icons/open.svg", ":/icons/print.svg", ":/branding/quorvane-logo.png"}) {
        const QResource resource(QString::fromLatin1(path));
        QVERIFY2(resource.isValid(), path);
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    }
    QCOMPARE(QSvgRenderer(QStringLiteral(":/icons/open.svg")).viewBoxF(), QRectF(0, 0, 22.5391, 17.998));
    QCOMPARE(QSvgRenderer(QStringLiteral(":/icons/print.svg")).viewBoxF(), QRectF(0, 0, 24, 24));

    window.reset();
    QVERIFY2(!QFile::exists(store().fileName()), "start-up wrote the settings store");
    QVERIFY(store().allKeys().isEmpty());
}

void TestApp::storedSettingsReadBack_data()
{
    QTest::addColumn<QVariant>("paper");
    QTest::addColumn<QVariant>("orientation");
    QTest::addColumn<QVariant>("alignment");
    QTest::addColumn<QString>("expectedPaper");
    QTest::addColumn<QString>("expectedOrientation");
    QTest::addColumn<int>("expectedAlignment");

    const QVariant none;
    QTest::newRow("nothing stored") << none << none << none << "DIN A4"
                                    << "Portrait" << 4;
    QTest::newRow("all valid") << QVariant("DIN A3+") << QVariant(1) << QVariant(8) << "DIN A3+"
                               << "Landscape" << 8;
    QTest::newRow("top left") << QVariant("DIN A2") << QVariant(0) << QVariant(0) << "DIN A2"
                              << "Portrait" << 0;
    QTest::newRow("paper in other case") << QVariant("din a3") << QVariant(1) << QVariant(2) << "DIN A4"
                                         << "Landscape" << 2;
    QTest::newRow("unknown paper") << QVariant("Letter") << none << none << "DIN A4"
                                   << "Portrait" << 4;
    QTest::newRow("orientation 2") << QVariant("DIN A3") << QVariant(2) << QVariant(3) << "DIN A3"
                                   << "Portrait" << 3;
    QTest::newRow("orientation -1") << none << QVariant(-1) << none << "DIN A4"
                                    << "Portrait" << 4;
    QTest::newRow("alignment 9") << none << QVariant(1) << QVariant(9) << "DIN A4"
                                 << "Landscape" << 4;
    QTest::newRow("alignment -1") << none << none << QVariant(-1) << "DIN A4"
                                  << "Portrait" << 4;
    QTest::newRow("alignment not a number") << none << none << QVariant("middle") << "DIN A4"
                                            << "Portrait" << 0;
}

void TestApp::storedSettingsReadBack()
{
    QFETCH(QVariant, paper);
    QFETCH(QVariant, orientation);
    QFETCH(QVariant, alignment);
    {
        QSettings settings = store();
        if (paper.isValid())
            settings.setValue(QStringLiteral("print/paper"), paper);
        if (orientation.isValid())
            settings.setValue(QStringLiteral("print/orientation"), orientation);
        if (alignment.isValid())
            settings.setValue(QStringLiteral("print/alignment"), alignment);
    }
    const QMap<QString, QString> before = storedValues();

    auto window = makeWindow();
    QTEST(paperCombo(*window)->currentText(), "expectedPaper");
    QTEST(orientationCombo(*window)->currentText(), "expectedOrientation");
    QFETCH(int, expectedAlignment);
    QCOMPARE(checkedAlignments(*window), QList<int>({expectedAlignment}));
    QCOMPARE(static_cast<int>(MainWindowProbe::settings(*window).alignment), expectedAlignment);
    QCOMPARE(MainWindowProbe::settings(*window).rotationDegrees, 0);
    window.reset();
    QCOMPARE(storedValues(), before); // read, never rewritten
}

void TestApp::inspectorChangesAreStored()
{
    auto window = makeWindow();
    paperCombo(*window)->setCurrentIndex(2);
    QCOMPARE(storedValues(),
             (QMap<QString, QString>{
                 {"print/paper", "DIN A3+"}, {"print/orientation", "0"}, {"print/alignment", "4"}}));
    QCOMPARE(imageLines(*window).first(), QStringLiteral("No image loaded"));

    orientationCombo(*window)->setCurrentIndex(1);
    QCOMPARE(storedValues().value("print/orientation"), QStringLiteral("1"));

    // Clicking the checked button keeps it checked and still stores.
    store().remove(QStringLiteral("print/alignment"));
    QTest::mouseClick(alignmentButtons(*window)[4], Qt::LeftButton);
    QCOMPARE(checkedAlignments(*window), QList<int>({4}));
    QCOMPARE(storedValues().value("print/alignment"), QStringLiteral("4"));

    QTest::mouseClick(alignmentButtons(*window)[6], Qt::LeftButton);
    QCOMPARE(checkedAlignments(*window), QList<int>({6}));
    QCOMPARE(storedValues(),
             (QMap<QString, QString>{
                 {"print/paper", "DIN A3+"}, {"print/orientation", "1"}, {"print/alignment", "6"}}));
    QCOMPARE(static_cast<int>(MainWindowProbe::settings(*window).alignment), 6);

    // The next start reads all three back.
    window = makeWindow();
    QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A3+"));
    QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Landscape"));
    QCOMPARE(checkedAlignments(*window), QList<int>({6}));
}

void TestApp::loadDoesNotWriteTheStore()
{
    const QString landscape = writePng(QStringLiteral("store-landscape.png"), 1200, 800, 100);
    auto window = makeWindow();
    window->loadCommandLinePath(landscape);
    QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Landscape"));
    QVERIFY2(!QFile::exists(store().fileName()), "a load wrote the settings store");

    // A later alignment change writes the automatically chosen paper and orientation too.
    QTest::mouseClick(alignmentButtons(*window)[0], Qt::LeftButton);
    QCOMPARE(storedValues(),
             (QMap<QString, QString>{
                 {"print/paper", "DIN A3"}, {"print/orientation", "1"}, {"print/alignment", "0"}}));
}

void TestApp::automaticOrientationAndPaper_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("dpi");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<QString>("orientation");

    QTest::newRow("A4 pixels at 300 dpi, a hair too tall for A4") << 2480 << 3508 << 300.0 << "DIN A3"
                                                                  << "Portrait";
    QTest::newRow("12 x 8 inches") << 1200 << 800 << 100.0 << "DIN A3"
                                   << "Landscape";
    QTest::newRow("square") << 600 << 600 << 100.0 << "DIN A4"
                            << "Portrait";
    QTest::newRow("small landscape") << 900 << 600 << 300.0 << "DIN A4"
                                     << "Landscape";
    QTest::newRow("larger than A2") << 2000 << 3000 << 100.0 << "DIN A2"
                                    << "Portrait";
}

void TestApp::automaticOrientationAndPaper()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, dpi);
    const QString path =
        writePng(QStringLiteral("auto-%1x%2.png").arg(width).arg(height), width, height, dpi);
    {
        // A stored choice that the load must override.
        QSettings settings = store();
        settings.setValue(QStringLiteral("print/paper"), QStringLiteral("DIN A3+"));
        settings.setValue(QStringLiteral("print/orientation"), 1);
    }
    auto window = makeWindow();
    window->loadCommandLinePath(path);
    QVERIFY(errorLabel(*window)->isHidden());
    QTEST(paperCombo(*window)->currentText(), "paper");
    QTEST(orientationCombo(*window)->currentText(), "orientation");
    QCOMPARE(MainWindowProbe::settings(*window).rotationDegrees, 0);
    QVERIFY(action(*window, QStringLiteral("Print"))->isEnabled());
    QVERIFY(action(*window, QStringLiteral("Zoom In"))->isEnabled());
    QVERIFY(zoomLabel(*window)->isEnabled());
}

void TestApp::secondLoadResetsRotationKeepsAlignment()
{
    const QString portrait = writePng(QStringLiteral("second-portrait.png"), 600, 900, 300);
    const QString landscape = writePng(QStringLiteral("second-landscape.png"), 1200, 800, 100);
    auto window = makeWindow();
    window->loadCommandLinePath(portrait);
    QTest::mouseClick(alignmentButtons(*window)[2], Qt::LeftButton);
    orientationCombo(*window)->setCurrentIndex(1);
    QCOMPARE(MainWindowProbe::settings(*window).rotationDegrees, 90);

    window->loadCommandLinePath(landscape);
    QCOMPARE(MainWindowProbe::settings(*window).rotationDegrees, 0);
    QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Landscape"));
    QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A3"));
    QCOMPARE(checkedAlignments(*window), QList<int>({2}));
    QCOMPARE(imageLines(*window).first(), QStringLiteral("second-landscape.png"));
}

void TestApp::quarterTurnWithTheSheet()
{
    const QString path = writePng(QStringLiteral("turn.png"), 600, 900, 300); // 2 x 3 in
    auto window = makeWindow();
    window->loadCommandLinePath(path);
    const QStringList upright = imageLines(*window);
    QCOMPARE(upright[3], QStringLiteral("Print size: 2.00 x 3.00 in / 50.8 x 76.2 mm"));

    orientationCombo(*window)->setCurrentIndex(1);
    QCOMPARE(MainWindowProbe::settings(*window).rotationDegrees, 90);
    QStringList turned = imageLines(*window);
    QCOMPARE(turned[3], QStringLiteral("Print size: 3.00 x 2.00 in / 76.2 x 50.8 mm"));
    QCOMPARE(turned[1], upright[1]); // pixels never swap
    QCOMPARE(turned[2], upright[2]);
    QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A4"));

    orientationCombo(*window)->setCurrentIndex(0);
    QCOMPARE(MainWindowProbe::settings(*window).rotationDegrees, 0);
    QCOMPARE(imageLines(*window), upright);
}

void TestApp::orientationWithoutImage()
{
    auto window = makeWindow();
    orientationCombo(*window)->setCurrentIndex(1);
    QCOMPARE(MainWindowProbe::settings(*window).rotationDegrees, 0);
    QCOMPARE(MainWindowProbe::settings(*window).orientation, PrintOrientation::Landscape);
    QCOMPARE(imageLines(*window), QStringList({QStringLiteral("No image loaded"), QString(), QString(),
                                               QString(), QString(), QString()}));
    QVERIFY(!action(*window, QStringLiteral("Print"))->isEnabled());
}

void TestApp::metadataLines()
{
    const QString path = writePng(QStringLiteral("a4-at-300.png"), 2480, 3508, 300);
    auto window = makeWindow();
    window->loadCommandLinePath(path);
    QCOMPARE(imageLines(*window), QStringList({
                                      QStringLiteral("a4-at-300.png"),
                                      QStringLiteral("Pixels: 2480 x 3508"),
                                      QStringLiteral("DPI: 300.00 x 300.00"),
                                      QStringLiteral("Print size: 8.27 x 11.69 in / 210.0 x 297.0 mm"),
                                      QStringLiteral("Color model: RGB"),
                                      QStringLiteral("ICC Profile: none"),
                                  }));
    orientationCombo(*window)->setCurrentIndex(1);
    const QStringList turned = imageLines(*window);
    QCOMPARE(turned[1], QStringLiteral("Pixels: 2480 x 3508"));
    QCOMPARE(turned[2], QStringLiteral("DPI: 300.00 x 300.00"));
    QCOMPARE(turned[3], QStringLiteral("Print size: 11.69 x 8.27 in / 297.0 x 210.0 mm"));

    // Uneven resolutions: 150 x 72 dpi would show as such; PNG keeps one value
    // per axis, so write one directly.
    QImage uneven(300, 144, QImage::Format_Grayscale8);
    uneven.fill(128);
    uneven.setDotsPerMeterX(qRound(150 / 0.0254));
    uneven.setDotsPerMeterY(qRound(72 / 0.0254));
    const QString unevenPath = m_files.filePath(QStringLiteral("uneven.png"));
    QVERIFY(uneven.save(unevenPath));
    window->loadCommandLinePath(unevenPath);
    const QStringList lines = imageLines(*window);
    QCOMPARE(lines[1], QStringLiteral("Pixels: 300 x 144"));
    QCOMPARE(lines[2], QStringLiteral("DPI: 150.01 x 72.01"));
    QCOMPARE(lines[3], QStringLiteral("Print size: 2.00 x 2.00 in / 50.8 x 50.8 mm"));
    QCOMPARE(lines[4], QStringLiteral("Color model: Grayscale"));
}

void TestApp::profileLines_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("warning");

    QTest::newRow("named") << "Chart RGB"
                           << "ICC Profile: Chart RGB (Ignored)"
                           << "This image contains an embedded ICC profile: Chart RGB.";
    QTest::newRow("padded") << "  Chart RGB  "
                            << "ICC Profile: Chart RGB (Ignored)"
                            << "This image contains an embedded ICC profile: Chart RGB.";
}

void TestApp::profileLines()
{
    QFETCH(QString, description);
    QColorSpace space(QColorSpace::SRgb);
    space.setDescription(description);
    const QString path =
        writePng(QStringLiteral("profile-%1.png").arg(QTest::currentDataTag()), 40, 60, 300, space);

    auto window = makeWindow();
    QString text;
    ModalAnswerer answerer({clickButton(QStringLiteral("Continue"), &text)});
    window->loadCommandLinePath(path);
    QCOMPARE(answerer.answered(), 1);
    QTEST(text, "warning");
    QTEST(imageLines(*window).last(), "line");
}

void TestApp::profileWarning_data()
{
    QTest::addColumn<int>("answer"); // 0 Continue, 1 Cancel, 2 Escape, 3 Return
    QTest::addColumn<bool>("accepted");
    QTest::newRow("Continue") << 0 << true;
    QTest::newRow("Cancel") << 1 << false;
    QTest::newRow("Escape") << 2 << false;
    QTest::newRow("Return takes the default") << 3 << true;
}

void TestApp::profileWarning()
{
    QFETCH(int, answer);
    QFETCH(bool, accepted);
    const QString first = writePng(QStringLiteral("plain-first.png"), 900, 600, 300);
    const QString profiled =
        writePng(QStringLiteral("profiled.png"), 600, 900, 50, QColorSpace(QColorSpace::SRgb));

    auto window = makeWindow();
    window->loadCommandLinePath(first);
    MainWindowProbe::showError(*window, QStringLiteral("Earlier"), QStringLiteral("problem"));

    QString text;
    QString info;
    ModalAnswerer::Step step = answer == 0   ? clickButton(QStringLiteral("Continue"), &text, &info)
                               : answer == 1 ? clickButton(QStringLiteral("Cancel"), &text, &info)
                               : answer == 2 ? pressKey(Qt::Key_Escape)
                                             : pressKey(Qt::Key_Return);
    ModalAnswerer answerer({step});
    window->loadCommandLinePath(profiled);
    QCOMPARE(answerer.answered(), 1);
    QCOMPARE(answerer.titles(), QStringList({QStringLiteral("Embedded ICC profile detected")}));
    if (answer < 2) {
        QCOMPARE(text, QStringLiteral("This image contains an embedded ICC profile: sRGB."));
        QCOMPARE(info,
                 QStringLiteral("Lumetra ignores embedded profiles for profiling target output. Continue "
                                "loading this image, or cancel and choose a different file."));
    }
    if (accepted) {
        QCOMPARE(imageLines(*window).first(), QStringLiteral("profiled.png"));
        QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Portrait"));
        QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A3+"));
        QVERIFY(errorLabel(*window)->isHidden());
        QVERIFY(errorLabel(*window)->text().isEmpty());
    } else {
        // The old image, paper and orientation stay, and so does the earlier error.
        QCOMPARE(imageLines(*window).first(), QStringLiteral("plain-first.png"));
        QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Landscape"));
        QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A4"));
        QVERIFY(errorLabel(*window)->isVisible());
        QVERIFY(errorLabel(*window)->text().contains(QStringLiteral("Earlier")));
    }
}

// A TIFF names no profile: both the warning and the line fall back to the literal name.
void TestApp::tiffProfile()
{
    const QString path = m_files.filePath(QStringLiteral("profiled.tif"));
    {
        TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
        QVERIFY(tiff);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 30u);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 20u);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 118.11f);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 118.11f);
        const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(icc.size()), icc.constData());
        QByteArray row(30, char(90));
        for (uint32_t y = 0; y < 20; ++y)
            QVERIFY(TIFFWriteScanline(tiff, row.data(), y, 0) == 1);
        TIFFClose(tiff);
    }
    auto window = makeWindow();
    QString text;
    ModalAnswerer answerer({clickButton(QStringLiteral("Continue"), &text)});
    window->loadCommandLinePath(path);
    QCOMPARE(answerer.answered(), 1);
    QCOMPARE(text, QStringLiteral("This image contains an embedded ICC profile: Embedded ICC profile."));
    QCOMPARE(imageLines(*window), QStringList({
                                      QStringLiteral("profiled.tif"),
                                      QStringLiteral("Pixels: 30 x 20"),
                                      QStringLiteral("DPI: 300.00 x 300.00"),
                                      QStringLiteral("Print size: 0.10 x 0.07 in / 2.5 x 1.7 mm"),
                                      QStringLiteral("Color model: Grayscale"),
                                      QStringLiteral("ICC Profile: Embedded ICC profile (Ignored)"),
                                  }));
}

void TestApp::sampleTarget()
{
    auto window = makeWindow();
    window->loadCommandLinePath(QStringLiteral(LUMETRA_SAMPLE_TARGET));
    QVERIFY2(errorLabel(*window)->isHidden(), qPrintable(errorLabel(*window)->text()));
    QCOMPARE(imageLines(*window), QStringList({
                                      QStringLiteral("sample-target.tif"),
                                      QStringLiteral("Pixels: 1950 x 1350"),
                                      QStringLiteral("DPI: 300.00 x 300.00"),
                                      QStringLiteral("Print size: 6.50 x 4.50 in / 165.1 x 114.3 mm"),
                                      QStringLiteral("Color model: RGB"),
                                      QStringLiteral("ICC Profile: none"),
                                  }));
    QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A4"));
    QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Landscape"));
}

void TestApp::fileTextsArePlain()
{
    QColorSpace space(QColorSpace::SRgb);
    space.setDescription(QStringLiteral("<b>Wide</b> & <i>bright</i>"));
    const QString path = writePng(QStringLiteral("<b>chart<i>.png"), 30, 30, 300, space);

    auto window = makeWindow();
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    ModalAnswerer answerer({clickButton(QStringLiteral("Continue"), &text, nullptr, &format)});
    window->loadCommandLinePath(path);
    QCOMPARE(answerer.answered(), 1);
    QCOMPARE(text,
             QStringLiteral("This image contains an embedded ICC profile: <b>Wide</b> & <i>bright</i>."));
    QCOMPARE(format, Qt::PlainText);

    QList<QLabel*> labels = groupBox(*window, QStringLiteral("Image"))->findChildren<QLabel*>();
    QCOMPARE(labels[0]->text(), QStringLiteral("<b>chart<i>.png"));
    QCOMPARE(labels[5]->text(), QStringLiteral("ICC Profile: <b>Wide</b> & <i>bright</i> (Ignored)"));
    for (QLabel* label : labels)
        QCOMPARE(label->textFormat(), Qt::PlainText);
}

void TestApp::failedLoadKeepsImage()
{
    const QString good = writePng(QStringLiteral("good.png"), 1200, 800, 100);
    const QString broken = m_files.filePath(QStringLiteral("broken.png"));
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not an image at all");
    }
    auto window = makeWindow();
    window->loadCommandLinePath(good);
    const QStringList before = imageLines(*window);

    window->loadCommandLinePath(m_files.filePath(QStringLiteral("target.gif")));
    QVERIFY(errorLabel(*window)->isVisible());
    QCOMPARE(errorLabel(*window)->text(),
             QStringLiteral("<b>Could not load target image</b><br>Choose a TIFF, JPEG, or PNG image."));
    QCOMPARE(errorLabel(*window)->textFormat(), Qt::RichText);

    window->loadCommandLinePath(broken);
    QCOMPARE(errorLabel(*window)->text(),
             QStringLiteral("<b>Could not load target image</b><br>The file could not be read as an image."));
    QCOMPARE(imageLines(*window), before);
    QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A3"));
    QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Landscape"));
    QVERIFY(action(*window, QStringLiteral("Print"))->isEnabled());

    // A cancelled Open dialog changes nothing either.
    ModalAnswerer answerer({rejectDialog()});
    action(*window, QStringLiteral("Load"))->trigger();
    QCOMPARE(answerer.answered(), 1);
    QCOMPARE(imageLines(*window), before);
    QVERIFY(errorLabel(*window)->isVisible());

    window->loadCommandLinePath(good);
    QVERIFY(errorLabel(*window)->isHidden());
    QVERIFY(errorLabel(*window)->text().isEmpty());
}

void TestApp::errorLabelEscapes()
{
    auto window = makeWindow();
    MainWindowProbe::showError(*window, QStringLiteral("A & B"), QStringLiteral("x < y <b>z</b>"));
    QCOMPARE(errorLabel(*window)->text(),
             QStringLiteral("<b>A &amp; B</b><br>x &lt; y &lt;b&gt;z&lt;/b&gt;"));
    QVERIFY(errorLabel(*window)->isVisible());
    // Rendered, the message reads literally: the document's plain text keeps the markup characters.
    QTextDocument document;
    document.setHtml(errorLabel(*window)->text());
    QCOMPARE(document.toPlainText(), QStringLiteral("A & B\nx < y <b>z</b>"));
}

void TestApp::commandLineRoad()
{
    auto window = makeWindow();
    window->loadCommandLinePath(QStringLiteral("   "));
    QCOMPARE(imageLines(*window).first(), QStringLiteral("No image loaded"));
    QVERIFY(errorLabel(*window)->isHidden());
    window->loadCommandLinePath(QString());
    QVERIFY(errorLabel(*window)->isHidden());

    // A path with spaces around it is passed on as it stands, not trimmed.
    writePng(QStringLiteral("  spaced.png"), 50, 50, 100);
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_files.path()));
    window->loadCommandLinePath(QStringLiteral("  spaced.png"));
    QDir::setCurrent(previous);
    QVERIFY(errorLabel(*window)->isHidden());
    QCOMPARE(imageLines(*window).first(), QStringLiteral("  spaced.png"));

    const QString good = writePng(QStringLiteral("cmd.png"), 50, 50, 100);
    window->loadCommandLinePath(QLatin1Char(' ') + good);
    QVERIFY(errorLabel(*window)->isVisible()); // " /…/cmd.png" names no file
    QCOMPARE(imageLines(*window).first(), QStringLiteral("  spaced.png"));
}

void TestApp::openDialogRoad()
{
    const QString path = writePng(QStringLiteral("opened.png"), 900, 600, 300);
    auto window = makeWindow();
    QString title;
    QStringList filters;
    ModalAnswerer answerer({[&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        title = modal->windowTitle();
        if (!dialog) {
            modal->close();
            return;
        }
        filters = dialog->nameFilters();
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    }});
    // The platform's Open shortcut, with the focus in the inspector.
    paperCombo(*window)->setFocus();
    QTest::keySequence(window.get(), QKeySequence::Open);
    QCOMPARE(answerer.answered(), 1);
    QCOMPARE(title, QStringLiteral("Load target image"));
    QCOMPARE(filters, QStringList({QStringLiteral("Target images (*.tif *.tiff *.jpg *.jpeg *.png)")}));
    QCOMPARE(imageLines(*window).first(), QStringLiteral("opened.png"));
    QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Landscape"));
}

void TestApp::dropRoad()
{
    const QString first = writePng(QStringLiteral("drop-first.png"), 600, 900, 300);
    const QString second = writePng(QStringLiteral("drop-second.png"), 900, 600, 300);
    auto window = makeWindow();

    QMimeData urls;
    urls.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second), QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &urls, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(QPoint(12, 12), Qt::CopyAction, &urls, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &move);
    QVERIFY(move.isAccepted());

    QMimeData text;
    text.setText(QStringLiteral("just words"));
    QDragEnterEvent textEnter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    textEnter.ignore();
    QCoreApplication::sendEvent(window.get(), &textEnter);
    QVERIFY(!textEnter.isAccepted());

    QVERIFY(dropOn(*window, urls.urls()));
    QCOMPARE(imageLines(*window).first(), QStringLiteral("drop-first.png"));

    // A web link first: nothing happens, even though a local file follows.
    QVERIFY(!dropOn(*window,
                    {QUrl(QStringLiteral("https://quorvane.com/chart.png")), QUrl::fromLocalFile(second)}));
    QCOMPARE(imageLines(*window).first(), QStringLiteral("drop-first.png"));
    QVERIFY(errorLabel(*window)->isHidden());

    // An unsupported file is refused by the loader, with its message.
    QVERIFY(dropOn(*window, {QUrl::fromLocalFile(m_files.filePath(QStringLiteral("chart.gif")))}));
    QCOMPARE(errorLabel(*window)->text(),
             QStringLiteral("<b>Could not load target image</b><br>Choose a TIFF, JPEG, or PNG image."));
    QCOMPARE(imageLines(*window).first(), QStringLiteral("drop-first.png"));

    QVERIFY(dropOn(*window, {QUrl::fromLocalFile(second)}));
    QCOMPARE(imageLines(*window).first(), QStringLiteral("drop-second.png"));
    QVERIFY(errorLabel(*window)->isHidden());
}

void TestApp::fileOpenEventRoad()
{
    const QString path = writePng(QStringLiteral("from-desktop.png"), 900, 600, 300);
    auto window = makeWindow();
    QFileOpenEvent event(path);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
    QCOMPARE(imageLines(*window).first(), QStringLiteral("from-desktop.png"));
    QCOMPARE(orientationCombo(*window)->currentText(), QStringLiteral("Landscape"));

    // Once the window is gone, nothing is routed any more.
    window.reset();
    QFileOpenEvent late(path);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &late);
}

void TestApp::selectAlignmentOutOfRange()
{
    auto window = makeWindow();
    for (int value : {0, 8, 9, -1, 3}) {
        MainWindowProbe::selectAlignment(*window, value);
        const int expected = value >= 0 && value <= 8 ? value : 4;
        QCOMPARE(checkedAlignments(*window), QList<int>({expected}));
    }
    QVERIFY(!QFile::exists(store().fileName())); // checking a button from code is no user click
}

void TestApp::zoomKeys()
{
    const QString path = writePng(QStringLiteral("zoom.png"), 600, 900, 300);
    auto window = makeWindow();
    QWidget* focus = alignmentButtons(*window)[0];
    focus->setFocus();

    // Without an image the keys do nothing.
    QTest::keyClick(focus, Qt::Key_Plus);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("100%"));

    window->loadCommandLinePath(path);
    focus->setFocus();
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("100%"));
    QTest::keyClick(focus, Qt::Key_Plus);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("120%"));
    QTest::keyClick(focus, Qt::Key_Equal);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("144%"));
    QTest::keyClick(focus, Qt::Key_Minus);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("120%"));
    QTest::keyClick(focus, Qt::Key_Minus);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("100%"));
    QTest::keyClick(focus, Qt::Key_Minus);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("83%")); // 83.33 rounds down
    QTest::keyClick(focus, Qt::Key_Minus);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("69%")); // 69.44 rounds down
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(focus, Qt::Key_Plus);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("120%"));
    QTest::keyClick(focus, Qt::Key_0);
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("100%"));

    action(*window, QStringLiteral("Zoom In"))->trigger();
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("120%"));
    action(*window, QStringLiteral("Fit to Screen"))->trigger();
    QCOMPARE(zoomLabel(*window)->text(), QStringLiteral("100%"));
}

void TestApp::cropWarning_data()
{
    QTest::addColumn<int>("answer"); // 0 Continue, 1 Cancel, 2 Escape
    QTest::newRow("Continue") << 0;
    QTest::newRow("Cancel") << 1;
    QTest::newRow("Escape") << 2;
}

void TestApp::cropWarning()
{
    QFETCH(int, answer);
    const QString path = writePng(QStringLiteral("crop.png"), 2480, 3508, 300);
    auto window = makeWindow();
    window->loadCommandLinePath(path);
    QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A3"));

    // On A3 nothing is in the way: the print dialog comes straight up.
    {
        ModalAnswerer answerer({rejectDialog()});
        action(*window, QStringLiteral("Print"))->trigger();
        QCOMPARE(answerer.answered(), 1);
        QVERIFY(answerer.titles().first() != QStringLiteral("Image will be cropped"));
    }

    paperCombo(*window)->setCurrentIndex(0);
    QString text;
    QString info;
    QList<ModalAnswerer::Step> steps;
    steps << (answer == 0   ? clickButton(QStringLiteral("Continue"), &text, &info)
              : answer == 1 ? clickButton(QStringLiteral("Cancel"), &text, &info)
                            : pressKey(Qt::Key_Escape));
    bool dialogSeen = false;
    steps << [&](QWidget* modal) {
        dialogSeen = qobject_cast<QPrintDialog*>(modal) != nullptr;
        rejectDialog()(modal);
    };
    ModalAnswerer answerer(steps);
    action(*window, QStringLiteral("Print"))->trigger();
    QCOMPARE(answerer.titles().first(), QStringLiteral("Image will be cropped"));
    if (answer < 2) {
        QCOMPARE(text,
                 QStringLiteral("The image is larger than the selected paper at its embedded print size."));
        QCOMPARE(info, QStringLiteral("Image: 8.27 x 11.69 in\nPaper: 8.27 x 11.69 in\n\n"
                                      "Continue printing, or cancel and choose a larger paper size."));
    }
    QCOMPARE(answerer.answered(), answer == 0 ? 2 : 1);
    QCOMPARE(dialogSeen, answer == 0);
    QVERIFY(errorLabel(*window)->isHidden());
    QCOMPARE(paperCombo(*window)->currentText(), QStringLiteral("DIN A4"));
}

void TestApp::cropBoundaries_data()
{
    QTest::addColumn<double>("extraWidth");
    QTest::addColumn<double>("extraHeight");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<bool>("warns");

    QTest::newRow("exactly A4") << 0.0 << 0.0 << 0 << 0 << false;
    QTest::newRow("just inside the tolerance, wide") << 0.00009 << 0.0 << 0 << 0 << false;
    QTest::newRow("just inside the tolerance, tall") << 0.0 << 0.00009 << 0 << 0 << false;
    QTest::newRow("just outside, wide") << 0.00012 << 0.0 << 0 << 0 << true;
    QTest::newRow("just outside, tall") << 0.0 << 0.00012 << 0 << 0 << true;
    QTest::newRow("turned with the sheet") << 0.0 << 0.0 << 1 << 90 << false;
    QTest::newRow("landscape sheet, upright image") << 0.0 << 0.0 << 1 << 0 << true;
}

void TestApp::cropBoundaries()
{
    QFETCH(double, extraWidth);
    QFETCH(double, extraHeight);
    QFETCH(int, orientation);
    QFETCH(int, rotation);
    QFETCH(bool, warns);

    const PaperPreset a4 = paperPresets().first();
    const SizeD paper = a4.sizeInches(PrintOrientation::Portrait);
    PrintableImage image;
    image.pixelWidth = 10000;
    image.pixelHeight = 10000;
    image.dpiX = 10000 / (paper.width + extraWidth);
    image.dpiY = 10000 / (paper.height + extraHeight);

    auto window = makeWindow();
    MainWindowProbe::setPaper(*window, a4, static_cast<PrintOrientation>(orientation), rotation);
    ModalAnswerer answerer({clickButton(QStringLiteral("Cancel"))});
    const bool goesOn = MainWindowProbe::confirmPrintCrop(*window, image);
    QCOMPARE(answerer.answered(), warns ? 1 : 0);
    QCOMPARE(goesOn, !warns);
}

void TestApp::printReachesQueue()
{
    if (!m_cupsProblem.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no private CUPS scheduler: ") + m_cupsProblem));
    QString missing;
    if (!Testing::popplerToolsAvailable(&missing))
        QSKIP(qPrintable(QStringLiteral("poppler tools missing: ") + missing));

    const QString path = writePng(QStringLiteral("to-print.png"), 60, 90, 300); // 0.2 x 0.3 in
    auto window = makeWindow();
    window->loadCommandLinePath(path);
    paperCombo(*window)->setCurrentIndex(1); // DIN A3, chosen by the user
    QTest::mouseClick(alignmentButtons(*window)[0], Qt::LeftButton);

    const QStringList before = m_cups.spooledDocuments();
    bool dialogSeen = false;
    ModalAnswerer answerer({acceptPrintDialog(&dialogSeen)});
    action(*window, QStringLiteral("Print"))->trigger();
    QCOMPARE(answerer.answered(), 1);
    QVERIFY(dialogSeen);
    QVERIFY2(errorLabel(*window)->isHidden(), qPrintable(errorLabel(*window)->text()));

    const QString document = m_cups.waitForNewDocument(before);
    QVERIFY2(!document.isEmpty(), qPrintable(m_cups.errorLogTail()));
    QVERIFY(Testing::isPdf(document));
    QString error;
    const QList<Testing::PdfImageInfo> images = Testing::listPdfImages(document, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(images.size(), 1);
    QCOMPARE(images[0].width, 60);
    QCOMPARE(images[0].height, 90);
    QCOMPARE(images[0].xPpi, 300);
    QCOMPARE(images[0].yPpi, 300);
    const QSizeF page = Testing::pdfPageSizePoints(document, 1, &error);
    QVERIFY2(page.isValid(), qPrintable(error));
    QVERIFY(qAbs(page.width() - 297 / 25.4 * 72) < 1.0);
    QVERIFY(qAbs(page.height() - 420 / 25.4 * 72) < 1.0);
    QVERIFY(m_cups.jobAttributes(document).contains("Lumetra"));
}

void TestApp::printShortcutFromInspector()
{
    const QString path = writePng(QStringLiteral("shortcut.png"), 60, 90, 300);
    auto window = makeWindow();
    // Disabled while no image is loaded: the shortcut does nothing.
    {
        ModalAnswerer answerer({rejectDialog()});
        QTest::keySequence(window.get(), QKeySequence::Print);
        QTest::qWait(100);
        QCOMPARE(answerer.answered(), 0);
    }
    window->loadCommandLinePath(path);
    orientationCombo(*window)->setFocus();
    bool dialogSeen = false;
    ModalAnswerer answerer({[&](QWidget* modal) {
        dialogSeen = qobject_cast<QPrintDialog*>(modal) != nullptr;
        rejectDialog()(modal);
    }});
    QTest::keySequence(window.get(), QKeySequence::Print);
    QCOMPARE(answerer.answered(), 1);
    QVERIFY(dialogSeen);
    QVERIFY(errorLabel(*window)->isHidden()); // a cancelled dialog is no error
}

void TestApp::failedPrintShowsError()
{
    const QString path = writePng(QStringLiteral("fails.png"), 60, 90, 300);
    auto window = makeWindow();
    window->loadCommandLinePath(path);

    // The dialog refuses an unwritable file, so the printer is pointed at one behind its back.
    const QString unwritable = m_files.filePath(QStringLiteral("missing-folder/target.pdf"));
    ModalAnswerer failing({[&](QWidget* modal) {
        auto* dialog = qobject_cast<QPrintDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        dialog->printer()->setOutputFileName(unwritable);
        dialog->done(QDialog::Accepted);
    }});
    action(*window, QStringLiteral("Print"))->trigger();
    QCOMPARE(failing.answered(), 1);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr); // the spooling cursor is gone after the failure
    const QString expected =
        QStringLiteral("<b>Could not print target image</b><br>The printer could not be opened.");
    QVERIFY(errorLabel(*window)->isVisible());
    QCOMPARE(errorLabel(*window)->text(), expected);
    QVERIFY(!QFile::exists(unwritable));

    // A following good print leaves the earlier error where it is.
    const QString written = m_files.filePath(QStringLiteral("printed.pdf"));
    ModalAnswerer succeeding({[&](QWidget* modal) {
        auto* dialog = qobject_cast<QPrintDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        dialog->printer()->setOutputFileName(written);
        dialog->done(QDialog::Accepted);
    }});
    action(*window, QStringLiteral("Print"))->trigger();
    QCOMPARE(succeeding.answered(), 1);
    QVERIFY(Testing::isPdf(written));
    QCOMPARE(errorLabel(*window)->text(), expected);
    QVERIFY(errorLabel(*window)->isVisible());
}

void TestApp::busyCursorOnlyWhileReading()
{
    // The cursor is up during the read only, and down after a failure too.
    auto window = makeWindow();
    window->loadCommandLinePath(m_files.filePath(QStringLiteral("missing.png")));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QColorSpace space(QColorSpace::SRgb);
    const QString profiled = writePng(QStringLiteral("busy-profile.png"), 20, 20, 300, space);
    bool cursorDuringQuestion = true;
    ModalAnswerer answerer({[&](QWidget* modal) {
        cursorDuringQuestion = QGuiApplication::overrideCursor() != nullptr;
        clickButton(QStringLiteral("Cancel"))(modal);
    }});
    window->loadCommandLinePath(profiled);
    QCOMPARE(answerer.answered(), 1);
    QVERIFY(!cursorDuringQuestion);
}

void TestApp::aboutDialog()
{
    auto window = makeWindow();
    struct Seen
    {
        QString title;
        QStringList labels;
        QSize logo;
        bool closeIsDefault = false;
        Qt::TextInteractionFlags linkFlags;
        bool openAfterLink = false;
    } seen;

    auto inspect = [&](QWidget* modal) {
        seen.title = modal->windowTitle();
        seen.labels.clear();
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            if (!label->pixmap().isNull())
                seen.logo = label->pixmap().size();
            else
                seen.labels << label->text();
            if (label->text().contains(QStringLiteral("href"))) {
                seen.linkFlags = label->textInteractionFlags();
                emit label->linkActivated(QStringLiteral("https://quorvane.com"));
                seen.openAfterLink = modal->isVisible();
            }
        }
        for (QPushButton* button : modal->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("Close"))
                seen.closeIsDefault = button->isDefault();
        }
    };

    // From the Help menu, closed with Return (Close is the default button).
    ModalAnswerer byReturn({[&](QWidget* modal) {
        inspect(modal);
        QTest::keyClick(modal, Qt::Key_Return);
    }});
    action(*window, QStringLiteral("About Lumetra"))->trigger();
    QCOMPARE(byReturn.answered(), 1);
    QCOMPARE(seen.title, QStringLiteral("About Lumetra"));
    QCOMPARE(seen.logo, QSize(359, 120));
    QCOMPARE(seen.labels,
             QStringList({QStringLiteral("Lumetra"), QStringLiteral("Developed by Quorvane Limited"),
                          QStringLiteral("Version 1.0"),
                          QStringLiteral("<a href=\"https://quorvane.com\">https://quorvane.com</a>")}));
    QVERIFY(seen.closeIsDefault);
    QVERIFY(seen.linkFlags.testFlag(Qt::LinksAccessibleByMouse));
    QVERIFY(seen.linkFlags.testFlag(Qt::LinksAccessibleByKeyboard));
    QVERIFY(seen.linkFlags.testFlag(Qt::TextSelectableByMouse));
    QVERIFY(seen.openAfterLink);
    QCOMPARE(m_openedUrls, QList<QUrl>({QUrl(QStringLiteral("https://quorvane.com"))}));

    // From the logo button, closed with Escape.
    auto* logo = window->findChild<QToolButton*>();
    for (QToolButton* button : window->findChildren<QToolButton*>()) {
        if (button->toolTip() == QStringLiteral("About Lumetra"))
            logo = button;
    }
    QCOMPARE(logo->toolTip(), QStringLiteral("About Lumetra"));
    ModalAnswerer byEscape({[&](QWidget* modal) {
        inspect(modal);
        QTest::keyClick(modal, Qt::Key_Escape);
    }});
    QTest::mouseClick(logo, Qt::LeftButton);
    QCOMPARE(byEscape.answered(), 1);
    QCOMPARE(seen.title, QStringLiteral("About Lumetra"));
}

int main(int argc, char** argv)
{
    // The settings store lives in a folder of its own for the whole run, never
    // the user's: XDG on Linux, CoreFoundation's home on macOS.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("CFFIXED_USER_HOME", QFile::encodeName(home.path()));

    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    setApplicationIdentity();
    TestApp test(home.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
