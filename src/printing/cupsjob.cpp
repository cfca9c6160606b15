#include "cupsjob.h"

#include "cupsdestination.h"
#include "printservice.h"

#include <QFile>

#include <memory>

namespace Lumetra {

namespace {

// Cancels a job that has been created, on a connection of its own: the one that carried the
// document may be in the middle of a request.
void cancelJob(const QString& queue, int jobId)
{
    try {
        const CupsDestination d = openDestination(queue);
        cupsCancelDestJob(d.http.get(), d.dest.get(), jobId);
    } catch (const PrintException&) {
        // A scheduler that has gone has no job left to cancel.
    }
}

} // namespace

int submitPdf(const QString& queue, const QString& pdfPath, const JobOptions& options,
              const std::function<void(qint64 sent, qint64 total)>& sent, const std::atomic_bool& cancelled)
{
    QFile file(pdfPath);
    if (!file.open(QIODevice::ReadOnly))
        throw PrintException(sendFailure(queue, file.errorString()));
    CupsDestination d = openDestination(queue);

    cups_option_t* cupsOptions = nullptr;
    int count = 0;
    for (const auto& [name, value] : options)
        count = cupsAddOption(name.toUtf8().constData(), value.toUtf8().constData(), count, &cupsOptions);
    const std::unique_ptr<cups_option_t, std::function<void(cups_option_t*)>> optionsGuard(
        cupsOptions, [count](cups_option_t* o) { cupsFreeOptions(count, o); });

    int jobId = 0;
    if (cupsCreateDestJob(d.http.get(), d.dest.get(), d.info.get(), &jobId, "Lumetra", count, cupsOptions) >
        IPP_STATUS_OK_CONFLICTING)
        throw PrintException(sendFailure(queue, lastCupsError()));
    // Whatever stops the hand-over half way, the job must not stay behind with part of a document.
    const auto abandon = [&] {
        d.http.reset(); // ends a request in progress, so that the scheduler never takes the part sent
        cancelJob(queue, jobId);
    };
    const auto fail = [&](const QString& reason) {
        abandon();
        return PrintException(sendFailure(queue, reason));
    };
    if (cancelled) {
        abandon();
        return 0;
    }
    if (cupsStartDestDocument(d.http.get(), d.dest.get(), d.info.get(), jobId, "Lumetra", CUPS_FORMAT_PDF, 0,
                              nullptr, 1) != HTTP_STATUS_CONTINUE)
        throw fail(lastCupsError());
    const qint64 total = file.size();
    qint64 done = 0;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    sent(0, total);
    while (true) {
        if (cancelled) {
            abandon();
            return 0;
        }
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0)
            throw fail(file.errorString());
        if (read == 0)
            break;
        if (cupsWriteRequestData(d.http.get(), buffer.constData(), size_t(read)) != HTTP_STATUS_CONTINUE)
            throw fail(lastCupsError());
        done += read;
        sent(done, total);
    }
    if (cupsFinishDestDocument(d.http.get(), d.dest.get(), d.info.get()) > IPP_STATUS_OK_CONFLICTING)
        throw fail(lastCupsError());
    return jobId;
}

} // namespace Lumetra
