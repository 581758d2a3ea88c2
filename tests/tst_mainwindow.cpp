// Start-up, discovery and rescans of the main window against simulated
// instruments, checked on the tabs it shows and on the simulator's trace.
#include "app/mainwindow.h"
#include "link/visalibrary.h"
#include "simfixture.h"
#include "tab/sweepwindow.h"
#include "tab/usbsticktab.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplashScreen>
#include <QTabWidget>
#include <QTextDocumentFragment>
#include <QTimer>

namespace {

const QString SnA = QStringLiteral("USB0::0x3A7C::0x000F::SNA::INSTR");
const QString SnB = QStringLiteral("USB0::0x3A7C::0x0011::SNB::INSTR");
const QByteArray A = R"({"resource": "USB0::0x3A7C::0x000F::SNA::INSTR", "idn": "Q,774-4400,SNA,V4.1.0"})";
const QByteArray B = R"({"resource": "USB0::0x3A7C::0x0011::SNB::INSTR", "idn": "Q,VX27H774-20,SNB,V3.2.0"})";
const QByteArray C = R"({"resource": "USB0::0x3A7C::0x0014::SNC::INSTR", "idn": "Q,774-6000,SNC,V4.0"})";

QByteArray instruments(const QByteArrayList &entries) { return R"({"resources": [)" + entries.join(", ") + "]}"; }

QPushButton *search(MainWindow &window) { return window.findChild<QPushButton *>(QStringLiteral("connected_devices_refresh_btn")); }

// The closed splash's last message as it was drawn (rich text when it looks
// like it).
QString splashShowed()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *splash = qobject_cast<QSplashScreen *>(widget); splash && !splash->isVisible()) {
            const QString message = splash->message();
            return Qt::mightBeRichText(message) ? QTextDocumentFragment::fromHtml(message).toPlainText() : message;
        }
    }
    return {};
}

void deleteClosedTabs() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// The sweep window of a page, opened with the tab's Sweep button.
QWidget *openSweep(MainWindow &window, int page)
{
    tabs(window)->widget(page)->findChild<QPushButton *>(QStringLiteral("sweep_btn"))->click();
    return topLevel<SweepWindow>(QStringLiteral("Sweep - SN:") + tabs(window)->tabText(page).mid(3));
}

// A frequency sweep from start to stop in steps, 10 ms a point, started.
void startSweep(QWidget *sweep, const char *start, const char *stop, const char *step)
{
    sweep->findChild<QComboBox *>(QStringLiteral("mode_cmb"))->setCurrentIndex(0);
    sweep->findChild<QRadioButton *>(QStringLiteral("step_rad"))->setChecked(true);
    sweep->findChild<QLineEdit *>(QStringLiteral("start_txt"))->setText(QLatin1String(start));
    sweep->findChild<QLineEdit *>(QStringLiteral("stop_txt"))->setText(QLatin1String(stop));
    sweep->findChild<QLineEdit *>(QStringLiteral("step_txt"))->setText(QLatin1String(step));
    sweep->findChild<QSpinBox *>(QStringLiteral("dwell_spn"))->setValue(10);
    sweep->findChild<QPushButton *>(QStringLiteral("start_btn"))->click();
}

} // namespace

class tst_mainwindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { sim = std::make_unique<SimFixture>(); }
    void cleanup() { deleteClosedTabs(); sim.reset(); }
    void scansKeepSupportedInstruments();
    void noLibrary();
    void rescansRebuildTheSamePages();
    void statusLineFitsItsText();
    void boxGoesWithItsTab_data();
    void boxGoesWithItsTab();
    void closingStopsSweeps();

private:
    std::unique_ptr<SimFixture> sim;
};

void tst_mainwindow::scansKeepSupportedInstruments()
{
    // Nothing in the supported range: nothing is opened, and a rescan
    // replaces the page instead of piling up "N/A" labels.
    sim->configure(R"({"resources": [{"resource": "USB0::0x3A7C::0x000E::SN1::INSTR", "idn": "Q,774,SN1,V4"}]})");
    QFont large = QApplication::font();
    large.setPointSize(14);
    QApplication::setFont(large);
    auto window = std::make_unique<MainWindow>();
    QApplication::setFont(QFont());
    QCOMPARE(splashShowed(), QStringLiteral("No devices were found              "));
    search(*window)->click();
    QCOMPARE(pages(*window), QStringList{QStringLiteral("N/A")});
    // A library, but no instrument: the status line says which library looked.
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("status_lbl"))->toolTip().section(QLatin1Char(' '), 1),
             "No instruments were found through " + VisaLibrary::instance().fileName());
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("USB0::0x3A7C::0x000E::SN1::INSTR")), 0);
    // The search button shows its whole text in a large desktop font.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(search(*window)->width() >= search(*window)->sizeHint().width());

    sim->configure(QByteArray(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x000F::A&B::INSTR", "idn": "Q,774-4400,SNA,V4.1.0"},
        {"resource": "ASRL1::INSTR", "idn": "Q,774,SNS,V4"},
        {"resource": "USB0::0x3A7C::0x0010::SND::INSTR", "idn": "Q,SG100,SND,V4"},
        {"resource": "USB0::0x3A7C::0x0012::SNE::INSTR", "faults": {"timeoutMs": 100}},
        {"resource": "USB0::0x3A7C::0x0014::SNL::INSTR", "idn": "Q,VXHN774,SNL,V4.0,%1"},
        {"resource": "USB0::0x3A7C::15::<b>G</b>::INSTR", "idn": "Q,TR27H774,SNG,V4.0"}]})")
                       .replace("%1", QByteArray(300, 'x'))); // cut, not overrun
    search(*window)->click();
    QCOMPARE(pages(*window), (QStringList{"SN:A&&B polls", "SN:SNL", "SN:<b>G</b>"}));
    QCOMPARE(tabs(*window)->widget(0)->findChild<QLabel *>(QStringLiteral("TitleID"))->text(),
             QStringLiteral("774-4400 - V4.1.0 - SN:A&B"));
    QCOMPARE(splashShowed(), QStringLiteral("USB0::0x3A7C::15::<b>G</b>::INSTR             "));

    // Every in-range instrument was asked once in a session of its own; the
    // serial port was never opened.
    for (const char *ids : {"0x000F::A&B", "0x0010::SND", "0x0012::SNE", "0x0014::SNL", "15::<b>G</b>"}) {
        const QString descriptor = QStringLiteral("USB0::0x3A7C::%1::INSTR").arg(QLatin1String(ids));
        QCOMPARE(sim->writes(descriptor), QStringList{QStringLiteral("*IDN?")});
        QCOMPARE(sim->count(QLatin1Char('O'), descriptor) + sim->count(QLatin1Char('C'), descriptor), 2);
    }
    QVERIFY(sim->trace().filter(QStringLiteral("ASRL1")).isEmpty());
    // Each scan's resource manager closes when nothing uses it, the last one
    // with the window.
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 3);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 2);
    window.reset();
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 3);
}

void tst_mainwindow::noLibrary()
{
    if (VisaLibrary::instance().isLoaded())
        QSKIP("runs in the test registered without a VISA library");
    // One line per scan names the library and the status.
    const QRegularExpression why(
        QStringLiteral("^VISA resource manager not opened \\(status -1073807202\\): .*/nonexistent/libvisa\\.so"));
    QTest::ignoreMessage(QtWarningMsg, why);
    MainWindow window;
    QTest::ignoreMessage(QtWarningMsg, why);
    search(window)->click();
    QCOMPARE(pages(window), QStringList{QStringLiteral("N/A")});
    QCOMPARE(tabs(window)->widget(0)->findChild<QLabel *>() ? QString() : qobject_cast<QLabel *>(tabs(window)->widget(0))->text(),
             QStringLiteral("\nNo devices were found\n"));
    // No library is another message than no instrument: it says what was tried.
    const QString status = window.findChild<QLabel *>(QStringLiteral("status_lbl"))->toolTip();
    QVERIFY2(status.contains(QLatin1String("No VISA library could be used; tried: /nonexistent/libvisa.so")), qPrintable(status));
    QCOMPARE(sim->logMessages().filter(QStringLiteral("No VISA library")).size(), 2);
}

void tst_mainwindow::rescansRebuildTheSamePages()
{
    sim->configure(instruments({A, B, C}));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The splash messages of a scan let events through: a second press (and
    // a lost connection) arriving then must not start a scan inside the scan.
    int nested = 0;
    QTimer::singleShot(0, &window, [&] {
        ++nested;
        search(window)->click();
        QMetaObject::invokeMethod(&window, "connectionLost");
    });
    search(window)->click();
    QCOMPARE(nested, 1);
    QCOMPARE(pages(window), (QStringList{"SN:SNA polls", "SN:SNB", "SN:SNC"}));

    // The operator picks the second tab during a rescan: that tab alone polls.
    connect(&window, &MainWindow::splashMessage, &window, [&](const QString &message) {
        if (message.startsWith(SnB))
            QTimer::singleShot(0, &window, [&] { tabs(window)->setCurrentIndex(1); });
    });
    search(window)->click();
    deleteClosedTabs();
    QCOMPARE(pages(window), (QStringList{"SN:SNA", "SN:SNB polls", "SN:SNC"}));
    QCOMPARE(sim->count(QLatin1Char('O'), SnA), 3); // once per scan, no more
    // One resource manager per scan, each closed once its tabs were gone.
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 3);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 2);

    sim->clearTrace();
    QTRY_COMPARE_WITH_TIMEOUT(sim->count(QLatin1Char('C'), SnB), 1, 3000);
    QCOMPARE(sim->writes(SnB).value(0), QStringLiteral("FREQ:REF:EXT?"));
    QVERIFY(sim->trace().filter(QRegularExpression(QStringLiteral("::SN[AC]::"))).isEmpty());

    // B can no longer be opened: the error is logged and shown under the
    // tabs with its time, and the tabs are rebuilt without B.
    sim->configure(instruments({A, B.chopped(1) + R"(, "faults": {"openStatus": -1073807343}})", C}));
    QTRY_COMPARE_WITH_TIMEOUT(pages(window), (QStringList{"SN:SNA polls", "SN:SNC"}), 3000);
    QCOMPARE(sim->logMessages(), QStringList{QStringLiteral("Connection Error: Code -1073807343")});
    auto *status = window.findChild<QLabel *>(QStringLiteral("status_lbl"));
    // The status line names the instrument and explains the code in the
    // library's words; the log keeps the bare text.
    const QString logged = sim->log().split(QLatin1Char('\n')).value(1);
    QCOMPARE(status->toolTip(), logged.left(9) + QStringLiteral("SNB: ") + logged.mid(9)
                                    + QStringLiteral(" (Insufficient location information or resource not present)"));
    QCOMPARE(status->textFormat(), Qt::PlainText); // instrument texts are not markup
}

void tst_mainwindow::statusLineFitsItsText()
{
    sim->configure(instruments({A, B, C}));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *status = window.findChild<QLabel *>(QStringLiteral("status_lbl"));
    auto *tab = qobject_cast<UsbStickTab *>(tabs(window)->widget(2));
    // Emits a tab message; the whole status line it should give.
    const auto emitted = [&](const QString &text) {
        emit tab->logMsg(text);
        return sim->log().split(QLatin1Char('\n'), Qt::SkipEmptyParts).last().left(9) + QStringLiteral("SNC: ") + text;
    };
    const QString shortLine = emitted(QStringLiteral("Bad FREQ:SET response"));
    QCOMPARE(status->toolTip(), shortLine);
    QCOMPARE(status->text(), shortLine);
    const QString longer = QStringLiteral("Unrecognized FREQ:REF:EXT response ").repeated(20);
    const QString longLine = emitted(longer);
    QCOMPARE(sim->logMessages().last(), longer); // the log keeps the bare text
    QCOMPARE(status->toolTip(), longLine);
    QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) <= status->contentsRect().width());
    QVERIFY(status->text().endsWith(QChar(0x2026)));
    QVERIFY(status->toolTip().startsWith(status->text().chopped(1)));
    // Control characters show as the log has them, on one line.
    emit window.logMessage(QStringLiteral("\x1b[2J\r"));
    QCOMPARE(status->toolTip(), sim->log().split(QLatin1Char('\n'), Qt::SkipEmptyParts).last());
    QVERIFY(status->toolTip().endsWith(QLatin1String(" \\x1b[2J\\r")));
}

void tst_mainwindow::boxGoesWithItsTab_data()
{
    QTest::addColumn<QString>("box");          // of the first tab: input, refusal (sweep window), browse (its file dialog)
    QTest::addColumn<bool>("otherSweepLost");  // or else the first tab's own instrument is unplugged
    QTest::addColumn<QString>("text");         // of the message box

    QTest::newRow("refusal, unplugged") << "refusal" << false << "Start and stop must be numbers";
    QTest::newRow("file dialog, sweeping instrument lost") << "browse" << true << "";
    QTest::newRow("input error, sweeping instrument lost") << "input" << true << "Frequency Not Recognized";
}

void tst_mainwindow::boxGoesWithItsTab()
{
    QFETCH(QString, box);
    QFETCH(bool, otherSweepLost);
    QFETCH(QString, text);
    sim->configure(instruments({A, B}));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (otherSweepLost) {
        startSweep(openSweep(window, 1), "10", "20", "0.001");
        QTRY_VERIFY(sim->writes(SnB).contains(QStringLiteral("FREQ:SET 10.001")));
    }

    // The loss comes while the box is up. It is due before the box opens, in
    // case the box runs an event loop of its own.
    QTimer::singleShot(50, &window, [&] { sim->configure(instruments({otherSweepLost ? A : B})); });
    QTimer::singleShot(10000, &window, [] {
        if (QWidget *stuck = QApplication::activeModalWidget())
            stuck->close();
    });
    QWidget *tab = tabs(window)->widget(0);
    if (box == QLatin1String("input")) {
        tab->findChild<QLineEdit *>(QStringLiteral("freq_text"))->setText(QStringLiteral("nan"));
        tab->findChild<QPushButton *>(QStringLiteral("freq_button"))->click();
    } else {
        QWidget *sweep = openSweep(window, 0);
        sweep->findChild<QComboBox *>(QStringLiteral("mode_cmb"))->setCurrentIndex(box == QLatin1String("browse") ? 2 : 0);
        sweep->findChild<QLineEdit *>(QStringLiteral("start_txt"))->setText(QStringLiteral("nan"));
        sweep->findChild<QPushButton *>(box == QLatin1String("browse") ? "list_browse_btn" : "start_btn")->click();
    }
    const QPointer<QWidget> opened = QApplication::activeModalWidget();
    QVERIFY(opened);
    QCOMPARE(opened->property("text").toString().section(QLatin1Char('\n'), 0, 0), text); // the first line

    QTRY_COMPARE_WITH_TIMEOUT(pages(window), QStringList(otherSweepLost ? "SN:SNA polls" : "SN:SNB polls"), 5000);
    // Gone with its tab, unanswered.
    QVERIFY(!QApplication::activeModalWidget());
    deleteClosedTabs();
    QVERIFY(opened.isNull());
    const QStringList logged = sim->logMessages();
    QCOMPARE(logged.filter(QStringLiteral("Connection Error: Code -1073807343")).size(), 1);
    if (otherSweepLost)
        QCOMPARE(logged.filter(QRegularExpression(QStringLiteral("^Sweep stopped after \\d+ of 10001 points$"))).size(), 1);
    QCOMPARE(sim->writes(SnA).filter(QRegularExpression(QStringLiteral("[^?]$"))), QStringList());
}

void tst_mainwindow::closingStopsSweeps()
{
    sim->configure(instruments({A}));
    MainWindow window;
    window.show();
    window.findChild<QPushButton *>(QStringLiteral("About_btn"))->click();
    QWidget *sweep = openSweep(window, 0);
    startSweep(sweep, "100", "4000", "1");
    QTRY_VERIFY(sim->writes(SnA).contains(QStringLiteral("FREQ:SET 101")));

    // The About window keeps the panel running; the sweep ends with the main window.
    window.close();
    const auto sent = [&] { return sim->writes(SnA).filter(QStringLiteral("FREQ:SET ")).size(); };
    QCOMPARE(sim->logMessages().last(), QStringLiteral("Sweep stopped after %1 of 3901 points").arg(sent()));
    const qsizetype stoppedAt = sent();
    QTest::qWait(100);
    QCOMPARE(sent(), stoppedAt);
    QVERIFY(!sweep->isVisible());
    const QWidgetList tops = QApplication::topLevelWidgets();
    QWidget *about = *std::find_if(tops.begin(), tops.end(), [](QWidget *top) { return top->inherits("aboutSplash"); });
    QVERIFY(about->isVisible());
    about->close();
}

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
