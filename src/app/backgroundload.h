#pragma once

#include "imageloader.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;

namespace Lumetra {

// Reads a target set on a worker thread, so that the window stays live while large targets
// decode. One load at a time. The result arrives on the thread that owns this object, as a
// finished set whose pixels the worker no longer touches.
class BackgroundLoad : public QObject
{
    Q_OBJECT

public:
    explicit BackgroundLoad(QObject* parent = nullptr);
    // A load still running is abandoned before its next page, and waited for.
    ~BackgroundLoad() override;

    // Starts reading the files as one target set (ImageLoader::loadSet). Does nothing while a load runs.
    void start(const QStringList& paths);
    bool isRunning() const { return m_thread != nullptr; }

signals:
    // Emitted on the worker thread before each page is decoded; `page` counts from 1.
    void reading(const QString& name, int page, int pages);
    // Emitted on this object's thread once the worker has ended: exactly one of them per start().
    void loaded(const Lumetra::LoadedTargetSet& targets);
    void failed(const QString& message);

private:
    std::unique_ptr<QThread> m_thread;
    std::atomic_bool m_abandoned{false};
};

} // namespace Lumetra
