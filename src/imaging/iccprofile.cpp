#include "readersupport.h"

#include <QColorSpace>
#include <QtEndian>

namespace Lumetra {

namespace {

quint32 be32At(const QByteArray& data, qsizetype pos)
{
    return qFromBigEndian<quint32>(data.constData() + pos);
}

// The 'desc' tag: version 2 profiles use textDescriptionType (an ASCII string with
// its length), version 4 profiles multiLocalizedUnicodeType (UTF-16 records, the
// first of which is taken).
QString descriptionTag(const QByteArray& profile)
{
    constexpr qsizetype kHeaderSize = 128;
    if (profile.size() < kHeaderSize + 4)
        return {};
    const quint32 tagCount = be32At(profile, kHeaderSize);
    for (quint64 i = 0; i < tagCount && kHeaderSize + 4 + (i + 1) * 12 <= quint64(profile.size()); ++i) {
        const qsizetype entry = kHeaderSize + 4 + qsizetype(i) * 12;
        if (profile.mid(entry, 4) != "desc")
            continue;
        const quint64 offset = be32At(profile, entry + 4);
        const quint64 size = be32At(profile, entry + 8);
        if (offset + size > quint64(profile.size()) || size < 12)
            return {};
        const QByteArray tag = profile.mid(qsizetype(offset), qsizetype(size));
        if (tag.startsWith("desc")) {
            const quint64 length = be32At(tag, 8);
            if (length > quint64(tag.size() - 12))
                return {};
            // The count includes the terminating zero.
            QByteArray text = tag.mid(12, qsizetype(length));
            const qsizetype zero = text.indexOf('\0');
            return QString::fromLatin1(zero < 0 ? text : text.left(zero));
        }
        if (tag.startsWith("mluc") && tag.size() >= 16) {
            const quint32 records = be32At(tag, 8);
            if (records == 0 || tag.size() < 16 + 12)
                return {};
            const quint64 length = be32At(tag, 16 + 4);
            const quint64 start = be32At(tag, 16 + 8);
            if (start + length > quint64(tag.size()))
                return {};
            QString text;
            for (quint64 k = 0; k + 1 < length; k += 2)
                text += QChar(qFromBigEndian<quint16>(tag.constData() + start + k));
            return text;
        }
        return {};
    }
    return {};
}

} // namespace

QString iccProfileDescription(const QByteArray& profile)
{
    const QColorSpace space = QColorSpace::fromIccProfile(profile);
    if (space.isValid())
        return space.description();
    return descriptionTag(profile);
}

} // namespace Lumetra
