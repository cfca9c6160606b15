#pragma once

// Inside the printing library only: a queue of the default scheduler with a connection to it.

#include <QString>

#include <cups/cups.h>

#include <memory>

namespace Lumetra {

struct CupsDestination
{
    struct DestDeleter
    {
        void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
    };
    struct InfoDeleter
    {
        void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
    };
    struct HttpDeleter
    {
        void operator()(http_t* http) const { httpClose(http); }
    };

    std::unique_ptr<cups_dest_t, DestDeleter> dest;
    std::unique_ptr<http_t, HttpDeleter> http;
    std::unique_ptr<cups_dinfo_t, InfoDeleter> info;

    // The value of one of the queue's attributes as the scheduler listed it; empty when absent.
    QString attribute(const char* name) const;
};

// Opens the queue on the default scheduler; throws PrintException naming the queue and the
// scheduler's reason when the queue is gone or the scheduler does not answer.
CupsDestination openDestination(const QString& queue);

// "The print job could not be sent to "queue": reason"
QString sendFailure(const QString& queue, const QString& reason);

// The scheduler's reason for the last failure on this thread.
QString lastCupsError();

} // namespace Lumetra
