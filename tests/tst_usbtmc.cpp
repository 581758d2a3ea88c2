// Our usbtmc VISA library under the real panel, against a fake of the
// kernel's usbtmc driver (umockdev): the same instrument model as the
// simulator stands behind each node, and the fake traces every message and
// reply the way the simulator does. Runs with umockdev's preload library.
#include "app/mainwindow.h"
#include "link/visa.h"
#include "link/visalibrary.h"
#include "simfixture.h"
#include "support/fakeusbtmc.h"
#include "tab/sweepwindow.h"
#include "tab/usbsticktab.h"

#include <QtWidgets>

#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The refresh pass of a MHz stick with firmware 4 (no temperature sensor).
const QStringList Queries{"FREQ:REF:EXT?", "POWE:RF?",  "FREQ:REF:FREQ?", "FREQ:PLLM?",     "FREQ:REF:DIV?",
                          "FREQ:LOCK?",    "POWE:SET?", "FREQ:SET?",      "FREQ:RETACT?",   "SYST:READSTATE?"};

FakeUsbtmc::Stick stick(unsigned product, const char *serial, const char *model)
{
    FakeUsbtmc::Stick s;
    s.productId = product;
    s.serial = serial;
    s.idn = std::string("Quorvex Electronics,") + model + "," + serial + ",V4.1.0";
    return s;
}

// Files and sockets the process holds; threads' event and pipe descriptors
// (Qt's and GLib's own) are left out.
int openDescriptors()
{
    int count = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::Files | QDir::System)) {
        const QString target = fd.symLinkTarget();
        count += !target.isEmpty() && !target.contains(QLatin1String("anon_inode:")) && !target.contains(QLatin1String("pipe:"));
    }
    return count;
}

} // namespace

class tst_usbtmc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Root opens every node whatever its mode: the test registered for
        // permissions runs as nobody.
        if (qEnvironmentVariableIsSet("USBSYNTH_TEST_AS_NOBODY") && ::geteuid() == 0) {
            QVERIFY(::setgroups(0, nullptr) == 0);
            QVERIFY(::setresgid(65534, 65534, 65534) == 0);
            QVERIFY(::setresuid(65534, 65534, 65534) == 0);
            // Keeps /proc/self readable for the count of open files.
            QVERIFY(::prctl(PR_SET_DUMPABLE, 1) == 0);
        }
    }

    void init()
    {
        QVERIFY2(qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("umockdev")), "needs umockdev's preload library");
        sim = std::make_unique<SimFixture>();
        fake = std::make_unique<FakeUsbtmc>();
        a = fake->add(0, stick(0x000F, "UA1", "774-4400"));
        b = fake->add(1, stick(0x0011, "UB2", "VX27H774-20"));
        sensor = fake->add(2, stick(0x0030, "US3", "PM-30 Power Sensor"));
        // A usbmisc node of another interface class, with an answer that would
        // pass as a synthesizer's.
        FakeUsbtmc::Stick other = stick(0x0010, "UH4", "774-4400");
        other.interfaceClass = 0x03;
        fake->add(3, other);
        logged.clear();
        descriptorsBefore = openDescriptors();
    }

    void cleanup()
    {
        tab.reset();
        if (rm != visa::NullSession)
            visa::close(rm);
        rm = visa::NullSession;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Every file the library opened is closed again (the fake's thread may
        // hold its trace file open for a moment).
        if (descriptorsBefore >= 0)
            QTRY_COMPARE(openDescriptors(), descriptorsBefore);
        fake.reset();
        sim.reset();
    }

    void scanFindsTheTmcSticks()
    {
        MainWindow window;
        QCOMPARE(pages(window), (QStringList{"SN:UA1 polls", "SN:UB2"}));
        // The unsupported instrument is listed but never opened; the other
        // interface class is not even listed.
        QVERIFY(sim->trace().filter(QStringLiteral("0x0030")).isEmpty());
        QVERIFY(sim->trace().filter(QStringLiteral("UH4")).isEmpty());
        QCOMPARE(sim->writes(QString::fromStdString(b)), QStringList{"*IDN?"});
        // A full refresh pass, answered by the model: the display follows.
        QTRY_VERIFY_WITH_TIMEOUT(sim->writes(QString::fromStdString(a)).size() > Queries.size(), 3000);
        QCOMPARE(sim->writes(QString::fromStdString(a)).mid(0, Queries.size() + 1), QStringList{"*IDN?"} + Queries);
        auto *first = tabs(window)->widget(0);
        QTRY_COMPARE(first->findChild<QLineEdit *>(QStringLiteral("freq_text"))->text(), QStringLiteral("2217.500"));
        QVERIFY(sim->trace().contains(QStringLiteral("R ") + QString::fromStdString(a) + QStringLiteral(" 2217.5")));
        // The library's own timeout went to the driver, once per file.
        QVERIFY(!fake->timeouts(0).empty());
        QCOMPARE(fake->timeouts(0).front(), 2000u);
    }

    // The transport carries a typed line like any other.
    void controls()
    {
        openTab();
        QCOMPARE(pass(), Queries);
        w<QComboBox>("state_cmb")->setCurrentIndex(1);
        auto *edit = w<QLineEdit>("freq_text");
        edit->setText(QStringLiteral("1234.56789"));
        sim->clearTrace();
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(sim->writes(QString::fromStdString(a)), QStringList{"FREQ:SET 1234.56789"});
        QCOMPARE(logged, QStringList());
    }

    void silentStick()
    {
        openTab();
        fake->setSilent(0, true);
        QCOMPARE(pass(), Queries.mid(0, 1));
        QCOMPARE(logged, QStringList{"Read Error: Code -1073807339"});
        // The library cleared the device after the timeout.
        QCOMPARE(fake->clears(0), 1);
        fake->setSilent(0, false);
        QCOMPARE(pass(), Queries);
        QCOMPARE(logged.size(), 1);
        QCOMPARE(w<QLineEdit>("freq_text")->text(), QStringLiteral("2217.500"));
    }

    void zeroLengthRead()
    {
        openTab();
        fake->failNextRead(0);
        QCOMPARE(pass(), Queries.mid(0, 1));
        QCOMPARE(logged, QStringList{"Read Error: Code -1073807298"});
        QCOMPARE(pass(), Queries);
    }

    void unplugInASession()
    {
        // An open session learns of the unplug on its next transfer, and keeps
        // saying so; closing it still works.
        QVERIFY(visa::openDefaultRM(&rm) >= 0);
        visa::Session session = visa::NullSession;
        QCOMPARE(visa::open(rm, QString::fromStdString(a), &session), 0);
        QCOMPARE(visa::writeLine(session, QStringLiteral("FREQ:SET?")), 0);
        fake->unplug(0);
        QString reply = QStringLiteral("stale");
        const visa::Status lost = visa::Status(0xBFFF00A6);
        QCOMPARE(visa::readReply(session, &reply), lost);
        QCOMPARE(reply, QString());
        QCOMPARE(visa::writeLine(session, QStringLiteral("FREQ:SET?")), lost);
        QCOMPARE(visa::close(session), 0);
        QVERIFY(!visa::findResources(rm, QStringLiteral("USB?*")).contains(QString::fromStdString(a)));
    }

    void unplugDuringASweep()
    {
        MainWindow window;
        QCOMPARE(pages(window), (QStringList{"SN:UA1 polls", "SN:UB2"}));
        tabs(window)->widget(0)->findChild<QPushButton *>(QStringLiteral("sweep_btn"))->click();
        QPointer<SweepWindow> sweep = topLevel<SweepWindow>(QStringLiteral("SN:UA1"));
        QVERIFY(sweep);
        sweep->findChild<QLineEdit *>(QStringLiteral("start_txt"))->setText(QStringLiteral("100"));
        sweep->findChild<QLineEdit *>(QStringLiteral("stop_txt"))->setText(QStringLiteral("4000"));
        sweep->findChild<QLineEdit *>(QStringLiteral("step_txt"))->setText(QStringLiteral("10"));
        sim->clearTrace();
        sweep->findChild<QPushButton *>(QStringLiteral("start_btn"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim->writes(QString::fromStdString(a)).contains(QStringLiteral("FREQ:SET 150")), 3000);
        fake->unplug(0);
        // The sweep ends, the tabs are rebuilt without the stick, and the other
        // one polls on.
        QTRY_COMPARE_WITH_TIMEOUT(pages(window), QStringList{"SN:UB2 polls"}, 5000);
        QVERIFY(!sweep);
        const qsizetype sent = sim->writes(QString::fromStdString(a)).size();
        sim->clearTrace();
        QTRY_VERIFY_WITH_TIMEOUT(sim->writes(QString::fromStdString(b)).contains("SYST:TEMP?"), 3000);
        QVERIFY(sent < 391);
        QVERIFY(sim->writes(QString::fromStdString(a)).isEmpty());
    }

    void permissionDenied()
    {
        if (::geteuid() == 0)
            QSKIP("runs in the test registered as another user");
        fake->denyAccess(0);
        const QString node = QStringLiteral("/dev/usbtmc%1").arg(fake->nodeNumber(0));
        MainWindow window;
        QCOMPARE(pages(window), QStringList{"SN:UB2 polls"});
        // The run log and the status line name the node and the rule.
        const QString message = "Permission denied on " + node
                                + ": install the udev rule 70-usbsynth-usbtmc.rules (the usbsynth package does), "
                                  "then unplug and replug the instrument";
        QCOMPARE(sim->logMessages(), QStringList{message});
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("status_lbl"))->toolTip().section(QLatin1Char(' '), 1), message);
        // The library says the same to any VISA client that asks.
        visa::Session session = visa::NullSession;
        QVERIFY(visa::openDefaultRM(&rm) >= 0);
        QCOMPARE(visa::open(rm, QString::fromStdString(a), &session), visa::Status(0xBFFF0072));
        // umockdev's preload library keeps a socket pair for every refused open
        // (the library got no descriptor to close), so files are not counted here.
        descriptorsBefore = -1;
    }

    void pyvisa()
    {
#ifdef USBSYNTH_SANITIZE
        QSKIP("an instrumented library in an uninstrumented interpreter");
#endif
        if (QProcess::execute(QStringLiteral("/usr/bin/python3"), {"-c", "import pyvisa"}) != 0)
            QSKIP("PyVISA is not installed");
        // The child inherits the testbed and the preload library; the fake
        // answers from its own thread while this one waits.
        QProcess python;
        python.setProcessChannelMode(QProcess::MergedChannels);
        python.start(QStringLiteral("/usr/bin/python3"),
                     {qEnvironmentVariable("USBSYNTH_TEST_SOURCE_DIR") + "/sim/pyvisa_usbtmc.py",
                      VisaLibrary::instance().fileName(), QString::fromStdString(a), QString::fromStdString(b),
                      QString::fromStdString(sensor), QStringLiteral("USB0::0x3A7C::0x0010::UH4::INSTR"),
                      QStringLiteral("Quorvex Electronics,774-4400,UA1,V4.1.0")});
        QVERIFY(python.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(python.readAll());
        QVERIFY2(python.exitCode() == 0 && output.endsWith(QLatin1String("ok\n")), qPrintable(output));
        QCOMPARE(fake->clears(0), 1);
    }

    // usbsynth-ctl lists and reads the sticks through the library; the child
    // inherits the testbed as PyVISA does.
    void ctl()
    {
        const auto run = [](const QStringList &arguments) {
            QProcess program;
            program.start(qEnvironmentVariable("USBSYNTH_TEST_CTL"), arguments);
            program.waitForFinished(60000);
            return std::make_pair(program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()));
        };
        const auto [listed, list] = run({"list"});
        QCOMPARE(listed, 0);
        QCOMPARE(list, QStringLiteral("UA1\t774-4400\tV4.1.0\t35-4400 MHz\t%1\nUB2\tVX27H774-20\tV4.1.0\t10-20 GHz\t%2\n")
                           .arg(QString::fromStdString(a), QString::fromStdString(b)));
        const auto [read, json] = run({"get", "UB2", "--json"});
        QCOMPARE(read, 0);
        const QJsonObject state = QJsonDocument::fromJson(json.toUtf8()).object();
        QCOMPARE(state.value("frequency").toDouble(), 15.0);
        QCOMPARE(state.value("divider").toInt(), 1);
        QVERIFY2(state.contains("temperature") && !state.contains("error"), qPrintable(json));
        QCOMPARE(sim->writes(QString::fromStdString(b)).last(), QStringLiteral("SYST:TEMP?"));
    }

private:
    // A tab of its own on the first stick, as the main window would make it.
    void openTab()
    {
        QVERIFY(visa::openDefaultRM(&rm) >= 0);
        tab = std::make_unique<UsbStickTab>(rm, QString::fromStdString(a), "V4.1.0", "774-4400", "UA1", "0x000F");
        connect(tab.get(), &UsbStickTab::logMsg, this, [this](const QString &text) { logged << text; });
        tab->show();
    }
    QStringList pass()
    {
        sim->clearTrace();
        QMetaObject::invokeMethod(tab.get(), "refreshInterface");
        return sim->writes(QString::fromStdString(a));
    }
    template<typename T = QWidget> T *w(const char *name) const { return tab->findChild<T *>(name); }

    std::unique_ptr<SimFixture> sim;
    std::unique_ptr<FakeUsbtmc> fake;
    std::string a, b, sensor;
    int descriptorsBefore = 0;
    visa::Session rm = visa::NullSession;
    std::unique_ptr<UsbStickTab> tab;
    QStringList logged;
};

QTEST_MAIN(tst_usbtmc)
#include "tst_usbtmc.moc"
