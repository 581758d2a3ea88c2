// Start-up, discovery and rescans of the main window against simulated
// instruments, checked on the tabs it shows and on the simulator's trace.
#include "app/mainwindow.h"
#include "link/visalibrary.h"
#include "simfixture.h"
#include "tab/usbsticktab.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSplashScreen>
#include <QTabWidget>
#include <QTextDocumentFragment>
#include <QTimer>

namespace {

const QString SnA = QStringLiteral("USB0::0x3A7C::0x000F::SNA::INSTR");
const QString SnB = QStringLiteral("USB0::0x3A7C::0x0011::SNB::INSTR");
const QByteArray ThreeInstruments = R"({"resources": [
    {"resource": "USB0::0x3A7C::0x000F::SNA::INSTR", "idn": "Q,774-4400,SNA,V4.1.0"},
    {"resource": "USB0::0x3A7C::0x0011::SNB::INSTR", "idn": "Q,VX27H774-20,SNB,V3.2.0"},
    {"resource": "USB0::0x3A7C::0x0014::SNC::INSTR", "idn": "Q,774-6000,SNC,V4.0"}]})";

QTabWidget *tabs(MainWindow &window) { return window.findChild<QTabWidget *>(QStringLiteral("tabWidget")); }
QPushButton *search(MainWindow &window) { return window.findChild<QPushButton *>(QStringLiteral("connected_devices_refresh_btn")); }

// The page labels, each marked when its refresh timer runs.
QStringList pages(MainWindow &window)
{
    QStringList labels;
    for (int i = 0; i < tabs(window)->count(); ++i) {
        auto *timer = tabs(window)->widget(i)->findChild<QTimer *>(QStringLiteral("refreshTimer"));
        labels << tabs(window)->tabText(i) + (timer && timer->isActive() ? QStringLiteral(" polls") : QString());
    }
    return labels;
}

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
}

void tst_mainwindow::rescansRebuildTheSamePages()
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
    sim->configure(QByteArray(ThreeInstruments).replace("V3.2.0\"", "V3.2.0\", \"faults\": {\"openStatus\": -1073807343}"));
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
    sim->configure(ThreeInstruments);
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
}

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
