#include "privatecups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#include <sys/stat.h>

namespace Lumetra::Testing {

namespace {

QString findProgram(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/local/sbin")});
    return path;
}

bool writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(text.toUtf8()) >= 0;
}

bool runTool(const QString& program, const QStringList& arguments, QByteArray* output, QString* error,
             int timeoutMs = 60000)
{
    const QString path = findProgram(program);
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1 is not installed").arg(program);
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        if (error)
            *error = QStringLiteral("%1 did not finish").arg(program);
        return false;
    }
    const QByteArray out = process.readAll();
    if (output)
        *output = out;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error =
                QStringLiteral("%1 %2 failed: %3")
                    .arg(program, arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(out).trimmed());
        return false;
    }
    return true;
}

} // namespace

PrivateCups::PrivateCups() = default;

PrivateCups::~PrivateCups()
{
    if (m_cupsd) {
        m_cupsd->terminate();
        if (!m_cupsd->waitForFinished(10000)) {
            m_cupsd->kill();
            m_cupsd->waitForFinished(5000);
        }
        if (m_hadServer)
            qputenv("CUPS_SERVER", m_savedServer);
        else
            qunsetenv("CUPS_SERVER");
    }
}

bool PrivateCups::fail(const QString& message)
{
    m_error = message;
    return false;
}

bool PrivateCups::isRunning() const
{
    return m_cupsd && m_cupsd->state() == QProcess::Running;
}

QString PrivateCups::socketPath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("cups.sock")) : QString();
}

QString PrivateCups::spoolDirectory() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("spool")) : QString();
}

bool PrivateCups::start()
{
    if (isRunning())
        return true;
    const QString cupsd = findProgram(QStringLiteral("cupsd"));
    if (cupsd.isEmpty())
        return fail(QStringLiteral("cupsd is not installed (install the cups package)"));
    for (const char* tool : {"lpadmin", "lpstat"}) {
        if (findProgram(QString::fromLatin1(tool)).isEmpty())
            return fail(QStringLiteral("%1 is not installed (install cups-client)").arg(QLatin1String(tool)));
    }

    // A short base path: Unix socket paths are limited to about 100 bytes.
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/lumetra-cups-XXXXXX"));
    if (!m_dir->isValid())
        return fail(QStringLiteral("cannot create a temporary folder for the scheduler"));
    const QString root = m_dir->path();
    // The scheduler runs its filters as an unprivileged user; they must reach the spool and may
    // write temporary files.
    ::chmod(QFile::encodeName(root).constData(), 0755);
    for (const char* sub : {"etc", "spool", "cache", "state", "log", "tmp"}) {
        if (!QDir(root).mkpath(QString::fromLatin1(sub)))
            return fail(QStringLiteral("cannot create the scheduler folder %1").arg(QLatin1String(sub)));
    }
    ::chmod(QFile::encodeName(root + QStringLiteral("/tmp")).constData(), 01777);

    const QString cupsdConf = root + QStringLiteral("/etc/cupsd.conf");
    const QString filesConf = root + QStringLiteral("/etc/cups-files.conf");
    const bool written =
        writeFile(cupsdConf, QStringLiteral("Listen %1\n"
                                            "LogLevel info\n"
                                            "PreserveJobFiles Yes\n"
                                            "PreserveJobHistory Yes\n"
                                            "MaxJobs 0\n"
                                            "Browsing No\n"
                                            "DefaultAuthType None\n"
                                            "WebInterface No\n"
                                            "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                            "<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                                            "  </Limit>\n</Policy>\n")
                                 .arg(socketPath())) &&
        writeFile(filesConf, QStringLiteral("ServerRoot %1/etc\n"
                                            "RequestRoot %1/spool\n"
                                            "CacheDir %1/cache\n"
                                            "StateDir %1/state\n"
                                            "TempDir %1/tmp\n"
                                            "ErrorLog %1/log/error_log\n"
                                            "AccessLog %1/log/access_log\n"
                                            "PageLog %1/log/page_log\n"
                                            "Printcap %1/state/printcap\n"
                                            "FileDevice Yes\n")
                                 .arg(root));
    if (!written)
        return fail(QStringLiteral("cannot write the scheduler configuration"));
    // Let raw jobs through unfiltered, as a stock installation does.
    for (const char* name : {"raw.types", "raw.convs"}) {
        const QString source = QStringLiteral("/etc/cups/") + QLatin1String(name);
        const QString target = root + QStringLiteral("/etc/") + QLatin1String(name);
        if (QFile::exists(source))
            QFile::copy(source, target);
        else
            writeFile(target,
                      QString::fromLatin1(qstrcmp(name, "raw.types") == 0
                                              ? "application/vnd.cups-raw\n"
                                              : "application/octet-stream application/vnd.cups-raw 0 -\n"));
    }

    m_hadServer = qEnvironmentVariableIsSet("CUPS_SERVER");
    m_savedServer = qgetenv("CUPS_SERVER");
    qputenv("CUPS_SERVER", QFile::encodeName(socketPath()));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");

    m_cupsd = std::make_unique<QProcess>();
    m_cupsd->setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd->start(cupsd,
                   {QStringLiteral("-f"), QStringLiteral("-c"), cupsdConf, QStringLiteral("-s"), filesConf});
    if (!m_cupsd->waitForStarted(10000))
        return fail(QStringLiteral("cupsd could not be started: %1").arg(m_cupsd->errorString()));

    QDeadlineTimer deadline(15000);
    while (!runClient(QStringLiteral("lpstat"), {QStringLiteral("-r")})) {
        if (m_cupsd->state() != QProcess::Running || deadline.hasExpired()) {
            const QString output = QString::fromLocal8Bit(m_cupsd->readAll()).trimmed();
            return fail(
                QStringLiteral("the private cupsd did not come up: %1 %2").arg(output, errorLogTail()));
        }
        QThread::msleep(100);
    }

    QString output;
    if (!runClient(QStringLiteral("lpadmin"),
                   {QStringLiteral("-p"), rawQueue(), QStringLiteral("-E"), QStringLiteral("-v"),
                    QStringLiteral("file:///dev/null")},
                   &output))
        return fail(QStringLiteral("cannot add the raw queue: %1 %2").arg(output, errorLogTail()));

    // The generic PostScript driver, under whichever name this CUPS offers it.
    QString model = QStringLiteral("drv:///sample.drv/generic.ppd");
    QString models;
    if (runClient(QStringLiteral("lpinfo"), {QStringLiteral("-m")}, &models) &&
        !models.contains(model + QLatin1Char(' '))) {
        model.clear();
        const QStringList lines = models.split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            if (line.contains(QStringLiteral("Generic PostScript Printer"))) {
                model = line.section(QLatin1Char(' '), 0, 0);
                break;
            }
        }
        if (model.isEmpty())
            return fail(QStringLiteral("this CUPS offers no generic PostScript driver"));
    }
    if (!runClient(QStringLiteral("lpadmin"),
                   {QStringLiteral("-p"), postScriptQueue(), QStringLiteral("-E"), QStringLiteral("-v"),
                    QStringLiteral("file:///dev/null"), QStringLiteral("-m"), model},
                   &output))
        return fail(QStringLiteral("cannot add the PostScript queue: %1 %2").arg(output, errorLogTail()));
    if (!setDefaultQueue(rawQueue()))
        return fail(QStringLiteral("cannot choose the default queue: %1").arg(errorLogTail()));
    return true;
}

bool PrivateCups::runClient(const QString& program, const QStringList& arguments, QString* output) const
{
    if (!m_dir)
        return false;
    const QString path = findProgram(program);
    if (path.isEmpty())
        return false;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CUPS_SERVER"), socketPath());
    environment.remove(QStringLiteral("PRINTER"));
    environment.remove(QStringLiteral("LPDEST"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PrivateCups::setDefaultQueue(const QString& queue)
{
    return runClient(QStringLiteral("lpadmin"), {QStringLiteral("-d"), queue});
}

QStringList PrivateCups::spooledDocuments() const
{
    if (!m_dir)
        return {};
    QStringList files = QDir(spoolDirectory()).entryList({QStringLiteral("d*")}, QDir::Files, QDir::Name);
    for (QString& file : files)
        file = spoolDirectory() + QLatin1Char('/') + file;
    return files;
}

QString PrivateCups::waitForNewDocument(const QStringList& before, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
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
    const QString job = info.fileName().section(QLatin1Char('-'), 0, 0).mid(1);
    QFile control(info.absolutePath() + QStringLiteral("/c") + job);
    if (!control.open(QIODevice::ReadOnly))
        return {};
    return control.readAll();
}

QString PrivateCups::errorLogTail(int lines) const
{
    if (!m_dir)
        return {};
    QFile log(m_dir->filePath(QStringLiteral("log/error_log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    const QStringList all =
        QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return all.mid(qMax(0, all.size() - lines)).join(QLatin1Char('\n'));
}

bool popplerToolsAvailable(QString* missing)
{
    for (const char* tool : {"pdfimages", "pdftoppm", "pdfinfo"}) {
        if (findProgram(QString::fromLatin1(tool)).isEmpty()) {
            if (missing)
                *missing =
                    QStringLiteral("%1 is not installed (install poppler-utils)").arg(QLatin1String(tool));
            return false;
        }
    }
    return true;
}

QList<PdfImageInfo> listPdfImages(const QString& pdfPath, QString* error)
{
    QByteArray output;
    if (!runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdfPath}, &output, error))
        return {};
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    QList<PdfImageInfo> images;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray& line : lines) {
        const QStringList f =
            QString::fromLatin1(line).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        bool numeric = false;
        if (f.size() < 14)
            continue;
        f.at(0).toInt(&numeric);
        if (!numeric)
            continue;
        PdfImageInfo info;
        info.page = f.at(0).toInt();
        info.number = f.at(1).toInt();
        info.type = f.at(2);
        info.width = f.at(3).toInt();
        info.height = f.at(4).toInt();
        info.color = f.at(5);
        info.components = f.at(6).toInt();
        info.bitsPerComponent = f.at(7).toInt();
        info.encoding = f.at(8);
        info.interpolate = f.at(9) == QLatin1String("yes");
        info.xPpi = f.at(12).toInt();
        info.yPpi = f.at(13).toInt();
        images.append(info);
    }
    return images;
}

QList<QImage> extractPdfImages(const QString& pdfPath, QString* error)
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        if (error)
            *error = QStringLiteral("cannot create a temporary folder");
        return {};
    }
    if (!runTool(QStringLiteral("pdfimages"),
                 {QStringLiteral("-png"), pdfPath, dir.filePath(QStringLiteral("img"))}, nullptr, error))
        return {};
    QList<QImage> images;
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("img-*")}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        QImage image(dir.filePath(file));
        if (image.isNull()) {
            if (error)
                *error = QStringLiteral("cannot decode the extracted %1").arg(file);
            return {};
        }
        images.append(image);
    }
    return images;
}

QImage renderPdfPage(const QString& pdfPath, int dpi, int page, QString* error)
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        if (error)
            *error = QStringLiteral("cannot create a temporary folder");
        return {};
    }
    const QString number = QString::number(page);
    const QString base = dir.filePath(QStringLiteral("page"));
    if (!runTool(QStringLiteral("pdftoppm"),
                 {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), number,
                  QStringLiteral("-l"), number, QStringLiteral("-png"), QStringLiteral("-singlefile"),
                  pdfPath, base},
                 nullptr, error))
        return {};
    QImage image(base + QStringLiteral(".png"));
    if (image.isNull() && error)
        *error = QStringLiteral("pdftoppm wrote no readable page");
    return image;
}

QSizeF pdfPageSizePoints(const QString& pdfPath, int page, QString* error)
{
    QByteArray output;
    const QString number = QString::number(page);
    if (!runTool(QStringLiteral("pdfinfo"),
                 {QStringLiteral("-f"), number, QStringLiteral("-l"), number, pdfPath}, &output, error))
        return {};
    // "Page    1 size: 595.276 x 841.89 pts (A4)" or, for a single page, "Page size: ..."
    static const QRegularExpression pattern(
        QStringLiteral("Page\\s+(?:\\d+\\s+)?size:\\s+([0-9.]+)\\s+x\\s+([0-9.]+)\\s+pts"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(output));
    if (!match.hasMatch()) {
        if (error)
            *error = QStringLiteral("pdfinfo gave no page size: %1").arg(QString::fromLatin1(output));
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
