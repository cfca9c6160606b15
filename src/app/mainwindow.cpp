#include "mainwindow.h"

#include "backgroundload.h"
#include "fileopenrouter.h"
#include "papergeometry.h"
#include "previewwidget.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSizePolicy>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace Lumetra {

namespace {

const QSize kDefaultWindowSize(1080, 720);
constexpr int kTitleBarAllowance = 40;

// The platform's own shortcuts first, so that menus show them, then the bare keys.
QList<QKeySequence> withBareKeys(QList<QKeySequence> standard, std::initializer_list<Qt::Key> bare)
{
    for (Qt::Key key : bare)
        standard << QKeySequence(key);
    return standard;
}

// The application's style with Alt alone moving to the menu bar, which not every style offers.
class MenuBarStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        return hint == SH_MenuBar_AltKeyNavigation ? 1
                                                   : QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    loadPrintSettings();
    buildUi();
    updateControls();
    updatePrinterLine();
    updatePreview();
    updatePageNavigation();
    new FileOpenRouter(this, [this](const QStringList& paths) { openTargets(paths); });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildUi()
{
    setWindowTitle(tr("Lumetra"));
    setAcceptDrops(true);

    m_loadAction = new QAction(tr("&Load"), this);
    m_loadAction->setObjectName(QStringLiteral("loadAction"));
    m_loadAction->setShortcut(QKeySequence::Open);
    addAction(m_loadAction);
    connect(m_loadAction, &QAction::triggered, this, [this] { openImage(); });

    m_printAction = new QAction(tr("&Print"), this);
    m_printAction->setObjectName(QStringLiteral("printAction"));
    m_printAction->setShortcut(QKeySequence::Print);
    addAction(m_printAction);
    connect(m_printAction, &QAction::triggered, this, [this] { printImage(); });

    m_historyAction = new QAction(tr("Print &History…"), this);
    m_historyAction->setObjectName(QStringLiteral("historyAction"));
    connect(m_historyAction, &QAction::triggered, this, [this] { showPrintHistory(); });

    m_aboutAction =
        new QAction(QIcon(QStringLiteral(":/branding/quorvane-logo.png")), tr("&About Lumetra"), this);
    m_aboutAction->setObjectName(QStringLiteral("aboutAction"));
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, [this] { showAboutDialog(); });

    // The preview is created further down; the zoom actions reach it when they fire.
    m_zoomInAction = new QAction(tr("Zoom &In"), this);
    m_zoomInAction->setObjectName(QStringLiteral("zoomInAction"));
    // Ctrl+= as well: most keyboards need Shift for the plus of Ctrl++.
    m_zoomInAction->setShortcuts(withBareKeys(QKeySequence::keyBindings(QKeySequence::ZoomIn) +
                                                  QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                                              {Qt::Key_Plus, Qt::Key_Equal}));
    addAction(m_zoomInAction);
    connect(m_zoomInAction, &QAction::triggered, this, [this] { m_preview->zoomIn(); });

    m_zoomOutAction = new QAction(tr("Zoom &Out"), this);
    m_zoomOutAction->setObjectName(QStringLiteral("zoomOutAction"));
    m_zoomOutAction->setShortcuts(
        withBareKeys(QKeySequence::keyBindings(QKeySequence::ZoomOut), {Qt::Key_Minus}));
    addAction(m_zoomOutAction);
    connect(m_zoomOutAction, &QAction::triggered, this, [this] { m_preview->zoomOut(); });

    m_fitAction = new QAction(tr("&Fit to Screen"), this);
    m_fitAction->setObjectName(QStringLiteral("fitAction"));
    m_fitAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_0), QKeySequence(Qt::Key_0)});
    addAction(m_fitAction);
    connect(m_fitAction, &QAction::triggered, this, [this] { m_preview->resetZoomToFit(); });

    m_quitAction = new QAction(tr("&Quit"), this);
    m_quitAction->setObjectName(QStringLiteral("quitAction"));
    m_quitAction->setShortcut(QKeySequence::Quit);
    m_quitAction->setMenuRole(QAction::QuitRole);
    addAction(m_quitAction);
    connect(m_quitAction, &QAction::triggered, this, [this] { close(); });

    buildPageActions();
    buildMenus();
    buildToolBar();

    auto* central = new QWidget;
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);

    m_preview = new PreviewWidget;
    m_preview->setObjectName(QStringLiteral("preview"));
    connect(m_preview, &PreviewWidget::zoomChanged, this, &MainWindow::updateZoomIndicator);
    connect(m_preview, &PreviewWidget::zoomEnabledChanged, this, [this](bool enabled) {
        m_zoomInAction->setEnabled(enabled);
        m_zoomOutAction->setEnabled(enabled);
        m_fitAction->setEnabled(enabled);
        m_zoomLabel->setEnabled(enabled);
    });
    m_zoomInAction->setEnabled(false);
    m_zoomOutAction->setEnabled(false);
    m_fitAction->setEnabled(false);
    m_zoomLabel->setEnabled(false);
    updateZoomIndicator(m_preview->zoomPercent());

    auto* scrollArea = new QScrollArea;
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setWidgetResizable(true);
    scrollArea->setWidget(m_preview);
    layout->addWidget(scrollArea, 1);

    // A short screen would otherwise cut off the bottom of the column, and with it any error.
    m_inspectorScroll = new QScrollArea;
    m_inspectorScroll->setObjectName(QStringLiteral("inspectorScroll"));
    m_inspectorScroll->setFrameShape(QFrame::NoFrame);
    m_inspectorScroll->setWidgetResizable(true);
    m_inspectorScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_inspectorScroll->setFixedWidth(320);
    m_inspectorScroll->setWidget(buildInspector());
    layout->addWidget(m_inspectorScroll, 0);

    setCentralWidget(central);

    // Present from the start, so that the first message does not push the preview up.
    m_loadProgress = new QProgressBar;
    m_loadProgress->setObjectName(QStringLiteral("loadProgress"));
    m_loadProgress->setTextVisible(false);
    m_loadProgress->setMaximumWidth(160);
    statusBar()->addPermanentWidget(m_loadProgress);
    statusBar()->setMinimumHeight(statusBar()->sizeHint().height());
    m_loadProgress->hide();

    m_backgroundLoad = new BackgroundLoad(this);
    connect(m_backgroundLoad, &BackgroundLoad::reading, this, &MainWindow::showReading);
    connect(m_backgroundLoad, &BackgroundLoad::loaded, this,
            [this](const LoadedTargetSet& targets) { takeLoadedTargets(targets, {}); });
    connect(m_backgroundLoad, &BackgroundLoad::failed, this,
            [this](const QString& message) { takeLoadedTargets(std::nullopt, message); });

    selectAlignment(m_settings.alignment);
    applyPaletteColours();
    placeWindow();
}

void MainWindow::buildMenus()
{
    QMenu* fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    fileMenu->addAction(m_loadAction);
    m_recentMenu = fileMenu->addMenu(tr("Open &Recent"));
    m_recentMenu->setObjectName(QStringLiteral("recentMenu"));
    m_recentMenu->setToolTipsVisible(true);
    // A file may have gone away since the menu was filled.
    connect(m_recentMenu, &QMenu::aboutToShow, this, &MainWindow::updateRecentMenu);
    updateRecentMenu();
    fileMenu->addAction(m_printAction);
    fileMenu->addAction(m_historyAction);
    fileMenu->addSeparator();
    fileMenu->addAction(m_quitAction);

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->setObjectName(QStringLiteral("viewMenu"));
    viewMenu->addAction(m_zoomInAction);
    viewMenu->addAction(m_zoomOutAction);
    viewMenu->addAction(m_fitAction);
    viewMenu->addSeparator();
    viewMenu->addAction(m_previousPageAction);
    viewMenu->addAction(m_nextPageAction);

    QMenu* helpMenu = menuBar()->addMenu(tr("&Help"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpMenu->addAction(m_aboutAction);

    if (!menuBar()->isNativeMenuBar()) {
        // As elsewhere on the desktop: F10 opens the first menu, Alt alone moves to the menu bar.
        auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
        connect(menuKey, &QShortcut::activated, this,
                [this, fileMenu] { menuBar()->setActiveAction(fileMenu->menuAction()); });
        auto* style = new MenuBarStyle(QStyleFactory::create(QApplication::style()->name()));
        style->setParent(menuBar());
        menuBar()->setStyle(style);
    }
}

void MainWindow::buildToolBar()
{
    QToolBar* toolBar = addToolBar(tr("Main"));
    toolBar->setObjectName(QStringLiteral("MainToolBar"));
    toolBar->setMovable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar->setIconSize(QSize(24, 24));

    auto* leadingSpace = new QWidget;
    leadingSpace->setFixedWidth(8);
    toolBar->addWidget(leadingSpace);
    toolBar->addAction(m_loadAction);
    toolBar->addAction(m_printAction);
    auto* stretch = new QWidget;
    stretch->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar->addWidget(stretch);
    m_zoomLabel = new QLabel(QStringLiteral("100%"));
    m_zoomLabel->setObjectName(QStringLiteral("zoomLabel"));
    m_zoomLabel->setMinimumWidth(54);
    m_zoomLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    toolBar->addWidget(m_zoomLabel);
    toolBar->addAction(m_fitAction);
    toolBar->addSeparator();
    toolBar->addAction(m_previousPageAction);
    toolBar->addWidget(m_pageLabel);
    toolBar->addAction(m_nextPageAction);
    // Icon-only buttons say what they do to screen readers.
    for (QAction* action : {m_loadAction, m_printAction, m_fitAction, m_previousPageAction, m_nextPageAction})
        toolBar->widgetForAction(action)->setAccessibleName(action->iconText()); // without the mnemonic
}

// The usual width, tall enough for the whole inspector column with a target loaded where the screen
// has room for it, never more than the screen's free area; then whatever size and place the user
// left it at.
void MainWindow::placeWindow()
{
    create(); // the frame the platform adds is known once the window exists
    QMargins frame = windowHandle()->frameMargins();
    // Where a window manager decorates the window only once it is mapped (X11), its frame is not
    // known yet; room for a title bar is kept free instead.
    if (frame.isNull())
        frame.setTop(kTitleBarAllowance);
    const auto inner = [this, frame] { return screen()->availableGeometry().marginsRemoved(frame); };
    const int centralMargins = centralWidget()->layout()->contentsMargins().top() +
                               centralWidget()->layout()->contentsMargins().bottom();
    const int chrome = sizeHint().height() - centralWidget()->sizeHint().height() + centralMargins;
    const QSize wanted(kDefaultWindowSize.width(),
                       std::max(kDefaultWindowSize.height(), chrome + inspectorHeightWithImage()));
    setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, wanted.boundedTo(inner().size()), inner()));
    const QByteArray stored = storedWindowGeometry();
    if (stored.isEmpty() || !restoreGeometry(stored))
        return;
    // Stored on another, larger screen: bring it within this one's free area.
    const QRect area = inner();
    const QSize size = geometry().size().boundedTo(area.size());
    setGeometry(QRect(QPoint(qBound(area.left(), geometry().x(), area.right() + 1 - size.width()),
                             qBound(area.top(), geometry().y(), area.bottom() + 1 - size.height())),
                      size));
}

// The column's height at its width once a target is loaded: the Image box's lines filled as for a
// target whose resolution is assumed, the longest they commonly get.
int MainWindow::inspectorHeightWithImage()
{
    PrintableImage typical;
    typical.fileName = QStringLiteral("target.tif");
    typical.pixelWidth = 2480;
    typical.pixelHeight = 3508;
    typical.colorModel = QStringLiteral("RGB");
    typical.resolutionAssumed = true;
    QWidget* column = m_inspectorScroll->widget();
    // Until the window is shown, the boxes round new texts do not ask to be measured again.
    const auto showImage = [this, column](std::optional<PrintableImage> image) {
        m_image = std::move(image);
        updateMetadata();
        for (QWidget* box : column->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            box->updateGeometry();
    };
    const std::optional<PrintableImage> shown = m_image;
    showImage(typical);
    const int width = m_inspectorScroll->width();
    const int height =
        column->hasHeightForWidth() ? column->heightForWidth(width) : column->sizeHint().height();
    showImage(shown);
    return height;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    storeWindowGeometry(saveGeometry());
    QMainWindow::closeEvent(event);
}

void MainWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && m_inspectorScroll)
        applyPaletteColours();
    QMainWindow::changeEvent(event);
}

QString MainWindow::setName(const QString& first, int files)
{
    return files > 1 ? tr("%1 and %n more", nullptr, files - 1).arg(first) : first;
}

void MainWindow::updateRecentMenu()
{
    m_recentMenu->clear();
    const QList<QStringList> recent = recentTargets();
    for (const QStringList& paths : recent) {
        QString name = setName(QFileInfo(paths.constFirst()).fileName(), int(paths.size()));
        QAction* action = m_recentMenu->addAction(name.replace(QLatin1Char('&'), QStringLiteral("&&")));
        QStringList shown;
        bool present = true; // a set with a page gone cannot load
        for (const QString& path : paths) {
            shown << QDir::toNativeSeparators(path);
            present = present && QFileInfo::exists(path);
        }
        action->setToolTip(shown.join(QLatin1Char('\n')));
        action->setEnabled(present);
        connect(action, &QAction::triggered, this, [this, paths] { openTargets(paths); });
    }
    m_recentMenu->addSeparator();
    QAction* clear = m_recentMenu->addAction(tr("&Clear Menu"));
    clear->setObjectName(QStringLiteral("clearRecentAction"));
    connect(clear, &QAction::triggered, this, [this] {
        clearRecentTargets();
        updateRecentMenu();
    });
    updateCommands();
}

// While a target loads or prints, nothing may start another load or print, nor change the page.
void MainWindow::setBusy(bool busy)
{
    m_busy = busy;
    updateCommands();
    if (!busy && !m_waitingTargets.isEmpty())
        openTargets(std::exchange(m_waitingTargets, {}));
}

void MainWindow::updateCommands()
{
    const auto pages = int(m_set.pages.size());
    m_loadAction->setEnabled(!m_busy);
    m_printAction->setEnabled(!m_busy && m_image.has_value());
    m_recentMenu->setEnabled(!m_busy && m_recentMenu->actions().size() > 2); // not only Clear Menu
    m_previousPageAction->setEnabled(!m_busy && pages > 1 && m_pageShown > 0);
    m_nextPageAction->setEnabled(!m_busy && pages > 1 && m_pageShown < pages - 1);
}

} // namespace Lumetra
