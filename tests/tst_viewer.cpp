// The stored-state viewer: what each dump shows, and that it shows whole.
#include "viewer/profile_viewer.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QtTest>

namespace {

QList<QStringList> split(const QString &dump)
{
    QList<QStringList> states;
    for (const QString &piece : dump.split(QLatin1Char(';')))
        states << piece.split(QLatin1Char(','));
    return states;
}

// Six states of eight fields; state s has the codes s % 2 and (s + 1) % 2.
QString completeDump()
{
    QStringList states;
    for (int s = 0; s < 6; ++s)
        states << QStringLiteral("%1,%2.5,%3,%4,10,MIN,-%5,%1").arg(s % 2).arg(s + 5).arg(s + 1).arg((s + 1) % 2).arg(s);
    return states.join(QLatin1Char(';')) + QLatin1Char('\n');
}

} // namespace

class tst_viewer : public QObject
{
    Q_OBJECT

private slots:
    void cells_data();
    void cells();
};

void tst_viewer::cells_data()
{
    QTest::addColumn<QStringList>("dumps");    // shown one after the other
    QTest::addColumn<int>("hidden");           // how many of them come before the window shows
    QTest::addColumn<QStringList>("expected"); // of the last: "row,column=text", or "row,column" for no cell
    QTest::addColumn<QStringList>("debug");

    const QString full = completeDump();
    const QString longer = QString(full).replace(QStringLiteral("MIN"), QStringLiteral("a far longer boot power text"));
    QTest::newRow("complete") << QStringList{full} << 0
                              << QStringList{"0,0=Fractional", "1,0=Integer", "0,1=5.5", "0,2=1", "0,3=External",
                                             "1,3=Internal", "3,4=10", "3,5=MIN", "3,6=-3", "4,7=OFF", "5,7=ON"}
                              << QStringList{};
    QTest::newRow("odd codes as received")
        << QStringList{QString(full).replace(QStringLiteral("1,6.5,2,0"), QStringLiteral("2,6.5,2,unrecognised code"))
                           .replace(QStringLiteral("-2,0;"), QStringLiteral("-2, 1 ;"))
                           .replace(QStringLiteral("-4,0;"), QStringLiteral("-4,-1;"))} << 0
        << QStringList{"1,0=2", "1,3=unrecognised code", "2,7=ON", "4,7=-1", "1,1=6.5"}
        << QStringList{"error pllm", "error ref src", "error atten"};
    QTest::newRow("empty and huge codes")
        << QStringList{QStringLiteral("4294967297,1,2,,4,5,6,")} << 0
        << QStringList{"0,0=4294967297", "0,3=", "0,7=", "0,4=4", "1,0"}
        << QStringList{"error pllm", "error ref src", "error atten"};
    QTest::newRow("later short dump blanks the rest")
        << QStringList{full, QStringLiteral("1,9;0")} << 0
        << QStringList{"0,0=Integer", "0,1=9", "0,3", "0,7", "1,0=Fractional", "1,1", "5,7", "2,0"} << QStringList{};
    QTest::newRow("short first state, whole second")
        << QStringList{QStringLiteral("1,5;0,1,2,1,4,5,6,1")} << 0
        << QStringList{"0,0=Integer", "0,2", "1,3=External", "1,7=ON"} << QStringList{};
    QTest::newRow("seventh state and ninth field not shown")
        << QStringList{QStringLiteral("0,1,2,0,4,5,6,0,extra;0;0;0;0;0;9")} << 0
        << QStringList{"0,7=OFF", "5,0=Fractional"} << QStringList{};
    // Shown at last, the window holds the latest of the dumps it got hidden.
    QTest::newRow("dumps while hidden")
        << QStringList{full, longer, QString(full).replace(QStringLiteral("10,MIN"), QStringLiteral("100.000001,MAX"))} << 3
        << QStringList{"2,4=100.000001", "5,5=MAX"} << QStringList{};
    QTest::newRow("longer text while shown") << QStringList{full, longer} << 0
                                             << QStringList{"0,5=a far longer boot power text"} << QStringList{};
}

void tst_viewer::cells()
{
    QFETCH(QStringList, dumps);
    QFETCH(int, hidden);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, debug);
    profile_viewer viewer;
    auto *table = viewer.findChild<QTableWidget *>(QStringLiteral("state_tbl"));
    for (const QString &message : debug)
        QTest::ignoreMessage(QtDebugMsg, message.toLatin1().constData());
    for (qsizetype i = 0; i <= dumps.size(); ++i) {
        if (i == hidden) {
            viewer.show();
            QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        }
        if (i < dumps.size())
            viewer.showStates(split(dumps.at(i)));
    }

    for (const QString &check : expected) {
        const QString at = check.section(QLatin1Char('='), 0, 0);
        const QTableWidgetItem *item = table->item(at.section(QLatin1Char(','), 0, 0).toInt(), at.section(QLatin1Char(','), 1).toInt());
        QCOMPARE(item ? at + QLatin1Char('=') + item->text() : at, check);
    }
    // Every text shows whole, and the whole table is in view.
    for (const QTableWidgetItem *item : table->findItems(QStringLiteral("."), Qt::MatchRegularExpression))
        QVERIFY2(table->fontMetrics().horizontalAdvance(item->text()) < table->columnWidth(item->column()), qPrintable(item->text()));
    QVERIFY(viewer.width() > table->horizontalHeader()->length() + table->verticalHeader()->width());
}

QTEST_MAIN(tst_viewer)
#include "tst_viewer.moc"
