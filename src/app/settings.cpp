#include "mainwindow.h"

#include "papergeometry.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace Lumetra {

namespace {

const QString kPaperKey = QStringLiteral("print/paper");
const QString kOrientationKey = QStringLiteral("print/orientation");
const QString kAlignmentKey = QStringLiteral("print/alignment");
const QString kQueueKey = QStringLiteral("print/queue");
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

// Each field is taken only when its stored value is valid; anything else keeps
// the default, field by field, and is never reported.
void MainWindow::loadPrintSettings()
{
    const QSettings settings = store();

    if (const std::optional<PaperPreset> paper = paperPresetNamed(settings.value(kPaperKey).toString()))
        m_settings.paper = *paper;

    const int orientation = settings.value(kOrientationKey, static_cast<int>(m_settings.orientation)).toInt();
    if (static_cast<quint32>(orientation) <= 1)
        m_settings.orientation = static_cast<PrintOrientation>(orientation);

    const int alignment = settings.value(kAlignmentKey, static_cast<int>(m_settings.alignment)).toInt();
    if (static_cast<quint32>(alignment) <= 8)
        m_settings.alignment = static_cast<PrintAlignment>(alignment);

    // A queue that no longer exists leaves the system's default in place.
    m_printService.setQueueName(settings.value(kQueueKey).toString());
}

void MainWindow::savePrintQueue()
{
    const QString queue = m_printService.queueName();
    if (!queue.isEmpty())
        store().setValue(kQueueKey, queue);
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
