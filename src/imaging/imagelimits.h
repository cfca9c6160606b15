#pragma once

#include <QtGlobal>

namespace Lumetra {

// Throws ImageLoadException when a declared size exceeds kMaxImagePixels.
// Called with the size from the file's header, before any pixel buffer exists.
void checkPixelCount(quint64 width, quint64 height);

} // namespace Lumetra
