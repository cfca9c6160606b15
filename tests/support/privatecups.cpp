#include "privatecups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <sys/stat.h>

#include <utility>

using namespace Qt::StringLiterals;

namespace Lumetra::Testing {

namespace {

QString findProgram(const QString& name)
{
    const QString path = QStandardPaths::findExecutable(name);
    return !path.isEmpty() ? path : QStandardPaths::findExecutable(name, {u"/usr/sbin"_s, u"/sbin"_s});
}

bool failWith(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

// Runs a tool to its end; false with *error when it is missing, hangs or fails. Every CUPS client
// inherits CUPS_SERVER from this process once the private scheduler has started.
bool run(const QString& program, const QStringList& arguments, QByteArray* output, QString* error = nullptr)
{
    const QString path = findProgram(program);
    if (path.isEmpty())
        return failWith(error, u"%1 is not installed"_s.arg(program));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return failWith(error, u"%1 did not finish"_s.arg(program));
    }
    const QByteArray out = process.readAll();
    if (output)
        *output = out;
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    return failWith(error, u"%1 %2 failed: %3"_s.arg(program, arguments.join(u' '),
                                                     QString::fromLocal8Bit(out).trimmed()));
}

} // namespace

PrivateCups::~PrivateCups()
{
    if (!m_cupsd)
        return;
    m_cupsd->terminate();
    m_cupsd->waitForFinished(10000); // QProcess kills it when it is still running after that
    m_cupsd.reset();
    if (m_hadServer)
        qputenv("CUPS_SERVER", m_savedServer);
    else
        qunsetenv("CUPS_SERVER");
}

bool PrivateCups::runClient(const QString& program, const QStringList& arguments, QString* output) const
{
    QByteArray out;
    const bool ok = m_dir && run(program, arguments, &out);
    if (output)
        *output = QString::fromLocal8Bit(out);
    return ok;
}

bool PrivateCups::start()
{
    if (m_cupsd && m_cupsd->state() == QProcess::Running)
        return true;
    for (const char* tool : {"cupsd", "lpadmin", "lpstat", "lpinfo"}) {
        if (findProgram(QString::fromLatin1(tool)).isEmpty())
            return fail(u"%1 is not installed (install cups and cups-client)"_s.arg(QLatin1String(tool)));
    }
    // A short base path: Unix socket paths are limited to about 100 bytes.
    m_dir = std::make_unique<QTemporaryDir>(u"/tmp/lumetra-cups-XXXXXX"_s);
    if (!m_dir->isValid())
        return fail(u"cannot create a temporary folder for the scheduler"_s);
    const QString root = m_dir->path();
    for (const char* sub : {"etc", "spool", "cache", "state", "log", "tmp"}) {
        if (!QDir(root).mkpath(QString::fromLatin1(sub)))
            return fail(u"cannot create the scheduler folder %1"_s.arg(QLatin1String(sub)));
    }
    // The scheduler runs its filters as an unprivileged user; they must reach the spool and may
    // write temporary files.
    ::chmod(QFile::encodeName(root).constData(), 0755);
    ::chmod(QFile::encodeName(path("tmp")).constData(), 01777);

    const QString cupsdConf = path("etc/cupsd.conf");
    const QString filesConf = path("etc/cups-files.conf");
    const std::pair<QString, QString> files[] = {
        {cupsdConf, u"Listen %1\nLogLevel info\nPreserveJobFiles Yes\nPreserveJobHistory Yes\nMaxJobs 0\n"
                    "Browsing No\nDefaultAuthType None\nWebInterface No\n"
                    "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                    "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"_s.arg(
                        path("cups.sock"))},
        {filesConf, u"ServerRoot %1/etc\nRequestRoot %1/spool\nCacheDir %1/cache\nStateDir %1/state\n"
                    "TempDir %1/tmp\nErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                    "PageLog %1/log/page_log\nPrintcap %1/state/printcap\nFileDevice Yes\n"_s.arg(root)},
        // Let raw jobs through unfiltered, as a stock installation does.
        {path("etc/raw.types"), u"application/octet-stream\n"_s},
        {path("etc/raw.convs"), u"application/octet-stream application/vnd.cups-raw 0 -\n"_s}};
    for (const auto& [name, text] : files) {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
            return fail(u"cannot write the scheduler configuration %1"_s.arg(name));
    }

    m_hadServer = qEnvironmentVariableIsSet("CUPS_SERVER");
    m_savedServer = qgetenv("CUPS_SERVER");
    qputenv("CUPS_SERVER", QFile::encodeName(path("cups.sock")));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");

    m_cupsd = std::make_unique<QProcess>();
    m_cupsd->setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd->start(findProgram(u"cupsd"_s), {u"-f"_s, u"-c"_s, cupsdConf, u"-s"_s, filesConf});
    if (!m_cupsd->waitForStarted(10000))
        return fail(u"cupsd could not be started: %1"_s.arg(m_cupsd->errorString()));
    const QDeadlineTimer deadline(15000);
    // lpstat -r exits 0 either way; only its words tell whether the scheduler listens yet.
    QString status;
    while (!runClient(u"lpstat"_s, {u"-r"_s}, &status) || !status.contains(u"scheduler is running"_s)) {
        if (m_cupsd->state() != QProcess::Running || deadline.hasExpired())
            return fail(u"the private cupsd did not come up: %1 %2"_s.arg(
                QString::fromLocal8Bit(m_cupsd->readAll()).trimmed(), errorLogTail()));
        QThread::msleep(100);
    }

    // The generic PostScript driver, under whichever name this CUPS offers it.
    QString model = u"drv:///sample.drv/generic.ppd"_s;
    QString models;
    if (runClient(u"lpinfo"_s, {u"-m"_s}, &models) && !models.contains(model + u' ')) {
        const QStringList generic = models.split(u'\n').filter(u"Generic PostScript Printer"_s);
        if (generic.isEmpty())
            return fail(u"this CUPS offers no generic PostScript driver"_s);
        model = generic.first().section(u' ', 0, 0);
    }
    const std::pair<QString, QStringList> queues[] = {{rawQueue(), {}},
                                                      {postScriptQueue(), {u"-m"_s, model}}};
    for (const auto& [queue, driver] : queues) {
        QString output;
        if (!runClient(u"lpadmin"_s,
                       QStringList{u"-p"_s, queue, u"-E"_s, u"-v"_s, u"file:///dev/null"_s} + driver,
                       &output))
            return fail(u"cannot add the queue %1: %2 %3"_s.arg(queue, output, errorLogTail()));
    }
    if (!setDefaultQueue(rawQueue()))
        return fail(u"cannot choose the default queue: %1"_s.arg(errorLogTail()));
    return true;
}

bool PrivateCups::setDefaultQueue(const QString& queue)
{
    return runClient(u"lpadmin"_s, {u"-d"_s, queue});
}

QStringList PrivateCups::spooledDocuments() const
{
    if (!m_dir)
        return {};
    const QDir spool(path("spool"));
    QStringList files = spool.entryList({u"d*"_s}, QDir::Files, QDir::Name);
    for (QString& file : files)
        file = spool.filePath(file);
    return files;
}

QString PrivateCups::waitForNewDocument(const QStringList& before, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QStringList now = spooledDocuments();
        for (const QString& file : now) {
            // The scheduler writes the document before it creates the job's control file.
            if (!before.contains(file) && !jobAttributes(file).isEmpty())
                return file;
        }
        if (deadline.hasExpired())
            return {};
        QThread::msleep(50);
    }
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
    if (!log.open(QIODevice::ReadOnly))
        return {};
    const QStringList all = QString::fromLocal8Bit(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    return all.mid(qMax(0, all.size() - lines)).join(u'\n');
}

bool popplerToolsAvailable(QString* missing)
{
    for (const char* tool : {"pdfimages", "pdftoppm", "pdfinfo"}) {
        if (findProgram(QString::fromLatin1(tool)).isEmpty())
            return failWith(missing,
                            u"%1 is not installed (install poppler-utils)"_s.arg(QLatin1String(tool)));
    }
    return true;
}

QList<PdfImageInfo> listPdfImages(const QString& pdfPath, QString* error)
{
    QByteArray output;
    if (!run(u"pdfimages"_s, {u"-list"_s, pdfPath}, &output, error))
        return {};
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    QList<PdfImageInfo> images;
    static const QRegularExpression space(u"\\s+"_s);
    for (const QByteArray& line : output.split('\n')) {
        const QStringList f = QString::fromLatin1(line).split(space, Qt::SkipEmptyParts);
        if (f.size() < 14 || !f.at(0).at(0).isDigit()) // the heading and its rule
            continue;
        images.append({f.at(0).toInt(), f.at(1).toInt(), f.at(2), f.at(3).toInt(), f.at(4).toInt(), f.at(5),
                       f.at(6).toInt(), f.at(7).toInt(), f.at(8), f.at(9) == "yes"_L1, f.at(12).toInt(),
                       f.at(13).toInt()});
    }
    return images;
}

QList<QImage> extractPdfImages(const QString& pdfPath, QString* error)
{
    const QTemporaryDir dir;
    if (!dir.isValid() || !run(u"pdfimages"_s, {u"-png"_s, pdfPath, dir.filePath(u"img"_s)}, nullptr, error))
        return {};
    QList<QImage> images;
    for (const QString& file : QDir(dir.path()).entryList({u"img-*"_s}, QDir::Files, QDir::Name)) {
        images.append(QImage(dir.filePath(file)));
    }
    return images;
}

QImage renderPdfPage(const QString& pdfPath, int dpi, int page, QString* error)
{
    const QTemporaryDir dir;
    const QString number = QString::number(page);
    const QString base = dir.filePath(u"page"_s);
    if (!dir.isValid() || !run(u"pdftoppm"_s,
                               {u"-r"_s, QString::number(dpi), u"-f"_s, number, u"-l"_s, number, u"-png"_s,
                                u"-singlefile"_s, pdfPath, base},
                               nullptr, error))
        return {};
    return QImage(base + u".png"_s);
}

QSizeF pdfPageSizePoints(const QString& pdfPath, int page, QString* error)
{
    QByteArray output;
    const QString number = QString::number(page);
    if (!run(u"pdfinfo"_s, {u"-f"_s, number, u"-l"_s, number, pdfPath}, &output, error))
        return {};
    // "Page    1 size: 595.276 x 841.89 pts (A4)" or, for a single page, "Page size: ..."
    static const QRegularExpression pattern(
        u"Page\\s+(?:\\d+\\s+)?size:\\s+([0-9.]+)\\s+x\\s+([0-9.]+)\\s+pts"_s);
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(output));
    if (!match.hasMatch()) {
        failWith(error, u"pdfinfo gave no page size: %1"_s.arg(QString::fromLatin1(output)));
        return {};
    }
    return {match.captured(1).toDouble(), match.captured(2).toDouble()};
}

bool isPdf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
}

} // namespace Lumetra::Testing
