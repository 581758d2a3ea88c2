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
    void endsCleanly_data();
    void endsCleanly();
};

void tst_exitsignal::endsCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QByteArray>("waitFor"); // in the simulator's trace

    const QByteArray polling = " W USB0::0x3A7C::0x000F::QX10001::INSTR FREQ:REF:EXT?";
    QTest::newRow("SIGTERM while polling") << int(SIGTERM) << polling;
    QTest::newRow("SIGINT while polling") << int(SIGINT) << polling;
    QTest::newRow("SIGHUP while polling") << int(SIGHUP) << polling;
    QTest::newRow("SIGTERM during the scan") << int(SIGTERM) << QByteArray(" W USB0::0x3A7C::0x000F::QX10001::INSTR *IDN?");
}

void tst_exitsignal::endsCleanly()
{
    QFETCH(int, signalNumber);
    QFETCH(QByteArray, waitFor);

    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("USBSYNTH_SIM_TRACE"), trace);
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.path());
    program.start(qEnvironmentVariable("USBSYNTH_TEST_PROGRAM"), {});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readAll(trace).contains(waitFor), 10000);

    QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
    QVERIFY(program.waitForFinished(10000));
    QVERIFY2(program.exitStatus() == QProcess::NormalExit, "ended by the signal");
    QCOMPARE(program.exitCode(), 0);

    // Every open has its close, per descriptor.
    QHash<QByteArray, int> open;
    for (const QByteArray &line : readAll(trace).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 3 && (fields[1] == "O" || fields[1] == "C"))
            open[fields[2]] += fields[1] == "O" ? 1 : -1;
    }
    QVERIFY(open.contains("DefaultRM"));
    for (auto it = open.cbegin(); it != open.cend(); ++it)
        QVERIFY2(it.value() == 0, it.key() + " left open");

    const QByteArray log = readAll(dir.filePath(QStringLiteral("log.txt")));
    QVERIFY2(log.startsWith("Runtime Log - ") && log.endsWith('\n'), log.constData());
}

QTEST_GUILESS_MAIN(tst_exitsignal)
#include "tst_exitsignal.moc"
