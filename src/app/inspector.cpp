#include "mainwindow.h"

#include "papergeometry.h"
#include "previewwidget.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace Lumetra {

namespace {

// A sheet with a blue dot where the alignment puts the image.
QIcon alignmentIcon(PrintAlignment alignment)
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(QStringLiteral("#515e6e")), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(10, 8, 28, 32), 3, 3, Qt::AbsoluteSize);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(QStringLiteral("#155ada")));
    const QPointF centre(10 + horizontalFraction(alignment) * 28, 8 + verticalFraction(alignment) * 32);
    painter.drawEllipse(QRectF(centre.x() - 4.5, centre.y() - 4.5, 9, 9));
    painter.end();
    return QIcon(pixmap);
}

QLabel* detailLabel()
{
    auto* label = new QLabel;
    label->setWordWrap(true);
    // Shows text taken from the file, which must never be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("color: #5f6b7a;"));
    return label;
}

} // namespace

QWidget* MainWindow::buildInspector()
{
    auto* panel = new QWidget;
    panel->setFixedWidth(320);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(8, 0, 0, 0);
    column->setSpacing(16);

    auto* title = new QLabel(QStringLiteral("Inspector"));
    QFont titleFont = title->font();
    titleFont.setPointSize(titleFont.pointSize() + 4);
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    column->addWidget(title);
    column->addSpacing(8);

    auto* paperBox = new QGroupBox(QStringLiteral("Paper"));
    auto* paperLayout = new QVBoxLayout(paperBox);
    m_paperCombo = new QComboBox;
    // Each item carries the sheet's name, its stored identity, whatever text it shows.
    std::optional<PaperSeries> previousSeries;
    for (const PaperPreset& preset : allPaperPresets()) {
        if (previousSeries && *previousSeries != paperSeries(preset))
            m_paperCombo->insertSeparator(m_paperCombo->count());
        previousSeries = paperSeries(preset);
        m_paperCombo->addItem(preset.name, preset.name);
    }
    paperLayout->addWidget(m_paperCombo);
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

    auto* orientationBox = new QGroupBox(QStringLiteral("Orientation"));
    auto* orientationLayout = new QVBoxLayout(orientationBox);
    m_orientationCombo = new QComboBox;
    m_orientationCombo->addItem(QStringLiteral("Portrait"));
    m_orientationCombo->addItem(QStringLiteral("Landscape"));
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

    auto* alignmentBox = new QGroupBox(QStringLiteral("Alignment"));
    auto* grid = new QGridLayout(alignmentBox);
    grid->setSpacing(8);
    auto* group = new QButtonGroup(alignmentBox);
    group->setExclusive(true);
    for (int i = 0; i < 9; ++i) {
        const auto alignment = static_cast<PrintAlignment>(i);
        auto* button = new QToolButton;
        button->setIcon(alignmentIcon(alignment));
        button->setIconSize(QSize(28, 28));
        button->setToolTip(alignmentTitle(alignment));
        button->setCheckable(true);
        button->setFixedSize(44, 44);
        button->setStyleSheet(QStringLiteral(
            "QToolButton { border: 1px solid #cfd7e2; border-radius: 6px; background: #ffffff; }"
            "QToolButton:hover { background: #f3f7fc; border-color: #9db4d2; }"
            "QToolButton:checked { background: #e8f1ff; border: 2px solid #155ada; }"));
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

    auto* imageBox = new QGroupBox(QStringLiteral("Image"));
    auto* imageLayout = new QVBoxLayout(imageBox);
    m_imageNameLabel = new QLabel(QStringLiteral("No image loaded"));
    m_imageNameLabel->setWordWrap(true);
    m_imageNameLabel->setTextFormat(Qt::PlainText); // a file may be named <b>chart</b>.png
    imageLayout->addWidget(m_imageNameLabel);
    m_pixelsLabel = detailLabel();
    m_dpiLabel = detailLabel();
    m_printSizeLabel = detailLabel();
    m_colorModelLabel = detailLabel();
    m_iccLabel = detailLabel();
    for (QLabel* label : {m_pixelsLabel, m_dpiLabel, m_printSizeLabel, m_colorModelLabel, m_iccLabel})
        imageLayout->addWidget(label);
    column->addWidget(imageBox);

    m_logoButton = new QToolButton;
    m_logoButton->setIcon(QIcon(QStringLiteral(":/branding/quorvane-logo.png")));
    m_logoButton->setIconSize(QSize(260, 86));
    m_logoButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_logoButton->setToolTip(QStringLiteral("About Lumetra"));
    m_logoButton->setFixedHeight(112);
    m_logoButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_logoButton->setStyleSheet(QStringLiteral(
        "QToolButton { border: 1px solid #d8e0ea; border-radius: 6px; background: #ffffff; padding: 12px; }"
        "QToolButton:hover { background: #f8fbff; border-color: #9db4d2; }"));
    connect(m_logoButton, &QToolButton::clicked, this, [this] { showAboutDialog(); });
    column->addWidget(m_logoButton);

    m_errorLabel = new QLabel;
    m_errorLabel->setWordWrap(true);
    // Title and message are HTML-escaped before they get here (showError).
    m_errorLabel->setTextFormat(Qt::RichText);
    m_errorLabel->setStyleSheet(QStringLiteral(
        "QLabel { color: #8a1f11; background: #fdecea; border: 1px solid #f5c2c7; padding: 8px; }"));
    m_errorLabel->hide();
    column->addWidget(m_errorLabel);

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
    m_printAction->setEnabled(m_image.has_value());
    selectAlignment(m_settings.alignment);
    m_updatingControls = false;
}

void MainWindow::updatePreview()
{
    m_preview->setSettings(m_settings);
    m_preview->setImage(m_image);
    m_preview->setUnprintableMargins(m_printService.unprintableMargins(m_settings));
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
