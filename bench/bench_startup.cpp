// Start-up with four simulated instruments, the memory of four tabs, and
// the CPU use of one polling tab.
//   bench_startup [cpu-seconds]
#include "app/mainwindow.h"
#include "benchsupport.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTest>

namespace {

QByteArray fourInstruments()
{
    QStringList entries;
    const char *ids[] = {"0x000F", "0x0010", "0x0011", "0x0014"};
    for (int i = 0; i < 4; ++i)
        entries << QStringLiteral(R"({"resource": "USB0::0x3A7C::%1::ST%2::INSTR", "idn": "Quorvex Electronics,774-X,ST%2,V4.1.0"})")
                       .arg(QLatin1String(ids[i]))
                       .arg(i);
    return QStringLiteral(R"({"resources": [%1]})").arg(entries.join(QLatin1Char(','))).toUtf8();
}

// Runs the event loop for a while. QTest::qWait would poll every 10 ms and
// put its own CPU use into the measurement.
void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const double start = bench::wallSeconds();
    bench::SimBench sim(fourInstruments());
    const int cpuSeconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;
    QDir::setCurrent(sim.path(QString())); // log.txt goes there

    QApplication app(argc, argv);
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qFatal("the main window was not shown");
    const double startup = bench::wallSeconds() - start;
    const int tabs = window->findChild<QTabWidget *>()->count();
    const double fixedPauses = 1.0 + 0.5 * tabs;

    bench::printHeader();
    const double beyond = (startup - fixedPauses) * 1e3;
    bench::printRow("start-up to main window shown, 4 instruments",
                    QStringLiteral("%1 ms").arg(startup * 1e3, 0, 'f', 1), QStringLiteral("-"), tabs == 4);
    bench::printRow("  of which beyond the fixed pauses", QStringLiteral("%1 ms").arg(beyond, 0, 'f', 1),
                    QStringLiteral("< 100 ms"), beyond < 100);

    // Let every tab poll once so each has built all it ever holds.
    auto *tabWidget = window->findChild<QTabWidget *>();
    for (int i = 0; i < tabs; ++i) {
        tabWidget->setCurrentIndex(i);
        runEventLoop(1200);
    }
    const double rss = bench::residentMB();
    bench::printRow("resident memory with 4 tabs", QStringLiteral("%1 MB").arg(rss, 0, 'f', 1),
                    QStringLiteral("< 60 MB"), rss < 60);

    tabWidget->setCurrentIndex(0);
    runEventLoop(1500);
    const double cpu0 = bench::cpuSeconds();
    const double wall0 = bench::wallSeconds();
    runEventLoop(cpuSeconds * 1000);
    const double share = 100.0 * (bench::cpuSeconds() - cpu0) / (bench::wallSeconds() - wall0);
    bench::printRow(qPrintable(QStringLiteral("CPU use, one polling tab, over %1 s").arg(cpuSeconds)),
                    QStringLiteral("%1 %").arg(share, 0, 'f', 3), QStringLiteral("< 0.5 %"), share < 0.5);
    window.reset();
    return 0;
}
