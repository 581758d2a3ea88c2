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

const QByteArray Instruments = R"({"resources": [{"resource": "USB0::0x3A7C::0x0010::PA::INSTR", "idn": "Q,VX-10,PA,V4.1.0",
    "state": {"frequency": 7.25, "power": -3.5, "rf": true, "refExternal": true, "refFrequency": 100, "refDivider": 127, "pllMode": 1}},
    {"resource": "USB0::0x3A7C::0x000F::PB::INSTR", "idn": "Q,774-4400,PB,V3.2.0", "state": {"frequency": 2400, "rf": true}}]})";

// A preset file holding the given preset members (JSON text of one object each).
QByteArray file(const QStringList &presets, const QString &top = QString())
{
    return QStringLiteral(R"({"format": "usbsynth-presets", "version": 1%1, "presets": [%2]})").arg(top, presets.join(',')).toUtf8();
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

    UsbStickTab *open(const QString &descriptor)
    {
        auto *tab = new UsbStickTab(rm, descriptor, descriptor == Ghz ? "V4.1.0" : "V3.2.0", "M", descriptor.section("::", 3, 3),
                                    descriptor.section("::", 2, 2));
        tabs.emplace_back(tab);
        tab->show();
        return tab;
    }
    // The tab's presets window, opened by its button.
    static PresetWindow *presetsOf(UsbStickTab *tab)
    {
        tab->findChild<QPushButton *>("presets_btn")->click();
        return topLevel<PresetWindow>(QStringLiteral("SN:") + tab->findChild<QLabel *>("TitleID")->text().section(':', -1));
    }
    static void pass(UsbStickTab *tab) { QMetaObject::invokeMethod(tab, "refreshInterface"); }
    template<typename T = QWidget> static T *w(QWidget *window, const char *name) { return window->findChild<T *>(name); }
    static QString message(PresetWindow *window) { return w<QLabel>(window, "message_lbl")->text(); }
    static void click(PresetWindow *window, const char *button) { w<QPushButton>(window, button)->click(); }
    static void select(PresetWindow *window, const QString &name)
    {
        const QList<QListWidgetItem *> items = w<QListWidget>(window, "preset_list")->findItems(name, Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        items.first()->listWidget()->setCurrentItem(items.first());
    }
    static QStringList names(PresetWindow *window)
    {
        QStringList shown;
        for (const QListWidgetItem *item : w<QListWidget>(window, "preset_list")->findItems(QString(), Qt::MatchContains))
            shown << item->text();
        return shown;
    }
    static QByteArray writeStore(const QByteArray &json)
    {
        QDir().mkpath(QFileInfo(presets::defaultFilePath()).absolutePath());
        QFile out(presets::defaultFilePath());
        return out.open(QIODevice::WriteOnly) && out.write(json) == json.size() ? json : QByteArray();
    }

    QTemporaryDir dataHome;
    SimFixture sim;
    visa::Session rm = visa::NullSession;
    std::vector<std::unique_ptr<UsbStickTab>> tabs;

private slots:
    void initTestCase()
    {
        // Never the operator's own presets.
        QVERIFY(dataHome.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
        QCOMPARE(presets::defaultFilePath(), dataHome.path() + QStringLiteral("/usbsynth/presets.json"));
    }

    void init()
    {
        QFile::remove(presets::defaultFilePath());
        sim.configure(Instruments);
        QVERIFY(visa::openDefaultRM(&rm) >= 0);
        sim.clearTrace();
    }

    void cleanup()
    {
        tabs.clear();
        visa::close(rm);
    }

    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error"); // the start of the reason given
        const QString good = preset("good");
        const auto row = [](const QByteArray &json, const QString &error) { QTest::newRow(qPrintable(error)) << json << error; };
        row(file({good}).chopped(3), "not JSON");
        row("[]", "not a JSON object");
        row(file({good}).replace("usbsynth-presets", "other"), "not a preset file");
        row(file({good}).replace("\"version\": 1,", ""), "no format version");
        row(R"({"format": "usbsynth-presets", "version": 1})", "no \"presets\" list");
        row(file({good, "3"}), "a preset that is not an object");
        row(file({preset(" ")}), "a preset without a name");
        row(file({good, preset("x"), preset("good")}), "two presets named \"good\""); // the rest fine
        // One member changed: a value of the wrong kind, and one beyond each end of each range.
        const std::pair<const char *, const char *> members[] = {
            {"name=3", "a preset without a name"}, {"frequencyMHz=\"2400\"", "no frequencyMHz"}, {"frequencyMHz=0", "frequency 0 MHz"},
            {"powerDbm=\"-5\"", "no powerDbm"}, {"powerDbm=-90.01", "power -90.01 dBm is outside -90 to 90 dBm"},
            {"powerDbm=90.5", "power 90.5 dBm"}, {"reference=\"EXT\"", "reference is not"}, {"referenceMHz=10.5", "no referenceMHz"},
            {"referenceMHz=9", "reference 9 MHz is outside 10 to 100 MHz"}, {"referenceMHz=101", "reference 101 MHz"},
            {"divider=0", "divider 0 is outside 1 to 127"}, {"divider=128", "divider 128 is outside"}, {"pllMode=1", "pllMode is not"}};
        for (const auto &[change, error] : members)
            QTest::newRow(change) << file({preset("p", change)}) << (*change == 'n' ? "" : "preset \"p\": ") + QString(error);
    }

    void damagedFiles()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        const presets::Contents contents = presets::parse(json);
        QVERIFY2(contents.error.startsWith(error), qPrintable(contents.error));
        QVERIFY(contents.presets.isEmpty()); // nothing loaded half
    }

    void roundTrip()
    {
        // Both ends of every range, and members of a later version kept.
        const presets::Contents read = presets::parse(file(
            {preset("low", "frequencyMHz=35;powerDbm=-90;referenceMHz=10;divider=1"),
             preset("high", "frequencyMHz=27000;powerDbm=90;reference=\"external\";referenceMHz=100;divider=127;pllMode=\"integer\"")
                 .replace("\"name\"", "\"future\": [1, 2], \"name\"")},
            QStringLiteral(", \"later\": {\"x\": 1}")).replace("\"version\": 1", "\"version\": 7"));
        QCOMPARE(read.error, QString());
        QCOMPARE(presets::summary(read.presets.value(0)), QStringLiteral("35 MHz, -90 dBm, internal reference, divider 1, fractional"));
        QCOMPARE(presets::summary(read.presets.value(1)), QStringLiteral("27000 MHz, 90 dBm, external reference 100 MHz, divider 127, integer"));

        const QString path = dataHome.filePath(QStringLiteral("sub/folder/out.json"));
        QCOMPARE(presets::writeFile(path, read.presets, read.unknown), QString());
        const presets::Contents again = presets::readFile(path);
        QCOMPARE(again.presets, read.presets);
        QCOMPARE(again.unknown, read.unknown);
        QVERIFY(presets::readFile(path + QStringLiteral(".missing")).error.isEmpty()); // no file: no presets, no error
    }

    void ranges_data()
    {
        QTest::addColumn<QString>("productId");
        QTest::addColumn<double>("frequencyMHz");
        QTest::addColumn<int>("divider");
        QTest::addColumn<QString>("expected"); // the frequency line, or the refusal's start
        const std::tuple<const char *, double, const char *> rows[] = {
            {"0x000F", 35, "FREQ:SET 35"}, {"0x000F", 4400, "FREQ:SET 4400"}, {"0x000F", 34.999, "frequency 34.999 MHz is outside this instrument's 35 to 4400 MHz"},
            {"0x000F", 4400.001, "frequency 4400.001 MHz"}, {"0x0010", 5000, "FREQ:SET 5"}, {"0x0010", 10000, "FREQ:SET 10"},
            {"0x0010", 10000.001, "frequency 10.000001 GHz is outside this instrument's 5 to 10 GHz"}, {"0x0010", 4999, "frequency 4.999 GHz"},
            {"0x0099", 5000, "frequency 5 GHz is outside"}};
        for (const auto &[productId, mhz, expected] : rows)
            QTest::newRow(qPrintable(QStringLiteral("%1 MHz on %2").arg(QString::number(mhz, 'g', 10), productId))) << productId << mhz << 1 << expected;
        // A value no file may hold is refused when applied all the same.
        QTest::newRow("divider 128") << "0x000F" << 2400.0 << 128 << "divider 128 is outside 1 to 127";
    }

    void ranges()
    {
        QFETCH(QString, productId);
        QFETCH(double, frequencyMHz);
        QFETCH(int, divider);
        QFETCH(QString, expected);
        presets::Preset p;
        p.frequencyMHz = frequencyMHz;
        p.divider = divider;
        const presets::Plan plan = presets::applyLines(p, models::frequencyRange(productId), false);
        QCOMPARE(plan.refusal.isEmpty() ? plan.lines.value(4).trimmed() : plan.refusal.left(expected.size()), expected);
        QCOMPARE(plan.lines.isEmpty(), !plan.refusal.isEmpty());
    }

    void saveAndApply()
    {
        UsbStickTab *tab = open(Ghz);
        PresetWindow *window = presetsOf(tab);
        QVERIFY(window && window->isVisible());

        // Nothing is known before the first pass: nothing is saved.
        w<QLineEdit>(window, "name_txt")->setText(QStringLiteral("bench A"));
        click(window, "save_btn");
        QCOMPARE(message(window), QStringLiteral("Not saved: frequency, power, reference, divider, PLL mode not read from the instrument yet."));
        QVERIFY(!QFile::exists(presets::defaultFilePath()));

        pass(tab);
        click(window, "save_btn");
        QCOMPARE(names(window), QStringList{"bench A"});
        QCOMPARE(presets::summary(presets::readFile(presets::defaultFilePath()).presets.value(0)),
                 QStringLiteral("7250 MHz, -3.5 dBm, external reference 100 MHz, divider 127, integer"));

        // Another instrument's window lists it, but its range does not hold it.
        PresetWindow *otherWindow = presetsOf(open(Mhz));
        select(otherWindow, QStringLiteral("bench A"));
        sim.clearTrace();
        click(otherWindow, "apply_btn");
        QCOMPARE(message(otherWindow), QStringLiteral("Not applied: frequency 7250 MHz is outside this instrument's 35 to 4400 MHz."));

        // RF off first, the settings in a fixed order, RF left off.
        select(window, QStringLiteral("bench A"));
        click(window, "apply_btn");
        QCOMPARE(sim.writes(Ghz), (QStringList{"POWE:RF 0", "FREQ:REF:EXT 1", "FREQ:REF:FREQ 100", "FREQ:REF:DIV 127",
                                               "FREQ:PLLM 1", "FREQ:SET 7.25", "POWE:SET -3.5"}));
        QCOMPARE(tab->findChild<QLabel *>("power_lbl")->text(), QStringLiteral("RF Power is OFF"));
        QVERIFY(sim.writes(Mhz).isEmpty()); // nor did the refused one send anything

        // What was sent is unknown again until the next pass.
        click(window, "save_btn");
        QVERIFY(message(window).startsWith(QStringLiteral("Not saved: frequency")));

        // Ticked, RF comes on last.
        w<QCheckBox>(window, "rf_on_chk")->setChecked(true);
        sim.clearTrace();
        click(window, "apply_btn");
        QCOMPARE(sim.writes(Ghz).size(), 8);
        QCOMPARE(sim.writes(Ghz).first() + ", " + sim.writes(Ghz).last(), QStringLiteral("POWE:RF 0, POWE:RF 1"));
        QCOMPARE(tab->findChild<QLabel *>("power_lbl")->text(), QStringLiteral("RF Power is ON"));

        // Rename and delete act on the file.
        w<QLineEdit>(window, "name_txt")->setText(QStringLiteral("bench B"));
        click(window, "rename_btn");
        QCOMPARE(presets::readFile(presets::defaultFilePath()).presets.value(0).name, QStringLiteral("bench B"));
        select(window, QStringLiteral("bench B"));
        click(window, "delete_btn");
        QCOMPARE(names(window), QStringList());
        QCOMPARE(presets::readFile(presets::defaultFilePath()).presets.size(), 0);

        // The tab's closing closes its window.
        tab->closeStateViewer();
        QVERIFY(!window->isVisible());
    }

    void damagedFileIsReportedNotUsed()
    {
        const QByteArray damaged = writeStore(file({preset("fine"), preset("bad", "divider=300")}));
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
        click(window, "save_btn");
        QFile store(presets::defaultFilePath());
        QVERIFY(store.open(QIODevice::ReadOnly));
        QCOMPARE(store.readAll(), damaged);
    }

    void importAndExport()
    {
        QVERIFY(!writeStore(file({preset("a", "referenceMHz=55")})).isEmpty());
        PresetWindow *window = presetsOf(open(Mhz));
        const QString exported = dataHome.filePath(QStringLiteral("export.json"));

        // With an internal reference, its frequency is not sent.
        select(window, QStringLiteral("a"));
        click(window, "apply_btn");
        QCOMPARE(sim.writes(Mhz), (QStringList{"POWE:RF 0", "FREQ:REF:EXT 0", "FREQ:REF:DIV 1", "FREQ:PLLM 0", "FREQ:SET 2400", "POWE:SET -5"}));

        // The dialogs are not modal to the application; choosing a file answers them.
        const auto choose = [&](const char *button, const QString &path) {
            click(window, button);
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
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(file({preset("c"), preset("d", "powerDbm=\"loud\"")})) > 0);
        broken.close();
        choose("import_btn", broken.fileName());
        QVERIFY(message(window).startsWith(QStringLiteral("Not imported: ")));
        QCOMPARE(presets::readFile(presets::defaultFilePath()).presets.size(), 2);
    }
};

QTEST_MAIN(tst_presets)
#include "tst_presets.moc"
