#pragma once

#include "printmodel.h"

#include <QStringList>

namespace Lumetra {

// What the settings store keeps for printing, shared by the window and the command line: organisation
// "Quorvane", application "Lumetra".

// Paper, orientation and alignment as last chosen in the window: each field taken when its stored
// value is valid, else the default (the first DIN sheet, portrait, centred), never reported.
PrintSettings storedPrintSettings();

// The driver options of the last job to a queue, which the next job to it carries until the user
// picks others, with the driver's own names for them.
struct DriverSettings
{
    QStringList options;      // name/value pairs
    QStringList descriptions; // "Glossy Photo", ...
};
DriverSettings storedDriverSettings(const QString& queue);
void storeDriverSettings(const QString& queue, const DriverSettings& settings);
QStringList queuesWithDriverSettings();

} // namespace Lumetra
