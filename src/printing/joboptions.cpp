#include "joboptions.h"

#include <QPageSize>
#include <QRegularExpression>
#include <QSizeF>

#include <cups/cups.h>

#include <algorithm>
#include <optional>

namespace Lumetra {

namespace {

// Driver options that squeeze the page into the printable area or scale it to another sheet, with the
// choice that keeps the page's size. Found by going through the PPDs of the drivers Debian packages:
// Gutenprint shrinks by default; HP's PostScript drivers scale once a destination size is picked.
struct SizeKeepingChoice
{
    const char* option;
    const char* choice;
};
constexpr SizeKeepingChoice kSizeKeepingChoices[] = {
    {"StpiShrinkOutput", "Crop"},
    {"HPAutoScaling", "Off"},
};

// Whether a driver option or choice speaks of grey or of colour, by its keyword or its text.
bool soundsGrey(const QString& text)
{
    static const QRegularExpression grey(QStringLiteral(R"(gr[ae]y|mono|black|\bk\b|b\s*&\s*w|\bbw\b)"),
                                         QRegularExpression::CaseInsensitiveOption);
    return grey.match(text).hasMatch();
}

bool soundsColour(const QString& text)
{
    static const QRegularExpression colour(QStringLiteral(R"(colou?r|rgb|cmy)"),
                                           QRegularExpression::CaseInsensitiveOption);
    return colour.match(text).hasMatch() && !soundsGrey(text);
}

bool isGreyChoice(const QPair<QString, QString>& choice)
{
    return soundsGrey(choice.first) || soundsGrey(choice.second);
}

bool isColourChoice(const QPair<QString, QString>& choice)
{
    return !isGreyChoice(choice) && (soundsColour(choice.first) || soundsColour(choice.second));
}

// The driver's option that switches between grey and colour output: CUPS's and cups-filters' own
// names first, else one that says it is about colour and offers both a grey and a colour choice
// ("Ink" of some Epson drivers, "BRMonoColor", ...). An ink set of photo and matte black is not one.
const DriverOption* colourModeOption(const QueueInfo& queue)
{
    for (const DriverOption& option : queue.options) {
        if (option.keyword == QLatin1String("ColorModel") ||
            option.keyword == QLatin1String("PwgRasterDocumentType"))
            return &option;
    }
    static const QRegularExpression about(QStringLiteral(R"(colou?r|gr[ae]y|mono|\bink\b)"),
                                          QRegularExpression::CaseInsensitiveOption);
    for (const DriverOption& option : queue.options) {
        const bool grey = std::any_of(option.choices.begin(), option.choices.end(), isGreyChoice);
        const bool colour = std::any_of(option.choices.begin(), option.choices.end(), isColourChoice);
        if (grey && colour && (about.match(option.keyword).hasMatch() || about.match(option.text).hasMatch()))
            return &option;
    }
    return nullptr;
}

// The colour choice to pin: the one already chosen when it is a colour choice, else 8-bit RGB (sRGB
// first) where the driver offers it, else its first colour choice.
std::optional<QString> colourChoice(const DriverOption& option, const QString& chosen)
{
    QStringList colours;
    for (const auto& choice : option.choices) {
        if (isColourChoice(choice))
            colours << choice.first;
    }
    if (colours.isEmpty())
        return std::nullopt;
    if (colours.contains(chosen))
        return chosen;
    for (const QString& preferred :
         {QStringLiteral("RGB"), QStringLiteral("SRgb_8"), QStringLiteral("Rgb_8")}) {
        for (const QString& colour : colours) {
            if (colour.compare(preferred, Qt::CaseInsensitive) == 0)
                return colour;
        }
    }
    for (const QString& colour : colours) {
        if (colour.contains(QLatin1String("rgb"), Qt::CaseInsensitive) &&
            !colour.contains(QLatin1String("16")))
            return colour;
    }
    return colours.constFirst();
}

QString userValue(const QStringList& userOptions, const QString& name)
{
    for (qsizetype i = 0; i + 1 < userOptions.size(); i += 2) {
        if (userOptions.at(i) == name)
            return userOptions.at(i + 1);
    }
    return {};
}

} // namespace

QString mediaName(double widthMillimeters, double heightMillimeters)
{
    // Hundredths of a millimetre, the unit of PWG media sizes; a standard size within a tenth of a
    // millimetre keeps its standard name.
    const pwg_media_t* media =
        pwgMediaForSize(qRound(widthMillimeters * 100), qRound(heightMillimeters * 100));
    return media ? QString::fromUtf8(media->pwg) : QString();
}

QString mediaName(const QPageLayout& layout)
{
    const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);
    return mediaName(mm.width(), mm.height());
}

JobOptions pinnedJobOptions(int pages)
{
    // Each of these would otherwise let the filters or the queue's defaults resize, move, turn,
    // mirror, frame, tile, drop, add to or colour-convert the target.
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
            {QStringLiteral("cm-calibration"), QStringLiteral("true")},
            {QStringLiteral("print-color-mode"), QStringLiteral("color")},
            {QStringLiteral("job-sheets"), QStringLiteral("none")},
            {QStringLiteral("page-set"), QStringLiteral("all")},
            {QStringLiteral("page-ranges"), QStringLiteral("1-%1").arg(pages)}};
}

JobOptions driverPins(const QueueInfo& queue, const QStringList& userOptions)
{
    JobOptions pins;
    if (const DriverOption* option = colourModeOption(queue)) {
        const QString chosen = userValue(userOptions, option->keyword);
        if (const auto choice = colourChoice(*option, chosen.isEmpty() ? option->defaultChoice : chosen))
            pins.append({option->keyword, *choice});
    }
    for (const SizeKeepingChoice& keep : kSizeKeepingChoices) {
        for (const DriverOption& option : queue.options) {
            const bool defined =
                std::any_of(option.choices.begin(), option.choices.end(),
                            [&keep](const auto& c) { return c.first == QLatin1String(keep.choice); });
            if (option.keyword == QLatin1String(keep.option) && defined)
                pins.append({option.keyword, QString::fromLatin1(keep.choice)});
        }
    }
    return pins;
}

bool printsGreyOnly(const QueueInfo& queue)
{
    if (!queue.colorDevice)
        return true;
    const DriverOption* option = colourModeOption(queue);
    return option && std::none_of(option->choices.begin(), option->choices.end(), isColourChoice);
}

QStringList keptDriverOptions(const QStringList& previous, const QStringList& chosen)
{
    QStringList names;
    for (qsizetype i = 0; i + 1 < chosen.size(); i += 2)
        names << chosen.at(i);
    QStringList kept = chosen;
    const QStringList driver = driverOptionsOf(previous);
    for (qsizetype i = 0; i + 1 < driver.size(); i += 2) {
        if (!names.contains(driver.at(i)))
            kept << driver.at(i) << driver.at(i + 1);
    }
    return kept;
}

QStringList driverOptionsOf(const QStringList& userOptions)
{
    QStringList pinned{QStringLiteral("media"), QStringLiteral("copies")};
    for (const auto& option : pinnedJobOptions(1))
        pinned << option.first;
    QStringList driver;
    for (qsizetype i = 0; i + 1 < userOptions.size(); i += 2) {
        const QString& name = userOptions.at(i);
        if (pinned.contains(name) || name.startsWith(QLatin1String("job-")) ||
            name.startsWith(QLatin1String("page-")) || name.startsWith(QLatin1String("number-up")))
            continue;
        driver << name << userOptions.at(i + 1);
    }
    return driver;
}

QStringList describeDriverOptions(const QList<DriverOption>& driver, const QStringList& options)
{
    // A choice of one word says little on its own ("Yes", "Photo", "300dpi"): it is shown with its option's
    // name.
    static const QRegularExpression bare(QStringLiteral(R"(^\S+$)"));
    QStringList texts;
    for (qsizetype i = 0; i + 1 < options.size(); i += 2) {
        const QString& name = options.at(i);
        const QString& value = options.at(i + 1);
        QString text = name + u' ' + value;
        for (const DriverOption& option : driver) {
            for (const auto& [keyword, choiceText] : option.choices) {
                if (option.keyword == name && keyword == value)
                    text = bare.match(choiceText).hasMatch() ? option.text + QStringLiteral(": ") + choiceText
                                                             : choiceText;
            }
        }
        texts << text;
    }
    return texts;
}

JobOptions jobOptions(const QStringList& userOptions, int copies, const QPageLayout& layout, int pages,
                      const QueueInfo& queue)
{
    JobOptions options;
    for (qsizetype i = 0; i + 1 < userOptions.size(); i += 2)
        options.append({userOptions.at(i), userOptions.at(i + 1)});
    if (copies > 1)
        options.append({QStringLiteral("copies"), QString::number(copies)});
    options.append({QStringLiteral("media"), mediaName(layout)});
    options.append(pinnedJobOptions(pages));
    options.append(driverPins(queue, userOptions));
    return options;
}

} // namespace Lumetra
