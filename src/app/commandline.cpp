#include "commandline.h"

#include "appidentity.h"
#include "imageloader.h"
#include "papergeometry.h"
#include "printrecord.h"
#include "printservice.h"
#include "storedsettings.h"
#include "targetwarnings.h"

#ifdef LUMETRA_CUPS_SUBMISSION
#include "joboptions.h"
#endif

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QPrinterInfo>
#include <QTextStream>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <utility>

namespace Lumetra {

namespace {

std::atomic_bool g_interrupted = false;

extern "C" void onInterrupt(int)
{
    g_interrupted = true;
}

const char* const kUsage =
    "Usage: lumetra --print [--printer NAME] [--paper NAME] [--orientation portrait|landscape]\n"
    "                       [--alignment top-left|top|top-right|left|center|right|bottom-left|bottom|"
    "bottom-right]\n"
    "                       [--copies N] [-o NAME=VALUE]... [--output FILE.pdf] [--yes] FILE...\n"
    "       lumetra --history [N]\n"
    "       lumetra --help | --version\n"
    "       lumetra [FILE...]    (opens the window)\n";

const char* const kHelp =
    "\n"
    "Prints a colour target pixel for pixel at its own resolution, as the window does, without a\n"
    "window or a display. Several files, or a multi-page TIFF, print as one job, a sheet per page.\n"
    "\n"
    "  --print               print the files\n"
    "  --printer NAME        the print queue (default: the system's default queue)\n"
    "  --paper NAME          the sheet as the paper list names it, for example \"DIN A4\" or \"Letter\"\n"
    "                        (default: the smallest sheet that holds every page, in the series of\n"
    "                        the paper last chosen in the window)\n"
    "  --orientation O       portrait or landscape (default: upright for the largest page)\n"
    "  --alignment A         where the image sits on the sheet (default: as last chosen in the window)\n"
    "  --copies N            copies of the job (default: 1)\n"
    "  -o NAME=VALUE         a driver option, for example -o MediaType=GlossyPhoto; the driver options\n"
    "                        of the last job to a queue are kept for it until others are given, and\n"
    "                        the options that keep the target exact always win\n"
    "  --output FILE.pdf     write the job's PDF instead of sending it\n"
    "  --yes                 accept every warning (embedded profile, image larger than the sheet, image\n"
    "                        in the printer's margins, grey-only or resizing printers)\n"
    "  --history [N]         the last N print records (default 10), oldest first, as JSON Lines\n"
    "\n"
    "Exit codes: 0 done; 1 the files could not be loaded or the job could not be printed, nothing was\n"
    "sent; 2 a usage error, or a warning that --yes did not accept; 130 interrupted, nothing was sent.\n";

// Ends the command with an exit code, a message for the error output and, for usage errors, the usage.
struct Exit
{
    int code;
    QString message;
    bool usage = false;
};

Exit usageError(const QString& message)
{
    return {2, message, true};
}

std::optional<PaperPreset> paperNamed(const QString& name)
{
    // As the list shows it, or without the size in brackets that some North American sheets carry.
    for (const PaperPreset& preset : allPaperPresets()) {
        if (name.compare(preset.name, Qt::CaseInsensitive) == 0 ||
            name.compare(preset.name.section(QStringLiteral(" ("), 0, 0), Qt::CaseInsensitive) == 0)
            return preset;
    }
    return std::nullopt;
}

QString paperNames()
{
    QStringList names;
    for (const PaperPreset& preset : allPaperPresets())
        names << preset.name.section(QStringLiteral(" ("), 0, 0);
    return names.join(QStringLiteral(", "));
}

class PrintCommand
{
public:
    PrintCommand(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
        : m_parser(parser), m_out(out), m_err(err)
    {}

    void run()
    {
        const QStringList files = m_parser.positionalArguments();
        if (files.isEmpty())
            throw usageError(QStringLiteral("--print needs the target's files."));
        // Every usage error is told before a file is read or a queue is asked.
        const Layout chosen = chosenLayout();
        PrintJob job = options();

        LoadedTargetSet loaded;
        try {
            loaded = m_loader.loadSet(files);
        } catch (const std::exception& error) {
            throw Exit{1, QString::fromUtf8(error.what())};
        }
        accept(profileWarning(loaded.set));
        job.settings = layout(loaded.set, chosen);
        accept(cropWarning(loaded.set, job.settings));

        for (const TargetPage& page : loaded.set.pages)
            job.pages << page.facts;
        job.last = int(loaded.set.pages.size()) - 1;
        // The first page, decoded at load, goes to the writer; every other page is decoded as it is
        // written, so that one page at a time is held.
        job.pageAt = [this, &loaded](int index) {
            if (index == 0 && !loaded.firstPage.image.isNull())
                return std::exchange(loaded.firstPage, PrintableImage());
            return m_loader.loadPage(loaded.set.pages.at(index));
        };

        CheckedJob checked;
        std::optional<int> jobId;
        try {
            checked = PrintService::checkJob(job);
            for (const PrintWarning& warning : checked.warnings)
                accept(warning);
            jobId = PrintService::sendJob(checked, {}, g_interrupted);
        } catch (const std::exception& error) {
            throw Exit{1, QString::fromUtf8(error.what())};
        }
        if (!jobId)
            throw Exit{130, QStringLiteral("Interrupted; nothing was sent.")};
        try {
            PrintHistory::append(printRecord(loaded.set, checked, *jobId, QDateTime::currentDateTime()));
        } catch (const PrintHistoryException& error) {
            // The job stands; only its record is missing.
            m_err << "lumetra: Printed, but not recorded in the print history: " << error.message() << '\n';
        }
        if (job.queue.isEmpty()) {
            m_out << QStringLiteral("Saved to %1").arg(QDir::toNativeSeparators(job.outputFile)) << '\n';
            return;
        }
#ifdef LUMETRA_CUPS_SUBMISSION
        storeDriverSettings(job.queue, {driverOptionsOf(job.userOptions), checked.driverSettings});
#endif
        m_out << QStringLiteral("Sent to \"%1\" as job %2").arg(job.queue).arg(*jobId) << '\n';
    }

private:
    // Where the job goes and what it carries, from the options given.
    PrintJob options() const
    {
        PrintJob job;
        job.outputFile = m_parser.value(QStringLiteral("output"));
        if (job.outputFile.isEmpty()) {
            job.queue = m_parser.isSet(QStringLiteral("printer")) ? m_parser.value(QStringLiteral("printer"))
                                                                  : QPrinterInfo::defaultPrinterName();
            if (job.queue.isEmpty())
                throw Exit{1, QStringLiteral("There is no default printer. Name one with --printer NAME, or "
                                             "write the job's PDF with --output FILE.pdf.")};
        }
        if (m_parser.isSet(QStringLiteral("copies"))) {
            bool number = false;
            job.copies = m_parser.value(QStringLiteral("copies")).toInt(&number);
            if (!number || job.copies < 1 || job.copies > 999)
                throw usageError(QStringLiteral("--copies takes a number from 1 to 999."));
        }
        QStringList given;
        for (const QString& option : m_parser.values(QStringLiteral("o"))) {
            const qsizetype equals = option.indexOf(u'=');
            if (equals <= 0)
                throw usageError(QStringLiteral("-o takes NAME=VALUE, not \"%1\".").arg(option));
            given << option.left(equals) << option.mid(equals + 1);
        }
#ifdef LUMETRA_CUPS_SUBMISSION
        // The driver options kept for the queue go along where none are given now.
        job.userOptions =
            job.queue.isEmpty() ? given : keptDriverOptions(storedDriverSettings(job.queue).options, given);
#else
        job.userOptions = given;
#endif
        return job;
    }

    // What the options ask of the layout; nothing where the window's rules decide.
    struct Layout
    {
        std::optional<PaperPreset> paper;
        std::optional<PrintOrientation> orientation;
        std::optional<PrintAlignment> alignment;
    };

    Layout chosenLayout() const
    {
        Layout chosen;
        if (m_parser.isSet(QStringLiteral("paper"))) {
            const QString name = m_parser.value(QStringLiteral("paper"));
            chosen.paper = paperNamed(name);
            if (!chosen.paper)
                throw usageError(
                    QStringLiteral("There is no paper \"%1\". Choose one of: %2.").arg(name, paperNames()));
        }
        if (m_parser.isSet(QStringLiteral("orientation"))) {
            const QString orientation = m_parser.value(QStringLiteral("orientation"));
            if (orientation != QLatin1String("portrait") && orientation != QLatin1String("landscape"))
                throw usageError(QStringLiteral("--orientation takes portrait or landscape."));
            chosen.orientation = orientation == QLatin1String("landscape") ? PrintOrientation::Landscape
                                                                           : PrintOrientation::Portrait;
        }
        if (m_parser.isSet(QStringLiteral("alignment"))) {
            chosen.alignment = alignmentForKeyword(m_parser.value(QStringLiteral("alignment")));
            if (!chosen.alignment)
                throw usageError(
                    QStringLiteral("--alignment takes top-left, top, top-right, left, center, right, "
                                   "bottom-left, bottom or bottom-right."));
        }
        return chosen;
    }

    // The window's automatic choice of sheet and orientation for the set, from the paper and alignment
    // last chosen there, then what the options ask for.
    static PrintSettings layout(const TargetSet& set, const Layout& chosen)
    {
        PrintSettings settings = fittedSettings(set, storedPrintSettings());
        const PrintOrientation upright = settings.orientation;
        settings.paper = chosen.paper.value_or(settings.paper);
        settings.orientation = chosen.orientation.value_or(upright);
        // As in the window: the image turns with the sheet.
        settings.rotationDegrees = settings.orientation == upright ? 0 : 90;
        settings.alignment = chosen.alignment.value_or(settings.alignment);
        return settings;
    }

    // A question of the window, stated; without --yes it ends the command before anything is sent.
    void accept(const std::optional<PrintWarning>& warning)
    {
        if (!warning)
            return;
        m_err << warning->title << ": " << warning->text << '\n';
        if (!warning->details.isEmpty())
            m_err << warning->details << '\n';
        if (!m_parser.isSet(QStringLiteral("yes")))
            throw Exit{2, QStringLiteral("Nothing was printed. Give --yes to print anyway.")};
        m_err << "Accepted with --yes.\n";
        m_err.flush();
    }

    const QCommandLineParser& m_parser;
    QTextStream& m_out;
    QTextStream& m_err;
    ImageLoader m_loader;
};

} // namespace

bool wantsCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument.startsWith("--") || argument == "-o" || argument == "-h")
            return true;
    }
    return false;
}

int runCommandLine(int argc, char** argv)
{
    // No window is ever opened and nothing is drawn on screen, so no display is needed, nor a
    // windowing platform at all.
    QCoreApplication application(argc, argv);
    setApplicationIdentity();
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("print"), {}},
                       {QStringLiteral("history"), {}},
                       {{QStringLiteral("h"), QStringLiteral("help")}, {}},
                       {QStringLiteral("version"), {}},
                       {QStringLiteral("printer"), {}, QStringLiteral("NAME")},
                       {QStringLiteral("paper"), {}, QStringLiteral("NAME")},
                       {QStringLiteral("orientation"), {}, QStringLiteral("O")},
                       {QStringLiteral("alignment"), {}, QStringLiteral("A")},
                       {QStringLiteral("copies"), {}, QStringLiteral("N")},
                       {QStringLiteral("o"), {}, QStringLiteral("NAME=VALUE")},
                       {QStringLiteral("output"), {}, QStringLiteral("FILE")},
                       {QStringLiteral("yes"), {}}});
    try {
        if (!parser.parse(QCoreApplication::arguments()))
            throw usageError(parser.errorText());
        if (parser.isSet(QStringLiteral("help"))) {
            out << kUsage << kHelp;
            return 0;
        }
        if (parser.isSet(QStringLiteral("version"))) {
            out << "Lumetra " << QCoreApplication::applicationVersion() << '\n';
            return 0;
        }
        if (parser.isSet(QStringLiteral("history"))) {
            const QStringList count = parser.positionalArguments();
            bool number = count.isEmpty();
            const int last = number ? 10 : count.constFirst().toInt(&number);
            if (!number || last < 1 || count.size() > 1)
                throw usageError(QStringLiteral("--history takes one number, the records to show."));
            try {
                for (const QByteArray& line : PrintHistory::lastLines(last))
                    out << line << '\n';
            } catch (const PrintHistoryException& error) {
                throw Exit{1, error.message()};
            }
            return 0;
        }
        if (!parser.isSet(QStringLiteral("print")))
            throw usageError(QStringLiteral("Give --print to print, or no option to open the window."));
        // An interrupted job is cancelled on the scheduler rather than left half sent.
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        PrintCommand(parser, out, err).run();
        return 0;
    } catch (const Exit& exit) {
        out.flush();
        err << "lumetra: " << exit.message << '\n';
        if (exit.usage)
            err << kUsage;
        return exit.code;
    }
}

} // namespace Lumetra
