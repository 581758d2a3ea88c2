// Which instruments the panel accepts, and what it knows of each model.
#include "link/discovery.h"
#include "link/modeltable.h"

#include <QtTest>

class tst_discovery : public QObject
{
    Q_OBJECT

private slots:
    void productIdRange_data();
    void productIdRange();
    void descriptorFields_data();
    void descriptorFields();
    void identification_data();
    void identification();
    void acceptance_data();
    void acceptance();
    void modelTable_data();
    void modelTable();
};

void tst_discovery::productIdRange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("supported");

    QTest::newRow("0x000F lowest") << "0x000F" << true;
    QTest::newRow("0x0015 highest") << "0x0015" << true;
    QTest::newRow("0x0012 middle") << "0x0012" << true;
    QTest::newRow("lower-case hex") << "0x000f" << true;
    QTest::newRow("upper-case prefix") << "0X0010" << true;
    QTest::newRow("0x000E below") << "0x000E" << false;
    QTest::newRow("0x0016 above") << "0x0016" << false;
    QTest::newRow("decimal 15") << "15" << true;
    QTest::newRow("decimal 21") << "21" << true;
    QTest::newRow("decimal 14") << "14" << false;
    QTest::newRow("decimal 22") << "22" << false;
    QTest::newRow("decimal 10 is not hex 0x10") << "10" << false;
    QTest::newRow("not a number") << "0xZZ" << false;
    QTest::newRow("hex without prefix") << "000F" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("prefix only") << "0x" << false;
    QTest::newRow("signed") << "-15" << false;
    QTest::newRow("signed hex") << "0x-F" << false;
    QTest::newRow("overflow") << "0x1000000000F" << false;
    QTest::newRow("hex, trailing line feed") << "0x15\n" << false;
    QTest::newRow("decimal, trailing line feed") << "21\n" << false;
    QTest::newRow("leading line feed") << "\n0x15" << false;
}

void tst_discovery::productIdRange()
{
    QFETCH(QString, text);
    QFETCH(bool, supported);
    QCOMPARE(discovery::isSupportedProductId(text), supported);
}

void tst_discovery::descriptorFields_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("productId");
    QTest::addColumn<QString>("serial");

    QTest::newRow("usual") << "USB0::0x3A7C::0x000F::QX1::INSTR" << true << "0x000F" << "QX1";
    QTest::newRow("interface number") << "USB0::0x3A7C::0x0011::SN 2::0::INSTR" << true << "0x0011" << "SN 2";
    QTest::newRow("empty fields kept") << "USB0::::::::INSTR" << true << "" << "";
    QTest::newRow("three fields") << "USB0::0x3A7C::0x000F" << false << "" << "";
    QTest::newRow("not USB") << "ASRL1::INSTR" << false << "" << "";
    QTest::newRow("empty") << "" << false << "" << "";
    QTest::newRow("single colons") << "USB0:0x3A7C:0x000F:QX1:INSTR" << false << "" << "";
}

void tst_discovery::descriptorFields()
{
    QFETCH(QString, descriptor);
    QFETCH(bool, complete);
    QFETCH(QString, productId);
    QFETCH(QString, serial);
    const discovery::DescriptorFields fields = discovery::descriptorFields(descriptor);
    QCOMPARE(fields.complete, complete);
    QCOMPARE(fields.productId, productId);
    QCOMPARE(fields.serial, serial);
}

void tst_discovery::identification_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("firmware");

    QTest::newRow("usual") << "Quorvex Electronics,774-4400,QX1,V4.1.0\n" << true << "774-4400" << "V4.1.0";
    QTest::newRow("model kept untrimmed") << "Q, VX27H774 ,S,V3\n" << true << " VX27H774 " << "V3";
    QTest::newRow("every line feed removed") << "Q,M,S,V\n4\n" << true << "M" << "V4";
    QTest::newRow("extra fields ignored") << "Q,M,S,V4.2,extra\n" << true << "M" << "V4.2";
    QTest::newRow("empty fields") << ",,,\n" << true << "" << "";
    QTest::newRow("three fields") << "Q,774,S\n" << false << "" << "";
    QTest::newRow("one field") << "774\n" << false << "" << "";
    QTest::newRow("no answer") << "" << false << "" << "";
}

void tst_discovery::identification()
{
    QFETCH(QString, reply);
    QFETCH(bool, complete);
    QFETCH(QString, model);
    QFETCH(QString, firmware);
    const discovery::Identification id = discovery::parseIdentification(reply);
    QCOMPARE(id.complete, complete);
    QCOMPARE(id.model, model);
    QCOMPARE(id.firmware, firmware);
}

void tst_discovery::acceptance_data()
{
    QTest::addColumn<QString>("productId");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("accepted");

    const QString pid = QStringLiteral("0x0010");
    QTest::newRow("774 prefix") << pid << "Q,774-4400,S,V4\n" << true;
    QTest::newRow("774 exactly") << pid << "Q,774,S,V4\n" << true;
    QTest::newRow("VX27H774 and more") << pid << "Q,VX27H774-20G,S,V4\n" << true;
    QTest::newRow("VXHN774") << pid << "Q,VXHN774,S,V4\n" << true;
    QTest::newRow("TR27H774") << pid << "Q,TR27H774x,S,V4\n" << true;
    QTest::newRow("letter case differs") << pid << "Q,vx27h774,S,V4\n" << false;
    QTest::newRow("leading space") << pid << "Q, 774,S,V4\n" << false;
    QTest::newRow("prefix in the middle") << pid << "Q,X774,S,V4\n" << false;
    QTest::newRow("other model") << pid << "Q,SG-100,S,V4\n" << false;
    QTest::newRow("model in field 0 only") << pid << "774,Q,S,V4\n" << false;
    QTest::newRow("short reply with good model") << pid << "Q,774,S\n" << false;
    QTest::newRow("no answer") << pid << "" << false;
    QTest::newRow("out of range") << "0x0016" << "Q,774,S,V4\n" << false;
    QTest::newRow("decimal product id") << "16" << "Q,774,S,V4\n" << true;
    QTest::newRow("firmware not tested") << pid << "Q,774,S,garbage\n" << true;
}

void tst_discovery::acceptance()
{
    QFETCH(QString, productId);
    QFETCH(QString, reply);
    QFETCH(bool, accepted);
    QCOMPARE(discovery::isAccepted(productId, discovery::parseIdentification(reply)), accepted);
}

void tst_discovery::modelTable_data()
{
    QTest::addColumn<QString>("productId");
    QTest::addColumn<uint>("minFreq");
    QTest::addColumn<uint>("maxFreq");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<bool>("temperature");

    QTest::newRow("0x000F") << "0x000F" << 35u << 4400u << "MHz" << false;
    QTest::newRow("0x0010") << "0x0010" << 5u << 10u << "GHz" << true;
    QTest::newRow("0x0011") << "0x0011" << 10u << 20u << "GHz" << true;
    QTest::newRow("0x0012") << "0x0012" << 21u << 24u << "GHz" << true;
    QTest::newRow("0x0013") << "0x0013" << 24u << 27u << "GHz" << true;
    QTest::newRow("0x0014") << "0x0014" << 25u << 6000u << "MHz" << false;
    QTest::newRow("0x0015") << "0x0015" << 6u << 12u << "GHz" << true;
    QTest::newRow("decimal 20 is 0x0014") << "20" << 25u << 6000u << "MHz" << false;
    QTest::newRow("lower case 0x000f") << "0x000f" << 35u << 4400u << "MHz" << false;
    QTest::newRow("unknown gets an empty range") << "0x0030" << 0u << 0u << "GHz" << true;
}

void tst_discovery::modelTable()
{
    QFETCH(QString, productId);
    QFETCH(uint, minFreq);
    QFETCH(uint, maxFreq);
    QFETCH(QString, unit);
    QFETCH(bool, temperature);
    const models::FrequencyRange range = models::frequencyRange(productId);
    QCOMPARE(range.minFreq, minFreq);
    QCOMPARE(range.maxFreq, maxFreq);
    QCOMPARE(models::unitText(range), unit);
    QCOMPARE(models::hasTemperatureSensor(productId), temperature);
}

QTEST_GUILESS_MAIN(tst_discovery)
#include "tst_discovery.moc"
