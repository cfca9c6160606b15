#include "mainwindow.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace Lumetra {

namespace {

const QString kMakerUrl = QStringLiteral("https://quorvane.com");

} // namespace

void MainWindow::showAboutDialog()
{
    QDialog dialog(this);
    dialog.setWindowTitle(tr("About Lumetra"));
    dialog.setModal(true);

    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(24, 24, 24, 18);
    layout->setSpacing(14);

    auto* logo = new QLabel;
    // Scaled for the screen's pixel density, so that it stays sharp on a high-density screen.
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = QPixmap(QStringLiteral(":/branding/quorvane-logo.png"))
                         .scaled(QSize(360, 120) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    pixmap.setDevicePixelRatio(ratio);
    logo->setPixmap(pixmap);
    logo->setAlignment(Qt::AlignCenter);
    layout->addWidget(logo);

    auto* name = new QLabel(tr("Lumetra"));
    QFont nameFont = name->font();
    nameFont.setPointSize(nameFont.pointSize() + 8);
    nameFont.setWeight(QFont::Bold);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    auto* maker = new QLabel(tr("Developed by Quorvane Limited"));
    maker->setAlignment(Qt::AlignCenter);
    layout->addWidget(maker);

    auto* version = new QLabel(tr("Version %1").arg(QCoreApplication::applicationVersion()));
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);

    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(kMakerUrl));
    link->setTextFormat(Qt::RichText);
    link->setAlignment(Qt::AlignCenter);
    link->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                  Qt::LinksAccessibleByKeyboard);
    connect(link, &QLabel::linkActivated, this,
            [](const QString& target) { QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode)); });
    layout->addWidget(link);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* close = new QPushButton(tr("Close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    dialog.exec();
}

} // namespace Lumetra
