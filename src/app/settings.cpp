#include "mainwindow.h"

#include "papergeometry.h"

#include <QFileInfo>
#include <QSettings>

namespace Lumetra {

namespace {

const QString kPaperKey = QStringLiteral("print/paper");
const QString kOrientationKey = QStringLiteral("print/orientation");
const QString kAlignmentKey = QStringLiteral("print/alignment");
const QString kQueueKey = QStringLiteral("print/queue");
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kRecentKey = QStringLiteral("recent/targets");
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

// Most recent first, absolute paths, at most ten.
QStringList MainWindow::recentTargets()
{
    return store().value(kRecentKey).toStringList().mid(0, kMaxRecentTargets);
}

void MainWindow::rememberTarget(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList recent = recentTargets();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    store().setValue(kRecentKey, recent.mid(0, kMaxRecentTargets));
}

void MainWindow::clearRecentTargets()
{
    store().remove(kRecentKey);
}

} // namespace Lumetra
