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
    template<typename T = QWidget> T *t(const char *name) const { return tab->findChild<T *>(QLatin1String(name)); }
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
        if (mode == 2 && list.open(QIODevice::WriteOnly) && list.write(range.toUtf8()) >= 0) {
            list.close();
            w<QLineEdit>("list_file_txt")->setText(list.fileName());
        }
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

    // A grid of stepped sweeps: every line is the exact decimal of
    // start + i * step at the instrument's resolution, with no exponent and
    // never -0; a stop outside the range is refused.
    void exactPoints_data()
    {
        QTest::addColumn<int>("mode"); // 0 frequency, 1 power
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QList<qint64>>("starts"); // in units of the resolution
        QTest::addColumn<QList<qint64>>("steps");
        QTest::newRow("power, 0.01 dB") << 1 << 2 << QList<qint64>{-9000, -1000, -33, -30, -7, 0, 1, 10, 33, 8999}
                                        << QList<qint64>{1, 3, 7, 10, 25, 30, 33, 100};
        QTest::newRow("MHz, 1 kHz") << 0 << 3 << QList<qint64>{35000, 35001, 100100, 2217500, 4399000}
                                    << QList<qint64>{1, 3, 7, 10, 100, 1000, 12345};
        QTest::newRow("GHz, 1 kHz") << 0 << 6 << QList<qint64>{5000000, 5000001, 7250000, 9999000}
                                    << QList<qint64>{1, 3, 7, 10, 100, 1000, 12345};
    }

    void exactPoints()
    {
        QFETCH(int, mode);
        QFETCH(int, decimals);
        QFETCH(QList<qint64>, starts);
        QFETCH(QList<qint64>, steps);
        const double scale = std::pow(10.0, decimals);
        const auto text = [&](qint64 units) {
            QString number = QString::number(double(units) / scale, 'f', decimals);
            number.remove(QRegularExpression(QStringLiteral("\\.?0+$")));
            return number == QLatin1String("-0") ? QStringLiteral("0") : number;
        };
        const sweep::Limits limits{decimals == 3 ? 35.0 : 5.0, decimals == 3 ? 4400.0 : 10.0,
                                   decimals == 3 ? QStringLiteral("MHz") : QStringLiteral("GHz"), decimals};
        const qint64 high = mode == 1 ? 9000 : qint64(limits.maxFreq * scale);
        const QRegularExpression plain(QStringLiteral("^(FREQ|POWE):SET (0|-?[1-9]\\d*(\\.\\d*[1-9])?|-?0\\.\\d*[1-9])\n$"));
        int checked = 0;
        for (qint64 start : starts) {
            for (qint64 step : steps) {
                for (int count : {1, 2, 7, 11, 61}) {
                    for (auto direction : {sweep::Direction::Up, sweep::Direction::Down}) {
                        sweep::Settings settings;
                        settings.mode = sweep::Mode(mode);
                        settings.direction = direction;
                        const qint64 stop = start + (count - 1) * step;
                        settings.start = text(start);
                        settings.stop = text(stop);
                        settings.step = text(step);
                        const sweep::Plan plan = sweep::plan(settings, limits, std::nullopt);
                        const QString row = settings.start + " to " + settings.stop + " step " + settings.step;
                        if (stop > high) {
                            QVERIFY2(plan.points.isEmpty() && plan.refusal.contains("outside"), qPrintable(row));
                            continue;
                        }
                        QVERIFY2(plan.refusal.isEmpty(), qPrintable(row + ": " + plan.refusal));
                        QCOMPARE(plan.points.size(), count);
                        for (int i = 0; i < count; ++i) {
                            const int at = direction == sweep::Direction::Up ? i : count - 1 - i;
                            const QString line = sweep::commandLines(plan.points.at(i)).join(QString());
                            QVERIFY2(plain.match(line).hasMatch(), qPrintable(row + ": " + line));
                            QCOMPARE(line, QStringLiteral("%1:SET %2\n").arg(mode == 1 ? "POWE" : "FREQ", text(start + at * step)));
                            ++checked;
                        }
                    }
                }
            }
        }
        QVERIFY(checked > 1000);
    }

    // What Start would do, said before it is pressed: the log's description
    // and the window's preview.
    void plans_data()
    {
        QTest::addColumn<QString>("fields"); // mode start stop step|points dwell direction repeat
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("preview");

        QTest::newRow("4400 down to 35") << "0 4400 35 435.5 100 0 0"
            << "frequency 4400 to 35 MHz, step 435.5 MHz, 11 points, dwell 100 ms, down, once"
            << "11 points, 1.1 s a pass: first 4400 MHz, last 45 MHz";
        QTest::newRow("down from high to low is up") << "0 4400 35 435.5 100 1 0"
            << "frequency 4400 to 35 MHz, step 435.5 MHz, 11 points, dwell 100 ms, up, once"
            << "11 points, 1.1 s a pass: first 45 MHz, last 4400 MHz";
        QTest::newRow("up-down from high, repeated") << "1 0 -0.3 0.1 250 2 1"
            << "power 0 to -0.3 dBm, step 0.1 dB, 6 points, dwell 250 ms, down-up, repeated until stopped"
            << "6 points, 1.5 s a pass: first 0 dBm, last -0.1 dBm; repeated until stopped";
        QTest::newRow("one point") << "0 35 35 1 10 0 0"
            << "frequency 35 to 35 MHz, step 1 MHz, 1 point, dwell 10 ms, up, once" << "1 point, 10 ms: 35 MHz";
        QTest::newRow("log points") << "0 100 10000 #3 61000 0 0"
            << ""
            << "Point 3 (10000 MHz) is outside the frequency range 35-4400 MHz";
        QTest::newRow("most points, long") << "0 35 134.999 0.001 100 0 0"
            << "frequency 35 to 134.999 MHz, step 0.001 MHz, 100000 points, dwell 100 ms, up, once"
            << "100000 points, 2 h 46 min a pass: first 35 MHz, last 134.999 MHz";
        QTest::newRow("minutes") << "0 100 160 1 1000 0 0"
            << "frequency 100 to 160 MHz, step 1 MHz, 61 points, dwell 1000 ms, up, once"
            << "61 points, 1 min 1 s a pass: first 100 MHz, last 160 MHz";
        QTest::newRow("list with own dwells") << "2 100,,1000\n200.5,-5.255 - - 250 2 0"
            << "list list.txt, 3 points, dwell 250 ms, in file order and back, once"
            << "3 points, 2.25 s a pass: first 100 MHz, last 100 MHz";
        QTest::newRow("refused") << "0 100 200 0 100 0 0" << "" << "The step must be a number greater than 0";
    }

    void plans()
    {
        QFETCH(QString, fields);
        const QStringList f = fields.split(u' ');
        sweep::Settings settings;
        settings.mode = sweep::Mode(f.at(0).toInt());
        settings.start = f.at(1);
        settings.stop = f.at(2);
        settings.byPoints = f.at(3).startsWith(u'#');
        settings.logarithmic = true;
        settings.count = f.at(3).mid(1).toInt();
        settings.step = f.at(3);
        settings.dwellMs = f.at(4).toInt();
        settings.direction = sweep::Direction(f.at(5).toInt());
        settings.repeat = f.at(6) == QLatin1String("1");
        std::optional<QString> list;
        if (settings.mode == sweep::Mode::List) {
            settings.listFile = QStringLiteral("/somewhere/list.txt");
            list = f.at(1);
        }
        const sweep::Limits limits{35, 4400, QStringLiteral("MHz"), 3};
        const sweep::Plan plan = sweep::plan(settings, limits, list);
        QTEST(plan.refusal.isEmpty() ? plan.description : QString(), "description");
        QTEST(sweep::preview(plan, settings, limits.unit), "preview");
    }

    // Where a sweep is, and how it ended, in passes when it repeats.
    void texts_data()
    {
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<qint64>("perPass");
        QTest::addColumn<bool>("repeat");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<QString>("stopped");
        QTest::addColumn<QString>("end");

        QTest::newRow("single, stopped") << qint64(9) << qint64(11) << false << "Point 9 of 11"
                                         << "Sweep stopped after 9 of 11 points" << "Stopped at point 9 of 11: X";
        QTest::newRow("single, done") << qint64(11) << qint64(11) << false << "Point 11 of 11"
                                      << "Sweep stopped after 11 of 11 points" << "Done: all 11 points sent, the last X";
        QTest::newRow("none sent") << qint64(0) << qint64(11) << false << ""
                                   << "Sweep stopped after 0 of 11 points" << "Stopped before the first point";
        QTest::newRow("passes and some") << qint64(42) << qint64(11) << true << "Pass 4, point 9 of 11"
                                         << "Sweep stopped after 42 points (3 passes of 11 and 9)" << "Stopped at pass 4, point 9 of 11: X";
        QTest::newRow("whole passes") << qint64(33) << qint64(11) << true << "Pass 3, point 11 of 11"
                                      << "Sweep stopped after 33 points (3 passes of 11)" << "Stopped at pass 3, point 11 of 11: X";
        QTest::newRow("one pass and one") << qint64(12) << qint64(11) << true << "Pass 2, point 1 of 11"
                                          << "Sweep stopped after 12 points (1 pass of 11 and 1)" << "Stopped at pass 2, point 1 of 11: X";
        QTest::newRow("inside the first pass") << qint64(1) << qint64(11) << true << "Pass 1, point 1 of 11"
                                               << "Sweep stopped after 1 point (1 of the first pass of 11)" << "Stopped at pass 1, point 1 of 11: X";
    }

    void texts()
    {
        QFETCH(qint64, sent);
        QFETCH(qint64, perPass);
        QFETCH(bool, repeat);
        QTEST(sweep::progressText(sent, perPass, repeat), "progress");
        QTEST(sweep::stoppedText(sent, perPass, repeat), "stopped");
        QTEST(sweep::endText(sent, perPass, repeat, QStringLiteral("X")), "end");
    }

    // A tab of its own for an instrument, with its sweep window open.
    void openTab(const QString &descriptor, const QString &serial)
    {
        tab = new UsbStickTab(rm, descriptor, "V3.2.0", "774-4400", serial, descriptor.section(QStringLiteral("::"), 2, 2));
        tab->show();
        t<QPushButton>("sweep_btn")->click();
        window = topLevel<SweepWindow>();
        QVERIFY(window);
    }

    void init()
    {
        if (QByteArrayList{"points", "schedule", "exactPoints", "plans", "texts"}.contains(QTest::currentTestFunction()))
            return;
        sim = std::make_unique<SimFixture>();
        QSettings(QStringLiteral("usbsynth"), QStringLiteral("sweeps")).clear(); // each test from the defaults
        sim->configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::SW1::INSTR", "idn": "Q,774-4400,SW1,V3.2.0"}]})");
        QVERIFY(visa::openDefaultRM(&rm) >= 0);
        openTab(descriptor, QStringLiteral("SW1"));
        sim->clearTrace();
    }

    void cleanup()
    {
        if (!sim)
            return;
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
        QTest::newRow("frequency log points") << 0 << "100 125" << 0 << "FREQ:SET 100|FREQ:SET 111.803|FREQ:SET 125";
        QTest::newRow("power down") << 1 << "-90 -88.5 0.75" << 1 << "POWE:SET -88.5|POWE:SET -89.25|POWE:SET -90";
        QTest::newRow("list") << 2 << "# f, p, dwell\r\n100 # first\n 200.001 , -5\n\n300,,20\n1e3,-7.5,10" << 0
                              << "FREQ:SET 100|FREQ:SET 200.001|POWE:SET -5|FREQ:SET 300|FREQ:SET 1000|POWE:SET -7.5";
        QTest::newRow("most points, stopped") << 0 << "35 134.999 0.001" << 0 << "FREQ:SET 35";
        QTest::newRow("power through 0") << 1 << "-0.3 0.3 0.1" << 0
                                         << "POWE:SET -0.3|POWE:SET -0.2|POWE:SET -0.1|POWE:SET 0|POWE:SET 0.1|POWE:SET 0.2|POWE:SET 0.3";
        QTest::newRow("power to 0.01 dB") << 1 << "-0.004 0.03 0.013" << 0 << "POWE:SET 0|POWE:SET 0.01|POWE:SET 0.02";
        QTest::newRow("frequency to 1 kHz") << 0 << "100.0004 100.0034 0.001" << 1 << "FREQ:SET 100.003|FREQ:SET 100.002|FREQ:SET 100.001|FREQ:SET 100";
        QTest::newRow("range ends") << 0 << "35 4400 4365" << 0 << "FREQ:SET 35|FREQ:SET 4400";
        QTest::newRow("power ends") << 1 << "90 -90 180" << 0 << "POWE:SET 90|POWE:SET -90";
        QTest::newRow("list: CR line ends") << 2 << "100.5\r101\r\r# c\r102,-1e-7" << 0
                                            << "FREQ:SET 100.5|FREQ:SET 101|FREQ:SET 102|POWE:SET 0";
        QTest::newRow("list: CR, bad line") << 2 << "100\r\n\r200,abc\r" << 0 << "Line 3 of list.txt: the power is not a number";

        const QString above = QStringLiteral("Point %1 (4400.001 MHz) is outside the frequency range 35-4400 MHz");
        QTest::newRow("stop above range") << 0 << "4399.999 4400.001 0.001" << 0 << above.arg(3);
        QTest::newRow("first sent above") << 0 << "4399.999 4400.001 0.001" << 1 << above.arg(1);
        QTest::newRow("below range") << 0 << "34.999 100" << 0 << "Point 1 (34.999 MHz) is outside the frequency range 35-4400 MHz";
        QTest::newRow("log from 0") << 0 << "0 100" << 0 << "Logarithmic spacing needs a start and stop above 0";
        QTest::newRow("step negative") << 1 << "-10 0 -1" << 0 << "The step must be a number greater than 0";
        QTest::newRow("not a number") << 0 << "100 2Gx 1" << 0 << "Start and stop must be numbers";
        QTest::newRow("one too many") << 0 << "35 135 0.001" << 0 << "Too many points: 100001 (at most 100000)";
        QTest::newRow("too many up-down") << 0 << "35 134.999 0.001" << 2 << "Too many points: 199999 (at most 100000)";
        QTest::newRow("step below 1 kHz") << 0 << "100 101 0.0009" << 0 << "The step must be at least 0.001 MHz";
        QTest::newRow("step below 0.01 dB") << 1 << "0 1 0.009" << 0 << "The step must be at least 0.01 dB";
        QTest::newRow("power below -90") << 1 << "-90.01 0 1" << 0 << "Point 1 (-90.01 dBm) is outside the power range -90 to 90 dBm";
        QTest::newRow("power above 90") << 1 << "89.99 90.01 0.02" << 0 << "Point 2 (90.01 dBm) is outside the power range -90 to 90 dBm";
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

    // Both ends of every model's frequency range, typed in the tab and swept.
    // (Before endsAtOnce, whose quitting row leaves later boxes unshown.)
    void modelRangeEnds_data()
    {
        QTest::addColumn<QString>("productId");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QStringList>("ends"); // below, minimum, maximum, above

        QTest::newRow("0x000F") << "0x000F" << "MHz" << QStringList{"34.999", "35", "4400", "4400.001"};
        QTest::newRow("0x0010") << "0x0010" << "GHz" << QStringList{"4.999999", "5", "10", "10.000001"};
        QTest::newRow("0x0011") << "0x0011" << "GHz" << QStringList{"9.999999", "10", "20", "20.000001"};
        QTest::newRow("0x0012") << "0x0012" << "GHz" << QStringList{"20.999999", "21", "24", "24.000001"};
        QTest::newRow("0x0013") << "0x0013" << "GHz" << QStringList{"23.999999", "24", "27", "27.000001"};
        QTest::newRow("0x0014") << "0x0014" << "MHz" << QStringList{"24.999", "25", "6000", "6000.001"};
        QTest::newRow("0x0015") << "0x0015" << "GHz" << QStringList{"5.999999", "6", "12", "12.000001"};
    }

    void modelRangeEnds()
    {
        QFETCH(QString, productId);
        QFETCH(QString, unit);
        QFETCH(QStringList, ends);
        const QString other = QStringLiteral("USB0::0x3A7C::%1::R1::INSTR").arg(productId);
        delete tab.data();
        sim->configure(QStringLiteral(R"({"resources": [{"resource": "%1", "idn": "Q,M,R1,V3.2.0"}]})").arg(other).toUtf8());
        openTab(other, QStringLiteral("R1"));
        sim->clearTrace();
        auto *freq = t<QLineEdit>("freq_text");
        QStringList seen;
        for (const QString &end : ends) {
            freq->setText(end);
            // The tab's refusal, without the line on the accepted forms.
            for (const QString &text : boxes.expect([&] { t<QPushButton>("freq_button")->click(); }))
                seen << text.section(QLatin1Char('\n'), 0, 0);
        }
        const auto range = QStringLiteral("%1-%2 %3").arg(ends.at(1), ends.at(2), unit);
        const auto outside = [&](int point, const QString &value) {
            return QStringLiteral("Point %1 (%2 %3) is outside the frequency range %4").arg(point).arg(value, unit, range);
        };
        // Two points each: both ends, then one end just outside.
        for (const auto &[low, high] : {std::pair(1, 2), std::pair(0, 2), std::pair(1, 3)}) {
            w<QComboBox>("mode_cmb")->setCurrentIndex(0);
            w<QRadioButton>("points_rad")->setChecked(true);
            w<QSpinBox>("points_spn")->setValue(2);
            w<QComboBox>("spacing_cmb")->setCurrentIndex(0);
            w<QSpinBox>("dwell_spn")->setValue(10);
            w<QLineEdit>("start_txt")->setText(ends.at(low));
            w<QLineEdit>("stop_txt")->setText(ends.at(high));
            if (const QString box = start(); !box.isEmpty())
                seen << box;
            QTRY_VERIFY(!window->isRunning());
        }
        QCOMPARE(seen, (QStringList{"Frequency Range Error", "Frequency Range Error", outside(1, ends.at(0)), outside(2, ends.at(3))}));
        const QStringList wire = sim->writes(other).filter(QRegularExpression(QStringLiteral("[^?]$")));
        QCOMPARE(wire, (QStringList{"FREQ:SET " + ends.at(1), "FREQ:SET " + ends.at(2), "FREQ:SET " + ends.at(1), "FREQ:SET " + ends.at(2)}));
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
        if (window) // the window says where it stopped
            QCOMPARE(w<QLabel>("current_lbl")->text(),
                     QStringLiteral("Stopped at point %1 of 391: %2 MHz").arg(sent).arg(100 + 10 * (sent - 1)));
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
    // A repeated sweep counts its passes, in the window, the tab and the log;
    // a range entered from high to low is said to go down.
    void repeatedPasses()
    {
        setUp(0, QStringLiteral("120 100 10"));
        w<QCheckBox>("repeat_chk")->setChecked(true);
        QSignalSpy log(tab.data(), &UsbStickTab::logMsg);
        QStringList shown;
        connect(window, &SweepWindow::pointSent, this, [&] {
            shown << w<QLabel>("current_lbl")->text() + " | " + t<QLabel>("sweep_status_lbl")->text();
            if (shown.size() == 8)
                window->stopSweep();
        });
        QCOMPARE(start(), QString());
        QTRY_VERIFY(!window->isRunning());
        QCOMPARE(writes().join(u' '), "FREQ:SET 120 FREQ:SET 110 FREQ:SET 100 FREQ:SET 120 FREQ:SET 110 FREQ:SET 100 "
                                      "FREQ:SET 120 FREQ:SET 110");
        QCOMPARE(shown.at(6), QStringLiteral("Pass 3, point 1 of 3: 120 MHz | Sweeping: pass 3, point 1 of 3 \u2014 readings paused"));
        QCOMPARE(w<QLabel>("current_lbl")->text(), "Stopped at pass 3, point 2 of 3: 110 MHz");
        QCOMPARE(log.first().first().toString(),
                 "Sweep started: frequency 120 to 100 MHz, step 10 MHz, 3 points, dwell 10 ms, down, repeated until stopped");
        QCOMPARE(log.last().first().toString(), "Sweep stopped after 8 points (2 passes of 3 and 2)");
    }

    // While its sweep runs the tab shows the point sent and marks the
    // readings it does not poll; afterwards polling brings them back.
    void tabWhileSweeping()
    {
        setUp(2, QStringLiteral("100,,600\n200.5,-5.25,600\n"));
        const QList<QWidget *> readings{t("act_freq_lbl"), t("lock_lbl"), t("atten_stat_lbl"), t("temp_lbl")};
        QCOMPARE(start(), QString());
        QCOMPARE(t<QLineEdit>("freq_text")->text(), "100.000");
        QVERIFY(t("sweep_status_lbl")->isVisible());
        QCOMPARE(t<QLabel>("sweep_status_lbl")->text(), QStringLiteral("Sweeping: point 1 of 2 \u2014 readings paused"));
        for (QWidget *reading : readings)
            QVERIFY2(!reading->isEnabled(), qPrintable(reading->objectName()));
        QTRY_COMPARE(t<QLineEdit>("freq_text")->text(), "200.500");
        QCOMPARE(t<QLineEdit>("Powe_Val")->text(), "-5.25");
        QCOMPARE(t<QLabel>("sweep_status_lbl")->text(), QStringLiteral("Sweeping: point 2 of 2 \u2014 readings paused"));
        QTRY_VERIFY(!window->isRunning());
        QVERIFY(!t("sweep_status_lbl")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(readings.first()->isEnabled(), 3000);
        for (QWidget *reading : readings)
            QVERIFY2(reading->isEnabled(), qPrintable(reading->objectName()));
        // Showing the points sent nothing; polling came back only after the end.
        QCOMPARE(sim->writes(descriptor).mid(0, 4), (QStringList{"FREQ:SET 100", "FREQ:SET 200.5", "POWE:SET -5.25", "FREQ:REF:EXT?"}));
        QCOMPARE(writes(), (QStringList{"FREQ:SET 100", "FREQ:SET 200.5", "POWE:SET -5.25"}));
    }

    // A value being stepped with the knob keeps the operator's digits while
    // sweep points are shown, and the stepped value is what goes out.
    void knobDuringSweep()
    {
        setUp(2, QStringLiteral("100,-10,100\n100,-20,600\n"));
        QCOMPARE(start(), QString());
        auto *power = t<QLineEdit>("Powe_Val");
        power->setFocus(Qt::OtherFocusReason);
        power->setCursorPosition(int(power->text().size()));
        QTest::keyClick(power, Qt::Key_Up);
        const QString stepped = power->text();
        QTRY_VERIFY(writes().contains(QStringLiteral("POWE:SET -20")));
        QCOMPARE(power->text(), stepped);
        QTRY_COMPARE(writes().last(), "POWE:SET " + stepped);
        window->stopSweep();
    }

    // Before Start the window says what Start will do, as the fields change,
    // without sending anything or raising a box.
    void preview()
    {
        setUp(0, QStringLiteral("100 200 25"));
        const QLabel *preview = w<QLabel>("preview_lbl");
        QCOMPARE(preview->text(), "5 points, 50 ms a pass: first 100 MHz, last 200 MHz");
        w<QSpinBox>("dwell_spn")->setValue(1500);
        QCOMPARE(preview->text(), "5 points, 7.5 s a pass: first 100 MHz, last 200 MHz");
        w<QComboBox>("direction_cmb")->setCurrentIndex(2);
        w<QCheckBox>("repeat_chk")->setChecked(true);
        QCOMPARE(preview->text(), "8 points, 12 s a pass: first 100 MHz, last 125 MHz; repeated until stopped");
        w<QLineEdit>("stop_txt")->setText(QStringLiteral("4400.001"));
        w<QLineEdit>("step_txt")->setText(QStringLiteral("4300.001"));
        QCOMPARE(preview->text(), "Point 2 (4400.001 MHz) is outside the frequency range 35-4400 MHz");
        w<QComboBox>("mode_cmb")->setCurrentIndex(2);
        w<QLineEdit>("list_file_txt")->setText(sim->path(QStringLiteral("none.txt")));
        QCOMPARE(preview->text(), "Cannot read the list file \"" + sim->path(QStringLiteral("none.txt")) + "\"");
        QCOMPARE(sim->trace(), QStringList());
    }

    // The window's settings belong to the instrument's serial: a rescan's new
    // tab and a later run find them again; another instrument has its own.
    void settingsKept()
    {
        setUp(1, QStringLiteral("-5 5 2.5"));
        w<QComboBox>("mode_cmb")->setCurrentIndex(0);
        setUp(2, QStringLiteral("100\n"), 2);
        w<QSpinBox>("dwell_spn")->setValue(37);
        w<QCheckBox>("repeat_chk")->setChecked(true);
        const QString list = w<QLineEdit>("list_file_txt")->text();
        tab->closeStateViewer(); // as a rescan does
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!tab && !window);

        openTab(descriptor, QStringLiteral("SW1"));
        QCOMPARE(w<QComboBox>("mode_cmb")->currentIndex(), 2);
        QCOMPARE(w<QLineEdit>("list_file_txt")->text(), list);
        QCOMPARE(w<QSpinBox>("dwell_spn")->value(), 37);
        QCOMPARE(w<QComboBox>("direction_cmb")->currentIndex(), 2);
        QVERIFY(w<QCheckBox>("repeat_chk")->isChecked());
        QVERIFY(w<QRadioButton>("points_rad")->isChecked());
        QCOMPARE(w<QComboBox>("spacing_cmb")->currentIndex(), 1);
        w<QComboBox>("mode_cmb")->setCurrentIndex(1);
        QCOMPARE(w<QLineEdit>("start_txt")->text() + ' ' + w<QLineEdit>("stop_txt")->text() + ' ' + w<QLineEdit>("step_txt")->text(),
                 "-5 5 2.5");
        // On disk, for the next run.
        QFile kept(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/usbsynth/sweeps.conf"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        const QByteArray saved = kept.readAll();
        QVERIFY2(saved.contains("[sweep]") && saved.contains("SW1\\dwellMs=37") && saved.contains(list.toUtf8()), saved.constData());

        delete tab.data();
        openTab(descriptor, QStringLiteral("SW2"));
        QCOMPARE(w<QComboBox>("mode_cmb")->currentIndex(), 0);
        QCOMPARE(w<QSpinBox>("dwell_spn")->value(), 100);
        QCOMPARE(w<QLineEdit>("list_file_txt")->text(), QString());
        QVERIFY(!w<QCheckBox>("repeat_chk")->isChecked());
    }

};

QTEST_MAIN(tst_sweep)
#include "tst_sweep.moc"
