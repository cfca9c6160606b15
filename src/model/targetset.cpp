#include "targetset.h"

#include "papergeometry.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>

namespace Lumetra {

QString TargetPage::name() const
{
    if (pagesInFile <= 1)
        return facts.fileName;
    return QCoreApplication::translate("Lumetra::TargetPage", "%1, page %2")
        .arg(facts.fileName)
        .arg(pageIndex + 1);
}

SizeD TargetSet::envelopeInches() const
{
    SizeD envelope;
    for (const TargetPage& page : pages) {
        const SizeD size = page.facts.printSizeInches();
        envelope.width = std::max(envelope.width, size.width);
        envelope.height = std::max(envelope.height, size.height);
    }
    return envelope;
}

int TargetSet::largestPage() const
{
    int largest = 0;
    double largestArea = -1.0;
    for (int i = 0; i < pages.size(); ++i) {
        const SizeD size = pages.at(i).facts.printSizeInches();
        if (size.width * size.height > largestArea) {
            largest = i;
            largestArea = size.width * size.height;
        }
    }
    return largest;
}

QStringList TargetSet::pagesNotFitting(SizeD paperInches, int rotationDegrees) const
{
    QStringList names;
    for (const TargetPage& page : pages) {
        if (!fitsOnPaper(rotatedSize(page.facts.printSizeInches(), rotationDegrees), paperInches))
            names << page.name();
    }
    return names;
}

QStringList TargetSet::pagesWithOtherResolution() const
{
    QStringList names;
    for (const TargetPage& page : pages) {
        const PrintableImage& first = pages.constFirst().facts;
        if (effectiveDpi(page.facts.dpiX) != effectiveDpi(first.dpiX) ||
            effectiveDpi(page.facts.dpiY) != effectiveDpi(first.dpiY))
            names << page.name();
    }
    return names;
}

QStringList TargetSet::pagesWithOtherColorModel() const
{
    QStringList names;
    for (const TargetPage& page : pages) {
        if (page.facts.colorModel != pages.constFirst().facts.colorModel)
            names << page.name();
    }
    return names;
}

PrintSettings fittedSettings(const TargetSet& set, PrintSettings settings)
{
    settings.orientation = orientationForImage(set.pages.at(set.largestPage()).facts.printSizeInches());
    settings.rotationDegrees = 0;
    settings.paper =
        smallestFittingPaper(set.envelopeInches(), settings.orientation, paperSeries(settings.paper));
    return settings;
}

namespace {

// Compares two runs of decimal digits by value without converting them, so any length works.
int compareNumbers(QStringView left, QStringView right)
{
    const auto significant = [](QStringView digits) {
        qsizetype zeros = 0;
        while (zeros + 1 < digits.size() && digits.at(zeros) == u'0')
            ++zeros;
        return digits.mid(zeros);
    };
    const QStringView a = significant(left);
    const QStringView b = significant(right);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

qsizetype runEnd(QStringView text, qsizetype start)
{
    const bool digits = text.at(start).isDigit();
    qsizetype end = start;
    while (end < text.size() && text.at(end).isDigit() == digits)
        ++end;
    return end;
}

} // namespace

bool naturalLess(const QString& left, const QString& right)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < left.size() && j < right.size()) {
        const qsizetype leftEnd = runEnd(left, i);
        const qsizetype rightEnd = runEnd(right, j);
        const QStringView a = QStringView(left).mid(i, leftEnd - i);
        const QStringView b = QStringView(right).mid(j, rightEnd - j);
        const bool numbers = a.at(0).isDigit() && b.at(0).isDigit();
        const int order = numbers ? compareNumbers(a, b) : a.compare(b, Qt::CaseInsensitive);
        if (order != 0)
            return order < 0;
        i = leftEnd;
        j = rightEnd;
    }
    if ((i < left.size()) != (j < right.size()))
        return j < right.size();
    return left < right;
}

QStringList naturallyOrderedPaths(const QStringList& paths)
{
    QStringList ordered;
    QStringList seen;
    for (const QString& path : paths) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        if (!seen.contains(absolute)) {
            seen << absolute;
            ordered << path;
        }
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const QString& a, const QString& b) {
        const QString nameA = QFileInfo(a).fileName();
        const QString nameB = QFileInfo(b).fileName();
        if (nameA == nameB)
            return naturalLess(a, b);
        return naturalLess(nameA, nameB);
    });
    return ordered;
}

} // namespace Lumetra
