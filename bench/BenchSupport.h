#pragma once

// Helpers shared by the benchmark programs in this folder.

#include <QElapsedTimer>
#include <QFile>
#include <QList>

#include <algorithm>

namespace bench {

inline double Median(QList<double> samples)
{
    if (samples.isEmpty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const qsizetype mid = samples.size() / 2;
    return samples.size() % 2 ? samples.at(mid) : (samples.at(mid - 1) + samples.at(mid)) / 2;
}

// Milliseconds taken by work().
template<typename Work>
double TimeMs(Work &&work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// A "VmRSS:" (current) or "VmHWM:" (peak) line of /proc/self/status, in
// bytes. Unlike getrusage()'s ru_maxrss, the peak is this program's own: a
// child started with fork and exec does not inherit its parent's peak.
inline qint64 ResidentBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray name(field);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}
inline qint64 CurrentResidentBytes()
{
    return ResidentBytes("VmRSS:");
}
inline qint64 PeakResidentBytes()
{
    return ResidentBytes("VmHWM:");
}

// Starts a new peak at the current resident size; false where the kernel
// cannot.
inline bool ResetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

} // namespace bench
