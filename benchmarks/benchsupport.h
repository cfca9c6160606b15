#pragma once

// Figures every benchmark prints: the median and 95th percentile of its samples and the
// process's peak resident memory; and the answer to the print dialog of the print benchmarks.

#include <QApplication>
#include <QPrintDialog>
#include <QTimer>
#include <QtGlobal>

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

namespace Lumetra::Bench {

struct Figures
{
    double median = 0;
    double p95 = 0;
};

// Percentiles by linear interpolation between the sorted samples.
inline Figures summarize(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        const double position = q * static_cast<double>(samples.size() - 1);
        const auto low = static_cast<size_t>(position);
        const size_t high = std::min(low + 1, samples.size() - 1);
        return samples[low] + (samples[high] - samples[low]) * (position - static_cast<double>(low));
    };
    return {at(0.5), at(0.95)};
}

// The peak resident set of this process so far, in MB.
inline double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
#ifdef Q_OS_MACOS
    return static_cast<double>(usage.ru_maxrss) / (1024.0 * 1024.0);
#else
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
}

// Accepts the next print dialog that comes up, once `prepare` has set up its printer (a file to
// print to, say). Lives as long as the print it answers.
class PrintDialogAnswer
{
public:
    explicit PrintDialogAnswer(std::function<void(QPrintDialog&)> prepare)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this, prepare] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QPrintDialog*>(widget);
                if (dialog && dialog->isVisible()) {
                    m_timer.stop();
                    prepare(*dialog);
                    dialog->done(QDialog::Accepted);
                    return;
                }
            }
        });
        m_timer.start(10);
    }

private:
    QTimer m_timer;
};

} // namespace Lumetra::Bench
