#pragma once

#include <QGuiApplication>

namespace Lumetra {

// Shows the wait cursor for the life of the object, whatever way the scope is left.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace Lumetra
