// The command lines the panel builds and the readers for instrument replies.
#include "link/commandset.h"
#include "link/replyparser.h"

#include <QLocale>
#include <QtTest>

Q_DECLARE_METATYPE(reply::PowerStatus)

class tst_vocabulary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void numberedCommands_data();
    void numberedCommands();
    void fixedCommands();
    void readInteger_data();
    void readInteger();
    void readDecimal_data();
    void readDecimal();
    void readPower_data();
    void readPower();
    void splitStates_data();
    void splitStates();
};

void tst_vocabulary::initTestCase()
{
    // Numbers on the wire must not follow the operator's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void tst_vocabulary::numberedCommands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");

    QTest::newRow("GHz frequency as typed") << cmd::setFrequency(12.345678) << "FREQ:SET 12.345678\n";
    QTest::newRow("MHz frequency, no decimals") << cmd::setFrequency(2200.0) << "FREQ:SET 2200\n";
    QTest::newRow("frequency 1234.5678") << cmd::setFrequency(1234.5678) << "FREQ:SET 1234.5678\n";
    QTest::newRow("frequency 7.5") << cmd::setFrequency(7.5) << "FREQ:SET 7.5\n";
    QTest::newRow("ten digits in GHz") << cmd::setFrequency(19.99999999) << "FREQ:SET 19.99999999\n";
    QTest::newRow("frequency 4400, no exponent") << cmd::setFrequency(4400.0) << "FREQ:SET 4400\n";
    QTest::newRow("power -5") << cmd::setPower(-5.0f) << "POWE:SET -5\n";
    QTest::newRow("power -2.50") << cmd::setPower(-2.50f) << "POWE:SET -2.5\n";
    QTest::newRow("power 0") << cmd::setPower(0.0f) << "POWE:SET 0\n";
    QTest::newRow("threshold 45") << cmd::temperatureThreshold(45.0f) << "SYST:TEMPTHRES 45\n";
    QTest::newRow("threshold 42.125") << cmd::temperatureThreshold(42.125f) << "SYST:TEMPTHRES 42.125\n";
    QTest::newRow("reference") << cmd::referenceFrequency(50) << "FREQ:REF:FREQ 50\n";
    QTest::newRow("divider 8") << cmd::referenceDivider(8) << "FREQ:REF:DIV 8\n";
    QTest::newRow("divider 127") << cmd::referenceDivider(127) << "FREQ:REF:DIV 127\n";
    QTest::newRow("pll fractional") << cmd::pllMode(0) << "FREQ:PLLM 0\n";
    QTest::newRow("pll integer") << cmd::pllMode(1) << "FREQ:PLLM 1\n";
    QTest::newRow("load 5") << cmd::loadState(5) << "SYST:LOADSTATE 5\n";
    QTest::newRow("save 3") << cmd::saveState(3) << "SYST:SAVESTATE 3\n";
    QTest::newRow("boot 0") << cmd::bootState(0) << "SYST:BOOTSTATE 0\n";
    QTest::newRow("rf on") << cmd::rfOutput(true) << "POWE:RF 1\n";
    QTest::newRow("rf off") << cmd::rfOutput(false) << "POWE:RF 0\n";
    QTest::newRow("reference external") << cmd::referenceExternal(true) << "FREQ:REF:EXT 1\n";
    QTest::newRow("reference internal") << cmd::referenceExternal(false) << "FREQ:REF:EXT 0\n";
}

void tst_vocabulary::numberedCommands()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QCOMPARE(line, expected);
}

void tst_vocabulary::fixedCommands()
{
    QCOMPARE(QString::fromLatin1(cmd::PowerMinimum), QStringLiteral("POWE:SET MIN\n"));
    QCOMPARE(QString::fromLatin1(cmd::PowerMaximum), QStringLiteral("POWE:SET MAX\n"));
    // The queries of one refresh pass, in their order, and the identification.
    const QStringList queries = {
        cmd::QueryReferenceExternal, cmd::QueryRfOutput, cmd::QueryReferenceFrequency, cmd::QueryPllMode,
        cmd::QueryReferenceDivider, cmd::QueryLock, cmd::QueryPower, cmd::QueryFrequency,
        cmd::QueryActualFrequency, cmd::QueryStoredStates, cmd::QueryTemperature, cmd::Identify,
    };
    QCOMPARE(queries.join(QString()),
             QStringLiteral("FREQ:REF:EXT?\nPOWE:RF?\nFREQ:REF:FREQ?\nFREQ:PLLM?\nFREQ:REF:DIV?\nFREQ:LOCK?\n"
                            "POWE:SET?\nFREQ:SET?\nFREQ:RETACT?\nSYST:READSTATE?\nSYST:TEMP?\n*IDN?\n"));
}

void tst_vocabulary::readInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("reads");
    QTest::addColumn<int>("value");

    QTest::newRow("one with line feed") << "1\n" << true << 1;
    QTest::newRow("two is a number (bad, not unrecognized)") << "2\n" << true << 2;
    QTest::newRow("spaces around") << "  42 \n" << true << 42;
    QTest::newRow("negative") << "-7\n" << true << -7;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("only a line feed") << "\n" << false << 0;
    QTest::newRow("words") << "ON\n" << false << 0;
    QTest::newRow("decimal point") << "1.0\n" << false << 0;
    QTest::newRow("beyond 32 bits") << "4294967296\n" << false << 0;
    QTest::newRow("trailing garbage") << "1x\n" << false << 0;
}

void tst_vocabulary::readInteger()
{
    QFETCH(QString, text);
    QFETCH(bool, reads);
    QFETCH(int, value);
    const std::optional<int> result = reply::readInteger(text);
    QCOMPARE(result.has_value(), reads);
    if (reads)
        QCOMPARE(*result, value);
}

void tst_vocabulary::readDecimal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("reads");
    QTest::addColumn<float>("value");

    QTest::newRow("frequency") << "2200.000\n" << true << 2200.0f;
    QTest::newRow("zero") << "0\n" << true << 0.0f;
    QTest::newRow("negative") << "-12.5\n" << true << -12.5f;
    QTest::newRow("exponent") << "1e+06" << true << 1.0e6f;
    QTest::newRow("comma is no decimal point") << "12,5" << false << 0.0f;
    QTest::newRow("unit attached") << "2.2 GHz" << false << 0.0f;
    QTest::newRow("empty") << "" << false << 0.0f;
    QTest::newRow("nan") << "nan" << false << 0.0f;
    QTest::newRow("infinity") << "inf" << false << 0.0f;
    QTest::newRow("beyond float") << "1e39" << false << 0.0f;
}

void tst_vocabulary::readDecimal()
{
    QFETCH(QString, text);
    QFETCH(bool, reads);
    QFETCH(float, value);
    const std::optional<float> result = reply::readDecimal(text);
    QCOMPARE(result.has_value(), reads);
    if (reads)
        QCOMPARE(*result, value);
}

void tst_vocabulary::readPower_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("powerText");
    QTest::addColumn<bool>("reads");
    QTest::addColumn<float>("value");
    QTest::addColumn<reply::PowerStatus>("status");

    using S = reply::PowerStatus;
    QTest::newRow("plain") << "-12.5\n" << "-12.5" << true << -12.5f << S::None;
    QTest::newRow("minimum") << "-12.5 MIN\n" << "-12.5 MIN" << true << -12.5f << S::Minimum;
    QTest::newRow("maximum") << "3 MAX\n" << "3 MAX" << true << 3.0f << S::Maximum;
    QTest::newRow("rf off") << "OFF,-12.5\n" << "-12.5" << true << -12.5f << S::Off;
    QTest::newRow("rf off at minimum") << "OFF,-3.5 MIN\n" << "-3.5 MIN" << true << -3.5f << S::Off;
    QTest::newRow("status word before comma") << "MIN,-3.5\n" << "-3.5" << true << -3.5f << S::Minimum;
    QTest::newRow("OFF wins over MIN") << "OFF MIN,1\n" << "1" << true << 1.0f << S::Off;
    QTest::newRow("lower case is no status") << "-3 min\n" << "-3 min" << false << 0.0f << S::None;
    QTest::newRow("not a number") << "abc\n" << "abc" << false << 0.0f << S::None;
    QTest::newRow("empty") << "" << "" << false << 0.0f << S::None;
    QTest::newRow("MIN alone") << "MIN\n" << "MIN" << false << 0.0f << S::Minimum;
    QTest::newRow("third part ignored") << "OFF,-1,7\n" << "-1" << true << -1.0f << S::Off;
    QTest::newRow("line feed inside") << "-1\n2\n" << "-12" << true << -12.0f << S::None;
}

void tst_vocabulary::readPower()
{
    QFETCH(QString, text);
    QFETCH(QString, powerText);
    QFETCH(bool, reads);
    QFETCH(float, value);
    QFETCH(reply::PowerStatus, status);

    const reply::PowerReading reading = reply::readPower(text);
    QCOMPARE(reading.powerText, powerText);
    QCOMPARE(reading.value.has_value(), reads);
    if (reads)
        QCOMPARE(*reading.value, value);
    QCOMPARE(reading.status, status);
}

void tst_vocabulary::splitStates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("states");
    QTest::addColumn<QStringList>("lastState");

    QTest::newRow("two states") << "0,1;1,2\n" << 2 << QStringList{"1", "2\n"};
    QTest::newRow("empty state kept") << "a;;b" << 3 << QStringList{"b"};
    QTest::newRow("empty field kept") << "a,,b" << 1 << QStringList{"a", "", "b"};
    QTest::newRow("trailing separator") << "a;b;\n" << 3 << QStringList{"\n"};
    QTest::newRow("empty reply") << "" << 1 << QStringList{""};
}

void tst_vocabulary::splitStates()
{
    QFETCH(QString, text);
    QFETCH(int, states);
    QFETCH(QStringList, lastState);
    const QList<QStringList> split = reply::splitStates(text);
    QCOMPARE(split.size(), states);
    QCOMPARE(split.last(), lastState);
}

QTEST_GUILESS_MAIN(tst_vocabulary)
#include "tst_vocabulary.moc"
