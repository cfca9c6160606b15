#include "fileopenrouter.h"

#include <QCoreApplication>
#include <QFileOpenEvent>
#include <QUrl>

namespace Lumetra {

FileOpenRouter::FileOpenRouter(QObject* parent, std::function<void(const QString&)> open)
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
    QMetaObject::invokeMethod(
        this, [this, path] { m_open(path); }, Qt::QueuedConnection);
    return true;
}

} // namespace Lumetra
