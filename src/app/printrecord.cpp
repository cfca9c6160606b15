#include "printrecord.h"

#include "papergeometry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

#include <algorithm>

namespace Lumetra {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Lumetra::PrintHistory", text);
}

QString historyPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/history.jsonl");
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QString absolutePath(const QString& path)
{
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

// The command line's word for the orientation.
QString orientationName(PrintOrientation orientation)
{
    return orientation == PrintOrientation::Landscape ? QStringLiteral("landscape")
                                                      : QStringLiteral("portrait");
}

} // namespace

QJsonObject printRecord(const TargetSet& set, const CheckedJob& checked, int jobId, const QDateTime& time)
{
    const PrintJob& job = checked.job;
    QJsonArray pages;
    for (int index = job.first; index <= job.last; ++index) {
        const PrintableImage& facts = job.pages.at(index);
        const TargetPage page = set.pages.value(index); // none for an image shown without its set: no digest
        pages.append(QJsonObject{{QStringLiteral("file"), absolutePath(facts.filePath)},
                                 {QStringLiteral("sha256"), textOrNull(QString::fromLatin1(page.sha256))},
                                 {QStringLiteral("page"), page.pageIndex + 1},
                                 {QStringLiteral("pixelWidth"), qint64(facts.pixelWidth)},
                                 {QStringLiteral("pixelHeight"), qint64(facts.pixelHeight)},
                                 {QStringLiteral("dpiX"), effectiveDpi(facts.dpiX)},
                                 {QStringLiteral("dpiY"), effectiveDpi(facts.dpiY)},
                                 {QStringLiteral("resolutionAssumed"), facts.resolutionAssumed}});
    }
    QJsonArray options;
    for (const auto& [name, value] : checked.options)
        options.append(QJsonArray{name, value});
    return {
        // With the offset, so that a record read in another time zone still tells the hour it printed.
        {QStringLiteral("time"), time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate)},
        {QStringLiteral("pages"), pages},
        {QStringLiteral("sheet"), job.settings.paper.name},
        {QStringLiteral("orientation"), orientationName(job.settings.orientation)},
        {QStringLiteral("alignment"), alignmentKeyword(job.settings.alignment)},
        {QStringLiteral("rotation"), job.settings.rotationDegrees},
        {QStringLiteral("queue"), textOrNull(job.queue)},
        {QStringLiteral("printerMakeAndModel"), textOrNull(checked.printerMakeAndModel)},
        {QStringLiteral("jobId"), jobId > 0 ? QJsonValue(jobId) : QJsonValue()},
        {QStringLiteral("pdf"), textOrNull(absolutePath(job.outputFile))},
        // A PDF file holds each page once, whatever copy count the dialog kept from an earlier print.
        {QStringLiteral("copies"), job.queue.isEmpty() ? 1 : job.copies},
        {QStringLiteral("options"), options},
        {QStringLiteral("version"), QCoreApplication::applicationVersion()},
    };
}

QString PrintHistory::filePath()
{
    const QString path = historyPath();
    QDir().mkpath(QFileInfo(path).path());
    return path;
}

void PrintHistory::append(const QJsonObject& record)
{
    QFile file(filePath());
    QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    // Unbuffered, so that the line goes out in one write: a window and a command-line print appending
    // at once never interleave their records.
    bool written = file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered);
    if (written) {
        // A line cut short by a crash must not swallow this record too.
        if (file.size() > 0 && (!file.seek(file.size() - 1) || file.read(1) != "\n"))
            line.prepend('\n');
        written = file.write(line) == line.size();
    }
    if (!written) {
        throw PrintHistoryException(tr("The print history %1 cannot be written: %2.")
                                        .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
    }
}

QList<QByteArray> PrintHistory::lastLines(int count)
{
    QFile file(historyPath());
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        throw PrintHistoryException(tr("The print history %1 cannot be read: %2.")
                                        .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    QList<QByteArray> records;
    for (auto line = lines.crbegin(); line != lines.crend() && (count < 0 || records.size() < count);
         ++line) {
        if (QJsonDocument::fromJson(*line).isObject())
            records << *line;
    }
    std::reverse(records.begin(), records.end());
    return records;
}

} // namespace Lumetra
