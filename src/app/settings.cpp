#include "mainwindow.h"

#include "papergeometry.h"
#include "storedsettings.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace Lumetra {

namespace {

const QString kPaperKey = QStringLiteral("print/paper");
const QString kOrientationKey = QStringLiteral("print/orientation");
const QString kAlignmentKey = QStringLiteral("print/alignment");
const QString kQueueKey = QStringLiteral("print/queue");
const QString kPrintersGroup = QStringLiteral("printers");
const QString kOptionsKey = QStringLiteral("options");
const QString kDescriptionsKey = QStringLiteral("descriptions");
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kRecentKey = QStringLiteral("recent/entries");
const QString kPathsKey = QStringLiteral("paths");
const QString kOldRecentKey = QStringLiteral("recent/targets");
const QString kFolderKey = QStringLiteral("recent/folder");
constexpr int kMaxRecentTargets = 10;

QSettings store()
{
    return QSettings(QStringLiteral("Quorvane"), QStringLiteral("Lumetra"));
}

} // namespace

PrintSettings storedPrintSettings()
{
    PrintSettings stored;
    stored.paper = paperPresets().constFirst();
    const QSettings settings = store();

    if (const std::optional<PaperPreset> paper = paperPresetNamed(settings.value(kPaperKey).toString()))
        stored.paper = *paper;

    const int orientation = settings.value(kOrientationKey, static_cast<int>(stored.orientation)).toInt();
    if (static_cast<quint32>(orientation) <= 1)
        stored.orientation = static_cast<PrintOrientation>(orientation);

    const int alignment = settings.value(kAlignmentKey, static_cast<int>(stored.alignment)).toInt();
    if (static_cast<quint32>(alignment) <= 8)
        stored.alignment = static_cast<PrintAlignment>(alignment);
    return stored;
}

DriverSettings storedDriverSettings(const QString& queue)
{
    QSettings settings = store();
    settings.beginGroup(kPrintersGroup);
    settings.beginGroup(queue);
    return {settings.value(kOptionsKey).toStringList(), settings.value(kDescriptionsKey).toStringList()};
}

void storeDriverSettings(const QString& queue, const DriverSettings& driver)
{
    QSettings settings = store();
    settings.beginGroup(kPrintersGroup);
    settings.beginGroup(queue);
    settings.setValue(kOptionsKey, driver.options);
    settings.setValue(kDescriptionsKey, driver.descriptions);
}

QStringList queuesWithDriverSettings()
{
    QSettings settings = store();
    settings.beginGroup(kPrintersGroup);
    return settings.childGroups();
}

void MainWindow::loadPrintSettings()
{
    m_settings = storedPrintSettings();
    for (const QString& queue : queuesWithDriverSettings())
        m_printService.setKeptOptions(queue, storedDriverSettings(queue).options);
    // A queue that no longer exists leaves the system's default in place.
    m_printService.setQueueName(store().value(kQueueKey).toString());
}

void MainWindow::savePrintQueue()
{
    const QString queue = m_printService.queueName();
    if (queue.isEmpty())
        return;
    store().setValue(kQueueKey, queue);
    if (m_printService.lastJob() && m_printService.lastJob()->job.queue == queue)
        storeDriverSettings(queue,
                            {m_printService.keptOptions(queue), m_printService.lastJob()->driverSettings});
}

void MainWindow::savePrintSettings() const
{
    QSettings settings = store();
    settings.setValue(kPaperKey, m_settings.paper.name);
    settings.setValue(kOrientationKey, static_cast<int>(m_settings.orientation));
    settings.setValue(kAlignmentKey, static_cast<int>(m_settings.alignment));
}

QByteArray MainWindow::storedWindowGeometry()
{
    return store().value(kGeometryKey).toByteArray();
}

void MainWindow::storeWindowGeometry(const QByteArray& geometry)
{
    store().setValue(kGeometryKey, geometry);
}

// Most recent first, at most ten; each entry the absolute paths of one target, several for a set.
// A list of single paths kept by an earlier version is read as targets of one file each.
QList<QStringList> MainWindow::recentTargets()
{
    QSettings settings = store();
    QList<QStringList> recent;
    const int count = settings.beginReadArray(kRecentKey);
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        if (const QStringList paths = settings.value(kPathsKey).toStringList(); !paths.isEmpty())
            recent << paths;
    }
    settings.endArray();
    if (count == 0) {
        for (const QString& path : settings.value(kOldRecentKey).toStringList())
            recent << QStringList(path);
    }
    return recent.mid(0, kMaxRecentTargets);
}

void MainWindow::rememberTargets(const QStringList& paths)
{
    QStringList absolute;
    for (const QString& path : paths)
        absolute << QFileInfo(path).absoluteFilePath();
    QList<QStringList> recent = recentTargets();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    clearRecentTargets();
    QSettings settings = store();
    settings.beginWriteArray(kRecentKey);
    for (int i = 0; i < std::min(int(recent.size()), kMaxRecentTargets); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(kPathsKey, recent.at(i));
    }
    settings.endArray();
}

// The folder the Load dialog was last left in, else that of the last target.
QString MainWindow::browsedFolder()
{
    const QString folder = store().value(kFolderKey).toString();
    if (!folder.isEmpty())
        return folder;
    const QList<QStringList> recent = recentTargets();
    return recent.isEmpty() ? QString() : QFileInfo(recent.constFirst().constFirst()).absolutePath();
}

void MainWindow::rememberBrowsedFolder(const QString& folder)
{
    store().setValue(kFolderKey, folder);
}

void MainWindow::clearRecentTargets()
{
    QSettings settings = store();
    settings.remove(kRecentKey);
    settings.remove(kOldRecentKey);
}

} // namespace Lumetra
