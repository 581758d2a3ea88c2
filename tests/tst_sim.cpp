// The simulated instruments, driven through their VISA entry points exactly
// as a client program loads and calls them.
#include "link/visadefs.h"
#include "simfixture.h"

#include <QElapsedTimer>
#include <QLibrary>

#include <clocale>
#include <cstring>

#define SIM_FUNCTIONS(X) \
    X(OpenDefaultRM) X(FindRsrc) X(FindNext) X(Open) X(Close) X(Read) X(Write) X(ParseRsrcEx) X(GetAttribute) \
    X(SetAttribute) X(StatusDesc) X(Printf) X(Scanf)

namespace {

const char *const Mhz = "USB0::0x3A7C::0x0014::CMD14::INSTR";
const char *const Ghz = "USB0::0x3A7C::0x0011::CMD11::INSTR";

// One instrument entry with the given extra keys, e.g. "faults": {...}.
QByteArray bench(const char *resource, const QByteArray &extra = QByteArray())
{
    return QByteArray(R"({"resources": [{"resource": ")") + resource + R"(", "idn": "Quorvex Electronics,774-6000,)"
           + QByteArray(resource).split(':').at(6) + R"(,V4.0.0")" + (extra.isEmpty() ? "" : ", " + extra) + "}]}";
}

} // namespace

class SimTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { sim.clearTrace(); rm = openManager(); }
    void cleanup() { visa.Close(rm); }
    void commands_data();
    void commands();
    void savedStates();
    void builtInInstruments();
    void faults_data();
    void faults();
    void openFaultAndUnplug();
    void longReplyInChunks();
    void search_data();
    void search();
    void openNames_data();
    void openNames();
    void parseResource_data();
    void parseResource();
    void reload();
    void traceFormat();
    void handles();
    void formattedIo();

private:
    ViSession openManager();
    ViSession open(const char *name, ViStatus expected = VI_SUCCESS);
    ViStatus send(ViSession session, QByteArray line);
    ViStatus query(ViSession session, const QByteArray &line, QByteArray *reply);
    QStringList find(const char *expression, ViStatus *status = nullptr);

    struct
    {
#define SIM_DECLARE(name) Vi##name##Fn name = nullptr;
        SIM_FUNCTIONS(SIM_DECLARE)
    } visa;
    QLibrary library;
    SimFixture sim;
    ViSession rm = VI_NULL;
};

void SimTest::initTestCase()
{
    library.setFileName(qEnvironmentVariable("USBSYNTH_VISA_LIBRARY"));
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    sim.configure(R"({"resources": []})");
#define SIM_RESOLVE(name) QVERIFY(visa.name = reinterpret_cast<Vi##name##Fn>(library.resolve("vi" #name)));
    SIM_FUNCTIONS(SIM_RESOLVE)
}

ViSession SimTest::openManager()
{
    ViSession manager = VI_NULL;
    if (visa.OpenDefaultRM(&manager) != VI_SUCCESS || manager == VI_NULL)
        qWarning("viOpenDefaultRM failed");
    return manager;
}

ViSession SimTest::open(const char *name, ViStatus expected)
{
    ViSession session = 1234;
    const ViStatus status = visa.Open(rm, name, VI_NULL, 0, &session);
    if (status != expected || (status != VI_SUCCESS) != (session == VI_NULL))
        QTest::qFail(qPrintable(QStringLiteral("viOpen(%1): status %2, session %3").arg(name).arg(status, 0, 16).arg(session)),
                     __FILE__, __LINE__);
    return session;
}

ViStatus SimTest::send(ViSession session, QByteArray line)
{
    if (!line.endsWith('\n'))
        line += '\n';
    ViUInt32 written = 0;
    const ViStatus status = visa.Write(session, reinterpret_cast<const ViByte *>(line.constData()),
                                       ViUInt32(line.size()), &written);
    return status == VI_SUCCESS && written != ViUInt32(line.size()) ? VI_ERROR_IO : status;
}

// Writes the line and reads the whole reply in 256-byte chunks; the status is
// the last read's.
ViStatus SimTest::query(ViSession session, const QByteArray &line, QByteArray *reply)
{
    reply->clear();
    ViStatus status = send(session, line);
    while (status >= VI_SUCCESS) {
        ViByte buffer[256];
        ViUInt32 count = 0;
        status = visa.Read(session, buffer, sizeof buffer, &count);
        if (status >= VI_SUCCESS)
            reply->append(reinterpret_cast<const char *>(buffer), qsizetype(count));
        if (status != VI_SUCCESS_MAX_CNT)
            break;
    }
    return status;
}

QStringList SimTest::find(const char *expression, ViStatus *result)
{
    ViFindList list = 77;
    ViUInt32 count = 99;
    ViChar name[VI_FIND_BUFLEN];
    const ViStatus status = visa.FindRsrc(rm, expression, &list, &count, name);
    if (result)
        *result = status;
    if (status != VI_SUCCESS)
        return status == VI_ERROR_RSRC_NFOUND && (count != 0 || list != VI_NULL) ? QStringList{"<count or list set>"} : QStringList();
    QStringList names{QString::fromLatin1(name)};
    while (visa.FindNext(list, name) == VI_SUCCESS)
        names << QString::fromLatin1(name);
    if (names.size() != qsizetype(count))
        names << QStringLiteral("<count %1>").arg(count);
    visa.Close(list);
    return names;
}

void SimTest::commands_data()
{
    QTest::addColumn<QByteArray>("resource");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArray>("queryLine");
    QTest::addColumn<QByteArray>("reply");

    // Each setting is first moved off its default, so an ignored command
    // cannot pass.
    const auto row = [](const char *name, const char *resource, QByteArrayList commands, const char *line,
                        const char *reply) { QTest::newRow(name) << QByteArray(resource) << commands << QByteArray(line) << QByteArray(reply); };
    row("idn", Mhz, {}, "*IDN?", "Quorvex Electronics,774-6000,CMD14,V4.0.0\n");
    row("MHz frequency", Mhz, {"FREQ:SET 2200.5"}, "FREQ:SET?", "2200.5\n");
    row("MHz actual", Mhz, {"FREQ:SET 5999.9"}, "FREQ:RETACT?", "5999.900\n");
    row("MHz kHz steps", Mhz, {"FREQ:SET 1234.56789"}, "FREQ:SET?", "1234.568\n");
    row("MHz below range kept", Mhz, {"FREQ:SET 100", "FREQ:SET 24.9"}, "FREQ:SET?", "100\n");
    row("not a number kept", Mhz, {"FREQ:SET 100", "FREQ:SET 2.2GHz"}, "FREQ:SET?", "100\n");
    row("GHz actual", Ghz, {"FREQ:SET 12.3456789"}, "FREQ:RETACT?", "12.345679\n");
    row("GHz upper end", Ghz, {"FREQ:SET 20"}, "FREQ:SET?", "20\n");
    row("GHz rejects MHz value", Ghz, {"FREQ:SET 11", "FREQ:SET 7500"}, "FREQ:SET?", "11\n");
    row("power", Mhz, {"POWE:SET -2.50"}, "POWE:SET?", "-2.5\n");
    row("power min", Mhz, {"POWE:SET MIN"}, "POWE:SET?", "-30 MIN\n");
    row("power max", Mhz, {"POWE:SET MAX"}, "POWE:SET?", "10 MAX\n");
    row("power clamped", Mhz, {"POWE:SET 50"}, "POWE:SET?", "10\n");
    row("power, RF off", Mhz, {"POWE:SET MIN", "POWE:RF 0"}, "POWE:SET?", "OFF,-30 MIN\n");
    row("RF on", Ghz, {"POWE:RF 0", "POWE:RF 1"}, "POWE:RF?", "1\n");
    row("internal reference", Ghz, {"FREQ:REF:EXT 1", "FREQ:REF:EXT 0"}, "FREQ:REF:EXT?", "0\n");
    row("reference frequency", Ghz, {"FREQ:REF:FREQ 50"}, "FREQ:REF:FREQ?", "50\n");
    row("reference 101 kept", Ghz, {"FREQ:REF:FREQ 100", "FREQ:REF:FREQ 101"}, "FREQ:REF:FREQ?", "100\n");
    row("divider 128 kept", Ghz, {"FREQ:REF:DIV 127", "FREQ:REF:DIV 128"}, "FREQ:REF:DIV?", "127\n");
    row("fractional PLL", Ghz, {"FREQ:PLLM 1", "FREQ:PLLM 0"}, "FREQ:PLLM?", "0\n");
    row("lock", Ghz, {}, "FREQ:LOCK?", "1\n");
    row("temperature", Mhz, {}, "SYST:TEMP?", "28.50\n");
    row("threshold", Mhz, {"SYST:TEMPTHRES 45.5"}, "SYST:TEMPTHRES?", "45.5\n");
    row("boot state 6 kept", Mhz, {"SYST:BOOTSTATE 3", "SYST:BOOTSTATE 6"}, "SYST:BOOTSTATE?", "3\n");
    row("lower case, CR LF", Mhz, {"freq:set 3000\r\n"}, "freq:set?\r\n", "3000\n");
    row("unknown command ignored", Mhz, {"FREQ:SET 4100", "FREQ:BOGUS 1"}, "FREQ:SET?", "4100\n");
}

void SimTest::commands()
{
    QFETCH(QByteArray, resource);
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArray, queryLine);
    QFETCH(QByteArray, reply);
    sim.configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x0014::CMD14::INSTR",
        "idn": "Quorvex Electronics,774-6000,CMD14,V4.0.0", "state": {"frequency": 1000, "temperature": 28.5}},
        {"resource": "USB0::0x3A7C::0x0011::CMD11::INSTR", "idn": "x,VX27H774-20,CMD11,V4", "state": {"frequency": 15}}]})");
    const ViSession session = open(resource.constData());
    for (const QByteArray &command : commands)
        QCOMPARE(send(session, command), VI_SUCCESS);
    QByteArray answer;
    QCOMPARE(query(session, queryLine, &answer), VI_SUCCESS);
    QCOMPARE(answer, reply);
    QCOMPARE(visa.Close(session), VI_SUCCESS);
}

// Six states of eight fields from the configuration; saving stores the live
// settings in a slot other than 0, loading brings them back.
void SimTest::savedStates()
{
    sim.configure(bench("USB0::0x3A7C::0x0013::DUMP1::INSTR", R"("state": {"frequency": 26.5, "power": -3,
        "pllMode": 1, "refDivider": 4, "storedStates": [{}, {"frequency": 24.25, "powerLevel": "MAX", "rf": false},
        {"refExternal": true, "refFrequency": 100}]})"));
    const ViSession session = open("USB0::0x3A7C::0x0013::DUMP1::INSTR");
    const QByteArray factory = "1,26.5,4,0,10,0,-3,1";
    QByteArray reply;
    QCOMPARE(query(session, "SYST:READSTATE?", &reply), VI_SUCCESS);
    QCOMPARE(reply, factory + ";1,24.25,4,0,10,2,10,0;1,26.5,4,1,100,0,-3,1;" + factory + ';' + factory + ';' + factory + '\n');
    for (const char *line : {"FREQ:PLLM 0", "FREQ:SET 24.123457", "FREQ:REF:DIV 127", "FREQ:REF:EXT 1",
                             "FREQ:REF:FREQ 50", "POWE:SET -29.99", "POWE:RF 0", "SYST:SAVESTATE 5", "SYST:SAVESTATE 0"})
        QCOMPARE(send(session, line), VI_SUCCESS);
    QCOMPARE(query(session, "SYST:READSTATE?", &reply), VI_SUCCESS);
    QCOMPARE(reply.split(';').at(0), factory);
    QCOMPARE(reply.split(';').at(4), factory);
    QCOMPARE(reply.split(';').at(5), QByteArray("0,24.123457,127,1,50,0,-29.99,0\n"));
    QCOMPARE(send(session, "SYST:LOADSTATE 0"), VI_SUCCESS);
    QCOMPARE(query(session, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("26.5\n"));
    QCOMPARE(send(session, "SYST:LOADSTATE 5"), VI_SUCCESS);
    QCOMPARE(query(session, "POWE:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("OFF,-29.99\n"));
    visa.Close(session);
}

// Without a configuration: two supported instruments of different models
// and one outside the supported product ids.
void SimTest::builtInInstruments()
{
    qputenv("USBSYNTH_SIM_CONFIG", QByteArray());
    const QStringList found = find("USB?*");
    qputenv("USBSYNTH_SIM_CONFIG", QFile::encodeName(sim.path("sim.json")));
    QCOMPARE(found, QStringList({"USB0::0x3A7C::0x000F::QX10001::INSTR", "USB0::0x3A7C::0x0011::QX20002::INSTR",
                                 "USB0::0x3A7C::0x0030::QX30003::INSTR"}));
}

void SimTest::faults_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<ViStatus>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    const QByteArray readStatus = R"("faults": {"readStatus": {"FREQ:SET?": -1073807298, "NOREPLY?": -1073807194}})";
    const QByteArray replies = R"("replies": {"FREQ:SET?": "0", "Model:Name?": "custom", "RAW?": {"text": "bare", "lineFeed": false}})";
    QTest::newRow("read status") << readStatus << QByteArray("freq:set?") << VI_ERROR_IO << QByteArray() << 0 << 100;
    QTest::newRow("lost connection") << readStatus << QByteArray("NOREPLY?") << VI_ERROR_CONN_LOST << QByteArray() << 0 << 100;
    QTest::newRow("other queries answer") << readStatus << QByteArray("POWE:RF?") << VI_SUCCESS << QByteArray("1\n") << 0 << 100;
    QTest::newRow("fixed reply") << replies << QByteArray("FREQ:SET?") << VI_SUCCESS << QByteArray("0\n") << 0 << 100;
    QTest::newRow("any case") << replies << QByteArray("MODEL:NAME?") << VI_SUCCESS << QByteArray("custom\n") << 0 << 100;
    QTest::newRow("no line feed") << replies << QByteArray("RAW?") << VI_SUCCESS << QByteArray("bare") << 0 << 100;
    QTest::newRow("timeout") << QByteArray(R"("faults": {"timeoutMs": 150})") << QByteArray("NO:SUCH?") << VI_ERROR_TMO << QByteArray() << 145 << 900;
    QTest::newRow("latency") << QByteArray(R"("faults": {"latencyMs": 150})") << QByteArray("POWE:RF?") << VI_SUCCESS << QByteArray("1\n") << 145 << 900;
    QTest::newRow("latency past timeout") << QByteArray(R"("faults": {"latencyMs": 400, "timeoutMs": 100})") << QByteArray("POWE:RF?")
                                          << VI_ERROR_TMO << QByteArray() << 95 << 390;
}

void SimTest::faults()
{
    QFETCH(QByteArray, entry);
    QFETCH(QByteArray, line);
    QFETCH(ViStatus, status);
    QFETCH(QByteArray, reply);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    sim.configure(bench("USB0::0x3A7C::0x000F::FAULT1::INSTR", entry));
    const ViSession session = open("USB0::0x3A7C::0x000F::FAULT1::INSTR");
    QElapsedTimer timer;
    timer.start();
    QByteArray answer;
    QCOMPARE(query(session, line, &answer), status);
    QVERIFY2(timer.elapsed() >= minMs && timer.elapsed() < maxMs, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(answer, reply);
    visa.Close(session);
}

void SimTest::openFaultAndUnplug()
{
    sim.configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::BUSY1::INSTR", "faults": {"openStatus": -1073807246}},
        {"resource": "USB0::0x3A7C::0x000F::PLUG1::INSTR", "faults": {"unplugAfter": 2}}]})");
    QCOMPARE(open("USB0::0x3A7C::0x000F::BUSY1::INSTR", VI_ERROR_RSRC_BUSY), ViSession(VI_NULL));
    for (int i = 0; i < 2; ++i)
        QCOMPARE(visa.Close(open("USB0::0x3A7C::0x000F::PLUG1::INSTR")), VI_SUCCESS);
    open("USB0::0x3A7C::0x000F::PLUG1::INSTR", VI_ERROR_RSRC_NFOUND);
    QCOMPARE(find("?*"), QStringList{"USB0::0x3A7C::0x000F::BUSY1::INSTR"});
    sim.configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::PLUG1::INSTR"}]})");
    QCOMPARE(visa.Close(open("USB0::0x3A7C::0x000F::PLUG1::INSTR")), VI_SUCCESS);
}

// A reply longer than the buffer comes in pieces; an unread rest is dropped
// by the next write; a termination character ends a read early.
void SimTest::longReplyInChunks()
{
    sim.configure(bench("USB0::0x3A7C::0x000F::FIX1::INSTR", R"("replies": {"BIG?": ")" + QByteArray(1000, 'x') + "\"}"));
    const ViSession session = open("USB0::0x3A7C::0x000F::FIX1::INSTR");
    QCOMPARE(send(session, "BIG?"), VI_SUCCESS);
    ViByte buffer[256];
    ViUInt32 count = 0;
    for (ViUInt32 size : {256, 256, 256}) {
        QCOMPARE(visa.Read(session, buffer, sizeof buffer, &count), VI_SUCCESS_MAX_CNT);
        QCOMPARE(count, size);
    }
    QCOMPARE(visa.Read(session, buffer, sizeof buffer, &count), VI_SUCCESS);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), count), QByteArray(232, 'x') + '\n');
    QCOMPARE(send(session, "BIG?"), VI_SUCCESS);
    QCOMPARE(visa.SetAttribute(session, VI_ATTR_TERMCHAR, ','), VI_SUCCESS);
    QCOMPARE(visa.SetAttribute(session, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    QCOMPARE(send(session, "*IDN?"), VI_SUCCESS);
    QCOMPARE(visa.Read(session, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), count), QByteArray("Quorvex Electronics,"));
    visa.Close(session);
}

void SimTest::search_data()
{
    QTest::addColumn<QByteArray>("expression");
    QTest::addColumn<QString>("found");
    QTest::addColumn<ViStatus>("status");

    const QString a1 = "USB0::0x3A7C::0x000F::A1::INSTR", b2 = "USB0::0x3A7C::0x0011::B2::INSTR",
                  c3 = "USB1::0x1234::0x0001::C3::INSTR", gpib = "GPIB0::12::INSTR",
                  tcpip = "TCPIP0::bench.example::inst0::INSTR", asrl = "ASRL1::INSTR";
    const auto all = [](QStringList names) { return names.join(' '); };
    QTest::newRow("PyVISA default") << QByteArray("?*::INSTR") << all({a1, b2, c3, gpib, tcpip, asrl}) << VI_SUCCESS;
    QTest::newRow("USB, any case") << QByteArray("usb?*instr") << all({a1, b2, c3}) << VI_SUCCESS;
    QTest::newRow("board 0") << QByteArray("USB0?*") << all({a1, b2}) << VI_SUCCESS;
    QTest::newRow("whole name") << QByteArray("USB?") << QString() << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("alternatives") << QByteArray("GPIB?*|ASRL?*") << all({gpib, asrl}) << VI_SUCCESS;
    QTest::newRow("group") << QByteArray("(GPIB|ASRL)[0-9]::?*") << all({gpib, asrl}) << VI_SUCCESS;
    QTest::newRow("negated list") << QByteArray("USB?::0x????::0x000[^1]?*") << all({a1}) << VI_SUCCESS;
    QTest::newRow("plus") << QByteArray("AS+RL1::INSTR") << all({asrl}) << VI_SUCCESS;
    QTest::newRow("star of a group") << QByteArray("TCPIP0::(bench|\\.|example)*::?*") << all({tcpip}) << VI_SUCCESS;
    QTest::newRow("dot is literal") << QByteArray("TCPIP0::bench.exampl.?*") << QString() << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("open list") << QByteArray("USB[0") << QString() << VI_ERROR_INV_EXPR;
    QTest::newRow("leading star") << QByteArray("*USB") << QString() << VI_ERROR_INV_EXPR;
}

void SimTest::search()
{
    QFETCH(QByteArray, expression);
    QFETCH(QString, found);
    QFETCH(ViStatus, status);
    sim.configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::A1::INSTR"},
        {"resource": "USB0::0x3A7C::0x0011::B2::INSTR"}, {"resource": "USB1::0x1234::0x0001::C3::INSTR"},
        {"resource": "GPIB0::12::INSTR"}, {"resource": "TCPIP0::bench.example::inst0::INSTR"}, {"resource": "ASRL1::INSTR"}]})");
    ViStatus result = VI_SUCCESS;
    QCOMPARE(find(expression.constData(), &result).join(' '), found);
    QCOMPARE(result, status);
}

void SimTest::openNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<ViStatus>("status");

    QTest::newRow("interface number") << QByteArray("USB0::0x3A7C::0x000F::NAME1::0::INSTR") << VI_SUCCESS;
    QTest::newRow("decimal ids") << QByteArray("USB0::14972::15::NAME1::INSTR") << VI_SUCCESS;
    QTest::newRow("lower case, short hex") << QByteArray("usb0::0x3a7c::0xf::NAME1::instr") << VI_SUCCESS;
    QTest::newRow("no board, no class") << QByteArray("USB::0x3A7C::0x000F::NAME1") << VI_SUCCESS;
    QTest::newRow("serial case") << QByteArray("USB0::0x3A7C::0x000F::name1::INSTR") << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("other model") << QByteArray("USB0::0x3A7C::0x0010::NAME1::INSTR") << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("other board") << QByteArray("USB1::0x3A7C::0x000F::NAME1::INSTR") << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("no serial") << QByteArray("USB0::0x3A7C::0x000F::INSTR") << VI_ERROR_INV_RSRC_NAME;
    QTest::newRow("bad id") << QByteArray("USB0::0x3A7G::0x000F::NAME1::INSTR") << VI_ERROR_INV_RSRC_NAME;
}

// Any spelling of the name opens the instrument under its configured name.
void SimTest::openNames()
{
    QFETCH(QByteArray, name);
    QFETCH(ViStatus, status);
    sim.configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::NAME1::INSTR"}]})");
    const ViSession session = open(name.constData(), status);
    ViChar resource[VI_FIND_BUFLEN] = {};
    if (status == VI_SUCCESS) {
        QCOMPARE(visa.GetAttribute(session, VI_ATTR_RSRC_NAME, resource), VI_SUCCESS);
        QCOMPARE(QByteArray(resource), QByteArray("USB0::0x3A7C::0x000F::NAME1::INSTR"));
        QCOMPARE(visa.Close(session), VI_SUCCESS);
    }
}

void SimTest::parseResource_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<ViStatus>("status");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("board");
    QTest::addColumn<QByteArray>("expanded"); // class, then the full name

    QTest::newRow("USB") << QByteArray("usb3::15::0x20::S") << VI_SUCCESS << int(VI_INTF_USB) << 3 << QByteArray("INSTR USB3::0x000F::0x0020::S::INSTR");
    QTest::newRow("TCPIP") << QByteArray("TCPIP0::Bench.Example::INSTR") << VI_SUCCESS << int(VI_INTF_TCPIP) << 0
                           << QByteArray("INSTR TCPIP0::bench.example::inst0::INSTR");
    QTest::newRow("socket") << QByteArray("TCPIP0::h::5025::SOCKET") << VI_SUCCESS << int(VI_INTF_TCPIP) << 0 << QByteArray("SOCKET TCPIP0::h::5025::SOCKET");
    QTest::newRow("serial") << QByteArray("ASRL2::INSTR") << VI_SUCCESS << int(VI_INTF_ASRL) << 2 << QByteArray("INSTR ASRL2::INSTR");
    QTest::newRow("USB without serial") << QByteArray("USB0::0x3A7C::0x000F") << VI_ERROR_INV_RSRC_NAME << 0 << 0 << QByteArray();
}

// As PyVISA asks before it opens a name.
void SimTest::parseResource()
{
    QFETCH(QByteArray, name);
    QFETCH(ViStatus, status);
    QFETCH(int, type);
    QFETCH(int, board);
    QFETCH(QByteArray, expanded);
    ViUInt16 intfType = 99, intfNum = 99;
    ViChar cls[VI_FIND_BUFLEN] = {}, full[VI_FIND_BUFLEN] = {}, alias[VI_FIND_BUFLEN] = {'?', 0};
    QCOMPARE(visa.ParseRsrcEx(rm, name.constData(), &intfType, &intfNum, cls, full, alias), status);
    if (status == VI_SUCCESS) {
        QCOMPARE(QList<int>({intfType, intfNum}), QList<int>({type, board}));
        QCOMPARE(QByteArray(cls) + ' ' + full + alias, expanded);
    }
}

// The file is read again when it changes: instruments that stay keep their
// state, removed ones cut their sessions off and come back afresh.
void SimTest::reload()
{
    const char *a = "USB0::0x3A7C::0x000F::RELOAD_A::INSTR";
    const QByteArray withA = bench(a, R"("state": {"frequency": 100})");
    sim.configure(withA);
    const ViSession session = open(a);
    QCOMPARE(send(session, "FREQ:SET 200"), VI_SUCCESS);
    sim.configure(withA.left(withA.size() - 2) + R"(, {"resource": "USB0::0x3A7C::0x0010::RELOAD_B::INSTR"}]})");
    QCOMPARE(find("?*RELOAD?*"), QStringList({a, "USB0::0x3A7C::0x0010::RELOAD_B::INSTR"}));
    QByteArray reply;
    QCOMPARE(query(session, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("200\n"));
    QCOMPARE(send(session, "FREQ:SET?"), VI_SUCCESS);
    sim.configure(R"({"resources": []})");
    ViByte buffer[16];
    ViUInt32 count = 0;
    QCOMPARE(visa.Read(session, buffer, sizeof buffer, &count), VI_ERROR_CONN_LOST);
    QCOMPARE(send(session, "FREQ:SET?"), VI_ERROR_CONN_LOST);
    QCOMPARE(visa.Close(session), VI_SUCCESS);
    sim.configure(withA);
    const ViSession again = open(a);
    QCOMPARE(query(again, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("100\n"));
    visa.Close(again);
}

void SimTest::traceFormat()
{
    sim.configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::TRACE1::INSTR", "idn": "Q,774-4400,TRACE1,V4",
         "replies": {"TWO?": "first\nsecond"}, "faults": {"timeoutMs": 50}},
        {"resource": "USB0::0x3A7C::0x0010::TRACE2::INSTR", "faults": {"openStatus": -1073807246}}]})");
    const ViSession session = open("usb0::0x3A7C::15::TRACE1::0::INSTR");
    open("USB0::0x3A7C::0x0010::TRACE2::INSTR", VI_ERROR_RSRC_BUSY);
    open("USB0::0x3A7C::0x0010::NOSUCH::INSTR", VI_ERROR_RSRC_NFOUND);
    ViByte buffer[64];
    ViUInt32 count = 0;
    QCOMPARE(send(session, "*IDN?\r\n"), VI_SUCCESS);
    QCOMPARE(visa.Read(session, buffer, 5, &count), VI_SUCCESS_MAX_CNT);
    QCOMPARE(visa.Read(session, buffer, sizeof buffer, &count), VI_SUCCESS);
    QByteArray reply;
    QCOMPARE(query(session, "SYST:TEMPTHRES 40\nSYST:TEMPTHRES?\n", &reply), VI_SUCCESS);
    QCOMPARE(query(session, "TWO?", &reply), VI_SUCCESS);
    QCOMPARE(query(session, "NO:SUCH?", &reply), VI_ERROR_TMO);
    QCOMPARE(visa.Close(session), VI_SUCCESS);
    visa.Close(rm);
    const QString t1 = " USB0::0x3A7C::0x000F::TRACE1::INSTR";
    QCOMPARE(sim.trace(), QStringList({"O DefaultRM", "O" + t1, "F USB0::0x3A7C::0x0010::TRACE2::INSTR",
        "F USB0::0x3A7C::0x0010::NOSUCH::INSTR", "W" + t1 + " *IDN?", "R" + t1 + " Q,774-4400,TRACE1,V4",
        "W" + t1 + " SYST:TEMPTHRES 40\\nSYST:TEMPTHRES?", "R" + t1 + " 40", "W" + t1 + " TWO?",
        "R" + t1 + " first\\nsecond", "W" + t1 + " NO:SUCH?", "C" + t1, "C DefaultRM"}));
    QFile file(sim.path("trace.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    qlonglong previous = 0;
    for (const QByteArray &line : file.readAll().split('\n').mid(0, 13)) {
        bool ok = false;
        QVERIFY(line.split(' ').at(0).toLongLong(&ok) >= previous && ok);
        previous = line.split(' ').at(0).toLongLong();
    }
    rm = openManager();
}

// Stale and unknown handles fail; closing a manager closes what it opened.
void SimTest::handles()
{
    const char *name = "USB0::0x3A7C::0x000F::QX10001::INSTR";
    sim.configure(bench(name));
    QCOMPARE(visa.Close(VI_NULL), VI_WARN_NULL_OBJECT);
    QCOMPARE(visa.Close(0x7FFFFFF0), VI_ERROR_INV_OBJECT);
    const ViSession stale = open(name);
    QCOMPARE(visa.Close(stale), VI_SUCCESS);
    const ViSession fresh = open(name);
    QVERIFY(fresh != stale);
    QCOMPARE(send(stale, "*IDN?"), VI_ERROR_INV_OBJECT);
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    ViChar found[VI_FIND_BUFLEN];
    QCOMPARE(visa.FindRsrc(rm, "?*", &list, &count, found), VI_SUCCESS);
    QCOMPARE(visa.Write(fresh, nullptr, 5, &count), VI_ERROR_USER_BUF);
    QCOMPARE(visa.StatusDesc(rm, ViStatus(0xBFFF0ABC), found), VI_WARN_UNKNOWN_STATUS);
    QCOMPARE(visa.StatusDesc(rm, VI_ERROR_RSRC_NFOUND, found), VI_SUCCESS);
    QVERIFY(std::strlen(found) > 10);
    QCOMPARE(visa.Close(rm), VI_SUCCESS);
    QCOMPARE(send(fresh, "*IDN?"), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.FindNext(list, found), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.Close(rm), VI_ERROR_INV_OBJECT);
    rm = openManager();
}

// printf/scanf directives, with a decimal point under any locale.
void SimTest::formattedIo()
{
    sim.configure(bench("USB0::0x3A7C::0x000F::FMT1::INSTR", R"("replies": {"NUMBERS?": " -17 0x1F 2.5e3 12 tail"})"));
    const ViSession session = open("USB0::0x3A7C::0x000F::FMT1::INSTR");
    const QByteArray saved = std::setlocale(LC_ALL, nullptr);
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8");
    QCOMPARE(visa.Printf(session, "SYST:TEMPTHRES %.2f\\n", 42.25), VI_SUCCESS);
    QCOMPARE(visa.Printf(session, "SYST:TEMPTHRES?\n"), VI_SUCCESS);
    double threshold = 0;
    QCOMPARE(visa.Scanf(session, "%lf", &threshold), VI_SUCCESS);
    std::setlocale(LC_ALL, saved.constData());
    QCOMPARE(threshold, 42.25);
    QCOMPARE(visa.Printf(session, "NUMBERS?\n"), VI_SUCCESS);
    int negative = 0;
    ViInt32 hex = 0;
    double real = 0;
    char word[8] = {};
    QCOMPARE(visa.Scanf(session, "%d %lx%lf %*d %3s", &negative, &hex, &real, word), VI_SUCCESS);
    QCOMPARE(QString::asprintf("%d %x %g %s", negative, hex, real, word), QStringLiteral("-17 1f 2500 tai"));
    QCOMPARE(visa.Printf(session, "A%5.2f|%-4d|%x|%%|%c|%s|%lld\n", 3.14159, 7, 255, 'z', "s", 1LL << 40), VI_SUCCESS);
    QCOMPARE(visa.Printf(session, "%q"), VI_ERROR_INV_FMT);
    QCOMPARE(visa.Printf(session, "%s", static_cast<const char *>(nullptr)), VI_ERROR_USER_BUF);
    visa.Close(session);
    QCOMPARE(sim.writes("USB0::0x3A7C::0x000F::FMT1::INSTR"), QStringList({"SYST:TEMPTHRES 42.25", "SYST:TEMPTHRES?",
                                                                          "NUMBERS?", "A 3.14|7   |ff|%|z|s|1099511627776"}));
    if (!comma)
        QSKIP("no comma-decimal locale installed");
}

QTEST_GUILESS_MAIN(SimTest)
#include "tst_sim.moc"
