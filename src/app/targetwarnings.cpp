#include "targetwarnings.h"

#include "papergeometry.h"

#include <QCoreApplication>

namespace Lumetra {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Lumetra::MainWindow", text);
}

// How far an image of that size (in inches, as turned on the sheet) reaches beyond the sheet, in
// millimetres: "0.01 mm taller than the sheet". Never rounded to nothing.
QString overhang(SizeD image, SizeD paper)
{
    const auto millimetres = [](double inches) {
        const double value = inches * kMillimetersPerInch;
        return QString::number(value, 'f', value >= 0.095 ? 1 : value >= 0.0095 ? 2 : 3);
    };
    QStringList sides;
    if (image.width > paper.width + kFitToleranceInches)
        sides << tr("%1 mm wider").arg(millimetres(image.width - paper.width));
    if (image.height > paper.height + kFitToleranceInches)
        sides << tr("%1 mm taller").arg(millimetres(image.height - paper.height));
    return tr("%1 than the sheet").arg(sides.join(tr(" and ")));
}

} // namespace

QString profileName(const PrintableImage& image)
{
    const QString description = image.iccProfileDescription.trimmed();
    return description.isEmpty() ? tr("Embedded ICC profile") : description;
}

std::optional<PrintWarning> profileWarning(const TargetSet& set)
{
    QStringList names;
    int pagesWithProfile = 0;
    for (const TargetPage& page : set.pages) {
        if (!page.facts.hasIccProfile)
            continue;
        ++pagesWithProfile;
        if (!names.contains(profileName(page.facts)))
            names << profileName(page.facts);
    }
    if (pagesWithProfile == 0)
        return std::nullopt;
    if (set.pages.size() == 1) {
        return PrintWarning{tr("Embedded ICC profile detected"),
                            tr("This image contains an embedded ICC profile: %1.").arg(names.constFirst()),
                            tr("Lumetra ignores embedded profiles for profiling target output. Continue "
                               "loading this image, or cancel and choose a different file.")};
    }
    return PrintWarning{tr("Embedded ICC profile detected"),
                        tr("Pages with an embedded ICC profile: %1 of %2. Profiles: %3.")
                            .arg(pagesWithProfile)
                            .arg(set.pages.size())
                            .arg(names.join(QStringLiteral("; "))),
                        tr("Lumetra ignores embedded profiles for profiling target output. Continue loading "
                           "these pages, or cancel and choose different files.")};
}

std::optional<PrintWarning> cropWarning(const TargetSet& set, const PrintSettings& settings)
{
    const SizeD paper = settings.paper.sizeInches(settings.orientation);
    const QStringList tooLarge = set.pagesNotFitting(paper, settings.rotationDegrees);
    if (tooLarge.isEmpty())
        return std::nullopt;
    const QString advice = tr("Continue printing, or cancel and choose a larger paper size.");
    if (set.pages.size() == 1) {
        const SizeD size =
            rotatedSize(set.pages.constFirst().facts.printSizeInches(), settings.rotationDegrees);
        // A target a hair larger than its sheet must not read as the same size: more digits until the
        // overhanging side differs.
        int decimals = 2;
        const auto differs = [&](double image, double sheet) {
            return image <= sheet + kFitToleranceInches ||
                   QString::number(image, 'f', decimals) != QString::number(sheet, 'f', decimals);
        };
        while (decimals < 4 && !(differs(size.width, paper.width) && differs(size.height, paper.height)))
            ++decimals;
        const auto number = [decimals](double value) { return QString::number(value, 'f', decimals); };
        return PrintWarning{tr("Image will be cropped"),
                            tr("The image is larger than the selected paper at its embedded print size."),
                            tr("Image: %1 x %2 in\nPaper: %3 x %4 in\nThe image is %5.\n\n%6")
                                .arg(number(size.width), number(size.height), number(paper.width),
                                     number(paper.height), overhang(size, paper), advice)};
    }
    QStringList pages;
    for (const TargetPage& page : set.pages) {
        if (tooLarge.contains(page.name()))
            pages << tr("%1: %2").arg(
                page.name(),
                overhang(rotatedSize(page.facts.printSizeInches(), settings.rotationDegrees), paper));
    }
    return PrintWarning{tr("Image will be cropped"),
                        tr("Pages larger than the selected paper at their embedded print size: %1 of %2.")
                            .arg(tooLarge.size())
                            .arg(set.pages.size()),
                        tr("%1\nPaper: %2 x %3 in\n\n%4")
                            .arg(pages.join(QLatin1Char('\n')), QString::number(paper.width, 'f', 2),
                                 QString::number(paper.height, 'f', 2), advice)};
}

} // namespace Lumetra
