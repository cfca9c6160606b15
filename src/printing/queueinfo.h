#pragma once

#include <QList>
#include <QMarginsF>
#include <QPageLayout>
#include <QPair>
#include <QString>
#include <QStringList>

namespace Lumetra {

// One choice-of-one option of a queue's driver, as its PPD states it.
struct DriverOption
{
    QString keyword;                        // "ColorModel"
    QString text;                           // "Color Model"
    QString defaultChoice;                  // "Gray"
    QList<QPair<QString, QString>> choices; // keyword and text of each, in the PPD's order
};

// What a queue offers for one sheet, as its scheduler, its driver's PPD and its printer tell it.
struct QueueInfo
{
    QString name;
    QString deviceUri;
    QString makeAndModel;
    // The queue's media: whether it holds the sheet (a standard size or within its custom sizes), and
    // otherwise which of Lumetra's sheets it does hold. A queue that names no media at all (a raw
    // queue) holds every sheet as far as anyone can tell.
    bool offersSheet = true;
    QStringList sheetsOffered;
    // What the printer cannot print at each edge of the media the job goes out on, in millimetres,
    // oriented like the layout.
    QMarginsF margins;
    // The driver's own word: whether it prints colour, its options, and whether the queue hands the
    // printer a PDF (which the printer then lays out on its own terms).
    bool colorDevice = true;
    QList<DriverOption> options;
    bool sendsPdfToPrinter = false;
};

// Asks the scheduler about the queue and the layout's sheet. Throws PrintException naming the queue
// when the queue is gone or does not accept jobs.
QueueInfo describeQueue(const QString& queue, const QPageLayout& layout);

// The printer's own scaling default ("fit", "none", ...) behind a queue whose device is an IPP
// printer; empty when the device is something else or does not answer within `timeoutMs`.
QString printerScalingDefault(const QString& queue, int timeoutMs);

} // namespace Lumetra
