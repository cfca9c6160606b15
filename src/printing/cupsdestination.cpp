#include "cupsdestination.h"

#include "printservice.h"

#include <QCoreApplication>

namespace Lumetra {

QString CupsDestination::attribute(const char* name) const
{
    const char* value = cupsGetOption(name, dest->num_options, dest->options);
    return QString::fromUtf8(value ? value : "");
}

QString sendFailure(const QString& queue, const QString& reason)
{
    return QCoreApplication::translate("Lumetra::PrintService",
                                       "The print job could not be sent to \"%1\": %2")
        .arg(queue, reason);
}

QString lastCupsError()
{
    return QString::fromUtf8(cupsLastErrorString());
}

CupsDestination openDestination(const QString& queue)
{
    CupsDestination d;
    d.dest.reset(cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.toUtf8().constData(), nullptr));
    if (!d.dest)
        throw PrintException(sendFailure(queue, lastCupsError()));
    // The queues Qt's dialog lists are those of the default scheduler, which may be a local socket
    // that the queue's own URI does not name.
    d.http.reset(
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr));
    if (!d.http)
        throw PrintException(sendFailure(queue, lastCupsError()));
    d.info.reset(cupsCopyDestInfo(d.http.get(), d.dest.get()));
    if (!d.info)
        throw PrintException(sendFailure(queue, lastCupsError()));
    return d;
}

} // namespace Lumetra
