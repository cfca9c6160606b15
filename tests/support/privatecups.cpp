#include "privatecups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

using namespace Qt::StringLiterals;

namespace Lumetra::Testing {

namespace {

QString findProgram(const QString& name)
{
    const QString path = QStandardPaths::findExecutable(name);
    const QStringList more{u"/usr/sbin"_s, u"/sbin"_s, u"/usr/lib/cups/filter"_s};
    return path.isEmpty() ? QStandardPaths::findExecutable(name, more) : path;
}

// Runs a tool to its end; false with *error when it is missing, hangs or fails.
bool run(const QString& program, const QStringList& arguments, QString* output = nullptr,
         QString* error = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(findProgram(program), arguments);
    const bool finished = process.waitForFinished(60000);
    const QString out = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (output)
        *output = out;
    const bool ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok && error)
        *error = u"%1 %2 failed: %3 %4"_s.arg(program, arguments.join(u' '), process.errorString(), out);
    return ok;
}

// Starts a helper process that must not outlive the test, however the test ends.
void startChild(QProcess& process, const QString& program, const QStringList& arguments)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
#ifdef Q_OS_LINUX
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    process.start(findProgram(program), arguments);
    process.waitForStarted(10000);
}

// A TCP port on the loopback that nothing listens on just now.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

bool listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

bool writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

// What the simulated driverless printer says of itself: IPP Everywhere with PDF, colour but grey by
// default, A4 (with 3 mm margins, and borderless) and Letter, and fit-to-page by its own default.
const char* const kDriverlessAttributes = R"(
ATTR mimeMediaType document-format-supported application/pdf,image/pwg-raster
ATTR text printer-make-and-model "Lumetra Test Driverless"
ATTR boolean color-supported true
ATTR keyword print-color-mode-supported auto,monochrome,color
ATTR keyword print-color-mode-default monochrome
ATTR keyword print-scaling-supported auto,auto-fit,fill,fit,none
ATTR keyword print-scaling-default fit
ATTR keyword media-supported iso_a4_210x297mm,na_letter_8.5x11in
ATTR keyword media-default iso_a4_210x297mm
ATTR collection media-size-supported {MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700},{MEMBER integer x-dimension 21590 MEMBER integer y-dimension 27940}
ATTR collection media-col-database {MEMBER collection media-size {MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700} MEMBER integer media-bottom-margin 300 MEMBER integer media-left-margin 300 MEMBER integer media-right-margin 300 MEMBER integer media-top-margin 300},{MEMBER collection media-size {MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700} MEMBER integer media-bottom-margin 0 MEMBER integer media-left-margin 0 MEMBER integer media-right-margin 0 MEMBER integer media-top-margin 0},{MEMBER collection media-size {MEMBER integer x-dimension 21590 MEMBER integer y-dimension 27940} MEMBER integer media-bottom-margin 300 MEMBER integer media-left-margin 300 MEMBER integer media-right-margin 300 MEMBER integer media-top-margin 300}
ATTR collection media-col-default {MEMBER collection media-size {MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700} MEMBER integer media-bottom-margin 300 MEMBER integer media-left-margin 300 MEMBER integer media-right-margin 300 MEMBER integer media-top-margin 300}
ATTR collection media-col-ready {MEMBER collection media-size {MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700} MEMBER integer media-bottom-margin 300 MEMBER integer media-left-margin 300 MEMBER integer media-right-margin 300 MEMBER integer media-top-margin 300}
ATTR keyword media-col-supported media-bottom-margin,media-left-margin,media-right-margin,media-size,media-top-margin
ATTR integer media-bottom-margin-supported 0,300
ATTR integer media-left-margin-supported 0,300
ATTR integer media-right-margin-supported 0,300
ATTR integer media-top-margin-supported 0,300
ATTR resolution pwg-raster-document-resolution-supported 300dpi
ATTR keyword pwg-raster-document-type-supported sgray_8,srgb_8
ATTR keyword pwg-raster-document-sheet-back normal
ATTR resolution printer-resolution-supported 300dpi
ATTR resolution printer-resolution-default 300dpi
ATTR enum print-quality-supported 3,4,5
ATTR enum print-quality-default 4
ATTR keyword sides-supported one-sided
ATTR keyword sides-default one-sided
ATTR keyword job-creation-attributes-supported copies,media,media-col,orientation-requested,print-color-mode,print-quality,print-scaling,printer-resolution,sides,page-ranges
)";

} // namespace

PrivateCups::~PrivateCups()
{
    for (const auto* process : {&m_printer, &m_bus, &m_cupsd}) {
        if (*process) {
            (*process)->terminate();
            (*process)->waitForFinished(10000); // QProcess kills it after that
        }
    }
}

bool PrivateCups::start()
{
    const auto fail = [this](const QString& message) { return (m_error = message), false; };
    // A short path: Unix socket paths are limited to about 100 bytes.
    m_dir = std::make_unique<QTemporaryDir>(u"/tmp/lumetra-cups-XXXXXX"_s);
    const QString root = m_dir->path();
    for (const char* sub : {"etc", "spool", "cache", "state", "log", "tmp"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    // The filters run as an unprivileged user; they must reach the spool and write temporary files.
    ::chmod(QFile::encodeName(root).constData(), 0755);
    ::chmod(QFile::encodeName(path("tmp")).constData(), 01777);
    const std::pair<const char*, QString> files[] = {
        {"etc/cupsd.conf",
         u"Listen %1\nLogLevel debug\nPreserveJobFiles Yes\nPreserveJobHistory Yes\nBrowsing No\n"
         "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n<Policy default>\n  <Limit All>\n"
         "    Order deny,allow\n  </Limit>\n</Policy>\n"_s.arg(path("cups.sock"))},
        {"etc/cups-files.conf",
         u"ServerRoot %1/etc\nRequestRoot %1/spool\nCacheDir %1/cache\nStateDir %1/state\n"
         "TempDir %1/tmp\nErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
         "PageLog %1/log/page_log\nPrintcap %1/state/printcap\nFileDevice Yes\n"_s.arg(root)},
        // Raw jobs pass unfiltered, as on a stock installation.
        {"etc/raw.types", u"application/octet-stream\n"_s},
        {"etc/raw.convs", u"application/octet-stream application/vnd.cups-raw 0 -\n"_s}};
    for (const auto& [name, text] : files) {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
            return fail(u"cannot write %1"_s.arg(file.fileName()));
    }

    qputenv("CUPS_SERVER", QFile::encodeName(path("cups.sock")));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
    m_cupsd = std::make_unique<QProcess>();
    startChild(*m_cupsd, u"cupsd"_s,
               {u"-f"_s, u"-c"_s, path("etc/cupsd.conf"), u"-s"_s, path("etc/cups-files.conf")});
    const QDeadlineTimer deadline(15000);
    // lpstat -r exits 0 either way; only its words tell whether the scheduler listens yet.
    QString status;
    while (!run(u"lpstat"_s, {u"-r"_s}, &status, &m_error) || !status.contains(u"scheduler is running"_s)) {
        if (m_cupsd->state() != QProcess::Running || deadline.hasExpired())
            return fail(u"the private cupsd (install cups) did not come up: "_s + errorLogTail());
        QThread::msleep(100);
    }
    // -E after -p enables a queue; before it, it would ask for encryption.
    if (!runTool(u"lpadmin"_s, {u"-p"_s, rawQueue(), u"-E"_s, u"-v"_s, u"file:///dev/null"_s}) ||
        !runTool(u"lpadmin"_s, {u"-p"_s, postScriptQueue(), u"-E"_s, u"-v"_s, u"file:///dev/null"_s, u"-m"_s,
                                u"drv:///sample.drv/generic.ppd"_s}) ||
        !setDefaultQueue(rawQueue()))
        return fail(u"cannot add the queues: %1 %2"_s.arg(m_error, errorLogTail()));
    return true;
}

bool PrivateCups::setDefaultQueue(const QString& queue)
{
    return runTool(u"lpadmin"_s, {u"-d"_s, queue});
}

bool PrivateCups::runTool(const QString& program, const QStringList& arguments, QString* output)
{
    // Only once CUPS_SERVER points at the private scheduler, never at the machine's own.
    return m_cupsd && run(program, arguments, output, &m_error);
}

bool PrivateCups::addDeviceQueue(const QStringList& defaults)
{
    const QString icc = u"/usr/share/color/icc/colord/SwappedRedAndGreen.icc"_s;
    runTool(u"lpadmin"_s, {u"-x"_s, deviceQueue()}); // defaults of an earlier queue must not stay
    // The scheduler writes the driver's PPD for the queue, which is then edited.
    if (!QFile::exists(icc) || findProgram(u"gs"_s).isEmpty() || findProgram(u"rastertopdf"_s).isEmpty() ||
        !runTool(u"lpadmin"_s, {u"-p"_s, deviceQueue(), u"-m"_s, u"drv:///cupsfilters.drv/pwgrast.ppd"_s}))
        return (m_error = u"install colord-data, ghostscript and cups-filters: "_s + m_error), false;
    QFile in(path("etc/ppd/lumetra-device.ppd"));
    QStringList ppd =
        in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()).split(u'\n') : QStringList();
    const double mm = 72 / 25.4; // no two margins alike, so a side mistaken for another shows
    for (QString& line : ppd) {
        const QStringList a = line.section(u'"', 1, 1).split(u' ');
        if (line.startsWith(u"*ImageableArea "_s) && a.size() == 4)
            line = line.section(u'"', 0, 0) + QString::asprintf("\"%g %g %g %g\"", 3 * mm, 4 * mm,
                                                                a[2].toDouble() - 5 * mm,
                                                                a[3].toDouble() - 6 * mm);
    }
    // The profile applies to the queue's default colour mode, quality and resolution.
    ppd << u"*cupsICCQualifier1: PwgRasterDocumentType\n*cupsICCQualifier2: PrintQuality\n"
           "*cupsICCQualifier3: Resolution\n*cupsICCProfile SRgb_8.0.300dpi/Swapped: \"%1\""_s.arg(icc);
    QFile out(path("tmp/device.ppd"));
    return out.open(QIODevice::WriteOnly) && out.write(ppd.join(u'\n').toUtf8()) > 0 && out.flush() &&
           runTool(u"lpadmin"_s,
                   {u"-p"_s, deviceQueue(), u"-E"_s, u"-P"_s, out.fileName(), u"-v"_s,
                    u"file://"_s + path("device.pwg"), u"-o"_s,
                    u"print-scaling-default=fit Resolution=300dpi PwgRasterDocumentType=SRgb_8 "_s +
                        defaults.join(u' ')});
}

bool PrivateCups::addDriverlessQueue()
{
    const auto fail = [this](const QString& message) { return (m_error = message), false; };
    if (findProgram(u"ippeveprinter"_s).isEmpty() || findProgram(u"dbus-daemon"_s).isEmpty())
        return fail(u"install cups-ipp-utils and dbus for the simulated driverless printer"_s);
    // ippeveprinter talks to DNS-SD over the system bus even when it advertises nothing.
    const QString bus =
        u"<busconfig><type>session</type><listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
        "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>"_s.arg(path("bus.sock"));
    const int port = freePort();
    if (!writeFile(path("etc/bus.conf"), bus) ||
        !writeFile(path("etc/driverless.conf"), QString::fromUtf8(kDriverlessAttributes)) || port == 0 ||
        !QDir().mkpath(path("received")))
        return fail(u"cannot set up the driverless printer's files"_s);
    m_bus = std::make_unique<QProcess>();
    startChild(*m_bus, u"dbus-daemon"_s, {u"--config-file="_s + path("etc/bus.conf"), u"--nofork"_s});
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(path("bus.sock")));
    m_printer = std::make_unique<QProcess>();
    startChild(*m_printer, u"ippeveprinter"_s,
               {u"-vvv"_s, u"-r"_s, u"off"_s, u"-k"_s, u"-d"_s, path("received"), u"-p"_s,
                QString::number(port), u"-a"_s, path("etc/driverless.conf"), u"Lumetra Driverless"_s});
    // CUPS asks the printer what it can do and writes the queue's PPD from the answer; asked too early, it
    // makes a queue without one.
    const QString uri = u"ipp://localhost:%1/ipp/print"_s.arg(port);
    for (const QDeadlineTimer deadline(20000); !listening(port); QThread::msleep(200)) {
        if (m_printer->state() != QProcess::Running || deadline.hasExpired())
            return fail(u"the simulated driverless printer did not come up: "_s + driverlessRequests());
    }
    return runTool(u"lpadmin"_s,
                   {u"-p"_s, driverlessQueue(), u"-E"_s, u"-v"_s, uri, u"-m"_s, u"everywhere"_s});
}

QString PrivateCups::driverlessDocument() const
{
    const QFileInfoList files = QDir(path("received")).entryInfoList(QDir::Files, QDir::Time);
    return files.isEmpty() ? QString() : files.constFirst().filePath();
}

QString PrivateCups::driverlessRequests() const
{
    // Whatever the printer has written by now, also what no event loop has fetched yet.
    while (m_printer && (m_printer->bytesAvailable() > 0 || m_printer->waitForReadyRead(300)))
        m_printerLog += m_printer->readAll();
    return QString::fromUtf8(m_printerLog);
}

bool PrivateCups::addDriverQueue(const QString& queue, const QString& model)
{
    return runTool(u"lpadmin"_s, {u"-p"_s, queue, u"-E"_s, u"-v"_s, u"file:///dev/null"_s, u"-m"_s, model});
}

QString PrivateCups::jobLog(int jobId) const
{
    QFile log(m_dir ? path("log/error_log") : QString());
    const QString tag = u"[Job %1] "_s.arg(jobId);
    QStringList lines;
    for (const QString& line :
         QString::fromLocal8Bit(log.open(QIODevice::ReadOnly) ? log.readAll() : "").split(u'\n'))
        if (line.contains(tag))
            lines << line;
    return lines.join(u'\n');
}

void PrivateCups::pauseScheduler(bool paused)
{
    if (m_cupsd)
        ::kill(pid_t(m_cupsd->processId()), paused ? SIGSTOP : SIGCONT);
}

QList<QImage> PrivateCups::devicePages(QString* error) const
{
    // cups-filters turns the raster into a PDF of lossless page images.
    const QString pdf = path("tmp/device.pdf");
    const QString command = findProgram(u"rastertopdf"_s) + u" 1 user title 1 '' \"$0\" > \"$1\""_s;
    const bool converted = run(u"sh"_s, {u"-c"_s, command, path("device.pwg"), pdf}, nullptr, error);
    return converted ? extractPdfImages(pdf, error) : QList<QImage>();
}

bool PrivateCups::waitForCompletedJob(const QString& queue, int jobId, int timeoutMs) const
{
    for (const QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(100)) {
        QString done;
        run(u"lpstat"_s, {u"-W"_s, u"completed"_s, u"-o"_s, queue}, &done);
        if (done.contains(u"%1-%2 "_s.arg(queue).arg(jobId)))
            return true;
    }
    return false;
}

QStringList PrivateCups::spooledDocuments() const
{
    QStringList files;
    for (const QString& name : m_dir ? QDir(path("spool")).entryList({u"d*"_s}, QDir::Files) : QStringList())
        files << path("spool/") + name;
    return files;
}

QString PrivateCups::waitForNewDocument(const QStringList& before, int timeoutMs) const
{
    for (const QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(50)) {
        // The scheduler writes the document before the job's control file.
        for (const QString& file : spooledDocuments())
            if (!before.contains(file) && !jobAttributes(file).isEmpty())
                return file;
    }
    return {};
}

QByteArray PrivateCups::jobAttributes(const QString& documentPath) const
{
    // spool/d00012-001 -> spool/c00012
    QFile control(documentPath.section(u'/', 0, -2) + u"/c"_s +
                  documentPath.section(u'/', -1).section(u'-', 0, 0).mid(1));
    return control.open(QIODevice::ReadOnly) ? control.readAll() : QByteArray();
}

QString PrivateCups::errorLogTail(int lines) const
{
    QFile log(m_dir ? path("log/error_log") : QString());
    const auto all = QString::fromLocal8Bit(log.open(QIODevice::ReadOnly) ? log.readAll() : "").split(u'\n');
    return all.mid(qMax(0, all.size() - lines)).join(u'\n');
}

bool popplerToolsAvailable(QString* missing)
{
    const bool found = !findProgram(u"pdfimages"_s).isEmpty() && !findProgram(u"pdftoppm"_s).isEmpty() &&
                       !findProgram(u"pdfinfo"_s).isEmpty();
    if (!found && missing)
        *missing = u"poppler's tools are missing (install poppler-utils)"_s;
    return found;
}

QList<PdfImageInfo> listPdfImages(const QString& pdfPath, QString* error)
{
    QString output;
    QList<PdfImageInfo> images;
    run(u"pdfimages"_s, {u"-list"_s, pdfPath}, &output, error);
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    for (const QString& line : output.split(u'\n').mid(2)) {
        const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
        if (f.size() > 13)
            images.append(
                {f[3].toInt(), f[4].toInt(), f[5], f[8], f[9] == u"yes", f[12].toInt(), f[13].toInt()});
    }
    return images;
}

QList<QImage> extractPdfImages(const QString& pdfPath, QString* error)
{
    const QTemporaryDir dir;
    QList<QImage> images;
    if (run(u"pdfimages"_s, {u"-png"_s, pdfPath, dir.filePath(u"img"_s)}, nullptr, error))
        for (const QString& file : QDir(dir.path()).entryList({u"img-*"_s}, QDir::Files, QDir::Name))
            images.append(QImage(dir.filePath(file)));
    return images;
}

QImage renderPdfPage(const QString& pdfPath, int dpi, int page, QString* error)
{
    const QTemporaryDir dir;
    const QString number = QString::number(page), base = dir.filePath(u"page"_s);
    const QStringList arguments{u"-r"_s,   QString::number(dpi), u"-f"_s, number, u"-l"_s, number,
                                u"-png"_s, u"-singlefile"_s,     pdfPath, base};
    return run(u"pdftoppm"_s, arguments, nullptr, error) ? QImage(base + u".png"_s) : QImage();
}

QSizeF pdfPageSizePoints(const QString& pdfPath, int page, QString* error)
{
    QString output;
    const QString number = QString::number(page);
    run(u"pdfinfo"_s, {u"-f"_s, number, u"-l"_s, number, pdfPath}, &output, error);
    // "Page    1 size: 595.276 x 841.89 pts (A4)"
    const QStringList size = output.section(u" size:"_s, 1, 1).split(u' ', Qt::SkipEmptyParts);
    return size.size() > 2 ? QSizeF(size[0].toDouble(), size[2].toDouble()) : QSizeF();
}

bool isPdf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
}

} // namespace Lumetra::Testing
