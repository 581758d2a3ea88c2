// Which instruments the panel accepts, and what it knows of each model.
#include "link/discovery.h"
#include "link/modeltable.h"

#include <QtTest>

class tst_discovery : public QObject
{
    Q_OBJECT

private slots:
    // The whole rule: descriptor fields, product id range (base 16) and model
    // prefixes.
    void acceptance_data()
    {
        QTest::addColumn<QString>("descriptor");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("accepted");
        const QString idn = QStringLiteral("Q,774-4400,S,V4\n");
        const auto usb = [](const char *pid) { return QStringLiteral("USB0::0x3A7C::%1::SN::INSTR").arg(pid); };
        QTest::newRow("0x000F lowest") << usb("0x000F") << idn << true;
        QTest::newRow("0x0015 highest") << usb("0x0015") << idn << true;
        QTest::newRow("0x000E below") << usb("0x000E") << idn << false;
        QTest::newRow("0x0016 above") << usb("0x0016") << idn << false;
        QTest::newRow("lower case, upper prefix") << usb("0X000f") << idn << true;
        QTest::newRow("bare 10 is 0x10") << usb("10") << idn << true;
        QTest::newRow("bare 21 is 0x21") << usb("21") << idn << false;
        QTest::newRow("not hexadecimal") << usb("0xZZ") << idn << false;
        QTest::newRow("overflow") << usb("0x1000000000F") << idn << false;
        QTest::newRow("trailing line feed") << usb("0x15\n") << idn << false;
        QTest::newRow("three fields") << "USB0::0x3A7C::0x000F" << idn << false;
        const QString pid = usb("0x0010");
        QTest::newRow("774 exactly") << pid << "Q,774,S,V4\n" << true;
        QTest::newRow("VX27H774 and more") << pid << "Q,VX27H774-20G,S,V4\n" << true;
        QTest::newRow("letter case differs") << pid << "Q,vx27h774,S,V4\n" << false;
        QTest::newRow("leading space") << pid << "Q, 774,S,V4\n" << false;
        QTest::newRow("model in field 0 only") << pid << "774,Q,S,V4\n" << false;
        QTest::newRow("short reply with good model") << pid << "Q,774,S\n" << false;
        QTest::newRow("no answer") << pid << "" << false;
    }

    void acceptance()
    {
        QFETCH(QString, descriptor);
        QFETCH(QString, reply);
        const discovery::DescriptorFields fields = discovery::descriptorFields(descriptor);
        QTEST(fields.complete && discovery::isAccepted(fields.productId, discovery::parseIdentification(reply)), "accepted");
    }

    // "product id|range unit|temperature sensor" for every model; an unknown
    // id gets an empty range.
    void modelTable_data()
    {
        QTest::addColumn<QString>("productId");
        QTest::addColumn<QString>("expected");
        for (const char *row : {"0x000F|35-4400 MHz|0", "10|5-10 GHz|1", "0x0011|10-20 GHz|1", "0x0012|21-24 GHz|1",
                                "0x0013|24-27 GHz|1", "14|25-6000 MHz|0", "0x0015|6-12 GHz|1", "0x0030|0-0 GHz|1",
                                "0x0014\n|0-0 GHz|1"})
            QTest::newRow(row) << QString::fromLatin1(row).section(u'|', 0, 0) << QString::fromLatin1(row).section(u'|', 1);
    }

    void modelTable()
    {
        QFETCH(QString, productId);
        const models::FrequencyRange range = models::frequencyRange(productId);
        QTEST(QStringLiteral("%1-%2 %3|%4").arg(range.minFreq).arg(range.maxFreq).arg(models::unitText(range))
                  .arg(int(models::hasTemperatureSensor(productId))), "expected");
    }
};

QTEST_GUILESS_MAIN(tst_discovery)
#include "tst_discovery.moc"
