#include "busycursor.h"

#include <QCoreApplication>
#include <QDialog>
#include <QGuiApplication>

namespace Lumetra {

BusyCursor::BusyCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor()
{
    QGuiApplication::restoreOverrideCursor();
}

BusyCursorAfterAccept::BusyCursorAfterAccept(QWidget* owner) : m_owner(owner)
{
    QCoreApplication::instance()->installEventFilter(this);
}

BusyCursorAfterAccept::~BusyCursorAfterAccept()
{
    QCoreApplication::instance()->removeEventFilter(this);
    if (m_busy)
        QGuiApplication::restoreOverrideCursor();
}

bool BusyCursorAfterAccept::eventFilter(QObject* watched, QEvent* event)
{
    Q_UNUSED(event);
    // The dialog is created and run inside a call we do not own, so it is
    // recognised by its parent on the first event it receives (native dialogs
    // may never see a Show event).
    if (m_busy || m_hooked.contains(watched))
        return false;
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (!dialog || dialog->parentWidget() != m_owner)
        return false;
    m_hooked.insert(dialog);
    connect(dialog, &QDialog::accepted, this, &BusyCursorAfterAccept::begin);
    connect(dialog, &QObject::destroyed, this, [this, dialog] { m_hooked.remove(dialog); });
    return false;
}

void BusyCursorAfterAccept::begin()
{
    if (m_busy)
        return;
    m_busy = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

} // namespace Lumetra
