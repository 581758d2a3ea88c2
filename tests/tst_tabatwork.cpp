// The panel at work, end to end: the real main window against simulated
// instruments, driven by object name, checked on the exact lines the
// instruments received and on what the widgets show.
#include "app/mainwindow.h"
#include "simfixture.h"
#include "tab/usbsticktab.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include <thread>

namespace {

const QString Ghz = QStringLiteral("USB0::0x3A7C::0x0010::WK1::INSTR"); // 5-10 GHz, firmware 4
const QString Mhz = QStringLiteral("USB0::0x3A7C::0x0014::WK2::INSTR"); // 25-6000 MHz, firmware 3

const QString GhzEntry = QStringLiteral(
    R"({"resource": "USB0::0x3A7C::0x0010::WK1::INSTR", "idn": "Quorvex Electronics,VX27H774-10,WK1,V4.1.0",
        "state": {"frequency": 7.25, "power": -3.5, "rf": true, "refExternal": false, "refFrequency": 10,
                  "refDivider": 1, "pllMode": 0, "temperature": 23.5}%1})");
const QString MhzEntry = QStringLiteral(
    R"({"resource": "USB0::0x3A7C::0x0014::WK2::INSTR", "idn": "Quorvex Electronics,774-6000,WK2,V3.2.0",
        "state": {"frequency": 2200, "power": 0}%1})");

// A configuration of the two instruments; extra JSON members for each.
QByteArray config(const QString &ghzExtra = QString(), const QString &mhzExtra = QString())
{
    return QStringLiteral(R"({"resources": [%1, %2]})")
        .arg(GhzEntry.arg(ghzExtra.isEmpty() ? QString() : QStringLiteral(", ") + ghzExtra),
             MhzEntry.arg(mhzExtra.isEmpty() ? QString() : QStringLiteral(", ") + mhzExtra))
        .toUtf8();
}

QString withReplies(const QString &replies)
{
    return QStringLiteral(R"("replies": {%1})").arg(replies);
}

} // namespace

class tst_tabatwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void fullPassGhzFirmware4();
    void fullPassMhzFirmware3();
    void failureMessages_data();
    void failureMessages();
    void failedStateDumpReadKeepsThePassGoing();
    void acceptedBoundaries_data();
    void acceptedBoundaries();
    void errorLeavesEarlierWidgets();
    void controlChangedByRefreshIsEchoedOnce();
    void frequencyControl_data();
    void frequencyControl();
    void powerControl_data();
    void powerControl();
    void minMaxPowerButtons();
    void rfOnOff();
    void referenceSource();
    void referenceFrequency_data();
    void referenceFrequency();
    void dividerAndPllMode();
    void storedStates();
    void editGuardKeepsTypedValue();
    void switchingTabsMovesPolling();
    void unplugDuringPass();
    void unplugBeforeCommand();

private:
    QTabWidget *tabs() const { return window->findChild<QTabWidget *>(QStringLiteral("tabWidget")); }
    UsbStickTab *tab(const QString &serial) const;
    template<typename T> T *get(const QString &serial, const char *name) const
    {
        T *found = tab(serial)->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no %s in SN:%s", name, qPrintable(serial));
        return found;
    }
    void show(const QString &serial);
    // Waits for the next whole refresh pass of an instrument (from its open
    // to its close) and returns the lines it wrote.
    QStringList nextPass(const QString &descriptor, int timeoutMs = 3000);
    // Runs an action that raises a message box, closes the box and returns
    // its text.
    QString messageBoxText(const std::function<void()> &action);
    void typeAndReturn(QLineEdit *edit, const QString &text);
    QStringList newWrites(const QString &descriptor, int before) const
    {
        return sim->writes(descriptor).mid(before);
    }

    std::unique_ptr<SimFixture> sim;
    std::unique_ptr<MainWindow> window;
};

void tst_tabatwork::initTestCase()
{
    sim = std::make_unique<SimFixture>();
    sim->configure(config());
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(tabs()->count(), 2);
}

void tst_tabatwork::init()
{
    if (tabs()->count() != 2 || tabs()->tabText(0) != QLatin1String("SN:WK1")) {
        // An earlier case changed the instrument set: start again.
        sim->configure(config());
        window->findChild<QPushButton *>(QStringLiteral("connected_devices_refresh_btn"))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    sim->configure(config());
    show(QStringLiteral("WK1"));
}

void tst_tabatwork::cleanupTestCase()
{
    window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    sim.reset();
}

UsbStickTab *tst_tabatwork::tab(const QString &serial) const
{
    for (int i = 0; i < tabs()->count(); ++i) {
        if (tabs()->tabText(i) == QLatin1String("SN:") + serial)
            return qobject_cast<UsbStickTab *>(tabs()->widget(i));
    }
    qFatal("no tab SN:%s", qPrintable(serial));
    return nullptr;
}

void tst_tabatwork::show(const QString &serial)
{
    tabs()->setCurrentWidget(tab(serial));
}

QStringList tst_tabatwork::nextPass(const QString &descriptor, int timeoutMs)
{
    sim->clearTrace();
    QStringList pass;
    const bool ended = QTest::qWaitFor(
        [&] {
            const QStringList trace = sim->trace();
            const int open = int(trace.indexOf(QStringLiteral("O ") + descriptor));
            const int close = int(trace.indexOf(QStringLiteral("C ") + descriptor, open + 1));
            if (open < 0 || close < 0)
                return false;
            pass.clear();
            const QString write = QStringLiteral("W ") + descriptor + QLatin1Char(' ');
            for (int i = open; i < close; ++i) {
                if (trace.at(i).startsWith(write))
                    pass << trace.at(i).mid(write.size());
            }
            // A batch (no query) is not a pass.
            return !pass.isEmpty() && pass.first().endsWith(QLatin1Char('?'));
        },
        timeoutMs);
    if (!ended)
        qWarning() << "no refresh pass of" << descriptor << "within" << timeoutMs << "ms";
    return pass;
}

QString tst_tabatwork::messageBoxText(const std::function<void()> &action)
{
    QString text = QStringLiteral("<no message box>");
    // Fires inside the box's own event loop; stopped unfired when no box came.
    QTimer closer;
    closer.setSingleShot(true);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            text = box->text();
            if (!box->windowTitle().isEmpty())
                text += QStringLiteral(" <titled>");
            box->accept();
        }
    });
    closer.start(0);
    action();
    closer.stop();
    return text;
}

void tst_tabatwork::typeAndReturn(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

void tst_tabatwork::fullPassGhzFirmware4()
{
    sim->configure(config(withReplies(QStringLiteral(
        R"("POWE:SET?": "-3.5 MIN", "SYST:READSTATE?": "0,5.5,1,0,10,MIN,-3,1;1,6,2,1,20,MAX,0,0;0,7,3,0,30,0,1,1;0,8,4,0,40,0,2,1;0,9,5,0,50,0,3,1;1,10,6,1,60,0,4,0")"))));
    const QStringList pass = nextPass(Ghz);
    QCOMPARE(pass, (QStringList{"FREQ:REF:EXT?", "POWE:RF?", "FREQ:REF:FREQ?", "FREQ:PLLM?", "FREQ:REF:DIV?",
                                "FREQ:LOCK?", "POWE:SET?", "FREQ:SET?", "FREQ:RETACT?", "SYST:READSTATE?",
                                "SYST:TEMP?"}));
    const QString wk1 = QStringLiteral("WK1");
    QVERIFY(get<QRadioButton>(wk1, "ref_int_radio")->isChecked());
    QCOMPARE(get<QLabel>(wk1, "power_lbl")->text(), QStringLiteral("RF Power is ON"));
    QCOMPARE(get<QLineEdit>(wk1, "reference_freq_txt")->text(), QStringLiteral("10"));
    QVERIFY(get<QRadioButton>(wk1, "pllm_frac_rad")->isChecked());
    QCOMPARE(get<QComboBox>(wk1, "ref_div_cmb")->currentText(), QStringLiteral("1"));
    QCOMPARE(get<QLabel>(wk1, "lock_lbl")->pixmap().toImage(),
             QPixmap(QStringLiteral(":/Icons/Lock-icon.png")).toImage());
    QCOMPARE(get<QLineEdit>(wk1, "Powe_Val")->text(), QStringLiteral("-3.5 MIN"));
    QCOMPARE(get<QLabel>(wk1, "atten_stat_lbl")->text(), QStringLiteral("Power is set to Minimum"));
    QCOMPARE(get<QLineEdit>(wk1, "freq_text")->text(), QStringLiteral("7.250"));
    QVERIFY(!get<QLabel>(wk1, "act_freq_lbl")->text().isEmpty());
    QCOMPARE(get<QLabel>(wk1, "act_freq_lbl")->text().toDouble(), 7.25);
    QCOMPARE(get<QLabel>(wk1, "temp_lbl")->text(), QStringLiteral("23.50 C"));

    // The state dump reached the viewer, shown or not.
    QTableWidget *table = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("profile_viewer") && w->findChild<QTableWidget *>()
            && w->findChild<QTableWidget *>()->item(5, 1)
            && w->findChild<QTableWidget *>()->item(5, 1)->text() == QLatin1String("10"))
            table = w->findChild<QTableWidget *>();
    }
    QVERIFY(table);
    QCOMPARE(table->item(1, 3)->text(), QStringLiteral("External"));
    QCOMPARE(table->item(5, 7)->text(), QStringLiteral("OFF"));
    QCOMPARE(sim->logMessages(), QStringList());
}

void tst_tabatwork::fullPassMhzFirmware3()
{
    show(QStringLiteral("WK2"));
    const QStringList pass = nextPass(Mhz);
    // Firmware 3 has no stored states; the MHz models no temperature sensor.
    QCOMPARE(pass, (QStringList{"FREQ:REF:EXT?", "POWE:RF?", "FREQ:REF:FREQ?", "FREQ:PLLM?", "FREQ:REF:DIV?",
                                "FREQ:LOCK?", "POWE:SET?", "FREQ:SET?", "FREQ:RETACT?"}));
    QCOMPARE(get<QLabel>(QStringLiteral("WK2"), "temp_lbl")->text(), QStringLiteral("N/A"));
    QCOMPARE(get<QLineEdit>(QStringLiteral("WK2"), "freq_text")->text(), QStringLiteral("2200.000"));
    QVERIFY(get<QWidget>(QStringLiteral("WK2"), "state_config_gbx")->isHidden());
}

void tst_tabatwork::failureMessages_data()
{
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("lastQuery");

    const auto reply = [](const char *query, const char *text) {
        return withReplies(QStringLiteral(R"("%1": "%2")").arg(QLatin1String(query), QLatin1String(text)));
    };
    QTest::newRow("ext not a number") << reply("FREQ:REF:EXT?", "x") << "Unrecognized FREQ:REF:EXT response" << "FREQ:REF:EXT?";
    QTest::newRow("ext 2") << reply("FREQ:REF:EXT?", "2") << "Bad FREQ:REF:EXT response" << "FREQ:REF:EXT?";
    QTest::newRow("rf not a number") << reply("POWE:RF?", "on") << "Unrecognized POWE:RF response" << "POWE:RF?";
    QTest::newRow("rf 5") << reply("POWE:RF?", "5") << "Bad POWE:RF response" << "POWE:RF?";
    QTest::newRow("ref freq not a number") << reply("FREQ:REF:FREQ?", "ten") << "Unrecognized FREQ:REF:FREQ response" << "FREQ:REF:FREQ?";
    QTest::newRow("pll not a number") << reply("FREQ:PLLM?", "?") << "Unrecognized FREQ:PLLM response" << "FREQ:PLLM?";
    QTest::newRow("pll 3") << reply("FREQ:PLLM?", "3") << "Bad FREQ:PLLM response" << "FREQ:PLLM?";
    QTest::newRow("divider not a number") << reply("FREQ:REF:DIV?", "z") << "Bad FREQ:REF:DIV response" << "FREQ:REF:DIV?";
    QTest::newRow("divider 0") << reply("FREQ:REF:DIV?", "0") << "Bad FREQ:REF:DIV response" << "FREQ:REF:DIV?";
    QTest::newRow("divider 128") << reply("FREQ:REF:DIV?", "128") << "Bad FREQ:REF:DIV response" << "FREQ:REF:DIV?";
    QTest::newRow("lock not a number") << reply("FREQ:LOCK?", "yes") << "Unrecognized 'FREQ:LOCK' response" << "FREQ:LOCK?";
    QTest::newRow("lock 2") << reply("FREQ:LOCK?", "2") << "Bad 'FREQ:LOCK' response" << "FREQ:LOCK?";
    QTest::newRow("power not a number") << reply("POWE:SET?", "abc") << "Read Error: Code 0" << "POWE:SET?";
    QTest::newRow("power -90.5") << reply("POWE:SET?", "-90.5") << "Power Range Error" << "POWE:SET?";
    QTest::newRow("power 91 MAX") << reply("POWE:SET?", "91 MAX") << "Power Range Error" << "POWE:SET?";
    QTest::newRow("frequency not a number") << reply("FREQ:SET?", "abc") << "Bad FREQ:SET response" << "FREQ:SET?";
    QTest::newRow("frequency below range") << reply("FREQ:SET?", "4.99") << "Frequency Range Error" << "FREQ:SET?";
    QTest::newRow("frequency above range") << reply("FREQ:SET?", "10.01") << "Frequency Range Error" << "FREQ:SET?";
    QTest::newRow("actual frequency not a number") << reply("FREQ:RETACT?", "n/a") << "Unrecognized FREQ:RETACT response" << "FREQ:RETACT?";
    QTest::newRow("temperature not a number") << reply("SYST:TEMP?", "warm") << "Unrecognized SYST:TEMP response" << "SYST:TEMP?";
    QTest::newRow("read times out")
        << QStringLiteral(R"("faults": {"readStatus": {"FREQ:LOCK?": -1073807339}})")
        << "Read Error: Code -1073807339" << "FREQ:LOCK?";
    QTest::newRow("query never answered")
        << QStringLiteral(R"("faults": {"readStatus": {"POWE:RF?": -1073807298}})")
        << "Read Error: Code -1073807298" << "POWE:RF?";
}

void tst_tabatwork::failureMessages()
{
    QFETCH(QString, extra);
    QFETCH(QString, message);
    QFETCH(QString, lastQuery);

    const int logged = int(sim->logMessages().size());
    sim->configure(config(extra));
    const QStringList pass = nextPass(Ghz);
    QCOMPARE(pass.last(), lastQuery); // later steps did not run
    QCOMPARE(sim->logMessages().mid(logged), QStringList{message});
    if (QTest::currentDataTag() == QLatin1String("ext 2")) {
        // The tab keeps polling and logs a lasting fault once per pass.
        QCOMPARE(nextPass(Ghz).last(), lastQuery);
        QCOMPARE(sim->logMessages().mid(logged), (QStringList{message, message}));
    }
}

void tst_tabatwork::failedStateDumpReadKeepsThePassGoing()
{
    nextPass(Ghz);
    const int logged = int(sim->logMessages().size());
    sim->configure(config(QStringLiteral(R"("faults": {"readStatus": {"SYST:READSTATE?": -1073807298}})")));
    const QStringList pass = nextPass(Ghz);
    QCOMPARE(pass.mid(pass.size() - 2), (QStringList{"SYST:READSTATE?", "SYST:TEMP?"}));
    QCOMPARE(sim->logMessages().mid(logged), QStringList{QStringLiteral("Read Error: Code -1073807298")});
    QCOMPARE(get<QLabel>(QStringLiteral("WK1"), "temp_lbl")->text(), QStringLiteral("23.50 C"));
}

void tst_tabatwork::acceptedBoundaries_data()
{
    QTest::addColumn<QString>("replies");
    QTest::addColumn<QByteArray>("widget");
    QTest::addColumn<QString>("shown");

    QTest::newRow("power -90") << R"("POWE:SET?": "-90")" << QByteArray("Powe_Val") << "-90";
    QTest::newRow("power 90 MAX") << R"("POWE:SET?": "90 MAX")" << QByteArray("Powe_Val") << "90 MAX";
    QTest::newRow("power with RF off") << R"("POWE:SET?": "OFF,-3.5")" << QByteArray("Powe_Val") << "-3.5";
    QTest::newRow("frequency 0 whatever the range") << R"("FREQ:SET?": "0")" << QByteArray("freq_text") << "0.000";
    QTest::newRow("frequency at minimum") << R"("FREQ:SET?": "5")" << QByteArray("freq_text") << "5.000";
    QTest::newRow("frequency at maximum") << R"("FREQ:SET?": "10")" << QByteArray("freq_text") << "10.000";
    QTest::newRow("reference shown less its line feed") << R"("FREQ:REF:FREQ?": "020")" << QByteArray("reference_freq_txt") << "020";
}

void tst_tabatwork::acceptedBoundaries()
{
    QFETCH(QString, replies);
    QFETCH(QByteArray, widget);
    QFETCH(QString, shown);
    const int logged = int(sim->logMessages().size());
    sim->configure(config(withReplies(replies)));
    nextPass(Ghz);
    QCOMPARE(get<QLineEdit>(QStringLiteral("WK1"), widget.constData())->text(), shown);
    QCOMPARE(sim->logMessages().mid(logged), QStringList());
    if (widget == "Powe_Val")
        QCOMPARE(get<QLabel>(QStringLiteral("WK1"), "atten_stat_lbl")->text(),
                 shown.contains(QLatin1String("MAX")) ? QStringLiteral("Power is set to Maximum") : QString());
}

void tst_tabatwork::errorLeavesEarlierWidgets()
{
    const QString wk1 = QStringLiteral("WK1");
    nextPass(Ghz);
    get<QLineEdit>(wk1, "freq_text")->setText(QStringLiteral("marker"));
    sim->configure(config(withReplies(QStringLiteral(
        R"("POWE:RF?": "0", "FREQ:REF:FREQ?": "55", "FREQ:PLLM?": "7", "FREQ:LOCK?": "0")"))));
    nextPass(Ghz);
    QCOMPARE(get<QLabel>(wk1, "power_lbl")->text(), QStringLiteral("RF Power is OFF"));
    QCOMPARE(get<QLineEdit>(wk1, "reference_freq_txt")->text(), QStringLiteral("55"));
    QCOMPARE(get<QLineEdit>(wk1, "freq_text")->text(), QStringLiteral("marker"));
    QCOMPARE(get<QLabel>(wk1, "lock_lbl")->pixmap().toImage(),
             QPixmap(QStringLiteral(":/Icons/Lock-icon.png")).toImage());
    QCOMPARE(sim->logMessages().last(), QStringLiteral("Bad FREQ:PLLM response"));

    // The power error comes after the lock picture was updated.
    sim->configure(config(withReplies(QStringLiteral(R"("FREQ:LOCK?": "0", "POWE:SET?": "-90.5")"))));
    nextPass(Ghz);
    QCOMPARE(get<QLabel>(wk1, "lock_lbl")->pixmap().toImage(),
             QPixmap(QStringLiteral(":/Icons/Lock-Unlock-icon.png")).toImage());
    QCOMPARE(get<QLineEdit>(wk1, "freq_text")->text(), QStringLiteral("marker"));
}

void tst_tabatwork::controlChangedByRefreshIsEchoedOnce()
{
    nextPass(Ghz);
    const QString wk1 = QStringLiteral("WK1");
    QVERIFY(get<QRadioButton>(wk1, "ref_int_radio")->isChecked());
    // The operator switched the instrument elsewhere: it reports its own
    // settings, the pass follows them and hands each back once.
    sim->configure(config(withReplies(QStringLiteral(R"("FREQ:REF:EXT?": "1", "FREQ:PLLM?": "1", "FREQ:REF:DIV?": "8")"))));
    sim->clearTrace();
    QVERIFY(QTest::qWaitFor([&] { return sim->writes(Ghz).contains(QStringLiteral("FREQ:REF:DIV 8")); }, 3000));
    QCOMPARE(sim->writes(Ghz).mid(11), (QStringList{"FREQ:REF:EXT 1", "FREQ:PLLM 1", "FREQ:REF:DIV 8"}));
    QVERIFY(get<QRadioButton>(wk1, "ref_ext_radio")->isChecked());
    QVERIFY(get<QLineEdit>(wk1, "reference_freq_txt")->isEnabled());
    QVERIFY(get<QPushButton>(wk1, "set_ref_freq_btn")->isEnabled());

    // The next pass finds the form matching and sends nothing back.
    sim->clearTrace();
    nextPass(Ghz);
    QTest::qWait(100);
    for (const QString &line : sim->writes(Ghz))
        QVERIFY2(line.endsWith(QLatin1Char('?')), qPrintable(line));

    // Back to internal: echoed once the other way.
    sim->configure(config(withReplies(QStringLiteral(R"("FREQ:REF:EXT?": "0")"))));
    QVERIFY(QTest::qWaitFor([&] { return sim->writes(Ghz).contains(QStringLiteral("FREQ:REF:EXT 0")); }, 3000));
    QVERIFY(!get<QLineEdit>(wk1, "reference_freq_txt")->isEnabled());
}

void tst_tabatwork::frequencyControl_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");    // empty: nothing
    QTest::addColumn<QString>("message"); // empty: none

    QTest::newRow("GHz 7.5") << "WK1" << "7.5" << "FREQ:SET 7.5" << "";
    QTest::newRow("GHz 12.3456789 out of range") << "WK1" << "12.3456789" << "" << "Frequency Range Error";
    QTest::newRow("GHz 7500 out of range") << "WK1" << "7500" << "" << "Frequency Range Error";
    QTest::newRow("GHz 6.3456789 as typed") << "WK1" << "6.3456789" << "FREQ:SET 6.3456789" << "";
    QTest::newRow("GHz unit typed") << "WK1" << "2.2 GHz" << "" << "Frequency Not Recognized";
    QTest::newRow("GHz nan") << "WK1" << "nan" << "" << "Frequency Not Recognized";
    QTest::newRow("MHz 35") << "WK2" << "35" << "FREQ:SET 35" << "";
    QTest::newRow("MHz 6000") << "WK2" << "6000" << "FREQ:SET 6000" << "";
    QTest::newRow("MHz 24.99") << "WK2" << "24.99" << "" << "Frequency Range Error";
    QTest::newRow("MHz 6000.01") << "WK2" << "6000.01" << "" << "Frequency Range Error";
    QTest::newRow("MHz 1234.56789") << "WK2" << "1234.56789" << "FREQ:SET 1234.56789" << "";
    QTest::newRow("MHz empty") << "WK2" << "" << "" << "Frequency Not Recognized";
}

void tst_tabatwork::frequencyControl()
{
    QFETCH(QString, serial);
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    QFETCH(QString, message);
    show(serial);
    const QString descriptor = serial == QLatin1String("WK1") ? Ghz : Mhz;
    const int before = int(sim->writes(descriptor).size());
    auto *edit = get<QLineEdit>(serial, "freq_text");
    const QString shown = messageBoxText([&] { typeAndReturn(edit, typed); });
    QCOMPARE(shown, message.isEmpty() ? QStringLiteral("<no message box>") : message);
    QCOMPARE(newWrites(descriptor, before), sent.isEmpty() ? QStringList() : QStringList{sent});
    if (!sent.isEmpty()) {
        // The instrument takes it and the next pass shows it.
        nextPass(descriptor);
        QVERIFY2(qAbs(edit->text().toDouble() - sent.mid(9).toDouble()) < 0.001, qPrintable(edit->text()));
    }
}

void tst_tabatwork::powerControl_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");

    QTest::newRow("max") << "max" << "POWE:SET MAX";
    QTest::newRow("Minimum") << "Minimum" << "POWE:SET MIN";
    QTest::newRow("minmax asks for the minimum") << "minmax" << "POWE:SET MIN";
    QTest::newRow("-3 min") << "-3 min" << "POWE:SET MIN";
    QTest::newRow("abc sends 0") << "abc" << "POWE:SET 0";
    QTest::newRow("-2.50") << "-2.50" << "POWE:SET -2.5";
    QTest::newRow("-5") << "-5" << "POWE:SET -5";
}

void tst_tabatwork::powerControl()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    const QString wk1 = QStringLiteral("WK1");
    nextPass(Ghz);
    const int before = int(sim->writes(Ghz).size());
    get<QLabel>(wk1, "atten_stat_lbl")->setText(QStringLiteral("Power is set to Maximum"));
    typeAndReturn(get<QLineEdit>(wk1, "Powe_Val"), typed);
    QCOMPARE(newWrites(Ghz, before), QStringList{sent});
    QCOMPARE(get<QLabel>(wk1, "atten_stat_lbl")->text(), QString());
}

void tst_tabatwork::minMaxPowerButtons()
{
    const QString wk1 = QStringLiteral("WK1");
    nextPass(Ghz);
    const int before = int(sim->writes(Ghz).size());
    get<QLabel>(wk1, "atten_stat_lbl")->setText(QStringLiteral("unchanged"));
    get<QPushButton>(wk1, "set_min_powe_btn")->click();
    get<QPushButton>(wk1, "set_max_powe_btn")->click();
    QCOMPARE(newWrites(Ghz, before), (QStringList{"POWE:SET MIN", "POWE:SET MAX"}));
    QCOMPARE(get<QLabel>(wk1, "atten_stat_lbl")->text(), QStringLiteral("unchanged"));
    // The instrument reports its maximum from now on.
    nextPass(Ghz);
    QVERIFY(get<QLineEdit>(wk1, "Powe_Val")->text().endsWith(QLatin1String(" MAX")));
    QCOMPARE(get<QLabel>(wk1, "atten_stat_lbl")->text(), QStringLiteral("Power is set to Maximum"));
}

void tst_tabatwork::rfOnOff()
{
    const QString wk1 = QStringLiteral("WK1");
    nextPass(Ghz);
    auto *label = get<QLabel>(wk1, "power_lbl");
    QCOMPARE(label->text(), QStringLiteral("RF Power is ON"));
    const int before = int(sim->writes(Ghz).size());
    get<QPushButton>(wk1, "power_btn")->click();
    QCOMPARE(label->text(), QStringLiteral("RF Power is OFF"));
    get<QPushButton>(wk1, "power_btn")->click();
    QCOMPARE(label->text(), QStringLiteral("RF Power is ON"));
    get<QPushButton>(wk1, "power_btn")->click();
    QCOMPARE(newWrites(Ghz, before), (QStringList{"POWE:RF 0", "POWE:RF 1", "POWE:RF 0"}));
    nextPass(Ghz);
    QCOMPARE(label->text(), QStringLiteral("RF Power is OFF"));
    QCOMPARE(get<QLabel>(wk1, "atten_stat_lbl")->text(), QString()); // "OFF,..." shows no status
}

void tst_tabatwork::referenceSource()
{
    const QString wk1 = QStringLiteral("WK1");
    nextPass(Ghz);
    const int before = int(sim->writes(Ghz).size());
    get<QRadioButton>(wk1, "ref_ext_radio")->click();
    QVERIFY(get<QLineEdit>(wk1, "reference_freq_txt")->isEnabled());
    QVERIFY(get<QPushButton>(wk1, "set_ref_freq_btn")->isEnabled());
    get<QRadioButton>(wk1, "ref_int_radio")->click();
    QVERIFY(!get<QLineEdit>(wk1, "reference_freq_txt")->isEnabled());
    QVERIFY(!get<QPushButton>(wk1, "set_ref_freq_btn")->isEnabled());
    QCOMPARE(newWrites(Ghz, before), (QStringList{"FREQ:REF:EXT 1", "FREQ:REF:EXT 0"}));
}

void tst_tabatwork::referenceFrequency_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");

    QTest::newRow("50") << "50" << "FREQ:REF:FREQ 50";
    QTest::newRow("10") << "10" << "FREQ:REF:FREQ 10";
    QTest::newRow("100") << "100" << "FREQ:REF:FREQ 100";
    QTest::newRow("9") << "9" << "";
    QTest::newRow("101") << "101" << "";
    QTest::newRow("blank and leading zero") << " 050" << "FREQ:REF:FREQ 50";
    QTest::newRow("50.5") << "50.5" << "";
    QTest::newRow("empty") << "" << "";
}

void tst_tabatwork::referenceFrequency()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    const QString wk1 = QStringLiteral("WK1");
    get<QRadioButton>(wk1, "ref_ext_radio")->click();
    const int before = int(sim->writes(Ghz).size());
    auto *timer = tab(wk1)->findChild<QTimer *>(QStringLiteral("refreshTimer"));
    const QString shown = messageBoxText([&] {
        auto *edit = get<QLineEdit>(wk1, "reference_freq_txt");
        edit->setText(typed);
        get<QPushButton>(wk1, "set_ref_freq_btn")->click();
    });
    QCOMPARE(shown, QStringLiteral("<no message box>"));
    QCOMPARE(newWrites(Ghz, before), sent.isEmpty() ? QStringList() : QStringList{sent});
    QCOMPARE(timer->isActive(), !sent.isEmpty()); // a refused value leaves polling stopped
    get<QRadioButton>(wk1, "ref_int_radio")->click();
}

void tst_tabatwork::dividerAndPllMode()
{
    const QString wk1 = QStringLiteral("WK1");
    nextPass(Ghz);
    auto *dividers = get<QComboBox>(wk1, "ref_div_cmb");
    if (get<QRadioButton>(wk1, "pllm_int_rad")->isChecked())
        get<QRadioButton>(wk1, "pllm_frac_rad")->click();
    const int target = dividers->currentIndex() == 7 ? 11 : 7;
    const int before = int(sim->writes(Ghz).size());
    dividers->setCurrentIndex(target);
    get<QRadioButton>(wk1, "pllm_int_rad")->click();
    get<QRadioButton>(wk1, "pllm_frac_rad")->click();
    get<QRadioButton>(wk1, "pllm_int_rad")->click();
    QCOMPARE(newWrites(Ghz, before), (QStringList{QStringLiteral("FREQ:REF:DIV %1").arg(target + 1), "FREQ:PLLM 1",
                                                  "FREQ:PLLM 0", "FREQ:PLLM 1"}));
    // The instrument holds them: the next pass changes nothing and echoes nothing.
    const QStringList pass = nextPass(Ghz);
    QCOMPARE(pass.size(), 11);
    QTest::qWait(50);
    QCOMPARE(sim->writes(Ghz), pass);
    QCOMPARE(dividers->currentText(), QString::number(target + 1));
    QVERIFY(get<QRadioButton>(wk1, "pllm_int_rad")->isChecked());
}

void tst_tabatwork::storedStates()
{
    const QString wk1 = QStringLiteral("WK1");
    nextPass(Ghz);
    const int before = int(sim->writes(Ghz).size());
    get<QComboBox>(wk1, "state_cmb")->setCurrentIndex(5);
    get<QPushButton>(wk1, "save_state_btn")->click();
    get<QPushButton>(wk1, "set_default_btn")->click();
    get<QPushButton>(wk1, "load_state_btn")->click();
    get<QComboBox>(wk1, "state_cmb")->setCurrentIndex(0);
    get<QPushButton>(wk1, "save_state_btn")->click(); // disabled: nothing
    get<QPushButton>(wk1, "load_state_btn")->click();
    QCOMPARE(newWrites(Ghz, before), (QStringList{"SYST:SAVESTATE 5", "SYST:BOOTSTATE 5", "SYST:LOADSTATE 5",
                                                  "SYST:LOADSTATE 0"}));
}

void tst_tabatwork::editGuardKeepsTypedValue()
{
    const QString wk1 = QStringLiteral("WK1");
    nextPass(Ghz);
    auto *edit = get<QLineEdit>(wk1, "freq_text");
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("9.125"));
    // No pass overwrites the text while the operator is typing.
    sim->clearTrace();
    QTest::qWait(2500);
    QCOMPARE(sim->trace(), QStringList());
    QCOMPARE(edit->text(), QStringLiteral("9.125"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(sim->writes(Ghz), QStringList{QStringLiteral("FREQ:SET 9.125")});
    nextPass(Ghz);
    QCOMPARE(edit->text(), QStringLiteral("9.125"));
}

void tst_tabatwork::switchingTabsMovesPolling()
{
    nextPass(Ghz);
    show(QStringLiteral("WK2"));
    sim->clearTrace();
    QTest::qWait(2300);
    QCOMPARE(sim->count(QLatin1Char('O'), Ghz), 0);
    QVERIFY(sim->count(QLatin1Char('O'), Mhz) >= 2);
    show(QStringLiteral("WK1"));
    sim->clearTrace();
    QTest::qWait(2300);
    QCOMPARE(sim->count(QLatin1Char('O'), Mhz), 0);
    QVERIFY(sim->count(QLatin1Char('O'), Ghz) >= 2);
}

void tst_tabatwork::unplugDuringPass()
{
    nextPass(Ghz);
    QPointer<UsbStickTab> old = tab(QStringLiteral("WK1"));
    const int logged = int(sim->logMessages().size());
    // Slow reads make a pass take about 0.6 s; the instrument is pulled out
    // while one runs.
    sim->configure(config(QStringLiteral(R"("faults": {"latencyMs": 50})")));
    nextPass(Ghz);
    // The next pass starts one second after this one ended and runs for
    // about 0.55 s: pull the plug in its middle.
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1250));
        sim->configure(QStringLiteral(R"({"resources": [%1]})").arg(MhzEntry.arg(QString())).toUtf8());
    });
    QVERIFY(QTest::qWaitFor([&] { return old.isNull(); }, 5000));
    unplug.join();
    QCOMPARE(tabs()->count(), 1);
    QCOMPARE(tabs()->tabText(0), QStringLiteral("SN:WK2"));
    const QStringList messages = sim->logMessages().mid(logged);
    QCOMPARE(messages.filter(QStringLiteral("Connection Error: Code ")).size(), 1);
    QCOMPARE(messages.last(), QStringLiteral("Connection Error: Code -1073807343"));
}

void tst_tabatwork::unplugBeforeCommand()
{
    nextPass(Ghz);
    QPointer<UsbStickTab> old = tab(QStringLiteral("WK1"));
    const int logged = int(sim->logMessages().size());
    sim->configure(QStringLiteral(R"({"resources": [%1]})").arg(MhzEntry.arg(QString())).toUtf8());
    get<QPushButton>(QStringLiteral("WK1"), "set_max_powe_btn")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(old.isNull());
    QCOMPARE(tabs()->count(), 1);
    QCOMPARE(sim->logMessages().mid(logged), QStringList{QStringLiteral("Connection Error: Code -1073807343")});
    QCOMPARE(sim->count(QLatin1Char('F'), Ghz), 1);
}

QTEST_MAIN(tst_tabatwork)
#include "tst_tabatwork.moc"
