// Loading a VISA library at run time, and bounded I/O through it, against
// the simulated instruments.
#include "link/visa.h"
#include "link/visadefs.h"
#include "link/visalibrary.h"
#include "simfixture.h"

class tst_visalibrary : public QObject
{
    Q_OBJECT

    SimFixture sim;
    const QString longOne = QStringLiteral("USB0::0x3A7C::0x0010::LONG1::INSTR");

private slots:
    void initTestCase()
    {
        sim.configure(R"({"resources": [
            {"resource": "USB0::0x3A7C::0x0010::LONG1::INSTR", "idn": "Q,774,LONG1,V4.1", "faults": {"timeoutMs": 50},
             "replies": {"BIG?": ")" + QByteArray(996, 'x') + R"(TAIL", "BARE?": {"text": "12.5", "lineFeed": false},
                         "FITS?": ")" + QByteArray(254, 'x') + R"(", "OVER?": ")" + QByteArray(255, 'x') + R"(",
                         "FULL?": {"text": ")" + QByteArray(255, 'x') + R"(", "lineFeed": false}}}]})");
    }

    void loads_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("reported"); // empty: loads
        QTest::newRow("path") << qEnvironmentVariable("USBSYNTH_VISA_LIBRARY") << QString();
        QTest::newRow("sim beside the executable") << "sim" << QString();
#ifdef Q_OS_LINUX
        QTest::newRow("usbtmc beside the executable") << "usbtmc" << QString();
#endif
        QTest::newRow("missing path") << "/nonexistent/libvisa.so" << "/nonexistent/libvisa.so";
        QTest::newRow("missing name") << "novisa-here" << "novisa-here";
        QTest::newRow("lacking functions") << QCoreApplication::applicationDirPath() + "/libusbsynth-test-partialvisa.so"
                                           << "lacks viFindRsrc, viFindNext, viClose, viRead, viWrite";
        QTest::newRow("not a library") << sim.path("sim.json") << sim.path("sim.json");
    }

    void loads()
    {
        QFETCH(QString, choice);
        QFETCH(QString, reported);
        const bool loads = reported.isEmpty();
        if (!loads)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No VISA library could be used; tried: "));
        VisaLibrary library(choice);
        QCOMPARE(library.isLoaded(), loads);
        QVERIFY2(loads ? library.failureReport().isEmpty() : library.failureReport().contains(reported),
                 qPrintable(library.failureReport()));
        visa::Session rm = 7;
        QCOMPARE(library.openDefaultRM(&rm) >= 0 && rm != visa::NullSession, loads);
        library.close(rm);
        if (loads)
            return;
        // Without a library every call fails and hands back nothing stale.
        visa::Session list = 7, session = 7;
        quint32 count = 9;
        QByteArray first("stale"), reply("stale");
        QVERIFY(library.findResources(1, "USB?*", &list, &count, &first) < 0 && count == 0 && first.isEmpty());
        QVERIFY(library.open(1, "USB0::1::2::3::INSTR", &session) < 0 && session == visa::NullSession);
        QVERIFY(library.write(1, "*IDN?\n") < 0 && library.close(1) < 0);
        QVERIFY(library.read(1, &reply) < 0 && reply.isEmpty());
    }

    void platformChoice()
    {
        const QStringList candidates = VisaLibrary::candidates(QString());
#ifdef Q_OS_LINUX
        // A vendor's VISA first; ours over the usbtmc driver after all of them.
        QCOMPARE(candidates.first(), QStringLiteral("libvisa.so"));
        QCOMPARE(candidates.filter(QStringLiteral("usbsynth-")),
                 (QStringList{QCoreApplication::applicationDirPath() + "/usbsynth-usbtmc", USBSYNTH_TEST_LIBDIR "/usbsynth-usbtmc"}));
        QCOMPARE(candidates.last(), QStringLiteral(USBSYNTH_TEST_LIBDIR "/usbsynth-usbtmc"));
        if (QLibrary(QStringLiteral("libvisa.so")).load())
            QSKIP("a vendor's VISA is installed here");
        VisaLibrary library{QString()};
        QCOMPARE(library.fileName(), QCoreApplication::applicationDirPath() + "/libusbsynth-usbtmc.so");
#else
        QVERIFY(candidates.filter(QStringLiteral("usbsynth-")).isEmpty());
#endif
    }

    // A reply that fills the 255 bytes without its line feed was cut.
    void boundedIo_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1000 bytes keep 255, cut") << "BIG?" << int(VI_SUCCESS_MAX_CNT) << QString(255, 'x');
        QTest::newRow("254 and line feed fit") << "FITS?" << int(VI_SUCCESS) << QString(254, 'x') + '\n';
        QTest::newRow("255 and line feed, cut") << "OVER?" << int(VI_SUCCESS_MAX_CNT) << QString(255, 'x');
        QTest::newRow("255 without line feed, cut") << "FULL?" << int(VI_SUCCESS_MAX_CNT) << QString(255, 'x');
        QTest::newRow("no line feed") << "BARE?" << int(VI_SUCCESS) << "12.5";
        QTest::newRow("unanswered, percent is no directive") << "FREQ:SET %s%d%n" << int(VI_ERROR_TMO) << QString();
    }

    void boundedIo()
    {
        QFETCH(QString, query);
        visa::Session rm = 0, session = 0;
        QVERIFY(visa::openDefaultRM(&rm) >= 0);
        QCOMPARE(visa::findResources(rm, "USB?*"), QStringList{longOne});
        QVERIFY(visa::open(rm, longOne, &session) >= 0 && visa::writeLine(session, query + '\n') >= 0);
        QCOMPARE(sim.writes(longOne).last(), query);
        QString reply = "stale";
        QTEST(int(visa::readReply(session, &reply)), "status");
        QTEST(reply, "expected");
        // The next query gets its own answer, whole.
        QVERIFY(visa::writeLine(session, "*IDN?\n") >= 0);
        QCOMPARE(visa::readReply(session, &reply), VI_SUCCESS);
        QCOMPARE(reply, QStringLiteral("Q,774,LONG1,V4.1\n"));
        visa::close(session);
        visa::close(rm);
    }
};

QTEST_GUILESS_MAIN(tst_visalibrary)
#include "tst_visalibrary.moc"
