#pragma once

#include "printmodel.h"
#include "printservice.h"
#include "targetset.h"
#include "usererror.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace Lumetra {

// The print history could not be written or read, with a finished message for the user.
class PrintHistoryException : public UserError
{
public:
    using UserError::UserError;
};

// What the person measuring the chart later needs to know of a job that printed: each page that
// printed (its file by path and SHA-256, page, pixels and resolution), the sheet and its layout,
// where it went, every option sent, and Lumetra's version. `set` is the set the job was made from,
// its pages in the job's order; `jobId` is 0 for a PDF file.
QJsonObject printRecord(const TargetSet& set, const CheckedJob& job, int jobId, const QDateTime& time);

// The records of every print, one compact JSON object a line, oldest first, in the application's
// data folder. Lines are only ever appended, so a crash mid-write costs at most the record written.
class PrintHistory
{
public:
    // Creates the folder, so that the path can be shown and opened before the first print.
    static QString filePath();
    // Throws PrintHistoryException when the file cannot be written.
    static void append(const QJsonObject& record);
    // The last `count` records (every record when negative), oldest first; a line that is not a
    // JSON object, such as one cut short by a crash, is not a record. None while there is no file.
    // Throws PrintHistoryException when the file cannot be read.
    static QList<QByteArray> lastLines(int count = -1);
};

} // namespace Lumetra
