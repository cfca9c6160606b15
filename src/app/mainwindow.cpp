#include "mainwindow.h"

#include "fileopenrouter.h"
#include "papergeometry.h"
#include "previewwidget.h"

#include <QAction>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QSizePolicy>
#include <QToolBar>

namespace Lumetra {

namespace {

// A magnifying glass with a blue plus inside.
QIcon fitToScreenIcon()
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(QStringLiteral("#233040")), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(11, 10, 20, 20));
    painter.drawLine(QPointF(28, 28), QPointF(38, 38));
    painter.setPen(QPen(QColor(QStringLiteral("#155ada")), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(QPointF(16, 20), QPointF(26, 20));
    painter.drawLine(QPointF(21, 15), QPointF(21, 25));
    painter.end();
    return QIcon(pixmap);
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    m_settings.paper = paperPresets().constFirst();
    m_settings.orientation = PrintOrientation::Portrait;
    m_settings.alignment = PrintAlignment::Center;
    m_settings.rotationDegrees = 0;
    loadPrintSettings();
    buildUi();
    updateControls();
    updatePreview();
    updatePageNavigation();
    new FileOpenRouter(this, [this](const QString& path) { loadImage(path); });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildUi()
{
    setWindowTitle(QStringLiteral("Lumetra"));
    setAcceptDrops(true);
    resize(1080, 720);

    m_loadAction = new QAction(QIcon(QStringLiteral(":/icons/open.svg")), QStringLiteral("Load"), this);
    m_loadAction->setShortcut(QKeySequence::Open);
    addAction(m_loadAction);
    connect(m_loadAction, &QAction::triggered, this, [this] { openImage(); });

    m_printAction = new QAction(QIcon(QStringLiteral(":/icons/print.svg")), QStringLiteral("Print"), this);
    m_printAction->setShortcut(QKeySequence::Print);
    addAction(m_printAction);
    connect(m_printAction, &QAction::triggered, this, [this] { printImage(); });

    m_aboutAction = new QAction(QIcon(QStringLiteral(":/branding/quorvane-logo.png")),
                                QStringLiteral("About Lumetra"), this);
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, [this] { showAboutDialog(); });

    // The preview is created further down; the zoom actions reach it when they fire.
    m_zoomInAction = new QAction(QStringLiteral("Zoom In"), this);
    m_zoomInAction->setShortcuts({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)});
    addAction(m_zoomInAction);
    connect(m_zoomInAction, &QAction::triggered, this, [this] { m_preview->zoomIn(); });

    m_zoomOutAction = new QAction(QStringLiteral("Zoom Out"), this);
    m_zoomOutAction->setShortcut(QKeySequence(Qt::Key_Minus));
    addAction(m_zoomOutAction);
    connect(m_zoomOutAction, &QAction::triggered, this, [this] { m_preview->zoomOut(); });

    m_fitAction = new QAction(fitToScreenIcon(), QStringLiteral("Fit to Screen"), this);
    m_fitAction->setShortcut(QKeySequence(Qt::Key_0));
    addAction(m_fitAction);
    connect(m_fitAction, &QAction::triggered, this, [this] { m_preview->resetZoomToFit(); });

    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("File"));
    fileMenu->addAction(m_loadAction);
    fileMenu->addAction(m_printAction);
    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("Help"));
    helpMenu->addAction(m_aboutAction);

    QToolBar* toolBar = addToolBar(QStringLiteral("Main"));
    toolBar->setObjectName(QStringLiteral("MainToolBar"));
    toolBar->setMovable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar->setIconSize(QSize(24, 24));
    toolBar->setStyleSheet(
        QStringLiteral("QToolBar { spacing: 6px; }"
                       "QToolButton { border: 1px solid transparent; border-radius: 5px; padding: 5px; }"
                       "QToolButton:hover { background: #eaf2ff; border-color: #9db4d2; }"
                       "QToolButton:pressed { background: #dbe9fb; }"));

    auto* leadingSpace = new QWidget;
    leadingSpace->setFixedWidth(8);
    toolBar->addWidget(leadingSpace);
    toolBar->addAction(m_loadAction);
    toolBar->addAction(m_printAction);
    auto* stretch = new QWidget;
    stretch->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar->addWidget(stretch);
    m_zoomLabel = new QLabel(QStringLiteral("100%"));
    m_zoomLabel->setMinimumWidth(54);
    m_zoomLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_zoomLabel->setStyleSheet(QStringLiteral("color: #4f5d6d;"));
    toolBar->addWidget(m_zoomLabel);
    toolBar->addAction(m_fitAction);
    toolBar->addSeparator();
    buildPageNavigation(toolBar);

    auto* central = new QWidget;
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);

    m_preview = new PreviewWidget;
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

    layout->addWidget(buildInspector(), 0);

    setCentralWidget(central);
    selectAlignment(m_settings.alignment);
}

} // namespace Lumetra
