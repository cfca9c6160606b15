#pragma once

#include <QList>
#include <QMarginsF>
#include <QPageLayout>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

namespace Lumetra {

using JobOptions = QList<QPair<QString, QString>>;

// Job options that keep the sheet true to size and its colours untouched whatever the queue's
// defaults say; they go onto every job last, so they win over anything chosen before.
JobOptions pinnedJobOptions();

// The standard media name of the layout's sheet (for example "iso_a4_210x297mm"), or a custom
// size named by its millimetres. Media names are portrait; the orientation does not change them.
QString mediaName(const QPageLayout& layout);

// The dialog's options for this print with the driver options of the previous print to the same
// queue carried over where this dialog sets none. Qt's dialog starts every time from the driver's
// defaults and writes only the driver options that differ from them, so without this a series of
// prints would lose its paper type and quality after the first sheet. Job-level settings (banner
// pages, hold, page set, pages per sheet) are never carried over.
QStringList keptDriverOptions(const QStringList& previous, const QStringList& chosen);

// The options a job carries: the user's own (name/value pairs as the print dialog keeps them),
// copies, the sheet's media, then the pinned options.
JobOptions jobOptions(const QStringList& userOptions, int copies, const QPageLayout& layout);

// What the queue cannot print on at the edges of the layout's sheet, in millimetres, oriented like
// the layout. Zero margins when the queue prints the sheet borderless or tells nothing.
// Throws PrintException when the queue is gone.
QMarginsF unprintableMargins(const QString& queue, const QPageLayout& layout);

// Hands a PDF file to the queue as one job and returns the job's id. `sent` is called with the
// bytes sent so far and the total. Throws PrintException naming the queue and the scheduler's reason.
int submitPdf(const QString& queue, const QString& pdfPath, const JobOptions& options,
              const std::function<void(qint64 sent, qint64 total)>& sent);

} // namespace Lumetra
