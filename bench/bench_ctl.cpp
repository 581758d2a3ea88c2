// usbsynth-ctl get for one instrument, timed as a script sees it: the wall
// time of each call, start-up included, less the simulated read latency;
// beside the same job done by a PyVISA script. Prints a table, asserts nothing.
//   bench_ctl [calls] [latency ms]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

const QByteArray Config = "{\"resources\": [{\"resource\": \"USB0::0x3A7C::0x0011::SN200::INSTR\", "
                          "\"idn\": \"Quorvex Electronics,VX27H774-20,SN200,V3.2.0\"%1}]}";

struct Timing
{
    double median = 0;
    double p90 = 0;
    double cpu = 0; // user + system of the called process, median
    int reads = 0;
    bool ok = true;
};

Timing timeCalls(const QString &program, const QStringList &arguments, int calls, const QString &trace)
{
    Timing timing;
    QList<double> walls;
    QList<double> cpus;
    const auto childCpu = [] {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
                + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-3);
    };
    for (int i = 0; i < calls; ++i) {
        QFile::remove(trace);
        QProcess process;
        const double cpuStart = childCpu();
        const double start = bench::wallSeconds();
        process.start(program, arguments);
        process.waitForFinished(60000);
        walls << (bench::wallSeconds() - start) * 1000;
        cpus << childCpu() - cpuStart;
        if (process.exitCode() != 0)
            timing.ok = false;
    }
    QFile file(trace);
    if (file.open(QIODevice::ReadOnly))
        timing.reads = int(file.readAll().count(" R "));
    timing.median = bench::percentile(walls, 0.5);
    timing.p90 = bench::percentile(walls, 0.9);
    timing.cpu = bench::percentile(cpus, 0.5);
    return timing;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? QByteArray(argv[1]).toInt() : 50;
    const int latency = argc > 2 ? QByteArray(argv[2]).toInt() : 1;
    const QString bin = QCoreApplication::applicationDirPath();
    const QString library = bin + QStringLiteral("/libusbsynth-sim.so");
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));
    qputenv("USBSYNTH_VISA_LIBRARY", library.toLocal8Bit());
    qputenv("USBSYNTH_SIM_TRACE", trace.toLocal8Bit());

    std::printf("%-40s %8s %8s %6s %10s %10s %8s\n", "job (per call, ms)", "latency", "median", "reads", "beyond I/O",
                "p90 beyond", "CPU");
    for (const int ms : {0, latency}) {
        QFile config(dir.filePath(QStringLiteral("sim%1.json").arg(ms)));
        config.open(QIODevice::WriteOnly);
        config.write(QString::fromLatin1(Config)
                         .arg(ms ? QStringLiteral(", \"faults\": {\"latencyMs\": %1}").arg(ms) : QString())
                         .toLatin1());
        config.close();
        qputenv("USBSYNTH_SIM_CONFIG", config.fileName().toLocal8Bit());
        const struct
        {
            const char *name;
            QString program;
            QStringList arguments;
        } jobs[] = {
            {"usbsynth-ctl get SN200", bin + QStringLiteral("/usbsynth-ctl"), {QStringLiteral("get"), QStringLiteral("SN200")}},
            {"usbsynth-ctl get SN200 --json", bin + QStringLiteral("/usbsynth-ctl"),
             {QStringLiteral("get"), QStringLiteral("SN200"), QStringLiteral("--json")}},
            {"PyVISA script (python3 pyvisa_get.py)", QStringLiteral("/usr/bin/python3"),
             {QStringLiteral(USBSYNTH_BENCH_SOURCE_DIR "/pyvisa_get.py"), library, QStringLiteral("SN200")}},
        };
        for (const auto &job : jobs) {
            const Timing t = timeCalls(job.program, job.arguments, calls, trace);
            const double io = double(t.reads) * ms;
            std::printf("%-40s %5d ms %8.1f %6d %10.1f %10.1f %8.1f%s\n", job.name, ms, t.median, t.reads,
                        t.median - io, t.p90 - io, t.cpu, t.ok ? "" : "  (a call failed)");
        }
    }
    return 0;
}
