// Loading a VISA library at run time, and bounded I/O through it, against
// the simulated instruments.
#include "link/visa.h"
#include "link/visadefs.h"
#include "link/visalibrary.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_visalibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void loads_data();
    void loads();
    void platformCandidates();
    void missingLibraryFailsEveryCall();
    void boundedReads_data();
    void boundedReads();
    void silentInstrumentTimesOut();
    void percentIsNotADirective();
    void searchMatchingNothing();

private:
    void writeConfig(const QByteArray &json);
    QStringList trace() const;

    QTemporaryDir dir;
    QString simPath;
};

void tst_visalibrary::initTestCase()
{
    QVERIFY(dir.isValid());
    simPath = qEnvironmentVariable("USBSYNTH_VISA_LIBRARY");
    QVERIFY2(QFile::exists(simPath), qPrintable(simPath));
    qputenv("USBSYNTH_SIM_TRACE", dir.filePath("trace.txt").toLocal8Bit());
    writeConfig(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x0010::LONG1::INSTR", "idn": "Q,774,LONG1,V4.1",
         "replies": {"BIG?": "%1", "BARE?": {"text": "12.5", "lineFeed": false}},
         "faults": {"timeoutMs": 50}},
        {"resource": "USB0::0x3A7C::0x0011::MUTE1::INSTR", "faults": {"timeoutMs": 50}}
    ]})");
}

void tst_visalibrary::cleanup()
{
    QFile::remove(dir.filePath("trace.txt"));
}

void tst_visalibrary::writeConfig(const QByteArray &json)
{
    QByteArray text = json;
    // A reply of exactly 1000 characters with a recognisable end.
    text.replace("%1", QByteArray(996, 'x') + "TAIL");
    QFile file(dir.filePath("sim.json"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    qputenv("USBSYNTH_SIM_CONFIG", dir.filePath("sim.json").toLocal8Bit());
}

QStringList tst_visalibrary::trace() const
{
    QFile file(dir.filePath("trace.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines << QString::fromUtf8(line.mid(line.indexOf(' ') + 1)); // drop the time stamp
    }
    return lines;
}

void tst_visalibrary::loads_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("reported");

    QTest::newRow("the simulator by path") << QString() << true << QString();
    QTest::newRow("the word sim finds it beside the executable") << "sim" << true << QString();
    QTest::newRow("a path that does not exist") << "/nonexistent/libvisa.so" << false << "/nonexistent/libvisa.so";
    QTest::newRow("a name that does not exist") << "novisa-here" << false << "novisa-here";
    QTest::newRow("a library lacking functions") << "partial" << false
                                                 << "lacks viFindRsrc, viFindNext, viClose, viRead, viWrite";
    QTest::newRow("not a library at all") << "textfile" << false << "textfile";
}

void tst_visalibrary::loads()
{
    QFETCH(QString, choice);
    QFETCH(bool, loaded);
    QFETCH(QString, reported);

    if (choice.isEmpty())
        choice = simPath;
    else if (choice == QLatin1String("partial"))
        choice = QCoreApplication::applicationDirPath() + QStringLiteral("/libusbsynth-test-partialvisa.so");
    else if (choice == QLatin1String("textfile")) {
        choice = dir.filePath("textfile.so");
        QFile text(choice);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a shared object\n");
    }
    if (!loaded)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^No VISA library could be used; tried: ")));

    VisaLibrary library(choice);
    QCOMPARE(library.isLoaded(), loaded);
    QCOMPARE(library.failureReport().isEmpty(), loaded);
    QVERIFY2(library.failureReport().contains(reported), qPrintable(library.failureReport()));
    if (!loaded)
        return;
    visa::Session rm = 0;
    QCOMPARE(library.openDefaultRM(&rm), VI_SUCCESS);
    QVERIFY(rm != visa::NullSession);
    QVERIFY(library.close(rm) >= 0);
}

void tst_visalibrary::platformCandidates()
{
    const QStringList names = VisaLibrary::candidates(QString());
    QVERIFY(!names.isEmpty());
    QCOMPARE(names.first(), QStringLiteral("libvisa.so"));
    QVERIFY(names.contains(QStringLiteral("/opt/keysight/iolibs/libktvisa32.so")));
    QVERIFY(names.contains(QStringLiteral("/usr/local/vxipnp/linux/lib64/libvisa.so")));
    QCOMPARE(names.last(), QStringLiteral("/usr/lib/librsvisa.so"));

    const QStringList sim = VisaLibrary::candidates(QStringLiteral("sim"));
    QCOMPARE(sim.first(), QCoreApplication::applicationDirPath() + QStringLiteral("/usbsynth-sim"));
    QVERIFY(sim.last().endsWith(QLatin1String("/usbsynth-sim")));
    QCOMPARE(VisaLibrary::candidates(QStringLiteral("/x/y.so")), QStringList{QStringLiteral("/x/y.so")});
}

void tst_visalibrary::missingLibraryFailsEveryCall()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^No VISA library could be used")));
    VisaLibrary library(QStringLiteral("/nonexistent/visa"));
    visa::Session rm = 7;
    QVERIFY(library.openDefaultRM(&rm) < 0);
    QCOMPARE(rm, visa::NullSession);
    visa::Session list = 7;
    quint32 count = 9;
    QByteArray first("stale");
    QVERIFY(library.findResources(rm, "USB?*", &list, &count, &first) < 0);
    QCOMPARE(count, 0u);
    QVERIFY(first.isEmpty());
    visa::Session session = 7;
    QVERIFY(library.open(rm, "USB0::1::2::3::INSTR", &session) < 0);
    QCOMPARE(session, visa::NullSession);
    QVERIFY(library.write(session, "*IDN?\n") < 0);
    QByteArray reply("stale");
    QVERIFY(library.read(session, &reply) < 0);
    QVERIFY(reply.isEmpty());
    QVERIFY(library.close(session) < 0);
}

void tst_visalibrary::boundedReads_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("1000-byte reply keeps its first 255 bytes") << "BIG?" << QByteArray(255, 'x');
    QTest::newRow("reply without line feed") << "BARE?" << QByteArray("12.5");
}

void tst_visalibrary::boundedReads()
{
    QFETCH(QString, query);
    QFETCH(QByteArray, expected);

    VisaLibrary library(simPath);
    visa::Session rm = 0;
    QVERIFY(library.openDefaultRM(&rm) >= 0);
    visa::Session session = 0;
    QVERIFY(library.open(rm, "USB0::0x3A7C::0x0010::LONG1::INSTR", &session) >= 0);
    QVERIFY(library.write(session, (query + QLatin1Char('\n')).toLatin1()) >= 0);
    QByteArray reply;
    QVERIFY(library.read(session, &reply) >= 0);
    QCOMPARE(reply, expected);
    // Nothing of the long reply is left over for the next query.
    QVERIFY(library.write(session, "*IDN?\n") >= 0);
    QVERIFY(library.read(session, &reply) >= 0);
    QCOMPARE(reply, QByteArray("Q,774,LONG1,V4.1\n"));
    library.close(session);
    library.close(rm);
}

void tst_visalibrary::silentInstrumentTimesOut()
{
    visa::Session rm = 0;
    QVERIFY(visa::openDefaultRM(&rm) >= 0);
    visa::Session session = 0;
    QVERIFY(visa::open(rm, QStringLiteral("USB0::0x3A7C::0x0011::MUTE1::INSTR"), &session) >= 0);
    visa::writeLine(session, QStringLiteral("*IDN?\n"));
    QString reply = QStringLiteral("stale");
    QCOMPARE(visa::readReply(session, &reply), VI_ERROR_TMO);
    QVERIFY(reply.isEmpty());
    visa::close(session);
    visa::close(rm);
}

void tst_visalibrary::percentIsNotADirective()
{
    visa::Session rm = 0;
    QVERIFY(visa::openDefaultRM(&rm) >= 0);
    visa::Session session = 0;
    QVERIFY(visa::open(rm, QStringLiteral("USB0::0x3A7C::0x0010::LONG1::INSTR"), &session) >= 0);
    QVERIFY(visa::writeLine(session, QStringLiteral("FREQ:SET %s%d%n\n")) >= 0);
    visa::close(session);
    visa::close(rm);
    QVERIFY2(trace().contains(QStringLiteral("W USB0::0x3A7C::0x0010::LONG1::INSTR FREQ:SET %s%d%n")),
             qPrintable(trace().join(QLatin1Char('\n'))));
}

void tst_visalibrary::searchMatchingNothing()
{
    visa::Session rm = 0;
    QVERIFY(visa::openDefaultRM(&rm) >= 0);
    QCOMPARE(visa::findResources(rm, QStringLiteral("ASRL?*")), QStringList());
    QCOMPARE(visa::findResources(rm, QStringLiteral("USB?*")),
             (QStringList{"USB0::0x3A7C::0x0010::LONG1::INSTR", "USB0::0x3A7C::0x0011::MUTE1::INSTR"}));

    VisaLibrary library(simPath);
    visa::Session list = 5;
    quint32 count = 5;
    QByteArray first("stale");
    QCOMPARE(library.findResources(rm, "GPIB?*", &list, &count, &first), VI_ERROR_RSRC_NFOUND);
    QCOMPARE(count, 0u);
    QVERIFY(first.isEmpty());
    visa::close(rm);
}

QTEST_GUILESS_MAIN(tst_visalibrary)
#include "tst_visalibrary.moc"
