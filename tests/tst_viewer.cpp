// The stored-state viewer: what a dump shows, its code columns, and its size.
#include "viewer/profile_viewer.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QtTest>

class tst_viewer : public QObject
{
    Q_OBJECT

private slots:
    void appearance();
    void completeDump();
    void codes_data();
    void codes();
    void partialDumps_data();
    void partialDumps();
    void laterDumpLeavesOtherCells();
    void sizeStaysFixed();

private:
    static QString cell(QTableWidget *table, int row, int column)
    {
        QTableWidgetItem *item = table->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }
    static QString completeDumpText()
    {
        QStringList states;
        for (int s = 0; s < 6; ++s)
            states << QStringLiteral("%1,%2.5,%3,%4,10,MIN,-%5,%6").arg(s % 2).arg(s + 5).arg(s + 1)
                          .arg((s + 1) % 2).arg(s).arg(s % 2);
        return states.join(QLatin1Char(';')) + QLatin1Char('\n');
    }
    static QList<QStringList> split(const QString &text)
    {
        QList<QStringList> states;
        for (const QString &piece : text.split(QLatin1Char(';')))
            states << piece.split(QLatin1Char(','));
        return states;
    }
};

void tst_viewer::appearance()
{
    profile_viewer viewer;
    QCOMPARE(viewer.objectName(), QStringLiteral("profile_viewer"));
    QCOMPARE(viewer.windowTitle(), QStringLiteral("USB Synthesizer State Viewer"));
    QCOMPARE(viewer.windowModality(), Qt::NonModal);
    QVERIFY(viewer.isWindow());
    auto *table = viewer.findChild<QTableWidget *>(QStringLiteral("state_tbl"));
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 6);
    QCOMPARE(table->columnCount(), 8);
    const QStringList headers = {"PLL Mode", "Frequency (GHz)", "Reference Divider", "Reference Source",
                                 "Reference Frequency (MHz)", "Min/Max Power on Boot", "Output Power (dBm)",
                                 "RF Power State"};
    for (int c = 0; c < 8; ++c) {
        QCOMPARE(table->horizontalHeaderItem(c)->text(), headers.at(c));
        QCOMPARE(table->horizontalHeaderItem(c)->font().family(), QStringLiteral("Arial"));
        QCOMPARE(table->horizontalHeaderItem(c)->font().pointSize(), 8);
        QVERIFY(table->horizontalHeaderItem(c)->font().bold());
    }
    for (int r = 0; r < 6; ++r) {
        QCOMPARE(table->verticalHeaderItem(r)->text(), QStringLiteral("State %1").arg(r));
        QVERIFY(table->verticalHeaderItem(r)->font().bold());
    }
    QCOMPARE(cell(table, 0, 0), QString());
    QCOMPARE(cell(table, 0, 1), QStringLiteral("<none>"));
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(table->alternatingRowColors());
    QCOMPARE(table->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(table->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(table->frameShape(), QFrame::NoFrame);
    QVERIFY(!table->isSortingEnabled());
    QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 120);
}

void tst_viewer::completeDump()
{
    profile_viewer viewer;
    auto *table = viewer.findChild<QTableWidget *>(QStringLiteral("state_tbl"));
    viewer.showStates(split(completeDumpText()));
    for (int r = 0; r < 6; ++r) {
        QCOMPARE(cell(table, r, 0), r % 2 ? QStringLiteral("Integer") : QStringLiteral("Fractional"));
        QCOMPARE(cell(table, r, 1), QStringLiteral("%1.5").arg(r + 5));
        QCOMPARE(cell(table, r, 2), QString::number(r + 1));
        QCOMPARE(cell(table, r, 3), (r + 1) % 2 ? QStringLiteral("External") : QStringLiteral("Internal"));
        QCOMPARE(cell(table, r, 4), QStringLiteral("10"));
        QCOMPARE(cell(table, r, 5), QStringLiteral("MIN"));
        QCOMPARE(cell(table, r, 6), QStringLiteral("-%1").arg(r));
        // The last field of state 5 carried the reply's line feed.
        QCOMPARE(cell(table, r, 7), r % 2 ? QStringLiteral("ON") : QStringLiteral("OFF"));
        for (int c = 0; c < 8; ++c)
            QCOMPARE(table->item(r, c)->textAlignment(), int(Qt::AlignCenter));
    }
}

void tst_viewer::codes_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("debug");

    QTest::newRow("pll 2 stays") << 0 << "2" << "2" << "error pllm";
    QTest::newRow("ref src 2 stays") << 3 << "2" << "2" << "error ref src";
    QTest::newRow("rf 2 stays") << 7 << "2" << "2" << "error atten";
    QTest::newRow("rf -1 stays") << 7 << "-1" << "-1" << "error atten";
    QTest::newRow("pll empty is fractional") << 0 << "" << "Fractional" << "";
    QTest::newRow("rf empty is off") << 7 << "" << "OFF" << "";
    QTest::newRow("ref words count as 0") << 3 << "abc" << "Internal" << "";
    QTest::newRow("beyond 32 bits counts as 0") << 0 << "4294967297" << "Fractional" << "";
    QTest::newRow("rf one with spaces") << 7 << " 1 " << "ON" << "";
}

void tst_viewer::codes()
{
    QFETCH(int, column);
    QFETCH(QString, code);
    QFETCH(QString, shown);
    QFETCH(QString, debug);

    QList<QStringList> states = split(completeDumpText());
    states[2][column] = code;
    profile_viewer viewer;
    if (!debug.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, debug.toLatin1().constData());
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    viewer.showStates(states);
    QCOMPARE(cell(viewer.findChild<QTableWidget *>(), 2, column), shown);
}

void tst_viewer::partialDumps_data()
{
    QTest::addColumn<QString>("dump");
    QTest::addColumn<QStringList>("row0");
    QTest::addColumn<QString>("row1col0");

    const QString none = QStringLiteral("<none>");
    QTest::newRow("one state of three fields")
        << "1,5.5,2" << QStringList{"Integer", "5.5", "2", none, none, none, none, none} << none;
    QTest::newRow("one complete state") << "0,5,1,1,10,MAX,0,1\n"
                                        << QStringList{"Fractional", "5", "1", "External", "10", "MAX", "0", "ON"}
                                        << none;
    QTest::newRow("four fields, then a short second state")
        << "1,5,1,0;1" << QStringList{"Integer", "5", "1", "Internal", none, none, none, none} << "Integer";
    QTest::newRow("seventh state and ninth field ignored")
        << "0,1,2,0,4,5,6,0,extra;0;0;0;0;0;0" << QStringList{"Fractional", "1", "2", "Internal", "4", "5", "6", "OFF"}
        << "Fractional";
    QTest::newRow("empty dump") << "" << QStringList{"Fractional", none, none, none, none, none, none, none} << none;
}

void tst_viewer::partialDumps()
{
    QFETCH(QString, dump);
    QFETCH(QStringList, row0);
    QFETCH(QString, row1col0);
    profile_viewer viewer;
    auto *table = viewer.findChild<QTableWidget *>();
    viewer.showStates(split(dump));
    QStringList shown;
    for (int c = 0; c < 8; ++c)
        shown << cell(table, 0, c);
    QCOMPARE(shown, row0);
    QCOMPARE(cell(table, 1, 0), row1col0);
    QCOMPARE(table->rowCount(), 6);
    QCOMPARE(table->columnCount(), 8);
}

void tst_viewer::laterDumpLeavesOtherCells()
{
    profile_viewer viewer;
    auto *table = viewer.findChild<QTableWidget *>();
    viewer.showStates(split(completeDumpText()));
    QCOMPARE(cell(table, 0, 3), QStringLiteral("External"));
    // A short dump rewrites only what it covers; converted words elsewhere
    // must not be read again as codes.
    viewer.showStates(split(QStringLiteral("1,9")));
    QCOMPARE(cell(table, 0, 0), QStringLiteral("Integer"));
    QCOMPARE(cell(table, 0, 1), QStringLiteral("9"));
    QCOMPARE(cell(table, 0, 3), QStringLiteral("External"));
    QCOMPARE(cell(table, 1, 0), QStringLiteral("Integer"));
    QCOMPARE(cell(table, 5, 7), QStringLiteral("ON"));
}

void tst_viewer::sizeStaysFixed()
{
    profile_viewer viewer;
    auto *table = viewer.findChild<QTableWidget *>();
    const QSize fixed = viewer.size();
    QCOMPARE(viewer.minimumSize(), fixed);
    QCOMPARE(viewer.maximumSize(), fixed);
    QCOMPARE(fixed.width(), table->horizontalHeader()->length() + 45);
    QCOMPARE(fixed.height(), table->verticalHeader()->length() + 20);
    // The columns are as wide as their bold headers, not the default 120.
    QVERIFY(table->columnWidth(0) != table->columnWidth(4));

    QList<QStringList> states = split(completeDumpText());
    states[0][1] = QString(200, QLatin1Char('9'));
    viewer.showStates(states);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QCOMPARE(viewer.size(), fixed);
}

QTEST_MAIN(tst_viewer)
#include "tst_viewer.moc"
