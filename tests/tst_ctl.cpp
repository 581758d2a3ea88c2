// usbsynth-ctl, the real program run against the simulated instruments:
// the exact lines on the wire, refusals that send nothing, readings and
// their absence, sweeps, signals and exit statuses. The link code's own
// tests pin units, ranges and formatting; here each option is proven wired.
#include "link/presets.h"
#include "simfixture.h"

#include <QProcess>

#include <csignal>

namespace {
using L = QStringList;
// "a b c" as a list of words; "" as none.
L words(const char *text, char separator = ' ')
{
    return QString::fromLatin1(text).split(QLatin1Char(separator), Qt::SkipEmptyParts);
}
const QString Mhz = QStringLiteral("USB0::0x3A7C::0x000F::SN100::INSTR");
const QString Ghz = QStringLiteral("USB0::0x3A7C::0x0011::SN200::INSTR");

QByteArray bench(const QByteArray &mhzExtra = {}, const QByteArray &ghzExtra = {})
{
    return "{\"resources\": ["
           "{\"resource\": \"" + Mhz.toLatin1() + "\", \"idn\": \"Quorvex Electronics,774-4400,SN100,V4.1.0\""
           + mhzExtra + "},"
           "{\"resource\": \"" + Ghz.toLatin1() + "\", \"idn\": \"Quorvex Electronics,VX27H774-20,SN200,V3.2.0\""
           + ghzExtra + "},"
           "{\"resource\": \"USB0::0x3A7C::0x0030::PM300::INSTR\", \"idn\": \"Quorvex Electronics,PM-30,PM300,V1.0\"}"
           "]}";
}
} // namespace

class tst_ctl : public QObject
{
    Q_OBJECT

    struct Result { int status = -1; QString out, err; };

    SimFixture sim;

    static QProcess *start(const QStringList &arguments, const QString &library = QString())
    {
        auto *process = new QProcess;
        if (!library.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("USBSYNTH_VISA_LIBRARY"), library);
            process->setProcessEnvironment(environment);
        }
        process->start(qEnvironmentVariable("USBSYNTH_TEST_CTL"), arguments);
        return process;
    }
    static Result finish(QProcess *process)
    {
        const bool ended = process->waitForFinished(60000);
        Result result{ended && process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
                      QString::fromUtf8(process->readAllStandardOutput()),
                      QString::fromUtf8(process->readAllStandardError())};
        delete process;
        return result;
    }
    static Result ctl(const QStringList &arguments) { return finish(start(arguments)); }

    // Every line sent to an instrument other than the identification.
    QStringList sent(const QString &descriptor) const
    {
        QStringList lines = sim.writes(descriptor);
        lines.removeAll(QStringLiteral("*IDN?"));
        return lines;
    }

    // The JSON a call printed, once python3 -m json.tool has accepted it.
    static QJsonDocument json(const QString &text)
    {
        QProcess tool;
        tool.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("json.tool")});
        tool.write(text.toUtf8());
        tool.closeWriteChannel();
        const bool valid = tool.waitForFinished(30000) && tool.exitCode() == 0;
        return valid ? QJsonDocument::fromJson(text.toUtf8()) : QJsonDocument();
    }

private slots:
    void init()
    {
        sim.configure(bench());
        sim.clearTrace();
    }

    void set_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines");
        // Each option at both ends of its range, with units where it takes them.
        const char *const rows[][3] = {
            {"--freq", "35", "FREQ:SET 35"}, {"--freq", "4400", "FREQ:SET 4400"}, {"--freq", "2.4G", "FREQ:SET 2400"},
            {"--power", "-90", "POWE:SET -90"}, {"--power", "90", "POWE:SET 90"}, {"--power", "-5.5dBm", "POWE:SET -5.5"},
            {"--power", "min", "POWE:SET MIN"}, {"--power", "MAX", "POWE:SET MAX"}, {"--rf", "on", "POWE:RF 1"},
            {"--rf", "off", "POWE:RF 0"}, {"--ref", "int", "FREQ:REF:EXT 0"}, {"--ref", "ext", "FREQ:REF:EXT 1"},
            {"--ref-freq", "10", "FREQ:REF:FREQ 10"}, {"--ref-freq", "100", "FREQ:REF:FREQ 100"},
            {"--divider", "1", "FREQ:REF:DIV 1"}, {"--divider", "127", "FREQ:REF:DIV 127"}, {"--pll", "frac", "FREQ:PLLM 0"},
            {"--pll", "int", "FREQ:PLLM 1"}};
        for (const auto &row : rows)
            QTest::addRow("%s %s", row[0], row[1]) << "SN100" << L{row[0], row[1]} << L{row[2]};
        QTest::newRow("option=value") << "SN100" << L{"--freq=4400"} << L{"FREQ:SET 4400"};
        QTest::newRow("all") << "all" << L{"--rf", "off", "--power", "-7.5"} << L{"POWE:RF 0", "POWE:SET -7.5"};
        // The documented order, whatever the order given.
        QTest::newRow("order, rf on last") << "SN100"
            << L{"--rf", "on", "--power", "-3", "--freq", "100", "--pll", "int", "--divider", "4", "--ref-freq", "20", "--ref", "ext"}
            << L{"FREQ:REF:EXT 1", "FREQ:REF:FREQ 20", "FREQ:REF:DIV 4", "FREQ:PLLM 1", "FREQ:SET 100", "POWE:SET -3", "POWE:RF 1"};
        QTest::newRow("order, rf off first") << "SN100" << L{"--freq", "100", "--rf", "off"} << L{"POWE:RF 0", "FREQ:SET 100"};
    }
    void set()
    {
        QFETCH(QString, serial);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        const Result result = ctl(L{"set", serial} + arguments);
        QCOMPARE(result.err, QString());
        QCOMPARE(result.status, 0);
        QCOMPARE(sent(Mhz), lines);
        QCOMPARE(sent(Ghz), serial == "all" ? lines : L());
        // One session for the identification, one for the batch.
        QCOMPARE(sim.count('O', Mhz), 2);
        QCOMPARE(sim.count('C', Mhz), 2);
    }

    void get_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::addColumn<int>("status");
        const L all = words("frequency actualFrequency locked power powerStatus rf reference referenceFrequency divider pll");
        QTest::newRow("MHz model, no sensor") << "SN100" << QByteArray() << all << words("temperature error") << 0;
        QTest::newRow("GHz model") << "SN200" << QByteArray() << all + L{"temperature"} << L{"error"} << 0;
        QTest::newRow("lock read fails") << "SN100" << QByteArray(", \"faults\": {\"readStatus\": {\"FREQ:LOCK?\": -1073807339}}")
                                         << words("rf reference referenceFrequency divider pll error")
                                         << words("locked power frequency actualFrequency") << 3;
        QTest::newRow("lock reply 2") << "SN100" << QByteArray(", \"replies\": {\"FREQ:LOCK?\": \"2\"}") << L{"divider", "error"}
                                      << L{"locked", "power"} << 3;
        QTest::newRow("power out of range") << "SN100" << QByteArray(", \"replies\": {\"POWE:SET?\": \"-90.5\"}")
                                            << L{"locked", "error"} << words("power powerStatus frequency") << 3;
        QTest::newRow("temperature not a number") << "SN200" << QByteArray(", \"replies\": {\"SYST:TEMP?\": \"hot\"}")
                                                  << all + L{"error"} << L{"temperature"} << 3;
        QTest::newRow("first reply unreadable") << "SN100" << QByteArray(", \"replies\": {\"FREQ:REF:EXT?\": \"x\"}")
                                                << L{"serial", "error"} << all << 3;
    }
    void get()
    {
        QFETCH(QString, serial);
        QFETCH(QByteArray, extra);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        QFETCH(int, status);
        sim.configure(serial == "SN100" ? bench(extra) : bench({}, extra));
        const Result result = ctl({"get", serial, "--json"});
        QCOMPARE(result.status, status);
        const QJsonObject object = json(result.out).object();
        QCOMPARE(object.value("serial").toString(), serial);
        for (const QString &key : present)
            QVERIFY2(object.contains(key), qPrintable(key));
        for (const QString &key : absent)
            QVERIFY2(!object.contains(key), qPrintable(key));
        if (status != 0)
            QVERIFY2(result.err.contains(object.value("error").toString()), qPrintable(result.err));
        QCOMPARE(sent(serial == "SN100" ? Mhz : Ghz).filter(QRegularExpression("[^?]$")), L());
    }

    void getValues()
    {
        sim.configure(bench({}, ", \"state\": {\"frequency\": 12.5, \"power\": -30, \"powerLevel\": \"MIN\", \"rf\": false, "
                                "\"refExternal\": true, \"refFrequency\": 100, \"refDivider\": 127, \"pllMode\": 1, "
                                "\"locked\": false, \"temperature\": 40.5}"));
        const Result result = ctl({"get", "SN200", "--json"});
        QCOMPARE(result.status, 0);
        const QJsonObject expected{{"serial", "SN200"}, {"model", "VX27H774-20"}, {"unit", "GHz"}, {"frequency", 12.5},
                                   {"actualFrequency", "12.500000"}, {"locked", false}, {"power", -30}, {"powerStatus", "off"},
                                   {"rf", false}, {"reference", "external"}, {"referenceFrequency", 100}, {"divider", 127},
                                   {"pll", "int"}, {"temperature", 40.5}};
        QCOMPARE(json(result.out).object(), expected);
        const Result text = ctl({"get", "SN200"});
        QCOMPARE(text.status, 0);
        QVERIFY2(text.out.contains("\nfrequency: 12.500000 GHz\n") && text.out.contains("\ntemperature: 40.50 C\n"),
                 qPrintable(text.out));
    }

    void getAllAndList()
    {
        const Result all = ctl({"get", "all", "--json"});
        QCOMPARE(all.status, 0);
        const QJsonArray array = json(all.out).array();
        QCOMPARE(array.size(), 2);
        QCOMPARE(array.at(0).toObject().value("serial").toString(), QString("SN100"));
        QCOMPARE(array.at(1).toObject().value("serial").toString(), QString("SN200"));

        const Result list = ctl({"list"});
        QCOMPARE(list.status, 0);
        QCOMPARE(list.out, "SN100\t774-4400\tV4.1.0\t35-4400 MHz\t" + Mhz + "\nSN200\tVX27H774-20\tV3.2.0\t10-20 GHz\t" + Ghz + "\n");
        QCOMPARE(json(ctl({"list", "--json"}).out).array().at(1).toObject(),
                 (QJsonObject{{"serial", "SN200"}, {"model", "VX27H774-20"}, {"firmware", "V3.2.0"}, {"minFrequency", 10},
                              {"maxFrequency", 20}, {"unit", "GHz"}, {"resource", Ghz}}));
        // The power sensor is outside the product-id range: never opened.
        QCOMPARE(sim.count('O', "USB0::0x3A7C::0x0030::PM300::INSTR"), 0);
    }

    // Calls that do no work, or do not end well: their status, what they print,
    // and the lines that reached SN100 (none reach SN200).
    void failed_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("lines");
        const QByteArray none;
        // Help (0, on stdout, touching no instrument), usage errors (2) and
        // refused values (1): one refused value refuses the whole call.
        const struct { const char *arguments; int status; const char *message; } rows[] = {
            {"--help", 0, "Usage: usbsynth-ctl COMMAND"}, {"list --help", 0, "Usage: usbsynth-ctl list"},
            {"get --help", 0, "Usage: usbsynth-ctl get"}, {"set --help", 0, "Usage: usbsynth-ctl set"},
            {"sweep --help", 0, "Usage: usbsynth-ctl sweep"}, {"preset --help", 0, "Usage: usbsynth-ctl preset"},
            {"help sweep", 0, "Usage: usbsynth-ctl sweep"},
            {"", 2, "Usage: usbsynth-ctl COMMAND"}, {"frob", 2, "unknown command"}, {"set SN100 --volume 11", 2, "unknown option"},
            {"set SN100 --freq", 2, "needs a value"}, {"set SN100 --rf on --rf off", 2, "given twice"},
            {"set SN100", 2, "at least one setting"}, {"get", 2, "needs a SERIAL"},
            {"sweep SN100 --freq 100:200:3 --points 3", 2, "expected START:STOP"},
            {"set SN100 --freq 34.999", 1, "35-4400 MHz"}, {"set SN100 --freq 4400.001", 1, "35-4400 MHz"},
            {"set SN200 --freq 9.999", 1, "10-20 GHz"}, {"set SN200 --freq 20.001", 1, "10-20 GHz"},
            {"set SN100 --freq abc", 1, "--freq abc"}, {"set SN100 --power -90.01", 1, "-90 to 90 dBm"},
            {"set SN100 --power 90.01", 1, "-90 to 90 dBm"}, {"set SN100 --power minimum", 1, "--power minimum"},
            {"set SN100 --ref-freq 9", 1, "10 to 100 MHz"}, {"set SN100 --ref-freq 101", 1, "10 to 100 MHz"},
            {"set SN100 --ref-freq 50.5", 1, "10 to 100 MHz"}, {"set SN100 --divider 0", 1, "1 to 127"},
            {"set SN100 --divider 128", 1, "1 to 127"}, {"set SN100 --rf 1", 1, "on or off"},
            {"set SN100 --ref external", 1, "int or ext"}, {"set SN100 --pll integer", 1, "frac or int"},
            {"set SN100 --freq 2400 --rf on --power 91", 1, "-90 to 90 dBm"},
            {"set all --freq 4400", 1, "10-20 GHz of SN200"}, // suits the MHz model only: nothing goes to either
            {"sweep SN100 --freq 30:50:10", 1, "30 MHz"}, {"sweep SN100 --freq 4390:4410:10", 1, "4410 MHz"},
            {"sweep SN100 --freq 100:110:10 --dwell 9", 1, "--dwell 9"},
            {"sweep SN100 --list nothing.txt", 1, "nothing.txt"}};
        for (const auto &row : rows)
            QTest::newRow(*row.arguments ? row.arguments : "none") << none << words(row.arguments) << row.status << row.message << L();
        // Not found, not opened, a write failing inside the batch: what went before it went out, nothing after it.
        QTest::newRow("not found") << none << L{"get", "SN999"} << 3 << "USB resources found: " + Mhz << L();
        QTest::newRow("set, cannot open") << QByteArray(", \"faults\": {\"unplugAfter\": 1}") << L{"set", "SN100", "--rf", "on"} << 3
                                          << "Connection Error: Code -1073807343" << L();
        const QByteArray writeFails(", \"faults\": {\"writeStatus\": {\"POWE:SET -3\": -1073807298}}");
        const QString failedWrite("usbsynth-ctl: SN100: Write Error: Code -1073807298 at POWE:SET -3\n");
        QTest::newRow("set, write fails") << writeFails << L{"set", "SN100", "--freq", "100", "--power", "-3", "--rf", "on"} << 3
                                          << failedWrite << L{"FREQ:SET 100"};
        QTest::newRow("sweep, write fails") << writeFails << L{"sweep", "SN100", "--power", "-5:0:1", "--dwell", "10"} << 3
                                            << failedWrite << L{"POWE:SET -5", "POWE:SET -4"};
    }
    void failed()
    {
        QFETCH(QByteArray, fault);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QStringList, lines);
        sim.configure(bench(fault));
        const Result result = ctl(arguments);
        QCOMPARE(result.status, status);
        QVERIFY2((status == 0 ? result.out : result.err).contains(message), qPrintable(result.err));
        QCOMPARE(status == 0 ? sim.trace() : sent(Mhz), lines);
        QCOMPARE(sent(Ghz), L());
        QCOMPARE(sim.count('O', Mhz), sim.count('C', Mhz));
    }
    // Without a library the call says once what was tried, and sends nothing.
    void noLibrary()
    {
        const Result result = finish(start({QStringLiteral("get"), QStringLiteral("all")}, QStringLiteral("/nonexistent/visa.so")));
        QCOMPARE(result.status, 3);
        QCOMPARE(result.err.count(QLatin1String("No VISA library could be used; tried: /nonexistent/visa.so")), 1);
        QVERIFY2(result.err.startsWith(QLatin1String("usbsynth-ctl: no supported instrument found\nNo VISA library could be used")),
                 qPrintable(result.err));
        QCOMPARE(result.err.count(u'\n'), 2);
    }

    void sweep_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines");
        // Lines of the points, "|" between them.
        const char *const rows[][2] = {
            {"--freq 100:150:10 --dwell 60", "FREQ:SET 100|FREQ:SET 110|FREQ:SET 120|FREQ:SET 130|FREQ:SET 140|FREQ:SET 150"},
            {"--freq 2.4G:2.42G:10M --dwell 10", "FREQ:SET 2400|FREQ:SET 2410|FREQ:SET 2420"},
            {"--freq 100:120:10 --down --dwell 10", "FREQ:SET 120|FREQ:SET 110|FREQ:SET 100"},
            {"--freq 100:120:10 --up-down --dwell 10", "FREQ:SET 100|FREQ:SET 110|FREQ:SET 120|FREQ:SET 110|FREQ:SET 100"},
            {"--freq 40:4000 --points 3 --log --dwell 10", "FREQ:SET 40|FREQ:SET 400|FREQ:SET 4000"},
            {"--freq 100:200 --points 3 --dwell 10", "FREQ:SET 100|FREQ:SET 150|FREQ:SET 200"},
            {"--power -10:-9:0.5 --dwell 10", "POWE:SET -10|POWE:SET -9.5|POWE:SET -9"},
            {"--list points.txt --dwell 10", "FREQ:SET 1000|FREQ:SET 2000|POWE:SET -3"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << words(row[0]) << words(row[1], '|');
    }
    void sweep()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        QFile list(sim.path("points.txt"));
        QVERIFY(list.open(QIODevice::WriteOnly) && list.write("# a list\n1000\n\n2000,-3\n") > 0);
        list.close();
        const Result result = ctl(L{"sweep", "SN100"} + arguments);
        QCOMPARE(result.status, 0);
        QCOMPARE(result.err, QString()); // no progress unless standard error is a terminal
        QCOMPARE(sent(Mhz), lines);
        // One session per point besides the identification, each opened when
        // its point is due: a dwell after the one before, counted from the start.
        QList<qint64> opened;
        QFile trace(sim.path("trace.txt"));
        QVERIFY(trace.open(QIODevice::ReadOnly));
        for (const QByteArray &line : trace.readAll().split('\n')) {
            if (line.contains(" O " + Mhz.toLatin1()))
                opened << line.split(' ').first().toLongLong();
        }
        QCOMPARE(opened.size(), 1 + int(lines.size()) - int(arguments.contains("--list")));
        const int dwell = arguments.at(arguments.indexOf("--dwell") + 1).toInt();
        for (qsizetype i = 2; i < opened.size(); ++i)
            QVERIFY2(opened.at(i) - opened.at(1) >= dwell * (i - 1) - 1, qPrintable(QString::number(opened.at(i) - opened.at(1))));
    }

    void sweepSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGINT") << int(SIGINT) << 130;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
    }
    void sweepSignal()
    {
        QFETCH(int, signal);
        QFETCH(int, status);
        QProcess *process = start({"sweep", "SN100", "--freq", "100:200:10", "--repeat", "--dwell", "40"});
        QTRY_VERIFY_WITH_TIMEOUT(sent(Mhz).size() >= 3, 20000);
        ::kill(pid_t(process->processId()), signal);
        const Result result = finish(process);
        QCOMPARE(result.status, status);
        // Stopped after the point it was at: every point sent is counted.
        QVERIFY2(result.err.contains(QStringLiteral("Sweep stopped after %1 points").arg(sent(Mhz).size()))
                     && result.err.contains(QStringLiteral("Stopped at pass ")),
                 qPrintable(result.err));
        QCOMPARE(sim.count('O', Mhz), sim.count('C', Mhz));
    }

    void preset_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("descriptor");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines");
        const L lab{"POWE:RF 0", "FREQ:REF:EXT 0", "FREQ:REF:DIV 1", "FREQ:PLLM 0", "FREQ:SET 2400", "POWE:SET -5"};
        QTest::newRow("by name") << L{"apply", "SN100", "lab"} << Mhz << 0 << lab;
        QTest::newRow("RF on after") << L{"apply", "SN100", "lab", "--rf", "on"} << Mhz << 0 << lab + L{"POWE:RF 1"};
        QTest::newRow("GHz model, external reference")
            << L{"apply", "SN200", "ghz"} << Ghz << 0
            << L{"POWE:RF 0", "FREQ:REF:EXT 1", "FREQ:REF:FREQ 20", "FREQ:REF:DIV 2", "FREQ:PLLM 1", "FREQ:SET 12.5", "POWE:SET -10"};
        QTest::newRow("outside the model's range") << L{"apply", "SN100", "ghz"} << Mhz << 1 << L();
        QTest::newRow("unknown name") << L{"apply", "SN100", "none"} << Mhz << 1 << L();
        QTest::newRow("from a file") << L{"apply", "SN100", "one.json"} << Mhz << 0
                                     << L{"POWE:RF 0", "FREQ:REF:EXT 0", "FREQ:REF:DIV 3", "FREQ:PLLM 0", "FREQ:SET 35", "POWE:SET 0"};
    }
    void preset()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, descriptor);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        qputenv("XDG_DATA_HOME", sim.path("data").toLocal8Bit());
        const presets::Preset lab{"lab", 2400, -5, false, 10, 1, false, {}}, ghz{"ghz", 12500, -10, true, 20, 2, true, {}};
        QVERIFY(presets::writeFile(sim.path("data/usbsynth/presets.json"), {lab, ghz}).isEmpty());
        QVERIFY(presets::writeFile(sim.path("one.json"), {{"low", 35, 0, false, 10, 3, false, {}}}).isEmpty());
        QCOMPARE(ctl({"preset", "list"}).out, "lab\t" + presets::summary(lab) + "\nghz\t" + presets::summary(ghz) + "\n");
        const Result result = ctl(L{"preset"} + arguments);
        QCOMPARE(result.status, status);
        QCOMPARE(sent(descriptor), lines);
    }
};

QTEST_GUILESS_MAIN(tst_ctl)
#include "tst_ctl.moc"
