#include "cupsjob.h"

#include "printservice.h"

#include <QCoreApplication>
#include <QFile>

#include <cups/cups.h>

#include <memory>

namespace Lumetra {

namespace {

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
using Dest = std::unique_ptr<cups_dest_t, DestDeleter>;
using DestInfo = std::unique_ptr<cups_dinfo_t, InfoDeleter>;
using Http = std::unique_ptr<http_t, HttpDeleter>;

// The queue, a connection to its scheduler and what the scheduler knows about it.
struct Destination
{
    Dest dest;
    Http http;
    DestInfo info;
};

Destination connect(const QString& queue)
{
    Destination d;
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

} // namespace

JobOptions pinnedJobOptions()
{
    // Each of these would otherwise let the filters or the queue's defaults resize, move, turn,
    // mirror, frame, tile or colour-convert the target.
    return {{QStringLiteral("print-scaling"), QStringLiteral("none")},
            {QStringLiteral("fit-to-page"), QStringLiteral("false")},
            {QStringLiteral("fitplot"), QStringLiteral("false")},
            {QStringLiteral("fill"), QStringLiteral("false")},
            {QStringLiteral("crop-to-fit"), QStringLiteral("false")},
            {QStringLiteral("scaling"), QStringLiteral("100")},
            {QStringLiteral("natural-scaling"), QStringLiteral("100")},
            {QStringLiteral("number-up"), QStringLiteral("1")},
            {QStringLiteral("number-up-layout"), QStringLiteral("lrtb")},
            {QStringLiteral("page-border"), QStringLiteral("none")},
            {QStringLiteral("mirror"), QStringLiteral("false")},
            {QStringLiteral("mirror-print"), QStringLiteral("false")},
            {QStringLiteral("position"), QStringLiteral("center")},
            {QStringLiteral("orientation-requested"), QStringLiteral("3")},
            {QStringLiteral("cm-calibration"), QStringLiteral("true")}};
}

QString mediaName(const QPageLayout& layout)
{
    const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);
    // Hundredths of a millimetre, the unit of PWG media sizes; a standard size within a tenth of a
    // millimetre keeps its standard name.
    const int width = qRound(mm.width() * 100);
    const int height = qRound(mm.height() * 100);
    const pwg_media_t* media = pwgMediaForSize(width, height);
    return media ? QString::fromUtf8(media->pwg) : QString();
}

QStringList keptDriverOptions(const QStringList& previous, const QStringList& chosen)
{
    QStringList names;
    for (qsizetype i = 0; i + 1 < chosen.size(); i += 2)
        names << chosen.at(i);
    QStringList kept = chosen;
    for (qsizetype i = 0; i + 1 < previous.size(); i += 2) {
        const QString& name = previous.at(i);
        if (names.contains(name) || name.startsWith(QLatin1String("job-")) ||
            name.startsWith(QLatin1String("page-")) || name.startsWith(QLatin1String("number-up")))
            continue;
        kept << name << previous.at(i + 1);
    }
    return kept;
}

JobOptions jobOptions(const QStringList& userOptions, int copies, const QPageLayout& layout)
{
    JobOptions options;
    for (qsizetype i = 0; i + 1 < userOptions.size(); i += 2)
        options.append({userOptions.at(i), userOptions.at(i + 1)});
    if (copies > 1)
        options.append({QStringLiteral("copies"), QString::number(copies)});
    options.append({QStringLiteral("media"), mediaName(layout)});
    options.append(pinnedJobOptions());
    return options;
}

QMarginsF unprintableMargins(const QString& queue, const QPageLayout& layout)
{
    const Destination d = connect(queue);
    const QByteArray media = mediaName(layout).toUtf8();
    cups_size_t size{};
    // Asked for borderless, the scheduler answers with the sheet's smallest margins: none at all
    // when the queue prints it to the edge.
    if (!cupsGetDestMediaByName(d.http.get(), d.dest.get(), d.info.get(), media.constData(),
                                CUPS_MEDIA_FLAGS_BORDERLESS, &size))
        return {};
    // Hundredths of a millimetre, for the sheet in portrait. A landscape page goes onto the portrait
    // media turned a quarter anticlockwise, so its top edge lies on the media's left edge.
    const QMarginsF portrait(size.left / 100.0, size.top / 100.0, size.right / 100.0, size.bottom / 100.0);
    if (layout.orientation() == QPageLayout::Landscape)
        return {portrait.bottom(), portrait.left(), portrait.top(), portrait.right()};
    return portrait;
}

int submitPdf(const QString& queue, const QString& pdfPath, const JobOptions& options,
              const std::function<void(qint64 sent, qint64 total)>& sent)
{
    QFile file(pdfPath);
    if (!file.open(QIODevice::ReadOnly))
        throw PrintException(sendFailure(queue, file.errorString()));
    const Destination d = connect(queue);

    cups_option_t* cupsOptions = nullptr;
    int count = 0;
    // A later option of the same name replaces an earlier one, so the pinned options win.
    for (const auto& [name, value] : options)
        count = cupsAddOption(name.toUtf8().constData(), value.toUtf8().constData(), count, &cupsOptions);
    const std::unique_ptr<cups_option_t, std::function<void(cups_option_t*)>> optionsGuard(
        cupsOptions, [count](cups_option_t* o) { cupsFreeOptions(count, o); });

    int jobId = 0;
    if (cupsCreateDestJob(d.http.get(), d.dest.get(), d.info.get(), &jobId, "Lumetra", count, cupsOptions) >
        IPP_STATUS_OK_CONFLICTING)
        throw PrintException(sendFailure(queue, lastCupsError()));
    const auto cancel = [&] {
        const QString reason = lastCupsError();
        cupsCancelDestJob(d.http.get(), d.dest.get(), jobId);
        return PrintException(sendFailure(queue, reason));
    };
    if (cupsStartDestDocument(d.http.get(), d.dest.get(), d.info.get(), jobId, "Lumetra", CUPS_FORMAT_PDF, 0,
                              nullptr, 1) != HTTP_STATUS_CONTINUE)
        throw cancel();
    const qint64 total = file.size();
    qint64 done = 0;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    sent(0, total);
    while (true) {
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0) {
            cupsFinishDestDocument(d.http.get(), d.dest.get(), d.info.get());
            cupsCancelDestJob(d.http.get(), d.dest.get(), jobId);
            throw PrintException(sendFailure(queue, file.errorString()));
        }
        if (read == 0)
            break;
        if (cupsWriteRequestData(d.http.get(), buffer.constData(), size_t(read)) != HTTP_STATUS_CONTINUE) {
            cupsFinishDestDocument(d.http.get(), d.dest.get(), d.info.get());
            throw cancel();
        }
        done += read;
        sent(done, total);
    }
    if (cupsFinishDestDocument(d.http.get(), d.dest.get(), d.info.get()) > IPP_STATUS_OK_CONFLICTING)
        throw cancel();
    return jobId;
}

} // namespace Lumetra
