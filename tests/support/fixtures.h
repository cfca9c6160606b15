#pragma once

// Test support: targets with known pixels, shared by the suites that print them.

#include "printmodel.h"

#include <QImage>

namespace Lumetra::Testing {

// Every pixel differs from its neighbours, so a shift, a turn or a blend shows; `seed` gives each page
// of a set pixels of its own. Pixels are never white, so the chart stands out on a blank sheet.
QImage chart(int width, int height, QImage::Format format = QImage::Format_RGB32, int seed = 0);

// `pixels` as a decoded target of `dpi` in both directions.
PrintableImage printable(const QImage& pixels, double dpi);

} // namespace Lumetra::Testing
