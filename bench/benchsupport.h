#ifndef USBSYNTH_BENCH_BENCHSUPPORT_H
#define USBSYNTH_BENCH_BENCHSUPPORT_H

// Small helpers shared by the timing programs: clocks, statistics, the
// simulated bench they run against, and the table they print.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace bench {

inline double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline double wallSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Resident set size of this process in MB.
inline double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

inline double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = qsizetype(p * double(values.size() - 1) + 0.5);
    return values.at(std::min(index, values.size() - 1));
}

// Points the simulated instruments at a configuration of our own and makes
// sure a display-less machine can still create widgets. Call before the
// application object exists.
class SimBench
{
public:
    explicit SimBench(const QByteArray &json)
    {
        if (qEnvironmentVariableIsEmpty("USBSYNTH_VISA_LIBRARY"))
            qputenv("USBSYNTH_VISA_LIBRARY", "sim");
        if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("USBSYNTH_SIM_TRACE", "");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path())); // kept settings stay out of the user's
        QFile file(dir.filePath(QStringLiteral("sim.json")));
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
            qFatal("cannot write the simulator configuration");
        file.close();
        qputenv("USBSYNTH_SIM_CONFIG", QFile::encodeName(file.fileName()));
    }
    QString path(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
};

inline void printRow(const char *measure, const QString &value, const QString &target, bool met)
{
    std::printf("| %-52s | %-24s | %-22s | %-4s |\n", measure, qPrintable(value), qPrintable(target),
                met ? "yes" : "NO");
    std::fflush(stdout);
}

inline void printHeader()
{
    std::printf("| %-52s | %-24s | %-22s | %-4s |\n", "measure", "result", "target", "met");
    std::printf("|%s|%s|%s|%s|\n", QByteArray(54, '-').constData(), QByteArray(26, '-').constData(),
                QByteArray(24, '-').constData(), QByteArray(6, '-').constData());
}

} // namespace bench

#endif // USBSYNTH_BENCH_BENCHSUPPORT_H
