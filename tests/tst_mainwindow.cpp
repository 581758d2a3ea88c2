// Start-up, discovery and rescans of the main window against simulated
// instruments, checked on the tabs it shows and on the simulator's trace.
#include "app/mainwindow.h"
#include "link/visalibrary.h"
#include "simfixture.h"
#include "tab/usbsticktab.h"
#include "viewer/profile_viewer.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSplashScreen>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>

namespace {

const QString SnA = QStringLiteral("USB0::0x3A7C::0x000F::SNA::INSTR");
const QString SnB = QStringLiteral("USB0::0x3A7C::0x0011::SNB::INSTR");
const QString SnC = QStringLiteral("USB0::0x3A7C::0x0014::SNC::INSTR");
const QByteArray ThreeInstruments = R"({"resources": [
    {"resource": "USB0::0x3A7C::0x000F::SNA::INSTR", "idn": "Q,774-4400,SNA,V4.1.0"},
    {"resource": "USB0::0x3A7C::0x0011::SNB::INSTR", "idn": "Q,VX27H774-20,SNB,V3.2.0"},
    {"resource": "USB0::0x3A7C::0x0014::SNC::INSTR", "idn": "Q,774-6000,SNC,V4.0"}]})";

QTabWidget *tabs(MainWindow &window) { return window.findChild<QTabWidget *>(QStringLiteral("tabWidget")); }
UsbStickTab *page(MainWindow &window, int i) { return qobject_cast<UsbStickTab *>(tabs(window)->widget(i)); }
QPushButton *button(MainWindow &window, const char *name) { return window.findChild<QPushButton *>(QLatin1String(name)); }

QStringList pageLabels(MainWindow &window)
{
    QStringList labels;
    for (int i = 0; i < tabs(window)->count(); ++i)
        labels << tabs(window)->tabText(i);
    return labels;
}

// For each page: whether its refresh timer runs.
QList<bool> polling(MainWindow &window)
{
    QList<bool> running;
    for (int i = 0; i < tabs(window)->count(); ++i)
        running << tabs(window)->widget(i)->findChild<QTimer *>(QStringLiteral("refreshTimer"))->isActive();
    return running;
}

// The splash's last message as it is drawn: rich text when it looks like it.
QString splashShows()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *splash = qobject_cast<QSplashScreen *>(widget)) {
            QTextDocument drawn;
            Qt::mightBeRichText(splash->message()) ? drawn.setHtml(splash->message())
                                                   : drawn.setPlainText(splash->message());
            return splash->isVisible() ? QStringLiteral("visible") : drawn.toPlainText();
        }
    }
    return {};
}

void deleteClosedTabs() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

} // namespace

class tst_mainwindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { sim = std::make_unique<SimFixture>(); }
    void cleanup() { deleteClosedTabs(); sim.reset(); }
    void scanKeepsSupportedInstruments();
    void noDevices();
    void noLibrary();
    void onlyTheShownTabPolls();
    void rescanRebuildsTheSamePages();
    void lostConnectionShownUnderTheTabs();
    void rescanDuringScanIsIgnored();
    void searchButtonShowsItsText();

private:
    std::unique_ptr<SimFixture> sim;
};

void tst_mainwindow::scanKeepsSupportedInstruments()
{
    const QString last = QStringLiteral("USB0::0x3A7C::15::<b>G</b>::INSTR");
    sim->configure(QByteArray(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x000F::A&B::INSTR", "idn": "Q,774-4400,SNA,V4.1.0"},
        {"resource": "ASRL1::INSTR", "idn": "Q,774,SNS,V4"},
        {"resource": "USB0::0x3A7C::0x0030::SNC::INSTR", "idn": "Q,774,SNC,V4"},
        {"resource": "USB0::0x3A7C::21::SNH::INSTR", "idn": "Q,774,SNH,V4"},
        {"resource": "USB0::0x3A7C::0x0010::SND::INSTR", "idn": "Q,SG100,SND,V4"},
        {"resource": "USB0::0x3A7C::0x0012::SNE::INSTR", "faults": {"timeoutMs": 100}},
        {"resource": "USB0::0x3A7C::0x0013::SNF::INSTR", "idn": "Q,774"},
        {"resource": "USB0::0x3A7C::0x0011::SNB::INSTR", "idn": "Q,VX27H774-20,SNB,V3.2.0"},
        {"resource": "USB0::0x3A7C::0x0014::SNL::INSTR", "idn": "Q,VXHN774,SNL,V4.0,%1"},
        {"resource": "USB0::0x3A7C::15::<b>G</b>::INSTR", "idn": "Q,TR27H774,SNG,V4.0"}
    ]})")
                       // A 300-byte identification is cut, not overrun.
                       .replace("%1", QByteArray(300, 'x')));
    MainWindow window;

    QCOMPARE(pageLabels(window), (QStringList{"SN:A&&B", "SN:SNB", "SN:SNL", "SN:<b>G</b>"}));
    QCOMPARE(page(window, 2)->findChild<QLabel *>(QStringLiteral("TitleID"))->text(),
             QStringLiteral("VXHN774 - V4.0 - SN:SNL"));
    QCOMPARE(polling(window), (QList<bool>{true, false, false, false}));
    QCOMPARE(splashShows(), last + QString(13, QLatin1Char(' ')));

    // Every in-range instrument was asked once in a session of its own; the
    // others were never opened.
    for (const char *pid : {"0x000F::A&B", "0x0010::SND", "0x0012::SNE", "0x0013::SNF", "0x0011::SNB",
                               "0x0014::SNL", "15::<b>G</b>"}) {
        const QString descriptor = QStringLiteral("USB0::0x3A7C::%1::INSTR").arg(QLatin1String(pid));
        QCOMPARE(sim->writes(descriptor), QStringList{QStringLiteral("*IDN?")});
        QCOMPARE(sim->count(QLatin1Char('O'), descriptor) + sim->count(QLatin1Char('C'), descriptor), 2);
    }
    for (const char *descriptor : {"ASRL1::INSTR", "USB0::0x3A7C::0x0030::SNC::INSTR", "USB0::0x3A7C::21::SNH::INSTR"})
        QCOMPARE(sim->count(QLatin1Char('O'), QString::fromLatin1(descriptor)), 0);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 0);
}

void tst_mainwindow::noDevices()
{
    // USB resources, but none in the supported range: none is opened.
    sim->configure(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x000E::SN1::INSTR", "idn": "Q,774,SN1,V4"},
        {"resource": "USB0::0x3A7C::0x0016::SN2::INSTR", "idn": "Q,774,SN2,V4"}]})");
    MainWindow window;
    QCOMPARE(pageLabels(window), QStringList{QStringLiteral("N/A")});
    QCOMPARE(qobject_cast<QLabel *>(tabs(window)->widget(0))->text(), QStringLiteral("\nNo devices were found\n"));
    QCOMPARE(splashShows(), QStringLiteral("No devices were found") + QString(14, QLatin1Char(' ')));
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("USB0::0x3A7C::0x000E::SN1::INSTR")), 0);

    // A rescan replaces the page instead of piling up "N/A" labels, and
    // each scan's resource manager is closed.
    QPointer<QWidget> oldPage = tabs(window)->widget(0);
    button(window, "connected_devices_refresh_btn")->click();
    QCOMPARE(pageLabels(window), QStringList{QStringLiteral("N/A")});
    QVERIFY(oldPage.isNull());
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 2);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 2);
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
    button(window, "connected_devices_refresh_btn")->click();
    QCOMPARE(pageLabels(window), QStringList{QStringLiteral("N/A")});
}

void tst_mainwindow::onlyTheShownTabPolls()
{
    sim->configure(ThreeInstruments);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The operator picks the second tab while the splash of a rescan is up.
    connect(&window, &MainWindow::splashMessage, &window, [&](const QString &message) {
        if (message.startsWith(SnB))
            QTimer::singleShot(0, &window, [&] { tabs(window)->setCurrentIndex(1); });
    });
    button(window, "connected_devices_refresh_btn")->click();
    QCOMPARE(tabs(window)->currentIndex(), 1);
    QCOMPARE(polling(window), (QList<bool>{false, true, false}));

    sim->clearTrace();
    QTRY_VERIFY_WITH_TIMEOUT(sim->count(QLatin1Char('C'), SnB) == 1, 3000);
    QCOMPARE(sim->writes(SnB).value(0), QStringLiteral("FREQ:REF:EXT?"));
    QVERIFY(sim->trace().filter(SnA).isEmpty());
    QVERIFY(sim->trace().filter(SnC).isEmpty());
}

void tst_mainwindow::rescanRebuildsTheSamePages()
{
    sim->configure(ThreeInstruments);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    tabs(window)->setCurrentIndex(1);
    QPointer<UsbStickTab> oldA = page(window, 0);
    oldA->findChild<QPushButton *>(QStringLiteral("view_state_parameters"))->click();
    QPointer<QWidget> viewer;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<profile_viewer *>(widget) && widget->isVisible())
            viewer = widget;
    QVERIFY(viewer);

    for (int scan = 0; scan < 3; ++scan)
        button(window, "connected_devices_refresh_btn")->click();
    deleteClosedTabs();
    QVERIFY(oldA.isNull());
    QVERIFY(viewer.isNull());
    QCOMPARE(pageLabels(window), (QStringList{"SN:SNA", "SN:SNB", "SN:SNC"}));
    QCOMPARE(polling(window), (QList<bool>{true, false, false}));
    // One resource manager per scan, each closed once its tabs were gone.
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 4);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 3);
}

void tst_mainwindow::lostConnectionShownUnderTheTabs()
{
    sim->configure(ThreeInstruments);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPointer<UsbStickTab> oldB = page(window, 1);
    // Instrument A was opened once to identify it; its next open fails.
    sim->configure(QByteArray(ThreeInstruments).replace("V4.1.0\"", "V4.1.0\", \"faults\": {\"unplugAfter\": 1}"));
    QTRY_VERIFY_WITH_TIMEOUT(oldB.isNull(), 5000);
    QCOMPARE(pageLabels(window), (QStringList{"SN:SNB", "SN:SNC"}));
    QCOMPARE(polling(window), (QList<bool>{true, false}));
    const QString message = QStringLiteral("Connection Error: Code -1073807343");
    QCOMPARE(sim->logMessages(), QStringList{message});
    QCOMPARE(sim->count(QLatin1Char('F'), SnA), 1);
    const QString shown = window.findChild<QLabel *>(QStringLiteral("status_lbl"))->text();
    QCOMPARE(shown, sim->log().split(QLatin1Char('\n')).value(1));

    // Instrument texts are shown as they are, not as markup.
    emit window.logMessage(QStringLiteral("<b>bold</b>"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("status_lbl"))->textFormat(), Qt::PlainText);
}

void tst_mainwindow::rescanDuringScanIsIgnored()
{
    sim->configure(ThreeInstruments);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The splash messages of a scan let events through: a second press (and
    // a lost connection) arriving then must not start a scan inside the scan.
    int nested = 0;
    QTimer::singleShot(0, &window, [&] {
        ++nested;
        button(window, "connected_devices_refresh_btn")->click();
        QMetaObject::invokeMethod(&window, "connectionLost");
    });
    button(window, "connected_devices_refresh_btn")->click();
    deleteClosedTabs();
    QCOMPARE(nested, 1);
    QCOMPARE(pageLabels(window), (QStringList{"SN:SNA", "SN:SNB", "SN:SNC"}));
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 2);
    QCOMPARE(sim->count(QLatin1Char('O'), SnA), 2); // once per scan, no more
}

void tst_mainwindow::searchButtonShowsItsText()
{
    sim->configure(R"({"resources": []})");
    QFont large = QApplication::font();
    large.setPointSize(14);
    QApplication::setFont(large);
    MainWindow window;
    QApplication::setFont(QFont());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPushButton *search = button(window, "connected_devices_refresh_btn");
    QVERIFY(search->width() >= search->sizeHint().width());
    QVERIFY(search->width() > search->fontMetrics().horizontalAdvance(search->text()));

}

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
