// One device tab on its own, against a simulated instrument: construction
// for every model, the form, the command transport, the edit guard, the
// stored-state buttons and the threshold window.
#include "link/visa.h"
#include "simfixture.h"
#include "tab/thresset.h"
#include "tab/usbsticktab.h"
#include "viewer/profile_viewer.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>

namespace {
const QString Descriptor = QStringLiteral("USB0::0x3A7C::0x0010::SN1::INSTR");
const QByteArray OneInstrument = R"({"resources": [
    {"resource": "USB0::0x3A7C::0x0010::SN1::INSTR", "idn": "Q,774,SN1,V4.1.0"}
]})";
} // namespace

class tst_usbsticktab : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void construction_data();
    void construction();
    void firmwareGatesStoredStates_data();
    void firmwareGatesStoredStates();
    void form_data();
    void form();
    void returnPressesSet_data();
    void returnPressesSet();
    void shortcuts();
    void emptyBatchOpensAndCloses();
    void refreshEchoIsOneBatchAfterThePass();
    void failedOpenKeepsTheQueue();
    void editGuard();
    void refreshButtonRestartsTheInterval();
    void tabsChangedPollsOnlyWhenVisible();
    void stateButtons();
    void stateCommands_data();
    void stateCommands();
    void viewerShownOnce();
    void thresholdWindow_data();
    void thresholdWindow();
    void closeStateViewerClosesEverything();

private:
    UsbStickTab *makeTab(const QString &firmware = QStringLiteral("V4.1.0"),
                         const QString &productId = QStringLiteral("0x0010"));
    template<typename T> T *child(const char *name) const
    {
        T *found = tab->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }
    QTimer *timer() const { return child<QTimer>("refreshTimer"); }
    QStringList writes() const { return sim->writes(Descriptor); }

    std::unique_ptr<SimFixture> sim;
    visa::Session rm = visa::NullSession;
    std::unique_ptr<UsbStickTab> tab;
};

void tst_usbsticktab::init()
{
    sim = std::make_unique<SimFixture>();
    sim->configure(OneInstrument);
    QVERIFY(visa::openDefaultRM(&rm) >= 0);
    sim->clearTrace();
}

void tst_usbsticktab::cleanup()
{
    tab.reset();
    visa::close(rm);
    sim.reset();
}

UsbStickTab *tst_usbsticktab::makeTab(const QString &firmware, const QString &productId)
{
    tab = std::make_unique<UsbStickTab>(rm, Descriptor, firmware, QStringLiteral("774-X"),
                                        QStringLiteral("SN1"), productId);
    return tab.get();
}

void tst_usbsticktab::construction_data()
{
    QTest::addColumn<QString>("productId");
    QTest::addColumn<QString>("freqText");
    QTest::addColumn<QString>("title");

    QTest::newRow("0x000F") << "0x000F" << "35" << "Frequency (35-4400 MHz)";
    QTest::newRow("0x0010") << "0x0010" << "5" << "Frequency (5-10 GHz)";
    QTest::newRow("0x0011") << "0x0011" << "10" << "Frequency (10-20 GHz)";
    QTest::newRow("0x0012") << "0x0012" << "21" << "Frequency (21-24 GHz)";
    QTest::newRow("0x0013") << "0x0013" << "24" << "Frequency (24-27 GHz)";
    QTest::newRow("0x0014") << "0x0014" << "25" << "Frequency (25-6000 MHz)";
    QTest::newRow("0x0015") << "0x0015" << "6" << "Frequency (6-12 GHz)";
    QTest::newRow("decimal 20") << "20" << "25" << "Frequency (25-6000 MHz)";
    QTest::newRow("unknown id gets no range") << "0x0042" << "0" << "Frequency (0-0 GHz)";
}

void tst_usbsticktab::construction()
{
    QFETCH(QString, productId);
    QFETCH(QString, freqText);
    QFETCH(QString, title);

    makeTab(QStringLiteral("V4.2"), productId);
    QCOMPARE(child<QLineEdit>("freq_text")->text(), freqText);
    QCOMPARE(child<QGroupBox>("freq_gbx")->title(), title);
    QCOMPARE(child<QLabel>("TitleID")->text(), QStringLiteral("774-X - V4.2 - SN:SN1"));
    QVERIFY(child<QRadioButton>("ref_int_radio")->isChecked());
    QVERIFY(!child<QRadioButton>("ref_ext_radio")->isChecked());
    QVERIFY(child<QRadioButton>("pllm_frac_rad")->isChecked());
    QVERIFY(!child<QLineEdit>("reference_freq_txt")->isEnabled());

    auto *dividers = child<QComboBox>("ref_div_cmb");
    QCOMPARE(dividers->count(), 127);
    for (int i = 0; i < dividers->count(); ++i)
        QCOMPARE(dividers->itemText(i), QString::number(i + 1));
    QCOMPARE(dividers->currentText(), QStringLiteral("1"));

    QCOMPARE(child<QComboBox>("state_cmb")->currentIndex(), 0);
    QCOMPARE(child<QPushButton>("load_state_btn")->text(), QStringLiteral("Load: \nState 0"));
    QCOMPARE(child<QPushButton>("save_state_btn")->text(), QStringLiteral("Cannot Save to\n State 0"));
    QVERIFY(!child<QPushButton>("save_state_btn")->isEnabled());
    QCOMPARE(child<QPushButton>("set_default_btn")->text(), QStringLiteral("Set State 0\n As Boot State"));

    // The threshold controls are not offered; the rest stays.
    QVERIFY(child<QPushButton>("Thres_btn")->isHidden());
    QVERIFY(child<QLabel>("thres_lbl")->isHidden());
    QVERIFY(child<QLabel>("thres_lbl_2")->isHidden());
    QVERIFY(!child<QGroupBox>("temp_gbx")->isHidden());
    QVERIFY(!child<QComboBox>("ref_div_cmb")->isHidden());

    // Building the tab schedules nothing and sends nothing.
    QVERIFY(!timer()->isActive());
    QVERIFY(timer()->isSingleShot());
    QCOMPARE(timer()->interval(), 1000);
    QTest::qWait(50);
    QCOMPARE(sim->trace(), QStringList());
}

void tst_usbsticktab::firmwareGatesStoredStates_data()
{
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<bool>("shown");

    QTest::newRow("V4.2") << "V4.2" << true;
    QTest::newRow("V10.0") << "V10.0" << true;
    QTest::newRow("V4") << "V4" << true;
    QTest::newRow("V3.9") << "V3.9" << false;
    QTest::newRow("V3") << "V3" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("VX.1") << "VX.1" << false;
    QTest::newRow("4.1 loses its first digit") << "4.1" << false;
    QTest::newRow("45.1 loses its first digit") << "45.1" << true;
}

void tst_usbsticktab::firmwareGatesStoredStates()
{
    QFETCH(QString, firmware);
    QFETCH(bool, shown);
    makeTab(firmware);
    auto *group = child<QGroupBox>("state_config_gbx");
    QCOMPARE(group->isHidden(), !shown);
    QCOMPARE(group->isEnabled(), shown);
}

// What the operator reads and the keys they press; geometry is left to the form.
void tst_usbsticktab::form_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");

    const auto row = [](const char *object, const char *property, const QVariant &value) {
        QTest::addRow("%s.%s", object, property) << QString::fromLatin1(object) << QByteArray(property) << value;
    };
    row("UsbStickTab", "windowTitle", QStringLiteral("USBSynthTab"));
    row("UsbStickTab", "minimumSize", QSize(484, 359));
    row("power_btn", "text", QStringLiteral("I/O"));
    row("power_lbl", "text", QStringLiteral("RF Power is OFF"));
    row("refresh_btn", "text", QStringLiteral("Refresh"));
    row("refresh_btn", "toolTip", QStringLiteral("Refresh the Device"));
    row("refresh_btn", "shortcut", QKeySequence(QStringLiteral("Ctrl+R")));
    row("freq_button", "shortcut", QKeySequence(QStringLiteral("Ctrl+F")));
    row("Powe_set", "shortcut", QKeySequence(QStringLiteral("Ctrl+P")));
    row("ref_ext_radio", "shortcut", QKeySequence(QStringLiteral("Alt+R")));
    row("pllm_int_rad", "shortcut", QKeySequence(QStringLiteral("Alt+P")));
    row("label_6", "text", QStringLiteral("Actual Freq:"));
    row("act_freq_lbl", "text", QStringLiteral("2200.000"));
    row("label_2", "text", QStringLiteral("Lock Status:"));
    row("groupBox_5", "title", QStringLiteral("Power (dBm)"));
    row("set_min_powe_btn", "text", QStringLiteral("Set Min Power"));
    row("set_max_powe_btn", "text", QStringLiteral("Set Max Power"));
    row("atten_stat_lbl", "text", QStringLiteral("Power Status"));
    row("temp_gbx", "title", QStringLiteral("Temperature"));
    row("temp_title_lbl", "text", QStringLiteral("Temp:"));
    row("temp_lbl", "text", QStringLiteral("00.00 C"));
    row("Thres_btn", "text", QStringLiteral("Change Temp \nThreshold"));
    row("groupBox_4", "title", QStringLiteral("Reference Options"));
    row("label", "text", QStringLiteral("Source:"));
    row("ref_int_radio", "text", QStringLiteral("Internal    "));
    row("ref_ext_radio", "text", QStringLiteral("External"));
    row("label_3", "text", QStringLiteral("Reference Frequency (MHz):"));
    row("reference_freq_txt", "text", QStringLiteral("10"));
    row("label_4", "text", QStringLiteral("PLL Mode:"));
    row("pllm_frac_rad", "text", QStringLiteral("Fractional"));
    row("pllm_int_rad", "text", QStringLiteral("Integer  "));
    row("ref_div_lbl", "text", QStringLiteral("Reference Divider:"));
    row("state_config_gbx", "title", QStringLiteral("State Configuration"));
    row("view_state_parameters", "text", QStringLiteral("View Parameters\n of All States"));
}

void tst_usbsticktab::form()
{
    QFETCH(QString, object);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    makeTab();
    QObject *target = object == QLatin1String("UsbStickTab") ? tab.get() : tab->findChild<QObject *>(object);
    QVERIFY2(target, qPrintable(object));
    QCOMPARE(target->property(property.constData()), value);
}

void tst_usbsticktab::returnPressesSet_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");

    QTest::newRow("frequency") << QByteArray("freq_text") << "7.5" << "FREQ:SET 7.5";
    QTest::newRow("power") << QByteArray("Powe_Val") << "-2.50" << "POWE:SET -2.5";
    QTest::newRow("reference frequency") << QByteArray("reference_freq_txt") << "50" << "FREQ:REF:FREQ 50";
}

void tst_usbsticktab::returnPressesSet()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    makeTab();
    child<QRadioButton>("ref_ext_radio")->click(); // enables the reference entry
    tab->show();
    QVERIFY(QTest::qWaitForWindowExposed(tab.get()));
    sim->clearTrace();

    auto *edit = child<QLineEdit>(field.constData());
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(writes(), QStringList{sent});
}

void tst_usbsticktab::shortcuts()
{
    makeTab();
    tab->show();
    QApplication::setActiveWindow(tab.get());
    QVERIFY(QTest::qWaitForWindowActive(tab.get()));
    sim->clearTrace();

    // A shortcut animates its button: the click follows a moment later.
    QTest::keyClick(tab.get(), Qt::Key_F, Qt::ControlModifier); // Set frequency (5 GHz)
    QTRY_COMPARE(writes(), QStringList{"FREQ:SET 5"});
    QTest::keyClick(tab.get(), Qt::Key_P, Qt::ControlModifier); // Set power (0 dBm)
    QTRY_COMPARE(writes().size(), 2);
    QTest::keyClick(tab.get(), Qt::Key_R, Qt::AltModifier);     // external reference
    QTRY_COMPARE(writes().size(), 3);
    QTest::keyClick(tab.get(), Qt::Key_P, Qt::AltModifier);     // integer PLL mode
    QTRY_COMPARE(writes(), (QStringList{"FREQ:SET 5", "POWE:SET 0", "FREQ:REF:EXT 1", "FREQ:PLLM 1"}));
    QVERIFY(child<QRadioButton>("ref_ext_radio")->isChecked());
    QVERIFY(child<QRadioButton>("pllm_int_rad")->isChecked());

    timer()->stop();
    QTest::keyClick(tab.get(), Qt::Key_R, Qt::ControlModifier); // Refresh
    QTRY_VERIFY(timer()->isActive());
}

void tst_usbsticktab::emptyBatchOpensAndCloses()
{
    makeTab();
    // A label that names neither state: the RF button queues nothing.
    child<QLabel>("power_lbl")->setText(QStringLiteral("unknown"));
    child<QPushButton>("power_btn")->click();
    QCOMPARE(sim->trace(), (QStringList{"O " + Descriptor, "C " + Descriptor}));
    QVERIFY(timer()->isActive());
    QCOMPARE(child<QLabel>("power_lbl")->text(), QStringLiteral("unknown"));
}

void tst_usbsticktab::refreshEchoIsOneBatchAfterThePass()
{
    // The instrument reports settings that differ from the form: the pass
    // flips the controls, their slots queue while the pass holds the session,
    // and the three lines go out in one session after it.
    sim->configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x0010::SN1::INSTR", "idn": "Q,774,SN1,V4.1.0",
        "replies": {"FREQ:REF:EXT?": "1", "FREQ:PLLM?": "1", "FREQ:REF:DIV?": "8"}}]})");
    makeTab();
    sim->clearTrace();
    tab->startRefresh();
    QTRY_COMPARE_WITH_TIMEOUT(sim->count(QLatin1Char('C'), Descriptor), 2, 3000);

    QStringList trace = sim->trace();
    const int secondOpen = int(trace.lastIndexOf("O " + Descriptor));
    QVERIFY(secondOpen > 0);
    QCOMPARE(trace.mid(secondOpen), (QStringList{"O " + Descriptor, "W " + Descriptor + " FREQ:REF:EXT 1",
                                                 "W " + Descriptor + " FREQ:PLLM 1",
                                                 "W " + Descriptor + " FREQ:REF:DIV 8", "C " + Descriptor}));
    QCOMPARE(trace.at(secondOpen - 1), "C " + Descriptor);
    QVERIFY(child<QLineEdit>("reference_freq_txt")->isEnabled());
    QCOMPARE(child<QComboBox>("ref_div_cmb")->currentText(), QStringLiteral("8"));
    QVERIFY(timer()->isActive());
}

void tst_usbsticktab::failedOpenKeepsTheQueue()
{
    makeTab();
    QSignalSpy lost(tab.get(), SIGNAL(connectionLost()));
    QSignalSpy logged(tab.get(), SIGNAL(logMsg(QString)));
    sim->configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x0010::SN1::INSTR", "idn": "Q,774,SN1,V4.1.0",
        "faults": {"openStatus": -1073807246}}]})");
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("\"%1:Connection Error: Code -1073807246\"").arg(Descriptor)));
    child<QPushButton>("set_min_powe_btn")->click();

    QCOMPARE(lost.count(), 1);
    QCOMPARE(logged.count(), 1);
    QCOMPARE(logged.first().first().toString(), QStringLiteral("Connection Error: Code -1073807246"));
    QCOMPARE(sim->trace(), QStringList{"F " + Descriptor});
    QVERIFY(timer()->isActive()); // restarted by the log message

    // Back again: the kept line goes out before the new one.
    sim->configure(OneInstrument);
    child<QPushButton>("set_max_powe_btn")->click();
    QCOMPARE(writes(), (QStringList{"POWE:SET MIN", "POWE:SET MAX"}));
}

void tst_usbsticktab::editGuard()
{
    makeTab();
    tab->show();
    QVERIFY(QTest::qWaitForWindowExposed(tab.get()));
    for (const char *name : {"freq_text", "Powe_Val", "reference_freq_txt"}) {
        auto *edit = child<QLineEdit>(name);
        edit->setEnabled(true);
        edit->setFocus();
        tab->startRefresh();
        QTest::keyClick(edit, Qt::Key_1);
        QVERIFY2(!timer()->isActive(), name); // typing stops polling
        tab->startRefresh();
        edit->selectAll();
        QVERIFY2(!timer()->isActive(), name); // so does selecting
        emit edit->editingFinished();
        QVERIFY2(timer()->isActive(), name);  // finishing schedules the next pass
        QVERIFY(timer()->remainingTime() > 900);
    }
    QCOMPARE(sim->trace(), QStringList());
}

void tst_usbsticktab::refreshButtonRestartsTheInterval()
{
    makeTab();
    child<QPushButton>("refresh_btn")->click();
    QVERIFY(timer()->isActive());
    QTest::qWait(400);
    child<QPushButton>("refresh_btn")->click();
    QVERIFY(timer()->remainingTime() > 900);
    QTest::qWait(700);
    QCOMPARE(sim->trace(), QStringList()); // not yet: 1000 ms after the second press
    QTRY_VERIFY_WITH_TIMEOUT(sim->count(QLatin1Char('O'), Descriptor) >= 1, 1000);
}

void tst_usbsticktab::tabsChangedPollsOnlyWhenVisible()
{
    makeTab();
    tab->startRefresh();
    QMetaObject::invokeMethod(tab.get(), "tabsChanged");
    QVERIFY(!timer()->isActive()); // hidden: stops
    tab->show();
    QMetaObject::invokeMethod(tab.get(), "tabsChanged");
    QVERIFY(timer()->isActive());
}

void tst_usbsticktab::stateButtons()
{
    makeTab();
    auto *states = child<QComboBox>("state_cmb");
    auto *load = child<QPushButton>("load_state_btn");
    auto *save = child<QPushButton>("save_state_btn");
    auto *boot = child<QPushButton>("set_default_btn");

    states->setCurrentIndex(3);
    QCOMPARE(load->text(), QStringLiteral("Load: \nState 3"));
    QCOMPARE(save->text(), QStringLiteral("Save Current\n Parameters to:\nState 3"));
    QVERIFY(save->isEnabled());
    QCOMPARE(boot->text(), QStringLiteral("Set State 3\n As Boot State"));
    QVERIFY(timer()->isActive());

    states->setCurrentIndex(2);
    states->setCurrentIndex(4);
    QCOMPARE(load->text(), QStringLiteral("Load: \nState 4"));
    QCOMPARE(save->text(), QStringLiteral("Save Current\n Parameters to:\nState 4"));
    QCOMPARE(boot->text(), QStringLiteral("Set State 4\n As Boot State"));

    states->setCurrentIndex(0);
    QCOMPARE(load->text(), QStringLiteral("Load: \nState 0"));
    QCOMPARE(save->text(), QStringLiteral("Cannot Save to\n State 0"));
    QVERIFY(!save->isEnabled());
    QCOMPARE(boot->text(), QStringLiteral("Set State 0\n As Boot State"));
    QCOMPARE(child<QPushButton>("view_state_parameters")->text(), QStringLiteral("View Parameters\n of All States"));
    QCOMPARE(sim->trace(), QStringList()); // choosing a state sends nothing
}

void tst_usbsticktab::stateCommands_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("state 5") << 5 << QStringList{"SYST:LOADSTATE 5", "SYST:SAVESTATE 5", "SYST:BOOTSTATE 5"};
    QTest::newRow("state 1") << 1 << QStringList{"SYST:LOADSTATE 1", "SYST:SAVESTATE 1", "SYST:BOOTSTATE 1"};
    QTest::newRow("state 0 is never saved") << 0 << QStringList{"SYST:LOADSTATE 0", "SYST:BOOTSTATE 0"};
}

void tst_usbsticktab::stateCommands()
{
    QFETCH(int, state);
    QFETCH(QStringList, sent);
    makeTab();
    child<QComboBox>("state_cmb")->setCurrentIndex(state);
    child<QPushButton>("load_state_btn")->click();
    // A disabled button ignores clicks; the slot itself refuses state 0 too.
    QMetaObject::invokeMethod(tab.get(), "on_save_state_btn_clicked");
    child<QPushButton>("set_default_btn")->click();
    QCOMPARE(writes(), sent);
}

void tst_usbsticktab::viewerShownOnce()
{
    makeTab();
    const auto shownViewers = [] {
        int n = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            n += qobject_cast<profile_viewer *>(w) && w->isVisible();
        return n;
    };
    auto *view = child<QPushButton>("view_state_parameters");
    view->click();
    view->click();
    QCOMPARE(shownViewers(), 1);
    QVERIFY(timer()->isActive());
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<profile_viewer *>(w))
            w->close();
    }
    QCOMPARE(shownViewers(), 0);
    view->click();
    QCOMPARE(shownViewers(), 1);
    QCOMPARE(sim->trace(), QStringList());
}

void tst_usbsticktab::thresholdWindow_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("useReturn");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("45 and Return") << "45" << true << QStringList{"SYST:TEMPTHRES 45"};
    QTest::newRow("42.125 and Set") << "42.125" << false << QStringList{"SYST:TEMPTHRES 42.125"};
    QTest::newRow("abc sends 0") << "abc" << false << QStringList{"SYST:TEMPTHRES 0"};
    QTest::newRow("empty sends 0") << "" << true << QStringList{"SYST:TEMPTHRES 0"};
}

void tst_usbsticktab::thresholdWindow()
{
    QFETCH(QString, typed);
    QFETCH(bool, useReturn);
    QFETCH(QStringList, sent);
    makeTab();
    child<QPushButton>("Thres_btn")->click();
    ThresSet *window = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<ThresSet *>(w); t && t->isVisible())
            window = t;
    }
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Temp"));
    auto *field = window->findChild<QLineEdit *>(QStringLiteral("thres_txt"));
    QTest::keyClicks(field, typed);
    if (useReturn)
        QTest::keyClick(field, Qt::Key_Return);
    else
        window->findChild<QPushButton *>(QStringLiteral("set_thres_btn"))->click();
    QCOMPARE(writes(), sent);
    QVERIFY(!window->isVisible());

    // Opening it again shows what was typed; closing it sends nothing.
    child<QPushButton>("Thres_btn")->click();
    QCOMPARE(field->text(), typed);
    window->close();
    QCOMPARE(writes(), sent);
}

void tst_usbsticktab::closeStateViewerClosesEverything()
{
    makeTab();
    tab->show();
    child<QPushButton>("view_state_parameters")->click();
    child<QPushButton>("Thres_btn")->click();
    QPointer<UsbStickTab> watched = tab.release();
    QMetaObject::invokeMethod(watched, "closeStateViewer");
    QVERIFY(!watched->findChild<QTimer *>(QStringLiteral("refreshTimer"))->isActive());
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(watched.isNull());
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<profile_viewer *>(w) && !qobject_cast<ThresSet *>(w));
}

QTEST_MAIN(tst_usbsticktab)
#include "tst_usbsticktab.moc"
