// usbsynth-ctl, the real program run against the simulated instruments:
// the exact lines on the wire, refusals that send nothing, readings and
// their absence, sweeps, signals and exit statuses.
#include "link/presets.h"
#include "simfixture.h"

#include <QProcess>

#include <csignal>

namespace {
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

    struct Result
    {
        int status = -1;
        QString out;
        QString err;
    };

    SimFixture sim;

    static QProcess *start(const QStringList &arguments)
    {
        auto *process = new QProcess;
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

    static bool validJson(const QString &text)
    {
        QProcess tool;
        tool.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("json.tool")});
        tool.write(text.toUtf8());
        tool.closeWriteChannel();
        return tool.waitForFinished(30000) && tool.exitCode() == 0;
    }

private slots:
    void init()
    {
        sim.configure(bench());
        sim.clearTrace();
    }

    void set_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("freq") << QStringList{"--freq", "2400"} << QStringList{"FREQ:SET 2400"};
        QTest::newRow("freq low end") << QStringList{"--freq", "35"} << QStringList{"FREQ:SET 35"};
        QTest::newRow("freq high end") << QStringList{"--freq=4400"} << QStringList{"FREQ:SET 4400"};
        QTest::newRow("freq fine") << QStringList{"--freq", "2400.123456"} << QStringList{"FREQ:SET 2400.123456"};
        QTest::newRow("freq with unit") << QStringList{"--freq", "2.4G"} << QStringList{"FREQ:SET 2400"};
        QTest::newRow("freq in kHz") << QStringList{"--freq", "35000k"} << QStringList{"FREQ:SET 35"};
        QTest::newRow("power") << QStringList{"--power", "-5"} << QStringList{"POWE:SET -5"};
        QTest::newRow("power with unit") << QStringList{"--power", "-5.5dBm"} << QStringList{"POWE:SET -5.5"};
        QTest::newRow("power low end") << QStringList{"--power", "-90"} << QStringList{"POWE:SET -90"};
        QTest::newRow("power high end") << QStringList{"--power", "90"} << QStringList{"POWE:SET 90"};
        QTest::newRow("power min") << QStringList{"--power", "min"} << QStringList{"POWE:SET MIN"};
        QTest::newRow("power max") << QStringList{"--power", "MAX"} << QStringList{"POWE:SET MAX"};
        QTest::newRow("rf on") << QStringList{"--rf", "on"} << QStringList{"POWE:RF 1"};
        QTest::newRow("rf off") << QStringList{"--rf", "off"} << QStringList{"POWE:RF 0"};
        QTest::newRow("ref int") << QStringList{"--ref", "int"} << QStringList{"FREQ:REF:EXT 0"};
        QTest::newRow("ref ext") << QStringList{"--ref", "ext"} << QStringList{"FREQ:REF:EXT 1"};
        QTest::newRow("ref-freq 10") << QStringList{"--ref-freq", "10"} << QStringList{"FREQ:REF:FREQ 10"};
        QTest::newRow("ref-freq 100") << QStringList{"--ref-freq", "100"} << QStringList{"FREQ:REF:FREQ 100"};
        QTest::newRow("divider 1") << QStringList{"--divider", "1"} << QStringList{"FREQ:REF:DIV 1"};
        QTest::newRow("divider 127") << QStringList{"--divider", "127"} << QStringList{"FREQ:REF:DIV 127"};
        QTest::newRow("pll frac") << QStringList{"--pll", "frac"} << QStringList{"FREQ:PLLM 0"};
        QTest::newRow("pll int") << QStringList{"--pll", "int"} << QStringList{"FREQ:PLLM 1"};
        // The documented order, whatever the order given.
        QTest::newRow("order, rf on last")
            << QStringList{"--rf", "on", "--power", "-3", "--freq", "100", "--pll", "int", "--divider", "4",
                           "--ref-freq", "20", "--ref", "ext"}
            << QStringList{"FREQ:REF:EXT 1", "FREQ:REF:FREQ 20", "FREQ:REF:DIV 4", "FREQ:PLLM 1",
                           "FREQ:SET 100", "POWE:SET -3", "POWE:RF 1"};
        QTest::newRow("order, rf off first") << QStringList{"--freq", "100", "--rf", "off"}
                                             << QStringList{"POWE:RF 0", "FREQ:SET 100"};
    }
    void set()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        const Result result = ctl(QStringList{"set", "SN100"} + arguments);
        QCOMPARE(result.err, QString());
        QCOMPARE(result.status, 0);
        QCOMPARE(sent(Mhz), lines);
        QCOMPARE(sim.writes(Ghz), QStringList());
        // One session for the identification, one for the batch.
        QCOMPARE(sim.count('O', Mhz), 2);
        QCOMPARE(sim.count('C', Mhz), 2);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("freq below MHz range") << "SN100" << QStringList{"--freq", "34.999"} << "35-4400 MHz";
        QTest::newRow("freq above MHz range") << "SN100" << QStringList{"--freq", "4400.001"} << "35-4400 MHz";
        QTest::newRow("freq below GHz range") << "SN200" << QStringList{"--freq", "9.999"} << "10-20 GHz";
        QTest::newRow("freq above GHz range") << "SN200" << QStringList{"--freq", "20.001"} << "10-20 GHz";
        QTest::newRow("freq not a number") << "SN100" << QStringList{"--freq", "abc"} << "--freq abc";
        QTest::newRow("freq with unit above GHz range") << "SN200" << QStringList{"--freq", "20001M"} << "10-20 GHz";
        QTest::newRow("power below") << "SN100" << QStringList{"--power", "-90.01"} << "-90 to 90 dBm";
        QTest::newRow("power above") << "SN100" << QStringList{"--power", "90.01"} << "-90 to 90 dBm";
        QTest::newRow("power word") << "SN100" << QStringList{"--power", "minimum"} << "--power minimum";
        QTest::newRow("ref-freq 9") << "SN100" << QStringList{"--ref-freq", "9"} << "10 to 100 MHz";
        QTest::newRow("ref-freq 101") << "SN100" << QStringList{"--ref-freq", "101"} << "10 to 100 MHz";
        QTest::newRow("ref-freq decimal") << "SN100" << QStringList{"--ref-freq", "50.5"} << "10 to 100 MHz";
        QTest::newRow("divider 0") << "SN100" << QStringList{"--divider", "0"} << "1 to 127";
        QTest::newRow("divider 128") << "SN100" << QStringList{"--divider", "128"} << "1 to 127";
        QTest::newRow("rf") << "SN100" << QStringList{"--rf", "1"} << "on or off";
        QTest::newRow("ref") << "SN100" << QStringList{"--ref", "external"} << "int or ext";
        QTest::newRow("pll") << "SN100" << QStringList{"--pll", "integer"} << "frac or int";
        QTest::newRow("one bad among good")
            << "SN100" << QStringList{"--freq", "2400", "--rf", "on", "--power", "91"} << "-90 to 90 dBm";
        // 4400 suits the MHz model only: nothing goes to either.
        QTest::newRow("all, one model refuses") << "all" << QStringList{"--freq", "4400"} << "10-20 GHz of SN200";
    }
    void refused()
    {
        QFETCH(QString, serial);
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        const Result result = ctl(QStringList{"set", serial} + arguments);
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(named), qPrintable(result.err));
        QCOMPARE(sent(Mhz), QStringList());
        QCOMPARE(sent(Ghz), QStringList());
    }

    void setAll()
    {
        const Result result = ctl({"set", "all", "--rf", "off", "--freq", "15"});
        QCOMPARE(result.status, 1); // 15 MHz is below the MHz model's range
        QCOMPARE(ctl({"set", "all", "--rf", "off", "--power", "-7.5"}).status, 0);
        QCOMPARE(sent(Mhz), (QStringList{"POWE:RF 0", "POWE:SET -7.5"}));
        QCOMPARE(sent(Ghz), (QStringList{"POWE:RF 0", "POWE:SET -7.5"}));
    }

    void get_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::addColumn<int>("status");
        const QStringList all{"frequency", "actualFrequency", "locked", "power", "powerStatus", "rf", "reference",
                              "referenceFrequency", "divider", "pll"};
        QTest::newRow("MHz model, no sensor") << "SN100" << QByteArray() << all << QStringList{"temperature", "error"} << 0;
        QTest::newRow("GHz model") << "SN200" << QByteArray() << all + QStringList{"temperature"}
                                   << QStringList{"error"} << 0;
        QTest::newRow("lock read fails")
            << "SN100" << QByteArray(", \"faults\": {\"readStatus\": {\"FREQ:LOCK?\": -1073807339}}")
            << QStringList{"rf", "reference", "referenceFrequency", "divider", "pll", "error"}
            << QStringList{"locked", "power", "frequency", "actualFrequency"} << 3;
        QTest::newRow("lock reply 2") << "SN100" << QByteArray(", \"replies\": {\"FREQ:LOCK?\": \"2\"}")
                                      << QStringList{"divider", "error"} << QStringList{"locked", "power"} << 3;
        QTest::newRow("power out of range") << "SN100" << QByteArray(", \"replies\": {\"POWE:SET?\": \"-90.5\"}")
                                            << QStringList{"locked", "error"}
                                            << QStringList{"power", "powerStatus", "frequency"} << 3;
        QTest::newRow("temperature not a number")
            << "SN200" << QByteArray(", \"replies\": {\"SYST:TEMP?\": \"hot\"}") << all + QStringList{"error"}
            << QStringList{"temperature"} << 3;
        QTest::newRow("first reply unreadable")
            << "SN100" << QByteArray(", \"replies\": {\"FREQ:REF:EXT?\": \"x\"}") << QStringList{"serial", "error"}
            << all << 3;
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
        QVERIFY(validJson(result.out));
        const QJsonObject object = QJsonDocument::fromJson(result.out.toUtf8()).object();
        QCOMPARE(object.value("serial").toString(), serial);
        for (const QString &key : present)
            QVERIFY2(object.contains(key), qPrintable(key));
        for (const QString &key : absent)
            QVERIFY2(!object.contains(key), qPrintable(key));
        if (status != 0)
            QVERIFY2(result.err.contains(object.value("error").toString()), qPrintable(result.err));
        QCOMPARE(sent(serial == "SN100" ? Mhz : Ghz).filter(QRegularExpression("[^?]$")), QStringList());
    }

    void getValues()
    {
        sim.configure(bench({}, ", \"state\": {\"frequency\": 12.5, \"power\": -30, \"powerLevel\": \"MIN\", "
                                "\"rf\": false, \"refExternal\": true, \"refFrequency\": 100, \"refDivider\": 127, "
                                "\"pllMode\": 1, \"locked\": false, \"temperature\": 40.5}"));
        const Result json = ctl({"get", "SN200", "--json"});
        QCOMPARE(json.status, 0);
        const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(o.value("frequency").toDouble(), 12.5);
        QCOMPARE(o.value("actualFrequency").toString(), QString("12.500000"));
        QCOMPARE(o.value("locked").toBool(true), false);
        QCOMPARE(o.value("power").toDouble(), -30.0);
        QCOMPARE(o.value("powerStatus").toString(), QString("off"));
        QCOMPARE(o.value("rf").toBool(true), false);
        QCOMPARE(o.value("reference").toString(), QString("external"));
        QCOMPARE(o.value("referenceFrequency").toInt(), 100);
        QCOMPARE(o.value("divider").toInt(), 127);
        QCOMPARE(o.value("pll").toString(), QString("int"));
        QCOMPARE(o.value("temperature").toDouble(), 40.5);
        const Result text = ctl({"get", "SN200"});
        QCOMPARE(text.status, 0);
        QVERIFY2(text.out.contains("\nfrequency: 12.500000 GHz\n"), qPrintable(text.out));
        QVERIFY2(text.out.contains("\ntemperature: 40.50 C\n"), qPrintable(text.out));
    }

    void getAllAndList()
    {
        const Result all = ctl({"get", "all", "--json"});
        QCOMPARE(all.status, 0);
        QVERIFY(validJson(all.out));
        const QJsonArray array = QJsonDocument::fromJson(all.out.toUtf8()).array();
        QCOMPARE(array.size(), 2);
        QCOMPARE(array.at(0).toObject().value("serial").toString(), QString("SN100"));
        QCOMPARE(array.at(1).toObject().value("serial").toString(), QString("SN200"));

        const Result list = ctl({"list"});
        QCOMPARE(list.status, 0);
        QCOMPARE(list.out, "SN100\t774-4400\tV4.1.0\t35-4400 MHz\t" + Mhz + "\nSN200\tVX27H774-20\tV3.2.0\t10-20 GHz\t"
                               + Ghz + "\n");
        const Result json = ctl({"list", "--json"});
        QVERIFY(validJson(json.out));
        const QJsonObject ghz = QJsonDocument::fromJson(json.out.toUtf8()).array().at(1).toObject();
        QCOMPARE(ghz.value("maxFrequency").toDouble(), 20.0);
        QCOMPARE(ghz.value("unit").toString(), QString("GHz"));
        QCOMPARE(ghz.value("resource").toString(), Ghz);
        // The power sensor is outside the product-id range: never opened.
        QCOMPARE(sim.count('O', "USB0::0x3A7C::0x0030::PM300::INSTR"), 0);
    }

    void exitStatus_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << bench() << QStringList{} << 2 << "Usage: usbsynth-ctl COMMAND";
        QTest::newRow("unknown command") << bench() << QStringList{"frob"} << 2 << "unknown command";
        QTest::newRow("unknown option") << bench() << QStringList{"set", "SN100", "--volume", "11"} << 2
                                        << "unknown option";
        QTest::newRow("missing value") << bench() << QStringList{"set", "SN100", "--freq"} << 2 << "needs a value";
        QTest::newRow("twice") << bench() << QStringList{"set", "SN100", "--rf", "on", "--rf", "off"} << 2
                               << "given twice";
        QTest::newRow("no setting") << bench() << QStringList{"set", "SN100"} << 2 << "at least one setting";
        QTest::newRow("no serial") << bench() << QStringList{"get"} << 2 << "needs a SERIAL";
        QTest::newRow("not found") << bench() << QStringList{"get", "SN999"} << 3 << "USB resources found: " + Mhz;
        QTest::newRow("set, cannot open")
            << bench(", \"faults\": {\"unplugAfter\": 1}") << QStringList{"set", "SN100", "--rf", "on"} << 3
            << "Connection Error: Code -1073807343";
        QTest::newRow("help") << bench() << QStringList{"--help"} << 0 << "";
    }
    void exitStatus()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        sim.configure(config);
        const Result result = ctl(arguments);
        QCOMPARE(result.status, status);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    }

    void writeFails_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines");
        // POWE:SET -3 fails: what came before it went out, nothing after it.
        QTest::newRow("set") << QStringList{"set", "SN100", "--freq", "100", "--power", "-3", "--rf", "on"}
                             << QStringList{"FREQ:SET 100"};
        QTest::newRow("sweep") << QStringList{"sweep", "SN100", "--power", "-5:0:1", "--dwell", "10"}
                               << QStringList{"POWE:SET -5", "POWE:SET -4"};
    }
    void writeFails()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        sim.configure(bench(", \"faults\": {\"writeStatus\": {\"POWE:SET -3\": -1073807298}}"));
        const Result result = ctl(arguments);
        QCOMPARE(result.status, 3);
        QVERIFY2(result.err.startsWith("usbsynth-ctl: SN100: Write Error: Code -1073807298 at POWE:SET -3\n"),
                 qPrintable(result.err));
        QCOMPARE(sent(Mhz), lines);
        QCOMPARE(sim.count('O', Mhz), sim.count('C', Mhz));
    }

    void help_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("usage");
        for (const char *command : {"list", "get", "set", "sweep", "preset"}) {
            QTest::newRow(command) << QStringList{command, "--help"} << QStringLiteral("Usage: usbsynth-ctl %1").arg(command);
            QTest::addRow("help %s", command) << QStringList{"help", command} << QStringLiteral("Usage: usbsynth-ctl %1").arg(command);
        }
    }
    void help()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, usage);
        const Result result = ctl(arguments);
        QCOMPARE(result.status, 0);
        QVERIFY2(result.out.startsWith(usage), qPrintable(result.out));
        QCOMPARE(sim.trace(), QStringList());
    }

    void sweep_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("freq step") << QStringList{"--freq", "100:130:10", "--dwell", "20"}
                                   << QStringList{"FREQ:SET 100", "FREQ:SET 110", "FREQ:SET 120", "FREQ:SET 130"};
        QTest::newRow("freq with units") << QStringList{"--freq", "2.4G:2.42G:10M", "--dwell", "10"}
                                         << QStringList{"FREQ:SET 2400", "FREQ:SET 2410", "FREQ:SET 2420"};
        QTest::newRow("freq down") << QStringList{"--freq", "100:120:10", "--down", "--dwell", "10"}
                                   << QStringList{"FREQ:SET 120", "FREQ:SET 110", "FREQ:SET 100"};
        QTest::newRow("freq up-down") << QStringList{"--freq", "100:120:10", "--up-down", "--dwell", "10"}
                                      << QStringList{"FREQ:SET 100", "FREQ:SET 110", "FREQ:SET 120", "FREQ:SET 110",
                                                     "FREQ:SET 100"};
        QTest::newRow("points with a step") << QStringList{"--freq", "100:10000:3", "--points", "3"} << QStringList();
        QTest::newRow("freq log") << QStringList{"--freq", "40:4000", "--points", "3", "--log", "--dwell", "10"}
                                  << QStringList{"FREQ:SET 40", "FREQ:SET 400", "FREQ:SET 4000"};
        QTest::newRow("freq points") << QStringList{"--freq", "100:200", "--points", "3", "--dwell", "10"}
                                     << QStringList{"FREQ:SET 100", "FREQ:SET 150", "FREQ:SET 200"};
        QTest::newRow("power") << QStringList{"--power", "-10:-9:0.5", "--dwell", "10"}
                               << QStringList{"POWE:SET -10", "POWE:SET -9.5", "POWE:SET -9"};
        QTest::newRow("list") << QStringList{"--list", "points.txt", "--dwell", "10"}
                              << QStringList{"FREQ:SET 1000", "FREQ:SET 2000", "POWE:SET -3"};
    }
    void sweep()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        QFile list(sim.path("points.txt"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("# a list\n1000\n\n2000,-3\n");
        list.close();
        const Result result = ctl(QStringList{"sweep", "SN100"} + arguments);
        if (lines.isEmpty()) { // a usage error: three operands given to --points
            QCOMPARE(result.status, 2);
            QCOMPARE(sent(Mhz), QStringList());
            return;
        }
        QCOMPARE(result.status, 0);
        QCOMPARE(result.err, QString()); // no progress unless standard error is a terminal
        QCOMPARE(sent(Mhz), lines);
        // One session per point besides the identification.
        QCOMPARE(sim.count('O', Mhz), 1 + int(lines.size()) - int(arguments.contains("--list")));
    }

    void sweepPacing()
    {
        const Result result = ctl({"sweep", "SN100", "--freq", "100:150:10", "--dwell", "60"});
        QCOMPARE(result.status, 0);
        QList<qint64> times;
        const QString prefix = " W " + Mhz + " FREQ:SET";
        QFile trace(sim.path("trace.txt"));
        QVERIFY(trace.open(QIODevice::ReadOnly));
        for (const QString &line : QString::fromUtf8(trace.readAll()).split('\n')) {
            if (line.contains(prefix))
                times << line.section(' ', 0, 0).toLongLong();
        }
        QCOMPARE(times.size(), 6);
        // Each point is due 60 ms after the one before, counted from the start.
        for (int i = 1; i < times.size(); ++i)
            QVERIFY2(times.at(i) - times.first() >= 60 * i - 1, qPrintable(QString::number(times.at(i) - times.first())));
    }

    void sweepRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("below range") << QStringList{"--freq", "30:50:10"} << "30 MHz";
        QTest::newRow("above range") << QStringList{"--freq", "4390:4410:10"} << "4410 MHz";
        QTest::newRow("power above") << QStringList{"--power", "89:91:1"} << "91 dBm";
        QTest::newRow("dwell below 10") << QStringList{"--freq", "100:110:10", "--dwell", "9"} << "--dwell 9";
        QTest::newRow("missing list") << QStringList{"--list", "nothing.txt"} << "nothing.txt";
    }
    void sweepRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Result result = ctl(QStringList{"sweep", "SN100"} + arguments);
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QCOMPARE(sent(Mhz), QStringList());
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
        const qsizetype points = sent(Mhz).size();
        QVERIFY2(result.err.contains(QStringLiteral("Sweep stopped after %1 points").arg(points)), qPrintable(result.err));
        QVERIFY2(result.err.contains(QStringLiteral("Stopped at pass ")), qPrintable(result.err));
        QCOMPARE(sim.count('O', Mhz), sim.count('C', Mhz));
    }

    void preset_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("descriptor");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines");
        const QStringList lab{"POWE:RF 0", "FREQ:REF:EXT 0", "FREQ:REF:DIV 1", "FREQ:PLLM 0", "FREQ:SET 2400",
                              "POWE:SET -5"};
        QTest::newRow("by name") << QStringList{"apply", "SN100", "lab"} << Mhz << 0 << lab;
        QTest::newRow("RF on after") << QStringList{"apply", "SN100", "lab", "--rf", "on"} << Mhz << 0
                                     << lab + QStringList{"POWE:RF 1"};
        QTest::newRow("GHz model, external reference")
            << QStringList{"apply", "SN200", "ghz"} << Ghz << 0
            << QStringList{"POWE:RF 0", "FREQ:REF:EXT 1", "FREQ:REF:FREQ 20", "FREQ:REF:DIV 2", "FREQ:PLLM 1",
                           "FREQ:SET 12.5", "POWE:SET -10"};
        QTest::newRow("outside the model's range") << QStringList{"apply", "SN100", "ghz"} << Mhz << 1 << QStringList();
        QTest::newRow("unknown name") << QStringList{"apply", "SN100", "none"} << Mhz << 1 << QStringList();
        QTest::newRow("from a file") << QStringList{"apply", "SN100", "one.json"} << Mhz << 0
                                     << QStringList{"POWE:RF 0", "FREQ:REF:EXT 0", "FREQ:REF:DIV 3", "FREQ:PLLM 0",
                                                    "FREQ:SET 35", "POWE:SET 0"};
    }
    void preset()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, descriptor);
        QFETCH(int, status);
        QFETCH(QStringList, lines);
        qputenv("XDG_DATA_HOME", sim.path("data").toLocal8Bit());
        presets::Preset lab{"lab", 2400, -5, false, 10, 1, false, {}};
        presets::Preset ghz{"ghz", 12500, -10, true, 20, 2, true, {}};
        presets::Preset low{"low", 35, 0, false, 10, 3, false, {}};
        QVERIFY(presets::writeFile(sim.path("data/usbsynth/presets.json"), {lab, ghz}).isEmpty());
        QVERIFY(presets::writeFile(sim.path("one.json"), {low}).isEmpty());
        const Result list = ctl({"preset", "list"});
        QCOMPARE(list.out, "lab\t" + presets::summary(lab) + "\nghz\t" + presets::summary(ghz) + "\n");
        const Result result = ctl(QStringList{"preset"} + arguments);
        QCOMPARE(result.status, status);
        QCOMPARE(sent(descriptor), lines);
    }
};

QTEST_GUILESS_MAIN(tst_ctl)
#include "tst_ctl.moc"
