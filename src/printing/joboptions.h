#pragma once

#include "queueinfo.h"

#include <QList>
#include <QPageLayout>
#include <QPair>
#include <QString>
#include <QStringList>

namespace Lumetra {

using JobOptions = QList<QPair<QString, QString>>;

// The sheet's standard media name (for example "iso_a4_210x297mm"), or a custom size named by its
// millimetres. Media names are portrait; the orientation does not change them.
QString mediaName(double widthMillimeters, double heightMillimeters);
QString mediaName(const QPageLayout& layout);

// Job options that keep the sheet true to size, whole and in its colours whatever the queue's
// defaults say, for a job of `pages` pages; they go onto every job last, so they win.
JobOptions pinnedJobOptions(int pages);

// The queue driver's own choices that keep the target's colours and size: the colour choice of its
// colour-mode option (the user's own when that is a colour choice) and the size-keeping choice of any
// option that shrinks or enlarges the page. Only choices the driver defines.
JobOptions driverPins(const QueueInfo& queue, const QStringList& userOptions);

// True when the queue's driver prints grey only, so that no option can bring the colours to paper.
bool printsGreyOnly(const QueueInfo& queue);

// The dialog's options for this print with the driver options of the previous print to the same
// queue carried over where this dialog sets none. Qt's dialog starts every time from the driver's
// defaults and writes only the driver options that differ from them, so without this a series of
// prints would lose its paper type and quality after the first sheet. Job-level settings (banner
// pages, hold, page set, pages per sheet) are never carried over.
QStringList keptDriverOptions(const QStringList& previous, const QStringList& chosen);

// The driver's own options among the user's (name/value pairs): what is worth keeping for the next
// job to the queue. Job-level settings (copies, media, banner pages, hold, page set, pages per sheet)
// and the options Lumetra pins are not.
QStringList driverOptionsOf(const QStringList& userOptions);

// How the driver names the options' choices, for people: "Premium Glossy Photo Paper", "Print Quality: Photo". An option
// the driver does not define is shown by its name and value.
QStringList describeDriverOptions(const QList<DriverOption>& driver, const QStringList& options);

// The options a job carries, in the order they are sent: the user's own (name/value pairs as the
// print dialog keeps them), copies, the sheet's media, then the pinned options and the driver's pins.
JobOptions jobOptions(const QStringList& userOptions, int copies, const QPageLayout& layout, int pages,
                      const QueueInfo& queue);

} // namespace Lumetra
