// SIGTERM, SIGINT and SIGHUP end the real program the normal way, while it
// starts, while it polls and while it sweeps: exit status 0, every VISA
// session it opened closed again (the resource manager too), a complete run
// log that ends a sweep with its stop line, and no leak.
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
        QTest::addColumn<bool>("sweeping");      // the first tab's sweep window started

        // Any instrument will do: which ones the scan accepts is not this test's concern.
        const QByteArray polling = " FREQ:REF:EXT?";
        QTest::newRow("SIGINT while polling") << int(SIGINT) << polling << false;
        QTest::newRow("SIGHUP while polling") << int(SIGHUP) << polling << false;
        QTest::newRow("SIGTERM during the scan") << int(SIGTERM) << QByteArray(" *IDN?") << false;
        QTest::newRow("SIGTERM while sweeping") << int(SIGTERM) << QByteArray(" FREQ:SET ") << true;
    }

    void endsCleanly()
    {
        QFETCH(int, signalNumber);
        QFETCH(QByteArray, waitFor);
        QFETCH(bool, sweeping);

        QTemporaryDir dir;
        const QString trace = dir.filePath(QStringLiteral("trace.txt"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("USBSYNTH_SIM_TRACE"), trace);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path()); // the sweep window's settings from the defaults
        if (sweeping)
            env.insert(QStringLiteral("LD_PRELOAD"), qEnvironmentVariable("USBSYNTH_TEST_SWEEPSTARTER"));
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
        const QByteArray log = readAll(dir.filePath(QStringLiteral("log.txt")));
        QVERIFY(log.startsWith("Runtime Log - "));
        if (sweeping) {
            // Stopped where it was: as many points as were sent.
            const QByteArray stopped = "Sweep stopped after " + QByteArray::number(lines.count(waitFor)) + " of 11 points\n";
            QVERIFY2(log.endsWith(stopped), log.constData());
        }
    }
};

QTEST_GUILESS_MAIN(tst_exitsignal)
#include "tst_exitsignal.moc"
