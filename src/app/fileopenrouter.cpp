#include "fileopenrouter.h"

#include <QCoreApplication>
#include <QFileOpenEvent>
#include <QUrl>

#include <utility>

namespace Lumetra {

FileOpenRouter::FileOpenRouter(QObject* parent, std::function<void(const QStringList&)> open)
    : QObject(parent), m_open(std::move(open))
{
    QCoreApplication::instance()->installEventFilter(this);
}

FileOpenRouter::~FileOpenRouter()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool FileOpenRouter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != QCoreApplication::instance() || event->type() != QEvent::FileOpen)
        return false;
    const auto* open = static_cast<QFileOpenEvent*>(event);
    QString path = open->file();
    if (path.isEmpty())
        path = open->url().toLocalFile();
    if (path.isEmpty())
        return false;
    // After the event has returned: the sender must not wait on a question the load may ask.
    // The events of one multiple selection are queued ahead of this call, so they join in.
    if (m_pending.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this] { m_open(std::exchange(m_pending, {})); }, Qt::QueuedConnection);
    }
    m_pending << path;
    return true;
}

} // namespace Lumetra
