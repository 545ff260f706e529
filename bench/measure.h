#pragma once

// What every benchmark measures with: memory, processor time, files, medians, and the
// ratio lines.
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QList>
#include <QTimer>
#include <algorithm>
#include <cstdio>

inline double peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// The processor time this process has used, in milliseconds.
inline double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// Runs the event loop for `ms` and gives the share of one core the process took meanwhile.
inline double corePercentWhileIdle(int ms) {
    const double cpu = cpuMs();
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return 100.0 * (cpuMs() - cpu) / timer.elapsed();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// The middle value of an odd number of figures.
inline double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline void printRatio(const char* name, double ms, double floorMs, double rssMb) {
    std::printf("ratio case=%s ms=%.1f floor_ms=%.1f value=%.2f peak_rss_mb=%.1f\n", name, ms,
                floorMs, ms / floorMs, rssMb);
    std::fflush(stdout);
}
