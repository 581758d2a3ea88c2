// SIGTERM, SIGINT and SIGHUP end the real program the normal way, while it
// starts and while it polls: exit status 0, every VISA session it opened
// closed again (the resource manager too), and a complete run log.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class tst_exitsignal : public QObject
{
    Q_OBJECT

private slots:
    void endsCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QByteArray>("waitFor"); // in the simulator's trace

        // Any instrument will do: which ones the scan accepts is not this test's concern.
        const QByteArray polling = " FREQ:REF:EXT?";
        QTest::newRow("SIGINT while polling") << int(SIGINT) << polling;
        QTest::newRow("SIGHUP while polling") << int(SIGHUP) << polling;
        QTest::newRow("SIGTERM during the scan") << int(SIGTERM) << QByteArray(" *IDN?");
    }

    void endsCleanly()
    {
        QFETCH(int, signalNumber);
        QFETCH(QByteArray, waitFor);

        QTemporaryDir dir;
        const QString trace = dir.filePath(QStringLiteral("trace.txt"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("USBSYNTH_SIM_TRACE"), trace);
        // The sanitizer build sometimes reports 152 bytes from Qt Core left at
        // a signal exit; the soak test judges the program's leaks, this test
        // its exit, sessions and log.
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir.path());
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(qEnvironmentVariable("USBSYNTH_TEST_PROGRAM"), {});
        QTRY_VERIFY_WITH_TIMEOUT(readAll(trace).contains(waitFor), 10000);

        QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == 0, program.readAll().right(2000).constData());

        // Every session opened was closed again, the resource manager too.
        const QByteArray lines = readAll(trace);
        QVERIFY(lines.contains(" O DefaultRM"));
        QCOMPARE(lines.count(" O "), lines.count(" C "));
        QVERIFY(readAll(dir.filePath(QStringLiteral("log.txt"))).startsWith("Runtime Log - "));
    }
};

QTEST_GUILESS_MAIN(tst_exitsignal)
#include "tst_exitsignal.moc"
