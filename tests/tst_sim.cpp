// The simulated instruments, driven through their VISA entry points exactly
// as a client program loads and calls them.
#include "link/visadefs.h"
#include "simfixture.h"

#include <QElapsedTimer>
#include <QLibrary>

#define SIM_FUNCTIONS(X) \
    X(OpenDefaultRM) X(FindRsrc) X(FindNext) X(Open) X(Close) X(Read) X(Write) X(ParseRsrcEx) \
    X(StatusDesc)

#define SIM_RESOLVE(name) QVERIFY(visa.name = reinterpret_cast<Vi##name##Fn>(library.resolve("vi" #name)));

namespace {

// The entry points, resolved by name as any VISA client does.
struct Visa
{
#define SIM_DECLARE(name) Vi##name##Fn name = nullptr;
    SIM_FUNCTIONS(SIM_DECLARE)
};

// A bench of instruments named by their serial numbers, each with the keys
// given, e.g. {"A1", R"("faults": {"timeoutMs": 50})"}.
QByteArray bench(const QList<QPair<QByteArray, QByteArray>> &instruments, const QByteArray &productId = "0x000F")
{
    QByteArrayList entries;
    for (const auto &[serial, extra] : instruments)
        entries << R"({"resource": "USB0::0x3A7C::)" + productId + "::" + serial + R"(::INSTR", "idn": "Quorvex Electronics,774-6000,)" + serial
                       + R"(,V4.0.0")" + (extra.isEmpty() ? "" : ", " + extra) + "}";
    return R"({"resources": [)" + entries.join(", ") + "]}";
}

QByteArray statusName(ViStatus status)
{
    static const QHash<ViStatus, QByteArray> names = {
        {VI_SUCCESS, ""}, {VI_ERROR_TMO, "!TMO"}, {VI_ERROR_IO, "!IO"}, {VI_ERROR_CONN_LOST, "!CONN_LOST"},
        {VI_ERROR_RSRC_NFOUND, "!NFOUND"}, {VI_ERROR_RSRC_BUSY, "!BUSY"}, {VI_ERROR_INV_RSRC_NAME, "!INV_RSRC_NAME"},
        {VI_ERROR_INV_EXPR, "!INV_EXPR"}};
    return names.value(status, "!0x" + QByteArray::number(uint(status), 16));
}

} // namespace

class SimTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        library.setFileName(qEnvironmentVariable("USBSYNTH_VISA_LIBRARY"));
        QVERIFY2(library.load(), qPrintable(library.errorString()));
        SIM_FUNCTIONS(SIM_RESOLVE)
        sim.configure(R"({"resources": []})");
    }

    void init()
    {
        sim.clearTrace();
        QCOMPARE(visa.OpenDefaultRM(&rm), VI_SUCCESS);
    }

    void cleanup() { visa.Close(rm); }
    void script_data(); // defined below the class: its raw strings hold braces moc would count

    // Each step is one of
    //   open NAME              opens NAME, which takes the lines from then on
    //   find EXPRESSION        searches
    //   parse NAME             parses NAME: interface type and number, class, full name
    //   part LINE              writes the line and reads the first 5 bytes of the reply
    //   config JSON            replaces the configuration
    //   write JSON, remove     rewrites the file in place, removes it
    //   LINE                   writes the line
    // with " = RESULT" for the expected outcome: the reply to the line, the names
    // found, or a failure status such as "!TMO"; " @MIN-MAX" bounds its time in ms
    // (without it, a step must end before the default 2 s timeout).
    void script()
    {
        QFETCH(QByteArray, config);
        QFETCH(QByteArrayList, steps);
        QByteArray none;
        sim.configure(R"({"resources": []})"); // every row starts with new instruments
        find("?*", &none);
        sim.configure(config);
        ViSession session = VI_NULL;
        for (QByteArray step : steps) {
            const qsizetype at = step.lastIndexOf(" @"), equals = step.indexOf(" = ");
            const QByteArrayList bounds = at < 0 ? QByteArrayList{"0", "1900"} : step.mid(at + 2).split('-');
            step.truncate(at < 0 ? step.size() : at);
            const QByteArray action = step.left(equals < 0 ? step.size() : equals), expected = equals < 0 ? "" : step.mid(equals + 3);
            QElapsedTimer timer;
            timer.start();
            QByteArray result;
            if (action.startsWith("open ")) {
                session = 1234;
                result = statusName(visa.Open(rm, action.mid(5).constData(), VI_NULL, 0, &session));
                result += result.isEmpty() == (session == VI_NULL) ? " <session>" : "";
            } else if (action.startsWith("find ")) {
                const ViStatus status = find(action.mid(5), &result);
                result = status == VI_SUCCESS ? result : statusName(status) + result;
            } else if (action.startsWith("parse ")) { // as PyVISA asks before it opens a name
                ViUInt16 type = 0, board = 0;
                ViChar cls[VI_FIND_BUFLEN] = {}, full[VI_FIND_BUFLEN] = {}, alias[VI_FIND_BUFLEN] = {'?', 0};
                const ViStatus status = visa.ParseRsrcEx(rm, action.mid(6).constData(), &type, &board, cls, full, alias);
                result = status ? statusName(status) : QByteArray::number(type) + ' ' + QByteArray::number(board) + ' ' + cls + ' ' + full + alias;
            } else if (action.startsWith("part ")) {
                ViByte part[5];
                ViUInt32 count = 0;
                const ViStatus status = send(session, action.mid(5)) ? VI_ERROR_IO : visa.Read(session, part, sizeof part, &count);
                result = status == VI_SUCCESS_MAX_CNT ? QByteArray(reinterpret_cast<char *>(part), count) : statusName(status);
            } else if (action.startsWith("config ")) {
                sim.configure(action.mid(7));
            } else if (action.startsWith("write ") || action == "remove") {
                QFile file(sim.path("sim.json"));
                QVERIFY(action == "remove" ? file.remove() : file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(action.mid(6)) > 0);
            } else if (equals < 0) {
                result = statusName(send(session, action));
            } else {
                const ViStatus status = query(session, action, &result);
                result = status == VI_SUCCESS ? result : statusName(status);
            }
            QVERIFY2(result == expected, qPrintable(QStringLiteral("%1: \"%2\"").arg(step, result)));
            QVERIFY2(timer.elapsed() >= bounds.at(0).toInt() && timer.elapsed() < bounds.at(1).toInt(), step.constData());
        }
    }

    // Each line written is traced once, each reply once however many reads it
    // takes, failed opens by name.
    void traceFormat()
    {
        sim.configure(bench({{"T1", R"("replies": {"TWO?": "first\n)" + QByteArray(300, 'x') + R"("}, "faults": {"timeoutMs": 50})"},
                             {"T2", R"("faults": {"openStatus": -1073807246})"}}));
        ViSession session = VI_NULL, failed = VI_NULL;
        QCOMPARE(visa.Open(rm, "usb0::0x3A7C::15::T1::0::INSTR", VI_NULL, 0, &session), VI_SUCCESS);
        for (const char *name : {"USB0::0x3A7C::0x000F::T2::INSTR", "USB0::0x3A7C::0x000F::NOSUCH::INSTR"})
            QVERIFY(visa.Open(rm, name, VI_NULL, 0, &failed) < VI_SUCCESS);
        QByteArray reply;
        for (const char *line : {"*IDN?\r\n", "SYST:TEMPTHRES 40\nSYST:TEMPTHRES?\n", "TWO?"})
            QCOMPARE(query(session, line, &reply), VI_SUCCESS);
        QCOMPARE(query(session, "NO:SUCH?", &reply), VI_ERROR_TMO);
        QCOMPARE(visa.Close(session), VI_SUCCESS);
        QCOMPARE(visa.Close(rm), VI_SUCCESS);
        const QString t1 = " USB0::0x3A7C::0x000F::T1::INSTR";
        QCOMPARE(sim.trace(), QStringList({"O DefaultRM", "O" + t1, "F USB0::0x3A7C::0x000F::T2::INSTR", "F USB0::0x3A7C::0x000F::NOSUCH::INSTR",
            "W" + t1 + " *IDN?", "R" + t1 + " Quorvex Electronics,774-6000,T1,V4.0.0", "W" + t1 + " SYST:TEMPTHRES 40\\nSYST:TEMPTHRES?",
            "R" + t1 + " 40", "W" + t1 + " TWO?", "R" + t1 + " first\\n" + QString(300, 'x'), "W" + t1 + " NO:SUCH?", "C" + t1, "C DefaultRM"}));
    }

    // Stale and unknown handles fail; closing a manager closes what it opened.
    void handles()
    {
        const char *name = "USB0::0x3A7C::0x000F::QX1::INSTR";
        sim.configure(bench({{"QX1", ""}}));
        QCOMPARE(visa.Close(VI_NULL), VI_WARN_NULL_OBJECT);
        QCOMPARE(visa.Close(0x7FFFFFF0), VI_ERROR_INV_OBJECT);
        ViSession stale = VI_NULL, fresh = VI_NULL;
        QCOMPARE(visa.Open(rm, name, VI_NULL, 0, &stale), VI_SUCCESS);
        QCOMPARE(visa.Close(stale), VI_SUCCESS);
        QCOMPARE(visa.Open(rm, name, VI_NULL, 0, &fresh), VI_SUCCESS);
        QVERIFY(fresh != stale);
        QCOMPARE(send(stale, "*IDN?"), VI_ERROR_INV_OBJECT);
        ViFindList list = VI_NULL;
        ViUInt32 count = 0;
        ViChar text[VI_FIND_BUFLEN];
        QCOMPARE(visa.FindRsrc(rm, "?*", &list, &count, text), VI_SUCCESS);
        QCOMPARE(visa.Write(fresh, nullptr, 5, &count), VI_ERROR_USER_BUF);
        QCOMPARE(visa.StatusDesc(rm, ViStatus(0xBFFF0ABC), text), VI_WARN_UNKNOWN_STATUS);
        QCOMPARE(visa.Close(rm), VI_SUCCESS);
        QCOMPARE(send(fresh, "*IDN?"), VI_ERROR_INV_OBJECT);
        QCOMPARE(visa.FindNext(list, text), VI_ERROR_INV_OBJECT);
        QCOMPARE(visa.Close(rm), VI_ERROR_INV_OBJECT);
    }

private:
    ViStatus send(ViSession session, QByteArray line)
    {
        line += line.endsWith('\n') ? "" : "\n";
        ViUInt32 written = 0;
        const ViStatus status = visa.Write(session, reinterpret_cast<const ViByte *>(line.constData()), ViUInt32(line.size()), &written);
        return status == VI_SUCCESS && written != ViUInt32(line.size()) ? VI_ERROR_IO : status;
    }

    // Writes the line and reads the whole reply in 256-byte chunks; the status is
    // the last read's.
    ViStatus query(ViSession session, const QByteArray &line, QByteArray *reply)
    {
        reply->clear();
        ViStatus status = send(session, line);
        ViByte buffer[256];
        ViUInt32 count = 0;
        while (status >= VI_SUCCESS && (status = visa.Read(session, buffer, sizeof buffer, &count)) >= VI_SUCCESS) {
            reply->append(reinterpret_cast<const char *>(buffer), qsizetype(count));
            if (status != VI_SUCCESS_MAX_CNT)
                break;
        }
        return status;
    }

    // The names found, space-separated, with the match count checked against
    // the list; a failed search must leave no list and a count of 0.
    ViStatus find(const QByteArray &expression, QByteArray *names)
    {
        ViFindList list = 77;
        ViUInt32 count = 99;
        ViChar name[VI_FIND_BUFLEN];
        const ViStatus status = visa.FindRsrc(rm, expression.constData(), &list, &count, name);
        *names = status != VI_SUCCESS ? QByteArray(count || list ? "<count or list set>" : "") : QByteArray(name);
        for (ViUInt32 found = 1; status == VI_SUCCESS && visa.FindNext(list, name) == VI_SUCCESS; ++found)
            *names += ' ' + QByteArray(name) + (found >= count ? " <beyond the count>" : "");
        visa.Close(list);
        return status;
    }


    Visa visa;
    QLibrary library;
    SimFixture sim;
    ViSession rm = VI_NULL;
};

void SimTest::script_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArrayList>("steps");
    const auto row = [](const char *name, const QByteArray &config, const QByteArrayList &steps) {
        QTest::newRow(name) << config << steps;
    };
    // An instrument of each range; each setting is first moved off its
    // default, so that an ignored command cannot pass.
    const QByteArray two = R"({"resources": [{"resource": "USB0::0x3A7C::0x0014::M::INSTR", "idn": "Q,774-6000,M,V4",
        "state": {"frequency": 1000, "temperature": 28.5}},
        {"resource": "USB0::0x3A7C::0x0011::G::INSTR", "idn": "Q,VX27H774-20,G,V4", "state": {"frequency": 15}}]})";
    const auto on = [&](const char *name, const QByteArray &model, const QByteArrayList &steps) {
        row(name, two, QByteArrayList{"open USB0::0x3A7C::" + model + "::INSTR"} + steps);
    };
    on("MHz frequency", "0x0014::M", {"FREQ:SET 2200.5", "FREQ:SET? = 2200.5\n", "FREQ:SET 1234.56789", "FREQ:SET? = 1234.568\n",
        "FREQ:SET 100", "FREQ:SET 24.9", "FREQ:SET 2.2GHz", "FREQ:SET? = 100\n", "FREQ:SET 5999.9", "FREQ:RETACT? = 5999.900\n"});
    on("GHz range", "0x0011::G", {"FREQ:SET 20", "FREQ:SET 7500", "FREQ:SET? = 20\n", "FREQ:SET 12.3456789", "FREQ:RETACT? = 12.345679\n"});
    on("power, RF", "0x0014::M", {"POWE:SET -2.50", "POWE:SET? = -2.5\n", "POWE:SET 50", "POWE:SET? = 10\n", "POWE:SET MAX",
        "POWE:SET? = 10 MAX\n", "POWE:SET MIN", "POWE:RF 0", "POWE:SET? = OFF,-30 MIN\n", "POWE:RF? = 0\n", "POWE:RF 1", "POWE:RF? = 1\n"});
    on("reference, PLL, lock", "0x0011::G",
       {"FREQ:REF:EXT 1", "FREQ:REF:EXT? = 1\n", "FREQ:REF:EXT 0", "FREQ:REF:EXT? = 0\n", "FREQ:REF:FREQ 50", "FREQ:REF:FREQ 101",
        "FREQ:REF:FREQ? = 50\n", "FREQ:REF:DIV 127", "FREQ:REF:DIV 128", "FREQ:REF:DIV? = 127\n", "FREQ:PLLM 1", "FREQ:PLLM? = 1\n",
        "FREQ:PLLM 0", "FREQ:PLLM? = 0\n", "FREQ:LOCK? = 1\n"});
    on("system", "0x0014::M", {"*IDN? = Q,774-6000,M,V4\n", "SYST:TEMP? = 28.50\n", "SYST:TEMPTHRES 45.5", "SYST:TEMPTHRES? = 45.5\n",
                               "SYST:BOOTSTATE 3", "SYST:BOOTSTATE 6", "SYST:BOOTSTATE? = 3\n"});
    on("any case, CR LF, unknown", "0x0014::M", {"freq:set 3000\r\n", "FREQ:BOGUS 1", "freq:set?\r\n = 3000\n"});
    // Six states of eight fields from the configuration; saving stores the
    // live settings in a slot other than 0, loading brings them back.
    const QByteArray f = "1,26.5,4,0,10,0,-3,1;", stored = f + "1,24.25,4,0,10,2,10,0;1,26.5,4,1,100,0,-3,1;" + f + f;
    row("stored states", bench({{"S1", R"("state": {"frequency": 26.5, "power": -3, "pllMode": 1, "refDivider": 4,
            "storedStates": [{}, {"frequency": 24.25, "powerLevel": "MAX", "rf": false},
                             {"refExternal": true, "refFrequency": 100}]})"}}, "0x0013"),
        {"open USB0::0x3A7C::0x0013::S1::INSTR", "SYST:READSTATE? = " + stored + f.chopped(1) + '\n', "FREQ:PLLM 0",
         "FREQ:SET 24.123457", "FREQ:REF:DIV 127", "FREQ:REF:EXT 1", "FREQ:REF:FREQ 50", "POWE:SET -29.99", "POWE:RF 0",
         "SYST:SAVESTATE 5", "SYST:SAVESTATE 0", "SYST:READSTATE? = " + stored + "0,24.123457,127,1,50,0,-29.99,0\n",
         "SYST:LOADSTATE 0", "FREQ:SET? = 26.5\n", "POWE:SET? = -3\n", "SYST:LOADSTATE 5", "POWE:SET? = OFF,-29.99\n"});
    // Faults.
    const QByteArray f1 = "USB0::0x3A7C::0x000F::F1::INSTR", f2 = "USB0::0x3A7C::0x000F::F2::INSTR";
    row("read status", bench({{"F1", R"("faults": {"readStatus": {"FREQ:SET?": -1073807298, "NOREPLY?": -1073807194}})"}}),
        {"open " + f1, "freq:set? = !IO", "NOREPLY? = !CONN_LOST", "POWE:RF? = 1\n"});
    row("fixed replies", bench({{"F1", R"("replies": {"FREQ:SET?": "0", "Model:Name?": "custom",
                                                      "RAW?": {"text": "bare", "lineFeed": false}})"}}),
        {"open " + f1, "FREQ:SET 100", "FREQ:SET? = 0\n", "MODEL:NAME? = custom\n", "RAW? = bare"});
    // Longer than a read: in pieces; unread or partly read, dropped by the next write.
    row("long reply", bench({{"F1", R"("replies": {"BIG?": ")" + QByteArray(1000, 'x') + "\"}"}}),
        {"open " + f1, "BIG? = " + QByteArray(1000, 'x') + '\n', "BIG?", "*IDN? = Quorvex Electronics,774-6000,F1,V4.0.0\n",
         "part *IDN? = Quorv", "FREQ:SET? = 2217.5\n"});
    row("timeout", bench({{"F1", R"("faults": {"timeoutMs": 150})"}}).replace("]}", R"(, {"resource": ")" + f2
                                                                                     + R"(", "faults": {"timeoutMs": 50}}]})"),
        {"open " + f1, "NO:SUCH? = !TMO @145-900", "open " + f2, "*IDN? = !TMO"}); // F2 has no identification
    // Latency comes once per message, however many reads it takes.
    row("latency", bench({{"F1", R"("faults": {"latencyMs": 150}, "replies": {"BIG?": ")" + QByteArray(1000, 'x') + "\"}"},
                          {"F2", R"("faults": {"latencyMs": 400, "timeoutMs": 100})"}}),
        {"open " + f1, "BIG? = " + QByteArray(1000, 'x') + "\n @145-440", "open " + f2, "POWE:RF? = !TMO @95-390"});
    row("open status, unplug", bench({{"F1", R"("faults": {"openStatus": -1073807246})"}, {"F2", R"("faults": {"unplugAfter": 2})"}}),
        {"open " + f1 + " = !BUSY", "open " + f2, "open " + f2, "open " + f2 + " = !NFOUND", "find ?* = " + f1,
         "find ?*F2?* = !NFOUND", "config " + bench({{"F2", ""}}), "open " + f2});
    // The file is read again when it changes: instruments that stay keep
    // their state, removed ones cut their sessions off and come back afresh.
    const QByteArray withF1 = bench({{"F1", R"("state": {"frequency": 100})"}});
    row("reload", withF1, {"open " + f1, "FREQ:SET 200", "config " + QByteArray(withF1).replace("]}", R"(, {"resource": ")" + f2 + "\"}]}"),
                           "find ?* = " + f1 + ' ' + f2, "FREQ:SET? = 200\n", "config {\"resources\": []}",
                           "FREQ:SET? = !CONN_LOST", "config " + withF1, "open " + f1, "FREQ:SET? = 100\n"});
    // Rewritten in place, to the same size at once; removed; made anew.
    const QByteArray seven = bench({{"F1", R"("replies": {"FREQ:SET?": "7"})"}});
    row("changed in place", seven, {"open " + f1, "FREQ:SET? = 7\n", "write " + QByteArray(seven).replace("\"7\"", "\"8\""),
                                    "FREQ:SET? = 8\n", "remove", "FREQ:SET? = !CONN_LOST", "find ?* = !NFOUND", "write " + seven,
                                    "find ?* = " + f1});
    // Any spelling of a name opens the instrument.
    row("names", bench({{"F1", ""}}),
        {"open USB0::0x3A7C::0x000F::F1::0::INSTR", "open usb0::14972::0xf::F1", "open USB0::0x3A7C::0x000F::f1::INSTR = !NFOUND",
         "open USB0::0x3A7C::0x0010::F1::INSTR = !NFOUND", "open USB0::0x3A7C::0x000F::INSTR = !INV_RSRC_NAME"});
    row("parse", "{\"resources\": []}",
        {"parse usb3::15::0x20::S = 7 3 INSTR USB3::0x000F::0x0020::S::INSTR", "parse TCPIP0::Bench.Example::INSTR = 6 0 INSTR "
         "TCPIP0::bench.example::inst0::INSTR", "parse USB0::0x3A7C::0x000F = !INV_RSRC_NAME"});
    // Search expressions as PyVISA and the panel write them, and the rest of
    // the grammar.
    const QByteArray c = "USB1::0x1234::0x0001::C::INSTR", gpib = "GPIB0::12::INSTR", tcpip = "TCPIP0::h.example::inst0::INSTR";
    row("search", bench({{"F1", ""}}).replace("]}", R"(, {"resource": ")" + c + R"("}, {"resource": ")" + gpib
                                                         + R"("}, {"resource": ")" + tcpip + "\"}]}"),
        {"find ?*::INSTR = " + f1 + ' ' + c + ' ' + gpib + ' ' + tcpip, "find usb?*instr = " + f1 + ' ' + c,
         "find USB? = !NFOUND", "find GPIB?*|TCPIP?* = " + gpib + ' ' + tcpip, "find (GPIB0|USB1)::?* = " + c + ' ' + gpib,
         "find USB?::0x????::0x000[^1]?* = " + f1, "find TCPIP0::(h|\\.|example)*::?* = " + tcpip, "find USB[0 = !INV_EXPR"});
}

QTEST_GUILESS_MAIN(SimTest)
#include "tst_sim.moc"
