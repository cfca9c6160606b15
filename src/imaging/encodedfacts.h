#pragma once

#include <QByteArrayView>

namespace Lumetra {

// What a PNG or JPEG file itself states, read from its structure rather than
// from the decoded image, because the toolkit's reader fills gaps with its own
// defaults (a screen resolution, a colour space built from gamma chunks) and
// hides a file that ends early.
struct EncodedImageFacts
{
    bool embedsIccProfile = false; // PNG iCCP chunk, JPEG ICC APP2 segment
    bool statesResolutionX = false;
    bool statesResolutionY = false;
    int frameComponents = 0; // JPEG frame header; 0 when unknown
    bool complete = false;   // the data runs to its end marker (PNG IEND, JPEG EOI)
};

EncodedImageFacts scanPng(QByteArrayView data);
EncodedImageFacts scanJpeg(QByteArrayView data);

} // namespace Lumetra
