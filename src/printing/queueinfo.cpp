#include "queueinfo.h"

#include "cupsdestination.h"
#include "joboptions.h"
#include "papergeometry.h"
#include "printservice.h"

#include <QCoreApplication>
#include <QTemporaryFile>

namespace Lumetra {

namespace {

// "Keyword/Text" as the PPD writes an option or a choice; the text is the keyword where there is none.
QPair<QString, QString> keywordAndText(const QByteArray& name)
{
    const QString both = QString::fromUtf8(name);
    return {both.section(u'/', 0, 0), both.contains(u'/') ? both.section(u'/', 1) : both};
}

struct Ppd
{
    QList<DriverOption> options;
    bool colorDevice = true;
    bool sendsPdf = false;
};

// The few statements of a PPD that decide how a target prints: its choice-of-one options with their
// defaults and choices, whether the device prints colour, and what its filters hand the printer.
Ppd parsePpd(const QByteArray& text)
{
    Ppd ppd;
    DriverOption* open = nullptr;
    bool inQuote = false;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        // A quoted value may run over several lines; nothing inside it is a statement.
        if (inQuote) {
            inQuote = line.count('"') % 2 == 0;
            continue;
        }
        inQuote = line.count('"') % 2 == 1;
        if (!line.startsWith('*') || line.startsWith("*%"))
            continue;
        const QByteArray key = line.mid(1, line.indexOf(':') - 1);
        const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
        if (key.startsWith("OpenUI ") || key.startsWith("JCLOpenUI ")) {
            const auto [keyword, text] = keywordAndText(key.mid(key.indexOf('*') + 1));
            ppd.options.append({keyword, text, {}, {}});
            open = &ppd.options.last();
        } else if (key.startsWith("CloseUI") || key.startsWith("JCLCloseUI")) {
            open = nullptr;
        } else if (key == "ColorDevice") {
            ppd.colorDevice = !value.startsWith("False");
        } else if (key == "cupsFilter2") {
            // "source/type destination/type cost program": the destination is what the printer gets.
            ppd.sendsPdf |= value.mid(1).split(' ').value(1) == "application/pdf";
        } else if (key.startsWith("Default")) {
            for (DriverOption& option : ppd.options) {
                if (key.mid(7) == option.keyword.toUtf8())
                    option.defaultChoice = QString::fromUtf8(value);
            }
        } else if (open && key.startsWith(open->keyword.toUtf8() + ' ')) {
            open->choices.append(keywordAndText(key.mid(open->keyword.toUtf8().size() + 1)));
        }
    }
    return ppd;
}

Ppd queuePpd(const CupsDestination& d, const QString& queue)
{
    QTemporaryFile file;
    if (!file.open())
        return {};
    // A queue without a driver (raw, or served by an IPP printer application) has no PPD; it then
    // tells nothing about options and is taken as it is.
    const QByteArray resource = "/printers/" + queue.toUtf8() + ".ppd";
    if (cupsGetFd(d.http.get(), resource.constData(), int(file.handle())) != HTTP_STATUS_OK)
        return {};
    file.seek(0);
    return parsePpd(file.readAll());
}

} // namespace

QueueInfo describeQueue(const QString& queue, const QPageLayout& layout)
{
    const CupsDestination d = openDestination(queue);
    if (d.attribute("printer-is-accepting-jobs") == QLatin1String("false")) {
        throw PrintException(
            sendFailure(queue, QCoreApplication::translate("Lumetra::PrintService",
                                                           "Destination \"%1\" is not accepting jobs.")
                                   .arg(queue)));
    }
    QueueInfo info;
    info.name = queue;
    info.deviceUri = d.attribute("device-uri");
    info.makeAndModel = d.attribute("printer-make-and-model");

    const auto offered = [&d](const QString& media, cups_size_t* size) {
        return media.isEmpty()
                   ? false
                   : cupsGetDestMediaByName(d.http.get(), d.dest.get(), d.info.get(),
                                            media.toUtf8().constData(), CUPS_MEDIA_FLAGS_DEFAULT, size) != 0;
    };
    cups_size_t size{};
    // The margins are those of the media the job goes out on: its plain variant, not a borderless one.
    if (offered(mediaName(layout), &size)) {
        // Hundredths of a millimetre, for the sheet in portrait. A landscape page goes onto the
        // portrait media turned a quarter anticlockwise, so its top edge lies on the media's left edge.
        const QMarginsF portrait(size.left / 100.0, size.top / 100.0, size.right / 100.0,
                                 size.bottom / 100.0);
        info.margins = layout.orientation() == QPageLayout::Landscape
                           ? QMarginsF(portrait.bottom(), portrait.left(), portrait.top(), portrait.right())
                           : portrait;
    } else if (cupsGetDestMediaCount(d.http.get(), d.dest.get(), d.info.get(), CUPS_MEDIA_FLAGS_DEFAULT) >
               0) {
        info.offersSheet = false;
        for (const PaperPreset& preset : allPaperPresets()) {
            if (offered(mediaName(preset.widthMillimeters, preset.heightMillimeters), &size))
                info.sheetsOffered << preset.name;
        }
    }

    const Ppd ppd = queuePpd(d, queue);
    info.options = ppd.options;
    info.colorDevice = ppd.colorDevice;
    info.sendsPdfToPrinter = ppd.sendsPdf;
    return info;
}

QString printerScalingDefault(const QString& queue, int timeoutMs)
{
    std::unique_ptr<cups_dest_t, CupsDestination::DestDeleter> dest(
        cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.toUtf8().constData(), nullptr));
    if (!dest)
        return {};
    const char* device = cupsGetOption("device-uri", dest->num_options, dest->options);
    const QString uri = QString::fromUtf8(device ? device : "");
    // DNS-SD addresses of IPP printers name the service type; plain ones the scheme.
    if (!uri.startsWith(QLatin1String("ipp://")) && !uri.startsWith(QLatin1String("ipps://")) &&
        !uri.contains(QLatin1String("._ipp")))
        return {};
    char resource[1024] = "";
    int cancel = 0;
    const std::unique_ptr<http_t, CupsDestination::HttpDeleter> http(
        cupsConnectDest(dest.get(), CUPS_DEST_FLAGS_DEVICE, timeoutMs, &cancel, resource, sizeof(resource),
                        nullptr, nullptr));
    if (!http)
        return {};
    // A printer that takes the connection but never answers must not hold up the print.
    httpSetTimeout(
        http.get(), timeoutMs / 1000.0, [](http_t*, void*) { return 0; }, nullptr);
    const char* resolved = cupsGetOption("resolved-device-uri", dest->num_options, dest->options);
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 resolved ? resolved : device);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "print-scaling-default");
    const std::unique_ptr<ipp_t, void (*)(ipp_t*)> response(cupsDoRequest(http.get(), request, resource),
                                                            ippDelete);
    ipp_attribute_t* scaling =
        response ? ippFindAttribute(response.get(), "print-scaling-default", IPP_TAG_KEYWORD) : nullptr;
    return scaling ? QString::fromUtf8(ippGetString(scaling, 0, nullptr)) : QString();
}

} // namespace Lumetra
