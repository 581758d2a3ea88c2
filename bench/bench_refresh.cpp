// Time of one refresh pass (firmware-4 GHz model: all eleven queries)
// against the simulated instrument, without and with read latency.
//   bench_refresh [passes]
#include "benchsupport.h"
#include "link/visa.h"
#include "tab/usbsticktab.h"

#include <QApplication>
#include <QTimer>

#include <sys/prctl.h>

namespace {

const QString Descriptor = QStringLiteral("USB0::0x3A7C::0x0010::BENCH1::INSTR");

QByteArray config(int latencyMs)
{
    return QStringLiteral(R"({"resources": [{"resource": "%1", "idn": "Quorvex Electronics,VX27H774-10,BENCH1,V4.1.0",
                              "faults": {"latencyMs": %2}}]})")
        .arg(Descriptor)
        .arg(latencyMs)
        .toUtf8();
}

struct PassTimes
{
    QList<double> wall; // seconds per pass
    QList<double> cpu;
};

PassTimes timePasses(UsbStickTab &tab, int passes)
{
    auto *timer = tab.findChild<QTimer *>(QStringLiteral("refreshTimer"));
    PassTimes times;
    for (int i = 0; i < passes; ++i) {
        const double wall0 = bench::wallSeconds();
        const double cpu0 = bench::cpuSeconds();
        QMetaObject::invokeMethod(&tab, "refreshInterface", Qt::DirectConnection);
        times.wall << bench::wallSeconds() - wall0;
        times.cpu << bench::cpuSeconds() - cpu0;
        timer->stop();
    }
    return times;
}

} // namespace

int main(int argc, char *argv[])
{
    bench::SimBench sim(config(0));
    // The simulated latency is a sleep inside this process; without this the
    // kernel may wake it up to 50 us late, which is the host's doing, not the
    // panel's.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    QApplication app(argc, argv);
    const int passes = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;

    visa::Session rm = visa::NullSession;
    if (visa::openDefaultRM(&rm) < 0)
        qFatal("no VISA library");
    UsbStickTab tab(rm, Descriptor, QStringLiteral("V4.1.0"), QStringLiteral("VX27H774-10"),
                    QStringLiteral("BENCH1"), QStringLiteral("0x0010"));
    // The first passes bring the form in line with the instrument (and echo).
    timePasses(tab, 3);

    bench::printHeader();
    const PassTimes fast = timePasses(tab, passes);
    const double wall = bench::percentile(fast.wall, 0.5) * 1e6;
    const double cpu = bench::percentile(fast.cpu, 0.5) * 1e6;
    bench::printRow("refresh pass, no latency: wall, median", QStringLiteral("%1 us").arg(wall, 0, 'f', 1),
                    QStringLiteral("< 300 us"), wall < 300);
    bench::printRow("refresh pass, no latency: CPU, median", QStringLiteral("%1 us").arg(cpu, 0, 'f', 1),
                    QStringLiteral("< 300 us"), cpu < 300);
    bench::printRow("refresh pass, no latency: wall, 90th percentile",
                    QStringLiteral("%1 us").arg(bench::percentile(fast.wall, 0.9) * 1e6, 0, 'f', 1),
                    QStringLiteral("-"), true);

    // Rewrite the configuration (same file, so the instrument keeps its state).
    const int latencyMs = 1;
    QFile file(qEnvironmentVariable("USBSYNTH_SIM_CONFIG"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot rewrite the simulator configuration");
    file.write(config(latencyMs));
    file.close();
    timePasses(tab, 2);
    const PassTimes slow = timePasses(tab, std::max(50, passes / 20));
    const double slowWall = bench::percentile(slow.wall, 0.5) * 1e3;
    const double budget = 11 * latencyMs + 1;
    bench::printRow("refresh pass, 1 ms read latency: wall, median", QStringLiteral("%1 ms").arg(slowWall, 0, 'f', 3),
                    QStringLiteral("<= %1 ms").arg(budget), slowWall <= budget);
    bench::printRow("  beyond 11 x latency (the panel's own part)",
                    QStringLiteral("%1 us").arg((slowWall - 11 * latencyMs) * 1e3, 0, 'f', 1),
                    QStringLiteral("< 1000 us"), slowWall - 11 * latencyMs < 1);
    bench::printRow("refresh pass, 1 ms read latency: CPU, median",
                    QStringLiteral("%1 us").arg(bench::percentile(slow.cpu, 0.5) * 1e6, 0, 'f', 1),
                    QStringLiteral("< 1 ms"), bench::percentile(slow.cpu, 0.5) < 1e-3);
    visa::close(rm);
    return 0;
}
