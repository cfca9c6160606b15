#include "mainwindow.h"

#include "papergeometry.h"
#include "previewwidget.h"
#include "storedsettings.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace Lumetra {

namespace {

QLabel* detailLabel(const char* name)
{
    auto* label = new QLabel;
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    // Shows text taken from the file, which must never be read as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The model's English titles are marked for translation where they are defined.
QString translatedAlignmentTitle(PrintAlignment alignment)
{
    return QCoreApplication::translate("Lumetra::PrintAlignment",
                                       alignmentTitle(alignment).toLatin1().constData());
}

QGroupBox* groupBox(const QString& title, const char* name)
{
    auto* box = new QGroupBox(title);
    box->setObjectName(QLatin1String(name));
    return box;
}

} // namespace

QWidget* MainWindow::buildInspector()
{
    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("inspector"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(8, 0, 0, 0);
    column->setSpacing(16);

    auto* title = new QLabel(tr("Inspector"));
    title->setObjectName(QStringLiteral("inspectorTitle"));
    QFont titleFont = title->font();
    titleFont.setPointSize(titleFont.pointSize() + 4);
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    column->addWidget(title);
    column->addSpacing(8);

    auto* paperBox = groupBox(tr("Paper"), "paperBox");
    auto* paperLayout = new QVBoxLayout(paperBox);
    m_paperCombo = new QComboBox;
    m_paperCombo->setObjectName(QStringLiteral("paperCombo"));
    // Each item carries the sheet's name, its stored identity, whatever text it shows.
    std::optional<PaperSeries> previousSeries;
    for (const PaperPreset& preset : allPaperPresets()) {
        if (previousSeries && *previousSeries != paperSeries(preset))
            m_paperCombo->insertSeparator(m_paperCombo->count());
        previousSeries = paperSeries(preset);
        m_paperCombo->addItem(preset.name, preset.name);
    }
    paperLayout->addWidget(m_paperCombo);
    // The printer the next print starts on and the driver settings it keeps, seen before printing.
    m_printerLabel = detailLabel("printerLabel");
    m_forgetDriverSettings =
        new QLabel(QStringLiteral("<a href=\"forget\">%1</a>").arg(tr("Use the driver's defaults")));
    m_forgetDriverSettings->setObjectName(QStringLiteral("forgetDriverSettings"));
    m_forgetDriverSettings->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                                    Qt::LinksAccessibleByKeyboard);
    connect(m_forgetDriverSettings, &QLabel::linkActivated, this, [this] {
        const QString queue = m_printService.queueName();
        m_printService.setKeptOptions(queue, {});
        storeDriverSettings(queue, {});
        updatePrinterLine();
    });
    paperLayout->addWidget(m_printerLabel);
    paperLayout->addWidget(m_forgetDriverSettings);
    connect(m_paperCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0 || m_updatingControls)
            return;
        const std::optional<PaperPreset> preset = paperPresetNamed(m_paperCombo->itemData(index).toString());
        if (!preset)
            return;
        m_settings.paper = *preset;
        savePrintSettings();
        updatePreview();
    });
    column->addWidget(paperBox);

    auto* orientationBox = groupBox(tr("Orientation"), "orientationBox");
    auto* orientationLayout = new QVBoxLayout(orientationBox);
    m_orientationCombo = new QComboBox;
    m_orientationCombo->setObjectName(QStringLiteral("orientationCombo"));
    m_orientationCombo->addItem(tr("Portrait"));
    m_orientationCombo->addItem(tr("Landscape"));
    orientationLayout->addWidget(m_orientationCombo);
    connect(m_orientationCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0 || m_updatingControls)
            return;
        m_settings.orientation = index == 1 ? PrintOrientation::Landscape : PrintOrientation::Portrait;
        // The image stands upright in the orientation chosen for it and turns with the sheet.
        if (m_image && m_autoOrientation)
            m_settings.rotationDegrees = m_settings.orientation == *m_autoOrientation ? 0 : 90;
        savePrintSettings();
        updateMetadata();
        updatePreview();
    });
    column->addWidget(orientationBox);

    auto* alignmentBox = groupBox(tr("Alignment"), "alignmentBox");
    auto* grid = new QGridLayout(alignmentBox);
    grid->setSpacing(8);
    auto* group = new QButtonGroup(alignmentBox);
    group->setExclusive(true);
    for (int i = 0; i < 9; ++i) {
        const auto alignment = static_cast<PrintAlignment>(i);
        auto* button = new QToolButton;
        button->setObjectName(QStringLiteral("alignmentButton%1").arg(i));
        button->setIconSize(QSize(28, 28));
        const QString title = translatedAlignmentTitle(alignment);
        button->setToolTip(title);
        button->setAccessibleName(title);
        button->setCheckable(true);
        button->setFixedSize(44, 44);
        m_alignmentButtons[static_cast<size_t>(i)] = button;
        group->addButton(button, i);
        grid->addWidget(button, i / 3, i % 3);
        connect(button, &QToolButton::clicked, this, [this, alignment] {
            m_settings.alignment = alignment;
            selectAlignment(alignment);
            savePrintSettings();
            updatePreview();
        });
    }
    column->addWidget(alignmentBox);

    auto* imageBox = groupBox(tr("Image"), "imageBox");
    auto* imageLayout = new QVBoxLayout(imageBox);
    m_imageNameLabel = new QLabel(tr("No image loaded"));
    m_imageNameLabel->setObjectName(QStringLiteral("imageNameLabel"));
    m_imageNameLabel->setWordWrap(true);
    m_imageNameLabel->setTextFormat(Qt::PlainText); // a file may be named <b>chart</b>.png
    imageLayout->addWidget(m_imageNameLabel);
    m_pixelsLabel = detailLabel("pixelsLabel");
    m_dpiLabel = detailLabel("dpiLabel");
    m_printSizeLabel = detailLabel("printSizeLabel");
    m_colorModelLabel = detailLabel("colorModelLabel");
    m_iccLabel = detailLabel("iccLabel");
    m_pageCountLabel = detailLabel("pageCountLabel");
    m_pageDifferencesLabel = detailLabel("pageDifferencesLabel");
    for (QLabel* label : {m_pixelsLabel, m_dpiLabel, m_printSizeLabel, m_colorModelLabel, m_iccLabel,
                          m_pageCountLabel, m_pageDifferencesLabel})
        imageLayout->addWidget(label);
    m_pageCountLabel->hide();
    m_pageDifferencesLabel->hide();
    column->addWidget(imageBox);

    m_errorLabel = new QLabel;
    m_errorLabel->setObjectName(QStringLiteral("errorLabel"));
    m_errorLabel->setWordWrap(true);
    // Title and message are HTML-escaped before they get here (showError).
    m_errorLabel->setTextFormat(Qt::RichText);
    m_errorLabel->hide();
    column->addWidget(m_errorLabel); // above the logo, where the eye is, not at the foot of the column

    m_logoButton = new QToolButton;
    m_logoButton->setObjectName(QStringLiteral("logoButton"));
    m_logoButton->setIcon(QIcon(QStringLiteral(":/branding/quorvane-logo.png")));
    m_logoButton->setIconSize(QSize(260, 86));
    m_logoButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_logoButton->setToolTip(tr("About Lumetra"));
    m_logoButton->setAccessibleName(tr("About Lumetra"));
    m_logoButton->setFixedHeight(112);
    m_logoButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_logoButton, &QToolButton::clicked, this, [this] { showAboutDialog(); });
    column->addWidget(m_logoButton);

    column->addStretch(1);
    return panel;
}

void MainWindow::updateControls()
{
    m_updatingControls = true;
    const int paperIndex = m_paperCombo->findData(m_settings.paper.name);
    if (paperIndex >= 0)
        m_paperCombo->setCurrentIndex(paperIndex);
    m_orientationCombo->setCurrentIndex(m_settings.orientation == PrintOrientation::Landscape ? 1 : 0);
    selectAlignment(m_settings.alignment);
    m_updatingControls = false;
    updateCommands();
}

void MainWindow::updatePrinterLine()
{
    const QString queue = m_printService.queueName();
    const QStringList settings = storedDriverSettings(queue).descriptions;
    m_printerLabel->setVisible(!queue.isEmpty());
    m_printerLabel->setText(tr("%1: %2").arg(
        queue, settings.isEmpty() ? tr("the driver's defaults") : settings.join(QStringLiteral(", "))));
    m_forgetDriverSettings->setVisible(!queue.isEmpty() && !m_printService.keptOptions(queue).isEmpty());
}

void MainWindow::updatePreview()
{
    m_preview->setSettings(m_settings);
    m_preview->setImage(m_image);
    // The outline matters once an image is placed; until then start-up asks no scheduler.
    m_preview->setUnprintableMargins(m_image ? m_printService.unprintableMargins(m_settings) : QMarginsF());
}

void MainWindow::selectAlignment(PrintAlignment alignment)
{
    auto selected = static_cast<quint32>(alignment);
    if (selected > 8)
        selected = static_cast<quint32>(PrintAlignment::Center);
    for (size_t i = 0; i < m_alignmentButtons.size(); ++i)
        m_alignmentButtons[i]->setChecked(i == selected);
}

void MainWindow::updateZoomIndicator(double percent)
{
    if (!m_zoomLabel)
        return;
    m_zoomLabel->setText(QStringLiteral("%1%").arg(std::round(percent), 0, 'g', -1));
}

} // namespace Lumetra
