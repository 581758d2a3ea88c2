// The command lines the panel builds and the readers for instrument replies.
#include "link/commandset.h"
#include "link/replyparser.h"
#include "link/statustext.h"
#include "link/unitvalue.h"

#include <QLocale>
#include <QtTest>

Q_DECLARE_METATYPE(reply::PowerStatus)

// A reading as a variant, null when the text does not read.
template <typename T>
static QVariant variant(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

class tst_vocabulary : public QObject
{
    Q_OBJECT

private slots:
    // Numbers on the wire must not follow the operator's locale.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    // Never an exponent, never -0, rounded half away from 0.
    void commands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ten digits in GHz") << cmd::setFrequency(19.99999999) << "FREQ:SET 19.99999999\n";
        QTest::newRow("frequency rounds up") << cmd::setFrequency(9.9999999999) << "FREQ:SET 10\n";
        QTest::newRow("frequency tiny") << cmd::setFrequency(1.5e-7) << "FREQ:SET 0.00000015\n";
        QTest::newRow("power near 0") << cmd::setPower(5.55112e-17) << "POWE:SET 0\n";
        QTest::newRow("power -0.004") << cmd::setPower(-0.004) << "POWE:SET 0\n";
        QTest::newRow("power half away from 0") << cmd::setPower(-2.345) << "POWE:SET -2.35\n";
        QTest::newRow("power huge") << cmd::setPower(1e20) << "POWE:SET 100000000000000000000\n";
        QTest::newRow("threshold 1e9") << cmd::temperatureThreshold(1.234567e9) << "SYST:TEMPTHRES 1234570000\n";
        QTest::newRow("threshold -1e-7") << cmd::temperatureThreshold(-1e-7) << "SYST:TEMPTHRES -0.0000001\n";
        QTest::newRow("threshold -1e-30") << cmd::temperatureThreshold(-1e-30) << "SYST:TEMPTHRES 0\n";
    }

    void commands()
    {
        QFETCH(QString, line);
        QTEST(line, "expected");
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("integer"); // null: does not read
        QTest::addColumn<QVariant>("decimal");
        QTest::addColumn<QVariant>("precise");
        const QVariant none;
        QTest::newRow("spaces around") << "  -42 \n" << QVariant(-42) << QVariant(-42.0f) << QVariant(-42.0);
        QTest::newRow("leading zero is decimal") << "010\n" << QVariant(10) << QVariant(10.0f) << QVariant(10.0);
        QTest::newRow("decimal point") << "-12.5\n" << none << QVariant(-12.5f) << QVariant(-12.5);
        QTest::newRow("exponent") << "1e+06" << none << QVariant(1.0e6f) << QVariant(1.0e6);
        QTest::newRow("beyond 32 bits") << "4294967296\n" << none << QVariant(4294967296.0f) << QVariant(4294967296.0);
        QTest::newRow("beyond float") << "1e39" << none << none << QVariant(1e39);
        QTest::newRow("comma is no decimal point") << "12,5" << none << none << none;
        QTest::newRow("trailing garbage") << "1x\n" << none << none << none;
        QTest::newRow("infinity") << "-inf" << none << none << none;
    }

    void numbers()
    {
        QFETCH(QString, text);
        QTEST(variant(reply::readInteger(text)), "integer");
        QTEST(variant(reply::readDecimal(text)), "decimal");
        QTEST(variant(reply::readDouble(text)), "precise");
    }

    void readPower_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("powerText");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<reply::PowerStatus>("status");
        using S = reply::PowerStatus;
        const QVariant none;
        QTest::newRow("minimum") << "-12.5 MIN\n" << "-12.5 MIN" << QVariant(-12.5f) << S::Minimum;
        QTest::newRow("maximum") << "3 MAX\n" << "3 MAX" << QVariant(3.0f) << S::Maximum;
        QTest::newRow("status word before comma") << "MIN,-3.5\n" << "-3.5" << QVariant(-3.5f) << S::Minimum;
        QTest::newRow("OFF wins over MIN") << "OFF MIN,1\n" << "1" << QVariant(1.0f) << S::Off;
        QTest::newRow("lower case is no status") << "-3 min\n" << "-3 min" << none << S::None;
        QTest::newRow("MIN alone") << "MIN\n" << "MIN" << none << S::Minimum;
        QTest::newRow("third part ignored") << "OFF,-1,7\n" << "-1" << QVariant(-1.0f) << S::Off;
        QTest::newRow("line feed inside") << "-1\n2\n" << "-12" << QVariant(-12.0f) << S::None;
    }

    void readPower()
    {
        QFETCH(QString, text);
        const reply::PowerReading reading = reply::readPower(text);
        QTEST(reading.powerText, "powerText");
        QTEST(variant(reading.value), "value");
        QTEST(reading.status, "status");
    }

    void splitStates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("states");
        QTest::addColumn<QStringList>("lastState");
        QTest::newRow("two states") << "0,1;1,2\n" << 2 << QStringList{"1", "2\n"};
        QTest::newRow("empty state kept") << "a;;b" << 3 << QStringList{"b"};
        QTest::newRow("empty field kept") << "a,,b" << 1 << QStringList{"a", "", "b"};
    }

    void splitStates()
    {
        QFETCH(QString, text);
        const QList<QStringList> split = reply::splitStates(text);
        QTEST(int(split.size()), "states");
        QTEST(split.last(), "lastState");
    }

    void statusCodes_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("library"); // "status=text;..." as the library describes codes
        QTest::addColumn<QString>("expected");
        QTest::newRow("the library's words win, without the full stop") << "Connection Error: Code -1073807343"
            << "-1073807343=Resource not present." << "Connection Error: Code -1073807343 (Resource not present)";
        QTest::newRow("library silent on this code") << "Connection Error: Code -1073807343" << "-1073807339=x"
                                                     << "Connection Error: Code -1073807343 (resource not found)";
        QTest::newRow("first code of the table") << "Code -1073807360" << "" << "Code -1073807360 (system error)";
        QTest::newRow("last code of the table") << "Code -1073807194" << "" << "Code -1073807194 (connection lost)";
        QTest::newRow("completion code") << "Read Error: Code 1073676294" << "" << "Read Error: Code 1073676294 (read buffer filled)";
        QTest::newRow("unknown code kept bare") << "Read Error: Code -5" << "" << "Read Error: Code -5";
        QTest::newRow("beyond 32 bits kept bare") << "Code -99999999999" << "" << "Code -99999999999";
        QTest::newRow("not a word of its own") << "Postcode -1073807339" << "" << "Postcode -1073807339";
        QTest::newRow("two codes, text between and after") << "Code -1073807339, then Code -1073807298 again" << ""
                                                           << "Code -1073807339 (timeout), then Code -1073807298 (I/O error) again";
    }

    void statusCodes()
    {
        QFETCH(QString, message);
        QFETCH(QString, library);
        QHash<visa::Status, QString> words;
        for (const QString &entry : library.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            words.insert(entry.section(QLatin1Char('='), 0, 0).toInt(), entry.section(QLatin1Char('='), 1));
        QTEST(statustext::explained(message, [&](visa::Status status) { return words.value(status); }), "expected");
    }

    // "field text value" in the field's unit (MHz, GHz or dBm); "-": refused.
    void typedValues_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value");
        for (const char *row : {"MHz|35|35", "MHz|0.035G|35", "MHz|4.4 GHz|4400", "MHz|4400000k|4400", "MHz|35e6 Hz|35",
                                "MHz|2400mhz|2400", "MHz|100 kHz|0.1", "MHz| 1234.56789 |1234.56789", "MHz|2400m|-",
                                "MHz|2400 m|-", "MHz|2.2 GHz Hz|-", "MHz|2.4x|-", "MHz|12,5|-", "MHz|nan|-", "MHz|1e400|-",
                                "MHz|G|-", "MHz||-", "GHz|5000M|5", "GHz|1e10 Hz|10", "GHz|7.5|7.5", "dBm|-90|-90",
                                "dBm|90DBM|90", "dBm|-2.50dbm|-2.5", "dBm|3 dB|-", "dBm|dBm|-", "dBm|1,5|-"}) {
            const QStringList f = QString::fromLatin1(row).split(u'|');
            QTest::addRow("%s", row) << f.at(0) << f.at(1) << (f.at(2) == "-" ? QVariant() : QVariant(f.at(2).toDouble()));
        }
    }

    void typedValues()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QTEST(variant(field == "dBm" ? units::readPower(text) : units::readFrequency(text, field == "MHz")), "value");
    }

    void stepDigit_data();
    void stepDigit();
};

void tst_vocabulary::stepDigit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("steps");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<QString>("stepped"); // with "|" at the new cursor; empty: no step

    QTest::newRow("hundreds up") << "2200.000" << 2 << 1 << 35.0 << 4400.0 << "23|00.000";
    QTest::newRow("units up") << "2200.000" << 4 << 1 << 35.0 << 4400.0 << "2201|.000";
    QTest::newRow("right of the point: units") << "2200.000" << 5 << 1 << 35.0 << 4400.0 << "2201|.000";
    QTest::newRow("tenths up") << "2200.000" << 6 << 1 << 35.0 << 4400.0 << "2200.1|00";
    QTest::newRow("thousandths borrow") << "2200.000" << 8 << -1 << 35.0 << 4400.0 << "2199.999|";
    QTest::newRow("carry adds a digit") << "999.5" << 1 << 1 << 35.0 << 4400.0 << "10|99.5";
    QTest::newRow("stops at the maximum") << "4399.5" << 1 << 1 << 35.0 << 4400.0 << "4|400.0";
    QTest::newRow("stays at the minimum") << "35.000" << 2 << -1 << 35.0 << 4400.0 << "35|.000";
    QTest::newRow("from below the minimum") << "0" << 1 << 1 << 5.0 << 10.0 << "5|";
    QTest::newRow("no digit left: the first") << "7.250000" << 0 << 1 << 5.0 << 10.0 << "8|.250000";
    QTest::newRow("wheel notches") << "7.250000" << 3 << -3 << 5.0 << 10.0 << "6.9|50000";
    QTest::newRow("power down") << "-3.5" << 2 << -1 << -90.0 << 90.0 << "-4|.5";
    QTest::newRow("power through zero") << "-0.5" << 2 << 1 << -90.0 << 90.0 << "0|.5";
    QTest::newRow("power at -90") << "-89.5" << 2 << -1 << -90.0 << 90.0 << "-9|0.0";
    QTest::newRow("power at 90") << "85" << 1 << 1 << -90.0 << 90.0 << "9|0";
    QTest::newRow("suffix kept") << "-3 dBm" << 2 << 1 << -90.0 << 90.0 << "-2| dBm";
    QTest::newRow("not a number") << "max" << 1 << 1 << -90.0 << 90.0 << "";
    QTest::newRow("sixteen digits") << "1234567890.123456" << 1 << 1 << 0.0 << 1e10 << "";
}

void tst_vocabulary::stepDigit()
{
    QFETCH(QString, text);
    QFETCH(int, cursor);
    QFETCH(int, steps);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(QString, stepped);
    const std::optional<units::Stepped> result = units::stepDigit(text, cursor, steps, min, max);
    QCOMPARE(result ? QString(result->text).insert(result->cursor, QLatin1Char('|')) : QString(), stepped);
}

QTEST_GUILESS_MAIN(tst_vocabulary)
#include "tst_vocabulary.moc"
