#pragma once

#include "joboptions.h"

#include <QString>

#include <atomic>
#include <functional>

namespace Lumetra {

// Hands a PDF file to the queue as one job with the options in the order given (a later option of
// the same name replaces an earlier one) and returns the job's id. `sent` is called with the bytes
// sent so far and the total. When `cancelled` is set before the hand-over is complete, the job is
// cancelled on the scheduler and 0 is returned. Throws PrintException naming the queue and the
// scheduler's reason.
int submitPdf(const QString& queue, const QString& pdfPath, const JobOptions& options,
              const std::function<void(qint64 sent, qint64 total)>& sent, const std::atomic_bool& cancelled);

} // namespace Lumetra
