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
    void passShows_data();
    void passShows();
    void failureMessages_data();
    void failureMessages();
    void refreshSendsNothingBack();
    void controls_data();
    void controls();
    void typedValues_data();
    void typedValues();
    void timerRules();
    void failedOpenKeepsTheQueue();
    void closingTabStaysQuiet();

private:
    void open(const QString &descriptor, const QString &firmware, const QString &productId,
              const QString &model = QStringLiteral("M"))
    {
        this->descriptor = descriptor;
        tab = std::make_unique<UsbStickTab>(rm, descriptor, firmware, model, QStringLiteral("S1"), productId);
        tab->show();
    }
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
    QStringList pass()
    {
        sim->clearTrace();
        QMetaObject::invokeMethod(tab.get(), "refreshInterface");
        return writes();
    }

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

void tst_tabatwork::construction_data()
{
    QTest::addColumn<QString>("productId");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("storedStates");

    QTest::newRow("0x000F V4.2") << "0x000F" << "V4.2" << "Frequency (35-4400 MHz)" << true;
    QTest::newRow("0x0010 V10.0") << "0x0010" << "V10.0" << "Frequency (5-10 GHz)" << true;
    QTest::newRow("0x0014 V3.9") << "0x0014" << "V3.9" << "Frequency (25-6000 MHz)" << false;
    QTest::newRow("bare hex 14, no firmware") << "14" << "" << "Frequency (25-6000 MHz)" << false;
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
    QVERIFY(!w("save_state_btn")->isEnabled());
    // Building the tab schedules nothing and sends nothing.
    QVERIFY(!timer()->isActive());
    QCOMPARE(sim->trace(), QStringList());
}

void tst_tabatwork::passShows_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QString>("members"); // fixed replies
    QTest::addColumn<QStringList>("shown"); // object=text

    const auto row = [](const char *tag, const QString &members, const QStringList &shown) {
        QTest::newRow(tag) << Ghz << members << shown;
    };
    row("GHz, firmware 4", "",
        {"freq_text=7.250000", "act_freq_lbl=7.250000", "Powe_Val=-3.5", "atten_stat_lbl=", "power_lbl=RF Power is ON",
         "reference_freq_txt=10", "temp_lbl=23.50 C", "lock_lbl=:/Icons/Lock-icon.png"});
    QTest::newRow("MHz, firmware 3, no sensor")
        << Mhz << "" << QStringList{"freq_text=2200.000", "act_freq_lbl=2200.000", "temp_lbl=N/A"};
    row("power -90", R"("POWE:SET?": "-90")", {"Powe_Val=-90"});
    row("power 90 MAX", R"("POWE:SET?": "90 MAX")", {"Powe_Val=90 MAX", "atten_stat_lbl=Power is set to Maximum"});
    row("RF off", R"("POWE:SET?": "OFF,-3.5 MIN")", {"Powe_Val=-3.5 MIN", "atten_stat_lbl="});
    row("frequency 0 whatever the range", R"("FREQ:SET?": "0")", {"freq_text=0.000000"});
    row("frequency at minimum", R"("FREQ:SET?": "5")", {"freq_text=5.000000"});
    row("frequency at maximum", R"("FREQ:SET?": "10")", {"freq_text=10.000000"});
    row("CR LF", R"("FREQ:REF:FREQ?": {"text": "50\r\n", "lineFeed": false},
                    "FREQ:RETACT?": {"text": "7.25\r\n", "lineFeed": false})",
        {"reference_freq_txt=50", "act_freq_lbl=7.25"});
    row("unlocked", R"("FREQ:LOCK?": "0")", {"lock_lbl=:/Icons/Lock-Unlock-icon.png"});
}

void tst_tabatwork::passShows()
{
    QFETCH(QString, instrument);
    QFETCH(QString, members);
    QFETCH(QStringList, shown);
    sim->configure(config(members.isEmpty() ? QString() : replies(members)));
    open(instrument);
    QSignalSpy logged(tab.get(), &UsbStickTab::logMsg);
    QCOMPARE(pass(), instrument == Ghz ? GhzQueries : MhzQueries);
    QCOMPARE(logged.count(), 0);
    QVERIFY(timer()->isActive());
    for (const QString &item : shown) {
        const QStringList pair = item.split(QLatin1Char('='));
        if (pair[0] == QLatin1String("lock_lbl"))
            QCOMPARE(w<QLabel>("lock_lbl")->pixmap().toImage(), QPixmap(pair[1]).toImage());
        else
            QCOMPARE(w(qPrintable(pair[0]))->property("text").toString(), pair[1]);
    }
    if (instrument == Ghz && members.isEmpty()) {
        // The state dump reaches the viewer, shown or not.
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *table = qobject_cast<profile_viewer *>(top) ? top->findChild<QTableWidget *>() : nullptr)
                QCOMPARE(table->item(5, 1) ? table->item(5, 1)->text() : QString(), QStringLiteral("7.25"));
        }
    }
}

void tst_tabatwork::failureMessages_data()
{
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("lastQuery");

    // A fixed reply to one query, the message it brings and the pass's last query.
    const auto row = [](const char *query, const char *text, const char *message, const char *last = nullptr) {
        QTest::addRow("%s %s", query, text)
            << replies(QStringLiteral(R"("%1": "%2")").arg(QLatin1String(query), QLatin1String(text))) << message
            << QString::fromLatin1(last ? last : query);
    };
    row("FREQ:REF:EXT?", "x", "Unrecognized FREQ:REF:EXT response");
    row("FREQ:REF:EXT?", "2", "Bad FREQ:REF:EXT response");
    row("POWE:RF?", "on", "Unrecognized POWE:RF response");
    row("POWE:RF?", "5", "Bad POWE:RF response");
    row("FREQ:REF:FREQ?", "ten", "Unrecognized FREQ:REF:FREQ response");
    row("FREQ:PLLM?", "?", "Unrecognized FREQ:PLLM response");
    row("FREQ:PLLM?", "3", "Bad FREQ:PLLM response");
    row("FREQ:REF:DIV?", "0", "Bad FREQ:REF:DIV response");
    row("FREQ:REF:DIV?", "128", "Bad FREQ:REF:DIV response");
    row("FREQ:LOCK?", "yes", "Unrecognized 'FREQ:LOCK' response");
    row("FREQ:LOCK?", "2", "Bad 'FREQ:LOCK' response");
    row("POWE:SET?", "abc", "Unrecognized POWE:SET response");
    row("POWE:SET?", "-90.5", "Power Range Error");
    row("POWE:SET?", "91 MAX", "Power Range Error");
    row("FREQ:SET?", "abc", "Bad FREQ:SET response");
    row("FREQ:SET?", "4.99", "Frequency Range Error");
    row("FREQ:SET?", "10.01", "Frequency Range Error");
    row("FREQ:RETACT?", "n/a", "Unrecognized FREQ:RETACT response");
    row("SYST:TEMP?", "warm", "Unrecognized SYST:TEMP response");
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
}

void tst_tabatwork::controls_data()
{
    QTest::addColumn<bool>("read");    // a refresh pass first
    QTest::addColumn<QString>("steps"); // buttons to click, combo=index, or slots to call
    QTest::addColumn<QStringList>("sent");

    const auto row = [](const char *tag, bool read, const char *steps, const QStringList &sent) {
        QTest::newRow(tag) << read << steps << sent;
    };
    row("min and max power", false, "set_min_powe_btn set_max_powe_btn", {"POWE:SET MIN", "POWE:SET MAX"});
    row("RF off, on, off", true, "power_btn power_btn power_btn", {"POWE:RF 0", "POWE:RF 1", "POWE:RF 0"});
    row("RF not read yet", false, "power_btn", {});
    row("reference source", false, "ref_ext_radio ref_int_radio", {"FREQ:REF:EXT 1", "FREQ:REF:EXT 0"});
    row("divider 8, once", true, "ref_div_cmb=7", {"FREQ:REF:DIV 8"});
    row("PLL mode", false, "pllm_int_rad pllm_frac_rad", {"FREQ:PLLM 1", "FREQ:PLLM 0"});
    row("state 5", false, "state_cmb=2 state_cmb=5 save_state_btn set_default_btn load_state_btn",
        {"SYST:SAVESTATE 5", "SYST:BOOTSTATE 5", "SYST:LOADSTATE 5"});
    row("state 0 is never saved", false,
        "state_cmb=3 state_cmb=0 save_state_btn on_save_state_btn_clicked load_state_btn set_default_btn",
        {"SYST:LOADSTATE 0", "SYST:BOOTSTATE 0"});
}

void tst_tabatwork::controls()
{
    QFETCH(bool, read);
    QFETCH(QString, steps);
    QFETCH(QStringList, sent);
    open(Ghz);
    if (read)
        pass();
    sim->clearTrace();
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const QStringList parts = step.split(QLatin1Char('='));
        if (parts.size() == 2)
            w<QComboBox>(qPrintable(parts[0]))->setCurrentIndex(parts[1].toInt());
        else if (step.startsWith(QLatin1String("on_")))
            QMetaObject::invokeMethod(tab.get(), qPrintable(step));
        else
            w<QAbstractButton>(qPrintable(step))->click();
    }
    QCOMPARE(writes(), sent);
    if (steps.startsWith(QLatin1String("state_cmb"))) {
        // The buttons name the state chosen last.
        const QString state = steps.section(QLatin1Char(' '), 1, 1).right(1);
        QCOMPARE(w<QPushButton>("load_state_btn")->text(), "Load: \nState " + state);
        QCOMPARE(w<QPushButton>("set_default_btn")->text(), "Set State " + state + "\n As Boot State");
    }
}

void tst_tabatwork::typedValues_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");  // empty: nothing
    QTest::addColumn<QString>("box");   // empty: none
    QTest::addColumn<QString>("shown"); // frequency shown by the next pass

    const auto row = [](const char *tag, const QString &instrument, const char *field, const char *typed,
                        const char *sent, const char *box = "", const char *shown = "") {
        QTest::newRow(tag) << instrument << QByteArray(field) << typed << sent << box << shown;
    };
    row("GHz 7.5", Ghz, "freq_text", "7.5", "FREQ:SET 7.5", "", "7.500000");
    row("GHz as typed", Ghz, "freq_text", "6.3456789", "FREQ:SET 6.3456789", "", "6.345679");
    row("GHz 12.3456789", Ghz, "freq_text", "12.3456789", "", "Frequency Range Error");
    row("GHz 4.999", Ghz, "freq_text", "4.999", "", "Frequency Range Error");
    row("GHz unit typed", Ghz, "freq_text", "2.2 GHz", "", "Frequency Not Recognized");
    row("GHz nan", Ghz, "freq_text", "nan", "", "Frequency Not Recognized");
    row("MHz 35", Mhz, "freq_text", "35", "FREQ:SET 35", "", "35.000");
    row("MHz 1234.56789", Mhz, "freq_text", "1234.56789", "FREQ:SET 1234.56789", "", "1234.568");
    row("MHz 6000.01", Mhz, "freq_text", "6000.01", "", "Frequency Range Error");
    row("MHz empty", Mhz, "freq_text", "", "", "Frequency Not Recognized");
    row("power max", Ghz, "Powe_Val", "max", "POWE:SET MAX");
    row("power minmax asks for the minimum", Ghz, "Powe_Val", "minmax", "POWE:SET MIN");
    row("power -3 min", Ghz, "Powe_Val", "-3 min", "POWE:SET MIN");
    row("power -5", Ghz, "Powe_Val", "-5", "POWE:SET -5");
    row("power 90", Ghz, "Powe_Val", "90", "POWE:SET 90");
    row("power -90", Ghz, "Powe_Val", "-90", "POWE:SET -90");
    row("power abc", Ghz, "Powe_Val", "abc", "", "Power Not Recognized");
    row("power empty", Ghz, "Powe_Val", "", "", "Power Not Recognized");
    row("power 95", Ghz, "Powe_Val", "95", "", "Power Range Error");
    row("power -90.01", Ghz, "Powe_Val", "-90.01", "", "Power Range Error");
    row("reference 10", Ghz, "reference_freq_txt", "10", "FREQ:REF:FREQ 10");
    row("reference 100", Ghz, "reference_freq_txt", "100", "FREQ:REF:FREQ 100");
    row("reference 050", Ghz, "reference_freq_txt", " 050", "FREQ:REF:FREQ 50");
    row("reference 9", Ghz, "reference_freq_txt", "9", "");
    row("reference 101", Ghz, "reference_freq_txt", "101", "");
    row("reference 50.5", Ghz, "reference_freq_txt", "50.5", "");
    row("reference empty", Ghz, "reference_freq_txt", "", "");
    row("threshold 45", Ghz, "thres_txt", "45", "SYST:TEMPTHRES 45");
    row("threshold 42.125", Ghz, "thres_txt", "42.125", "SYST:TEMPTHRES 42.125");
    row("threshold abc", Ghz, "thres_txt", "abc", "");
    row("threshold empty", Ghz, "thres_txt", "", "");
}

void tst_tabatwork::typedValues()
{
    QFETCH(QString, instrument);
    QFETCH(QByteArray, field);
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    QFETCH(QString, box);
    QFETCH(QString, shown);
    open(instrument);
    w<QRadioButton>("ref_ext_radio")->click(); // enables the reference entry
    w<QPushButton>("Thres_btn")->click();     // shows the threshold window
    w<QLabel>("atten_stat_lbl")->setText(QStringLiteral("Power is set to Maximum"));
    sim->clearTrace();
    QWidget *window = tab.get();
    for (QWidget *top : QApplication::topLevelWidgets())
        window = field == "thres_txt" && qobject_cast<ThresSet *>(top) ? top : window;
    auto *edit = window->findChild<QLineEdit *>(QString::fromLatin1(field));
    const QStringList shownBoxes = boxes->expect([&] {
        edit->setText(typed);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QCOMPARE(shownBoxes, box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(writes(), sent.isEmpty() ? QStringList() : QStringList{sent});
    if (field == "thres_txt")
        QCOMPARE(window->isVisible(), sent.isEmpty()); // a refused text stays to be corrected
    if (field == "Powe_Val" && !sent.isEmpty())
        QCOMPARE(w<QLabel>("atten_stat_lbl")->text(), QString()); // until the next pass fills it
    if (shown.isEmpty())
        return;
    // The instrument's setting, shown to its resolution, goes back unchanged.
    pass();
    QCOMPARE(w<QLineEdit>("freq_text")->text(), shown);
    sim->clearTrace();
    w<QPushButton>("freq_button")->click();
    QCOMPARE(writes(), QStringList{"FREQ:SET " + QString::number(shown.toDouble(), 'g', 10)});
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
    QTest::qWait(200);
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
    // Leaving the field or a late log message must not wake the closed tab.
    auto *timer = closing->findChild<QTimer *>(QStringLiteral("refreshTimer"));
    emit closing->findChild<QLineEdit *>(QStringLiteral("freq_text"))->editingFinished();
    QVERIFY(!timer->isActive());
    emit closing->logMsg(QStringLiteral("late"));
    QVERIFY(!timer->isActive());
    for (QWidget *top : QApplication::topLevelWidgets())
        QVERIFY2(!top->isVisible(), qPrintable(top->objectName()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(closing.isNull());
    QCOMPARE(sim->trace(), QStringList());
}

QTEST_MAIN(tst_tabatwork)
#include "tst_tabatwork.moc"
