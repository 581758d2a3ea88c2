// Soak driver: preloaded into the real usbsynth, it plays an operator on the
// widgets (found by object name) while it changes the simulated bench at
// random, and checks every command against the simulator's trace. At the end
// it runs the end checks, writes report.txt (with copies of trace.txt and
// log.txt) into the starting directory and quits the program.
//
// Environment: USBSYNTH_SOAK_SECONDS (default 60), USBSYNTH_SOAK_SEED.
#include "simfixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>

#include <malloc.h>

#include <random>

// Present when the program runs with AddressSanitizer.
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace {

// Every query a refresh pass or a scan sends; faults pick among them.
const char *const Queries[] = {"FREQ:REF:EXT?", "POWE:RF?", "FREQ:REF:FREQ?", "FREQ:PLLM?", "FREQ:REF:DIV?", "FREQ:LOCK?",
                               "POWE:SET?", "FREQ:SET?", "FREQ:RETACT?", "SYST:TEMP?", "SYST:READSTATE?", "*IDN?"};
// A firmware-4 GHz model, a firmware-3 MHz model, another firmware-4 GHz model.
const char *const Kinds[][3] = {{"0x0010", "VX27H774-10", "V4.1.0"}, {"0x0014", "774-6000", "V3.2.0"},
                                {"0x0015", "VXHN774-12", "V4.0.3"}};
constexpr int BaseInstruments = 3;
constexpr int MaxPresent = 5;
constexpr qint64 MemoryLimitKb = 2048;

struct Instrument
{
    Instrument(const QString &serial, int kind, int timeoutMs) : serial(serial), kind(kind), timeoutMs(timeoutMs) {}
    QString serial;
    int kind, timeoutMs;
    bool present = true, mute = false;
    QJsonObject faults, replies; // faults besides timeoutMs
    QString descriptor() const { return QStringLiteral("USB0::0x3A7C::%1::%2::INSTR").arg(Kinds[kind][0], serial); }
    bool reachable() const { return present && !faults.contains(QLatin1String("openStatus")); }
    void heal() { mute = false, faults = replies = QJsonObject(); }
};

// Lines a refresh pass may send back on its own (a control it changed echoes
// its setting); every other command comes from the operator only.
bool echoable(const QString &line)
{
    static const QRegularExpression echo(QStringLiteral("^FREQ:(REF:EXT|PLLM|REF:DIV) "));
    return echo.match(line).hasMatch();
}

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').first().toLongLong();
}

// A control of the tab by object name; without it the run cannot go on.
template<typename T> T &child(QWidget *tab, const char *name)
{
    T *found = tab->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("soak: the tab has no %s", name);
    return *found;
}

class SoakDriver : public QObject
{
    Q_OBJECT

public:
    explicit SoakDriver(QObject *parent) : QObject(parent)
    {
        seconds = std::max(3, qEnvironmentVariable("USBSYNTH_SOAK_SECONDS", QStringLiteral("60")).toInt());
        rng.seed(qEnvironmentVariable("USBSYNTH_SOAK_SEED", QString::number(std::random_device()())).toULongLong());
        for (int i = 0; i < BaseInstruments; ++i)
            bench << Instrument(QStringLiteral("SK%1").arg(i + 1), i, uniform(100, 300));
        writeBench(); // the first scan, inside the window's constructor, finds a clean bench
        connect(&boxCloser, &QTimer::timeout, this, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->accept();
        });
        QCoreApplication::instance()->installEventFilter(this);
    }

    // Once the window is gone every session it opened must be closed again;
    // then the report.
    ~SoakDriver() override
    {
        if (!concluded)
            return;
        QHash<QString, int> sessions;
        for (const QString &line : sim.trace())
            sessions[line.section(' ', 1, 1)] += line.startsWith("O ") ? 1 : line.startsWith("C ") ? -1 : 0;
        for (auto it = sessions.cbegin(); it != sessions.cend(); ++it) {
            if (it.value() != 0)
                fail(QStringLiteral("%1: %2 session(s) left open").arg(it.key()).arg(it.value()));
        }
        QFile report(reportDir + QStringLiteral("/report.txt"));
        report.open(QIODevice::WriteOnly);
        report.write((figures + failures + QStringList(failures.isEmpty() ? "result PASS\n" : "result FAIL\n")).join('\n').toUtf8());
        for (const char *name : {"trace.txt", "log.txt"}) {
            QFile::remove(reportDir + '/' + name);
            QFile::copy(sim.path(name), reportDir + '/' + name);
        }
    }

    // The run starts once the main window is shown, after its first scan.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!window && event->type() == QEvent::Show && watched->objectName() == QLatin1String("MainWindow")) {
            QCoreApplication::instance()->removeEventFilter(this);
            window = static_cast<QWidget *>(watched);
            if (!connect(window, SIGNAL(logMessage(QString)), this, SLOT(recordLog(QString))))
                qFatal("soak: the main window has no logMessage(QString) signal");
            QTimer::singleShot(500, this, &SoakDriver::act);
            QTimer::singleShot(2000, this, &SoakDriver::changeBench);
            QTimer::singleShot(std::min(60, seconds / 3) * 1000, this, [this] { settle(false); });
            QTimer::singleShot(seconds * 1000, this, [this] { settle(true); });
        }
        return false;
    }

public slots:
    void recordLog(QString message) { messages << message; }

private:
    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng); }
    QString pick(const QStringList &list) { return list.at(uniform(0, int(list.size()) - 1)); }

    void writeBench()
    {
        QJsonArray resources;
        for (const Instrument &instrument : qAsConst(bench)) {
            QJsonObject faults = instrument.faults;
            faults[QStringLiteral("timeoutMs")] = instrument.timeoutMs;
            QJsonObject entry{{"resource", instrument.descriptor()}, {"faults", faults}, {"replies", instrument.replies}};
            if (!instrument.mute)
                entry[QStringLiteral("idn")] = QStringLiteral("Quorvex Electronics,%1,%2,%3")
                                                   .arg(Kinds[instrument.kind][1], instrument.serial, Kinds[instrument.kind][2]);
            if (instrument.present)
                resources.append(entry);
        }
        sim.configure(QJsonDocument(QJsonObject{{"resources", resources}}).toJson(QJsonDocument::Compact));
    }

    // One or two random changes: faults on, faults off, instruments unplugged,
    // plugged back or new.
    void changeBench()
    {
        if (busy) // the bench stays as an action saw it
            return void(QTimer::singleShot(50, this, &SoakDriver::changeBench));
        for (int n = uniform(1, 2); n > 0; --n) {
            QList<Instrument *> present, absent;
            for (Instrument &instrument : bench)
                (instrument.present ? present : absent) << &instrument;
            Instrument *target = present.isEmpty() ? nullptr : present.at(uniform(0, int(present.size()) - 1));
            const QString query = QString::fromLatin1(Queries[uniform(0, int(std::size(Queries)) - 1)]);
            const int replug = !absent.isEmpty() && present.size() < MaxPresent ? 5 + 3 * std::min<int>(absent.size(), 3) : 0;
            const int change = std::discrete_distribution<int>(
                {20, 4, 8, 6, 6, 6, 7, 6, 4, present.size() > 1 ? 7.0 : 1.0, double(replug), 3, 2})(rng);
            if (change == 1) {
                for (Instrument &instrument : bench)
                    instrument.heal();
            } else if (change == 10 && replug) {
                absent.first()->present = true;
                absent.first()->heal();
            } else if (change == 11 && present.size() < MaxPresent && bench.size() < 9) {
                bench << Instrument(QStringLiteral("SK%1").arg(bench.size() + 1), uniform(0, 2), uniform(100, 300));
            } else if (!target) {
                continue;
            } else if (change == 0) {
                target->heal();
            } else if (change <= 5) { // a reply the panel cannot use
                const QStringList texts = {"xyz", "", QString(1000, 'x'), QString(999, '0') + '1', QStringLiteral("1,").repeated(500),
                                           QStringLiteral("0;").repeated(500), "-3.5 MIN", "20"};
                target->replies[query] = chance(0.5) ? QJsonValue(pick(texts)) : QJsonObject{{"text", pick(texts)}, {"lineFeed", false}};
            } else if (change == 6) {
                QJsonObject readStatus = target->faults[QLatin1String("readStatus")].toObject();
                readStatus[query] = chance(0.5) ? int(0xBFFF0015) : int(0xBFFF003E); // timeout, I/O error
                target->faults[QStringLiteral("readStatus")] = readStatus;
            } else if (change == 7) {
                target->faults[QStringLiteral("latencyMs")] = uniform(0, 30);
            } else if (change == 8) {
                target->faults[QStringLiteral("openStatus")] = chance(0.5) ? int(0xBFFF0072) : int(0xBFFF0011); // busy, not found
            } else if (change == 9 || change == 12) {
                target->present = target->mute = change == 12; // unplugged, or no longer identifies itself
            }
        }
        writeBench();
        QTimer::singleShot(uniform(1000, 4000), this, &SoakDriver::changeBench);
    }

    // Selects the field's text and types over it, as an operator does, and
    // presses Enter if asked to.
    void type(QLineEdit *edit, const QString &text, bool enter)
    {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
        if (edit->text() != text)
            fail(QStringLiteral("%1 holds \"%2\" after typing \"%3\"").arg(edit->objectName(), edit->text(), text));
        if (enter)
            QTest::keyClick(edit, Qt::Key_Return);
    }

    void act()
    {
        if (busy)
            return void(QTimer::singleShot(50, this, &SoakDriver::act));
        auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QWidget *tab = tabs ? tabs->currentWidget() : nullptr;
        if (tab && tab->inherits("UsbStickTab")) {
            busy = true;
            const QString serial = tabs->tabText(tabs->currentIndex()).mid(3);
            const auto instrument = std::find_if(bench.cbegin(), bench.cend(), [&](const Instrument &i) { return i.serial == serial; });
            if (instrument == bench.cend())
                qFatal("soak: a tab for %s, an instrument never configured", qPrintable(serial));
            const qsizetype before = sim.writes(instrument->descriptor()).size();
            boxCloser.start(10);
            const QString line = operate(tab);
            boxCloser.stop();
            check(*instrument, line, sim.writes(instrument->descriptor()).mid(before));
            busy = false;
        }
        // The operator switches tabs or scans again now and then, and sometimes
        // watches long enough for the tab's own refresh passes to run.
        if (tabs && chance(0.06) && tabs->count() > 1) {
            const qsizetype before = sim.trace().size();
            tabs->setCurrentIndex((tabs->currentIndex() + uniform(1, tabs->count() - 1)) % tabs->count());
            if (sim.trace().size() != before)
                fail(QStringLiteral("I/O on a tab switch"));
        } else if (chance(tab && tab->inherits("UsbStickTab") ? 0.03 : 0.3)) {
            rescan();
        }
        QTimer::singleShot(chance(0.2) ? uniform(1200, 3500) : uniform(200, 800), this, &SoakDriver::act);
    }

    void rescan()
    {
        if (auto *button = window->findChild<QAbstractButton *>(QStringLiteral("connected_devices_refresh_btn")))
            button->click();
    }

    // Works one control of the tab; returns the line it must send, empty for
    // none, "?" when it is not checked.
    QString operate(QWidget *tab)
    {
        // Frequency, power, power min, power max, RF, reference, reference
        // frequency, divider, PLL mode, stored state, view states.
        const int choice = std::discrete_distribution<int>({14, 12, 4, 4, 8, 8, 8, 8, 8, 12, 3})(rng);
        if (choice == 0) {
            // The range from the group's title, e.g. "Frequency (5-10 GHz)".
            const auto range = QRegularExpression(QStringLiteral("\\((\\d+)-(\\d+) ")).match(child<QGroupBox>(tab, "freq_gbx").title());
            const double low = range.captured(1).toDouble(), high = range.captured(2).toDouble();
            const double value = chance(0.7) ? low + (high - low) * uniform(0, 1000) / 1000.0 : pick({"-5", "0", "99999"}).toDouble();
            const QString text = chance(0.85) ? QString::number(value, 'f', uniform(0, 4)) : pick({"abc", "", "2.2 GHz", "12,5"});
            type(&child<QLineEdit>(tab, "freq_text"), text, true);
            bool number = false;
            const double typed = text.toDouble(&number);
            return number && low <= typed && typed <= high ? "FREQ:SET " + QString::number(typed, 'g', 10) : QString();
        }
        if (choice == 1) {
            const QString text = chance(0.6) ? QString::number(uniform(-4000, 1500) / 100.0, 'f', uniform(0, 2))
                                             : pick({"min", "MAX", "Minimum", "-3 min", "minmax", "abc", ""});
            type(&child<QLineEdit>(tab, "Powe_Val"), text, true);
            if (text.toUpper().contains(QLatin1String("MIN")) || text.toUpper().contains(QLatin1String("MAX")))
                return text.toUpper().contains(QLatin1String("MIN")) ? "POWE:SET MIN" : "POWE:SET MAX";
            bool number = false;
            const double dBm = text.toDouble(&number);
            return number && dBm >= -90 && dBm <= 90 ? "POWE:SET " + QString::number(dBm, 'g', 6) : QString();
        }
        if (choice == 2 || choice == 3) {
            child<QAbstractButton>(tab, choice == 2 ? "set_min_powe_btn" : "set_max_powe_btn").click();
            return choice == 2 ? "POWE:SET MIN" : "POWE:SET MAX";
        }
        if (choice == 4) {
            const QString text = child<QLabel>(tab, "power_lbl").text();
            child<QAbstractButton>(tab, "power_btn").click();
            return text.contains(QLatin1String("OFF")) ? "POWE:RF 1" : text.contains(QLatin1String("ON")) ? "POWE:RF 0" : "?";
        }
        if (choice == 5 || choice == 8) {
            const bool on = chance(0.5);
            const char *names[] = {"ref_int_radio", "ref_ext_radio", "pllm_frac_rad", "pllm_int_rad"};
            auto &radio = child<QRadioButton>(tab, names[(choice == 8) * 2 + on]);
            const bool wasChecked = radio.isChecked();
            radio.click();
            return wasChecked ? QString() : QString(choice == 5 ? "FREQ:REF:EXT %1" : "FREQ:PLLM %1").arg(int(on));
        }
        if (choice == 6) {
            auto &edit = child<QLineEdit>(tab, "reference_freq_txt");
            auto &set = child<QAbstractButton>(tab, "set_ref_freq_btn");
            if (edit.isEnabled())
                type(&edit, chance(0.65) ? QString::number(uniform(10, 100)) : pick({"9", "101", "50.5", "", "abc", "0"}), false);
            const int megahertz = edit.text().toInt();
            const bool sent = set.isEnabled() && megahertz >= 10 && megahertz <= 100;
            set.click();
            return sent ? QStringLiteral("FREQ:REF:FREQ %1").arg(megahertz) : QString();
        }
        if (choice == 7) {
            auto &combo = child<QComboBox>(tab, "ref_div_cmb");
            const int index = uniform(0, combo.count() - 1), previous = combo.currentIndex();
            combo.setCurrentIndex(index);
            return index == previous ? QString() : "FREQ:REF:DIV " + combo.itemText(index);
        }
        if (choice == 9) {
            auto &combo = child<QComboBox>(tab, "state_cmb");
            if (!child<QGroupBox>(tab, "state_config_gbx").isVisible())
                return QStringLiteral("?"); // firmware 3 offers no stored states
            combo.setCurrentIndex(uniform(0, combo.count() - 1));
            const int state = combo.currentIndex(), button = uniform(0, 2);
            const char *names[] = {"load_state_btn", "save_state_btn", "set_default_btn"};
            child<QAbstractButton>(tab, names[button]).click();
            if (button == 1 && state == 0)
                return QString(); // state 0 cannot be overwritten
            return QString(button == 0 ? "SYST:LOADSTATE %1" : button == 1 ? "SYST:SAVESTATE %1" : "SYST:BOOTSTATE %1").arg(state);
        }
        child<QAbstractButton>(tab, "view_state_parameters").click();
        return QStringLiteral("?");
    }

    // What one action wrote to its instrument: the command and nothing else but
    // refresh echoes to a reachable instrument, nothing to an unreachable one.
    void check(const Instrument &instrument, const QString &line, const QStringList &writes)
    {
        if (line == QLatin1String("?"))
            return;
        bool ok = writes.isEmpty();
        if (!line.isEmpty() && instrument.reachable()) {
            ++checked;
            if (!echoable(line))
                ++issued[instrument.descriptor() + ' ' + line];
            ok = !writes.isEmpty() && writes.last() == line && (echoable(line) || writes.count(line) == 1);
            for (const QString &written : writes)
                ok = ok && (written == line || echoable(written));
        }
        if (!ok)
            fail(QStringLiteral("%1 (%2): expected \"%3\", written: %4")
                     .arg(instrument.serial, instrument.reachable() ? "reachable" : "unreachable", line, writes.join(" | ")));
    }

    void fail(const QString &what)
    {
        failures << what;
        std::fprintf(stderr, "soak: FAIL %s\n", qPrintable(what));
    }

    // Memory is compared in one and the same state: the base bench, freshly
    // scanned, after a few seconds of polling, with free heap pages handed back.
    void settle(bool end)
    {
        if (busy)
            return void(QTimer::singleShot(50, this, [this, end] { settle(end); }));
        busy = true;
        for (int i = 0; i < bench.size(); ++i) {
            bench[i].present = i < BaseInstruments;
            bench[i].heal();
        }
        writeBench();
        rescan();
        QTimer::singleShot(4000, this, [this, end] {
            malloc_trim(0);
            // With the sanitizer the resident size mostly follows its own
            // bookkeeping: its count of live heap bytes is judged instead.
            const bool asan = __sanitizer_get_current_allocated_bytes;
            const qint64 kb = asan ? qint64(__sanitizer_get_current_allocated_bytes() / 1024) : residentKb();
            figures << QStringLiteral("%1 %2 kB at %3 s").arg(asan ? "live heap" : "resident").arg(kb)
                           .arg(end ? seconds : std::min(60, seconds / 3));
            busy = end;
            if (!end)
                return void(memoryFirst = kb);
            if (kb - memoryFirst >= MemoryLimitKb)
                fail(QStringLiteral("memory grew by %1 kB").arg(kb - memoryFirst));
            conclude();
        });
    }

    // The end checks over the whole run, but for the sessions, which close
    // with the window.
    void conclude()
    {
        if (sim.logMessages() != messages)
            fail(QStringLiteral("log.txt holds %1 message(s), %2 emitted").arg(sim.logMessages().size()).arg(messages.size()));
        const QStringList trace = sim.trace();
        for (const QString &line : trace) {
            const QString command = line.section(' ', 2);
            if (line.startsWith("W ") && !command.endsWith('?') && !echoable(command))
                --issued[line.section(' ', 1, 1) + ' ' + command];
        }
        for (auto it = issued.cbegin(); it != issued.cend(); ++it) {
            if (it.value() != 0)
                fail(QStringLiteral("\"%1\" issued %2 time(s) more than written").arg(it.key()).arg(it.value()));
        }
        figures << QStringLiteral("commands checked %1, trace lines %2, messages %3").arg(checked).arg(trace.size()).arg(messages.size());
        if (checked == 0)
            fail(QStringLiteral("no command was checked"));
        concluded = true;
        QCoreApplication::quit();
    }

    const QString reportDir = QDir::currentPath(); // before the fixture moves elsewhere
    SimFixture sim;
    int seconds = 60;
    std::mt19937_64 rng;
    QList<Instrument> bench;
    QWidget *window = nullptr;
    QTimer boxCloser;
    bool busy = false; // inside an action, or settling for a memory sample
    bool concluded = false;
    QStringList messages, failures, figures;
    QHash<QString, int> issued; // "descriptor command" -> times sent to a reachable instrument
    int checked = 0;
    qint64 memoryFirst = -1;
};

void startSoak()
{
    new SoakDriver(QCoreApplication::instance());
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startSoak)

#include "soakdriver.moc"
