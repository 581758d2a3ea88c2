// Sweeps: point generation, list files and the schedule as pure functions,
// then the sweep window of a real tab against a simulated instrument.
#include "link/commandset.h"
#include "link/sweeppoints.h"
#include "link/visa.h"
#include "simfixture.h"
#include "tab/sweepwindow.h"
#include "tab/usbsticktab.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QThread>
#include <QTimer>

using sweep::Direction;

namespace {
const QString Descriptor = QStringLiteral("USB0::0x3A7C::0x000F::SW1::INSTR"); // 35-4400 MHz
const QByteArray OneInstrument = R"({"resources": [
    {"resource": "USB0::0x3A7C::0x000F::SW1::INSTR", "idn": "Q,774-4400,SW1,V3.2.0"}]})";

} // namespace

class tst_sweep : public QObject
{
    Q_OBJECT

private slots:
    void points_data();
    void points();
    void schedule_data();
    void schedule();

    void init();
    void cleanup();
    void startSweep_data();
    void startSweep();
    void endsAtOnce_data();
    void endsAtOnce();
    void pollingPausesAndResumes();
    void latePointsCatchUp();

private:
    template<typename T> T *w(const char *name) const { return window->findChild<T *>(QLatin1String(name)); }
    // Mode, start, stop, step; an empty step selects the number of points.
    void setUp(int mode, const QString &start, const QString &stop, const QString &step, int direction = 0);
    void useList(const QByteArray &text);
    // Clicks Start; the text of the message box it raised, or an empty text.
    QString start();
    QStringList writes() const { return sim->writes(Descriptor); }

    std::unique_ptr<SimFixture> sim;
    visa::Session rm = visa::NullSession;
    QPointer<UsbStickTab> tab;
    QPointer<SweepWindow> window;
    std::unique_ptr<QSignalSpy> log;
};

void tst_sweep::points_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("stop");
    QTest::addColumn<double>("stepOrCount");
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<QString>("values");

    const int up = int(Direction::Up), down = int(Direction::Down), upDown = int(Direction::UpDown);
    QTest::newRow("step divides") << "step" << 1.0 << 2.0 << 0.25 << up << false << "1 1.25 1.5 1.75 2";
    QTest::newRow("tenths reach stop") << "step" << 5.0 << 5.3 << 0.1 << up << false << "5 5.1 5.2 5.3";
    QTest::newRow("step does not divide") << "step" << 35.0 << 60.0 << 10.0 << up << false << "35 45 55";
    QTest::newRow("stop below start") << "step" << 10.0 << 7.5 << 1.0 << up << false << "10 9 8";
    QTest::newRow("kHz on a GHz model") << "step" << 5.0 << 5.000003 << 1e-6 << up << false << "5 5.000001 5.000002 5.000003";
    QTest::newRow("down") << "step" << 1.0 << 2.0 << 0.5 << down << false << "2 1.5 1";
    QTest::newRow("up-down") << "step" << 1.0 << 2.0 << 0.5 << upDown << false << "1 1.5 2 1.5 1";
    QTest::newRow("up-down repeated") << "step" << 1.0 << 2.0 << 0.5 << upDown << true << "1 1.5 2 1.5";
    QTest::newRow("linear") << "linear" << 5.0 << 10.0 << 5.0 << up << false << "5 6.25 7.5 8.75 10";
    QTest::newRow("log") << "log" << 10.0 << 1000.0 << 5.0 << up << false << "10 31.6227766 100 316.227766 1000";
}

void tst_sweep::points()
{
    QFETCH(QString, kind);
    QFETCH(double, start);
    QFETCH(double, stop);
    QFETCH(double, stepOrCount);
    QFETCH(int, direction);
    QFETCH(bool, repeat);
    const QList<double> values = kind == QLatin1String("step") ? sweep::stepped(start, stop, stepOrCount)
                                 : kind == QLatin1String("linear")
                                     ? sweep::linear(start, stop, int(stepOrCount))
                                     : sweep::logarithmic(start, stop, int(stepOrCount));
    QStringList texts;
    for (const sweep::Point &p : sweep::ordered(sweep::frequencyPoints(values), Direction(direction), repeat))
        texts << cmd::formatFrequency(*p.frequency);
    QTEST(texts.join(QLatin1Char(' ')), "values");
}

void tst_sweep::schedule_data()
{
    QTest::addColumn<QString>("list"); // dwells of a list; the sweep's own dwell is 10 ms
    QTest::addColumn<int>("n");
    QTest::addColumn<qint64>("elapsedNs");
    QTest::addColumn<qint64>("deadline");
    QTest::addColumn<int>("delay");

    QTest::newRow("on time") << "1\n1\n1" << 2 << qint64(12'300'000) << qint64(20) << 8;
    QTest::newRow("never early") << "1\n1\n1" << 2 << qint64(19'999'999) << qint64(20) << 1;
    QTest::newRow("late") << "1\n1\n1" << 2 << qint64(20'000'001) << qint64(20) << 0;
    QTest::newRow("own dwells") << "1,,30\n1\n1,,50" << 2 << qint64(5'000'000) << qint64(40) << 35;
    QTest::newRow("third pass") << "1,,30\n1\n1,,50" << 6 << qint64(0) << qint64(180) << 180;
}

void tst_sweep::schedule()
{
    QFETCH(QString, list);
    QFETCH(int, n);
    QFETCH(qint64, elapsedNs);
    const qint64 deadline = sweep::deadlineMs(sweep::startOffsets(sweep::parseList(list).points, 10), n);
    QTEST(deadline, "deadline");
    QTEST(sweep::delayMs(deadline, elapsedNs), "delay");
}

void tst_sweep::init()
{
    static const QByteArrayList pure{"points", "schedule"};
    if (pure.contains(QTest::currentTestFunction()))
        return;
    sim = std::make_unique<SimFixture>();
    sim->configure(OneInstrument);
    QVERIFY(visa::openDefaultRM(&rm) >= 0);
    tab = new UsbStickTab(rm, Descriptor, QStringLiteral("V3.2.0"), QStringLiteral("774-4400"),
                          QStringLiteral("SW1"), QStringLiteral("0x000F"));
    tab->show();
    log = std::make_unique<QSignalSpy>(tab.data(), &UsbStickTab::logMsg);
    tab->findChild<QPushButton *>(QStringLiteral("sweep_btn"))->click();
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->windowTitle() == QLatin1String("Sweep - SN:SW1"))
            window = qobject_cast<SweepWindow *>(top);
    }
    QVERIFY(window);
    sim->clearTrace();
}

void tst_sweep::cleanup()
{
    if (!sim)
        return;
    log.reset();
    delete tab.data();
    QVERIFY(!window); // deleted with its tab
    visa::close(rm);
    sim.reset();
}

void tst_sweep::setUp(int mode, const QString &start, const QString &stop, const QString &step, int direction)
{
    w<QComboBox>("mode_cmb")->setCurrentIndex(mode);
    w<QLineEdit>("start_txt")->setText(start);
    w<QLineEdit>("stop_txt")->setText(stop);
    w<QLineEdit>("step_txt")->setText(step);
    (step.isEmpty() ? w<QRadioButton>("points_rad") : w<QRadioButton>("step_rad"))->setChecked(true);
    w<QComboBox>("direction_cmb")->setCurrentIndex(direction);
    w<QSpinBox>("dwell_spn")->setValue(10);
}

void tst_sweep::useList(const QByteArray &text)
{
    QFile file(sim->path(QStringLiteral("list.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();
    setUp(2, QString(), QString(), QStringLiteral("1"));
    w<QLineEdit>("list_file_txt")->setText(file.fileName());
}

QString tst_sweep::start()
{
    QString text;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            text = box->text();
            box->accept();
        }
    });
    closer.start(0);
    w<QPushButton>("start_btn")->click();
    return text;
}

void tst_sweep::startSweep_data()
{
    QTest::addColumn<int>("mode"); // a list's text comes in "from"
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("step"); // empty: 3 points, logarithmic
    QTest::addColumn<int>("direction");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("frequency up-down") << 0 << "100" << "125" << "10" << 2 << ""
        << QStringList{"FREQ:SET 100", "FREQ:SET 110", "FREQ:SET 120", "FREQ:SET 110", "FREQ:SET 100"};
    QTest::newRow("frequency log points") << 0 << "100" << "125" << "" << 0 << ""
        << QStringList{"FREQ:SET 100", "FREQ:SET 111.8033989", "FREQ:SET 125"};
    QTest::newRow("power down") << 1 << "-10" << "-8.5" << "0.75" << 1 << ""
        << QStringList{"POWE:SET -8.5", "POWE:SET -9.25", "POWE:SET -10"};
    QTest::newRow("list") << 2 << "# f, p, dwell\r\n100 # first\n 200.001 , -5\n\n300,,20\n1e3,-7.5,10" << "" << "" << 0 << ""
        << QStringList{"FREQ:SET 100", "FREQ:SET 200.001", "POWE:SET -5", "FREQ:SET 300", "FREQ:SET 1000", "POWE:SET -7.5"};
    QTest::newRow("most points, stopped") << 1 << "-50" << "49.999" << "0.001" << 0 << "" << QStringList{"POWE:SET -50"};

    const QString above = QStringLiteral("Point %1 (4400.001 MHz) is outside the frequency range 35-4400 MHz");
    QTest::newRow("stop above range") << 0 << "4399.999" << "4400.001" << "0.001" << 0 << above.arg(3) << QStringList();
    QTest::newRow("first sent above") << 0 << "4399.999" << "4400.001" << "0.001" << 1 << above.arg(1) << QStringList();
    QTest::newRow("start below range") << 0 << "34.999" << "100" << "" << 0
        << "Point 1 (34.999 MHz) is outside the frequency range 35-4400 MHz" << QStringList();
    QTest::newRow("power") << 1 << "80" << "95" << "5" << 0
        << "Point 4 (95 dBm) is outside the power range -90 to 90 dBm" << QStringList();
    QTest::newRow("step negative") << 1 << "-10" << "0" << "-1" << 0 << "The step must be a number greater than 0"
        << QStringList();
    QTest::newRow("not a number") << 0 << "100" << "2 GHz" << "1" << 0 << "Start and stop must be numbers" << QStringList();
    QTest::newRow("too many") << 0 << "35" << "4400" << "0.01" << 0 << "Too many points: 436501 (at most 100000)"
        << QStringList();
    QTest::newRow("too many up-down") << 1 << "-50" << "49.999" << "0.001" << 2
        << "Too many points: 199999 (at most 100000)" << QStringList();
    QTest::newRow("list: bad line") << 2 << "100\n\n# x\n200,abc\n" << "" << "" << 0
        << "Line 4 of list.txt: the power is not a number" << QStringList();
    QTest::newRow("list: short dwell") << 2 << "100,0,10\n100,0,9" << "" << "" << 0
        << "Line 2 of list.txt: the dwell is not a whole number of at least 10 ms" << QStringList();
    QTest::newRow("list: outside") << 2 << "100\n5000,0\n" << "" << "" << 0
        << "Point 2 (5000 MHz) is outside the frequency range 35-4400 MHz" << QStringList();
    QTest::newRow("list: empty") << 2 << "# nothing\n" << "" << "" << 0 << "The list file holds no points" << QStringList();
}

void tst_sweep::startSweep()
{
    QFETCH(int, mode);
    QFETCH(QString, from);
    QFETCH(QString, message);
    QFETCH(QStringList, lines);
    if (mode == 2) {
        useList(from.toUtf8());
    } else {
        QFETCH(QString, to);
        QFETCH(QString, step);
        QFETCH(int, direction);
        setUp(mode, from, to, step, direction);
        w<QSpinBox>("points_spn")->setValue(3);
        w<QComboBox>("spacing_cmb")->setCurrentIndex(1);
    }
    QCOMPARE(start(), message);
    if (!message.isEmpty()) {
        QCOMPARE(writes(), QStringList());
        QCOMPARE(log->count(), 0);
        return;
    }
    const int points = w<QProgressBar>("progress_bar")->maximum();
    if (points > 1000)
        window->stopSweep();
    QTRY_VERIFY(!window->isRunning());
    QCOMPARE(writes(), lines);
    const int sessions = sim->count(QLatin1Char('O'), Descriptor); // one a point
    QCOMPARE(log->count(), 2);
    QVERIFY(log->first().first().toString().startsWith(QLatin1String("Sweep started: ")));
    QCOMPARE(log->last().first().toString(), QStringLiteral("Sweep stopped after %1 of %2 points").arg(sessions).arg(points));
}

void tst_sweep::endsAtOnce_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("stop") << "stop";
    QTest::newRow("close window") << "close";
    QTest::newRow("rescan") << "rescan";
    QTest::newRow("panel closed") << "quit";
    QTest::newRow("unplugged") << "unplug";
}

void tst_sweep::endsAtOnce()
{
    QFETCH(QString, how);
    setUp(0, QStringLiteral("100"), QStringLiteral("4000"), QStringLiteral("10"));
    QSignalSpy lost(tab.data(), &UsbStickTab::connectionLost);
    QCOMPARE(start(), QString());
    QTRY_VERIFY(writes().size() >= 3);
    if (how == QLatin1String("stop")) {
        w<QPushButton>("stop_btn")->click();
    } else if (how == QLatin1String("close")) {
        window->close();
    } else if (how == QLatin1String("rescan")) {
        tab->closeStateViewer();
    } else if (how == QLatin1String("quit")) {
        // The tab stands in for the main window: closing it ends the panel,
        // the sweep window open or not.
        QTimer::singleShot(0, tab.data(), &QWidget::close);
        QTimer::singleShot(3000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
    } else {
        sim->configure(R"({"resources": []})");
        QTRY_COMPARE(lost.count(), 1);
    }
    const qsizetype sent = writes().size();
    QVERIFY(!window->isRunning());
    QCOMPARE(w<QProgressBar>("progress_bar")->value(), int(sent));
    QCOMPARE(log->last().first().toString(), QStringLiteral("Sweep stopped after %1 of 391 points").arg(sent));
    QTest::qWait(60); // a rescan deletes the tab and its window here
    QCOMPARE(writes().size(), sent);
}

void tst_sweep::pollingPausesAndResumes()
{
    // The first point dwells longer than the refresh interval.
    useList("100,,1300\n110\n");
    QTimer *refresh = tab->findChild<QTimer *>(QStringLiteral("refreshTimer"));
    tab->startRefresh();
    QCOMPARE(start(), QString());
    QTRY_COMPARE(writes().size(), 1);
    QVERIFY(!refresh->isActive());
    // An operator command goes out between two points; polling stays off.
    tab->findChild<QPushButton *>(QStringLiteral("set_max_powe_btn"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunning(), 3000);
    QCOMPARE(writes(), (QStringList{"FREQ:SET 100", "POWE:SET MAX", "FREQ:SET 110"}));
    QTRY_VERIFY_WITH_TIMEOUT(writes().contains(QStringLiteral("FREQ:REF:EXT?")), 2500);
}

void tst_sweep::latePointsCatchUp()
{
    // Points are due at fixed times from the start: after a stall the
    // overdue ones go out at once instead of a dwell apart.
    setUp(0, QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("10"));
    w<QSpinBox>("dwell_spn")->setValue(200);
    QCOMPARE(start(), QString());
    QCOMPARE(writes().size(), 1);
    QThread::msleep(450);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    window->stopSweep();
    QCOMPARE(writes(), (QStringList{"FREQ:SET 100", "FREQ:SET 110", "FREQ:SET 120"}));
}

QTEST_MAIN(tst_sweep)
#include "tst_sweep.moc"
