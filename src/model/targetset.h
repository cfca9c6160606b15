#pragma once

#include "printmodel.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace Lumetra {

// One sheet of a target: where its pixels are and what the loader found out about them.
struct TargetPage
{
    PrintableImage facts; // everything but the pixels: `image` stays null
    int pageIndex = 0;    // among the file's full-resolution pages
    int pagesInFile = 1;
    // The file as it was loaded: its SHA-256 (hex) and what tells a later change of it.
    QByteArray sha256{};
    qint64 fileSize = 0;
    QDateTime modified{};

    // How the user knows the page: "chart_02.tif", or "chart.tif, page 3" within a multi-page file.
    QString name() const;
};

// The sheets of one target in print order, laid out alike on one paper.
struct TargetSet
{
    QList<TargetPage> pages;

    // The print size that holds every page, in inches; the paper is chosen for it.
    SizeD envelopeInches() const;
    // The page with the largest print area, which decides the orientation; the first on a tie.
    int largestPage() const;
    // The names of the pages that, turned by the rotation, are larger than the paper.
    QStringList pagesNotFitting(SizeD paperInches, int rotationDegrees) const;
    // The names of the pages whose resolution, or colour model, differs from the first page's.
    QStringList pagesWithOtherResolution() const;
    QStringList pagesWithOtherColorModel() const;
};

// The settings for a newly loaded set: the sheet turned for the largest page, the image upright on it,
// and the smallest sheet of the settings' series that holds every page (a Letter user is never moved
// to DIN A3). The alignment stays.
PrintSettings fittedSettings(const TargetSet& set, PrintSettings settings);

// File-name order as people count: runs of digits compare by value (_2 before _10), the rest
// without regard to case; names equal that way fall back to plain comparison.
bool naturalLess(const QString& left, const QString& right);

// The paths in natural order of their file names, each path once.
QStringList naturallyOrderedPaths(const QStringList& paths);

} // namespace Lumetra
