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

namespace {

QStringList debugLines;

void collect(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg)
        debugLines << text;
}

} // namespace

class tst_logger : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void headerReplacesEarlierLog();
    void messages_data();
    void messages();
    void blockedLog_data();
    void blockedLog();
    void fullDisk();

private:
    // The messages in log.txt, stamps checked and cut; the header comes first.
    QStringList logLines() const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {QStringLiteral("<missing>")};
        const QString text = QString::fromUtf8(file.readAll());
        if (!text.endsWith(QLatin1Char('\n')))
            return {QStringLiteral("<fragment>") + text.right(20)};
        QStringList lines = text.chopped(1).split(QLatin1Char('\n'));
        const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
        for (int i = 1; i < lines.size(); ++i)
            lines[i] = stamp.match(lines[i]).hasMatch() ? lines[i].mid(9) : QStringLiteral("<no stamp> ") + lines[i];
        return lines;
    }
    static QString header() { return QStringLiteral("Runtime Log - ") + QDate::currentDate().toString(Qt::TextDate); }
    QStringList failedThenBack(const QString &reason) const
    {
        return {QStringLiteral("Error Opening Log File %1: %2").arg(path, reason),
                QStringLiteral("Log File Writable Again: ") + path};
    }

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
    qInstallMessageHandler(collect);
}

void tst_logger::cleanup()
{
    qInstallMessageHandler(nullptr);
    QDir::setCurrent(previous);
    dir.reset();
}

void tst_logger::headerReplacesEarlierLog()
{
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("Runtime Log - yesterday\n12:00:00 old line\n");
    old.close();

    logger log;
    QCOMPARE(logLines(), QStringList{header()});
    QVERIFY(QRegularExpression(QStringLiteral("^Runtime Log - [A-Z][a-z]{2} [A-Z][a-z]{2} \\d{1,2} \\d{4}$"))
                .match(header()).hasMatch());
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

    logger log;
    log.new_log(message);
    QCOMPARE(logLines(), QStringList{header()} + lines);
    QVERIFY(debugLines.isEmpty());
}

void tst_logger::blockedLog_data()
{
    QTest::addColumn<bool>("atStart");  // a directory named log.txt; else the log's folder moved away
    QTest::addColumn<int>("waiting");   // messages while blocked
    QTest::addColumn<QString>("until"); // what writes them: the next message, the retry timer, the exit
    QTest::addColumn<QString>("reason");

    const QString isDir = QStringLiteral("Is a directory"), gone = QStringLiteral("No such file or directory");
    QTest::newRow("at start, next message") << true << 3 << "message" << isDir;
    QTest::newRow("later, retry timer") << false << 3 << "timer" << gone;
    QTest::newRow("later, exit") << false << 3 << "exit" << gone;
    QTest::newRow("oldest dropped over the limit") << true << logger::maxWaiting + 5 << "message" << isDir;
}

void tst_logger::blockedLog()
{
    QFETCH(bool, atStart);
    QFETCH(int, waiting);
    QFETCH(QString, until);
    QFETCH(QString, reason);

    const QString run = dir->filePath(QStringLiteral("run")), away = dir->filePath(QStringLiteral("away"));
    if (atStart)
        QVERIFY(QDir().mkdir(path));
    auto log = std::make_unique<logger>();
    QStringList expected{header(), QStringLiteral("before")};
    log->new_log(QStringLiteral("before"));
    if (!atStart)
        QVERIFY(QDir().rename(run, away));
    for (int i = 0; i < waiting; ++i) {
        log->new_log(QStringLiteral("message %1").arg(i));
        expected << QStringLiteral("message %1").arg(i);
    }
    QCOMPARE(debugLines.size(), 1);

    QVERIFY(atStart ? QDir().rmdir(path) : QDir().rename(away, run));
    if (until == QLatin1String("message")) {
        log->new_log(QStringLiteral("back"));
        expected << QStringLiteral("back");
    } else if (until == QLatin1String("exit")) {
        log.reset();
    }
    // The oldest lines make way for one that counts them.
    const qsizetype over = expected.size() - 1 - logger::maxWaiting;
    if (over > 0) {
        expected.erase(expected.begin() + 1, expected.begin() + 1 + over);
        expected.insert(1, QStringLiteral("%1 Log Messages Dropped").arg(over));
    }
    if (until == QLatin1String("timer"))
        QTRY_COMPARE_WITH_TIMEOUT(logLines(), expected, logger::retryMs + 2000);
    else
        QCOMPARE(logLines(), expected);
    QCOMPARE(debugLines, failedThenBack(reason));
}

void tst_logger::fullDisk()
{
    // A file system of four pages: the log's first page fills, the line that
    // needs a second one is written short, and later ones not at all.
    const QString run = QDir::currentPath();
    if (::geteuid() != 0 || ::mount("tmpfs", run.toLocal8Bit(), "tmpfs", 0, "size=16k") != 0)
        QSKIP("needs root to mount a small tmpfs");
    auto unmount = qScopeGuard([&] { QDir::setCurrent(previous); ::umount(run.toLocal8Bit()); });
    QVERIFY(QDir::setCurrent(run));

    logger log;
    QFile filler(QStringLiteral("filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(512, 'x')) > 0) { }
    filler.close();

    const QString text(100, QLatin1Char('m'));
    QStringList expected{header()};
    for (int i = 0; i < 60; ++i) {
        log.new_log(text + QString::number(i));
        expected << text + QString::number(i);
        QCOMPARE(logLines().last(), expected.value(logLines().size() - 1));
    }
    QVERIFY(logLines().size() < 40);
    QVERIFY(filler.remove());
    log.new_log(QStringLiteral("freed"));
    QCOMPARE(logLines(), expected << QStringLiteral("freed"));
    QCOMPARE(debugLines, failedThenBack(QStringLiteral("No space left on device")));
}

QTEST_GUILESS_MAIN(tst_logger)
#include "tst_logger.moc"
