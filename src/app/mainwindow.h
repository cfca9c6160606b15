#pragma once

#include "imageloader.h"
#include "printmodel.h"
#include "printservice.h"
#include "targetset.h"

#include <QMainWindow>

#include <array>
#include <optional>

class QAction;
class QCloseEvent;
class QComboBox;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QJsonObject;
class QLabel;
class QMenu;
class QMimeData;
class QProgressBar;
class QScrollArea;
class QToolButton;

namespace Lumetra {

class BackgroundLoad;
class MainWindowProbe; // tests reach private operations through it
class PreviewWidget;

// The only window: toolbar, menus, the sheet preview and the inspector column,
// and the flows that tie loading, preview and printing together.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The command-line arguments after the program path; blank ones load nothing.
    void loadCommandLine(const QStringList& arguments);
    // Every road in (Open dialog, drop, desktop open, command line, Open Recent) ends here.
    void openTargets(const QStringList& paths);

    // The local files of a drag when every URL is one Lumetra reads, else nothing.
    static QStringList targetFiles(const QMimeData* data);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class MainWindowProbe;

    // mainwindow.cpp
    void buildUi();
    void buildMenus();
    void buildToolBar();
    void placeWindow();
    int inspectorHeightWithImage();
    void updateRecentMenu();
    // How a set of files is named in a line: "sheet_1.png and 2 more".
    static QString setName(const QString& first, int files);
    void setBusy(bool busy);
    void updateCommands();
    // inspector.cpp
    QWidget* buildInspector();
    void updateControls();
    void updatePreview();
    void updatePrinterLine();
    void updateZoomIndicator(double percent);
    void selectAlignment(PrintAlignment alignment);
    // appearance.cpp
    void applyPaletteColours();
    // settings.cpp
    void loadPrintSettings();
    void savePrintSettings() const;
    void savePrintQueue();
    static QByteArray storedWindowGeometry();
    static void storeWindowGeometry(const QByteArray& geometry);
    static QList<QStringList> recentTargets();
    static void rememberTargets(const QStringList& paths);
    static void clearRecentTargets();
    static QString browsedFolder();
    static void rememberBrowsedFolder(const QString& folder);
    // loadflow.cpp
    void openImage();
    void showReading(const QString& name, int page, int pages);
    void takeLoadedTargets(const std::optional<LoadedTargetSet>& loaded, const QString& problem);
    bool confirmProfileLoad(const TargetSet& set);
    void applyAutoSettings(const TargetSet& set);
    void showError(const QString& title, const QString& message);
    void clearError();
    // metadata.cpp
    void updateMetadata();
    // printflow.cpp
    void printImage();
    bool confirmPrintCrop(const TargetSet& set);
    void recordPrint();
    // historydialog.cpp
    void showPrintHistory();
    static QStringList historyColumns(const QJsonObject& record);
    // pageflow.cpp
    void buildPageActions();
    void showPage(int index);
    bool printSet();
    void updatePageNavigation();
    // about.cpp
    void showAboutDialog();

    ImageLoader m_imageLoader;
    PrintService m_printService;
    PrintSettings m_settings;
    // The page shown, the only one kept decoded; the set holds the facts of every page.
    std::optional<PrintableImage> m_image;
    TargetSet m_set;
    int m_pageShown = 0;
    std::optional<PrintOrientation> m_autoOrientation;
    bool m_updatingControls = false;
    // A load or a print runs; see setBusy.
    bool m_busy = false;
    // Targets that arrived while busy, opened once the window is idle again.
    QStringList m_waitingTargets;
    BackgroundLoad* m_backgroundLoad = nullptr;

    QAction* m_printAction = nullptr;
    QAction* m_loadAction = nullptr;
    QAction* m_historyAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_zoomInAction = nullptr;
    QAction* m_zoomOutAction = nullptr;
    QAction* m_fitAction = nullptr;
    QAction* m_previousPageAction = nullptr;
    QAction* m_nextPageAction = nullptr;
    QLabel* m_pageLabel = nullptr;
    QAction* m_quitAction = nullptr;
    QMenu* m_recentMenu = nullptr;
    QScrollArea* m_inspectorScroll = nullptr;
    PreviewWidget* m_preview = nullptr;
    QLabel* m_zoomLabel = nullptr;
    QProgressBar* m_loadProgress = nullptr;
    QComboBox* m_paperCombo = nullptr;
    QComboBox* m_orientationCombo = nullptr;
    QLabel* m_printerLabel = nullptr;
    QLabel* m_forgetDriverSettings = nullptr;
    QLabel* m_imageNameLabel = nullptr;
    QLabel* m_pixelsLabel = nullptr;
    QLabel* m_dpiLabel = nullptr;
    QLabel* m_printSizeLabel = nullptr;
    QLabel* m_colorModelLabel = nullptr;
    QLabel* m_iccLabel = nullptr;
    QLabel* m_pageCountLabel = nullptr;
    QLabel* m_pageDifferencesLabel = nullptr;
    QLabel* m_errorLabel = nullptr;
    QToolButton* m_logoButton = nullptr;
    std::array<QToolButton*, 9> m_alignmentButtons{};
};

} // namespace Lumetra
