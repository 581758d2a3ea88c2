// Pacing of a frequency sweep through a real tab and its sweep window
// against the simulated instrument, without and with read latency: the
// interval between consecutive points and the length of the whole sweep.
//   bench_sweep [points] [dwell ms]
// A point's time is taken as soon as its batch returns: the simulated
// instrument is a library in this process, so its write has happened then.
// The simulator's trace (whole milliseconds) gives a second clock.
#include "benchsupport.h"
#include "link/visa.h"
#include "tab/sweepwindow.h"
#include "tab/usbsticktab.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

namespace {

const QString Descriptor = QStringLiteral("USB0::0x3A7C::0x000F::BENCH1::INSTR");

QByteArray config(int latencyMs)
{
    return QStringLiteral(R"({"resources": [{"resource": "%1", "idn": "Quorvex Electronics,774-4400,BENCH1,V4.1.0",
                              "faults": {"latencyMs": %2}}]})")
        .arg(Descriptor)
        .arg(latencyMs)
        .toUtf8();
}

// Write times (ms since the library was loaded) of the trace lines that set a frequency.
QList<double> traceWrites(const QString &path)
{
    QFile file(path);
    QList<double> times;
    if (!file.open(QIODevice::ReadOnly))
        return times;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.contains(" W ") && line.contains("FREQ:SET"))
            times << line.left(line.indexOf(' ')).toDouble();
    }
    return times;
}

void measure(SweepWindow &window, int points, int dwell, const char *label, const QString &tracePath)
{
    QFile::remove(tracePath);
    window.findChild<QComboBox *>(QStringLiteral("mode_cmb"))->setCurrentIndex(0);
    window.findChild<QLineEdit *>(QStringLiteral("start_txt"))->setText(QStringLiteral("100"));
    window.findChild<QLineEdit *>(QStringLiteral("stop_txt"))->setText(QString::number(100 + points - 1));
    window.findChild<QLineEdit *>(QStringLiteral("step_txt"))->setText(QStringLiteral("1"));
    window.findChild<QRadioButton *>(QStringLiteral("step_rad"))->setChecked(true);
    window.findChild<QSpinBox *>(QStringLiteral("dwell_spn"))->setValue(dwell);

    QElapsedTimer clock;
    QList<double> writes; // ms
    double endMs = 0;
    const QMetaObject::Connection sent =
        QObject::connect(&window, &SweepWindow::sendPoint, [&] { writes << double(clock.nsecsElapsed()) / 1e6; });
    const QMetaObject::Connection ended = QObject::connect(&window, &SweepWindow::runningChanged, [&](bool running) {
        if (!running)
            endMs = double(clock.nsecsElapsed()) / 1e6;
    });
    // A plain event loop: QTest's waits sleep 10 ms between their rounds.
    QEventLoop loop;
    QObject::connect(&window, &SweepWindow::runningChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(points * dwell * 2 + 5000, &loop, &QEventLoop::quit);
    const double cpu0 = bench::cpuSeconds();
    clock.start();
    window.findChild<QPushButton *>(QStringLiteral("start_btn"))->click();
    if (window.isRunning())
        loop.exec();
    const double cpu = bench::cpuSeconds() - cpu0;
    QObject::disconnect(sent);
    QObject::disconnect(ended);

    QList<double> intervals, deviations;
    for (qsizetype i = 1; i < writes.size(); ++i) {
        intervals << writes.at(i) - writes.at(i - 1);
        deviations << std::abs(intervals.last() - dwell);
    }
    const double median = bench::percentile(intervals, 0.5);
    const double p99 = bench::percentile(deviations, 0.99);
    const double expected = double(points) * dwell;
    const QList<double> traced = traceWrites(tracePath);
    const double tracedSpan = traced.size() == points ? traced.last() - traced.first() : -1;

    const QByteArray prefix = QByteArray(label) + ": ";
    bench::printRow((prefix + "points sent").constData(), QString::number(writes.size()),
                    QString::number(points), writes.size() == points);
    bench::printRow((prefix + "interval, median").constData(), QStringLiteral("%1 ms").arg(median, 0, 'f', 3),
                    QStringLiteral("%1 +- 0.5 ms").arg(dwell), std::abs(median - dwell) <= 0.5);
    bench::printRow((prefix + "interval, 99th percentile of |interval - dwell|").constData(),
                    QStringLiteral("%1 ms").arg(p99, 0, 'f', 3), QStringLiteral("<= 3 ms"), p99 <= 3);
    bench::printRow((prefix + "interval, min / max").constData(),
                    QStringLiteral("%1 / %2 ms")
                        .arg(bench::percentile(intervals, 0), 0, 'f', 3)
                        .arg(bench::percentile(intervals, 1), 0, 'f', 3),
                    QStringLiteral("-"), true);
    bench::printRow((prefix + "whole sweep, Start to end").constData(), QStringLiteral("%1 ms").arg(endMs, 0, 'f', 1),
                    QStringLiteral("%1 ms +- 1 %").arg(expected), std::abs(endMs - expected) <= expected / 100);
    bench::printRow((prefix + "first to last write, trace clock").constData(),
                    QStringLiteral("%1 ms").arg(tracedSpan, 0, 'f', 0),
                    QStringLiteral("%1 ms +- 1 %").arg(expected - dwell),
                    std::abs(tracedSpan - (expected - dwell)) <= expected / 100);
    bench::printRow((prefix + "CPU during the sweep").constData(),
                    QStringLiteral("%1 %").arg(100 * cpu / (endMs / 1e3), 0, 'f', 1), QStringLiteral("-"), true);
}

} // namespace

int main(int argc, char *argv[])
{
    bench::SimBench sim(config(0));
    const QString tracePath = sim.path(QStringLiteral("trace.txt"));
    qputenv("USBSYNTH_SIM_TRACE", QFile::encodeName(tracePath));
    QApplication app(argc, argv);
    const int points = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    const int dwell = argc > 2 ? QByteArray(argv[2]).toInt() : 10;

    visa::Session rm = visa::NullSession;
    if (visa::openDefaultRM(&rm) < 0)
        qFatal("no VISA library");
    {
        UsbStickTab tab(rm, Descriptor, QStringLiteral("V4.1.0"), QStringLiteral("774-4400"),
                        QStringLiteral("BENCH1"), QStringLiteral("0x000F"));
        tab.show();
        tab.startRefresh(); // polling on, as in use: the sweep must pause it
        tab.findChild<QPushButton *>(QStringLiteral("sweep_btn"))->click();
        SweepWindow *window = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *found = qobject_cast<SweepWindow *>(top))
                window = found;
        }
        if (!window)
            qFatal("no sweep window");

        bench::printHeader();
        const QByteArray label = QStringLiteral("%1 points, dwell %2 ms").arg(points).arg(dwell).toUtf8();
        measure(*window, points, dwell, (label + ", no latency").constData(), tracePath);

        QFile file(qEnvironmentVariable("USBSYNTH_SIM_CONFIG"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot rewrite the simulator configuration");
        file.write(config(1));
        file.close();
        measure(*window, points, dwell, (label + ", 1 ms latency").constData(), tracePath);
    }
    visa::close(rm);
    return 0;
}
