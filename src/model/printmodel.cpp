#include "printmodel.h"

#include <cmath>

namespace Lumetra {

SizeD PaperPreset::sizeMillimeters(PrintOrientation orientation) const
{
    if (orientation == PrintOrientation::Landscape)
        return {heightMillimeters, widthMillimeters};
    return {widthMillimeters, heightMillimeters};
}

SizeD PaperPreset::sizeInches(PrintOrientation orientation) const
{
    const SizeD mm = sizeMillimeters(orientation);
    return {mm.width / kMillimetersPerInch, mm.height / kMillimetersPerInch};
}

double effectiveDpi(double dpi)
{
    return std::isfinite(dpi) && dpi > 0.0 ? dpi : kFallbackDpi;
}

SizeD PrintableImage::printSizeInches() const
{
    return {static_cast<double>(pixelWidth) / effectiveDpi(dpiX),
            static_cast<double>(pixelHeight) / effectiveDpi(dpiY)};
}

SizeD PrintableImage::printSizeMillimeters() const
{
    const SizeD inches = printSizeInches();
    return {inches.width * kMillimetersPerInch, inches.height * kMillimetersPerInch};
}

SizeD PrintableImage::printSizeDips() const
{
    const SizeD inches = printSizeInches();
    return {inches.width * kDipsPerInch, inches.height * kDipsPerInch};
}

} // namespace Lumetra
