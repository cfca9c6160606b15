#pragma once

#include <QByteArrayView>

namespace Lumetra {

// What a PNG or JPEG file states, read from its bare structure by a scan that
// shares nothing with the decoders, so the fuzzers can hold a load to it. A JPEG
// states what comes before its first scan.
struct EncodedImageFacts
{
    bool embedsIccProfile = false; // PNG iCCP chunk, JPEG ICC APP2 segment
    bool statesResolutionX = false;
    bool statesResolutionY = false;
    bool carriesExif = false; // JPEG APP1 Exif segment, which may state a resolution
    int frameComponents = 0;  // JPEG frame header; 0 when unknown
    bool complete = false;    // the data runs to its end marker (PNG IEND, JPEG EOI)
};

EncodedImageFacts scanPng(QByteArrayView data);
EncodedImageFacts scanJpeg(QByteArrayView data);

} // namespace Lumetra
