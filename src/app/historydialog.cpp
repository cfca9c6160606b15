#include "mainwindow.h"

#include "printrecord.h"

#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace Lumetra {

namespace {

// The records, each holding its JSON line; Copy and the copy keys take the whole line of the record
// selected, where the view itself would copy a single cell.
class HistoryList : public QTreeWidget
{
public:
    using QTreeWidget::QTreeWidget;

    void copyRecord() const
    {
        if (const QTreeWidgetItem* item = currentItem())
            QGuiApplication::clipboard()->setText(
                QString::fromUtf8(item->data(0, Qt::UserRole).toByteArray()));
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Copy))
            copyRecord();
        else
            QTreeWidget::keyPressEvent(event);
    }
};

} // namespace

// One record as the history list shows it: date, target, sheet, printer, job and the settings the user
// chose, which are the options sent before the sheet's media; those from it on are Lumetra's own.
QStringList MainWindow::historyColumns(const QJsonObject& record)
{
    const QJsonArray pages = record.value(QStringLiteral("pages")).toArray();
    const QJsonObject first = pages.at(0).toObject();
    QString target = QFileInfo(first.value(QStringLiteral("file")).toString()).fileName();
    if (const int page = first.value(QStringLiteral("page")).toInt(); page > 1)
        target = tr("%1, page %2").arg(target).arg(page);
    target = setName(target, int(pages.size()));

    const QString sheet =
        tr("%1, %2").arg(record.value(QStringLiteral("sheet")).toString(),
                         record.value(QStringLiteral("orientation")).toString() == QLatin1String("landscape")
                             ? tr("Landscape")
                             : tr("Portrait"));
    const QString queue = record.value(QStringLiteral("queue")).toString();
    const QJsonValue jobId = record.value(QStringLiteral("jobId"));
    const QString job = jobId.isDouble()
                            ? QString::number(jobId.toInt())
                            : QFileInfo(record.value(QStringLiteral("pdf")).toString()).fileName();
    // The dialog's own options the pins after the media override (pages per sheet, banners) say nothing.
    QList<QPair<QString, QString>> sent;
    for (const QJsonValue& option : record.value(QStringLiteral("options")).toArray())
        sent.append({option[0].toString(), option[1].toString()});
    const auto media = std::find_if(sent.cbegin(), sent.cend(), [](const auto& option) {
        return option.first == QLatin1String("media");
    });
    QStringList chosen;
    for (auto option = sent.cbegin(); option != media; ++option) {
        const bool pinned = std::any_of(media, sent.cend(),
                                        [&option](const auto& pin) { return pin.first == option->first; });
        if (!pinned && !option->second.isEmpty())
            chosen << option->first + u'=' + option->second;
    }
    return {QDateTime::fromString(record.value(QStringLiteral("time")).toString(), Qt::ISODate)
                .toLocalTime()
                .toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            target,
            sheet,
            queue.isEmpty() ? tr("PDF file") : queue,
            job,
            chosen.join(QStringLiteral(", "))};
}

void MainWindow::showPrintHistory()
{
    QList<QByteArray> lines;
    try {
        lines = PrintHistory::lastLines();
    } catch (const PrintHistoryException& error) {
        showError(tr("Could not show the print history"), error.message());
        return;
    }

    QDialog dialog(this);
    dialog.setWindowTitle(tr("Print History"));
    auto* layout = new QVBoxLayout(&dialog);

    auto* list = new HistoryList;
    list->setObjectName(QStringLiteral("historyList"));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setHeaderLabels({tr("Date"), tr("Target"), tr("Sheet"), tr("Printer"), tr("Job"), tr("Settings")});
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) { // newest first
        const QJsonObject record = QJsonDocument::fromJson(*line).object();
        auto* item = new QTreeWidgetItem(list, historyColumns(record));
        item->setData(0, Qt::UserRole, *line);
        // The list names files only; where each page came from and what it held is on its tip.
        QStringList pages;
        for (const QJsonValue& page : record.value(QStringLiteral("pages")).toArray()) {
            pages << tr("%1, page %2\nSHA-256 %3")
                         .arg(QDir::toNativeSeparators(page[QStringLiteral("file")].toString()))
                         .arg(page[QStringLiteral("page")].toInt())
                         .arg(page[QStringLiteral("sha256")].toString());
        }
        item->setToolTip(1, pages.join(u'\n'));
    }
    for (int column = 0; column < list->columnCount(); ++column)
        list->resizeColumnToContents(column);
    list->setCurrentItem(list->topLevelItem(0));
    list->setVisible(!lines.isEmpty());
    layout->addWidget(list, 1);

    auto* none = new QLabel(tr("No prints have been recorded yet."));
    none->setObjectName(QStringLiteral("historyEmpty"));
    none->setAlignment(Qt::AlignCenter);
    none->setVisible(lines.isEmpty());
    layout->addWidget(none, 1);

    auto* where = new QLabel(tr("Kept in %1").arg(QDir::toNativeSeparators(PrintHistory::filePath())));
    where->setTextFormat(Qt::PlainText);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(where);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QPushButton* copy = buttons->addButton(tr("&Copy"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyButton"));
    copy->setEnabled(!lines.isEmpty());
    copy->setToolTip(tr("Copies the selected record as one line of JSON"));
    connect(copy, &QPushButton::clicked, &dialog, [list] { list->copyRecord(); });
    buttons->button(QDialogButtonBox::Close)->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    dialog.resize(900, 420);
    list->setFocus();
    dialog.exec();
}

} // namespace Lumetra
