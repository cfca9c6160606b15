#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

namespace Lumetra {

// Files opened from the desktop (Open With, a drop on the Dock icon on macOS)
// arrive at the application object as QFileOpenEvent rather than as arguments.
// This filter hands their local paths, once the event has returned, to the
// same load as the other roads. Several files opened together arrive as one
// event each, in a row; they are handed over together, as one target set.
class FileOpenRouter : public QObject
{
public:
    FileOpenRouter(QObject* parent, std::function<void(const QStringList&)> open);
    ~FileOpenRouter() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(const QStringList&)> m_open;
    QStringList m_pending;
};

} // namespace Lumetra
