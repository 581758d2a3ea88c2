// Time of one refresh pass (firmware-4 GHz model: all eleven queries)
// against the simulated instrument, without and with read latency, side by
// side with the same eleven queries from a PyVISA script on the same
// instrument and with the same queries through link/ alone.
//   bench_refresh [passes]
//
// The no-latency part runs twice: on a configuration file, which the
// simulator watches on every VISA call so that a test can change the bench
// between two calls, and on the simulator's built-in bench, which it never
// checks again.
#include "benchsupport.h"
#include "link/commandset.h"
#include "link/visa.h"
#include "tab/usbsticktab.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>

#include <sys/prctl.h>

namespace {

// An instrument of the built-in bench, so both parts ask the same one.
const QString Descriptor = QStringLiteral("USB0::0x3A7C::0x0011::QX20002::INSTR");

QByteArray config(int latencyMs)
{
    return QStringLiteral(R"({"resources": [{"resource": "%1", "idn": "Quorvex Electronics,VX27H774-20,QX20002,V4.1.0",
                              "state": {"frequency": 15, "power": -5, "temperature": 34.5},
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

// The pass's session and queries through link/ alone, without the tab: the
// share of the simulated instrument and the VISA wrapper. CPU seconds.
QList<double> bareQueries(visa::Session rm, int passes)
{
    const char *const queries[] = {cmd::QueryReferenceExternal, cmd::QueryRfOutput, cmd::QueryReferenceFrequency,
                                   cmd::QueryPllMode, cmd::QueryReferenceDivider, cmd::QueryLock, cmd::QueryPower,
                                   cmd::QueryFrequency, cmd::QueryActualFrequency, cmd::QueryStoredStates,
                                   cmd::QueryTemperature};
    QList<double> cpu;
    QString reply;
    for (int i = 0; i < passes; ++i) {
        const double cpu0 = bench::cpuSeconds();
        visa::Session session = visa::NullSession;
        visa::open(rm, Descriptor, &session);
        for (const char *query : queries) {
            visa::writeLine(session, QLatin1String(query));
            visa::readReply(session, &reply);
        }
        visa::close(session);
        cpu << bench::cpuSeconds() - cpu0;
    }
    return cpu;
}

QString micro(double seconds)
{
    return QStringLiteral("%1 us").arg(seconds * 1e6, 0, 'f', 1);
}

// One no-latency round: the panel's pass, link/ alone, then PyVISA, on the
// simulator as the environment sets it now.
void noLatencyRound(UsbStickTab &tab, visa::Session rm, int passes, const char *bench)
{
    timePasses(tab, 3); // the first passes bring the form in line with the instrument
    const PassTimes pass = timePasses(tab, passes);
    const double cpu = bench::percentile(pass.cpu, 0.5);
    const double wall = bench::percentile(pass.wall, 0.5);
    std::printf("| %-52s | %-24s | %-22s | %-4s |\n", bench, "", "", "");
    bench::printRow("refresh pass, no latency: wall, median", micro(wall), QStringLiteral("< 300 us"), wall < 300e-6);
    bench::printRow("refresh pass, no latency: CPU, median", micro(cpu), QStringLiteral("< 300 us"), cpu < 300e-6);
    bench::printRow("refresh pass, no latency: wall, 90th percentile", micro(bench::percentile(pass.wall, 0.9)),
                    QStringLiteral("-"), true);
    bench::printRow("  same queries through link/ alone: CPU, median",
                    micro(bench::percentile(bareQueries(rm, passes), 0.5)), QStringLiteral("-"), true);

    // A standard VISA client, measured the same way (median CPU time of the
    // process per pass), on the same instrument.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(USBSYNTH_BENCH_DIR "/pyvisa_refresh.py"), VisaLibrary::instance().fileName(),
                  Descriptor, QString::number(passes)});
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        bench::printRow("PyVISA, same 11 queries", QStringLiteral("not run"),
                        QString::fromUtf8(python.readAllStandardError()).simplified().right(22), false);
        return;
    }
    const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char('\n'));
    const double perPass = lines.value(0).section(QLatin1Char(' '), 0, 0).toDouble() * 1e-6;
    const double held = lines.value(1).section(QLatin1Char(' '), 0, 0).toDouble() * 1e-6;
    bench::printRow("PyVISA, session per pass (as the panel): CPU, median", micro(perPass), QStringLiteral("-"), true);
    bench::printRow("PyVISA, one session held: CPU, median", micro(held), QStringLiteral("-"), true);
    bench::printRow("  PyVISA session per pass / panel pass, CPU", QStringLiteral("%1 x").arg(perPass / cpu, 0, 'f', 1),
                    QStringLiteral(">= 5 x"), perPass >= 5 * cpu);
    bench::printRow("  PyVISA session held / panel pass, CPU", QStringLiteral("%1 x").arg(held / cpu, 0, 'f', 1),
                    QStringLiteral(">= 5 x"), held >= 5 * cpu);
}

} // namespace

int main(int argc, char *argv[])
{
    bench::SimBench sim(config(0));
    const QByteArray configFile = qgetenv("USBSYNTH_SIM_CONFIG");
    // The simulated latency is a sleep inside this process; without this the
    // kernel may wake it up to 50 us late, which is the host's doing, not the
    // panel's.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    QApplication app(argc, argv);
    const int passes = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;

    visa::Session rm = visa::NullSession;
    if (visa::openDefaultRM(&rm) < 0)
        qFatal("no VISA library");
    UsbStickTab tab(rm, Descriptor, QStringLiteral("V4.1.0"), QStringLiteral("VX27H774-20"),
                    QStringLiteral("QX20002"), QStringLiteral("0x0011"));
    QObject::connect(&tab, &UsbStickTab::logMsg, [](const QString &msg) { qFatal("pass failed: %s", qPrintable(msg)); });

    bench::printHeader();
    noLatencyRound(tab, rm, passes, "simulator on a configuration file:");
    qputenv("USBSYNTH_SIM_CONFIG", "");
    noLatencyRound(tab, rm, passes, "simulator on its built-in bench:");
    qputenv("USBSYNTH_SIM_CONFIG", configFile);

    // Rewrite the configuration with a read latency.
    const int latencyMs = 1;
    QFile file(QString::fromLocal8Bit(configFile));
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
    bench::printRow("refresh pass, 1 ms read latency: CPU, median", micro(bench::percentile(slow.cpu, 0.5)),
                    QStringLiteral("< 1 ms"), bench::percentile(slow.cpu, 0.5) < 1e-3);
    visa::close(rm);
    return 0;
}
