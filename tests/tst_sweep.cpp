// Sweeps: point generation, list files and the schedule as pure functions,
// then the sweep window of a real tab against a simulated instrument.
#include "link/commandset.h"
#include "link/sweeppoints.h"
#include "link/visa.h"
#include "simfixture.h"
#include "tab/sweepwindow.h"
#include "tab/usbsticktab.h"

#include <QtWidgets>

class tst_sweep : public QObject
{
    Q_OBJECT

    const QString descriptor = QStringLiteral("USB0::0x3A7C::0x000F::SW1::INSTR"); // 35-4400 MHz
    std::unique_ptr<SimFixture> sim;
    std::unique_ptr<BoxCatcher> boxes;
    visa::Session rm = visa::NullSession;
    QPointer<UsbStickTab> tab;
    QPointer<SweepWindow> window;

    template<typename T> T *w(const char *name) const { return window->findChild<T *>(QLatin1String(name)); }
    QStringList writes() const { return sim->writes(descriptor); }
    // Clicks Start; the texts of the message boxes it raised.
    QString start()
    {
        return boxes->expect([this] { w<QPushButton>("start_btn")->click(); }).join(QLatin1Char('\n'));
    }

    // A mode (0 frequency, 1 power, 2 list) and its "start stop step" range,
    // or in list mode the text of the list file; without a step, 3 points
    // spaced logarithmically. Direction 0 up, 1 down, 2 up-down.
    void setUp(int mode, const QString &range, int direction = 0)
    {
        const QStringList fields = range.split(QLatin1Char(' '));
        w<QComboBox>("mode_cmb")->setCurrentIndex(mode);
        w<QLineEdit>("start_txt")->setText(fields.value(0));
        w<QLineEdit>("stop_txt")->setText(fields.value(1));
        w<QLineEdit>("step_txt")->setText(fields.value(2));
        w<QRadioButton>(fields.size() > 2 || mode == 2 ? "step_rad" : "points_rad")->setChecked(true);
        w<QSpinBox>("points_spn")->setValue(3);
        w<QComboBox>("spacing_cmb")->setCurrentIndex(1);
        w<QComboBox>("direction_cmb")->setCurrentIndex(direction);
        w<QSpinBox>("dwell_spn")->setValue(10);
        QFile list(sim->path(QStringLiteral("list.txt")));
        if (mode == 2 && list.open(QIODevice::WriteOnly) && list.write(range.toUtf8()) >= 0)
            w<QLineEdit>("list_file_txt")->setText(list.fileName());
    }

private slots:
    void points_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("stop");
        QTest::addColumn<double>("stepOrCount");
        QTest::addColumn<int>("direction"); // 0 up, 1 down, 2 up-down, 3 up-down repeated
        QTest::addColumn<QString>("values");

        QTest::newRow("step divides") << "step" << 1.0 << 2.0 << 0.25 << 0 << "1 1.25 1.5 1.75 2";
        QTest::newRow("tenths reach stop") << "step" << 5.0 << 5.3 << 0.1 << 0 << "5 5.1 5.2 5.3";
        QTest::newRow("step does not divide") << "step" << 35.0 << 60.0 << 10.0 << 0 << "35 45 55";
        QTest::newRow("stop below start") << "step" << 10.0 << 7.5 << 1.0 << 0 << "10 9 8";
        QTest::newRow("kHz on a GHz model") << "step" << 5.0 << 5.000003 << 1e-6 << 0 << "5 5.000001 5.000002 5.000003";
        QTest::newRow("down") << "step" << 1.0 << 2.0 << 0.5 << 1 << "2 1.5 1";
        QTest::newRow("up-down") << "step" << 1.0 << 2.0 << 0.5 << 2 << "1 1.5 2 1.5 1";
        QTest::newRow("up-down repeated") << "step" << 1.0 << 2.0 << 0.5 << 3 << "1 1.5 2 1.5";
        QTest::newRow("linear") << "linear" << 5.0 << 10.0 << 5.0 << 0 << "5 6.25 7.5 8.75 10";
        QTest::newRow("log") << "log" << 10.0 << 1000.0 << 5.0 << 0 << "10 31.6227766 100 316.227766 1000";
    }

    void points()
    {
        QFETCH(QString, kind);
        QFETCH(double, start);
        QFETCH(double, stop);
        QFETCH(double, stepOrCount);
        QFETCH(int, direction);
        const QList<double> values = kind == QLatin1String("step")     ? sweep::stepped(start, stop, stepOrCount)
                                     : kind == QLatin1String("linear") ? sweep::linear(start, stop, int(stepOrCount))
                                                                       : sweep::logarithmic(start, stop, int(stepOrCount));
        QStringList texts;
        const auto order = sweep::Direction(std::min(direction, 2));
        for (const sweep::Point &p : sweep::ordered(sweep::frequencyPoints(values), order, direction == 3))
            texts << cmd::formatFrequency(*p.frequency);
        QTEST(texts.join(QLatin1Char(' ')), "values");
    }

    void list_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result"); // the text sent, or why the list is refused

        QTest::newRow("fields") << "# f, p, dwell\n100 # first\n 200.001 , -5\n\n300,,20\n1e3,-7.5,10"
                                << "FREQ:SET 100\nFREQ:SET 200.001\nPOWE:SET -5\nFREQ:SET 300\nFREQ:SET 1000\nPOWE:SET -7.5\n";
        QTest::newRow("four fields") << "100\n100,0,10,1" << "line 2: more than three fields";
        QTest::newRow("frequency") << "\n\n1 GHz" << "line 3: the frequency is not a number";
        QTest::newRow("power") << "100\n\n# x\n200,abc\n" << "line 4: the power is not a number";
        QTest::newRow("short dwell") << "100,0,10\n100,0,9" << "line 2: the dwell is not a whole number of at least 10 ms";
        QTest::newRow("below") << "35\n34.999" << "Point 2 (34.999 MHz) is outside the frequency range 35-4400 MHz";
        QTest::newRow("above") << "4400\n4400.001" << "Point 2 (4400.001 MHz) is outside the frequency range 35-4400 MHz";
        QTest::newRow("power above") << "100,90\n100,90.5" << "Point 2 (90.5 dBm) is outside the power range -90 to 90 dBm";
        QTest::newRow("power below") << "100,-90.5" << "Point 1 (-90.5 dBm) is outside the power range -90 to 90 dBm";
    }

    void list()
    {
        QFETCH(QString, text);
        const sweep::ListParse list = sweep::parseList(text);
        const QString outside = sweep::rangeError(list.points, 35, 4400, QStringLiteral("MHz"));
        QStringList lines;
        for (const sweep::Point &point : list.points)
            lines += sweep::commandLines(point);
        QTEST(list.badLine ? QStringLiteral("line %1: %2").arg(list.badLine).arg(list.reason)
                           : outside.isEmpty() ? lines.join(QString()) : outside, "result");
    }

    void schedule_data()
    {
        QTest::addColumn<QString>("list"); // dwells of a list; the sweep's own dwell is 10 ms
        QTest::addColumn<int>("n");        // the n-th point sent, from 0
        QTest::addColumn<qint64>("elapsedNs");
        QTest::addColumn<int>("delay");

        QTest::newRow("on time") << "1\n1\n1" << 2 << qint64(12'300'000) << 8;
        QTest::newRow("never early") << "1\n1\n1" << 2 << qint64(19'999'999) << 1;
        QTest::newRow("late") << "1\n1\n1" << 2 << qint64(20'000'001) << 0;
        QTest::newRow("own dwells") << "1,,30\n1\n1,,50" << 2 << qint64(5'000'000) << 35;
        QTest::newRow("third pass") << "1,,30\n1\n1,,50" << 6 << qint64(0) << 180;
    }

    void schedule()
    {
        QFETCH(QString, list);
        QFETCH(int, n);
        QFETCH(qint64, elapsedNs);
        const qint64 deadline = sweep::deadlineMs(sweep::startOffsets(sweep::parseList(list).points, 10), n);
        QTEST(sweep::delayMs(deadline, elapsedNs), "delay");
    }

    void init()
    {
        if (QByteArrayList{"points", "list", "schedule"}.contains(QTest::currentTestFunction()))
            return;
        sim = std::make_unique<SimFixture>();
        sim->configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::SW1::INSTR", "idn": "Q,774-4400,SW1,V3.2.0"}]})");
        boxes = std::make_unique<BoxCatcher>();
        QVERIFY(visa::openDefaultRM(&rm) >= 0);
        tab = new UsbStickTab(rm, descriptor, QStringLiteral("V3.2.0"), QStringLiteral("774-4400"),
                              QStringLiteral("SW1"), QStringLiteral("0x000F"));
        tab->show();
        tab->findChild<QPushButton *>(QStringLiteral("sweep_btn"))->click();
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *shown = qobject_cast<SweepWindow *>(top); shown && shown->isVisible())
                window = shown;
        }
        QVERIFY(window);
        sim->clearTrace();
    }

    void cleanup()
    {
        delete tab.data();
        QVERIFY(!window); // deleted with its tab
        if (sim)
            visa::close(rm);
        boxes.reset();
        sim.reset();
    }

    void startSweep_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("range");
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("result"); // the message of a refusal, or the lines sent

        QTest::newRow("frequency up-down") << 0 << "100 125 10" << 2
                                           << "FREQ:SET 100|FREQ:SET 110|FREQ:SET 120|FREQ:SET 110|FREQ:SET 100";
        QTest::newRow("frequency log points") << 0 << "100 125" << 0 << "FREQ:SET 100|FREQ:SET 111.8033989|FREQ:SET 125";
        QTest::newRow("power down") << 1 << "-10 -8.5 0.75" << 1 << "POWE:SET -8.5|POWE:SET -9.25|POWE:SET -10";
        QTest::newRow("list") << 2 << "100\r\n# x\r\n200,-5" << 0 << "FREQ:SET 100|FREQ:SET 200|POWE:SET -5";
        QTest::newRow("most points, stopped") << 1 << "-50 49.999 0.001" << 0 << "POWE:SET -50";

        const QString above = QStringLiteral("Point %1 (4400.001 MHz) is outside the frequency range 35-4400 MHz");
        QTest::newRow("stop above range") << 0 << "4399.999 4400.001 0.001" << 0 << above.arg(3);
        QTest::newRow("first sent above") << 0 << "4399.999 4400.001 0.001" << 1 << above.arg(1);
        QTest::newRow("log from 0") << 0 << "0 100" << 0 << "Logarithmic spacing needs a start and stop above 0";
        QTest::newRow("step negative") << 1 << "-10 0 -1" << 0 << "The step must be a number greater than 0";
        QTest::newRow("not a number") << 0 << "100 2GHz 1" << 0 << "Start and stop must be numbers";
        QTest::newRow("too many") << 0 << "35 4400 0.01" << 0 << "Too many points: 436501 (at most 100000)";
        QTest::newRow("too many up-down") << 1 << "-50 49.999 0.001" << 2 << "Too many points: 199999 (at most 100000)";
        QTest::newRow("list: bad line") << 2 << "100\n\n200,abc\n" << 0 << "Line 3 of list.txt: the power is not a number";
        QTest::newRow("list: empty") << 2 << "# nothing\n" << 0 << "The list file holds no points";
    }

    void startSweep()
    {
        QFETCH(int, mode);
        QFETCH(QString, range);
        QFETCH(int, direction);
        setUp(mode, range, direction);
        const QString refusal = start();
        if (w<QProgressBar>("progress_bar")->maximum() > 1000)
            window->stopSweep();
        QTRY_VERIFY(!window->isRunning());
        // A refusal sends nothing.
        QTEST(refusal + writes().join(QLatin1Char('|')), "result");
    }

    void endsAtOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("stop") << "stop";
        QTest::newRow("close window") << "close";
        QTest::newRow("rescan") << "rescan";
        QTest::newRow("panel closed") << "quit";
        QTest::newRow("unplugged") << "unplug";
    }

    void endsAtOnce()
    {
        QFETCH(QString, how);
        setUp(0, QStringLiteral("100 4000 10"));
        QSignalSpy lost(tab.data(), &UsbStickTab::connectionLost);
        QSignalSpy log(tab.data(), &UsbStickTab::logMsg);
        QCOMPARE(start(), QString());
        QTRY_VERIFY(writes().size() >= 3);
        if (how == QLatin1String("stop")) {
            w<QPushButton>("stop_btn")->click();
        } else if (how == QLatin1String("close")) {
            window->close();
        } else if (how == QLatin1String("rescan")) {
            tab->closeStateViewer();
        } else if (how == QLatin1String("quit")) {
            // The tab stands in for the main window: closing it ends the
            // panel, the sweep window open or not.
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
        QCOMPARE(log.first().first().toString(),
                 "Sweep started: frequency 100 to 4000 MHz, step 10 MHz, 391 points, dwell 10 ms, up, once");
        QCOMPARE(log.last().first().toString(), QStringLiteral("Sweep stopped after %1 of 391 points").arg(sent));
        QTest::qWait(60); // a rescan deletes the tab and its window here
        QCOMPARE(writes().size(), sent);
    }

    void pollingPausesAndResumes()
    {
        // The first point dwells longer than the refresh interval, which the
        // opening of the window started.
        setUp(2, QStringLiteral("100,,1300\n110\n"));
        QCOMPARE(start(), QString());
        QVERIFY(!tab->findChild<QTimer *>(QStringLiteral("refreshTimer"))->isActive());
        // An operator command goes out between two points; polling stays off.
        tab->findChild<QPushButton *>(QStringLiteral("set_max_powe_btn"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->isRunning(), 5000);
        QCOMPARE(writes(), (QStringList{"FREQ:SET 100", "POWE:SET MAX", "FREQ:SET 110"}));
        QTRY_VERIFY_WITH_TIMEOUT(writes().contains(QStringLiteral("FREQ:REF:EXT?")), 5000);
    }

    void latePointsCatchUp()
    {
        // Points are due at fixed times from the start: after a stall the
        // overdue ones go out back to back, and only then does the sweep wait.
        setUp(0, QStringLiteral("100 200 10"));
        QCOMPARE(start(), QString());
        QThread::msleep(35);
        const auto *pacer = window->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        while (pacer->isActive() && pacer->remainingTime() == 0)
            QCoreApplication::processEvents();
        QCOMPARE(writes().mid(0, 4), (QStringList{"FREQ:SET 100", "FREQ:SET 110", "FREQ:SET 120", "FREQ:SET 130"}));
    }
};

QTEST_MAIN(tst_sweep)
#include "tst_sweep.moc"
