// The run log file: header, one whole time-stamped line per message, replaced
// at every start; lines that can't be written wait, in order, until they can,
// and the debug output says so once each way.
#include "app/logger.h"

#include <QDate>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

static QStringList debugLines;

class tst_logger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("run")));
        QVERIFY(QDir::setCurrent(dir.filePath(QStringLiteral("run"))));
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtDebugMsg)
                debugLines << text;
        });
    }
    void init() { debugLines.clear(); }
    void oneLine_data();
    void oneLine();
    void messages();
    void blockedLog_data();
    void blockedLog();

private:
    // The header, then each message, split where a stamp begins a line.
    QStringList logLines() const
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly); // a missing log reads as empty
        QStringList lines = QString::fromUtf8(file.readAll()).split(QRegularExpression(QStringLiteral("\n(\\d\\d:\\d\\d:\\d\\d |$)")));
        return lines.takeLast().isEmpty() ? lines : QStringList{QStringLiteral("<fragment>")};
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run/log.txt")); // in the working directory
    const QString header = QStringLiteral("Runtime Log - ") + QDate::currentDate().toString(Qt::TextDate);
};

void tst_logger::oneLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");

    QTest::newRow("line feed") << "a\n12:00:00 b" << "a\\n12:00:00 b";
    QTest::newRow("CR LF, tab") << "a\r\n\tb" << "a\\r\\n\\tb";
    QTest::newRow("NUL, 0x1f; blank kept") << QString(QChar(0)) + QChar(0x1f) + u' ' << "\\x00\\x1f ";
    QTest::newRow("DEL; ~ kept") << "~\x7f" << "~\\x7f";
    QTest::newRow("C1 from 0x80 to 0x9f; no-break space kept") << QString::fromUtf16(u"\u0080\u0085\u009f\u00a0")
                                                                << QString::fromUtf16(u"\\x80\\x85\\x9f\u00a0");
    QTest::newRow("line and paragraph separators") << QString::fromUtf16(u"\u2028\u2029") << "\\u2028\\u2029";
    QTest::newRow("text as it is") << QString::fromUtf16(u"C:\\n 23 \u00b0C") << QString::fromUtf16(u"C:\\n 23 \u00b0C");
}

void tst_logger::oneLine()
{
    QFETCH(QString, message);
    QTEST(logger::oneLine(message), "line");
}

void tst_logger::messages()
{
    QFile old(path); // left from an earlier run: replaced
    QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && old.write("Runtime Log - yesterday\n12:00:00 old\n") > 0);

    const QStringList messages{QStringLiteral("first\n12:00:00 second"), QString(), QStringLiteral("Temp 23 \u00b0C")};
    logger log;
    for (const QString &message : messages)
        log.new_log(message);
    QCOMPARE(logLines(), (QStringList{header, "first\\n12:00:00 second"} + messages.mid(1)));
    QVERIFY(debugLines.isEmpty());
}

void tst_logger::blockedLog_data()
{
    QTest::addColumn<QString>("block"); // dir: a directory named log.txt from the start; gone: the log's
                                        // folder moved away; full: its file system filled up
    QTest::addColumn<int>("waiting");   // messages while blocked
    QTest::addColumn<QString>("until"); // what writes them: the next message, the retry timer, the exit

    QTest::newRow("directory in the way, next message") << "dir" << 3 << "message";
    QTest::newRow("folder gone, retry timer") << "gone" << 3 << "timer";
    QTest::newRow("folder gone, exit") << "gone" << 3 << "exit";
    QTest::newRow("oldest dropped over the limit") << "dir" << logger::maxWaiting - 1 << "message";
    // The log's first page fills, the line that needs a second one is written
    // short, later ones not at all, not even the count of those dropped.
    QTest::newRow("disk full, over the limit") << "full" << logger::maxWaiting + 100 << "message";
    QTest::newRow("disk full from the start") << "full at start" << 3 << "message";
}

void tst_logger::blockedLog()
{
    QFETCH(QString, block);
    QFETCH(int, waiting);
    QFETCH(QString, until);
    const char *reason = std::strerror(block == QLatin1String("dir") ? EISDIR : block == QLatin1String("gone") ? ENOENT : ENOSPC);

    const QString run = dir.filePath(QStringLiteral("run")), away = dir.filePath(QStringLiteral("away"));
    QFile filler(dir.filePath(QStringLiteral("run/filler")));
    const auto fill = [&] {
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) > 0) { }
    };
    if (block.startsWith(QLatin1String("full"))
        && (::geteuid() != 0 || ::mount("tmpfs", run.toLocal8Bit(), "tmpfs", 0, "size=2m") != 0))
        QSKIP("needs root to mount a small tmpfs");
    auto unmount = qScopeGuard([&] { ::umount(run.toLocal8Bit()); });
    QFile::remove(path); // from an earlier test
    if (block == QLatin1String("dir"))
        QVERIFY(QDir().mkdir(path));
    if (block == QLatin1String("full at start"))
        fill();

    auto log = std::make_unique<logger>();
    QStringList expected{header};
    int written = 0; // lines on disk before the first failure
    const auto send = [&](const QString &message) {
        log->new_log(message);
        expected << message;
        written += debugLines.isEmpty();
    };
    send(QStringLiteral("before"));
    if (block == QLatin1String("gone"))
        QVERIFY(QDir().rename(run, away));
    if (block == QLatin1String("full"))
        fill();
    for (int i = 0; i < waiting; ++i)
        send(QString(100, QLatin1Char('m')) + QString::number(i));
    QCOMPARE(debugLines.size(), 1);

    QVERIFY(block == QLatin1String("dir") ? QDir().rmdir(path) : block == QLatin1String("gone") ? QDir().rename(away, run) : filler.remove());
    if (until == QLatin1String("message"))
        send(QStringLiteral("back"));
    else if (until == QLatin1String("exit"))
        log.reset();
    // The oldest waiting lines make way for one that counts them.
    const qsizetype over = expected.size() - 1 - written - logger::maxWaiting;
    if (over > 0) {
        expected.erase(expected.begin() + 1 + written, expected.begin() + 1 + written + over);
        expected.insert(1 + written, QStringLiteral("%1 Log Messages Dropped").arg(over));
    }
    if (until == QLatin1String("timer"))
        QTRY_COMPARE_WITH_TIMEOUT(logLines(), expected, logger::retryMs + 2000);
    else
        QCOMPARE(logLines(), expected);
    QCOMPARE(debugLines, QStringList({QStringLiteral("Error Opening Log File %1: %2").arg(path, QString::fromLocal8Bit(reason)),
                                      QStringLiteral("Log File Writable Again: ") + path}));
}

QTEST_GUILESS_MAIN(tst_logger)
#include "tst_logger.moc"
