// Sweeps: point generation and the schedule as pure functions, then the
// sweep window of a real tab against a simulated instrument: the lines each
// kind of sweep sends, refusals, the ways a sweep ends, and polling around it.
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
    BoxCatcher boxes;
    visa::Session rm = visa::NullSession;
    QPointer<UsbStickTab> tab;
    QPointer<SweepWindow> window;

    template<typename T> T *w(const char *name) const { return window->findChild<T *>(QLatin1String(name)); }
    // The lines sent, without the queries of the tab's polling, whose timing is
    // not the test's to control.
    QStringList writes() const { return sim->writes(descriptor).filter(QRegularExpression(QStringLiteral("[^?]$"))); }
    // Clicks Start; the texts of the message boxes it raised.
    QString start() { return boxes.expect([this] { w<QPushButton>("start_btn")->click(); }).join(u'\n'); }

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
        w<QRadioButton>(fields.size() > 2 ? "step_rad" : "points_rad")->setChecked(true);
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
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<bool>("upDownRepeated"); // or else one pass up
        QTest::addColumn<QString>("sent");

        QTest::newRow("step divides") << sweep::stepped(1, 2, 0.25) << false << "1 1.25 1.5 1.75 2";
        QTest::newRow("tenths reach stop") << sweep::stepped(5, 5.3, 0.1) << false << "5 5.1 5.2 5.3";
        QTest::newRow("step does not divide") << sweep::stepped(35, 60, 10) << false << "35 45 55";
        QTest::newRow("stop below start") << sweep::stepped(10, 7.5, 1) << false << "10 9 8";
        QTest::newRow("kHz on a GHz model") << sweep::stepped(5, 5.000003, 1e-6) << false << "5 5.000001 5.000002 5.000003";
        QTest::newRow("up-down repeated") << sweep::stepped(1, 2, 0.5) << true << "1 1.5 2 1.5";
        QTest::newRow("linear") << sweep::linear(5, 10, 5) << false << "5 6.25 7.5 8.75 10";
        QTest::newRow("log") << sweep::logarithmic(10, 1000, 5) << false << "10 31.6227766 100 316.227766 1000";
    }

    void points()
    {
        QFETCH(QList<double>, values);
        QFETCH(bool, upDownRepeated);
        QStringList texts;
        const auto order = upDownRepeated ? sweep::Direction::UpDown : sweep::Direction::Up;
        for (const sweep::Point &p : sweep::ordered(sweep::frequencyPoints(values), order, upDownRepeated))
            texts << cmd::formatFrequency(*p.frequency);
        QTEST(texts.join(u' '), "sent");
    }

    void schedule_data()
    {
        QTest::addColumn<qint64>("deadline"); // of the n-th point sent, from 0
        QTest::addColumn<qint64>("elapsedNs");
        QTest::addColumn<int>("delay");

        // The sweep's own dwell of 10 ms, and a list with dwells of its own.
        const QList<qint64> even = sweep::startOffsets(sweep::parseList("1\n1\n1").points, 10);
        const QList<qint64> own = sweep::startOffsets(sweep::parseList("1,,30\n1\n1,,50").points, 10);
        QTest::newRow("on time") << sweep::deadlineMs(even, 2) << qint64(12'300'000) << 8;
        QTest::newRow("never early") << sweep::deadlineMs(even, 2) << qint64(19'999'999) << 1;
        QTest::newRow("late") << sweep::deadlineMs(even, 2) << qint64(20'000'001) << 0;
        QTest::newRow("own dwells") << sweep::deadlineMs(own, 2) << qint64(5'000'000) << 35;
        QTest::newRow("third pass") << sweep::deadlineMs(own, 6) << qint64(0) << 180;
    }

    void schedule()
    {
        QFETCH(qint64, deadline);
        QFETCH(qint64, elapsedNs);
        QTEST(sweep::delayMs(deadline, elapsedNs), "delay");
    }

    void init()
    {
        if (QByteArrayList{"points", "schedule"}.contains(QTest::currentTestFunction()))
            return;
        sim = std::make_unique<SimFixture>();
        sim->configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::SW1::INSTR", "idn": "Q,774-4400,SW1,V3.2.0"}]})");
        QVERIFY(visa::openDefaultRM(&rm) >= 0);
        tab = new UsbStickTab(rm, descriptor, "V3.2.0", "774-4400", "SW1", "0x000F");
        tab->show();
        tab->findChild<QPushButton *>(QStringLiteral("sweep_btn"))->click();
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *shown = qobject_cast<SweepWindow *>(top); shown && shown->isVisible())
                window = shown;
        QVERIFY(window);
        sim->clearTrace();
    }

    void cleanup()
    {
        delete tab.data();
        QVERIFY(!window); // deleted with its tab
        visa::close(rm);
        sim.reset();
    }

    void startSweep_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("range");
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("result"); // the message of a refusal, or the lines sent

        QTest::newRow("frequency up-down") << 0 << "35 60 10" << 2 << "FREQ:SET 35|FREQ:SET 45|FREQ:SET 55|FREQ:SET 45|FREQ:SET 35";
        QTest::newRow("frequency log points") << 0 << "100 125" << 0 << "FREQ:SET 100|FREQ:SET 111.8033989|FREQ:SET 125";
        QTest::newRow("power down") << 1 << "-90 -88.5 0.75" << 1 << "POWE:SET -88.5|POWE:SET -89.25|POWE:SET -90";
        QTest::newRow("list") << 2 << "# f, p, dwell\r\n100 # first\n 200.001 , -5\n\n300,,20\n1e3,-7.5,10" << 0
                              << "FREQ:SET 100|FREQ:SET 200.001|POWE:SET -5|FREQ:SET 300|FREQ:SET 1000|POWE:SET -7.5";
        QTest::newRow("most points, stopped") << 1 << "-50 49.999 0.001" << 0 << "POWE:SET -50";

        const QString above = QStringLiteral("Point %1 (4400.001 MHz) is outside the frequency range 35-4400 MHz");
        QTest::newRow("stop above range") << 0 << "4399.999 4400.001 0.001" << 0 << above.arg(3);
        QTest::newRow("first sent above") << 0 << "4399.999 4400.001 0.001" << 1 << above.arg(1);
        QTest::newRow("power above") << 1 << "80 95 5" << 0 << "Point 4 (95 dBm) is outside the power range -90 to 90 dBm";
        QTest::newRow("power below") << 1 << "-90.5 0 1" << 0 << "Point 1 (-90.5 dBm) is outside the power range -90 to 90 dBm";
        QTest::newRow("below range") << 0 << "34.999 100" << 0 << "Point 1 (34.999 MHz) is outside the frequency range 35-4400 MHz";
        QTest::newRow("log from 0") << 0 << "0 100" << 0 << "Logarithmic spacing needs a start and stop above 0";
        QTest::newRow("step negative") << 1 << "-10 0 -1" << 0 << "The step must be a number greater than 0";
        QTest::newRow("not a number") << 0 << "100 2GHz 1" << 0 << "Start and stop must be numbers";
        QTest::newRow("too many") << 0 << "35 4400 0.01" << 0 << "Too many points: 436501 (at most 100000)";
        QTest::newRow("too many up-down") << 1 << "-50 49.999 0.001" << 2 << "Too many points: 199999 (at most 100000)";
        QTest::newRow("list: bad line") << 2 << "100\n\n200,abc\n" << 0 << "Line 3 of list.txt: the power is not a number";
        QTest::newRow("short dwell") << 2 << "100,0,9" << 0 << "Line 1 of list.txt: the dwell is not a whole number of at least 10 ms";
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
        for (const char *how : {"stop", "close", "rescan", "quit", "unplug"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }

    void endsAtOnce()
    {
        QFETCH(QString, how);
        setUp(0, QStringLiteral("100 4000 10"));
        QSignalSpy log(tab.data(), &UsbStickTab::logMsg);
        QCOMPARE(start(), QString());
        // Points are due at fixed times from the start: after a stall the
        // overdue ones go out back to back, and only then does the sweep wait.
        QThread::msleep(35);
        const auto *pacer = window->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        while (pacer->isActive() && pacer->remainingTime() == 0)
            QCoreApplication::processEvents();
        QCOMPARE(writes().mid(0, 4), (QStringList{"FREQ:SET 100", "FREQ:SET 110", "FREQ:SET 120", "FREQ:SET 130"}));
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
            QTRY_VERIFY(!window->isRunning());
        }
        const qsizetype sent = writes().size();
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
        QTRY_VERIFY_WITH_TIMEOUT(sim->writes(descriptor).contains(QStringLiteral("FREQ:REF:EXT?")), 5000);
        // Nothing was polled before the sweep ended.
        QCOMPARE(sim->writes(descriptor).mid(0, 3), (QStringList{"FREQ:SET 100", "POWE:SET MAX", "FREQ:SET 110"}));
    }
};

QTEST_MAIN(tst_sweep)
#include "tst_sweep.moc"
