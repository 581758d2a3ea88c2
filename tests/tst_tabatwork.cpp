// A device tab at work against simulated instruments: driven through its
// widgets by object name, checked on the exact lines the instrument received
// (and the absence of lines) and on what the widgets show.
#include "link/visa.h"
#include "simfixture.h"
#include "tab/thresset.h"
#include "tab/usbsticktab.h"
#include "viewer/profile_viewer.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>

namespace {

const QString Ghz = QStringLiteral("USB0::0x3A7C::0x0010::WK1::INSTR"); // 5-10 GHz, firmware 4
const QString Mhz = QStringLiteral("USB0::0x3A7C::0x0014::WK2::INSTR"); // 25-6000 MHz, firmware 3

const QStringList MhzQueries{"FREQ:REF:EXT?", "POWE:RF?",  "FREQ:REF:FREQ?", "FREQ:PLLM?", "FREQ:REF:DIV?",
                             "FREQ:LOCK?",    "POWE:SET?", "FREQ:SET?",      "FREQ:RETACT?"};
const QStringList GhzQueries = MhzQueries + QStringList{"SYST:READSTATE?", "SYST:TEMP?"};

// The two instruments; extra JSON members (replies, faults) for the GHz one.
QByteArray config(const QString &ghzExtra = QString())
{
    return QStringLiteral(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x0010::WK1::INSTR", "idn": "Q,VX-10,WK1,V4.1.0",
         "state": {"frequency": 7.25, "power": -3.5, "temperature": 23.5}%1},
        {"resource": "USB0::0x3A7C::0x0014::WK2::INSTR", "idn": "Q,774-6000,WK2,V3.2.0",
         "state": {"frequency": 2200}}]})")
        .arg(ghzExtra.isEmpty() ? QString() : QStringLiteral(", ") + ghzExtra)
        .toUtf8();
}

QString replies(const QString &members)
{
    return QStringLiteral(R"("replies": {%1})").arg(members);
}

} // namespace

class tst_tabatwork : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void construction_data();
    void construction();
    void fullPass_data();
    void fullPass();
    void failureMessages_data();
    void failureMessages();
    void acceptedReplies_data();
    void acceptedReplies();
    void errorLeavesEarlierWidgets();
    void refreshSendsNothingBack();
    void controls_data();
    void controls();
    void typedFrequency_data();
    void typedFrequency();
    void typedPower_data();
    void typedPower();
    void referenceFrequency_data();
    void referenceFrequency();
    void thresholdWindow_data();
    void thresholdWindow();
    void timerRules();
    void failedOpenKeepsTheQueue();
    void closingTabStaysQuiet();

private:
    void open(const QString &descriptor, const QString &firmware, const QString &productId,
              const QString &model = QStringLiteral("M"));
    void open(const QString &descriptor)
    {
        descriptor == Ghz ? open(Ghz, QStringLiteral("V4.1.0"), QStringLiteral("0x0010"))
                          : open(Mhz, QStringLiteral("V3.2.0"), QStringLiteral("0x0014"));
    }
    template<typename T = QWidget> T *w(const char *name) const
    {
        T *found = tab->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }
    QTimer *timer() const { return w<QTimer>("refreshTimer"); }
    QStringList writes() const { return sim->writes(descriptor); }
    // Runs one refresh pass now and returns the lines it wrote.
    QStringList pass();
    void typeAndReturn(const char *field, const QString &text);

    std::unique_ptr<SimFixture> sim;
    std::unique_ptr<BoxCatcher> boxes;
    visa::Session rm = visa::NullSession;
    QString descriptor;
    std::unique_ptr<UsbStickTab> tab;
};

void tst_tabatwork::init()
{
    sim = std::make_unique<SimFixture>();
    sim->configure(config());
    QVERIFY(visa::openDefaultRM(&rm) >= 0);
    sim->clearTrace();
    boxes = std::make_unique<BoxCatcher>();
}

void tst_tabatwork::cleanup()
{
    tab.reset();
    boxes.reset();
    visa::close(rm);
    sim.reset();
}

void tst_tabatwork::open(const QString &descriptor, const QString &firmware, const QString &productId,
                         const QString &model)
{
    this->descriptor = descriptor;
    tab = std::make_unique<UsbStickTab>(rm, descriptor, firmware, model, QStringLiteral("S1"), productId);
    tab->show();
}

QStringList tst_tabatwork::pass()
{
    sim->clearTrace();
    QMetaObject::invokeMethod(tab.get(), "refreshInterface");
    return writes();
}

void tst_tabatwork::typeAndReturn(const char *field, const QString &text)
{
    w<QLineEdit>(field)->setText(text);
    QTest::keyClick(w(field), Qt::Key_Return);
}

void tst_tabatwork::construction_data()
{
    QTest::addColumn<QString>("productId");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("storedStates");

    QTest::newRow("0x000F V4.2") << "0x000F" << "V4.2" << "Frequency (35-4400 MHz)" << true;
    QTest::newRow("0x0010 V10.0") << "0x0010" << "V10.0" << "Frequency (5-10 GHz)" << true;
    QTest::newRow("0x0014 V3.9") << "0x0014" << "V3.9" << "Frequency (25-6000 MHz)" << false;
    QTest::newRow("0x0013 V3") << "0x0013" << "V3" << "Frequency (24-27 GHz)" << false;
    QTest::newRow("decimal 20, no firmware") << "20" << "" << "Frequency (25-6000 MHz)" << false;
    QTest::newRow("unknown id, VX.1") << "0x0042" << "VX.1" << "Frequency (0-0 GHz)" << false;
    QTest::newRow("4.1 loses its first digit") << "0x0015" << "4.1" << "Frequency (6-12 GHz)" << false;
    QTest::newRow("45.1 loses its first digit") << "0x0011" << "45.1" << "Frequency (10-20 GHz)" << true;
}

void tst_tabatwork::construction()
{
    QFETCH(QString, productId);
    QFETCH(QString, firmware);
    QFETCH(QString, title);
    QFETCH(bool, storedStates);
    QTest::failOnWarning(QRegularExpression(QStringLiteral("No matching signal")));
    open(Ghz, firmware, productId, QStringLiteral("<b>M</b>"));

    QCOMPARE(w<QGroupBox>("freq_gbx")->title(), title);
    QCOMPARE(w("state_config_gbx")->isHidden(), !storedStates);
    QCOMPARE(w("state_config_gbx")->isEnabled(), storedStates);
    // The instrument's own words are shown as they are, never as markup.
    QCOMPARE(w<QLabel>("TitleID")->text(), "<b>M</b> - " + firmware + " - SN:S1");
    QCOMPARE(w<QLabel>("TitleID")->textFormat(), Qt::PlainText);

    // Nothing has been read: nothing looks like a reading.
    for (const char *name : {"act_freq_lbl", "temp_lbl", "power_lbl", "atten_stat_lbl", "freq_text", "Powe_Val",
                             "reference_freq_txt"})
        QVERIFY2(!w(name)->property("text").toString().contains(QRegularExpression(QStringLiteral("\\d|ON|OFF"))),
                 name);
    QVERIFY(w<QLabel>("lock_lbl")->pixmap().isNull());

    QVERIFY(w<QRadioButton>("ref_int_radio")->isChecked());
    QVERIFY(!w("reference_freq_txt")->isEnabled());
    QVERIFY(!w("set_ref_freq_btn")->isEnabled());
    QCOMPARE(w<QComboBox>("ref_div_cmb")->count(), 127);
    QCOMPARE(w<QComboBox>("ref_div_cmb")->itemText(126), QStringLiteral("127"));
    QCOMPARE(w<QComboBox>("ref_div_cmb")->currentText(), QStringLiteral("1"));
    QCOMPARE(w<QPushButton>("load_state_btn")->text(), QStringLiteral("Load: \nState 0"));
    QVERIFY(!w("save_state_btn")->isEnabled());
    // Building the tab schedules nothing and sends nothing.
    QVERIFY(!timer()->isActive());
    QCOMPARE(sim->trace(), QStringList());
}

void tst_tabatwork::fullPass_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QStringList>("queries");
    QTest::addColumn<QStringList>("shown"); // object=text

    QTest::newRow("GHz, firmware 4")
        << Ghz << GhzQueries
        << QStringList{"freq_text=7.250000", "act_freq_lbl=7.250000", "Powe_Val=-3.5", "atten_stat_lbl=",
                       "power_lbl=RF Power is ON", "reference_freq_txt=10", "temp_lbl=23.50 C"};
    QTest::newRow("MHz, firmware 3, no sensor")
        << Mhz << MhzQueries << QStringList{"freq_text=2200.000", "act_freq_lbl=2200.000", "temp_lbl=N/A"};
}

void tst_tabatwork::fullPass()
{
    QFETCH(QString, instrument);
    QFETCH(QStringList, queries);
    QFETCH(QStringList, shown);
    open(instrument);
    QSignalSpy logged(tab.get(), &UsbStickTab::logMsg);
    QCOMPARE(pass(), queries);
    for (const QString &item : shown) {
        const QStringList pair = item.split(QLatin1Char('='));
        QCOMPARE(w(qPrintable(pair[0]))->property("text").toString(), pair[1]);
    }
    QCOMPARE(w<QLabel>("lock_lbl")->pixmap().toImage(), QPixmap(QStringLiteral(":/Icons/Lock-icon.png")).toImage());
    QVERIFY(w<QRadioButton>("ref_int_radio")->isChecked());
    QVERIFY(w<QRadioButton>("pllm_frac_rad")->isChecked());
    QCOMPARE(logged.count(), 0);
    QVERIFY(timer()->isActive());
    if (instrument == Ghz) {
        // The state dump reaches the viewer, shown or not.
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (qobject_cast<profile_viewer *>(top))
                QCOMPARE(top->findChild<QTableWidget *>()->item(5, 1)->text(), QStringLiteral("7.25"));
        }
    }
}

void tst_tabatwork::failureMessages_data()
{
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("lastQuery");

    const auto reply = [](const char *query, const char *text) {
        return replies(QStringLiteral(R"("%1": "%2")").arg(QLatin1String(query), QLatin1String(text)));
    };
    QTest::newRow("ext x") << reply("FREQ:REF:EXT?", "x") << "Unrecognized FREQ:REF:EXT response" << "FREQ:REF:EXT?";
    QTest::newRow("ext 2") << reply("FREQ:REF:EXT?", "2") << "Bad FREQ:REF:EXT response" << "FREQ:REF:EXT?";
    QTest::newRow("rf on") << reply("POWE:RF?", "on") << "Unrecognized POWE:RF response" << "POWE:RF?";
    QTest::newRow("rf 5") << reply("POWE:RF?", "5") << "Bad POWE:RF response" << "POWE:RF?";
    QTest::newRow("ref ten") << reply("FREQ:REF:FREQ?", "ten") << "Unrecognized FREQ:REF:FREQ response"
                             << "FREQ:REF:FREQ?";
    QTest::newRow("pll ?") << reply("FREQ:PLLM?", "?") << "Unrecognized FREQ:PLLM response" << "FREQ:PLLM?";
    QTest::newRow("pll 3") << reply("FREQ:PLLM?", "3") << "Bad FREQ:PLLM response" << "FREQ:PLLM?";
    QTest::newRow("divider z") << reply("FREQ:REF:DIV?", "z") << "Bad FREQ:REF:DIV response" << "FREQ:REF:DIV?";
    QTest::newRow("divider 0") << reply("FREQ:REF:DIV?", "0") << "Bad FREQ:REF:DIV response" << "FREQ:REF:DIV?";
    QTest::newRow("divider 128") << reply("FREQ:REF:DIV?", "128") << "Bad FREQ:REF:DIV response" << "FREQ:REF:DIV?";
    QTest::newRow("lock yes") << reply("FREQ:LOCK?", "yes") << "Unrecognized 'FREQ:LOCK' response" << "FREQ:LOCK?";
    QTest::newRow("lock 2") << reply("FREQ:LOCK?", "2") << "Bad 'FREQ:LOCK' response" << "FREQ:LOCK?";
    QTest::newRow("power abc") << reply("POWE:SET?", "abc") << "Unrecognized POWE:SET response" << "POWE:SET?";
    QTest::newRow("power -90.5") << reply("POWE:SET?", "-90.5") << "Power Range Error" << "POWE:SET?";
    QTest::newRow("power 91 MAX") << reply("POWE:SET?", "91 MAX") << "Power Range Error" << "POWE:SET?";
    QTest::newRow("frequency abc") << reply("FREQ:SET?", "abc") << "Bad FREQ:SET response" << "FREQ:SET?";
    QTest::newRow("frequency 4.99") << reply("FREQ:SET?", "4.99") << "Frequency Range Error" << "FREQ:SET?";
    QTest::newRow("frequency 10.01") << reply("FREQ:SET?", "10.01") << "Frequency Range Error" << "FREQ:SET?";
    QTest::newRow("actual n/a") << reply("FREQ:RETACT?", "n/a") << "Unrecognized FREQ:RETACT response"
                                << "FREQ:RETACT?";
    QTest::newRow("temperature warm") << reply("SYST:TEMP?", "warm") << "Unrecognized SYST:TEMP response"
                                      << "SYST:TEMP?";
    QTest::newRow("lock read fails") << R"("faults": {"readStatus": {"FREQ:LOCK?": -1073807339}})"
                                     << "Read Error: Code -1073807339" << "FREQ:LOCK?";
    // The dump only feeds the viewer: the pass goes on to the temperature.
    QTest::newRow("dump read fails") << R"("faults": {"readStatus": {"SYST:READSTATE?": -1073807298}})"
                                     << "Read Error: Code -1073807298" << "SYST:TEMP?";
}

void tst_tabatwork::failureMessages()
{
    QFETCH(QString, extra);
    QFETCH(QString, message);
    QFETCH(QString, lastQuery);
    sim->configure(config(extra));
    open(Ghz);
    QSignalSpy logged(tab.get(), &UsbStickTab::logMsg);
    QCOMPARE(pass().last(), lastQuery); // later steps did not run
    QCOMPARE(logged.count(), 1);
    QCOMPARE(logged.first().first().toString(), message);
    QVERIFY(timer()->isActive()); // polling goes on
}

void tst_tabatwork::acceptedReplies_data()
{
    QTest::addColumn<QString>("members");
    QTest::addColumn<QByteArray>("object");
    QTest::addColumn<QString>("shown");

    QTest::newRow("power -90") << R"("POWE:SET?": "-90")" << QByteArray("Powe_Val") << "-90";
    QTest::newRow("power 90 MAX") << R"("POWE:SET?": "90 MAX")" << QByteArray("Powe_Val") << "90 MAX";
    QTest::newRow("MAX status") << R"("POWE:SET?": "90 MAX")" << QByteArray("atten_stat_lbl")
                                << "Power is set to Maximum";
    QTest::newRow("MIN status") << R"("POWE:SET?": "-3.5 MIN")" << QByteArray("atten_stat_lbl")
                                << "Power is set to Minimum";
    QTest::newRow("RF off power") << R"("POWE:SET?": "OFF,-3.5")" << QByteArray("Powe_Val") << "-3.5";
    QTest::newRow("RF off no status") << R"("POWE:SET?": "OFF,-3.5 MIN")" << QByteArray("atten_stat_lbl") << "";
    QTest::newRow("RF off") << R"("POWE:RF?": "0")" << QByteArray("power_lbl") << "RF Power is OFF";
    QTest::newRow("frequency 0 whatever the range") << R"("FREQ:SET?": "0")" << QByteArray("freq_text") << "0.000000";
    QTest::newRow("frequency at minimum") << R"("FREQ:SET?": "5")" << QByteArray("freq_text") << "5.000000";
    QTest::newRow("frequency at maximum") << R"("FREQ:SET?": "10")" << QByteArray("freq_text") << "10.000000";
    QTest::newRow("frequency to the kHz") << R"("FREQ:SET?": "6.345679")" << QByteArray("freq_text") << "6.345679";
    QTest::newRow("reference CR LF") << R"("FREQ:REF:FREQ?": {"text": "50\r\n", "lineFeed": false})"
                                     << QByteArray("reference_freq_txt") << "50";
    QTest::newRow("actual CR LF") << R"("FREQ:RETACT?": {"text": "7.25\r\n", "lineFeed": false})"
                                  << QByteArray("act_freq_lbl") << "7.25";
    QTest::newRow("temperature") << R"("SYST:TEMP?": "23.456")" << QByteArray("temp_lbl") << "23.46 C";
    QTest::newRow("unlocked") << R"("FREQ:LOCK?": "0")" << QByteArray("lock_lbl") << ":/Icons/Lock-Unlock-icon.png";
}

void tst_tabatwork::acceptedReplies()
{
    QFETCH(QString, members);
    QFETCH(QByteArray, object);
    QFETCH(QString, shown);
    sim->configure(config(replies(members)));
    open(Ghz);
    QSignalSpy logged(tab.get(), &UsbStickTab::logMsg);
    QCOMPARE(pass().size(), GhzQueries.size());
    QCOMPARE(logged.count(), 0);
    if (object == "lock_lbl")
        QCOMPARE(w<QLabel>("lock_lbl")->pixmap().toImage(), QPixmap(shown).toImage());
    else
        QCOMPARE(w(object.constData())->property("text").toString(), shown);
}

void tst_tabatwork::errorLeavesEarlierWidgets()
{
    open(Ghz);
    pass();
    w<QLineEdit>("freq_text")->setText(QStringLiteral("marker"));
    sim->configure(config(replies(QStringLiteral(R"("POWE:RF?": "0", "FREQ:REF:FREQ?": "55", "FREQ:PLLM?": "7")"))));
    pass();
    QCOMPARE(w<QLabel>("power_lbl")->text(), QStringLiteral("RF Power is OFF"));
    QCOMPARE(w<QLineEdit>("reference_freq_txt")->text(), QStringLiteral("55"));
    QCOMPARE(w<QLineEdit>("freq_text")->text(), QStringLiteral("marker"));
}

void tst_tabatwork::refreshSendsNothingBack()
{
    open(Ghz);
    // The instrument reports other settings for a while (a wrong reply, or a
    // change made elsewhere): the form follows, the instrument is left alone.
    sim->configure(config(replies(QStringLiteral(R"("FREQ:REF:EXT?": "1", "FREQ:PLLM?": "1", "FREQ:REF:DIV?": "8")"))));
    QCOMPARE(pass(), GhzQueries);
    QVERIFY(w<QRadioButton>("ref_ext_radio")->isChecked());
    QVERIFY(w<QRadioButton>("pllm_int_rad")->isChecked());
    QCOMPARE(w<QComboBox>("ref_div_cmb")->currentText(), QStringLiteral("8"));
    QVERIFY(w("reference_freq_txt")->isEnabled());
    QVERIFY(w("set_ref_freq_btn")->isEnabled());

    sim->configure(config());
    QCOMPARE(pass(), GhzQueries);
    QVERIFY(w<QRadioButton>("ref_int_radio")->isChecked());
    QVERIFY(w<QRadioButton>("pllm_frac_rad")->isChecked());
    QCOMPARE(w<QComboBox>("ref_div_cmb")->currentText(), QStringLiteral("1"));
    QVERIFY(!w("reference_freq_txt")->isEnabled());
    QVERIFY(!w("set_ref_freq_btn")->isEnabled());
    QTest::qWait(20);
    QCOMPARE(writes(), GhzQueries);
}

void tst_tabatwork::controls_data()
{
    QTest::addColumn<bool>("read");        // a refresh pass first
    QTest::addColumn<QStringList>("steps"); // a button to click, combo=index, or a slot to call
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("min and max power") << false << QStringList{"set_min_powe_btn", "set_max_powe_btn"}
                                       << QStringList{"POWE:SET MIN", "POWE:SET MAX"};
    QTest::newRow("RF off, on, off") << true << QStringList{"power_btn", "power_btn", "power_btn"}
                                     << QStringList{"POWE:RF 0", "POWE:RF 1", "POWE:RF 0"};
    QTest::newRow("RF not read yet") << false << QStringList{"power_btn"} << QStringList{};
    QTest::newRow("reference source") << false << QStringList{"ref_ext_radio", "ref_int_radio"}
                                      << QStringList{"FREQ:REF:EXT 1", "FREQ:REF:EXT 0"};
    QTest::newRow("divider 8, once") << true << QStringList{"ref_div_cmb=7"} << QStringList{"FREQ:REF:DIV 8"};
    QTest::newRow("PLL mode") << false << QStringList{"pllm_int_rad", "pllm_frac_rad"}
                              << QStringList{"FREQ:PLLM 1", "FREQ:PLLM 0"};
    QTest::newRow("state 5") << false
                             << QStringList{"state_cmb=2", "state_cmb=5", "save_state_btn", "set_default_btn",
                                            "load_state_btn"}
                             << QStringList{"SYST:SAVESTATE 5", "SYST:BOOTSTATE 5", "SYST:LOADSTATE 5"};
    QTest::newRow("state 0 is never saved")
        << false
        << QStringList{"state_cmb=3", "state_cmb=0", "save_state_btn", "on_save_state_btn_clicked", "load_state_btn",
                       "set_default_btn"}
        << QStringList{"SYST:LOADSTATE 0", "SYST:BOOTSTATE 0"};
}

void tst_tabatwork::controls()
{
    QFETCH(bool, read);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, sent);
    open(Ghz);
    if (read)
        pass();
    sim->clearTrace();
    for (const QString &step : steps) {
        const QStringList parts = step.split(QLatin1Char('='));
        if (parts.size() == 2)
            w<QComboBox>(qPrintable(parts[0]))->setCurrentIndex(parts[1].toInt());
        else if (step.startsWith(QLatin1String("on_")))
            QMetaObject::invokeMethod(tab.get(), qPrintable(step));
        else
            w<QAbstractButton>(qPrintable(step))->click();
    }
    QCOMPARE(writes(), sent);
    if (steps.first().startsWith(QLatin1String("state_cmb"))) {
        // The buttons name the state chosen last.
        const QString state = steps.at(1).right(1);
        QCOMPARE(w<QPushButton>("load_state_btn")->text(), "Load: \nState " + state);
        QCOMPARE(w<QPushButton>("set_default_btn")->text(), "Set State " + state + "\n As Boot State");
    }
}

void tst_tabatwork::typedFrequency_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");  // empty: nothing
    QTest::addColumn<QString>("box");   // empty: none
    QTest::addColumn<QString>("shown"); // by the next pass

    QTest::newRow("GHz 7.5") << Ghz << "7.5" << "FREQ:SET 7.5" << "" << "7.500000";
    QTest::newRow("GHz as typed") << Ghz << "6.3456789" << "FREQ:SET 6.3456789" << "" << "6.345679";
    QTest::newRow("GHz 5") << Ghz << "5" << "FREQ:SET 5" << "" << "5.000000";
    QTest::newRow("GHz 10") << Ghz << "10" << "FREQ:SET 10" << "" << "10.000000";
    QTest::newRow("GHz 12.3456789") << Ghz << "12.3456789" << "" << "Frequency Range Error" << "";
    QTest::newRow("GHz 4.999") << Ghz << "4.999" << "" << "Frequency Range Error" << "";
    QTest::newRow("GHz unit typed") << Ghz << "2.2 GHz" << "" << "Frequency Not Recognized" << "";
    QTest::newRow("GHz nan") << Ghz << "nan" << "" << "Frequency Not Recognized" << "";
    QTest::newRow("MHz 35") << Mhz << "35" << "FREQ:SET 35" << "" << "35.000";
    QTest::newRow("MHz 1234.56789") << Mhz << "1234.56789" << "FREQ:SET 1234.56789" << "" << "1234.568";
    QTest::newRow("MHz 6000.01") << Mhz << "6000.01" << "" << "Frequency Range Error" << "";
    QTest::newRow("MHz empty") << Mhz << "" << "" << "Frequency Not Recognized" << "";
}

void tst_tabatwork::typedFrequency()
{
    QFETCH(QString, instrument);
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    QFETCH(QString, box);
    QFETCH(QString, shown);
    open(instrument);
    const QStringList shownBoxes = boxes->expect([&] { typeAndReturn("freq_text", typed); });
    QCOMPARE(shownBoxes, box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(writes(), sent.isEmpty() ? QStringList() : QStringList{sent});
    if (sent.isEmpty())
        return;
    // The instrument's setting, shown to its resolution, goes back unchanged.
    pass();
    QCOMPARE(w<QLineEdit>("freq_text")->text(), shown);
    sim->clearTrace();
    w<QPushButton>("freq_button")->click();
    QCOMPARE(writes(), QStringList{"FREQ:SET " + QString::number(shown.toDouble(), 'g', 10)});
}

void tst_tabatwork::typedPower_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent"); // empty: nothing
    QTest::addColumn<QString>("box");  // empty: none

    QTest::newRow("max") << "max" << "POWE:SET MAX" << "";
    QTest::newRow("Minimum") << "Minimum" << "POWE:SET MIN" << "";
    QTest::newRow("minmax asks for the minimum") << "minmax" << "POWE:SET MIN" << "";
    QTest::newRow("-3 min") << "-3 min" << "POWE:SET MIN" << "";
    QTest::newRow("-5") << "-5" << "POWE:SET -5" << "";
    QTest::newRow("-2.50") << "-2.50" << "POWE:SET -2.5" << "";
    QTest::newRow("90") << "90" << "POWE:SET 90" << "";
    QTest::newRow("-90") << "-90" << "POWE:SET -90" << "";
    QTest::newRow("abc") << "abc" << "" << "Power Not Recognized";
    QTest::newRow("empty") << "" << "" << "Power Not Recognized";
    QTest::newRow("95") << "95" << "" << "Power Range Error";
    QTest::newRow("-90.01") << "-90.01" << "" << "Power Range Error";
}

void tst_tabatwork::typedPower()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    QFETCH(QString, box);
    open(Ghz);
    w<QLabel>("atten_stat_lbl")->setText(QStringLiteral("Power is set to Maximum"));
    const QStringList shownBoxes = boxes->expect([&] { typeAndReturn("Powe_Val", typed); });
    QCOMPARE(shownBoxes, box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(writes(), sent.isEmpty() ? QStringList() : QStringList{sent});
    if (!sent.isEmpty())
        QCOMPARE(w<QLabel>("atten_stat_lbl")->text(), QString()); // until the next pass fills it
}

void tst_tabatwork::referenceFrequency_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");

    QTest::newRow("50") << "50" << "FREQ:REF:FREQ 50";
    QTest::newRow("10") << "10" << "FREQ:REF:FREQ 10";
    QTest::newRow("100") << "100" << "FREQ:REF:FREQ 100";
    QTest::newRow("blank and leading zero") << " 050" << "FREQ:REF:FREQ 50";
    QTest::newRow("9") << "9" << "";
    QTest::newRow("101") << "101" << "";
    QTest::newRow("50.5") << "50.5" << "";
    QTest::newRow("empty") << "" << "";
}

void tst_tabatwork::referenceFrequency()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    open(Ghz);
    w<QRadioButton>("ref_ext_radio")->click();
    sim->clearTrace();
    w<QLineEdit>("reference_freq_txt")->setText(typed);
    w<QPushButton>("set_ref_freq_btn")->click();
    QCOMPARE(writes(), sent.isEmpty() ? QStringList() : QStringList{sent});
    QCOMPARE(timer()->isActive(), !sent.isEmpty()); // a refused value leaves polling stopped
}

void tst_tabatwork::thresholdWindow_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("useReturn");
    QTest::addColumn<QString>("sent"); // empty: nothing, the window stays

    QTest::newRow("45 and Return") << "45" << true << "SYST:TEMPTHRES 45";
    QTest::newRow("42.125 and Set") << "42.125" << false << "SYST:TEMPTHRES 42.125";
    QTest::newRow("abc") << "abc" << false << "";
    QTest::newRow("empty") << "" << true << "";
}

void tst_tabatwork::thresholdWindow()
{
    QFETCH(QString, typed);
    QFETCH(bool, useReturn);
    QFETCH(QString, sent);
    open(Ghz);
    w<QPushButton>("Thres_btn")->click();
    ThresSet *window = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<ThresSet *>(top); found && found->isVisible())
            window = found;
    }
    QVERIFY(window);
    auto *field = window->findChild<QLineEdit *>(QStringLiteral("thres_txt"));
    QTest::keyClicks(field, typed);
    if (useReturn)
        QTest::keyClick(field, Qt::Key_Return);
    else
        window->findChild<QPushButton *>(QStringLiteral("set_thres_btn"))->click();
    QCOMPARE(writes(), sent.isEmpty() ? QStringList() : QStringList{sent});
    QCOMPARE(window->isVisible(), sent.isEmpty());

    // Opening it again shows what was typed; closing it sends nothing.
    w<QPushButton>("Thres_btn")->click();
    QCOMPARE(field->text(), typed);
    window->close();
    QCOMPARE(writes(), sent.isEmpty() ? QStringList() : QStringList{sent});
}

void tst_tabatwork::timerRules()
{
    open(Ghz);
    w<QRadioButton>("ref_ext_radio")->click(); // enables the reference entry
    for (const char *name : {"freq_text", "Powe_Val", "reference_freq_txt"}) {
        auto *edit = w<QLineEdit>(name);
        tab->startRefresh();
        QTest::keyClick(edit, Qt::Key_1);
        QVERIFY2(!timer()->isActive(), name); // typing stops polling
        tab->startRefresh();
        edit->selectAll();
        QVERIFY2(!timer()->isActive(), name); // so does selecting
        emit edit->editingFinished();
        QVERIFY2(timer()->isActive(), name); // finishing schedules the next pass
    }
    // The refresh button restarts the whole interval.
    QTest::qWait(300);
    w<QPushButton>("refresh_btn")->click();
    QVERIFY(timer()->remainingTime() > 900);
    // Only the tab shown polls.
    tab->hide();
    QMetaObject::invokeMethod(tab.get(), "tabsChanged");
    QVERIFY(!timer()->isActive());
    tab->show();
    QMetaObject::invokeMethod(tab.get(), "tabsChanged");
    QVERIFY(timer()->isActive());
    QCOMPARE(writes(), QStringList{"FREQ:REF:EXT 1"});
}

void tst_tabatwork::failedOpenKeepsTheQueue()
{
    open(Ghz);
    QSignalSpy lost(tab.get(), &UsbStickTab::connectionLost);
    QSignalSpy logged(tab.get(), &UsbStickTab::logMsg);
    sim->configure(config(QStringLiteral(R"("faults": {"openStatus": -1073807246})")));
    w<QPushButton>("set_min_powe_btn")->click();
    QCOMPARE(lost.count(), 1);
    QCOMPARE(logged.count(), 1);
    QCOMPARE(logged.first().first().toString(), QStringLiteral("Connection Error: Code -1073807246"));
    QCOMPARE(sim->trace(), QStringList{"F " + Ghz});

    // Back again: the kept line goes out when the next pass ends.
    sim->configure(config());
    QCOMPARE(pass(), GhzQueries + QStringList{"POWE:SET MIN"});
}

void tst_tabatwork::closingTabStaysQuiet()
{
    open(Ghz);
    w<QPushButton>("view_state_parameters")->click();
    w<QPushButton>("Thres_btn")->click();
    QTest::keyClick(w("freq_text"), Qt::Key_1);
    QPointer<UsbStickTab> closing = tab.release();
    QMetaObject::invokeMethod(closing, "closeStateViewer");
    // Leaving the field and a late log message must not wake the closed tab.
    emit closing->findChild<QLineEdit *>(QStringLiteral("freq_text"))->editingFinished();
    emit closing->logMsg(QStringLiteral("late"));
    QVERIFY(!closing->findChild<QTimer *>(QStringLiteral("refreshTimer"))->isActive());
    for (QWidget *top : QApplication::topLevelWidgets())
        QVERIFY2(!top->isVisible(), qPrintable(top->objectName()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(closing.isNull());
    QCOMPARE(sim->trace(), QStringList());
}

QTEST_MAIN(tst_tabatwork)
#include "tst_tabatwork.moc"
