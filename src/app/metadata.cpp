#include "mainwindow.h"

#include "papergeometry.h"
#include "targetwarnings.h"

#include <QLabel>

namespace Lumetra {

namespace {

// The loader names the colour model in English; the names are shown through the translation.
QString colorModelName(const QString& model)
{
    if (model == QLatin1String("RGB"))
        return MainWindow::tr("RGB");
    if (model == QLatin1String("Grayscale"))
        return MainWindow::tr("Grayscale");
    if (model == QLatin1String("CMYK"))
        return MainWindow::tr("CMYK");
    return model;
}

} // namespace

void MainWindow::updateMetadata()
{
    if (!m_image) {
        m_imageNameLabel->setText(tr("No image loaded"));
        for (QLabel* label : {m_pixelsLabel, m_dpiLabel, m_printSizeLabel, m_colorModelLabel, m_iccLabel})
            label->clear();
        m_pageCountLabel->hide();
        m_pageDifferencesLabel->hide();
        return;
    }
    const PrintableImage& image = *m_image;
    const int rotation = m_settings.rotationDegrees;
    const SizeD millimeters = rotatedSize(image.printSizeMillimeters(), rotation);
    const SizeD inches = rotatedSize(image.printSizeInches(), rotation);

    const bool isSet = m_set.pages.size() > 1;
    m_imageNameLabel->setText(isSet ? m_set.pages.at(m_pageShown).name() : image.fileName);
    m_pixelsLabel->setText(tr("Pixels: %1 x %2").arg(image.pixelWidth).arg(image.pixelHeight));
    // A resolution the file does not state prints the target at a size nobody chose; say so.
    const QString dpiX = QString::number(image.dpiX, 'f', 2);
    const QString dpiY = QString::number(image.dpiY, 'f', 2);
    m_dpiLabel->setText(image.resolutionAssumed ? tr("DPI: %1 x %2 (not stated in the file)").arg(dpiX, dpiY)
                                                : tr("DPI: %1 x %2").arg(dpiX, dpiY));
    // No-break spaces keep each size with its unit when the line wraps.
    const QString inchSize =
        tr("%1\u00a0x\u00a0%2\u00a0in")
            .arg(QString::number(inches.width, 'f', 2), QString::number(inches.height, 'f', 2));
    const QString millimetreSize =
        tr("%1\u00a0x\u00a0%2\u00a0mm")
            .arg(QString::number(millimeters.width, 'f', 1), QString::number(millimeters.height, 'f', 1));
    m_printSizeLabel->setText(
        image.resolutionAssumed
            ? tr("Print size: %1 / %2 (at the assumed resolution)").arg(inchSize, millimetreSize)
            : tr("Print size: %1 / %2").arg(inchSize, millimetreSize));
    QString colorModel = image.colorModel == QLatin1String("CMYK")
                             ? tr("Color model: %1 (printed as RGB)").arg(colorModelName(image.colorModel))
                             : tr("Color model: %1").arg(colorModelName(image.colorModel));
    // Channels left out of the print are never dropped without a word.
    if (image.ignoredChannels == 1)
        colorModel += tr(", 1 extra channel ignored");
    else if (image.ignoredChannels > 1)
        colorModel += tr(", %1 extra channels ignored").arg(image.ignoredChannels);
    m_colorModelLabel->setText(colorModel);

    m_iccLabel->setText(image.hasIccProfile ? tr("ICC Profile: %1 (Ignored)").arg(profileName(image))
                                            : tr("ICC Profile: none"));

    m_pageCountLabel->setVisible(isSet);
    m_pageCountLabel->setText(isSet ? tr("Pages in set: %1").arg(m_set.pages.size()) : QString());
    // Allowed, but worth a look before paper is spent: the pages will not print alike.
    QStringList differences;
    if (const QStringList names = m_set.pagesWithOtherResolution(); !names.isEmpty())
        differences << tr("Resolution differs from page 1: %1").arg(names.join(QStringLiteral(", ")));
    if (const QStringList names = m_set.pagesWithOtherColorModel(); !names.isEmpty())
        differences << tr("Color model differs from page 1: %1").arg(names.join(QStringLiteral(", ")));
    m_pageDifferencesLabel->setVisible(!differences.isEmpty());
    m_pageDifferencesLabel->setText(differences.join(QLatin1Char('\n')));
}

} // namespace Lumetra
