#include "privatecups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <QtEndian>

#include <sys/stat.h>
#ifdef Q_OS_LINUX
#include <signal.h>
#include <sys/prctl.h>
#endif

#include <utility>

using namespace Qt::StringLiterals;

namespace Lumetra::Testing {

namespace {

QString findProgram(const QString& name)
{
    const QString path = QStandardPaths::findExecutable(name);
    return !path.isEmpty() ? path : QStandardPaths::findExecutable(name, {u"/usr/sbin"_s, u"/sbin"_s});
}

// Runs a tool to its end; false with *error when it is missing, hangs or fails. CUPS clients reach the
// private scheduler through the CUPS_SERVER that start() set.
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
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (error)
        *error = u"%1 %2 failed: %3 %4"_s.arg(program, arguments.join(u' '), process.errorString(), out);
    return false;
}

} // namespace

PrivateCups::~PrivateCups()
{
    if (m_cupsd) {
        m_cupsd->terminate();
        m_cupsd->waitForFinished(10000); // QProcess kills it when it is still running after that
    }
}

bool PrivateCups::start()
{
    const auto fail = [this](const QString& message) {
        m_error = message;
        return false;
    };
    if (m_cupsd && m_cupsd->state() == QProcess::Running)
        return true;
    if (findProgram(u"cupsd"_s).isEmpty())
        return fail(u"cupsd is not installed (install cups and cups-client)"_s);
    // A short base path: Unix socket paths are limited to about 100 bytes.
    m_dir = std::make_unique<QTemporaryDir>(u"/tmp/lumetra-cups-XXXXXX"_s);
    const QString root = m_dir->path();
    for (const char* sub : {"etc", "spool", "cache", "state", "log", "tmp"}) {
        if (!m_dir->isValid() || !QDir(root).mkpath(QString::fromLatin1(sub)))
            return fail(u"cannot create the scheduler folder %1"_s.arg(path(sub)));
    }
    // The scheduler runs its filters as an unprivileged user; they must reach the spool and may
    // write temporary files.
    ::chmod(QFile::encodeName(root).constData(), 0755);
    ::chmod(QFile::encodeName(path("tmp")).constData(), 01777);
    const std::pair<const char*, QString> files[] = {
        {"etc/cupsd.conf",
         u"Listen %1\nLogLevel info\nPreserveJobFiles Yes\nPreserveJobHistory Yes\n"
         "MaxJobs 0\nBrowsing No\nDefaultAuthType None\nWebInterface No\n"
         "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
         "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"_s.arg(
             path("cups.sock"))},
        {"etc/cups-files.conf", u"ServerRoot %1/etc\nRequestRoot %1/spool\nCacheDir %1/cache\n"
                                "StateDir %1/state\nTempDir %1/tmp\nErrorLog %1/log/error_log\n"
                                "AccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                                "Printcap %1/state/printcap\nFileDevice Yes\n"_s.arg(root)},
        // Let raw jobs through unfiltered, as a stock installation does.
        {"etc/raw.types", u"application/octet-stream\n"_s},
        {"etc/raw.convs", u"application/octet-stream application/vnd.cups-raw 0 -\n"_s}};
    for (const auto& [name, text] : files) {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
            return fail(u"cannot write the scheduler configuration %1"_s.arg(file.fileName()));
    }

    qputenv("CUPS_SERVER", QFile::encodeName(path("cups.sock")));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
    m_cupsd = std::make_unique<QProcess>();
    m_cupsd->setProcessChannelMode(QProcess::MergedChannels);
#ifdef Q_OS_LINUX
    // A test that aborts or is killed on a timeout must not leave its scheduler running.
    m_cupsd->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    m_cupsd->start(findProgram(u"cupsd"_s),
                   {u"-f"_s, u"-c"_s, path("etc/cupsd.conf"), u"-s"_s, path("etc/cups-files.conf")});
    m_cupsd->waitForStarted(10000);
    const QDeadlineTimer deadline(15000);
    // lpstat -r exits 0 either way; only its words tell whether the scheduler listens yet.
    QString status;
    while (!run(u"lpstat"_s, {u"-r"_s}, &status, &m_error) || !status.contains(u"scheduler is running"_s)) {
        if (m_cupsd->state() != QProcess::Running || deadline.hasExpired())
            return fail(u"the private cupsd did not come up: %1 %2 %3"_s.arg(
                m_error, QString::fromLocal8Bit(m_cupsd->readAll()).trimmed(), errorLogTail()));
        QThread::msleep(100);
    }

    // CUPS's generic PostScript driver, under whichever name this CUPS offers it.
    QString models;
    run(u"lpinfo"_s, {u"-m"_s}, &models);
    static const QRegularExpression generic(u"^(\\S+) Generic PostScript Printer$"_s,
                                            QRegularExpression::MultilineOption);
    const QString model = generic.match(models).captured(1);
    if (model.isEmpty())
        return fail(u"this CUPS offers no generic PostScript driver"_s);
    for (const QStringList& queue :
         {QStringList{rawQueue()}, QStringList{postScriptQueue(), u"-m"_s, model}}) {
        // -E after -p enables the queue; before it, it would ask for encryption.
        if (!run(u"lpadmin"_s,
                 QStringList{u"-p"_s} + queue + QStringList{u"-E"_s, u"-v"_s, u"file:///dev/null"_s}, nullptr,
                 &m_error))
            return fail(u"cannot add a queue: %1 %2"_s.arg(m_error, errorLogTail()));
    }
    return setDefaultQueue(rawQueue()) || fail(u"cannot choose the default queue: %1"_s.arg(errorLogTail()));
}

bool PrivateCups::setDefaultQueue(const QString& queue)
{
    // Only once CUPS_SERVER points at the private scheduler, never at the machine's own.
    return m_cupsd && run(u"lpadmin"_s, {u"-d"_s, queue});
}

bool PrivateCups::runTool(const QString& program, const QStringList& arguments, QString* output)
{
    QString error;
    const bool ok = m_cupsd && run(program, arguments, output, &error);
    if (!ok)
        m_error = error;
    return ok;
}

bool PrivateCups::addDeviceQueue()
{
    const QString profile = u"/usr/share/color/icc/colord/SwappedRedAndGreen.icc"_s;
    if (!QFile::exists(profile))
        return (m_error = u"%1 is missing (install colord-data)"_s.arg(profile)), false;
    if (findProgram(u"gs"_s).isEmpty())
        return (m_error = u"Ghostscript is not installed (install ghostscript)"_s), false;
    const QString model = u"drv:///cupsfilters.drv/pwgrast.ppd"_s;
    const QString queue = deviceQueue();
    // The scheduler writes the driver's PPD for the queue; it is then made into the printer above.
    if (!runTool(u"lpadmin"_s, {u"-p"_s, queue, u"-m"_s, model, u"-v"_s, u"file:///dev/null"_s}))
        return (m_error = u"cups-filters' PWG raster driver is missing (install cups-filters): "_s + m_error),
               false;
    QFile ppdFile(path("etc/ppd/lumetra-device.ppd"));
    if (!ppdFile.open(QIODevice::ReadOnly))
        return (m_error = u"the scheduler wrote no PPD for %1"_s.arg(queue)), false;
    QString ppd = QString::fromUtf8(ppdFile.readAll());
    // 3, 4, 5 and 6 mm at the left, bottom, right and top edges, in points: no two sides alike, so a
    // side mistaken for another shows.
    const double pt = 72 / 25.4, left = 3 * pt, bottom = 4 * pt, right = 5 * pt, top = 6 * pt;
    static const QRegularExpression area(u"^(\\*ImageableArea [^:]+: )\"0 0 ([0-9.]+) ([0-9.]+)\""_s,
                                         QRegularExpression::MultilineOption);
    QString edited;
    qsizetype from = 0;
    for (const QRegularExpressionMatch& m : area.globalMatch(ppd)) {
        edited += ppd.mid(from, m.capturedStart() - from) + u"%1\"%2 %3 %4 %5\""_s.arg(m.captured(1))
                                                                .arg(left)
                                                                .arg(bottom)
                                                                .arg(m.captured(2).toDouble() - right)
                                                                .arg(m.captured(3).toDouble() - top);
        from = m.capturedEnd();
    }
    ppd = edited + ppd.mid(from);
    ppd.replace(u"*HWMargins: 0 0 0 0"_s,
                u"*HWMargins: %1 %2 %3 %4"_s.arg(left).arg(bottom).arg(right).arg(top));
    ppd.replace(u"*DefaultResolution: 600dpi"_s, u"*DefaultResolution: 300dpi"_s);
    ppd.replace(u"*DefaultPwgRasterDocumentType: Rgb_8"_s, u"*DefaultPwgRasterDocumentType: SRgb_8"_s);
    ppd.replace(u"*DefaultPageSize: Letter"_s, u"*DefaultPageSize: A4"_s);
    // The profile applies to the queue's default colour mode, quality and resolution.
    ppd += u"*cupsICCQualifier1: PwgRasterDocumentType\n*cupsICCQualifier2: PrintQuality\n"
           "*cupsICCQualifier3: Resolution\n*cupsICCProfile SRgb_8.0.300dpi/Swapped: \"%1\"\n"_s.arg(profile);
    QFile changed(path("tmp/device.ppd"));
    if (!changed.open(QIODevice::WriteOnly) || changed.write(ppd.toUtf8()) < 0)
        return (m_error = u"cannot write %1"_s.arg(changed.fileName())), false;
    changed.close();
    return runTool(u"lpadmin"_s, {u"-p"_s, queue, u"-E"_s, u"-P"_s, changed.fileName(), u"-v"_s,
                                  u"file://"_s + deviceOutput(), u"-o"_s, u"print-scaling-default=fit"_s});
}

bool PrivateCups::waitForCompletedJob(const QString& queue, int jobId, int timeoutMs) const
{
    const QString name = u"%1-%2 "_s.arg(queue).arg(jobId);
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QString done;
        run(u"lpstat"_s, {u"-W"_s, u"completed"_s, u"-o"_s, queue}, &done);
        if (done.contains(name))
            return true;
        QString state;
        run(u"lpstat"_s, {u"-p"_s, queue}, &state);
        if (state.contains(u"disabled"_s))
            return false; // a failed filter stops the queue
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

QStringList PrivateCups::spooledDocuments() const
{
    QStringList files;
    if (m_dir) {
        for (const QFileInfo& file : QDir(path("spool")).entryInfoList({u"d*"_s}, QDir::Files, QDir::Name))
            files.append(file.filePath());
    }
    return files;
}

QString PrivateCups::waitForNewDocument(const QStringList& before, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        // The scheduler writes the document before it creates the job's control file.
        for (const QString& file : spooledDocuments()) {
            if (!before.contains(file) && !jobAttributes(file).isEmpty())
                return file;
        }
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return {};
}

QByteArray PrivateCups::jobAttributes(const QString& documentPath) const
{
    // d00012-001 -> c00012
    const QFileInfo info(documentPath);
    QFile control(info.dir().filePath(u'c' + info.fileName().section(u'-', 0, 0).mid(1)));
    return control.open(QIODevice::ReadOnly) ? control.readAll() : QByteArray();
}

QString PrivateCups::errorLogTail(int lines) const
{
    QFile log(m_dir ? path("log/error_log") : QString());
    const QStringList all =
        log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()).split(u'\n') : QStringList();
    return all.mid(qMax(0, all.size() - lines)).join(u'\n');
}

bool popplerToolsAvailable(QString* missing)
{
    for (const char* tool : {"pdfimages", "pdftoppm", "pdfinfo"}) {
        if (findProgram(QString::fromLatin1(tool)).isEmpty()) {
            if (missing)
                *missing = u"%1 is not installed (install poppler-utils)"_s.arg(QLatin1String(tool));
            return false;
        }
    }
    return true;
}

QList<PdfImageInfo> listPdfImages(const QString& pdfPath, QString* error)
{
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    static const QRegularExpression row(
        u"^\\s*\\d+\\s+\\d+\\s+\\S+\\s+(\\d+)\\s+(\\d+)\\s+(\\S+)\\s+\\d+\\s+\\d+\\s+(\\S+)\\s+(\\S+)\\s+\\d+\\s+\\d+\\s+(\\d+)\\s+(\\d+)"_s,
        QRegularExpression::MultilineOption);
    QString output;
    QList<PdfImageInfo> images;
    if (!run(u"pdfimages"_s, {u"-list"_s, pdfPath}, &output, error))
        return images;
    for (const QRegularExpressionMatch& m : row.globalMatch(output)) {
        images.append({m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3), m.captured(4),
                       m.captured(5) == u"yes", m.captured(6).toInt(), m.captured(7).toInt()});
    }
    return images;
}

QList<QImage> extractPdfImages(const QString& pdfPath, QString* error)
{
    const QTemporaryDir dir;
    QList<QImage> images;
    if (run(u"pdfimages"_s, {u"-png"_s, pdfPath, dir.filePath(u"img"_s)}, nullptr, error)) {
        for (const QString& file : QDir(dir.path()).entryList({u"img-*"_s}, QDir::Files, QDir::Name))
            images.append(QImage(dir.filePath(file)));
    }
    return images;
}

QImage renderPdfPage(const QString& pdfPath, int dpi, int page, QString* error)
{
    const QTemporaryDir dir;
    const QString number = QString::number(page);
    const QString base = dir.filePath(u"page"_s);
    const QStringList arguments{u"-r"_s,   QString::number(dpi), u"-f"_s, number, u"-l"_s, number,
                                u"-png"_s, u"-singlefile"_s,     pdfPath, base};
    return run(u"pdftoppm"_s, arguments, nullptr, error) ? QImage(base + u".png"_s) : QImage();
}

QSizeF pdfPageSizePoints(const QString& pdfPath, int page, QString* error)
{
    QString output;
    const QString number = QString::number(page);
    run(u"pdfinfo"_s, {u"-f"_s, number, u"-l"_s, number, pdfPath}, &output, error);
    // "Page    1 size: 595.276 x 841.89 pts (A4)" or, for a single page, "Page size: ..."
    static const QRegularExpression pattern(
        u"Page\\s+(?:\\d+\\s+)?size:\\s+([0-9.]+)\\s+x\\s+([0-9.]+)\\s+pts"_s);
    const QRegularExpressionMatch match = pattern.match(output);
    if (!match.hasMatch() && error && error->isEmpty())
        *error = u"pdfinfo gave no page size: %1"_s.arg(output);
    return match.hasMatch() ? QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble()) : QSizeF();
}

bool isPdf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
}

QList<QImage> readPwgRaster(const QString& path, QString* error)
{
    QFile file(path);
    QList<QImage> pages;
    const auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return QList<QImage>();
    };
    if (!file.open(QIODevice::ReadOnly))
        return fail(u"cannot read %1"_s.arg(path));
    const QByteArray data = file.readAll();
    if (!data.startsWith("RaS2"))
        return fail(u"%1 is no PWG raster stream"_s.arg(path));
    constexpr qsizetype headerSize = 1796;
    qsizetype at = 4;
    while (at < data.size()) {
        if (data.size() - at < headerSize)
            return fail(u"a page header is cut short"_s);
        const auto field = [&](int offset) {
            return qFromBigEndian<quint32>(data.constData() + at + offset);
        };
        const quint32 resolution = field(276), width = field(372), height = field(376);
        const quint32 bitsPerColor = field(384), bitsPerPixel = field(388), bytesPerLine = field(392);
        const int channels = int(bitsPerPixel / 8);
        if (bitsPerColor != 8 || (channels != 1 && channels != 3) ||
            bytesPerLine != width * quint32(channels) || width == 0 || height == 0 || width > 40000 ||
            height > 40000)
            return fail(u"unsupported page: %1 bits per colour, %2 per pixel, %3 x %4"_s.arg(bitsPerColor)
                            .arg(bitsPerPixel)
                            .arg(width)
                            .arg(height));
        at += headerSize;
        QImage page(int(width), int(height), QImage::Format_RGB32);
        page.setDotsPerMeterX(qRound(resolution / 0.0254));
        page.setDotsPerMeterY(qRound(resolution / 0.0254));
        QByteArray line(qsizetype(bytesPerLine), '\0');
        quint32 y = 0;
        while (y < height) {
            // A line: how many times it repeats, then runs of one repeated pixel or of literal pixels;
            // 128 leaves the rest of the line white.
            if (at >= data.size())
                return fail(u"the page data ends at line %1"_s.arg(y));
            const int repeat = quint8(data[at++]) + 1;
            qsizetype x = 0;
            while (x < qsizetype(bytesPerLine)) {
                if (at >= data.size())
                    return fail(u"the page data ends in line %1"_s.arg(y));
                const int control = quint8(data[at++]);
                if (control == 128) {
                    std::fill(line.begin() + x, line.end(), char(0xff));
                    break;
                }
                const qsizetype count = control < 128 ? control + 1 : 257 - control;
                const qsizetype bytes = (control < 128 ? 1 : count) * channels;
                if (x + count * channels > line.size() || at + bytes > data.size())
                    return fail(u"a run overflows line %1"_s.arg(y));
                for (qsizetype i = 0; i < count; ++i) {
                    const char* from = data.constData() + at + (control < 128 ? 0 : i * channels);
                    std::copy(from, from + channels, line.begin() + x + i * channels);
                }
                at += bytes;
                x += count * channels;
            }
            for (int r = 0; r < repeat && y < height; ++r, ++y) {
                auto* out = reinterpret_cast<QRgb*>(page.scanLine(int(y)));
                for (quint32 i = 0; i < width; ++i) {
                    const auto* p = reinterpret_cast<const uchar*>(line.constData()) + i * quint32(channels);
                    out[i] = channels == 3 ? qRgb(p[0], p[1], p[2]) : qRgb(p[0], p[0], p[0]);
                }
            }
        }
        pages.append(page);
    }
    return pages;
}

} // namespace Lumetra::Testing
