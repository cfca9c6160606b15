#pragma once

#include <QObject>
#include <QSet>

class QWidget;

namespace Lumetra {

// Shows the wait cursor for the life of the object, whatever way the scope is left.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// For work that starts with a dialog and goes on after it: shows the wait cursor
// from the moment a dialog whose parent is `owner` is accepted until the object
// goes away. While the dialog is up, and after a cancelled one, the cursor is
// left alone. Used around printing, where the print dialog comes first and the
// job is spooled afterwards inside the same call.
class BusyCursorAfterAccept : public QObject
{
public:
    explicit BusyCursorAfterAccept(QWidget* owner);
    ~BusyCursorAfterAccept() override;

    bool isBusy() const { return m_busy; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void begin();

    QWidget* m_owner;
    QSet<QObject*> m_hooked;
    bool m_busy = false;
};

} // namespace Lumetra
