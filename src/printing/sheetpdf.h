#pragma once

#include "printmodel.h"

#include <QFile>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>

namespace Lumetra {

// Writes the sheets of a job as a PDF of its own making: on each page of the sheet's exact size one
// image, the target's own pixels as 8-bit RGB (with a soft mask where the target is transparent),
// losslessly compressed, never interpolated, placed by the same rule as the preview. The pixels are
// streamed in bands, so the writing reports real progress, stops between bands when cancelled and
// holds no full-size copy of the image.
class SheetPdfWriter
{
public:
    // Called with the image rows written so far, over all sheets.
    using Progress = std::function<void(qint64 rows)>;

    // Throws PrintException when the file cannot be created.
    explicit SheetPdfWriter(const QString& path);
    ~SheetPdfWriter();
    SheetPdfWriter(const SheetPdfWriter&) = delete;
    SheetPdfWriter& operator=(const SheetPdfWriter&) = delete;

    // One sheet of the settings' paper and orientation with the image placed on it. `turnedPixels`,
    // when not null, is the image already turned by the settings' rotation. False when `cancelled`
    // was set before the sheet was complete; the file is then unfinished. Throws PrintException when
    // the file cannot be written.
    bool addSheet(const PrintableImage& image, const PrintSettings& settings, const QImage& turnedPixels,
                  const std::atomic_bool& cancelled, const Progress& progress);

    // Ends the document; throws PrintException when the file cannot be completed.
    void finish();

private:
    int newObject();
    void beginObject(int object);
    void write(const QByteArray& bytes);
    // Writes a compressed stream of `rows` rows, each produced by `row` into the buffer it is given.
    qint64 writeStream(int rows, const std::function<bool(int row, QByteArray& out)>& row);

    QFile m_file;
    QList<qint64> m_offsets; // by object number; 0 is the free list head
    QList<int> m_pages;
    qint64 m_rowsDone = 0;
};

} // namespace Lumetra
