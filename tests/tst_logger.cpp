// The run log file: header, one whole time-stamped line per message, replaced
// at every start; lines that can't be written wait, in order, until they can,
// and the debug output says so once each way.
#include "app/logger.h"

#include <QDate>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>
#include <unistd.h>

static QStringList debugLines;

class tst_logger : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void messages_data();
    void messages();
    void blockedLog_data();
    void blockedLog();

private:
    // The messages in log.txt, stamps checked and cut; the header comes first.
    QStringList logLines() const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {QStringLiteral("<missing>")};
        const QString text = QString::fromUtf8(file.readAll());
        if (text.isEmpty())
            return {};
        if (!text.endsWith(QLatin1Char('\n')))
            return {QStringLiteral("<fragment>") + text.right(20)};
        QStringList lines = text.chopped(1).split(QLatin1Char('\n'));
        const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
        for (int i = 1; i < lines.size(); ++i)
            lines[i] = stamp.match(lines[i]).hasMatch() ? lines[i].mid(9) : QStringLiteral("<no stamp> ") + lines[i];
        return lines;
    }
    static QString header() { return QStringLiteral("Runtime Log - ") + QDate::currentDate().toString(Qt::TextDate); }

    std::unique_ptr<QTemporaryDir> dir;
    QString previous;
    QString path; // of log.txt, in dir/run, the working directory
};

void tst_logger::init()
{
    previous = QDir::currentPath();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("run")));
    QVERIFY(QDir::setCurrent(dir->filePath(QStringLiteral("run"))));
    path = dir->filePath(QStringLiteral("run/log.txt"));
    debugLines.clear();
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtDebugMsg)
            debugLines << text;
    });
}

void tst_logger::cleanup()
{
    qInstallMessageHandler(nullptr);
    QDir::setCurrent(previous);
    dir.reset();
}

void tst_logger::messages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("lines"); // after the header, stamps cut

    QTest::newRow("plain") << "Connection Error: Code -1073807343" << QStringList{"Connection Error: Code -1073807343"};
    QTest::newRow("line feed continues without a stamp") << "first\nsecond" << QStringList{"first", "<no stamp> second"};
    QTest::newRow("empty message") << "" << QStringList{""};
    QTest::newRow("non-ASCII kept") << QStringLiteral("Temp 23 \u00b0C") << QStringList{QStringLiteral("Temp 23 \u00b0C")};
}

void tst_logger::messages()
{
    QFETCH(QString, message);
    QFETCH(QStringList, lines);
    QFile old(path); // left from an earlier run: replaced
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("Runtime Log - yesterday\n12:00:00 old\n") > 0);
    old.close();

    logger log;
    log.new_log(message);
    QCOMPARE(logLines(), QStringList{header()} + lines);
    QVERIFY(debugLines.isEmpty());
}

void tst_logger::blockedLog_data()
{
    QTest::addColumn<QString>("block"); // dir: a directory named log.txt from the start; gone: the log's
                                        // folder moved away; full: its file system filled up
    QTest::addColumn<int>("waiting");   // messages while blocked
    QTest::addColumn<QString>("until"); // what writes them: the next message, the retry timer, the exit
    QTest::addColumn<QString>("reason");

    QTest::newRow("directory in the way, next message") << "dir" << 3 << "message" << "Is a directory";
    QTest::newRow("folder gone, retry timer") << "gone" << 3 << "timer" << "No such file or directory";
    QTest::newRow("folder gone, exit") << "gone" << 3 << "exit" << "No such file or directory";
    QTest::newRow("oldest dropped over the limit") << "dir" << logger::maxWaiting - 1 << "message" << "Is a directory";
    // The log's first page fills, the line that needs a second one is written
    // short, later ones not at all, not even the count of those dropped.
    QTest::newRow("disk full, over the limit") << "full" << logger::maxWaiting + 100 << "message" << "No space left on device";
    QTest::newRow("disk full from the start") << "full at start" << 3 << "message" << "No space left on device";
}

void tst_logger::blockedLog()
{
    QFETCH(QString, block);
    QFETCH(int, waiting);
    QFETCH(QString, until);
    QFETCH(QString, reason);

    const QString run = dir->filePath(QStringLiteral("run")), away = dir->filePath(QStringLiteral("away"));
    QFile filler(dir->filePath(QStringLiteral("run/filler")));
    const auto fill = [&] {
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) > 0) { }
    };
    if (block.startsWith(QLatin1String("full"))
        && (::geteuid() != 0 || ::mount("tmpfs", run.toLocal8Bit(), "tmpfs", 0, "size=2m") != 0))
        QSKIP("needs root to mount a small tmpfs");
    auto unmount = qScopeGuard([&] { ::umount(run.toLocal8Bit()); });
    if (block == QLatin1String("dir"))
        QVERIFY(QDir().mkdir(path));
    if (block == QLatin1String("full at start"))
        fill();

    auto log = std::make_unique<logger>();
    QStringList expected{header()};
    int written = 0; // lines on disk before the first failure
    const auto send = [&](const QString &message) {
        log->new_log(message);
        expected << message;
        written += debugLines.isEmpty();
        QVERIFY(!logLines().value(0).startsWith(QLatin1String("<fragment>")));
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
    QCOMPARE(debugLines, QStringList({QStringLiteral("Error Opening Log File %1: %2").arg(path, reason),
                                      QStringLiteral("Log File Writable Again: ") + path}));
}

QTEST_GUILESS_MAIN(tst_logger)
#include "tst_logger.moc"
