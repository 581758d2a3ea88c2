// A device tab at work against simulated instruments: driven through its
// widgets by object name, checked on the exact lines the instrument received
// (and the absence of lines) and on what the widgets show.
#include "link/visa.h"
#include "simfixture.h"
#include "tab/presetwindow.h"
#include "tab/sweepwindow.h"
#include "tab/thresset.h"
#include "tab/usbsticktab.h"
#include "viewer/profile_viewer.h"

#include <QtWidgets>

namespace {

const QString Ghz = QStringLiteral("USB0::0x3A7C::0x0010::WK1::INSTR"); // 5-10 GHz, firmware 4
const QString Mhz = QStringLiteral("USB0::0x3A7C::0x0014::WK2::INSTR"); // 25-6000 MHz, firmware 3
const QString Mhz35 = QStringLiteral("USB0::0x3A7C::0x000F::WK3::INSTR"); // 35-4400 MHz, firmware 3

const QStringList MhzQueries{"FREQ:REF:EXT?", "POWE:RF?",  "FREQ:REF:FREQ?", "FREQ:PLLM?", "FREQ:REF:DIV?",
                             "FREQ:LOCK?",    "POWE:SET?", "FREQ:SET?",      "FREQ:RETACT?"};
const QStringList GhzQueries = MhzQueries + QStringList{"SYST:READSTATE?", "SYST:TEMP?"};

// The two instruments; extra JSON members (replies, faults), each after a comma, for the GHz one.
QByteArray config(const QString &ghzExtra = QString())
{
    return QStringLiteral(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x0010::WK1::INSTR", "idn": "Q,VX-10,WK1,V4.1.0",
         "state": {"frequency": 7.25, "power": -3.5, "temperature": 23.5}%1},
        {"resource": "USB0::0x3A7C::0x0014::WK2::INSTR", "idn": "Q,774-6000,WK2,V3.2.0",
         "state": {"frequency": 2200}},
        {"resource": "USB0::0x3A7C::0x000F::WK3::INSTR", "idn": "Q,774-4400,WK3,V3.2.0",
         "state": {"frequency": 2200}}]})").arg(ghzExtra).toUtf8();
}

QString replies(const QString &members)
{
    return QStringLiteral(R"(, "replies": {%1})").arg(members);
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
    void refreshPass_data();
    void refreshPass();
    void inputs_data();
    void inputs();
    void timersAndClosing();
    void failedOpenKeepsTheQueue();
    void lockPictureFollows();
    void batchWaitsForPass();
    void digitSteps_data();
    void digitSteps();
    void noAccidentalChanges();
    void stateAtAGlance();
    void nothingClipped();

private:
    void open(const QString &descriptor)
    {
        this->descriptor = descriptor;
        tab = std::make_unique<UsbStickTab>(rm, descriptor, descriptor == Ghz ? "V4.1.0" : "V3.2.0", "M", "S1",
                                            descriptor.section(QStringLiteral("::"), 2, 2));
        connect(tab.get(), &UsbStickTab::logMsg, this, [this](const QString &text) { logged << text; });
        tab->show();
    }
    // The settings sent since the trace was cleared, queries left out.
    QStringList settings() const { return writes().filter(QRegularExpression(QStringLiteral("[^?]$"))); }
    template<typename T = QWidget> T *w(const char *name) const { return tab->findChild<T *>(name); }
    QTimer *timer() const { return w<QTimer>("refreshTimer"); }
    QStringList writes() const { return sim.writes(descriptor); }
    // Runs one refresh pass now and returns the lines it wrote.
    QStringList pass()
    {
        sim.clearTrace();
        QMetaObject::invokeMethod(tab.get(), "refreshInterface");
        return writes();
    }
    // One step of a row: "name" clicks a button, "name=N" picks item N of a
    // combo box, "name:text" types the text and Return, "slot()" calls a slot.
    void act(const QString &step)
    {
        const QString name = step.section(QRegularExpression(QStringLiteral("[=:(]")), 0, 0);
        if (step.endsWith(QLatin1String("()"))) {
            QMetaObject::invokeMethod(tab.get(), qPrintable(name));
        } else if (step.contains(QLatin1Char(':'))) {
            QWidget *window = name == "thres_txt" ? topLevel<ThresSet>() : static_cast<QWidget *>(tab.get());
            auto *edit = window->findChild<QLineEdit *>(name);
            edit->setText(step.section(QLatin1Char(':'), 1));
            QTest::keyClick(edit, Qt::Key_Return);
        } else if (step.contains(QLatin1Char('='))) {
            w<QComboBox>(qPrintable(name))->setCurrentIndex(step.section(QLatin1Char('='), 1).toInt());
        } else {
            w<QAbstractButton>(qPrintable(name))->click();
        }
    }

    SimFixture sim;
    BoxCatcher boxes;
    visa::Session rm = visa::NullSession;
    QString descriptor;
    QStringList logged; // the tab's log messages
    std::unique_ptr<UsbStickTab> tab;
};

void tst_tabatwork::init()
{
    sim.configure(config());
    QVERIFY(visa::openDefaultRM(&rm) >= 0);
    sim.clearTrace();
    logged.clear();
}

void tst_tabatwork::cleanup()
{
    // Every session the tab opened was closed again, not left to its destructor.
    QCOMPARE(sim.count(QLatin1Char('C'), descriptor), sim.count(QLatin1Char('O'), descriptor));
    tab.reset();
    visa::close(rm);
}

void tst_tabatwork::construction_data()
{
    QTest::addColumn<QString>("productId");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("storedStates");

    QTest::newRow("0x000F V4.2") << "0x000F" << "V4.2" << "Frequency (35-4400 MHz)" << true;
    QTest::newRow("0x0010 V10.0") << "0x0010" << "V10.0" << "Frequency (5-10 GHz)" << true;
    QTest::newRow("bare hex 14, no firmware") << "14" << "" << "Frequency (25-6000 MHz)" << false;
    QTest::newRow("unknown id, V3.9") << "0x0042" << "V3.9" << "Frequency (0-0 GHz)" << false;
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
    tab = std::make_unique<UsbStickTab>(rm, Ghz, firmware, "<b>M</b>", "S1", productId);

    QCOMPARE(w<QGroupBox>("freq_gbx")->title(), title);
    QCOMPARE(w("state_config_gbx")->isHidden(), !storedStates);
    // The instrument's own words are shown as they are, never as markup.
    QCOMPARE(w<QLabel>("TitleID")->text(), "<b>M</b> - " + firmware + " - SN:S1");
    QCOMPARE(w<QLabel>("TitleID")->textFormat(), Qt::PlainText);
    // Nothing has been read: nothing looks like a reading.
    for (const char *name : {"act_freq_lbl", "temp_lbl", "power_lbl", "atten_stat_lbl", "freq_text", "Powe_Val",
                             "reference_freq_txt"})
        QVERIFY2(!w(name)->property("text").toString().contains(QRegularExpression(QStringLiteral("\\d|ON|OFF"))),
                 name);
    QVERIFY(!w("reference_freq_txt")->isEnabled());
    // Building the tab schedules nothing and sends nothing.
    QVERIFY(!timer()->isActive());
    QCOMPARE(sim.trace(), QStringList());
}

void tst_tabatwork::refreshPass_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QString>("extra");         // JSON members for the GHz instrument
    QTest::addColumn<QString>("lastQuery");     // later steps do not run
    QTest::addColumn<QStringList>("messages");  // logged
    QTest::addColumn<QStringList>("shown");     // object[.property]=text

    const auto shows = [](const char *tag, const QString &members, const QStringList &shown) {
        QTest::newRow(tag) << Ghz << replies(members) << GhzQueries.last() << QStringList() << shown;
    };
    shows("GHz, firmware 4", "",
          {"freq_text=7.250000", "act_freq_lbl=7.250000 GHz", "Powe_Val=-3.5", "atten_stat_lbl=",
           "power_lbl=RF Power is ON", "reference_freq_txt=10", "temp_lbl=23.50 C"});
    QTest::newRow("MHz, firmware 3, no sensor")
        << Mhz << "" << MhzQueries.last() << QStringList() << QStringList{"freq_text=2200.000", "act_freq_lbl=2200.000 MHz", "temp_lbl=N/A"};
    shows("lower ends", R"("POWE:SET?": "-90", "FREQ:SET?": "5", "FREQ:REF:DIV?": "1")",
          {"Powe_Val=-90", "freq_text=5.000000", "ref_div_cmb.currentText=1"});
    shows("upper ends", R"("POWE:SET?": "90 MAX", "FREQ:SET?": "10", "FREQ:REF:DIV?": "127")",
          {"Powe_Val=90 MAX", "atten_stat_lbl=Power is set to Maximum", "freq_text=10.000000", "ref_div_cmb.currentText=127"});
    shows("RF off", R"("POWE:SET?": "OFF,-3.5 MIN")", {"Powe_Val=-3.5 MIN", "atten_stat_lbl="});
    shows("frequency 0 whatever the range", R"("FREQ:SET?": "0")", {"freq_text=0.000000"});
    shows("CR LF", R"("FREQ:REF:FREQ?": {"text": "50\r\n", "lineFeed": false},
                      "FREQ:RETACT?": {"text": "7.25\r\n", "lineFeed": false})",
          {"reference_freq_txt=50", "act_freq_lbl=7.25 GHz"});
    // Settings changed elsewhere: the form follows, the instrument is left alone.
    shows("other settings", R"("FREQ:REF:EXT?": "1", "FREQ:PLLM?": "1", "FREQ:REF:DIV?": "8")",
          {"ref_ext_radio.checked=true", "pllm_int_rad.checked=true", "ref_div_cmb.currentText=8",
           "reference_freq_txt.enabled=true", "set_ref_freq_btn.enabled=true"});

    // A fixed reply to one query and the message it brings.
    const char *const failures[][3] = {
        {"FREQ:REF:EXT?", "x", "Unrecognized FREQ:REF:EXT response"}, {"FREQ:REF:EXT?", "2", "Bad FREQ:REF:EXT response"},
        {"POWE:RF?", "on", "Unrecognized POWE:RF response"}, {"POWE:RF?", "5", "Bad POWE:RF response"},
        {"FREQ:REF:FREQ?", "ten", "Unrecognized FREQ:REF:FREQ response"}, {"FREQ:PLLM?", "?", "Unrecognized FREQ:PLLM response"},
        {"FREQ:PLLM?", "3", "Bad FREQ:PLLM response"}, {"FREQ:REF:DIV?", "0", "Bad FREQ:REF:DIV response"},
        {"FREQ:REF:DIV?", "128", "Bad FREQ:REF:DIV response"}, {"FREQ:LOCK?", "yes", "Unrecognized 'FREQ:LOCK' response"},
        {"FREQ:LOCK?", "2", "Bad 'FREQ:LOCK' response"}, {"POWE:SET?", "abc", "Unrecognized POWE:SET response"},
        {"POWE:SET?", "-90.5", "Power Range Error"}, {"POWE:SET?", "91 MAX", "Power Range Error"},
        {"FREQ:SET?", "abc", "Bad FREQ:SET response"}, {"FREQ:SET?", "4.99", "Frequency Range Error"},
        {"FREQ:SET?", "10.01", "Frequency Range Error"}, {"FREQ:RETACT?", "n/a", "Unrecognized FREQ:RETACT response"},
        {"SYST:TEMP?", "warm", "Unrecognized SYST:TEMP response"}};
    for (const auto &[query, text, message] : failures)
        QTest::addRow("%s %s", query, text) << Ghz << replies(QStringLiteral(R"("%1": "%2")").arg(query, text))
                                            << QString::fromLatin1(query) << QStringList{message} << QStringList();
    // Cut to "10." at the reply's 255 characters: unreadable, not 10 GHz.
    QTest::newRow("FREQ:SET? cut") << Ghz << replies(R"("FREQ:SET?": ")" + QString(252, u' ') + R"(10.5")")
                                   << "FREQ:SET?" << QStringList{"Read Error: Code 1073676294"} << QStringList();
    QTest::newRow("lock read fails") << Ghz << R"(, "faults": {"readStatus": {"FREQ:LOCK?": -1073807339}})"
                                     << "FREQ:LOCK?" << QStringList{"Read Error: Code -1073807339"} << QStringList();
    // The dump only feeds the viewer: the pass goes on to the temperature.
    QTest::newRow("dump read fails") << Ghz << R"(, "faults": {"readStatus": {"SYST:READSTATE?": -1073807298}})"
                                     << "SYST:TEMP?" << QStringList{"Read Error: Code -1073807298"} << QStringList();
}

void tst_tabatwork::refreshPass()
{
    QFETCH(QString, instrument);
    QFETCH(QString, extra);
    QFETCH(QString, lastQuery);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, shown);
    sim.configure(config(extra));
    open(instrument);
    const QStringList queries = instrument == Ghz ? GhzQueries : MhzQueries;
    QCOMPARE(pass(), queries.mid(0, queries.indexOf(lastQuery) + 1));
    QCOMPARE(logged, messages);
    QVERIFY(timer()->isActive()); // polling goes on
    const QRegularExpression itemParts(QStringLiteral("^(\\w+)\\.?(\\w*)=(.*)$"));
    for (const QString &item : shown) {
        const QRegularExpressionMatch part = itemParts.match(item);
        const QString property = part.captured(2).isEmpty() ? QStringLiteral("text") : part.captured(2);
        QCOMPARE(w(qPrintable(part.captured(1)))->property(qPrintable(property)).toString(), part.captured(3));
    }
    if (extra == replies(QString())) {
        // The state dump reaches the viewer, shown or not.
        const QTableWidgetItem *cell = topLevel<profile_viewer>()->findChild<QTableWidget *>()->item(5, 1);
        QCOMPARE(cell ? cell->text() : QString(), QStringLiteral("7.25"));
    }
}

void tst_tabatwork::inputs_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("seen"); // message boxes ("box:text"), then settings sent (queries left out)

    const auto row = [](const char *tag, const QStringList &steps, const QStringList &seen,
                        const QString &instrument = Ghz) { QTest::newRow(tag) << instrument << steps << seen; };
    const QString forms = QStringLiteral("; a number in %1, or with a unit: 2.4G, 100k");
    const QString ghzHint = "5 to 10 GHz" + forms.arg("GHz");
    const QString mhz35Hint = "35 to 4400 MHz" + forms.arg("MHz");
    const QString powerHint = QStringLiteral("-90 to 90 dBm; a number in dBm (-3 or -3 dBm), or MIN or MAX");
    row("min and max power", {"set_min_powe_btn", "set_max_powe_btn"}, {"POWE:SET MIN", "POWE:SET MAX"});
    row("RF off, on, off", {"refreshInterface()", "power_btn", "power_btn", "power_btn"},
        {"POWE:RF 0", "POWE:RF 1", "POWE:RF 0"});
    row("RF not read yet", {"power_btn"}, {});
    row("reference source", {"ref_int_radio", "ref_ext_radio"}, {"FREQ:REF:EXT 0", "FREQ:REF:EXT 1"});
    row("divider 8, once", {"refreshInterface()", "ref_div_cmb=7"}, {"FREQ:REF:DIV 8"});
    row("dividers 127 and 1", {"ref_div_cmb=126", "ref_div_cmb=0"}, {"FREQ:REF:DIV 127", "FREQ:REF:DIV 1"});
    row("PLL mode", {"pllm_int_rad", "pllm_frac_rad"}, {"FREQ:PLLM 1", "FREQ:PLLM 0"});
    row("state 5", {"state_cmb=2", "state_cmb=5", "save_state_btn", "set_default_btn", "load_state_btn"},
        {"SYST:SAVESTATE 5", "SYST:BOOTSTATE 5", "SYST:LOADSTATE 5"});
    row("state 0 is never saved",
        {"state_cmb=3", "state_cmb=0", "save_state_btn", "on_save_state_btn_clicked()", "load_state_btn",
         "set_default_btn"},
        {"SYST:LOADSTATE 0", "SYST:BOOTSTATE 0"});
    row("GHz as typed", {"freq_text:6.3456789"}, {"FREQ:SET 6.3456789"});
    row("GHz 5G and 10 GHz", {"freq_text:5G", "freq_text:10 GHz"}, {"FREQ:SET 5", "FREQ:SET 10"});
    row("GHz 4.999 and 1.00001e10 Hz", {"freq_text:4.999", "freq_text:1.00001e10 Hz"},
        {"box:Frequency Range Error\n" + ghzHint, "box:Frequency Range Error\n" + ghzHint});
    row("GHz nan", {"freq_text:nan"}, {"box:Frequency Not Recognized\n" + ghzHint});
    row("MHz 35 and 4400", {"freq_text:35", "freq_text:4400"}, {"FREQ:SET 35", "FREQ:SET 4400"}, Mhz35);
    row("MHz 34999 kHz and 4400.001M", {"freq_text:34999 kHz", "freq_text:4400.001M"},
        {"box:Frequency Range Error\n" + mhz35Hint, "box:Frequency Range Error\n" + mhz35Hint}, Mhz35);
    row("power max", {"Powe_Val:max"}, {"POWE:SET MAX"});
    row("power minmax asks for the minimum", {"Powe_Val:minmax"}, {"POWE:SET MIN"});
    row("power 90 and -90", {"Powe_Val:90", "Powe_Val:-90"}, {"POWE:SET 90", "POWE:SET -90"});
    row("power abc", {"Powe_Val:abc"}, {"box:Power Not Recognized\n" + powerHint});
    row("power -90.01 and 90.01 dBm", {"Powe_Val:-90.01", "Powe_Val:90.01 dBm"},
        {"box:Power Range Error\n" + powerHint, "box:Power Range Error\n" + powerHint});
    row("power to 0.01 dB", {"Powe_Val:-2.345"}, {"POWE:SET -2.35"});
    row("reference 10 and 100", {"reference_freq_txt:10", "reference_freq_txt:100"}, {"FREQ:REF:FREQ 10", "FREQ:REF:FREQ 100"});
    row("reference 9, 101, 50.5", {"reference_freq_txt:9", "reference_freq_txt:101", "reference_freq_txt:50.5"}, {});
    row("threshold 42.125", {"thres_txt:42.125"}, {"SYST:TEMPTHRES 42.125"});
    row("threshold abc", {"thres_txt:abc"}, {});
}

void tst_tabatwork::inputs()
{
    QFETCH(QString, instrument);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, seen);
    open(instrument);
    w<QRadioButton>("ref_ext_radio")->click(); // enables the reference entry
    w<QPushButton>("Thres_btn")->click();     // shows the threshold window
    w<QLabel>("atten_stat_lbl")->setText(QStringLiteral("Power is set to Maximum"));
    sim.clearTrace();
    QStringList shownBoxes = boxes.expect([&] {
        for (const QString &step : steps)
            act(step);
    });
    const QStringList sent = settings();
    QCOMPARE(shownBoxes.replaceInStrings(QRegularExpression(QStringLiteral("^")), QStringLiteral("box:")) + sent, seen);
    QVERIFY(timer()->isActive()); // polling goes on
    if (steps.last().startsWith(QLatin1String("thres_txt:")))
        QCOMPARE(topLevel<ThresSet>()->isVisible(), sent.isEmpty()); // a refused text stays to be corrected
    if (steps.last().startsWith(QLatin1String("Powe_Val:")) && !sent.isEmpty())
        QCOMPARE(w<QLabel>("atten_stat_lbl")->text(), QString()); // until the next pass fills it
    // The buttons name the state chosen last.
    const QString state = w<QComboBox>("state_cmb")->currentText().right(1);
    QCOMPARE(w<QPushButton>("load_state_btn")->text(), "Load: \nState " + state);
    QCOMPARE(w<QPushButton>("set_default_btn")->text(), "Set State " + state + "\n As Boot State");
}
void tst_tabatwork::timersAndClosing()
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

    // A closing tab stays quiet: leaving a field or a late log message must not wake it.
    w<QPushButton>("view_state_parameters")->click();
    w<QPushButton>("Thres_btn")->click();
    QMetaObject::invokeMethod(tab.get(), "closeStateViewer");
    emit w<QLineEdit>("freq_text")->editingFinished();
    QVERIFY(!timer()->isActive());
    emit tab->logMsg(QStringLiteral("late"));
    QVERIFY(!timer()->isActive());
    for (QWidget *top : QApplication::topLevelWidgets())
        QVERIFY2(!top->isVisible(), qPrintable(top->objectName()));
    QPointer<UsbStickTab> closing = tab.release();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(closing.isNull());
    QCOMPARE(sim.writes(Ghz), QStringList{"FREQ:REF:EXT 1"});
}

void tst_tabatwork::failedOpenKeepsTheQueue()
{
    open(Ghz);
    QSignalSpy lost(tab.get(), &UsbStickTab::connectionLost);
    sim.configure(config(QStringLiteral(R"(, "faults": {"openStatus": -1073807246})")));
    w<QPushButton>("set_min_powe_btn")->click();
    QCOMPARE(lost.count(), 1);
    QCOMPARE(logged, QStringList{"Connection Error: Code -1073807246"});
    QCOMPARE(sim.trace(), QStringList{"F " + Ghz});

    // Back again: the kept line goes out when a pass ends well, not before.
    sim.configure(config(replies(QStringLiteral(R"("FREQ:LOCK?": "2")"))));
    QCOMPARE(pass(), GhzQueries.mid(0, GhzQueries.indexOf("FREQ:LOCK?") + 1));
    sim.configure(config());
    QCOMPARE(pass(), GhzQueries + QStringList{"POWE:SET MIN"});
}

void tst_tabatwork::lockPictureFollows()
{
    open(Ghz);
    for (const bool lock : {true, false, false, true}) {
        sim.configure(config(lock ? QString() : replies(QStringLiteral(R"("FREQ:LOCK?": "0")"))));
        pass();
        const QString icon = lock ? QStringLiteral(":/Icons/Lock-icon.png") : QStringLiteral(":/Icons/Lock-Unlock-icon.png");
        QCOMPARE(w<QLabel>("lock_lbl")->pixmap().toImage(), QPixmap(icon).toImage());
        const QString said = lock ? QStringLiteral("PLL locked") : QStringLiteral("PLL unlocked");
        QCOMPARE(w("lock_lbl")->toolTip(), said);
        QCOMPARE(w("lock_lbl")->accessibleName(), said);
    }
}

void tst_tabatwork::digitSteps_data()
{
    QTest::addColumn<QString>("instrument");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");    // with "|" at the cursor
    QTest::addColumn<QString>("input");   // Up, Down, or wheel notches (+n, -n), space-separated
    QTest::addColumn<QString>("stepped"); // the text afterwards
    QTest::addColumn<QStringList>("sent");

    const auto row = [](const char *tag, const QString &instrument, const char *field, const char *text,
                        const char *input, const char *stepped, const QStringList &sent) {
        QTest::newRow(tag) << instrument << field << text << input << stepped << sent;
    };
    row("GHz up to the maximum", Ghz, "freq_text", "7|.250000", "Up Up Up", "10.000000", {"FREQ:SET 10"});
    row("GHz down to the minimum", Ghz, "freq_text", "7|.250000", "Down Down Down", "5.000000", {"FREQ:SET 5"});
    row("MHz wheel to 35", Mhz35, "freq_text", "10|0.000", "-7", "35.000", {"FREQ:SET 35"});
    row("MHz wheel up to 4400", Mhz35, "freq_text", "4|300", "+1 +1", "4400", {"FREQ:SET 4400"});
    row("in GHz typed in a MHz field", Mhz35, "freq_text", "4.3|G", "Up Up", "4.4G", {"FREQ:SET 4400"});
    row("power to 90", Ghz, "Powe_Val", "8|9 dBm", "Up Up", "90 dBm", {"POWE:SET 90"});
    row("power to -90", Ghz, "Powe_Val", "-8|5", "-1", "-90", {"POWE:SET -90"});
    row("back where it was", Ghz, "Powe_Val", "-3|", "Up Down", "-3", {"POWE:SET -3"});
    row("Return before the pause", Ghz, "Powe_Val", "-3|", "Up Return", "-2", {"POWE:SET -2"});
    row("at the limit already", Ghz, "Powe_Val", "9|0", "Up", "90", {});
    row("not a number", Ghz, "Powe_Val", "m|ax", "Up", "max", {});
}

void tst_tabatwork::digitSteps()
{
    QFETCH(QString, instrument);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, input);
    QFETCH(QString, stepped);
    QFETCH(QStringList, sent);
    open(instrument);
    QVERIFY(QTest::qWaitForWindowActive(tab.get()));
    auto *edit = w<QLineEdit>(qPrintable(field));
    edit->setFocus();
    edit->setText(QString(text).remove(QLatin1Char('|')));
    edit->setCursorPosition(int(text.indexOf(QLatin1Char('|'))));
    tab->startRefresh();
    sim.clearTrace();
    for (const QString &step : input.split(QLatin1Char(' '))) {
        if (step == QLatin1String("Up") || step == QLatin1String("Down") || step == QLatin1String("Return"))
            QTest::keyClick(edit, step == QLatin1String("Up") ? Qt::Key_Up : step == QLatin1String("Down") ? Qt::Key_Down : Qt::Key_Return);
        else
            wheel(*edit, step.toInt());
    }
    QCOMPARE(edit->text(), stepped);
    // Nothing goes out while the operator turns, and no pass overwrites the text.
    if (!input.endsWith(QLatin1String("Return"))) {
        QCOMPARE(sim.trace(), QStringList());
        QCOMPARE(timer()->isActive(), sent.isEmpty());
    }
    QTest::qWait(450);
    QCOMPARE(writes(), sent);
    QCOMPARE(edit->text(), stepped);
    QVERIFY(timer()->isActive()); // polling goes on
}

void tst_tabatwork::noAccidentalChanges()
{
    open(Ghz);
    QVERIFY(QTest::qWaitForWindowActive(tab.get()));
    pass();
    w("freq_text")->setFocus();
    sim.clearTrace();
    // What the operator sees set: the power, the radio buttons, the combo boxes.
    const auto form = [this] {
        return QStringList{w<QLineEdit>("Powe_Val")->text(), w<QComboBox>("ref_div_cmb")->currentText(),
                           w<QComboBox>("state_cmb")->currentText(),
                           QString::number(w<QRadioButton>("ref_int_radio")->isChecked()),
                           QString::number(w<QRadioButton>("pllm_frac_rad")->isChecked())};
    };
    const QStringList before = form();
    auto *divider = w<QComboBox>("ref_div_cmb");
    // The wheel over controls without focus, and over a field without focus.
    for (const char *name : {"ref_div_cmb", "state_cmb", "ref_int_radio", "ref_ext_radio", "pllm_frac_rad",
                             "pllm_int_rad", "Powe_Val"}) {
        wheel(*w(name), -5);
        wheel(*w(name), 5);
        wheel(*w(name), -5);
    }
    // Arrow keys on a focused radio button move the focus only.
    for (const char *name : {"ref_int_radio", "ref_ext_radio", "pllm_frac_rad", "pllm_int_rad"}) {
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left}) {
            w(name)->setFocus();
            QTest::keyClick(w(name), key);
        }
    }
    QCOMPARE(form(), before);
    QCOMPARE(settings(), QStringList());
    // A combo box the operator works with still follows the wheel, once a notch.
    divider->setCurrentIndex(0);
    sim.clearTrace();
    divider->setFocus();
    wheel(*divider, -2);
    QCOMPARE(settings(), (QStringList{"FREQ:REF:DIV 2", "FREQ:REF:DIV 3"}));
}

void tst_tabatwork::stateAtAGlance()
{
    sim.configure(config(replies(QStringLiteral(R"("POWE:RF?": "1")"))));
    open(Ghz);
    auto *label = w<QLabel>("power_lbl");
    // What the label draws: its font weight and the colour inside its left edge.
    const auto look = [label] {
        label->ensurePolished();
        const QImage image = label->grab().toImage();
        return std::make_pair(label->fontInfo().bold(), image.pixelColor(3, image.height() / 2));
    };
    pass();
    QCOMPARE(label->text(), QStringLiteral("RF Power is ON"));
    const auto on = look();
    w<QAbstractButton>("power_btn")->click();
    QCOMPARE(label->text(), QStringLiteral("RF Power is OFF"));
    const auto off = look();
    // Bold on a fill when on, plain when off: told apart without colour too.
    QVERIFY(on.first);
    QVERIFY(!off.first);
    QCOMPARE(off.second, label->palette().color(QPalette::Window));
    QVERIFY(qAbs(on.second.lightness() - off.second.lightness()) > 80);
}

// Run again with a 1.5x default font (QT_FONT_DPI=144): every text of the
// tab and its windows fits its widget. USBSYNTH_TEST_SHOTS names a folder
// for pictures of the windows.
void tst_tabatwork::nothingClipped()
{
    open(Ghz);
    pass();
    w<QLabel>("act_freq_lbl")->setText(QStringLiteral("25.500000 GHz"));
    w<QLineEdit>("freq_text")->setText(QStringLiteral("25.500000"));
    w<QLineEdit>("Powe_Val")->setText(QStringLiteral("-88.25 MIN"));
    w<QLabel>("atten_stat_lbl")->setText(QStringLiteral("Power is set to Maximum"));
    w<QAbstractButton>("sweep_btn")->click();
    w<QAbstractButton>("view_state_parameters")->click();
    w<QAbstractButton>("presets_btn")->click();
    const QList<QWidget *> windows{tab.get(), topLevel<SweepWindow>(), topLevel<profile_viewer>(), topLevel<PresetWindow>()};
    for (QWidget *window : windows) {
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        if (qEnvironmentVariableIsSet("USBSYNTH_TEST_SHOTS"))
            window->grab().save(qEnvironmentVariable("USBSYNTH_TEST_SHOTS") + '/' + window->metaObject()->className() + ".png");
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            if (!widget->isVisibleTo(window))
                continue;
            const QFontMetrics metrics = widget->fontMetrics();
            const QString name = widget->objectName();
            if (auto *label = qobject_cast<QLabel *>(widget); label && label->pixmap().isNull()) {
                // A label's size hint is its text's extent in its font.
                const QSize needed = label->wordWrap() ? QSize(0, label->heightForWidth(label->width()))
                                                       : label->minimumSizeHint();
                QVERIFY2(label->width() >= needed.width() && label->height() >= needed.height(), qPrintable(name));
            } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
                const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
                QVERIFY2(metrics.horizontalAdvance(edit->text()) <= edit->width() - 2 * frame - 4, qPrintable(name));
            } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
                QSize text = metrics.size(Qt::TextShowMnemonic, button->text());
                if (!button->icon().isNull())
                    text.rwidth() += button->iconSize().width() + 4;
                const int margins = 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
                QVERIFY2(text.width() + margins <= button->width() && text.height() <= button->height(), qPrintable(name));
            } else if (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QComboBox *>(widget)) {
                const QSize needed = widget->minimumSizeHint();
                QVERIFY2(widget->width() >= needed.width() && widget->height() >= needed.height(), qPrintable(name));
            } else if (auto *table = qobject_cast<QTableView *>(widget)) {
                QVERIFY2(table->horizontalHeader()->length() <= table->viewport()->width(), qPrintable(name));
            } else if (auto *box = qobject_cast<QGroupBox *>(widget)) {
                QVERIFY2(metrics.horizontalAdvance(box->title()) + 16 <= box->width(), qPrintable(name));
            }
        }
    }
}

// A command issued while a refresh pass holds the instrument goes out after
// the pass, in a session of its own: not lost, not inside the pass.
void tst_tabatwork::batchWaitsForPass()
{
    sim.configure(config(QStringLiteral(R"(, "faults": {"readStatus": {"SYST:READSTATE?": -1073807298}})")));
    open(Ghz);
    // The failed dump read is reported in the middle of the pass.
    bool clicked = false;
    connect(tab.get(), &UsbStickTab::logMsg, this, [&] {
        if (!std::exchange(clicked, true))
            w<QPushButton>("set_min_powe_btn")->click();
    });
    QCOMPARE(pass(), GhzQueries + QStringList{"POWE:SET MIN"});
    QVERIFY(clicked);
    QCOMPARE(sim.count(QLatin1Char('O'), Ghz), 2);
    QStringList sessions = sim.trace().filter(QRegularExpression(QStringLiteral("^[OC] ")));
    QCOMPARE(sessions.replaceInStrings(QRegularExpression(QStringLiteral(" .*")), QString()).join(QString()), "OCOC");
    QVERIFY(timer()->isActive());
}

QTEST_MAIN(tst_tabatwork)
#include "tst_tabatwork.moc"
