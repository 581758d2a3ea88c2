// Start-up, discovery and rescans of the main window against simulated
// instruments, checked on the tabs it shows and on the simulator's trace.
#include "app/mainwindow.h"
#include "link/visalibrary.h"
#include "simfixture.h"
#include "tab/usbsticktab.h"
#include "viewer/profile_viewer.h"

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QPushButton>
#include <QSplashScreen>
#include <QTabWidget>
#include <QTimer>

namespace {

const QString SnA = QStringLiteral("USB0::0x3A7C::0x000F::SNA::INSTR");
const QString SnB = QStringLiteral("USB0::0x3A7C::0x0011::SNB::INSTR");

const QByteArray TwoInstruments = R"({"resources": [
    {"resource": "USB0::0x3A7C::0x000F::SNA::INSTR", "idn": "Quorvex Electronics,774-4400,SNA,V4.1.0"},
    {"resource": "USB0::0x3A7C::0x0011::SNB::INSTR", "idn": "Quorvex Electronics,VX27H774-20,SNB,V3.2.0"}
]})";

QTabWidget *tabWidget(MainWindow &window)
{
    return window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
}

QStringList pageLabels(MainWindow &window)
{
    QStringList labels;
    for (int i = 0; i < tabWidget(window)->count(); ++i)
        labels << tabWidget(window)->tabText(i);
    return labels;
}

UsbStickTab *page(MainWindow &window, int index)
{
    return qobject_cast<UsbStickTab *>(tabWidget(window)->widget(index));
}

bool polling(QWidget *tab)
{
    return tab->findChild<QTimer *>(QStringLiteral("refreshTimer"))->isActive();
}

QSplashScreen *splashScreen()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *splash = qobject_cast<QSplashScreen *>(widget))
            return splash;
    }
    return nullptr;
}

void deleteClosedTabs()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class tst_mainwindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void form();
    void scanKeepsSupportedInstruments();
    void noDevices();
    void noLibrary();
    void rescanRebuildsTheSamePages();
    void lostConnectionRebuildsAllTabs();
    void rescanDuringScanIsIgnored();
    void tabLogReachesRunLog();
    void aboutWindowShownOnce();

private:
    std::unique_ptr<SimFixture> sim;
};

void tst_mainwindow::init()
{
    sim = std::make_unique<SimFixture>();
}

void tst_mainwindow::cleanup()
{
    deleteClosedTabs();
    sim.reset();
}

void tst_mainwindow::form()
{
    sim->configure(R"({"resources": []})");
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Quorvex USB Stick Synthesizer Control"));
    QCOMPARE(window.layout()->sizeConstraint(), QLayout::SetFixedSize);
    auto *search = window.findChild<QPushButton *>(QStringLiteral("connected_devices_refresh_btn"));
    QVERIFY(search);
    QCOMPARE(search->text(), QStringLiteral("Search For Connected Devices"));
    QCOMPARE(search->minimumWidth(), 180);
    QCOMPARE(search->maximumWidth(), 180);
    auto *about = window.findChild<QPushButton *>(QStringLiteral("About_btn"));
    QVERIFY(about);
    QVERIFY(about->text().isEmpty());
    QVERIFY(about->isFlat());
    QCOMPARE(about->focusPolicy(), Qt::NoFocus);
    QCOMPARE(about->styleSheet(),
             QStringLiteral("border-image: url(:/Pictures/Quorvex_Logo_Side_Transparaent.png);\n"));
    QCOMPARE(about->minimumSize(), QSize(248, 50));

    // The images the forms and the splash rely on are compiled in.
    for (const char *image : {":/Icons/Lock-icon.png", ":/Icons/Lock-Unlock-icon.png", ":/Icons/Refresh.png"})
        QCOMPARE(QPixmap(QString::fromLatin1(image)).size(), QSize(256, 256));
    QCOMPARE(QPixmap(QStringLiteral(":/Pictures/Quorvex_Logo_Side_Transparaent.png")).size(), QSize(1141, 327));
    QVERIFY(QImage(QStringLiteral(":/Pictures/Quorvex_Logo_Side_Transparaent.png")).hasAlphaChannel());
    QCOMPARE(QPixmap(QStringLiteral(":/Pictures/USBStickSplash_Quorvex.png")).size(), QSize(525, 150));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.minimumSize(), window.maximumSize());
}

void tst_mainwindow::scanKeepsSupportedInstruments()
{
    sim->configure(QByteArray(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x000F::SNA::INSTR", "idn": "Quorvex Electronics,774-4400,SNA,V4.1.0"},
        {"resource": "ASRL1::INSTR", "idn": "Q,774,SNS,V4"},
        {"resource": "USB0::0x3A7C::0x0030::SNC::INSTR", "idn": "Q,774,SNC,V4"},
        {"resource": "USB0::0x3A7C::0x0010::SND::INSTR", "idn": "Q,SG100,SND,V4"},
        {"resource": "USB0::0x3A7C::0x0012::SNE::INSTR", "faults": {"timeoutMs": 100}},
        {"resource": "USB0::0x3A7C::0x0013::SNF::INSTR", "idn": "Q,774"},
        {"resource": "USB0::0x3A7C::0x0011::SNB::INSTR", "idn": "Quorvex Electronics,VX27H774-20,SNB,V3.2.0"},
        {"resource": "USB0::0x3A7C::0x0014::SNL::INSTR", "idn": "Q,VXHN774,SNL,V4.0,%1"},
        {"resource": "USB0::0x3A7C::21::SNG::INSTR", "idn": "Q,TR27H774,SNG,V4.0"}
    ]})")
        // A 300-byte identification is cut, not overrun.
        .replace("%1", QByteArray(300, 'x')));
    MainWindow window;

    QCOMPARE(pageLabels(window), (QStringList{"SN:SNA", "SN:SNB", "SN:SNL", "SN:SNG"}));
    QCOMPARE(page(window, 2)->findChild<QLabel *>(QStringLiteral("TitleID"))->text(),
             QStringLiteral("VXHN774 - V4.0 - SN:SNL"));
    QCOMPARE(page(window, 0)->findChild<QLabel *>(QStringLiteral("TitleID"))->text(),
             QStringLiteral("774-4400 - V4.1.0 - SN:SNA"));
    QCOMPARE(tabWidget(window)->currentIndex(), 0);
    QVERIFY(polling(page(window, 0)));
    QVERIFY(!polling(page(window, 1)));
    QVERIFY(!polling(page(window, 2)));
    QVERIFY(!polling(page(window, 3)));

    // Every in-range instrument was asked once in a session of its own; the
    // others were never opened.
    const QStringList inRange = {SnA, "USB0::0x3A7C::0x0010::SND::INSTR", "USB0::0x3A7C::0x0012::SNE::INSTR",
                                 "USB0::0x3A7C::0x0013::SNF::INSTR", SnB, "USB0::0x3A7C::0x0014::SNL::INSTR",
                                 "USB0::0x3A7C::21::SNG::INSTR"};
    for (const QString &descriptor : inRange) {
        QCOMPARE(sim->count(QLatin1Char('O'), descriptor), 1);
        QCOMPARE(sim->writes(descriptor), QStringList{QStringLiteral("*IDN?")});
        QCOMPARE(sim->count(QLatin1Char('C'), descriptor), 1);
    }
    for (const char *descriptor : {"ASRL1::INSTR", "USB0::0x3A7C::0x0030::SNC::INSTR"})
        QCOMPARE(sim->count(QLatin1Char('O'), QString::fromLatin1(descriptor)), 0);
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 1);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 0);

    QSplashScreen *splash = splashScreen();
    QVERIFY(splash);
    QVERIFY(!splash->isVisible());
    QCOMPARE(splash->message(), QStringLiteral("USB0::0x3A7C::21::SNG::INSTR") + QString(13, QLatin1Char(' ')));
}

void tst_mainwindow::noDevices()
{
    // USB resources, but none in the supported range: none is opened.
    sim->configure(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x000E::SN1::INSTR", "idn": "Q,774,SN1,V4"},
        {"resource": "USB0::0x3A7C::0x0016::SN2::INSTR", "idn": "Q,774,SN2,V4"}
    ]})");
    MainWindow window;
    QCOMPARE(pageLabels(window), QStringList{QStringLiteral("N/A")});
    auto *label = qobject_cast<QLabel *>(tabWidget(window)->widget(0));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("\nNo devices were found\n"));
    QCOMPARE(label->alignment(), Qt::AlignHCenter);
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("USB0::0x3A7C::0x000E::SN1::INSTR")), 0);
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 1);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 1);
    QSplashScreen *splash = splashScreen();
    QVERIFY(splash && !splash->isVisible());
    QCOMPARE(splash->message(), QStringLiteral("No devices were found") + QString(14, QLatin1Char(' ')));

    // A rescan replaces the page instead of piling up "N/A" labels.
    QPointer<QWidget> oldPage = tabWidget(window)->widget(0);
    window.findChild<QPushButton *>(QStringLiteral("connected_devices_refresh_btn"))->click();
    QCOMPARE(pageLabels(window), QStringList{QStringLiteral("N/A")});
    QVERIFY(oldPage.isNull());
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 2);
}

void tst_mainwindow::noLibrary()
{
    if (VisaLibrary::instance().isLoaded())
        QSKIP("runs in the test registered without a VISA library");
    MainWindow window;
    QCOMPARE(pageLabels(window), QStringList{QStringLiteral("N/A")});
    window.findChild<QPushButton *>(QStringLiteral("connected_devices_refresh_btn"))->click();
    QCOMPARE(pageLabels(window), QStringList{QStringLiteral("N/A")});
}

void tst_mainwindow::rescanRebuildsTheSamePages()
{
    sim->configure(TwoInstruments);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(pageLabels(window), (QStringList{"SN:SNA", "SN:SNB"}));
    tabWidget(window)->setCurrentIndex(1);

    QPointer<UsbStickTab> oldA = page(window, 0);
    QPointer<UsbStickTab> oldB = page(window, 1);
    oldA->findChild<QPushButton *>(QStringLiteral("view_state_parameters"))->click();
    QPointer<profile_viewer> viewer;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *v = qobject_cast<profile_viewer *>(widget); v && v->isVisible())
            viewer = v;
    }
    QVERIFY(viewer);

    for (int scan = 0; scan < 3; ++scan)
        window.findChild<QPushButton *>(QStringLiteral("connected_devices_refresh_btn"))->click();
    deleteClosedTabs();

    QVERIFY(oldA.isNull());
    QVERIFY(oldB.isNull());
    QVERIFY(viewer.isNull());
    QCOMPARE(pageLabels(window), (QStringList{"SN:SNA", "SN:SNB"}));
    QCOMPARE(tabWidget(window)->currentIndex(), 0);
    QVERIFY(polling(page(window, 0)));
    QVERIFY(!polling(page(window, 1)));
    // One resource manager per scan, each closed once its tabs were gone.
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 4);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 3);
}

void tst_mainwindow::lostConnectionRebuildsAllTabs()
{
    sim->configure(TwoInstruments);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPointer<UsbStickTab> oldA = page(window, 0);
    QPointer<UsbStickTab> oldB = page(window, 1);

    // Instrument A was opened once to identify it; its next open fails.
    sim->configure(QByteArray(TwoInstruments).replace(R"(SNA,V4.1.0")", R"(SNA,V4.1.0", "faults": {"unplugAfter": 1})"));
    QTRY_VERIFY_WITH_TIMEOUT(oldA.isNull(), 5000);
    QVERIFY(oldB.isNull());
    QCOMPARE(pageLabels(window), QStringList{QStringLiteral("SN:SNB")});
    QVERIFY(polling(page(window, 0)));
    QCOMPARE(sim->logMessages(), QStringList{QStringLiteral("Connection Error: Code -1073807343")});
    QCOMPARE(sim->count(QLatin1Char('F'), SnA), 1);
}

void tst_mainwindow::rescanDuringScanIsIgnored()
{
    sim->configure(TwoInstruments);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *search = window.findChild<QPushButton *>(QStringLiteral("connected_devices_refresh_btn"));

    // The splash messages of a scan let events through: a second press (and
    // a lost connection) arriving then must not start a scan inside the scan.
    int nested = 0;
    QTimer::singleShot(0, &window, [&] {
        ++nested;
        search->click();
        QMetaObject::invokeMethod(&window, "connectionLost");
    });
    search->click();
    deleteClosedTabs();

    QCOMPARE(nested, 1);
    QCOMPARE(pageLabels(window), (QStringList{"SN:SNA", "SN:SNB"}));
    QCOMPARE(sim->count(QLatin1Char('O'), QStringLiteral("DefaultRM")), 2);
    QCOMPARE(sim->count(QLatin1Char('C'), QStringLiteral("DefaultRM")), 1);
    QCOMPARE(sim->count(QLatin1Char('O'), SnA), 2); // once per scan, no more
    QVERIFY(polling(page(window, 0)));
}

void tst_mainwindow::tabLogReachesRunLog()
{
    sim->configure(R"({"resources": [
        {"resource": "USB0::0x3A7C::0x000F::SNA::INSTR", "idn": "Q,774-4400,SNA,V4.1.0",
         "replies": {"FREQ:REF:EXT?": "7"}}
    ]})");
    MainWindow window;
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(sim->logMessages().value(0), QStringLiteral("Bad FREQ:REF:EXT response"), 3000);
    QVERIFY(sim->log().startsWith(QStringLiteral("Runtime Log - ")));
    // Polling goes on one interval later and logs the lasting fault again.
    QTRY_COMPARE_WITH_TIMEOUT(sim->logMessages().size(), 2, 3000);
}

void tst_mainwindow::aboutWindowShownOnce()
{
    sim->configure(R"({"resources": []})");
    MainWindow window;
    window.show();
    auto *about = window.findChild<QPushButton *>(QStringLiteral("About_btn"));
    about->click();
    const auto aboutWindows = [] {
        QList<QWidget *> shown;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("aboutSplash") && widget->isVisible())
                shown << widget;
        }
        return shown;
    };
    QCOMPARE(aboutWindows().size(), 1);
    QWidget *shown = aboutWindows().first();
    QCOMPARE(shown->windowTitle(), QStringLiteral("About"));
    QVERIFY(shown->isWindow());
    const QRect where = shown->geometry();
    about->click();
    QCOMPARE(aboutWindows().size(), 1);
    QCOMPARE(aboutWindows().first(), shown);
    QCOMPARE(shown->geometry(), where);
    shown->close();
    about->click();
    QCOMPARE(aboutWindows().value(0), shown);
    QVERIFY(window.isVisible());
}

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
