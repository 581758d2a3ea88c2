// usbsynth-ctl get for one instrument, timed as a script sees it: the wall
// time of each call, start-up included, less the simulated read latency;
// beside the same job done by a PyVISA script. On a shared machine most of a
// short call's wall time can be spent waiting for a CPU, so each call's
// run-queue wait is read from the kernel and shown apart. Prints a table,
// asserts nothing.
//   bench_ctl [calls] [latency ms]
#include "benchsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

const QByteArray Config = "{\"resources\": [{\"resource\": \"USB0::0x3A7C::0x0011::SN200::INSTR\", "
                          "\"idn\": \"Quorvex Electronics,VX27H774-20,SN200,V3.2.0\"%1}]}";

struct Timing
{
    double wall = 0;    // median
    double waited = 0;  // median time runnable but not running
    double cpu = 0;     // median time on a CPU
    double ownP90 = 0;  // 90th percentile of wall less the wait
    int reads = 0;
    bool ok = true;
};

// One call: wall, on-CPU and run-queue milliseconds of the main thread (the
// tool is single-threaded). The exited child is read before it is reaped.
bool timeOneCall(const QList<QByteArray> &command, double *wall, double *cpu, double *waited)
{
    std::vector<char *> argv;
    for (const QByteArray &word : command)
        argv.push_back(const_cast<char *>(word.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const double start = bench::wallSeconds();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv.front(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    siginfo_t info{};
    waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT);
    *wall = (bench::wallSeconds() - start) * 1e3;
    QFile stats(QStringLiteral("/proc/%1/schedstat").arg(pid));
    const QList<QByteArray> fields = stats.open(QIODevice::ReadOnly) ? stats.readAll().split(' ') : QList<QByteArray>();
    *cpu = fields.value(0).toDouble() * 1e-6;
    *waited = fields.value(1).toDouble() * 1e-6;
    int status = 0;
    waitpid(pid, &status, 0);
    return fields.size() >= 2 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Timing timeCalls(const QList<QByteArray> &command, int calls, const QString &trace)
{
    Timing timing;
    QList<double> walls, cpus, waits, own;
    for (int i = 0; i < calls; ++i) {
        QFile::remove(trace);
        double wall = 0, cpu = 0, waited = 0;
        if (!timeOneCall(command, &wall, &cpu, &waited))
            timing.ok = false;
        walls << wall;
        cpus << cpu;
        waits << waited;
        own << wall - waited;
    }
    QFile file(trace);
    if (file.open(QIODevice::ReadOnly))
        timing.reads = int(file.readAll().count(" R "));
    timing.wall = bench::percentile(walls, 0.5);
    timing.waited = bench::percentile(waits, 0.5);
    timing.cpu = bench::percentile(cpus, 0.5);
    timing.ownP90 = bench::percentile(own, 0.9);
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

    std::printf("%-38s %7s %8s %8s %8s %5s %10s %12s %10s\n", "job (per call, ms)", "latency", "wall", "waited",
                "CPU", "reads", "beyond I/O", "beyond, less", "p90 of it");
    std::printf("%-38s %7s %8s %8s %8s %5s %10s %12s %10s\n", "", "", "median", "for CPU", "", "", "", "the wait", "");
    const QByteArray ctl = (bin + QStringLiteral("/usbsynth-ctl")).toLocal8Bit();
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
            QList<QByteArray> command;
        } jobs[] = {
            {"usbsynth-ctl get SN200", {ctl, "get", "SN200"}},
            {"usbsynth-ctl get SN200 --json", {ctl, "get", "SN200", "--json"}},
            {"PyVISA script (python3 pyvisa_get.py)",
             {"/usr/bin/python3", USBSYNTH_BENCH_SOURCE_DIR "/pyvisa_get.py", library.toLocal8Bit(), "SN200"}},
        };
        for (const auto &job : jobs) {
            const Timing t = timeCalls(job.command, calls, trace);
            const double io = double(t.reads) * ms;
            std::printf("%-38s %4d ms %8.1f %8.1f %8.1f %5d %10.1f %12.1f %10.1f%s\n", job.name, ms, t.wall, t.waited,
                        t.cpu, t.reads, t.wall - io, t.wall - t.waited - io, t.ownP90 - io,
                        t.ok ? "" : "  (a call failed)");
        }
    }
    std::printf("load average at the end: %s", qPrintable(QString::fromLatin1([] {
                    QFile load(QStringLiteral("/proc/loadavg"));
                    return load.open(QIODevice::ReadOnly) ? load.readLine() : QByteArray("?\n");
                }())));
    return 0;
}
