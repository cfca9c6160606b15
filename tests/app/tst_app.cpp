#include "appidentity.h"
#include "mainwindow.h"
#include "papergeometry.h"
#include "privatecups.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QtTest>
#include <QtWidgets>

#include <tiffio.h>

#include <functional>
#include <memory>

using namespace Qt::Literals::StringLiterals;

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
    static bool confirmPrintCrop(MainWindow& window, const PrintableImage& image, int orientation,
                                 int rotation)
    {
        window.m_settings.paper = paperPresets().first();
        window.m_settings.orientation = static_cast<PrintOrientation>(orientation);
        window.m_settings.rotationDegrees = rotation;
        return window.confirmPrintCrop(image);
    }
};

} // namespace Lumetra

using namespace Lumetra;
using Probe = MainWindowProbe;

namespace {

// What a modal widget showed when it came up.
struct Seen
{
    QString title, text, info;
    Qt::TextFormat format = Qt::AutoText;
    bool printDialog = false;
    bool busy = false;
};

using Step = std::function<void(QWidget*)>;

// Answers the modal widgets that come up, one step per widget, from a timer:
// the only way to get past exec() from inside a test.
class ModalAnswerer
{
public:
    explicit ModalAnswerer(QList<Step> steps) : m_steps(std::move(steps))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(10);
    }
    const QList<Seen>& seen() const { return m_seen; }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == m_last || m_steps.isEmpty())
            return;
        m_last = modal;
        const auto* box = qobject_cast<QMessageBox*>(modal);
        m_seen << Seen{modal->windowTitle(),
                       box ? box->text() : QString(),
                       box ? box->informativeText() : QString(),
                       box ? box->textFormat() : Qt::AutoText,
                       qobject_cast<QPrintDialog*>(modal) != nullptr,
                       QGuiApplication::overrideCursor() != nullptr};
        const Step step = m_steps.takeFirst();
        if (m_steps.isEmpty())
            m_timer.stop();
        step(modal);
    }

    QList<Step> m_steps;
    QTimer m_timer;
    QPointer<QWidget> m_last;
    QList<Seen> m_seen;
};

// "Escape" and "Return" are keys, any other answer is the button of that text (or closing).
Step respond(const QString& how)
{
    return [=](QWidget* modal) {
        if (how == u"Escape"_s || how == u"Return"_s)
            return QTest::keyClick(modal, how == u"Escape"_s ? Qt::Key_Escape : Qt::Key_Return);
        for (QAbstractButton* button : modal->findChildren<QAbstractButton*>()) {
            if (button->text() == how)
                return button->click();
        }
        modal->close();
    };
}

// Prints through Qt's own dialog: to its selected printer, or to a file set behind the dialog's back.
Step acceptPrint(const QString& file = QString())
{
    return [=](QWidget* modal) {
        auto* dialog = qobject_cast<QPrintDialog*>(modal);
        if (!dialog)
            return void(modal->close());
        if (!file.isEmpty()) {
            dialog->printer()->setOutputFileName(file);
            return dialog->done(QDialog::Accepted);
        }
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    };
}

template<typename T, typename Match> T* find(QObject* root, Match match)
{
    for (T* child : root->findChildren<T*>()) {
        if (match(child))
            return child;
    }
    return nullptr;
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

    static QSettings store() { return QSettings(u"Quorvane"_s, u"Lumetra"_s); }
    // The stored values in key order: alignment, orientation, paper.
    static QString stored()
    {
        QStringList values;
        for (const QString& key : store().allKeys())
            values << store().value(key).toString();
        return values.join(u", "_s);
    }

    static QGroupBox* box(QWidget& w, const QString& t)
    {
        return find<QGroupBox>(&w, [&](QGroupBox* b) { return b->title() == t; });
    }
    static QComboBox* paper(QWidget& w) { return box(w, u"Paper"_s)->findChild<QComboBox*>(); }
    static QComboBox* orientation(QWidget& w) { return box(w, u"Orientation"_s)->findChild<QComboBox*>(); }
    static QAction* action(QWidget& w, const QString& t)
    {
        return find<QAction>(&w, [&](QAction* a) { return a->text() == t; });
    }
    static QLabel* errorLabel(QWidget& w)
    {
        return find<QLabel>(&w, [](QLabel* l) { return l->styleSheet().contains(u"#fdecea"_s); });
    }
    static QLabel* zoomLabel(QWidget& w) { return w.findChild<QToolBar*>()->findChild<QLabel*>(); }
    static int rotation(MainWindow& w) { return Probe::settings(w).rotationDegrees; }
    static QString sheet(QWidget& w)
    {
        return paper(w)->currentText() + u", "_s + orientation(w)->currentText();
    }

    // The nine alignment buttons, indexed by alignment value through their tool tips.
    static QToolButton* alignmentButton(QWidget& w, int i)
    {
        const QString title = alignmentTitle(static_cast<PrintAlignment>(i));
        return find<QToolButton>(box(w, u"Alignment"_s),
                                 [&](QToolButton* b) { return b->toolTip() == title; });
    }
    static QList<int> checkedAlignments(QWidget& w)
    {
        QList<int> checked;
        for (int i = 0; i < 9; ++i) {
            if (alignmentButton(w, i)->isChecked())
                checked << i;
        }
        return checked;
    }

    // Name, pixels, DPI, print size, colour model and profile, top to bottom.
    static QStringList imageLines(QWidget& w)
    {
        QStringList lines;
        for (QLabel* label : box(w, u"Image"_s)->findChildren<QLabel*>())
            lines << label->text();
        return lines;
    }

    // A drag that enters the window and is dropped there; true when the drop was accepted.
    static bool dropOn(QWidget& window, const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &enter);
        QDragMoveEvent move(QPoint(22, 22), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &move);
        QDropEvent drop(QPointF(22, 22), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        drop.ignore();
        if (enter.isAccepted() && move.isAccepted())
            QCoreApplication::sendEvent(&window, &drop);
        return drop.isAccepted();
    }

    std::unique_ptr<MainWindow> makeWindow(const QString& load = QString())
    {
        auto window = std::make_unique<MainWindow>();
        window->show();
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("main window did not become active");
        if (!load.isEmpty())
            window->loadCommandLinePath(load);
        return window;
    }

    QString writePng(const QString& name, int width, int height, double dpi, const QColorSpace& space = {},
                     double dpiY = 0)
    {
        QImage image(width, height, QImage::Format_RGB888);
        image.fill(QColor(200, 40, 90));
        image.setDotsPerMeterX(qRound(dpi / 0.0254));
        image.setDotsPerMeterY(qRound((dpiY > 0 ? dpiY : dpi) / 0.0254));
        image.setColorSpace(space);
        const QString path = m_files.filePath(name);
        if (!image.save(path, "PNG"))
            qWarning("could not write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
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
        m_openedUrls.clear();
    }

    void cleanup()
    {
        // Every way out of a read or a print, failures included, takes the busy cursor down.
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void startUpState()
    {
        auto window = makeWindow();
        QCOMPARE(window->windowTitle(), u"Lumetra"_s);
        // 1080 x 720, unless the platform's fonts make the inspector column taller than that.
        QCOMPARE(window->size(), QSize(1080, qMax(720, window->minimumSizeHint().height())));
        QAction* load = action(*window, u"Load"_s);
        QAction* print = action(*window, u"Print"_s);
        QVERIFY(load && print && load->isEnabled() && !print->isEnabled());
        QCOMPARE(load->shortcut(), QKeySequence(QKeySequence::Open));
        QCOMPARE(print->shortcut(), QKeySequence(QKeySequence::Print));
        for (const QString& text : {u"Zoom In"_s, u"Zoom Out"_s, u"Fit to Screen"_s})
            QVERIFY(!action(*window, text)->isEnabled() && window->actions().contains(action(*window, text)));
        QCOMPARE(zoomLabel(*window)->text(), u"100%"_s);
        QVERIFY(!zoomLabel(*window)->isEnabled());
        QVERIFY(!load->icon().isNull() && !print->icon().isNull());

        // Menus: File (Load, Print) and Help (About Lumetra), nothing else.
        const QList<QAction*> menus = window->menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text() + u", "_s + menus[1]->text(), u"File, Help"_s);
        QCOMPARE(menus[0]->menu()->actions(), QList<QAction*>({load, print}));
        QCOMPARE(menus[1]->menu()->actions(), QList<QAction*>({action(*window, u"About Lumetra"_s)}));
        QCOMPARE(menus[1]->menu()->actions()[0]->menuRole(), QAction::AboutRole);

        // Toolbar, left to right: a spacer, Load, Print, the stretch, the zoom label, Fit to Screen.
        auto* toolBar = window->findChild<QToolBar*>(u"MainToolBar"_s);
        const QList<QAction*> tools = toolBar->actions();
        QCOMPARE(tools.size(), 6);
        QCOMPARE(QList<QAction*>({tools[1], tools[2], tools[5]}),
                 QList<QAction*>({load, print, action(*window, u"Fit to Screen"_s)}));
        QCOMPARE(toolBar->widgetForAction(tools[4]), zoomLabel(*window));
        QVERIFY(!toolBar->isMovable() && toolBar->iconSize() == QSize(24, 24));

        QCOMPARE(paper(*window)->count(), 4);
        QCOMPARE(imageLines(*window), QStringList({u"No image loaded"_s, {}, {}, {}, {}, {}}));
        QVERIFY(errorLabel(*window)->isHidden());

        // The compiled-in resources, stored uncompressed.
        const QImage logo(u":/branding/quorvane-logo.png"_s);
        QCOMPARE(logo.size(), QSize(1317, 440));
        QVERIFY(!logo.hasAlphaChannel());
        QCOMPARE(qRound(logo.dotsPerMeterX() * 0.0254), 300);
        for (const QString& path :
             {u":/icons/open.svg"_s, u":/icons/print.svg"_s, u":/branding/quorvane-logo.png"_s})
            QCOMPARE(QResource(path).compressionAlgorithm(), QResource::NoCompression);
    }

    void storedSettingsReadBack_data()
    {
        QTest::addColumn<QVariant>("storedPaper");
        QTest::addColumn<QVariant>("storedOrientation");
        QTest::addColumn<QVariant>("storedAlignment");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<int>("alignment");

        const QVariant no;
        const auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
        row("nothing stored") << no << no << no << u"DIN A4, Portrait"_s << 4;
        row("all valid") << QVariant("DIN A3+") << QVariant(1) << QVariant(8) << u"DIN A3+, Landscape"_s << 8;
        row("paper in other case") << QVariant("din a3") << QVariant(1) << QVariant(2)
                                   << u"DIN A4, Landscape"_s << 2;
        row("unknown paper") << QVariant("Letter") << no << no << u"DIN A4, Portrait"_s << 4;
        row("orientation 2") << QVariant("DIN A3") << QVariant(2) << QVariant(3) << u"DIN A3, Portrait"_s
                             << 3;
        row("orientation -1") << no << QVariant(-1) << no << u"DIN A4, Portrait"_s << 4;
        row("alignment 9") << no << QVariant(1) << QVariant(9) << u"DIN A4, Landscape"_s << 4;
        row("alignment -1") << no << no << QVariant(-1) << u"DIN A4, Portrait"_s << 4;
        row("alignment not a number") << no << no << QVariant("middle") << u"DIN A4, Portrait"_s << 0;
    }

    void storedSettingsReadBack()
    {
        QFETCH(QVariant, storedPaper);
        QFETCH(QVariant, storedOrientation);
        QFETCH(QVariant, storedAlignment);
        const QList<std::pair<QString, QVariant>> values = {{u"print/paper"_s, storedPaper},
                                                            {u"print/orientation"_s, storedOrientation},
                                                            {u"print/alignment"_s, storedAlignment}};
        for (const auto& [key, value] : values) {
            if (value.isValid())
                store().setValue(key, value);
        }
        const QString before = stored();
        auto window = makeWindow();
        QTEST(sheet(*window), "sheet");
        QFETCH(int, alignment);
        QCOMPARE(checkedAlignments(*window), QList<int>({alignment}));
        QCOMPARE(static_cast<int>(Probe::settings(*window).alignment), alignment);
        window.reset();
        QCOMPARE(stored(), before); // read, never rewritten
    }

    void inspectorChangesAreStored()
    {
        auto window = makeWindow();
        paper(*window)->setCurrentIndex(2);
        QCOMPARE(stored(), u"4, 0, DIN A3+"_s);
        orientation(*window)->setCurrentIndex(1);
        QCOMPARE(rotation(*window), 0); // without an image there is nothing to turn
        QCOMPARE(stored(), u"4, 1, DIN A3+"_s);
        // Clicking the checked button keeps it checked and still stores.
        store().remove(u"print/alignment"_s);
        QTest::mouseClick(alignmentButton(*window, 4), Qt::LeftButton);
        QCOMPARE(checkedAlignments(*window), QList<int>({4}));
        QCOMPARE(stored(), u"4, 1, DIN A3+"_s);
        QTest::mouseClick(alignmentButton(*window, 6), Qt::LeftButton);
        QCOMPARE(checkedAlignments(*window), QList<int>({6}));
        QCOMPARE(stored(), u"6, 1, DIN A3+"_s);

        // The next start reads all three back. A load writes nothing, yet the next
        // click stores the automatically chosen paper and orientation too.
        window = makeWindow();
        QCOMPARE(sheet(*window), u"DIN A3+, Landscape"_s);
        QCOMPARE(checkedAlignments(*window), QList<int>({6}));
        init();
        window->loadCommandLinePath(writePng(u"store.png"_s, 600, 900, 300));
        QVERIFY2(!QFile::exists(store().fileName()), "a load wrote the settings store");
        QTest::mouseClick(alignmentButton(*window, 0), Qt::LeftButton);
        QCOMPARE(stored(), u"0, 0, DIN A4"_s);
    }

    void automaticOrientationAndPaper_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<QString>("sheet");

        QTest::newRow("A4 pixels at 300 dpi, a hair too tall")
            << 2480 << 3508 << 300.0 << u"DIN A3, Portrait"_s;
        QTest::newRow("12 x 8 inches") << 1200 << 800 << 100.0 << u"DIN A3, Landscape"_s;
        QTest::newRow("square") << 600 << 600 << 100.0 << u"DIN A4, Portrait"_s;
        QTest::newRow("small landscape") << 900 << 600 << 300.0 << u"DIN A4, Landscape"_s;
        QTest::newRow("larger than A2") << 2000 << 3000 << 100.0 << u"DIN A2, Portrait"_s;
    }

    void automaticOrientationAndPaper()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(double, dpi);
        // A stored paper and an earlier image turned by the user give way; the alignment stays.
        store().setValue(u"print/paper"_s, u"DIN A3+"_s);
        store().setValue(u"print/alignment"_s, 2);
        auto window = makeWindow(writePng(u"earlier.png"_s, 60, 90, 300));
        orientation(*window)->setCurrentIndex(1);
        QCOMPARE(rotation(*window), 90);

        window->loadCommandLinePath(writePng(u"auto.png"_s, width, height, dpi));
        QVERIFY(errorLabel(*window)->isHidden());
        QTEST(sheet(*window), "sheet");
        QCOMPARE(rotation(*window), 0);
        QCOMPARE(checkedAlignments(*window), QList<int>({2}));
    }

    void metadataLinesAndQuarterTurn()
    {
        auto window = makeWindow(writePng(u"a4-at-300.png"_s, 2480, 3508, 300));
        const QStringList upright = imageLines(*window);
        QCOMPARE(upright,
                 QStringList({u"a4-at-300.png"_s, u"Pixels: 2480 x 3508"_s, u"DPI: 300.00 x 300.00"_s,
                              u"Print size: 8.27 x 11.69 in / 210.0 x 297.0 mm"_s, u"Color model: RGB"_s,
                              u"ICC Profile: none"_s}));
        QVERIFY(action(*window, u"Print"_s)->isEnabled() && zoomLabel(*window)->isEnabled());

        // Switching orientation turns the image with the sheet; pixels and paper never change.
        orientation(*window)->setCurrentIndex(1);
        QCOMPARE(rotation(*window), 90);
        QStringList turned = upright;
        turned[3] = u"Print size: 11.69 x 8.27 in / 297.0 x 210.0 mm"_s;
        QCOMPARE(imageLines(*window), turned);
        QCOMPARE(sheet(*window), u"DIN A3, Landscape"_s);
        orientation(*window)->setCurrentIndex(0);
        QCOMPARE(rotation(*window), 0);
        QCOMPARE(imageLines(*window), upright);

        // Uneven resolutions; PNG keeps one value per axis, in dots per metre.
        window->loadCommandLinePath(writePng(u"uneven.png"_s, 300, 144, 150, {}, 72));
        QCOMPARE(imageLines(*window).mid(1, 3),
                 QStringList({u"Pixels: 300 x 144"_s, u"DPI: 150.01 x 72.01"_s,
                              u"Print size: 2.00 x 2.00 in / 50.8 x 50.8 mm"_s}));
    }

    void profileWarning_data()
    {
        QTest::addColumn<QString>("description"); // empty: Qt's own "sRGB"
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("name"); // as the warning and the profile line show it

        const QString none, png = u"profiled.png"_s, srgb = u"sRGB"_s;
        QTest::newRow("Continue") << none << png << u"Continue"_s << srgb;
        QTest::newRow("Cancel") << none << png << u"Cancel"_s << srgb;
        QTest::newRow("Escape") << none << png << u"Escape"_s << srgb;
        QTest::newRow("Return takes the default") << none << png << u"Return"_s << srgb;
        QTest::newRow("padded") << u"  Chart RGB  "_s << png << u"Continue"_s << u"Chart RGB"_s;
        // Texts from the file are shown as they stand, never rendered as markup.
        const QString markup = u"<b>Wide</b> & <i>bright</i>"_s;
        QTest::newRow("markup") << markup << u"<b>chart<i>.png"_s << u"Continue"_s << markup;
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
        const QString profiled = writePng(file, 600, 900, 50, space);

        auto window = makeWindow(writePng(u"plain-first.png"_s, 900, 600, 300));
        Probe::showError(*window, u"Earlier"_s, u"problem"_s);
        ModalAnswerer answerer({respond(answer)});
        window->loadCommandLinePath(profiled);
        QCOMPARE(answerer.seen().size(), 1);
        const Seen seen = answerer.seen().first();
        QCOMPARE(seen.title, u"Embedded ICC profile detected"_s);
        QVERIFY(!seen.busy); // the question never sits under the wait cursor
        QCOMPARE(seen.text, u"This image contains an embedded ICC profile: %1."_s.arg(name));
        QCOMPARE(seen.format, Qt::PlainText);
        QCOMPARE(seen.info,
                 u"Lumetra ignores embedded profiles for profiling target output. Continue loading "
                 "this image, or cancel and choose a different file."_s);

        if (answer == u"Continue"_s || answer == u"Return"_s) {
            QCOMPARE(imageLines(*window).first(), file);
            QCOMPARE(imageLines(*window).last(), u"ICC Profile: %1 (Ignored)"_s.arg(name));
            for (QLabel* label : box(*window, u"Image"_s)->findChildren<QLabel*>())
                QCOMPARE(label->textFormat(), Qt::PlainText);
            QCOMPARE(sheet(*window), u"DIN A3+, Portrait"_s);
            QVERIFY(errorLabel(*window)->isHidden() && errorLabel(*window)->text().isEmpty());
        } else {
            // The old image, paper and orientation stay, and so does the earlier error.
            QCOMPARE(imageLines(*window).first(), u"plain-first.png"_s);
            QCOMPARE(sheet(*window), u"DIN A4, Landscape"_s);
            QVERIFY(errorLabel(*window)->isVisible());
            QCOMPARE(errorLabel(*window)->text(), u"<b>Earlier</b><br>problem"_s);
        }
    }

    // A TIFF names no profile: both the warning and the line fall back to a fixed name.
    void tiffProfileAndSampleTarget()
    {
        const QString path = m_files.filePath(u"profiled.tif"_s);
        TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
        QVERIFY(tiff);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 30u);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 20u);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 118.11f);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 118.11f);
        const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(icc.size()), icc.constData());
        QByteArray row(30, char(90));
        for (uint32_t y = 0; y < 20; ++y)
            TIFFWriteScanline(tiff, row.data(), y, 0);
        TIFFClose(tiff);

        ModalAnswerer answerer({respond(u"Continue"_s)});
        auto window = makeWindow(path);
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen()[0].text,
                 u"This image contains an embedded ICC profile: Embedded ICC profile."_s);
        QCOMPARE(imageLines(*window),
                 QStringList({u"profiled.tif"_s, u"Pixels: 30 x 20"_s, u"DPI: 300.00 x 300.00"_s,
                              u"Print size: 0.10 x 0.07 in / 2.5 x 1.7 mm"_s, u"Color model: Grayscale"_s,
                              u"ICC Profile: Embedded ICC profile (Ignored)"_s}));

        // The target shipped for the run command.
        window->loadCommandLinePath(QStringLiteral(LUMETRA_SAMPLE_TARGET));
        QVERIFY2(errorLabel(*window)->isHidden(), qPrintable(errorLabel(*window)->text()));
        QCOMPARE(imageLines(*window),
                 QStringList({u"sample-target.tif"_s, u"Pixels: 1950 x 1350"_s, u"DPI: 300.00 x 300.00"_s,
                              u"Print size: 6.50 x 4.50 in / 165.1 x 114.3 mm"_s, u"Color model: RGB"_s,
                              u"ICC Profile: none"_s}));
        QCOMPARE(sheet(*window), u"DIN A4, Landscape"_s);
    }

    void failedLoadKeepsImage()
    {
        const QString good = writePng(u"good.png"_s, 1200, 800, 100);
        QFile broken(m_files.filePath(u"broken.png"_s));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not an image at all") > 0);
        broken.close();
        auto window = makeWindow(good);
        const QStringList before = imageLines(*window);

        window->loadCommandLinePath(broken.fileName());
        QVERIFY(errorLabel(*window)->isVisible());
        QCOMPARE(errorLabel(*window)->textFormat(), Qt::RichText);
        QCOMPARE(errorLabel(*window)->text(),
                 u"<b>Could not load target image</b><br>The file could not be read as an image."_s);
        QCOMPARE(imageLines(*window), before);
        QCOMPARE(sheet(*window), u"DIN A3, Landscape"_s);
        QVERIFY(action(*window, u"Print"_s)->isEnabled());

        // A cancelled Open dialog changes nothing either.
        ModalAnswerer answerer({respond(u"Cancel"_s)});
        action(*window, u"Load"_s)->trigger();
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(imageLines(*window), before);
        QVERIFY(errorLabel(*window)->isVisible());
        window->loadCommandLinePath(good);
        QVERIFY(errorLabel(*window)->isHidden() && errorLabel(*window)->text().isEmpty());

        // Both parts are escaped, so a message reads literally.
        Probe::showError(*window, u"A & B"_s, u"x < y <b>z</b>"_s);
        QCOMPARE(errorLabel(*window)->text(), u"<b>A &amp; B</b><br>x &lt; y &lt;b&gt;z&lt;/b&gt;"_s);
    }

    void commandLineAndOpenDialog()
    {
        auto window = makeWindow();
        for (const QString& blank : {u"   "_s, QString()}) {
            window->loadCommandLinePath(blank);
            QCOMPARE(imageLines(*window).first(), u"No image loaded"_s);
            QVERIFY(errorLabel(*window)->isHidden());
        }
        // A path with spaces around it is passed on as it stands, not trimmed.
        writePng(u"  spaced.png"_s, 50, 50, 100);
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_files.path()));
        window->loadCommandLinePath(u"  spaced.png"_s);
        QDir::setCurrent(previous);
        QCOMPARE(imageLines(*window).first(), u"  spaced.png"_s);

        // The platform's Open shortcut, with the focus in the inspector.
        const QString path = writePng(u"opened.png"_s, 900, 600, 300);
        QStringList filters;
        ModalAnswerer answerer({[&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog)
                return void(modal->close());
            filters = dialog->nameFilters();
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        }});
        paper(*window)->setFocus();
        QTest::keySequence(window.get(), QKeySequence::Open);
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen()[0].title, u"Load target image"_s);
        QCOMPARE(filters, QStringList({u"Target images (*.tif *.tiff *.jpg *.jpeg *.png)"_s}));
        QCOMPARE(imageLines(*window).first(), u"opened.png"_s);
    }

    void dropAndFileOpenEvent()
    {
        const QString first = writePng(u"drop-first.png"_s, 600, 900, 300);
        const QString second = writePng(u"drop-second.png"_s, 900, 600, 300);
        auto window = makeWindow();

        // Of several files the first is loaded.
        QVERIFY(dropOn(*window, {QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)}));
        QCOMPARE(imageLines(*window).first(), u"drop-first.png"_s);
        // A web link first: nothing happens, even though a local file follows.
        QVERIFY(!dropOn(*window, {QUrl(u"https://quorvane.com/chart.png"_s), QUrl::fromLocalFile(second)}));
        QCOMPARE(imageLines(*window).first(), u"drop-first.png"_s);
        QVERIFY(errorLabel(*window)->isHidden());

        // Files opened from the desktop arrive as an application event and take the same road.
        QFileOpenEvent event(second);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
        QCOMPARE(imageLines(*window).first(), u"drop-second.png"_s);
        QCOMPARE(sheet(*window), u"DIN A4, Landscape"_s);
        // Once the window is gone, nothing is routed any more.
        window.reset();
        QFileOpenEvent late(first);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &late);
    }

    void zoomKeys()
    {
        auto window = makeWindow();
        QWidget* focus = alignmentButton(*window, 0);
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Plus); // without an image the keys do nothing
        QCOMPARE(zoomLabel(*window)->text(), u"100%"_s);

        window->loadCommandLinePath(writePng(u"zoom.png"_s, 600, 900, 300));
        focus->setFocus();
        // 83.33 and 69.44 round down; 0 (Fit to Screen) goes back to the fit.
        const QList<std::pair<Qt::Key, const char*>> steps = {
            {Qt::Key_Plus, "120%"}, {Qt::Key_Equal, "144%"}, {Qt::Key_Minus, "120%"}, {Qt::Key_Minus, "100%"},
            {Qt::Key_Minus, "83%"}, {Qt::Key_Minus, "69%"},  {Qt::Key_Plus, "83%"},   {Qt::Key_0, "100%"}};
        for (const auto& [key, expected] : steps) {
            QTest::keyClick(focus, key);
            QCOMPARE(zoomLabel(*window)->text(), QString::fromLatin1(expected));
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
        auto window = makeWindow(writePng(u"crop.png"_s, 2480, 3508, 300));
        // On A3 nothing is in the way: the Print shortcut, from the inspector, brings the dialog straight up.
        {
            ModalAnswerer answerer({respond(u"Cancel"_s)});
            orientation(*window)->setFocus();
            QTest::keySequence(window.get(), QKeySequence::Print);
            QCOMPARE(answerer.seen().size(), 1);
            QVERIFY(answerer.seen()[0].printDialog);
            QVERIFY(errorLabel(*window)->isHidden()); // a cancelled dialog is no error
        }

        paper(*window)->setCurrentIndex(0);
        ModalAnswerer answerer({respond(answer), respond(u"Cancel"_s)});
        action(*window, u"Print"_s)->trigger();
        const Seen warning = answerer.seen().first();
        QCOMPARE(warning.title, u"Image will be cropped"_s);
        QCOMPARE(warning.text, u"The image is larger than the selected paper at its embedded print size."_s);
        QCOMPARE(warning.info, u"Image: 8.27 x 11.69 in\nPaper: 8.27 x 11.69 in\n\n"
                               "Continue printing, or cancel and choose a larger paper size."_s);
        QCOMPARE(answerer.seen().size(), answer == u"Continue"_s ? 2 : 1);
        QCOMPARE(answerer.seen().last().printDialog, answer == u"Continue"_s);
        QVERIFY(errorLabel(*window)->isHidden());
        QCOMPARE(paper(*window)->currentText(), u"DIN A4"_s);
    }

    void cropBoundaries_data()
    {
        QTest::addColumn<double>("extraWidth");
        QTest::addColumn<double>("extraHeight");
        QTest::addColumn<int>("sheet"); // 0 portrait, 1 landscape
        QTest::addColumn<int>("degrees");
        QTest::addColumn<bool>("warns");

        QTest::newRow("exactly A4") << 0.0 << 0.0 << 0 << 0 << false;
        QTest::newRow("just inside the tolerance, wide") << 0.00009 << 0.0 << 0 << 0 << false;
        QTest::newRow("just inside the tolerance, tall") << 0.0 << 0.00009 << 0 << 0 << false;
        QTest::newRow("just outside, wide") << 0.00012 << 0.0 << 0 << 0 << true;
        QTest::newRow("just outside, tall") << 0.0 << 0.00012 << 0 << 0 << true;
        QTest::newRow("turned with the sheet") << 0.0 << 0.0 << 1 << 90 << false;
        QTest::newRow("landscape sheet, upright image") << 0.0 << 0.0 << 1 << 0 << true;
    }

    void cropBoundaries()
    {
        QFETCH(double, extraWidth);
        QFETCH(double, extraHeight);
        QFETCH(int, sheet);
        QFETCH(int, degrees);
        QFETCH(bool, warns);
        const SizeD a4 = paperPresets().first().sizeInches(PrintOrientation::Portrait);
        PrintableImage image;
        image.pixelWidth = image.pixelHeight = 10000;
        image.dpiX = 10000 / (a4.width + extraWidth);
        image.dpiY = 10000 / (a4.height + extraHeight);

        auto window = makeWindow();
        ModalAnswerer answerer({respond(u"Cancel"_s)});
        QCOMPARE(Probe::confirmPrintCrop(*window, image, sheet, degrees), !warns);
        QCOMPARE(answerer.seen().size(), warns ? 1 : 0);
    }

    void printReachesQueue()
    {
        if (!m_cupsProblem.isEmpty())
            QSKIP(qPrintable(u"no private CUPS scheduler: "_s + m_cupsProblem));
        QString missing;
        if (!Testing::popplerToolsAvailable(&missing))
            QSKIP(qPrintable(u"poppler tools missing: "_s + missing));

        auto window = makeWindow(writePng(u"to-print.png"_s, 60, 90, 300)); // 0.2 x 0.3 in
        paper(*window)->setCurrentIndex(1);                                 // DIN A3, chosen by the user
        QTest::mouseClick(alignmentButton(*window, 0), Qt::LeftButton);

        const QStringList before = m_cups.spooledDocuments();
        ModalAnswerer answerer({acceptPrint()});
        action(*window, u"Print"_s)->trigger();
        QCOMPARE(answerer.seen().size(), 1);
        QVERIFY(answerer.seen()[0].printDialog);
        QVERIFY2(errorLabel(*window)->isHidden(), qPrintable(errorLabel(*window)->text()));

        const QString document = m_cups.waitForNewDocument(before);
        QVERIFY2(Testing::isPdf(document), qPrintable(m_cups.errorLogTail()));
        QString error;
        const QList<Testing::PdfImageInfo> images = Testing::listPdfImages(document, &error);
        QVERIFY2(images.size() == 1, qPrintable(error));
        QCOMPARE(QList<int>({images[0].width, images[0].height, images[0].xPpi, images[0].yPpi}),
                 QList<int>({60, 90, 300, 300}));
        const QSizeF page = Testing::pdfPageSizePoints(document, 1, &error);
        QVERIFY2(qAbs(page.width() - 297 / 25.4 * 72) < 1.0, qPrintable(error));
        QVERIFY(qAbs(page.height() - 420 / 25.4 * 72) < 1.0);
        QVERIFY(m_cups.jobAttributes(document).contains("Lumetra"));
    }

    void failedPrintShowsError()
    {
        auto window = makeWindow(writePng(u"fails.png"_s, 60, 90, 300));
        // The dialog refuses an unwritable file, so the printer is pointed at one behind its back.
        const QString unwritable = m_files.filePath(u"missing-folder/target.pdf"_s);
        const QString written = m_files.filePath(u"printed.pdf"_s);
        // A following good print leaves the earlier error where it is.
        for (const QString& file : {unwritable, written}) {
            ModalAnswerer answerer({acceptPrint(file)});
            action(*window, u"Print"_s)->trigger();
            QCOMPARE(answerer.seen().size(), 1);
            QVERIFY(errorLabel(*window)->isVisible());
            QCOMPARE(errorLabel(*window)->text(),
                     u"<b>Could not print target image</b><br>The printer could not be opened."_s);
        }
        QVERIFY(!QFile::exists(unwritable));
        QVERIFY(Testing::isPdf(written));
    }

    void aboutDialog()
    {
        auto window = makeWindow();
        QStringList labels;
        QSize logo;
        Qt::TextInteractionFlags linkFlags;
        bool closeIsDefault = false, openAfterLink = false;
        // From the Help menu, closed with Return (Close is the default button).
        ModalAnswerer byReturn({[&](QWidget* modal) {
            for (QLabel* label : modal->findChildren<QLabel*>()) {
                label->pixmap().isNull() ? void(labels << label->text())
                                         : void(logo = label->pixmap().size());
                if (label->text().contains(u"href"_s)) {
                    linkFlags = label->textInteractionFlags();
                    emit label->linkActivated(u"https://quorvane.com"_s);
                    openAfterLink = modal->isVisible();
                }
            }
            closeIsDefault =
                find<QPushButton>(modal, [](QPushButton* b) { return b->isDefault(); })->text() == u"Close"_s;
            QTest::keyClick(modal, Qt::Key_Return);
        }});
        action(*window, u"About Lumetra"_s)->trigger();
        QCOMPARE(byReturn.seen().size(), 1);
        QCOMPARE(byReturn.seen()[0].title, u"About Lumetra"_s);
        QCOMPARE(logo, QSize(359, 120));
        QCOMPARE(labels, QStringList({u"Lumetra"_s, u"Developed by Quorvane Limited"_s, u"Version 1.0"_s,
                                      u"<a href=\"https://quorvane.com\">https://quorvane.com</a>"_s}));
        QVERIFY(closeIsDefault && openAfterLink);
        QCOMPARE(linkFlags,
                 Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard | Qt::TextSelectableByMouse);
        QCOMPARE(m_openedUrls, QList<QUrl>({QUrl(u"https://quorvane.com"_s)}));

        // From the logo button, closed with Escape.
        ModalAnswerer byEscape({respond(u"Escape"_s)});
        QTest::mouseClick(
            find<QToolButton>(window.get(),
                              [](QToolButton* b) { return b->toolTip() == u"About Lumetra"_s; }),
            Qt::LeftButton);
        QCOMPARE(byEscape.seen().size(), 1);
        QCOMPARE(byEscape.seen()[0].title, u"About Lumetra"_s);
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
    setApplicationIdentity();
    TestApp test(home.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
