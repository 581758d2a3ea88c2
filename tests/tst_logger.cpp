// The run log file: header, one time-stamped line per message, replaced at
// every start, and a clear word on the debug output when it can't be written.
#include "app/logger.h"

#include <QDate>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class tst_logger : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void headerReplacesEarlierLog();
    void messages_data();
    void messages();
    void completeAfterEveryMessage();
    void unwritableLog();

private:
    static QString readLog()
    {
        QFile file(QStringLiteral("log.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("<missing>");
        return QString::fromUtf8(file.readAll());
    }
    static QString header() { return QStringLiteral("Runtime Log - ") + QDate::currentDate().toString(Qt::TextDate); }

    std::unique_ptr<QTemporaryDir> dir;
    QString previous;
};

void tst_logger::init()
{
    previous = QDir::currentPath();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(dir->path()));
}

void tst_logger::cleanup()
{
    QDir::setCurrent(previous);
    dir.reset();
}

void tst_logger::headerReplacesEarlierLog()
{
    QFile old(QStringLiteral("log.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("Runtime Log - yesterday\n12:00:00 old line\n");
    old.close();

    logger log;
    QCOMPARE(readLog(), header() + QLatin1Char('\n'));
    QVERIFY(QRegularExpression(QStringLiteral("^Runtime Log - [A-Z][a-z]{2} [A-Z][a-z]{2} \\d{1,2} \\d{4}\n$"))
                .match(readLog())
                .hasMatch());
}

void tst_logger::messages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("lines"); // after the header; T stands for a time stamp

    QTest::newRow("plain") << "Connection Error: Code -1073807343" << "T Connection Error: Code -1073807343\n";
    QTest::newRow("line feed continues without a stamp") << "first\nsecond" << "T first\nsecond\n";
    QTest::newRow("empty message") << "" << "T \n";
    QTest::newRow("non-ASCII kept") << QStringLiteral("Temp 23 \u00b0C") << QStringLiteral("T Temp 23 \u00b0C\n");
}

void tst_logger::messages()
{
    QFETCH(QString, message);
    QFETCH(QString, lines);

    logger log;
    log.new_log(message);
    QString body = readLog();
    QVERIFY(body.startsWith(header() + QLatin1Char('\n')));
    body.remove(0, header().size() + 1);
    const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
    QVERIFY2(stamp.match(body).hasMatch(), qPrintable(body));
    QCOMPARE(body.mid(8), lines.mid(1));
}

void tst_logger::completeAfterEveryMessage()
{
    logger log;
    for (int i = 0; i < 3; ++i) {
        log.new_log(QStringLiteral("message %1").arg(i));
        // Another reader sees every message at once.
        QCOMPARE(readLog().count(QLatin1Char('\n')), i + 2);
        QVERIFY(readLog().endsWith(QStringLiteral(" message %1\n").arg(i)));
    }
}

void tst_logger::unwritableLog()
{
    // A directory in the way: the log can't be opened (even by root).
    QVERIFY(QDir().mkdir(QStringLiteral("log.txt")));
    QTest::ignoreMessage(QtDebugMsg, "Error Opening Log File");
    logger log;
    QTest::ignoreMessage(QtDebugMsg, "Error Opening Log File");
    log.new_log(QStringLiteral("lost"));
    QTest::ignoreMessage(QtDebugMsg, "Error Opening Log File");
    log.new_log(QStringLiteral("lost too"));
    QVERIFY(QFileInfo(QStringLiteral("log.txt")).isDir());

    // Once the way is clear again the next message is written.
    QVERIFY(QDir().rmdir(QStringLiteral("log.txt")));
    log.new_log(QStringLiteral("back"));
    QVERIFY(readLog().endsWith(QStringLiteral(" back\n")));
}

QTEST_GUILESS_MAIN(tst_logger)
#include "tst_logger.moc"
