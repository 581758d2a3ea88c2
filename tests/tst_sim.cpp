// The simulated instruments, driven through their VISA entry points exactly
// as a client program loads and calls them.

#include "link/visadefs.h"

#include <QElapsedTimer>
#include <QLibrary>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr ViStatus InvalidFormat = ViStatus(0xBFFF003Fu);

// The entry points, resolved by name like any VISA client does.
struct Visa
{
    ViOpenDefaultRMFn openDefaultRM = nullptr;
    ViFindRsrcFn findRsrc = nullptr;
    ViFindNextFn findNext = nullptr;
    ViOpenFn open = nullptr;
    ViCloseFn close = nullptr;
    ViReadFn read = nullptr;
    ViWriteFn write = nullptr;
    ViParseRsrcFn parseRsrc = nullptr;
    ViParseRsrcExFn parseRsrcEx = nullptr;
    ViGetAttributeFn getAttribute = nullptr;
    ViSetAttributeFn setAttribute = nullptr;
    ViStatusDescFn statusDesc = nullptr;
    ViDisableEventFn disableEvent = nullptr;
    ViDiscardEventsFn discardEvents = nullptr;
    ViPrintfFn printf = nullptr;
    ViScanfFn scanf = nullptr;
};

// Collects what is written to the process's stderr while it lives.
class StderrCapture
{
public:
    explicit StderrCapture(const QString &path) : path(path)
    {
        std::fflush(stderr);
        saved = ::dup(2);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { finish(); }
    QByteArray finish()
    {
        if (saved >= 0) {
            std::fflush(stderr);
            ::dup2(saved, 2);
            ::close(saved);
            saved = -1;
        }
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString path;
    int saved = -1;
};

} // namespace

class SimTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandChangesQuery_data();
    void commandChangesQuery();
    void savedStates_data();
    void savedStates();
    void stateDumpLayout();
    void builtInInstruments();

    void openFault();
    void readFault();
    void latencyOncePerMessage();
    void readTimeout();
    void unplugAndReplug();
    void fixedReplies();
    void termCharEndsRead();

    void emptySearch();
    void searchExpression_data();
    void searchExpression();
    void openNames_data();
    void openNames();
    void parseResource_data();
    void parseResource();

    void reloadWhileRunning();
    void removalWakesBlockedRead();
    void badConfiguration_data();
    void badConfiguration();
    void traceFormat();

    void handlesAndClose();
    void attributes_data();
    void attributes();
    void badArguments();
    void formattedIo();
    void formattedIoIgnoresLocale();
    void concurrentSessions();

private:
    void useConfig(const QByteArray &json, const QString &name = QStringLiteral("config.json"));
    ViSession openManager();
    ViSession openInstrument(ViSession manager, const char *name);
    ViStatus send(ViSession session, QByteArray line);
    ViStatus query(ViSession session, const QByteArray &line, QByteArray *reply);
    QStringList search(ViSession manager, const char *expression, ViStatus *status = nullptr);

    QLibrary library;
    Visa visa;
    QTemporaryDir dir;
    ViSession manager = VI_NULL;
};

void SimTest::initTestCase()
{
    QVERIFY(dir.isValid());
    const QString path = qEnvironmentVariable("USBSYNTH_VISA_LIBRARY");
    QVERIFY2(!path.isEmpty(), "USBSYNTH_VISA_LIBRARY names the simulator");
    library.setFileName(path);
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    const auto resolve = [&](auto &pointer, const char *symbol) {
        pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(library.resolve(symbol));
        QVERIFY2(pointer, symbol);
    };
    resolve(visa.openDefaultRM, "viOpenDefaultRM");
    resolve(visa.findRsrc, "viFindRsrc");
    resolve(visa.findNext, "viFindNext");
    resolve(visa.open, "viOpen");
    resolve(visa.close, "viClose");
    resolve(visa.read, "viRead");
    resolve(visa.write, "viWrite");
    resolve(visa.parseRsrc, "viParseRsrc");
    resolve(visa.parseRsrcEx, "viParseRsrcEx");
    resolve(visa.getAttribute, "viGetAttribute");
    resolve(visa.setAttribute, "viSetAttribute");
    resolve(visa.statusDesc, "viStatusDesc");
    resolve(visa.disableEvent, "viDisableEvent");
    resolve(visa.discardEvents, "viDiscardEvents");
    resolve(visa.printf, "viPrintf");
    resolve(visa.scanf, "viScanf");
}

void SimTest::init()
{
    qputenv("USBSYNTH_SIM_CONFIG", QByteArray());
    qputenv("USBSYNTH_SIM_TRACE", QByteArray());
    manager = openManager();
}

void SimTest::cleanup()
{
    visa.close(manager);
    manager = VI_NULL;
}

// Writes the configuration atomically (a half-written file would be read as
// broken) and points the simulator at it.
void SimTest::useConfig(const QByteArray &json, const QString &name)
{
    QSaveFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(json);
    QVERIFY(file.commit());
    qputenv("USBSYNTH_SIM_CONFIG", QFile::encodeName(dir.filePath(name)));
}

ViSession SimTest::openManager()
{
    ViSession rm = VI_NULL;
    const ViStatus status = visa.openDefaultRM(&rm);
    if (status != VI_SUCCESS || rm == VI_NULL)
        qWarning("viOpenDefaultRM failed: %d", int(status));
    return rm;
}

ViSession SimTest::openInstrument(ViSession rm, const char *name)
{
    ViSession session = VI_NULL;
    const ViStatus status = visa.open(rm, name, VI_NULL, 0, &session);
    if (status != VI_SUCCESS)
        qWarning("viOpen(%s) failed: %d", name, int(status));
    return session;
}

ViStatus SimTest::send(ViSession session, QByteArray line)
{
    if (!line.endsWith('\n'))
        line += '\n';
    ViUInt32 written = 0;
    const ViStatus status = visa.write(session, reinterpret_cast<const ViByte *>(line.constData()),
                                       ViUInt32(line.size()), &written);
    if (status == VI_SUCCESS && written != ViUInt32(line.size()))
        qWarning("short write");
    return status;
}

// Writes the line and reads the whole reply in 256-byte chunks; the status
// is the last read's.
ViStatus SimTest::query(ViSession session, const QByteArray &line, QByteArray *reply)
{
    reply->clear();
    const ViStatus written = send(session, line);
    if (written != VI_SUCCESS)
        return written;
    for (;;) {
        ViByte buffer[256];
        ViUInt32 count = 0;
        const ViStatus status = visa.read(session, buffer, sizeof buffer, &count);
        if (status < VI_SUCCESS)
            return status;
        reply->append(reinterpret_cast<const char *>(buffer), qsizetype(count));
        if (status != VI_SUCCESS_MAX_CNT)
            return status;
    }
}

QStringList SimTest::search(ViSession rm, const char *expression, ViStatus *result)
{
    ViFindList list = VI_NULL;
    ViUInt32 count = 99;
    ViChar name[VI_FIND_BUFLEN];
    const ViStatus status = visa.findRsrc(rm, expression, &list, &count, name);
    if (result)
        *result = status;
    QStringList names;
    if (status != VI_SUCCESS)
        return names;
    names << QString::fromLatin1(name);
    for (ViUInt32 i = 1; i < count; ++i) {
        if (visa.findNext(list, name) == VI_SUCCESS)
            names << QString::fromLatin1(name);
    }
    if (visa.findNext(list, name) != VI_ERROR_RSRC_NFOUND)
        names << QStringLiteral("<list did not end>");
    visa.close(list);
    return names;
}

const QByteArray commandConfig = R"({"resources": [
  {"resource": "USB0::0x3A7C::0x0014::CMD14::INSTR", "idn": "Quorvex Electronics,774-6000,CMD14,V4.0.0",
   "state": {"frequency": 1000, "temperature": 28.5}},
  {"resource": "USB0::0x3A7C::0x0011::CMD11::INSTR", "idn": "Quorvex Electronics,VX27H774-20,CMD11,V4.0.0",
   "state": {"frequency": 15}}]})";

void SimTest::commandChangesQuery_data()
{
    QTest::addColumn<QByteArray>("resource");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArray>("queryLine");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray mhz = "USB0::0x3A7C::0x0014::CMD14::INSTR";
    const QByteArray ghz = "USB0::0x3A7C::0x0011::CMD11::INSTR";
    QTest::newRow("idn") << mhz << QByteArrayList() << QByteArray("*IDN?")
                         << QByteArray("Quorvex Electronics,774-6000,CMD14,V4.0.0\n");
    QTest::newRow("MHz frequency") << mhz << QByteArrayList{"FREQ:SET 2200.5"} << QByteArray("FREQ:SET?") << QByteArray("2200.5\n");
    QTest::newRow("MHz actual") << mhz << QByteArrayList{"FREQ:SET 5999.9"} << QByteArray("FREQ:RETACT?") << QByteArray("5999.900\n");
    QTest::newRow("MHz lower end") << mhz << QByteArrayList{"FREQ:SET 25"} << QByteArray("FREQ:SET?") << QByteArray("25\n");
    QTest::newRow("MHz kHz steps") << mhz << QByteArrayList{"FREQ:SET 1234.56789"} << QByteArray("FREQ:SET?") << QByteArray("1234.568\n");
    QTest::newRow("MHz below range kept") << mhz << QByteArrayList{"FREQ:SET 100", "FREQ:SET 24.9"} << QByteArray("FREQ:SET?") << QByteArray("100\n");
    QTest::newRow("MHz not a number kept") << mhz << QByteArrayList{"FREQ:SET 100", "FREQ:SET 2.2GHz"} << QByteArray("FREQ:SET?") << QByteArray("100\n");
    QTest::newRow("GHz frequency") << ghz << QByteArrayList{"FREQ:SET 12.3457"} << QByteArray("FREQ:SET?") << QByteArray("12.3457\n");
    QTest::newRow("GHz actual") << ghz << QByteArrayList{"FREQ:SET 12.3456789"} << QByteArray("FREQ:RETACT?") << QByteArray("12.345679\n");
    QTest::newRow("GHz upper end") << ghz << QByteArrayList{"FREQ:SET 20"} << QByteArray("FREQ:SET?") << QByteArray("20\n");
    QTest::newRow("GHz rejects MHz value") << ghz << QByteArrayList{"FREQ:SET 11", "FREQ:SET 7500"} << QByteArray("FREQ:SET?") << QByteArray("11\n");
    QTest::newRow("power value") << mhz << QByteArrayList{"POWE:RF 1", "POWE:SET -12.5"} << QByteArray("POWE:SET?") << QByteArray("-12.5\n");
    QTest::newRow("power trailing zero") << mhz << QByteArrayList{"POWE:SET -2.50"} << QByteArray("POWE:SET?") << QByteArray("-2.5\n");
    QTest::newRow("power min") << mhz << QByteArrayList{"POWE:SET MIN"} << QByteArray("POWE:SET?") << QByteArray("-30 MIN\n");
    QTest::newRow("power max") << mhz << QByteArrayList{"POWE:SET MAX"} << QByteArray("POWE:SET?") << QByteArray("10 MAX\n");
    QTest::newRow("power clamped") << mhz << QByteArrayList{"POWE:SET 50"} << QByteArray("POWE:SET?") << QByteArray("10\n");
    QTest::newRow("power, RF off") << mhz << QByteArrayList{"POWE:SET -12.5", "POWE:RF 0"} << QByteArray("POWE:SET?") << QByteArray("OFF,-12.5\n");
    QTest::newRow("power min, RF off") << mhz << QByteArrayList{"POWE:SET MIN", "POWE:RF 0"} << QByteArray("POWE:SET?") << QByteArray("OFF,-30 MIN\n");
    QTest::newRow("RF off") << ghz << QByteArrayList{"POWE:RF 0"} << QByteArray("POWE:RF?") << QByteArray("0\n");
    // Each setting is first moved away from its default, so a command that
    // is ignored cannot pass.
    QTest::newRow("RF on") << ghz << QByteArrayList{"POWE:RF 0", "POWE:RF 1"} << QByteArray("POWE:RF?") << QByteArray("1\n");
    QTest::newRow("external reference") << ghz << QByteArrayList{"FREQ:REF:EXT 1"} << QByteArray("FREQ:REF:EXT?") << QByteArray("1\n");
    QTest::newRow("internal reference") << ghz << QByteArrayList{"FREQ:REF:EXT 1", "FREQ:REF:EXT 0"} << QByteArray("FREQ:REF:EXT?") << QByteArray("0\n");
    QTest::newRow("reference frequency") << ghz << QByteArrayList{"FREQ:REF:FREQ 50"} << QByteArray("FREQ:REF:FREQ?") << QByteArray("50\n");
    QTest::newRow("reference frequency 101 kept") << ghz << QByteArrayList{"FREQ:REF:FREQ 100", "FREQ:REF:FREQ 101"} << QByteArray("FREQ:REF:FREQ?") << QByteArray("100\n");
    QTest::newRow("divider") << ghz << QByteArrayList{"FREQ:REF:DIV 8"} << QByteArray("FREQ:REF:DIV?") << QByteArray("8\n");
    QTest::newRow("divider 128 kept") << ghz << QByteArrayList{"FREQ:REF:DIV 127", "FREQ:REF:DIV 128"} << QByteArray("FREQ:REF:DIV?") << QByteArray("127\n");
    QTest::newRow("integer PLL") << ghz << QByteArrayList{"FREQ:PLLM 1"} << QByteArray("FREQ:PLLM?") << QByteArray("1\n");
    QTest::newRow("fractional PLL") << ghz << QByteArrayList{"FREQ:PLLM 1", "FREQ:PLLM 0"} << QByteArray("FREQ:PLLM?") << QByteArray("0\n");
    QTest::newRow("lock") << ghz << QByteArrayList() << QByteArray("FREQ:LOCK?") << QByteArray("1\n");
    QTest::newRow("temperature") << mhz << QByteArrayList() << QByteArray("SYST:TEMP?") << QByteArray("28.50\n");
    QTest::newRow("threshold") << mhz << QByteArrayList{"SYST:TEMPTHRES 45.5"} << QByteArray("SYST:TEMPTHRES?") << QByteArray("45.5\n");
    QTest::newRow("boot state") << mhz << QByteArrayList{"SYST:BOOTSTATE 3"} << QByteArray("SYST:BOOTSTATE?") << QByteArray("3\n");
    QTest::newRow("boot state 6 kept") << mhz << QByteArrayList{"SYST:BOOTSTATE 0", "SYST:BOOTSTATE 6"} << QByteArray("SYST:BOOTSTATE?") << QByteArray("0\n");
    QTest::newRow("lower case") << mhz << QByteArrayList{"freq:set 3000"} << QByteArray("freq:set?") << QByteArray("3000\n");
    QTest::newRow("CR LF line end") << mhz << QByteArrayList{"FREQ:SET 4000\r\n"} << QByteArray("FREQ:SET?\r\n") << QByteArray("4000\n");
    QTest::newRow("unknown command ignored") << mhz << QByteArrayList{"FREQ:SET 4100", "FREQ:BOGUS 1"} << QByteArray("FREQ:SET?") << QByteArray("4100\n");
}

void SimTest::commandChangesQuery()
{
    QFETCH(QByteArray, resource);
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArray, queryLine);
    QFETCH(QByteArray, reply);
    useConfig(commandConfig);
    const ViSession session = openInstrument(manager, resource.constData());
    QVERIFY(session != VI_NULL);
    for (const QByteArray &command : commands)
        QCOMPARE(send(session, command), VI_SUCCESS);
    QByteArray answer;
    QCOMPARE(query(session, queryLine, &answer), VI_SUCCESS);
    QCOMPARE(answer, reply);
    QCOMPARE(visa.close(session), VI_SUCCESS);
}

void SimTest::savedStates_data()
{
    QTest::addColumn<QByteArrayList>("settings");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("everything changed")
        << QByteArrayList{"FREQ:PLLM 1", "FREQ:SET 3000", "FREQ:REF:DIV 8", "FREQ:REF:EXT 1",
                          "FREQ:REF:FREQ 50", "POWE:SET MIN", "POWE:RF 0"}
        << 2 << QByteArray("1,3000,8,1,50,1,-30,0");
    QTest::newRow("power value") << QByteArrayList{"POWE:SET -7.25", "POWE:RF 1"} << 5
                                 << QByteArray("0,2200,1,0,10,0,-7.25,1");
    QTest::newRow("power max") << QByteArrayList{"POWE:SET MAX", "FREQ:SET 35"} << 1
                               << QByteArray("0,35,1,0,10,2,10,1");
}

// Saving stores the live settings in a slot; loading brings them back.
void SimTest::savedStates()
{
    QFETCH(QByteArrayList, settings);
    QFETCH(int, slot);
    QFETCH(QByteArray, stored);
    // Each row starts afresh: init() switched to the built-in set in between.
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::SAVE1::INSTR", "idn": "x,774,S,V4.1.0",
                  "state": {"frequency": 2200}}]})");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::SAVE1::INSTR");
    QVERIFY(session != VI_NULL);
    QByteArray before;
    QCOMPARE(query(session, "SYST:READSTATE?", &before), VI_SUCCESS);

    for (const QByteArray &line : settings)
        QCOMPARE(send(session, line), VI_SUCCESS);
    QByteArray liveFrequency, livePower;
    QCOMPARE(query(session, "FREQ:SET?", &liveFrequency), VI_SUCCESS);
    QCOMPARE(query(session, "POWE:SET?", &livePower), VI_SUCCESS);
    QCOMPARE(send(session, "SYST:SAVESTATE " + QByteArray::number(slot)), VI_SUCCESS);
    QCOMPARE(send(session, "SYST:SAVESTATE 0"), VI_SUCCESS);

    QByteArray dump;
    QCOMPARE(query(session, "SYST:READSTATE?", &dump), VI_SUCCESS);
    QVERIFY(dump.endsWith('\n'));
    const QByteArrayList states = dump.chopped(1).split(';');
    const QByteArrayList original = before.chopped(1).split(';');
    QCOMPARE(states.size(), 6);
    QCOMPARE(states.at(slot), stored);
    QCOMPARE(states.at(0), original.at(0)); // state 0 cannot be overwritten
    for (int i = 1; i < 6; ++i) {
        if (i != slot)
            QCOMPARE(states.at(i), original.at(i));
    }

    // Load state 0 (the factory settings), then the saved slot again.
    QCOMPARE(send(session, "SYST:LOADSTATE 0"), VI_SUCCESS);
    QByteArray reply;
    QCOMPARE(query(session, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("2200\n"));
    QCOMPARE(send(session, "SYST:LOADSTATE " + QByteArray::number(slot)), VI_SUCCESS);
    QCOMPARE(query(session, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, liveFrequency);
    QCOMPARE(query(session, "POWE:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, livePower);
    visa.close(session);
}

// Six states of eight fields, initial values from "state" and
// "storedStates", and a reply that fits a 256-byte buffer even with the
// longest values.
void SimTest::stateDumpLayout()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x0013::DUMP1::INSTR", "idn": "x,VX27H774,DUMP1,V4.1.0",
        "state": {"frequency": 26.5, "power": -3, "pllMode": 1, "refDivider": 4,
                  "storedStates": [{}, {"frequency": 24.25, "powerLevel": "MAX", "rf": false},
                                   {"refExternal": true, "refFrequency": 100}]}}]})");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x0013::DUMP1::INSTR");
    QByteArray dump;
    QCOMPARE(query(session, "SYST:READSTATE?", &dump), VI_SUCCESS);
    QCOMPARE(dump, QByteArray("1,26.5,4,0,10,0,-3,1;1,24.25,4,0,10,2,10,0;1,26.5,4,1,100,0,-3,1;"
                              "1,26.5,4,0,10,0,-3,1;1,26.5,4,0,10,0,-3,1;1,26.5,4,0,10,0,-3,1\n"));

    // Longest values everywhere.
    for (const char *line : {"FREQ:SET 24.123457", "FREQ:REF:DIV 127", "FREQ:REF:FREQ 100",
                             "POWE:SET -29.99"}) {
        QCOMPARE(send(session, line), VI_SUCCESS);
    }
    for (int slot = 1; slot < 6; ++slot)
        QCOMPARE(send(session, "SYST:SAVESTATE " + QByteArray::number(slot)), VI_SUCCESS);
    QCOMPARE(query(session, "SYST:READSTATE?", &dump), VI_SUCCESS);
    const QByteArrayList states = dump.chopped(1).split(';');
    QCOMPARE(states.size(), 6);
    for (const QByteArray &state : states)
        QCOMPARE(state.split(',').size(), 8);
    QVERIFY2(dump.size() < 220, dump.constData());
    visa.close(session);
}

// Without a configuration: two supported instruments of different models
// and one outside the supported product ids.
void SimTest::builtInInstruments()
{
    QCOMPARE(search(manager, "USB?*"),
             QStringList({"USB0::0x3A7C::0x000F::QX10001::INSTR", "USB0::0x3A7C::0x0011::QX20002::INSTR",
                          "USB0::0x3A7C::0x0030::QX30003::INSTR"}));
    const struct
    {
        const char *name;
        const char *idn;
        double low, high;
    } expected[] = {
        {"USB0::0x3A7C::0x000F::QX10001::INSTR", "Quorvex Electronics,774-4400,QX10001,V4.1.0\n", 35, 4400},
        {"USB0::0x3A7C::0x0011::QX20002::INSTR", "Quorvex Electronics,VX27H774-20,QX20002,V3.2.0\n", 10, 20},
    };
    for (const auto &instrument : expected) {
        const ViSession session = openInstrument(manager, instrument.name);
        QByteArray reply;
        QCOMPARE(query(session, "*IDN?", &reply), VI_SUCCESS);
        QCOMPARE(reply, QByteArray(instrument.idn));
        QCOMPARE(query(session, "FREQ:SET?", &reply), VI_SUCCESS);
        bool ok = false;
        const double frequency = reply.trimmed().toDouble(&ok);
        QVERIFY(ok && frequency >= instrument.low && frequency <= instrument.high);
        visa.close(session);
    }
}

void SimTest::openFault()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::BUSY1::INSTR", "idn": "x,774,BUSY1,V4",
                  "faults": {"openStatus": -1073807246}}]})");
    ViSession session = 1234;
    QCOMPARE(visa.open(manager, "USB0::0x3A7C::0x000F::BUSY1::INSTR", VI_NULL, 0, &session),
             VI_ERROR_RSRC_BUSY);
    QCOMPARE(session, ViSession(VI_NULL));
    // It still shows up in searches.
    QCOMPARE(search(manager, "?*BUSY1?*"), QStringList{"USB0::0x3A7C::0x000F::BUSY1::INSTR"});
}

void SimTest::readFault()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::RDF1::INSTR", "idn": "x,774,RDF1,V4",
                  "faults": {"readStatus": {"FREQ:SET?": -1073807298, "NOREPLY?": -1073807194}}}]})");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::RDF1::INSTR");
    QByteArray reply;
    QCOMPARE(query(session, "freq:set?", &reply), VI_ERROR_IO);
    QVERIFY(reply.isEmpty());
    QCOMPARE(query(session, "NOREPLY?", &reply), VI_ERROR_CONN_LOST);
    QCOMPARE(query(session, "POWE:RF?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("1\n"));
    visa.close(session);
}

void SimTest::latencyOncePerMessage()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::SLOW1::INSTR", "idn": "x,774,SLOW1,V4",
                  "faults": {"latencyMs": 150, "timeoutMs": 1000}}]})");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::SLOW1::INSTR");
    QCOMPARE(send(session, "*IDN?"), VI_SUCCESS);
    ViByte buffer[64];
    ViUInt32 count = 0;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(visa.read(session, buffer, 4, &count), VI_SUCCESS_MAX_CNT);
    const qint64 first = timer.restart();
    QCOMPARE(visa.read(session, buffer, sizeof buffer, &count), VI_SUCCESS);
    const qint64 second = timer.elapsed();
    QVERIFY2(first >= 145 && first < 900, qPrintable(QString::number(first)));
    QVERIFY2(second < 100, qPrintable(QString::number(second)));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), int(count)), QByteArray("4,SLOW1,V4\n"));
    visa.close(session);
}

void SimTest::readTimeout()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::TMO1::INSTR", "idn": "x,774,TMO1,V4",
                  "faults": {"timeoutMs": 100}},
                 {"resource": "USB0::0x3A7C::0x000F::TMO2::INSTR", "idn": "x,774,TMO2,V4",
                  "faults": {"timeoutMs": 100, "latencyMs": 400}},
                 {"resource": "USB0::0x3A7C::0x000F::MUTE1::INSTR", "faults": {"timeoutMs": 50}}]})");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::TMO1::INSTR");
    ViUInt32 timeout = 0;
    QCOMPARE(visa.getAttribute(session, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
    QCOMPARE(timeout, ViUInt32(100));

    QByteArray reply;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(query(session, "UNKNOWN:QUERY?", &reply), VI_ERROR_TMO);
    qint64 waited = timer.restart();
    QVERIFY2(waited >= 95 && waited < 900, qPrintable(QString::number(waited)));

    QCOMPARE(visa.setAttribute(session, VI_ATTR_TMO_VALUE, 250), VI_SUCCESS);
    timer.restart();
    QCOMPARE(query(session, "UNKNOWN:QUERY?", &reply), VI_ERROR_TMO);
    waited = timer.restart();
    QVERIFY2(waited >= 245 && waited < 1000, qPrintable(QString::number(waited)));

    QCOMPARE(visa.setAttribute(session, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE), VI_SUCCESS);
    QCOMPARE(query(session, "UNKNOWN:QUERY?", &reply), VI_ERROR_TMO);
    QVERIFY(timer.elapsed() < 50);
    visa.close(session);

    // A reply slower than the timeout is not waited for.
    const ViSession slow = openInstrument(manager, "USB0::0x3A7C::0x000F::TMO2::INSTR");
    timer.restart();
    QCOMPARE(query(slow, "*IDN?", &reply), VI_ERROR_TMO);
    waited = timer.elapsed();
    QVERIFY2(waited >= 95 && waited < 390, qPrintable(QString::number(waited)));
    visa.close(slow);

    // Without an identification the instrument answers nothing at all.
    const ViSession mute = openInstrument(manager, "USB0::0x3A7C::0x000F::MUTE1::INSTR");
    QCOMPARE(query(mute, "*IDN?", &reply), VI_ERROR_TMO);
    visa.close(mute);
}

void SimTest::unplugAndReplug()
{
    const QByteArray name = "USB0::0x3A7C::0x000F::PLUG1::INSTR";
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::PLUG1::INSTR", "idn": "x,774,PLUG1,V4",
                  "faults": {"unplugAfter": 2}}]})");
    for (int i = 0; i < 2; ++i) {
        const ViSession session = openInstrument(manager, name.constData());
        QVERIFY(session != VI_NULL);
        QCOMPARE(visa.close(session), VI_SUCCESS);
    }
    ViSession session = VI_NULL;
    QCOMPARE(visa.open(manager, name.constData(), VI_NULL, 0, &session), VI_ERROR_RSRC_NFOUND);
    ViStatus status = VI_SUCCESS;
    QCOMPARE(search(manager, "?*PLUG1?*", &status), QStringList());
    QCOMPARE(status, VI_ERROR_RSRC_NFOUND);

    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::PLUG1::INSTR", "idn": "x,774,PLUG1,V4"}]})");
    QCOMPARE(search(manager, "?*PLUG1?*"), QStringList{QString::fromLatin1(name)});
    session = openInstrument(manager, name.constData());
    QVERIFY(session != VI_NULL);
    visa.close(session);
}

void SimTest::fixedReplies()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::FIX1::INSTR", "idn": "x,774,FIX1,V4.1.0",
        "replies": {"FREQ:SET?": "0", "Model:Name?": "custom text",
                    "RAW?": {"text": "no line feed", "lineFeed": false},
                    "BIG?": ")" + QByteArray(1000, 'x') + R"("}}]})");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::FIX1::INSTR");
    QByteArray reply;
    QCOMPARE(send(session, "FREQ:SET 100"), VI_SUCCESS);
    QCOMPARE(query(session, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("0\n"));
    QCOMPARE(query(session, "MODEL:NAME?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("custom text\n"));
    QCOMPARE(query(session, "RAW?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("no line feed"));

    QCOMPARE(send(session, "BIG?"), VI_SUCCESS);
    QByteArray big;
    const ViStatus expected[] = {VI_SUCCESS_MAX_CNT, VI_SUCCESS_MAX_CNT, VI_SUCCESS_MAX_CNT, VI_SUCCESS};
    const ViUInt32 sizes[] = {256, 256, 256, 233};
    for (int i = 0; i < 4; ++i) {
        ViByte buffer[256];
        ViUInt32 count = 0;
        QCOMPARE(visa.read(session, buffer, sizeof buffer, &count), expected[i]);
        QCOMPARE(count, sizes[i]);
        big.append(reinterpret_cast<char *>(buffer), int(count));
    }
    QCOMPARE(big, QByteArray(1000, 'x') + '\n');
    QCOMPARE(query(session, "*IDN?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("x,774,FIX1,V4.1.0\n"));

    // An unread reply is dropped by the next write.
    QCOMPARE(send(session, "BIG?"), VI_SUCCESS);
    QCOMPARE(query(session, "POWE:RF?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("1\n"));
    visa.close(session);
}

void SimTest::termCharEndsRead()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::TERM1::INSTR", "idn": "a,b,TERM1,V4"}]})");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::TERM1::INSTR");
    QCOMPARE(visa.setAttribute(session, VI_ATTR_TERMCHAR, ','), VI_SUCCESS);
    QCOMPARE(visa.setAttribute(session, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    QCOMPARE(send(session, "*IDN?"), VI_SUCCESS);
    ViByte buffer[64];
    ViUInt32 count = 0;
    QCOMPARE(visa.read(session, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), int(count)), QByteArray("a,"));
    QCOMPARE(visa.read(session, buffer, 1, &count), VI_SUCCESS_MAX_CNT);
    QCOMPARE(visa.read(session, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), int(count)), QByteArray(","));
    QCOMPARE(visa.setAttribute(session, VI_ATTR_TERMCHAR, '\n'), VI_SUCCESS);
    QCOMPARE(visa.read(session, buffer, sizeof buffer, &count), VI_SUCCESS_TERM_CHAR);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), int(count)), QByteArray("TERM1,V4\n"));
    visa.close(session);
}

void SimTest::emptySearch()
{
    useConfig(R"({"resources": []})");
    ViFindList list = 77;
    ViUInt32 count = 99;
    ViChar name[VI_FIND_BUFLEN];
    QCOMPARE(visa.findRsrc(manager, "USB?*", &list, &count, name), VI_ERROR_RSRC_NFOUND);
    QCOMPARE(count, ViUInt32(0));
    QCOMPARE(list, ViFindList(VI_NULL));
}

const QByteArray searchConfig = R"({"resources": [
  {"resource": "USB0::0x3A7C::0x000F::A1::INSTR"}, {"resource": "USB0::0x3A7C::0x0011::B2::INSTR"},
  {"resource": "USB1::0x1234::0x0001::C3::INSTR"}, {"resource": "GPIB0::12::INSTR"},
  {"resource": "TCPIP0::bench.example::inst0::INSTR"}, {"resource": "ASRL1::INSTR"}]})";

void SimTest::searchExpression_data()
{
    QTest::addColumn<QByteArray>("expression");
    QTest::addColumn<QString>("found");
    QTest::addColumn<ViStatus>("status");

    const QString a1 = "USB0::0x3A7C::0x000F::A1::INSTR", b2 = "USB0::0x3A7C::0x0011::B2::INSTR",
                  c3 = "USB1::0x1234::0x0001::C3::INSTR", gpib = "GPIB0::12::INSTR",
                  tcpip = "TCPIP0::bench.example::inst0::INSTR", asrl = "ASRL1::INSTR";
    const auto all = [](QStringList names) { return names.join(' '); };
    QTest::newRow("everything") << QByteArray("?*INSTR") << all({a1, b2, c3, gpib, tcpip, asrl}) << VI_SUCCESS;
    QTest::newRow("PyVISA default") << QByteArray("?*::INSTR") << all({a1, b2, c3, gpib, tcpip, asrl}) << VI_SUCCESS;
    QTest::newRow("USB") << QByteArray("USB?*") << all({a1, b2, c3}) << VI_SUCCESS;
    QTest::newRow("any case") << QByteArray("usb?*instr") << all({a1, b2, c3}) << VI_SUCCESS;
    QTest::newRow("board 0") << QByteArray("USB0?*") << all({a1, b2}) << VI_SUCCESS;
    QTest::newRow("whole name") << QByteArray("USB?") << QString() << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("alternatives") << QByteArray("GPIB?*|ASRL?*") << all({gpib, asrl}) << VI_SUCCESS;
    QTest::newRow("group") << QByteArray("(GPIB|ASRL)[0-9]::?*") << all({gpib, asrl}) << VI_SUCCESS;
    QTest::newRow("range") << QByteArray("USB0::0x3A7C::0x00[1-9]?*") << all({b2}) << VI_SUCCESS;
    QTest::newRow("negated list") << QByteArray("USB?::0x????::0x000[^1]?*") << all({a1}) << VI_SUCCESS;
    QTest::newRow("list") << QByteArray("?*::[AC][13]::INSTR") << all({a1, c3}) << VI_SUCCESS;
    QTest::newRow("plus") << QByteArray("AS+RL1::INSTR") << all({asrl}) << VI_SUCCESS;
    QTest::newRow("star of a group") << QByteArray("TCPIP0::(bench|\\.|example)*::?*") << all({tcpip}) << VI_SUCCESS;
    QTest::newRow("escaped") << QByteArray("?*\\?") << QString() << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("dot is literal") << QByteArray("TCPIP0::bench.example?*") << all({tcpip}) << VI_SUCCESS;
    QTest::newRow("dot is not any") << QByteArray("TCPIP0::bench.exampl.?*") << QString() << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("open list") << QByteArray("USB[0") << QString() << VI_ERROR_INV_EXPR;
    QTest::newRow("leading star") << QByteArray("*USB") << QString() << VI_ERROR_INV_EXPR;
    QTest::newRow("open group") << QByteArray("(USB?*") << QString() << VI_ERROR_INV_EXPR;
    QTest::newRow("attribute condition") << QByteArray("?*{VI_ATTR_INTF_NUM==0}") << QString() << VI_ERROR_INV_EXPR;
}

void SimTest::searchExpression()
{
    QFETCH(QByteArray, expression);
    QFETCH(QString, found);
    QFETCH(ViStatus, status);
    useConfig(searchConfig);
    ViStatus result = VI_SUCCESS;
    QCOMPARE(search(manager, expression.constData(), &result).join(' '), found);
    QCOMPARE(result, status);
}

void SimTest::openNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<ViStatus>("status");

    QTest::newRow("as configured") << QByteArray("USB0::0x3A7C::0x000F::NAME1::INSTR") << VI_SUCCESS;
    QTest::newRow("interface number") << QByteArray("USB0::0x3A7C::0x000F::NAME1::0::INSTR") << VI_SUCCESS;
    QTest::newRow("decimal ids") << QByteArray("USB0::14972::15::NAME1::INSTR") << VI_SUCCESS;
    QTest::newRow("short hex") << QByteArray("USB0::0x3a7c::0xF::NAME1::INSTR") << VI_SUCCESS;
    QTest::newRow("lower case") << QByteArray("usb0::0x3a7c::0x000f::NAME1::instr") << VI_SUCCESS;
    QTest::newRow("no board") << QByteArray("USB::0x3A7C::0x000F::NAME1::INSTR") << VI_SUCCESS;
    QTest::newRow("no class") << QByteArray("USB0::0x3A7C::0x000F::NAME1") << VI_SUCCESS;
    QTest::newRow("serial case") << QByteArray("USB0::0x3A7C::0x000F::name1::INSTR") << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("other model") << QByteArray("USB0::0x3A7C::0x0010::NAME1::INSTR") << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("other board") << QByteArray("USB1::0x3A7C::0x000F::NAME1::INSTR") << VI_ERROR_RSRC_NFOUND;
    QTest::newRow("no serial") << QByteArray("USB0::0x3A7C::0x000F::INSTR") << VI_ERROR_INV_RSRC_NAME;
    QTest::newRow("bad id") << QByteArray("USB0::0x3A7G::0x000F::NAME1::INSTR") << VI_ERROR_INV_RSRC_NAME;
    QTest::newRow("nonsense") << QByteArray("hello") << VI_ERROR_INV_RSRC_NAME;
}

void SimTest::openNames()
{
    QFETCH(QByteArray, name);
    QFETCH(ViStatus, status);
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::NAME1::INSTR", "idn": "x,774,NAME1,V4"}]})");
    ViSession session = VI_NULL;
    QCOMPARE(visa.open(manager, name.constData(), VI_NULL, 0, &session), status);
    if (status != VI_SUCCESS) {
        QCOMPARE(session, ViSession(VI_NULL));
        return;
    }
    ViChar resource[VI_FIND_BUFLEN] = {};
    QCOMPARE(visa.getAttribute(session, VI_ATTR_RSRC_NAME, resource), VI_SUCCESS);
    QCOMPARE(QByteArray(resource), QByteArray("USB0::0x3A7C::0x000F::NAME1::INSTR"));
    QCOMPARE(visa.close(session), VI_SUCCESS);
}

void SimTest::parseResource_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<ViStatus>("status");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("board");
    QTest::addColumn<QByteArray>("resourceClass");
    QTest::addColumn<QByteArray>("expanded");

    QTest::newRow("configured USB") << QByteArray("USB0::0x3A7C::0x000F::PARSE1::0::INSTR") << VI_SUCCESS
                                    << int(VI_INTF_USB) << 0 << QByteArray("INSTR")
                                    << QByteArray("USB0::0x3A7C::0x000F::PARSE1::INSTR");
    QTest::newRow("other USB") << QByteArray("usb3::15::0x20::S") << VI_SUCCESS << int(VI_INTF_USB) << 3
                               << QByteArray("INSTR") << QByteArray("USB3::0x000F::0x0020::S::INSTR");
    QTest::newRow("GPIB") << QByteArray("GPIB1::12::INSTR") << VI_SUCCESS << int(VI_INTF_GPIB) << 1
                          << QByteArray("INSTR") << QByteArray("GPIB1::12::INSTR");
    QTest::newRow("TCPIP") << QByteArray("TCPIP0::Bench.Example::INSTR") << VI_SUCCESS << int(VI_INTF_TCPIP)
                           << 0 << QByteArray("INSTR") << QByteArray("TCPIP0::bench.example::inst0::INSTR");
    QTest::newRow("socket") << QByteArray("TCPIP0::bench.example::5025::SOCKET") << VI_SUCCESS
                            << int(VI_INTF_TCPIP) << 0 << QByteArray("SOCKET")
                            << QByteArray("TCPIP0::bench.example::5025::SOCKET");
    QTest::newRow("serial") << QByteArray("ASRL2::INSTR") << VI_SUCCESS << int(VI_INTF_ASRL) << 2
                            << QByteArray("INSTR") << QByteArray("ASRL2::INSTR");
    QTest::newRow("USB without serial") << QByteArray("USB0::0x3A7C::0x000F") << VI_ERROR_INV_RSRC_NAME << 0
                                        << 0 << QByteArray() << QByteArray();
    QTest::newRow("unknown interface") << QByteArray("COM1") << VI_ERROR_INV_RSRC_NAME << 0 << 0
                                       << QByteArray() << QByteArray();
}

void SimTest::parseResource()
{
    QFETCH(QByteArray, name);
    QFETCH(ViStatus, status);
    QFETCH(int, type);
    QFETCH(int, board);
    QFETCH(QByteArray, resourceClass);
    QFETCH(QByteArray, expanded);
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::PARSE1::INSTR"}]})");
    ViUInt16 intfType = 99, intfNum = 99;
    ViChar cls[VI_FIND_BUFLEN] = {}, full[VI_FIND_BUFLEN] = {}, alias[VI_FIND_BUFLEN] = {'?', 0};
    QCOMPARE(visa.parseRsrcEx(manager, name.constData(), &intfType, &intfNum, cls, full, alias), status);
    if (status != VI_SUCCESS)
        return;
    QCOMPARE(int(intfType), type);
    QCOMPARE(int(intfNum), board);
    QCOMPARE(QByteArray(cls), resourceClass);
    QCOMPARE(QByteArray(full), expanded);
    QCOMPARE(QByteArray(alias), QByteArray());
    intfType = intfNum = 99;
    QCOMPARE(visa.parseRsrc(manager, name.constData(), &intfType, &intfNum), VI_SUCCESS);
    QCOMPARE(int(intfType), type);
}

// The file is read again when it changes; instruments that stay keep their
// state, removed ones cut their sessions off.
void SimTest::reloadWhileRunning()
{
    const char *a = "USB0::0x3A7C::0x000F::RELOAD_A::INSTR";
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::RELOAD_A::INSTR", "idn": "x,774,A,V4",
                  "state": {"frequency": 100}}]})");
    const ViSession session = openInstrument(manager, a);
    QCOMPARE(send(session, "FREQ:SET 200"), VI_SUCCESS);

    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::RELOAD_A::INSTR", "idn": "x,774,A,V4",
                                 "state": {"frequency": 300}},
                                {"resource": "USB0::0x3A7C::0x0010::RELOAD_B::INSTR", "idn": "x,774,B,V4"}]})");
    QCOMPARE(search(manager, "?*RELOAD?*"),
             QStringList({QString::fromLatin1(a), "USB0::0x3A7C::0x0010::RELOAD_B::INSTR"}));
    QByteArray reply;
    QCOMPARE(query(session, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("200\n"));

    QCOMPARE(send(session, "FREQ:SET?"), VI_SUCCESS);
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x0010::RELOAD_B::INSTR", "idn": "x,774,B,V4"}]})");
    ViByte buffer[16];
    ViUInt32 count = 0;
    QCOMPARE(visa.read(session, buffer, sizeof buffer, &count), VI_ERROR_CONN_LOST);
    QCOMPARE(send(session, "FREQ:SET?"), VI_ERROR_CONN_LOST);
    QCOMPARE(visa.close(session), VI_SUCCESS);
    ViSession again = VI_NULL;
    QCOMPARE(visa.open(manager, a, VI_NULL, 0, &again), VI_ERROR_RSRC_NFOUND);

    // Back again, it is a new instrument with the configured state.
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::RELOAD_A::INSTR", "idn": "x,774,A,V4",
                  "state": {"frequency": 300}}]})");
    again = openInstrument(manager, a);
    QCOMPARE(query(again, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("300\n"));

    // Another file is another bench: the same instrument there starts
    // afresh, and sessions to the old one are cut off.
    QCOMPARE(send(again, "FREQ:SET 400"), VI_SUCCESS);
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x0012::OTHER::INSTR"},
                                {"resource": "USB0::0x3A7C::0x000F::RELOAD_A::INSTR", "idn": "x,774,A,V4",
                                 "state": {"frequency": 300}}]})",
              QStringLiteral("other.json"));
    QCOMPARE(search(manager, "?*"), QStringList({"USB0::0x3A7C::0x0012::OTHER::INSTR", QString::fromLatin1(a)}));
    QCOMPARE(send(again, "FREQ:SET?"), VI_ERROR_CONN_LOST);
    visa.close(again);
    again = openInstrument(manager, a);
    QCOMPARE(query(again, "FREQ:SET?", &reply), VI_SUCCESS);
    QCOMPARE(reply, QByteArray("300\n"));
    visa.close(again);
}

// A read waiting for a reply gives the mutex up: another thread's call can
// remove the instrument, and the waiting read ends with the lost connection.
void SimTest::removalWakesBlockedRead()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::WAKE1::INSTR", "idn": "x,774,WAKE1,V4",
                  "faults": {"timeoutMs": 5000}}]})");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::WAKE1::INSTR");
    QCOMPARE(send(session, "NO:REPLY?"), VI_SUCCESS);
    std::atomic<ViStatus> status{VI_SUCCESS};
    QElapsedTimer timer;
    timer.start();
    std::thread reader([&] {
        ViByte buffer[16];
        ViUInt32 count = 0;
        status = visa.read(session, buffer, sizeof buffer, &count);
    });
    QThread::msleep(100);
    useConfig(R"({"resources": []})");
    search(manager, "?*");
    reader.join();
    QCOMPARE(status.load(), VI_ERROR_CONN_LOST);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    visa.close(session);
}

void SimTest::badConfiguration_data()
{
    QTest::addColumn<QByteArray>("contents"); // "<missing>" and "<directory>" stand for paths
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("missing file") << QByteArray("<missing>") << QStringList{"cannot be read"} << QStringList();
    QTest::newRow("directory") << QByteArray("<directory>") << QStringList{"cannot be read"} << QStringList();
    QTest::newRow("malformed") << QByteArray(R"({"resources": [)") << QStringList{"malformed JSON"} << QStringList();
    QTest::newRow("not an object") << QByteArray("[1, 2]") << QStringList{"expected an object"} << QStringList();
    QTest::newRow("no resources") << QByteArray(R"({"resources": 3})") << QStringList{"resources: expected an array"}
                                  << QStringList();
    QTest::newRow("wrong types")
        << QByteArray(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::W1::INSTR", "idn": 5,
              "state": {"frequency": "high", "rf": 1}, "replies": {"A?": 3},
              "faults": {"latencyMs": "slow", "openStatus": 5, "readStatus": {"B?": "x"}}}]})")
        << QStringList{"resources[0].idn", "resources[0].state.frequency", "resources[0].state.rf",
                       "resources[0].replies.A?", "resources[0].faults.openStatus",
                       "resources[0].faults.latencyMs", "resources[0].faults.readStatus.B?"}
        << QStringList{"USB0::0x3A7C::0x000F::W1::INSTR"};
    QTest::newRow("unknown keys")
        << QByteArray(R"({"extra": 1, "resources": [{"resource": "USB0::0x3A7C::0x000F::K1::INSTR",
              "colour": "red", "state": {"hue": 1, "storedStates": [{"tint": 2}]}, "faults": {"sparkle": true},
              "replies": {"A?": {"text": "a", "font": "b"}}}]})")
        << QStringList{"extra", "resources[0].colour", "resources[0].state.hue",
                       "resources[0].state.storedStates[0].tint", "resources[0].replies.A?.font",
                       "resources[0].faults.sparkle"}
        << QStringList{"USB0::0x3A7C::0x000F::K1::INSTR"};
    QTest::newRow("bad entries")
        << QByteArray(R"({"resources": [{"idn": "x"}, {"resource": "nonsense"}, 7,
              {"resource": "USB0::0x3A7C::0x000F::OK1::INSTR"}, {"resource": "USB0::14972::15::OK1::INSTR"}]})")
        << QStringList{"resources[0].resource", "resources[1].resource", "resources[2]",
                       "resources[4].resource"}
        << QStringList{"USB0::0x3A7C::0x000F::OK1::INSTR"};
    QTest::newRow("out of range")
        << QByteArray(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::R1::INSTR",
              "state": {"refDivider": 0, "bootState": 6, "storedStates": [{}, {}, {}, {}, {}, {}, {}]},
              "faults": {"timeoutMs": -1}}]})")
        << QStringList{"resources[0].state.refDivider", "resources[0].state.bootState",
                       "resources[0].state.storedStates", "resources[0].faults.timeoutMs"}
        << QStringList{"USB0::0x3A7C::0x000F::R1::INSTR"};
}

void SimTest::badConfiguration()
{
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, problems);
    QFETCH(QStringList, found);

    QString path;
    if (contents == "<missing>") {
        path = dir.filePath(QStringLiteral("missing.json"));
    } else if (contents == "<directory>") {
        path = dir.path();
    } else {
        useConfig(contents, QStringLiteral("bad.json"));
        path = dir.filePath(QStringLiteral("bad.json"));
    }
    qputenv("USBSYNTH_SIM_CONFIG", QFile::encodeName(path));

    StderrCapture capture(dir.filePath(QStringLiteral("stderr.txt")));
    const QStringList listed = search(manager, "?*");
    const QByteArray output = capture.finish();
    QCOMPARE(listed, found);

    const QStringList lines = QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), problems.size());
    for (int i = 0; i < lines.size(); ++i) {
        QVERIFY2(lines[i].contains(path), qPrintable(lines[i]));
        QVERIFY2(lines[i].contains(problems[i]), qPrintable(lines[i] + " lacks " + problems[i]));
    }

    // Reported once per load, not on every call.
    StderrCapture again(dir.filePath(QStringLiteral("stderr2.txt")));
    search(manager, "?*");
    QCOMPARE(again.finish(), QByteArray());
}

void SimTest::traceFormat()
{
    const QString tracePath = dir.filePath(QStringLiteral("trace.txt"));
    QFile::remove(tracePath);
    useConfig(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x000F::TRACE1::INSTR", "idn": "Quorvex Electronics,774-4400,TRACE1,V4.1.0",
         "replies": {"TWO?": "first\nsecond"}, "faults": {"timeoutMs": 50}},
        {"resource": "USB0::0x3A7C::0x0010::TRACE2::INSTR", "faults": {"openStatus": -1073807246}}]})");
    qputenv("USBSYNTH_SIM_TRACE", QFile::encodeName(tracePath));

    const ViSession rm = openManager();
    const ViSession session = openInstrument(rm, "usb0::0x3A7C::15::TRACE1::0::INSTR");
    ViSession failed = VI_NULL;
    visa.open(rm, "USB0::0x3A7C::0x0010::TRACE2::INSTR", VI_NULL, 0, &failed);
    visa.open(rm, "USB0::0x3A7C::0x0010::NOSUCH::INSTR", VI_NULL, 0, &failed);
    QCOMPARE(send(session, "*IDN?\r\n"), VI_SUCCESS);
    ViByte buffer[64];
    ViUInt32 count = 0;
    QCOMPARE(visa.read(session, buffer, 5, &count), VI_SUCCESS_MAX_CNT);
    QCOMPARE(visa.read(session, buffer, sizeof buffer, &count), VI_SUCCESS);
    QByteArray reply;
    QCOMPARE(query(session, "SYST:TEMPTHRES 40\nSYST:TEMPTHRES?\n", &reply), VI_SUCCESS);
    QCOMPARE(query(session, "TWO?", &reply), VI_SUCCESS);
    QCOMPARE(query(session, "NO:SUCH?", &reply), VI_ERROR_TMO);
    const ViSession second = openInstrument(rm, "USB0::0x3A7C::0x000F::TRACE1::INSTR");
    QVERIFY(second != VI_NULL);
    QCOMPARE(visa.close(session), VI_SUCCESS);
    QCOMPARE(visa.close(rm), VI_SUCCESS);

    QFile file(tracePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(file.readAll()).split('\n');
    const QString t1 = "USB0::0x3A7C::0x000F::TRACE1::INSTR";
    const QStringList expected = {
        "O DefaultRM",
        "O " + t1,
        "F USB0::0x3A7C::0x0010::TRACE2::INSTR",
        "F USB0::0x3A7C::0x0010::NOSUCH::INSTR",
        "W " + t1 + " *IDN?",
        "R " + t1 + " Quorvex Electronics,774-4400,TRACE1,V4.1.0",
        "W " + t1 + " SYST:TEMPTHRES 40\\nSYST:TEMPTHRES?",
        "R " + t1 + " 40",
        "W " + t1 + " TWO?",
        "R " + t1 + " first\\nsecond",
        "W " + t1 + " NO:SUCH?",
        "O " + t1,
        "C " + t1,
        "C " + t1,
        "C DefaultRM",
        "",
    };
    QCOMPARE(lines.size(), expected.size());
    const QRegularExpression stamp(QStringLiteral("^(\\d+) (.*)$"));
    qlonglong previous = 0;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const auto match = stamp.match(lines[i]);
        QVERIFY2(match.hasMatch(), qPrintable(lines[i]));
        QCOMPARE(match.captured(2), expected[i]);
        QVERIFY(match.captured(1).toLongLong() >= previous);
        previous = match.captured(1).toLongLong();
    }
    QCOMPARE(lines.last(), QString());
}

void SimTest::handlesAndClose()
{
    QCOMPARE(visa.close(VI_NULL), VI_WARN_NULL_OBJECT);
    QVERIFY(VI_WARN_NULL_OBJECT > 0);
    QCOMPARE(visa.close(0x7FFFFFF0), VI_ERROR_INV_OBJECT);

    const char *name = "USB0::0x3A7C::0x000F::QX10001::INSTR";
    const ViSession stale = openInstrument(manager, name);
    QCOMPARE(visa.close(stale), VI_SUCCESS);
    QCOMPARE(visa.close(stale), VI_ERROR_INV_OBJECT);
    QSet<ViSession> handles;
    for (int i = 0; i < 20; ++i) {
        const ViSession session = openInstrument(manager, name);
        QVERIFY(session != stale && !handles.contains(session));
        handles.insert(session);
    }
    QCOMPARE(send(stale, "*IDN?"), VI_ERROR_INV_OBJECT);
    for (ViSession session : handles)
        QCOMPARE(visa.close(session), VI_SUCCESS);

    // Closing a resource manager closes its sessions and find lists.
    const ViSession rm = openManager();
    const ViSession child = openInstrument(rm, name);
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    ViChar found[VI_FIND_BUFLEN];
    QCOMPARE(visa.findRsrc(rm, "?*", &list, &count, found), VI_SUCCESS);
    QCOMPARE(visa.close(rm), VI_SUCCESS);
    QCOMPARE(send(child, "*IDN?"), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.findNext(list, found), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.close(child), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.close(rm), VI_ERROR_INV_OBJECT);
    ViSession session = VI_NULL;
    QCOMPARE(visa.open(rm, name, VI_NULL, 0, &session), VI_ERROR_INV_OBJECT);
}

void SimTest::attributes_data()
{
    QTest::addColumn<bool>("onManager");
    QTest::addColumn<ViAttr>("attribute");
    QTest::addColumn<ViStatus>("status");
    QTest::addColumn<int>("width"); // bytes written; 0 for strings
    QTest::addColumn<qulonglong>("number");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("timeout") << false << ViAttr(VI_ATTR_TMO_VALUE) << VI_SUCCESS << 4 << 2000ull << QByteArray();
    QTest::newRow("termchar") << false << ViAttr(VI_ATTR_TERMCHAR) << VI_SUCCESS << 1 << 10ull << QByteArray();
    QTest::newRow("termchar enabled") << false << ViAttr(VI_ATTR_TERMCHAR_EN) << VI_SUCCESS << 2 << 0ull << QByteArray();
    QTest::newRow("interface type") << false << ViAttr(VI_ATTR_INTF_TYPE) << VI_SUCCESS << 2 << 7ull << QByteArray();
    QTest::newRow("interface number") << false << ViAttr(VI_ATTR_INTF_NUM) << VI_SUCCESS << 2 << 0ull << QByteArray();
    QTest::newRow("name") << false << ViAttr(VI_ATTR_RSRC_NAME) << VI_SUCCESS << 0 << 0ull
                          << QByteArray("USB0::0x3A7C::0x000F::QX10001::INSTR");
    QTest::newRow("class") << false << ViAttr(VI_ATTR_RSRC_CLASS) << VI_SUCCESS << 0 << 0ull << QByteArray("INSTR");
    QTest::newRow("unsupported") << false << ViAttr(0x3FFF0099u) << VI_ERROR_NSUP_ATTR << 0 << 0ull << QByteArray();
    QTest::newRow("manager vendor") << true << ViAttr(VI_ATTR_RSRC_MANF_NAME) << VI_SUCCESS << 0 << 0ull
                                    << QByteArray("usbsynth simulated instruments");
    QTest::newRow("manager timeout") << true << ViAttr(VI_ATTR_TMO_VALUE) << VI_SUCCESS << 4 << 2000ull << QByteArray();
    QTest::newRow("manager termchar") << true << ViAttr(VI_ATTR_TERMCHAR) << VI_ERROR_NSUP_ATTR << 0 << 0ull << QByteArray();
}

void SimTest::attributes()
{
    QFETCH(bool, onManager);
    QFETCH(ViAttr, attribute);
    QFETCH(ViStatus, status);
    QFETCH(int, width);
    QFETCH(qulonglong, number);
    QFETCH(QByteArray, text);

    const ViSession session = onManager ? manager : openInstrument(manager, "USB0::0x3A7C::0x000F::QX10001::INSTR");
    unsigned char buffer[VI_FIND_BUFLEN + 8];
    std::memset(buffer, 0xCC, sizeof buffer);
    QCOMPARE(visa.getAttribute(session, attribute, buffer), status);
    if (status == VI_SUCCESS && width > 0) {
        qulonglong value = 0;
        std::memcpy(&value, buffer, size_t(width));
        QCOMPARE(value, number);
        for (size_t i = size_t(width); i < sizeof buffer; ++i)
            QCOMPARE(int(buffer[i]), 0xCC);
    } else if (status == VI_SUCCESS) {
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer)), text);
    }
    if (!onManager)
        visa.close(session);
}

// Invalid handles, null pointers and bad values give an error status and
// never a crash.
void SimTest::badArguments()
{
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::QX10001::INSTR");
    const ViSession unknown = 0x7FFFFFF0;
    ViUInt32 count = 0;
    ViChar text[VI_FIND_BUFLEN];
    ViByte bytes[8];
    QCOMPARE(visa.openDefaultRM(nullptr), VI_ERROR_USER_BUF);
    QCOMPARE(visa.findRsrc(unknown, "?*", nullptr, nullptr, nullptr), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.findRsrc(manager, nullptr, nullptr, &count, text), VI_ERROR_INV_EXPR);
    QVERIFY(visa.findRsrc(manager, "?*", nullptr, nullptr, nullptr) >= VI_SUCCESS);
    QCOMPARE(visa.findNext(unknown, text), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.open(manager, nullptr, VI_NULL, 0, &count), VI_ERROR_INV_RSRC_NAME);
    QCOMPARE(visa.open(manager, "USB0::0x3A7C::0x000F::QX10001::INSTR", VI_NULL, 0, nullptr), VI_ERROR_USER_BUF);
    QCOMPARE(visa.parseRsrcEx(manager, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), VI_ERROR_INV_RSRC_NAME);
    QCOMPARE(visa.parseRsrcEx(manager, "ASRL1::INSTR", nullptr, nullptr, nullptr, nullptr, nullptr), VI_SUCCESS);
    QCOMPARE(visa.parseRsrc(unknown, "ASRL1::INSTR", nullptr, nullptr), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.write(session, nullptr, 5, &count), VI_ERROR_USER_BUF);
    QCOMPARE(visa.write(unknown, bytes, 1, &count), VI_ERROR_INV_OBJECT);
    QCOMPARE(send(session, "*IDN?"), VI_SUCCESS);
    QCOMPARE(visa.read(session, nullptr, 5, &count), VI_ERROR_USER_BUF);
    QCOMPARE(visa.read(session, bytes, sizeof bytes, nullptr), VI_SUCCESS_MAX_CNT);
    QCOMPARE(visa.read(unknown, bytes, sizeof bytes, &count), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.getAttribute(session, VI_ATTR_TMO_VALUE, nullptr), VI_ERROR_USER_BUF);
    QCOMPARE(visa.getAttribute(unknown, VI_ATTR_TMO_VALUE, &count), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.setAttribute(session, VI_ATTR_TERMCHAR, 0x100), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(visa.setAttribute(session, VI_ATTR_TERMCHAR_EN, 2), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(visa.setAttribute(session, VI_ATTR_RSRC_NAME, 0), VI_ERROR_ATTR_READONLY);
    QCOMPARE(visa.setAttribute(session, 0x3FFF0099u, 0), VI_ERROR_NSUP_ATTR);
    QCOMPARE(visa.statusDesc(session, VI_ERROR_TMO, nullptr), VI_ERROR_USER_BUF);
    QCOMPARE(visa.printf(session, nullptr), VI_ERROR_USER_BUF);
    QCOMPARE(visa.printf(session, "%s", static_cast<const char *>(nullptr)), VI_ERROR_USER_BUF);
    QCOMPARE(visa.printf(session, "%q"), InvalidFormat);
    QCOMPARE(visa.printf(session, "%99999d", 1), InvalidFormat);
    QCOMPARE(visa.printf(unknown, "*IDN?\n"), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.scanf(session, nullptr), VI_ERROR_USER_BUF);
    QCOMPARE(visa.printf(session, "FREQ:REF:DIV?\n"), VI_SUCCESS);
    QCOMPARE(visa.scanf(session, "%d", static_cast<int *>(nullptr)), VI_ERROR_USER_BUF);
    QCOMPARE(visa.printf(session, "*IDN?\n"), VI_SUCCESS);
    int number = 0;
    QCOMPARE(visa.scanf(session, "%d", &number), InvalidFormat);
    QCOMPARE(visa.disableEvent(unknown, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_ERROR_INV_OBJECT);
    QCOMPARE(visa.disableEvent(session, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS);
    QCOMPARE(visa.discardEvents(session, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS);

    QCOMPARE(visa.statusDesc(session, VI_ERROR_RSRC_NFOUND, text), VI_SUCCESS);
    QVERIFY(std::strlen(text) > 10);
    QCOMPARE(visa.statusDesc(session, ViStatus(0xBFFF0ABC), text), VI_WARN_UNKNOWN_STATUS);
    visa.close(session);
}

void SimTest::formattedIo()
{
    const QString tracePath = dir.filePath(QStringLiteral("printf.txt"));
    QFile::remove(tracePath);
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::FMT1::INSTR",
        "idn": "Quorvex Electronics,774-4400,FMT1,V4.1.0", "faults": {"timeoutMs": 50},
        "replies": {"BIG?": ")" + QByteArray(1000, 'y') + R"(", "NUMBERS?": " -17 0x1F 2.5e3 12 tail"}}]})");
    qputenv("USBSYNTH_SIM_TRACE", QFile::encodeName(tracePath));
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::FMT1::INSTR");

    QCOMPARE(visa.printf(session, "FREQ:SET %d\n", 3000), VI_SUCCESS);
    QCOMPARE(visa.printf(session, "FREQ:SET?\n"), VI_SUCCESS);
    char buffer[VI_FIND_BUFLEN];
    std::memset(buffer, 'Z', sizeof buffer);
    QCOMPARE(visa.scanf(session, "%t", buffer), VI_SUCCESS);
    QCOMPARE(QByteArray(buffer), QByteArray("3000\n"));

    QCOMPARE(visa.printf(session, "%s", "SYST:TEMPTHRES 12.5\n"), VI_SUCCESS);
    QCOMPARE(visa.printf(session, "SYST:TEMPTHRES?\\n"), VI_SUCCESS); // VISA's own escape
    float threshold = 0;
    QCOMPARE(visa.scanf(session, "%f", &threshold), VI_SUCCESS);
    QCOMPARE(threshold, 12.5f);

    QCOMPARE(visa.printf(session, "NUMBERS?\n"), VI_SUCCESS);
    int negative = 0;
    ViInt32 hex = 0;
    double real = 0;
    char word[8] = {};
    QCOMPARE(visa.scanf(session, "%d %lx%lf %*d %3s", &negative, &hex, &real, word), VI_SUCCESS);
    QCOMPARE(negative, -17);
    QCOMPARE(hex, ViInt32(0x1F));
    QCOMPARE(real, 2500.0);
    QCOMPARE(QByteArray(word), QByteArray("tai"));

    QCOMPARE(visa.printf(session, "*IDN?\n"), VI_SUCCESS);
    QCOMPARE(visa.scanf(session, "%s", buffer), VI_SUCCESS);
    QCOMPARE(QByteArray(buffer), QByteArray("Quorvex"));

    // %t without a width keeps 255 characters and drops the rest.
    QCOMPARE(visa.printf(session, "BIG?\n"), VI_SUCCESS);
    std::memset(buffer, 'Z', sizeof buffer);
    QCOMPARE(visa.scanf(session, "%t", buffer), VI_SUCCESS);
    QCOMPARE(std::strlen(buffer), size_t(255));
    ViUInt32 count = 0;
    QCOMPARE(visa.read(session, reinterpret_cast<ViByte *>(buffer), 16, &count), VI_ERROR_TMO);

    QCOMPARE(visa.printf(session, "A%5.2f|%-4d|%x|%%|%c|%s|%ld|%lld\n", 3.14159, 7, 255, 'z', "s",
                         ViInt32(-5), 1LL << 40),
             VI_SUCCESS);
    visa.close(session);

    QFile trace(tracePath);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QByteArray lines = trace.readAll();
    QVERIFY2(lines.contains(" W USB0::0x3A7C::0x000F::FMT1::INSTR A 3.14|7   |ff|%|z|s|-5|1099511627776\n"),
             lines.constData());
}

// Numbers go out and come in with a decimal point under any locale.
void SimTest::formattedIoIgnoresLocale()
{
    const char *previous = std::setlocale(LC_ALL, nullptr);
    const QByteArray saved = previous ? QByteArray(previous) : QByteArray("C");
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE"))
        QSKIP("no comma-decimal locale installed");
    const ViSession session = openInstrument(manager, "USB0::0x3A7C::0x000F::QX10001::INSTR");
    const ViStatus written = visa.printf(session, "SYST:TEMPTHRES %.2f\n", 42.25);
    visa.printf(session, "SYST:TEMPTHRES?\n");
    double threshold = 0;
    const ViStatus read = visa.scanf(session, "%lf", &threshold);
    std::setlocale(LC_ALL, saved.constData());
    visa.close(session);
    QCOMPARE(written, VI_SUCCESS);
    QCOMPARE(read, VI_SUCCESS);
    QCOMPARE(threshold, 42.25);
}

// Sessions used from several threads at once each get their own replies.
void SimTest::concurrentSessions()
{
    useConfig(R"({"resources": [{"resource": "USB0::0x3A7C::0x000F::MT1::INSTR", "idn": "x,774,MT1,V4",
                                 "state": {"refDivider": 5}},
                                {"resource": "USB0::0x3A7C::0x0011::MT2::INSTR", "idn": "x,774,MT2,V4"}]})");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            ViSession rm = VI_NULL;
            visa.openDefaultRM(&rm);
            const char *name = t % 2 ? "USB0::0x3A7C::0x0011::MT2::INSTR" : "USB0::0x3A7C::0x000F::MT1::INSTR";
            const QByteArray idn = t % 2 ? "x,774,MT2,V4\n" : "x,774,MT1,V4\n";
            for (int i = 0; i < 50; ++i) {
                ViSession session = VI_NULL;
                if (visa.open(rm, name, VI_NULL, 0, &session) != VI_SUCCESS) {
                    ++failures;
                    continue;
                }
                QByteArray reply;
                if (query(session, i % 2 ? "*IDN?" : "FREQ:REF:DIV?", &reply) != VI_SUCCESS
                    || reply != (i % 2 ? idn : QByteArray(t % 2 ? "1\n" : "5\n")))
                    ++failures;
                visa.close(session);
            }
            visa.close(rm);
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);
}

QTEST_GUILESS_MAIN(SimTest)
#include "tst_sim.moc"
