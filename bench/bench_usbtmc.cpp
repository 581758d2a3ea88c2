// CPU of one refresh pass (MHz model, firmware 4: ten queries) through our
// usbtmc VISA library on the fake usbtmc driver, beside the same pass through
// the simulated-instrument library. The fake's own cost - umockdev's socket
// round trip to its handler thread and the handler, all in this process - is
// timed separately with bare write()/read() pairs on the node and taken out.
//   bench_usbtmc [passes]    (under umockdev's preload library)
#include "benchsupport.h"
#include "link/visa.h"
#include "link/visalibrary.h"
#include "support/fakeusbtmc.h"
#include "tab/usbsticktab.h"

#include <QApplication>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int QueriesPerPass = 10;

QList<double> passCpu(UsbStickTab &tab, int passes)
{
    auto *timer = tab.findChild<QTimer *>(QStringLiteral("refreshTimer"));
    QList<double> cpu;
    for (int i = 0; i < passes; ++i) {
        const double cpu0 = bench::cpuSeconds();
        QMetaObject::invokeMethod(&tab, "refreshInterface", Qt::DirectConnection);
        cpu << bench::cpuSeconds() - cpu0;
        timer->stop();
    }
    return cpu;
}

double medianPassCpu(const QString &descriptor, int passes)
{
    visa::Session rm = visa::NullSession;
    if (visa::openDefaultRM(&rm) < 0)
        qFatal("no VISA library");
    double median = 0;
    {
        UsbStickTab tab(rm, descriptor, QStringLiteral("V4.1.0"), QStringLiteral("774-4400"),
                        QStringLiteral("BENCH1"), QStringLiteral("0x000F"));
        passCpu(tab, 3); // the form comes in line with the instrument
        median = bench::percentile(passCpu(tab, passes), 0.5);
    }
    visa::close(rm);
    return median;
}

// One query as the library makes it, without the library: write, read.
double medianRoundTripCpu(const char *node, int count)
{
    const int fd = ::open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        qFatal("cannot open %s", node);
    QList<double> cpu;
    char reply[4096]; // the library's read size
    for (int i = 0; i < count; ++i) {
        const double cpu0 = bench::cpuSeconds();
        if (::write(fd, "FREQ:SET?\n", 10) != 10 || ::read(fd, reply, sizeof reply) <= 0)
            qFatal("round trip failed");
        cpu << bench::cpuSeconds() - cpu0;
    }
    ::close(fd);
    return bench::percentile(cpu, 0.5);
}

// The session each pass opens and closes: the sysfs look-up, the node's open
// and the timeout given to the driver, all through umockdev here.
double medianSessionCpu(const QString &descriptor, int count)
{
    visa::Session rm = visa::NullSession;
    visa::openDefaultRM(&rm);
    QList<double> cpu;
    for (int i = 0; i < count; ++i) {
        visa::Session session = visa::NullSession;
        const double cpu0 = bench::cpuSeconds();
        // The timeout reaches the driver with the first transfer.
        if (visa::open(rm, descriptor, &session) < 0 || visa::writeLine(session, QStringLiteral("FREQ:PLLM 0")) < 0)
            qFatal("cannot open %s", qPrintable(descriptor));
        visa::close(session);
        cpu << bench::cpuSeconds() - cpu0;
    }
    visa::close(rm);
    return bench::percentile(cpu, 0.5);
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("umockdev")))
        qFatal("run under umockdev's preload library (LD_PRELOAD=libumockdev-preload.so.0)");
    const int passes = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;
    const QString simulated = QStringLiteral("USB0::0x3A7C::0x000F::BENCH1::INSTR");
    bench::SimBench sim(QStringLiteral(R"({"resources": [{"resource": "%1",
        "idn": "Quorvex Electronics,774-4400,BENCH1,V4.1.0"}]})").arg(simulated).toUtf8());
    QApplication app(argc, argv);

    FakeUsbtmc driver;
    FakeUsbtmc::Stick stick;
    stick.serial = "BENCH1";
    stick.idn = "Quorvex Electronics,774-4400,BENCH1,V4.1.0";
    const QString overUsbtmc = QString::fromStdString(driver.add(0, stick));
    const QByteArray node = "/dev/usbtmc" + QByteArray::number(driver.nodeNumber(0));

    // The process-wide library is the one chosen by USBSYNTH_VISA_LIBRARY;
    // the other comparison runs in a second process (bench/run.sh).
    const QString library = QFileInfo(VisaLibrary::instance().fileName()).fileName();
    const bool usbtmc = library.contains(QLatin1String("usbtmc"));
    const double pass = medianPassCpu(usbtmc ? overUsbtmc : simulated, passes);

    bench::printHeader();
    bench::printRow(qPrintable(QStringLiteral("refresh pass via %1: CPU, median").arg(library)),
                    QStringLiteral("%1 us").arg(pass * 1e6, 0, 'f', 1), QStringLiteral("-"), true);
    if (!usbtmc)
        return 0;
    const double trip = medianRoundTripCpu(node.constData(), passes * QueriesPerPass / 4);
    bench::printRow("fake driver: write+read round trip, CPU, median", QStringLiteral("%1 us").arg(trip * 1e6, 0, 'f', 1),
                    QStringLiteral("-"), true);
    const double session = medianSessionCpu(overUsbtmc, passes);
    bench::printRow("session open, SET_TIMEOUT, one write, close: CPU", QStringLiteral("%1 us").arg(session * 1e6, 0, 'f', 1),
                    QStringLiteral("-"), true);
    const double own = pass - QueriesPerPass * trip - session;
    bench::printRow("pass without the fake's round trips and the open",
                    QStringLiteral("%1 us").arg(own * 1e6, 0, 'f', 1), QStringLiteral("-"), true);
    return 0;
}
