// Presets: the file format and its ranges, and the presets window saving
// and applying through real tabs against simulated instruments, checked on
// the exact lines each instrument received.
#include "link/presets.h"
#include "link/visa.h"
#include "simfixture.h"
#include "tab/presetwindow.h"
#include "tab/usbsticktab.h"

#include <QtWidgets>

namespace {

const QString Ghz = QStringLiteral("USB0::0x3A7C::0x0010::PA::INSTR"); // 5-10 GHz
const QString Mhz = QStringLiteral("USB0::0x3A7C::0x000F::PB::INSTR"); // 35-4400 MHz

const QByteArray Instruments = R"({"resources": [
    {"resource": "USB0::0x3A7C::0x0010::PA::INSTR", "idn": "Q,VX-10,PA,V4.1.0",
     "state": {"frequency": 7.25, "power": -3.5, "rf": true, "refExternal": true, "refFrequency": 100,
               "refDivider": 127, "pllMode": 1}},
    {"resource": "USB0::0x3A7C::0x000F::PB::INSTR", "idn": "Q,774-4400,PB,V3.2.0",
     "state": {"frequency": 2400, "rf": true}}]})";

// A preset file holding the given preset members (JSON text of one object each).
QByteArray file(const QStringList &presets, const QString &top = QString())
{
    return QStringLiteral(R"({"format": "usbsynth-presets", "version": 1%1, "presets": [%2]})")
        .arg(top, presets.join(QLatin1Char(',')))
        .toUtf8();
}

QString preset(const QString &name, const QString &changes = QString())
{
    QString text = QStringLiteral(R"({"name": "%1", "frequencyMHz": 2400, "powerDbm": -5, "reference": "internal",
                                       "referenceMHz": 10, "divider": 1, "pllMode": "fractional"})").arg(name);
    // "key=value" replaces one member's value.
    for (const QString &change : changes.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = change.section(QLatin1Char('='), 0, 0);
        text.replace(QRegularExpression(QStringLiteral("\"%1\": [^,}]+").arg(key)),
                     QStringLiteral("\"%1\": %2").arg(key, change.section(QLatin1Char('='), 1)));
    }
    return text;
}

} // namespace

class tst_presets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void damagedFiles_data();
    void damagedFiles();
    void roundTrip();
    void ranges_data();
    void ranges();
    void saveAndApply();
    void internalReferenceSendsNoFrequency();
    void damagedFileIsReportedNotUsed();
    void importAndExport();

private:
    UsbStickTab *open(const QString &descriptor)
    {
        auto *tab = new UsbStickTab(rm, descriptor, descriptor == Ghz ? "V4.1.0" : "V3.2.0", "M",
                                    descriptor.section(QStringLiteral("::"), 3, 3),
                                    descriptor.section(QStringLiteral("::"), 2, 2));
        tabs.emplace_back(tab);
        tab->show();
        return tab;
    }
    // The tab's presets window, opened by its button.
    PresetWindow *presetsOf(UsbStickTab *tab)
    {
        tab->findChild<QPushButton *>("presets_btn")->click();
        return topLevel<PresetWindow>(QStringLiteral("SN:") + tabSerial(tab));
    }
    static QString tabSerial(UsbStickTab *tab) { return tab->findChild<QLabel *>("TitleID")->text().section(':', -1); }
    static void pass(UsbStickTab *tab) { QMetaObject::invokeMethod(tab, "refreshInterface"); }
    template<typename T = QWidget> static T *w(QWidget *window, const char *name) { return window->findChild<T *>(name); }
    static QString message(PresetWindow *window) { return w<QLabel>(window, "message_lbl")->text(); }
    static void select(PresetWindow *window, const QString &name)
    {
        auto *list = w<QListWidget>(window, "preset_list");
        const QList<QListWidgetItem *> items = list->findItems(name, Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        list->setCurrentItem(items.first());
    }
    static QStringList names(PresetWindow *window)
    {
        QStringList shown;
        auto *list = w<QListWidget>(window, "preset_list");
        for (int i = 0; i < list->count(); ++i)
            shown << list->item(i)->text();
        return shown;
    }
    void writeStore(const QByteArray &json)
    {
        QDir().mkpath(QFileInfo(presets::defaultFilePath()).absolutePath());
        QFile out(presets::defaultFilePath());
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(json);
    }
    QByteArray readStore() const
    {
        QFile in(presets::defaultFilePath());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    QTemporaryDir dataHome;
    SimFixture sim;
    visa::Session rm = visa::NullSession;
    std::vector<std::unique_ptr<UsbStickTab>> tabs;
};

void tst_presets::initTestCase()
{
    // Never the operator's own presets.
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    QCOMPARE(presets::defaultFilePath(), dataHome.path() + QStringLiteral("/usbsynth/presets.json"));
}

void tst_presets::init()
{
    QFile::remove(presets::defaultFilePath());
    sim.configure(Instruments);
    QVERIFY(visa::openDefaultRM(&rm) >= 0);
    sim.clearTrace();
}

void tst_presets::cleanup()
{
    tabs.clear();
    visa::close(rm);
}

void tst_presets::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error"); // the start of the reason given

    const QString good = preset("good");
    QTest::newRow("not JSON") << QByteArray("{\"format\": ") << "not JSON";
    QTest::newRow("cut short") << file({good}).chopped(3) << "not JSON";
    QTest::newRow("a list") << QByteArray("[]") << "not a JSON object";
    QTest::newRow("another format") << file({good}).replace("usbsynth-presets", "other") << "not a preset file";
    QTest::newRow("no version") << file({good}).replace("\"version\": 1,", "") << "no format version";
    QTest::newRow("no presets") << QByteArray(R"({"format": "usbsynth-presets", "version": 1})") << "no \"presets\" list";
    QTest::newRow("a preset not an object") << file({good, "3"}) << "a preset that is not an object";
    QTest::newRow("no name") << file({preset("").replace("\"name\": \"\",", "")}) << "a preset without a name";
    QTest::newRow("blank name") << file({preset(" ")}) << "a preset without a name";
    QTest::newRow("frequency as text") << file({preset("f", "frequencyMHz=\"2400\"")}) << "preset \"f\": no frequencyMHz";
    QTest::newRow("frequency 0") << file({preset("f", "frequencyMHz=0")}) << "preset \"f\": frequency 0 MHz";
    QTest::newRow("power missing") << file({preset("p").replace("\"powerDbm\": -5,", "")}) << "preset \"p\": no powerDbm";
    QTest::newRow("power below -90") << file({preset("p", "powerDbm=-90.01")}) << "preset \"p\": power -90.01 dBm is outside";
    QTest::newRow("power above 90") << file({preset("p", "powerDbm=90.5")}) << "preset \"p\": power 90.5 dBm";
    QTest::newRow("reference word") << file({preset("r", "reference=\"EXT\"")}) << "preset \"r\": reference is not";
    QTest::newRow("reference 9 MHz") << file({preset("r", "referenceMHz=9")}) << "preset \"r\": reference 9 MHz";
    QTest::newRow("reference 101 MHz") << file({preset("r", "referenceMHz=101")}) << "preset \"r\": reference 101 MHz";
    QTest::newRow("reference not whole") << file({preset("r", "referenceMHz=10.5")}) << "preset \"r\": no referenceMHz";
    QTest::newRow("divider 0") << file({preset("d", "divider=0")}) << "preset \"d\": divider 0 is outside";
    QTest::newRow("divider 128") << file({preset("d", "divider=128")}) << "preset \"d\": divider 128 is outside";
    QTest::newRow("pll mode") << file({preset("m", "pllMode=1")}) << "preset \"m\": pllMode is not";
    QTest::newRow("same name twice, the rest fine") << file({good, preset("x"), preset("good")}) << "two presets named";
}

void tst_presets::damagedFiles()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    const presets::Contents contents = presets::parse(json);
    QVERIFY2(contents.error.startsWith(error), qPrintable(contents.error));
    QVERIFY(contents.presets.isEmpty()); // nothing loaded half
}

void tst_presets::roundTrip()
{
    // Both ends of every range, and members of a later version kept.
    const presets::Contents read = presets::parse(file(
        {preset("low", "frequencyMHz=35;powerDbm=-90;referenceMHz=10;divider=1"),
         preset("high", "frequencyMHz=27000;powerDbm=90;reference=\"external\";referenceMHz=100;divider=127;pllMode=\"integer\"")
             .replace("\"name\"", "\"future\": [1, 2], \"name\"")},
        QStringLiteral(", \"later\": {\"x\": 1}")).replace("\"version\": 1", "\"version\": 7"));
    QCOMPARE(read.error, QString());
    QCOMPARE(read.presets.size(), 2);
    const presets::Preset &high = read.presets.at(1);
    QCOMPARE(high.frequencyMHz, 27000.0);
    QCOMPARE(high.powerDbm, 90.0);
    QVERIFY(high.referenceExternal && high.pllInteger);
    QCOMPARE(high.referenceMHz, 100);
    QCOMPARE(high.divider, 127);
    QCOMPARE(read.presets.at(0).powerDbm, -90.0);
    QVERIFY(!read.presets.at(0).referenceExternal && !read.presets.at(0).pllInteger);

    const QString path = dataHome.filePath(QStringLiteral("sub/folder/out.json"));
    QCOMPARE(presets::writeFile(path, read.presets, read.unknown), QString());
    const presets::Contents again = presets::readFile(path);
    QCOMPARE(again.error, QString());
    QCOMPARE(again.presets, read.presets);
    QCOMPARE(again.unknown, read.unknown);
    QVERIFY(QFile(path).open(QIODevice::ReadOnly));
    QVERIFY(presets::readFile(path + QStringLiteral(".missing")).error.isEmpty()); // no file: no presets, no error
}

void tst_presets::ranges_data()
{
    QTest::addColumn<QString>("productId");
    QTest::addColumn<QString>("changes");
    QTest::addColumn<QString>("frequencyLine"); // or the refusal's start

    QTest::newRow("35 MHz on the 4400 MHz model") << "0x000F" << "frequencyMHz=35" << "FREQ:SET 35\n";
    QTest::newRow("4400 MHz on it") << "0x000F" << "frequencyMHz=4400" << "FREQ:SET 4400\n";
    QTest::newRow("34.999 MHz refused") << "0x000F" << "frequencyMHz=34.999"
                                        << "frequency 34.999 MHz is outside this instrument's 35 to 4400 MHz";
    QTest::newRow("4400.001 MHz refused") << "0x000F" << "frequencyMHz=4400.001" << "frequency 4400.001 MHz";
    QTest::newRow("5 GHz model's lower end") << "0x0010" << "frequencyMHz=5000" << "FREQ:SET 5\n";
    QTest::newRow("its upper end") << "0x0010" << "frequencyMHz=10000" << "FREQ:SET 10\n";
    QTest::newRow("kHz kept in GHz") << "0x0010" << "frequencyMHz=7250.001" << "FREQ:SET 7.250001\n";
    QTest::newRow("10.000001 GHz refused") << "0x0010" << "frequencyMHz=10000.001"
                                           << "frequency 10.000001 GHz is outside this instrument's 5 to 10 GHz";
    QTest::newRow("4999 MHz refused") << "0x0010" << "frequencyMHz=4999" << "frequency 4.999 GHz";
    QTest::newRow("unknown model refuses") << "0x0099" << "frequencyMHz=5000" << "frequency 5 GHz is outside";
    QTest::newRow("-90 dBm") << "0x000F" << "powerDbm=-90" << "FREQ:SET 2400\n";
    QTest::newRow("power beyond 90 dBm refused") << "0x000F" << "powerDbm=90.01" << "power 90.01 dBm is outside -90 to 90 dBm";
    QTest::newRow("divider 128 refused") << "0x000F" << "divider=128" << "divider 128 is outside 1 to 127";
}

void tst_presets::ranges()
{
    QFETCH(QString, productId);
    QFETCH(QString, changes);
    QFETCH(QString, frequencyLine);
    const presets::Contents contents = presets::parse(file({preset("p", changes)}));
    presets::Preset p = contents.presets.value(0);
    if (!contents.error.isEmpty()) {
        // Values no file may hold are refused when applied all the same.
        p = presets::parse(file({preset("p")})).presets.value(0);
        if (changes.startsWith(QLatin1String("powerDbm")))
            p.powerDbm = changes.section('=', 1).toDouble();
        else
            p.divider = changes.section('=', 1).toInt();
    }
    const presets::Plan plan = presets::applyLines(p, models::frequencyRange(productId), false);
    if (frequencyLine.startsWith(QLatin1String("FREQ:SET"))) {
        QCOMPARE(plan.refusal, QString());
        QCOMPARE(plan.lines.value(4), frequencyLine);
    } else {
        QVERIFY2(plan.refusal.startsWith(frequencyLine), qPrintable(plan.refusal));
        QVERIFY(plan.lines.isEmpty());
    }
}

void tst_presets::saveAndApply()
{
    UsbStickTab *tab = open(Ghz);
    PresetWindow *window = presetsOf(tab);
    QVERIFY(window && window->isVisible());

    // Nothing is known before the first pass: nothing is saved.
    w<QLineEdit>(window, "name_txt")->setText(QStringLiteral("bench A"));
    w<QPushButton>(window, "save_btn")->click();
    QCOMPARE(message(window), QStringLiteral("Not saved: frequency, power, reference, divider, PLL mode not read from the instrument yet."));
    QVERIFY(!QFile::exists(presets::defaultFilePath()));

    pass(tab);
    w<QPushButton>(window, "save_btn")->click();
    QCOMPARE(names(window), QStringList{"bench A"});
    const presets::Contents stored = presets::readFile(presets::defaultFilePath());
    QCOMPARE(stored.error, QString());
    QCOMPARE(presets::summary(stored.presets.value(0)),
             QStringLiteral("7250 MHz, -3.5 dBm, external reference 100 MHz, divider 127, integer"));

    // Another instrument's window lists it, but its range does not hold it.
    UsbStickTab *other = open(Mhz);
    PresetWindow *otherWindow = presetsOf(other);
    QCOMPARE(names(otherWindow), QStringList{"bench A"});
    select(otherWindow, QStringLiteral("bench A"));
    sim.clearTrace();
    w<QPushButton>(otherWindow, "apply_btn")->click();
    QVERIFY(sim.writes(Mhz).isEmpty()); // 7250 MHz is beyond 4400 MHz
    QCOMPARE(message(otherWindow), QStringLiteral("Not applied: frequency 7250 MHz is outside this instrument's 35 to 4400 MHz."));

    // RF off first, the settings in a fixed order, RF left off.
    select(window, QStringLiteral("bench A"));
    sim.clearTrace();
    w<QPushButton>(window, "apply_btn")->click();
    QCOMPARE(sim.writes(Ghz), (QStringList{"POWE:RF 0", "FREQ:REF:EXT 1", "FREQ:REF:FREQ 100", "FREQ:REF:DIV 127",
                                           "FREQ:PLLM 1", "FREQ:SET 7.25", "POWE:SET -3.5"}));
    QCOMPARE(tab->findChild<QLabel *>("power_lbl")->text(), QStringLiteral("RF Power is OFF"));
    QVERIFY(sim.writes(Mhz).isEmpty());

    // What was sent is unknown again until the next pass.
    w<QPushButton>(window, "save_btn")->click();
    QVERIFY(message(window).startsWith(QStringLiteral("Not saved: frequency")));

    // Ticked, RF comes on last.
    w<QCheckBox>(window, "rf_on_chk")->setChecked(true);
    sim.clearTrace();
    w<QPushButton>(window, "apply_btn")->click();
    QCOMPARE(sim.writes(Ghz).value(0), QStringLiteral("POWE:RF 0"));
    QCOMPARE(sim.writes(Ghz).value(7), QStringLiteral("POWE:RF 1"));
    QCOMPARE(sim.writes(Ghz).size(), 8);
    QCOMPARE(tab->findChild<QLabel *>("power_lbl")->text(), QStringLiteral("RF Power is ON"));

    // Rename and delete act on the file.
    w<QLineEdit>(window, "name_txt")->setText(QStringLiteral("bench B"));
    w<QPushButton>(window, "rename_btn")->click();
    QCOMPARE(presets::readFile(presets::defaultFilePath()).presets.value(0).name, QStringLiteral("bench B"));
    select(window, QStringLiteral("bench B"));
    w<QPushButton>(window, "delete_btn")->click();
    QCOMPARE(names(window), QStringList());
    QCOMPARE(presets::readFile(presets::defaultFilePath()).presets.size(), 0);

    // The tab's closing closes its window.
    tab->closeStateViewer();
    QVERIFY(!window->isVisible());
}

void tst_presets::internalReferenceSendsNoFrequency()
{
    writeStore(file({preset("low", "frequencyMHz=2400;reference=\"internal\";referenceMHz=55")}));
    UsbStickTab *tab = open(Mhz);
    PresetWindow *window = presetsOf(tab);
    select(window, QStringLiteral("low"));
    w<QPushButton>(window, "apply_btn")->click();
    // The reference frequency goes out only for an external reference.
    QCOMPARE(sim.writes(Mhz), (QStringList{"POWE:RF 0", "FREQ:REF:EXT 0", "FREQ:REF:DIV 1", "FREQ:PLLM 0",
                                           "FREQ:SET 2400", "POWE:SET -5"}));
}

void tst_presets::damagedFileIsReportedNotUsed()
{
    const QByteArray damaged = file({preset("fine"), preset("bad", "divider=300")});
    writeStore(damaged);
    UsbStickTab *tab = open(Ghz);
    QStringList logged;
    connect(tab, &UsbStickTab::logMsg, this, [&](const QString &text) { logged << text; });
    pass(tab);
    PresetWindow *window = presetsOf(tab);
    const QString report = QStringLiteral("Preset file %1 is damaged: preset \"bad\": divider 300 is outside 1 to 127")
                               .arg(presets::defaultFilePath());
    QCOMPARE(message(window), report);
    QCOMPARE(logged, QStringList{report});
    QCOMPARE(names(window), QStringList());
    // Saving never writes over it.
    w<QLineEdit>(window, "name_txt")->setText(QStringLiteral("new"));
    w<QPushButton>(window, "save_btn")->click();
    QCOMPARE(readStore(), damaged);
}

void tst_presets::importAndExport()
{
    writeStore(file({preset("a")}));
    UsbStickTab *tab = open(Mhz);
    PresetWindow *window = presetsOf(tab);
    const QString exported = dataHome.filePath(QStringLiteral("export.json"));

    // The dialogs are not modal to the application; choosing a file answers them.
    const auto choose = [&](const char *button, const QString &path) {
        w<QPushButton>(window, button)->click();
        auto *dialog = window->findChild<QFileDialog *>();
        QVERIFY(dialog && dialog->isVisible() && dialog->windowModality() != Qt::ApplicationModal);
        emit dialog->fileSelected(path);
        dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    choose("export_btn", exported);
    QCOMPARE(presets::readFile(exported).presets, presets::readFile(presets::defaultFilePath()).presets);

    // An imported name in use gets a number; a damaged import changes nothing.
    choose("import_btn", exported);
    QCOMPARE(names(window), (QStringList{"a", "a (2)"}));
    QFile broken(dataHome.filePath(QStringLiteral("broken.json")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(file({preset("c"), preset("d", "powerDbm=\"loud\"")}));
    broken.close();
    choose("import_btn", broken.fileName());
    QVERIFY(message(window).startsWith(QStringLiteral("Not imported: ")));
    QCOMPARE(presets::readFile(presets::defaultFilePath()).presets.size(), 2);
}

QTEST_MAIN(tst_presets)
#include "tst_presets.moc"
