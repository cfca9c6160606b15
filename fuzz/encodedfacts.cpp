#include "encodedfacts.h"

#include <cstring>

namespace Lumetra {

namespace {

quint32 bigEndian32(const uchar* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

quint16 bigEndian16(const uchar* p)
{
    return quint16((quint16(p[0]) << 8) | quint16(p[1]));
}

bool startsWith(const uchar* p, qsizetype size, const char* text, qsizetype textSize)
{
    return size >= textSize && std::memcmp(p, text, size_t(textSize)) == 0;
}

bool isStartOfFrame(uchar marker)
{
    // SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

} // namespace

EncodedImageFacts scanPng(QByteArrayView data)
{
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EncodedImageFacts facts;
    const auto* bytes = reinterpret_cast<const uchar*>(data.data());
    const qsizetype size = data.size();
    if (size < 8 || std::memcmp(bytes, signature, 8) != 0)
        return facts;

    qsizetype pos = 8;
    while (size - pos >= 12) {
        const quint32 length = bigEndian32(bytes + pos);
        const uchar* type = bytes + pos + 4;
        const uchar* payload = bytes + pos + 8;
        // Length, type and CRC take 12 bytes around the payload.
        if (length > quint64(size - pos - 12))
            return facts;
        if (std::memcmp(type, "iCCP", 4) == 0) {
            facts.embedsIccProfile = true;
        } else if (std::memcmp(type, "pHYs", 4) == 0 && length >= 9) {
            // Only a unit of metres gives a resolution; unit 0 is an aspect ratio.
            if (payload[8] == 1) {
                facts.statesResolutionX = bigEndian32(payload) > 0;
                facts.statesResolutionY = bigEndian32(payload + 4) > 0;
            }
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            facts.complete = true;
            return facts;
        }
        pos += 12 + qsizetype(length);
    }
    return facts;
}

EncodedImageFacts scanJpeg(QByteArrayView data)
{
    EncodedImageFacts facts;
    const auto* bytes = reinterpret_cast<const uchar*>(data.data());
    const qsizetype size = data.size();
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return facts;

    // What the decoder reads with the header, up to the first scan, is what the file states; a
    // segment between scans comes too late for a reader that has begun to decode.
    bool inScans = false;
    qsizetype pos = 2;
    while (pos < size) {
        // Markers may be preceded by any number of fill bytes.
        if (bytes[pos] != 0xFF)
            return facts;
        while (pos < size && bytes[pos] == 0xFF)
            ++pos;
        if (pos >= size)
            return facts;
        const uchar marker = bytes[pos++];
        if (marker == 0xD9) {
            facts.complete = true;
            return facts;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (size - pos < 2)
            return facts;
        // Like the decoder, a length below 2 counts as an empty segment.
        const qsizetype length = qMax<qsizetype>(2, bigEndian16(bytes + pos));
        if (length > size - pos)
            return facts;
        const uchar* payload = bytes + pos + 2;
        const qsizetype payloadSize = length - 2;
        pos += length;

        if (inScans && marker >= 0xE0 && marker <= 0xEF) {
            continue;
        } else if (marker == 0xE0 && startsWith(payload, payloadSize, "JFIF\0", 5) && payloadSize >= 12) {
            // Like the decoder, the last JFIF segment of the header wins; units 1 (inch) and 2 (cm)
            // state a resolution.
            const uchar unit = payload[7];
            const bool hasUnit = unit == 1 || unit == 2;
            facts.statesResolutionX = hasUnit && bigEndian16(payload + 8) > 0;
            facts.statesResolutionY = hasUnit && bigEndian16(payload + 10) > 0;
        } else if (marker == 0xE1 && startsWith(payload, payloadSize, "Exif\0\0", 6)) {
            facts.carriesExif = true;
        } else if (marker == 0xE2 && startsWith(payload, payloadSize, "ICC_PROFILE\0", 12) &&
                   payloadSize > 14) {
            facts.embedsIccProfile = true;
        } else if (isStartOfFrame(marker) && facts.frameComponents == 0 && payloadSize >= 6) {
            facts.frameComponents = payload[5];
        } else if (marker == 0xDA) {
            inScans = true;
            // Entropy-coded data follows the scan header and runs to the next marker
            // that is neither a stuffed zero nor a restart.
            while (pos < size) {
                if (bytes[pos] != 0xFF) {
                    ++pos;
                    continue;
                }
                qsizetype next = pos + 1;
                while (next < size && bytes[next] == 0xFF)
                    ++next;
                if (next >= size)
                    return facts;
                const uchar following = bytes[next];
                if (following == 0x00 || (following >= 0xD0 && following <= 0xD7)) {
                    pos = next + 1;
                    continue;
                }
                pos = next - 1; // at the last 0xFF before the marker
                break;
            }
        }
    }
    return facts;
}

} // namespace Lumetra
