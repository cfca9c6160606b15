#include "backgroundload.h"

#include <QThread>

#include <exception>
#include <optional>

namespace Lumetra {

namespace {

// Thrown into the loader between pages once nobody waits for the result; not a load failure.
struct Abandoned
{};

} // namespace

BackgroundLoad::BackgroundLoad(QObject* parent) : QObject(parent) {}

BackgroundLoad::~BackgroundLoad()
{
    if (!m_thread)
        return;
    m_abandoned = true;
    m_thread->wait();
}

void BackgroundLoad::start(const QStringList& paths)
{
    if (m_thread)
        return;
    m_abandoned = false;
    m_thread.reset(QThread::create([this, paths] {
        std::optional<LoadedTargetSet> targets;
        QString problem;
        try {
            targets = ImageLoader().loadSet(paths, [this](const QString& name, int page, int pages) {
                if (m_abandoned)
                    throw Abandoned();
                emit reading(name, page, pages);
            });
        } catch (const Abandoned&) {
            return;
        } catch (const ImageLoadException& error) {
            problem = error.message();
        } catch (const std::exception& error) {
            problem = QString::fromUtf8(error.what());
        }
        // The set moves into the event; from here on only the receiving thread holds its pixels.
        QMetaObject::invokeMethod(
            this,
            [this, targets = std::move(targets), problem] {
                m_thread->wait(); // it has nothing left to do but return
                m_thread.reset();
                if (targets)
                    emit loaded(*targets);
                else
                    emit failed(problem);
            },
            Qt::QueuedConnection);
    }));
    m_thread->start();
}

} // namespace Lumetra
