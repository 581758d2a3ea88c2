// Soak driver: preloaded into the real usbsynth, it plays an operator on the
// widgets (found by object name) while it changes the simulated bench at
// random, and counts every command it makes the panel send. At the end it
// runs the end checks, writes report.txt (with copies of trace.txt and
// log.txt) into the starting directory and quits the program.
//
// Environment: USBSYNTH_SOAK_SECONDS (default 60), USBSYNTH_SOAK_SEED, and
// USBSYNTH_SOAK_USBTMC=1 for a panel on our usbtmc library, the instruments
// then standing behind a fake of the kernel driver (under umockdev's preload).
#include "simfixture.h"
#ifdef USBSYNTH_SOAK_USBTMC
#include "support/fakeusbtmc.h"
#endif

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
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
// The driver's presets, one for each kind of model and one for none.
struct Preset
{
    const char *name;
    double frequencyMHz, powerDbm;
    bool external;
    int referenceMHz, divider;
};
constexpr Preset Presets[] = {{"soak MHz", 2400.5, -5, true, 100, 127}, {"soak GHz", 7250.001, 3.5, false, 10, 1},
                              {"soak none", 30000, 0, true, 10, 2}};
constexpr int BaseInstruments = 3;
constexpr int MaxPresent = 5;
constexpr qint64 MemoryLimitKb = 2048;

struct Instrument
{
    Instrument(const QString &serial, int kind, int timeoutMs) : serial(serial), kind(kind), timeoutMs(timeoutMs) { heal(); }
    QString serial;
    int kind, timeoutMs;
    bool present = true, mute = false, silent = false;
    int node = -1; // the fake driver's node while plugged in there
    QJsonObject faults, replies;
    QString descriptor() const { return QStringLiteral("USB0::0x3A7C::%1::%2::INSTR").arg(Kinds[kind][0], serial); }
    bool reachable() const { return present && !faults.contains(QLatin1String("openStatus")); }
    void heal() { mute = silent = false, replies = QJsonObject(), faults = QJsonObject{{"timeoutMs", timeoutMs}}; }
};

// Lines a refresh pass may send back on its own (a control it changed echoes
// its setting), and queries: neither is counted.
bool counted(const QString &line)
{
    static const QRegularExpression echo(QStringLiteral("^FREQ:(REF:EXT|PLLM|REF:DIV) |\\?$"));
    return !line.isEmpty() && !echo.match(line).hasMatch();
}

// The plain decimal of a whole number of 10^-decimals units, without
// trailing zeros: what the panel sends for a value on that resolution.
QString decimal(qint64 units, int decimals)
{
    QString text = QString::number(double(units) / std::pow(10.0, decimals), 'f', decimals);
    if (text.contains(QLatin1Char('.')))
        text.remove(QRegularExpression(QStringLiteral("\\.?0+$")));
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

qint64 residentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    statm.open(QIODevice::ReadOnly);
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE) / 1024;
}

// A typed frequency in the field's unit (MHz or GHz, "mega" or "giga"), read
// in decimal as the panel promises: "4.4G" is exactly 4400 MHz.
std::optional<double> typedFrequency(const QString &text, bool megahertz)
{
    static const QRegularExpression form(QStringLiteral("^\\s*([-+]?[0-9.]+)(?:e([-+]?\\d+))?\\s*([a-zA-Z]*)\\s*$"));
    const QRegularExpressionMatch match = form.match(text);
    const QHash<QString, int> shifts{{"", megahertz ? 6 : 9}, {"hz", 0}, {"k", 3}, {"khz", 3}, {"m", 6}, {"mhz", 6}, {"g", 9}, {"ghz", 9}};
    const QString unit = match.captured(3).toLower();
    if (!match.hasMatch() || match.captured(3) == QLatin1String("m") || !shifts.contains(unit))
        return std::nullopt;
    bool ok = false;
    const int shift = match.captured(2).toInt() + shifts.value(unit) - (megahertz ? 6 : 9);
    const double value = QStringLiteral("%1e%2").arg(match.captured(1)).arg(shift).toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

// A control by object name; without it the run cannot go on.
template<typename T> T &child(QWidget *parent, const char *name)
{
    T *found = parent->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("soak: no control %s", name);
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
        if (qEnvironmentVariableIntValue("USBSYNTH_SOAK_USBTMC")) {
#ifdef USBSYNTH_SOAK_USBTMC
            fake = std::make_unique<FakeUsbtmc>();
#else
            qFatal("soak: built without umockdev, so without the fake usbtmc driver");
#endif
        }
        for (int i = 0; i < BaseInstruments; ++i)
            bench << Instrument(QStringLiteral("SK%1").arg(i + 1), i, uniform(100, 300));
        writePresets();
        writeBench(); // the first scan, inside the window's constructor, finds a clean bench
        connect(&boxCloser, &QTimer::timeout, this, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->accept();
        });
        // Boxes stay up after the action that raised them, until closed here.
        boxCloser.start(10);
        QCoreApplication::instance()->installEventFilter(this);
    }

    // The end checks, once the window is gone: the log as emitted, every
    // session it opened closed again, and every counted command written to
    // its instrument exactly once; then the report.
    ~SoakDriver() override
    {
        if (!concluded)
            return;
        if (sim.logMessages() != messages)
            failures << QStringLiteral("log.txt holds %1 message(s), %2 emitted").arg(sim.logMessages().size()).arg(messages.size());
        if (issued.isEmpty())
            failures << QStringLiteral("no command was checked");
        // "descriptor" -> sessions open, "descriptor command" -> issued but not written.
        QHash<QString, int> balance = issued;
        for (const QString &line : sim.trace()) {
            const QString session = line.section(' ', 1, 1), command = line.section(' ', 2);
            balance[session] += line.startsWith("O ") ? 1 : line.startsWith("C ") ? -1 : 0;
            if (line.startsWith("W ") && counted(command))
                --balance[session + ' ' + command];
        }
        for (auto it = balance.cbegin(); it != balance.cend(); ++it) {
            if (it.value() != 0)
                failures << QStringLiteral("%1: %2 more opened or issued than closed or written").arg(it.key()).arg(it.value());
        }
        QFile report(reportDir + QStringLiteral("/report.txt"));
        report.open(QIODevice::WriteOnly);
        report.write((failures + QStringList(failures.isEmpty() ? "result PASS\n" : "result FAIL\n")).join('\n').toUtf8());
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
            connect(window, SIGNAL(logMessage(QString)), this, SLOT(recordLog(QString)));
            QTimer::singleShot(500, this, &SoakDriver::act);
            QTimer::singleShot(2000, this, &SoakDriver::changeBench);
            QTimer::singleShot(std::min(60, seconds / 3) * 1000, this, [this] { settle(false); });
            QTimer::singleShot(seconds * 1000, this, [this] { settle(true); });
        }
        return false;
    }

public slots:
    void recordLog(QString message) { messages << message; }

    // A sweep's stop line says how many points went out: the first that
    // many of its lines were asked for.
    void sweepLogged(QString message)
    {
        const auto stopped = QRegularExpression(QStringLiteral("^Sweep stopped after (\\d+) ")).match(message);
        if (!stopped.hasMatch())
            return;
        const QStringList points = sender()->property("soakPoints").toStringList();
        const QString descriptor = sender()->property("soakDescriptor").toString();
        const qint64 sent = stopped.captured(1).toLongLong();
        if (sent > 0 && points.isEmpty())
            failures << QStringLiteral("%1: a refused sweep sent %2 points").arg(descriptor).arg(sent);
        for (qint64 i = 0; i < sent && !points.isEmpty(); ++i)
            for (const QString &line : points.at(i % points.size()).split(QLatin1Char('|')))
                ++issued[descriptor + ' ' + line];
    }

private:
    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng); }
    QString pick(const QStringList &list) { return list.at(uniform(0, int(list.size()) - 1)); }

    // The presets file, in a data folder of the run's own.
    void writePresets()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(sim.path(QStringLiteral("data"))));
        QJsonArray list;
        for (const Preset &preset : Presets)
            list.append(QJsonObject{{"name", preset.name}, {"frequencyMHz", preset.frequencyMHz}, {"powerDbm", preset.powerDbm},
                                    {"reference", preset.external ? "external" : "internal"}, {"referenceMHz", preset.referenceMHz},
                                    {"divider", preset.divider}, {"pllMode", "integer"}});
        QDir().mkpath(sim.path(QStringLiteral("data/usbsynth")));
        QFile file(sim.path(QStringLiteral("data/usbsynth/presets.json")));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("soak: cannot write the presets");
        file.write(QJsonDocument(QJsonObject{{"format", "usbsynth-presets"}, {"version", 1}, {"presets", list}}).toJson());
    }

    void writeBench()
    {
#ifdef USBSYNTH_SOAK_USBTMC
        if (fake) {
            // A stick plugged back is a new node, as the kernel numbers it.
            for (Instrument &instrument : bench) {
                if (instrument.present && instrument.node < 0) {
                    instrument.node = nodes++;
                    fake->add(instrument.node, {0x3A7C, unsigned(std::strtoul(Kinds[instrument.kind][0], nullptr, 16)),
                                                instrument.serial.toStdString(), idn(instrument).toStdString()});
                } else if (!instrument.present && instrument.node >= 0) {
                    fake->unplug(std::exchange(instrument.node, -1));
                }
                if (instrument.node >= 0)
                    fake->setSilent(instrument.node, instrument.silent);
            }
            return;
        }
#endif
        QJsonArray resources;
        for (const Instrument &instrument : qAsConst(bench)) {
            QJsonObject entry{{"resource", instrument.descriptor()}, {"faults", instrument.faults}, {"replies", instrument.replies}};
            if (!instrument.mute)
                entry[QStringLiteral("idn")] = idn(instrument);
            if (instrument.present)
                resources.append(entry);
        }
        sim.configure(QJsonDocument(QJsonObject{{"resources", resources}}).toJson(QJsonDocument::Compact));
    }

    static QString idn(const Instrument &instrument)
    {
        return QStringLiteral("Quorvex Electronics,%1,%2,%3").arg(Kinds[instrument.kind][1], instrument.serial, Kinds[instrument.kind][2]);
    }

    // One or two random changes: faults on, faults off, instruments unplugged,
    // plugged back or new.
    void changeBench()
    {
        if (busy) // the bench stays as an action saw it
            return void(QTimer::singleShot(50, this, &SoakDriver::changeBench));
        for (int n = uniform(1, 2); n > 0; --n) {
            Instrument &target = bench[uniform(0, int(bench.size()) - 1)];
            const QString query = QString::fromLatin1(Queries[uniform(0, int(std::size(Queries)) - 1)]);
            const auto present = std::count_if(bench.cbegin(), bench.cend(), [](const Instrument &i) { return i.present; });
            // Heal, heal and plug back, bad replies, read errors, latency, open
            // errors, unplug, mute, new instrument.
            int change = std::discrete_distribution<int>({20, 12, 26, 7, 6, 4, 7, 2, 3})(rng);
#ifdef USBSYNTH_SOAK_USBTMC
            // The fake driver knows unplugging, silence and a failed read.
            if (fake && (change == 2 || change == 4 || change == 5 || change == 7))
                change = 3;
            if (fake && change == 3) {
                if (chance(0.5) && target.node >= 0)
                    fake->failNextRead(target.node);
                else
                    target.silent = true;
                continue;
            }
#endif
            if (change <= 1) {
                target.present = target.present || (change == 1 && present < MaxPresent);
                target.heal();
            } else if (change == 2) { // a reply the panel cannot use
                const QStringList texts = {"xyz", "", QString(1000, 'x'), QString(999, '0') + '1', QStringLiteral("1,").repeated(500),
                                           QStringLiteral("0;").repeated(500), "-3.5 MIN", "20"};
                target.replies[query] = chance(0.5) ? QJsonValue(pick(texts)) : QJsonObject{{"text", pick(texts)}, {"lineFeed", false}};
            } else if (change == 3) {
                QJsonObject readStatus = target.faults[QLatin1String("readStatus")].toObject();
                readStatus[query] = chance(0.5) ? int(0xBFFF0015) : int(0xBFFF003E); // timeout, I/O error
                target.faults[QStringLiteral("readStatus")] = readStatus;
            } else if (change == 4) {
                target.faults[QStringLiteral("latencyMs")] = uniform(0, 30);
            } else if (change == 5) {
                target.faults[QStringLiteral("openStatus")] = chance(0.5) ? int(0xBFFF0072) : int(0xBFFF0011); // busy, not found
            } else if (change == 6 || change == 7) {
                (change == 6 ? target.present : target.mute) = change == 7; // unplugged, or no longer identifies itself
            } else if (present < MaxPresent && bench.size() < 9) {
                bench << Instrument(QStringLiteral("SK%1").arg(bench.size() + 1), uniform(0, 2), uniform(100, 300));
            }
        }
        writeBench();
        QTimer::singleShot(uniform(1000, 4000), this, &SoakDriver::changeBench);
    }

    // Selects the field's text and types over it, as an operator does, and
    // presses Enter if asked to.
    void type(QLineEdit &edit, const QString &text, bool enter)
    {
        edit.setFocus(Qt::OtherFocusReason);
        edit.selectAll();
        QTest::keyClick(&edit, Qt::Key_Delete);
        QTest::keyClicks(&edit, text);
        if (enter)
            QTest::keyClick(&edit, Qt::Key_Return);
    }

    void act()
    {
        if (busy)
            return void(QTimer::singleShot(50, this, &SoakDriver::act));
        auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QWidget *tab = tabs ? tabs->currentWidget() : nullptr;
        const bool onInstrument = tab && tab->inherits("UsbStickTab");
        if (onInstrument) {
            busy = true;
            const QString serial = tabs->tabText(tabs->currentIndex()).mid(3);
            const auto instrument = std::find_if(bench.cbegin(), bench.cend(), [&](const Instrument &i) { return i.serial == serial; });
            const QStringList lines = choosePresets() ? operatePresets(tab) : QStringList{operate(tab)};
            for (const QString &line : lines) {
                if (counted(line) && instrument->reachable())
                    ++issued[instrument->descriptor() + ' ' + line];
            }
            busy = false;
        }
        // The operator switches tabs or scans again now and then, and sometimes
        // watches long enough for the tab's own refresh passes to run.
        if (chance(0.04))
            runCtl();
        else if (tabs && chance(0.06) && tabs->count() > 1)
            tabs->setCurrentIndex((tabs->currentIndex() + uniform(1, tabs->count() - 1)) % tabs->count());
        else if (chance(onInstrument ? 0.03 : 0.3))
            child<QAbstractButton>(window, "connected_devices_refresh_btn").click();
        QTimer::singleShot(chance(0.2) ? uniform(1200, 3500) : uniform(200, 800), this, &SoakDriver::act);
    }

    // Works one control of the tab; returns the command it must send, empty
    // for none.
    QString operate(QWidget *tab)
    {
        // Frequency, power, power min, power max, RF, reference, reference
        // frequency, divider, PLL mode, stored state, view states, sweep,
        // knob steps, a stray wheel.
        const int choice = std::discrete_distribution<int>({14, 12, 4, 4, 8, 8, 8, 8, 8, 12, 3, 10, 8, 4})(rng);
        if (choice == 11)
            return sweep(tab), QString();
        if (choice == 0) {
            // The range from the group's title, e.g. "Frequency (5-10 GHz)".
            const auto range = QRegularExpression(QStringLiteral("\\((\\d+)-(\\d+) (\\w)")).match(child<QGroupBox>(tab, "freq_gbx").title());
            const double low = range.captured(1).toDouble(), high = range.captured(2).toDouble();
            const bool megahertz = range.captured(3) == QLatin1String("M");
            const double value = low + (high - low) * uniform(-150, 1150) / 1000.0;
            // Now and then in another unit, as an operator types it.
            const int form = uniform(0, 5);
            QString text = QString::number(value, 'f', uniform(0, 4));
            if (form == 1)
                text = QString::number(megahertz ? value / 1000 : value * 1000, 'f', uniform(0, 6)) + pick(megahertz ? QStringList{"G", " GHz", "g"} : QStringList{"M", " MHz", "mhz"});
            else if (form == 2)
                text = QString::number(value, 'f', uniform(0, 3)) + (megahertz ? "e6 Hz" : "e9 Hz");
            if (chance(0.15))
                text = pick({"abc", "", "2.2 GHz", "12,5", "-5", "99999", "2400m", "100k", "5 x"});
            type(child<QLineEdit>(tab, "freq_text"), text, true);
            const std::optional<double> typed = typedFrequency(text, megahertz);
            return typed && low <= *typed && *typed <= high ? "FREQ:SET " + QString::number(*typed, 'g', 10) : QString();
        }
        if (choice == 1) {
            const QString text = chance(0.6) ? QString::number(uniform(-9500, 9500) / 100.0, 'f', uniform(0, 2)) + pick({"", "", " dBm", "DBM"})
                                             : pick({"min", "MAX", "Minimum", "-3 min", "minmax", "abc", "", "3 dB"});
            type(child<QLineEdit>(tab, "Powe_Val"), text, true);
            if (text.contains(QLatin1String("MIN"), Qt::CaseInsensitive))
                return QStringLiteral("POWE:SET MIN");
            if (text.contains(QLatin1String("MAX"), Qt::CaseInsensitive))
                return QStringLiteral("POWE:SET MAX");
            bool number = false;
            const double dBm = QString(text).remove(QRegularExpression(QStringLiteral("\\s*dbm$"), QRegularExpression::CaseInsensitiveOption)).toDouble(&number);
            return number && dBm >= -90 && dBm <= 90 ? "POWE:SET " + decimal(std::llround(dBm * 100), 2) : QString();
        }
        if (choice == 2 || choice == 3) {
            child<QAbstractButton>(tab, choice == 2 ? "set_min_powe_btn" : "set_max_powe_btn").click();
            return choice == 2 ? "POWE:SET MIN" : "POWE:SET MAX";
        }
        if (choice == 4) {
            // Pressed only while the label shows what a press will send.
            const QString text = child<QLabel>(tab, "power_lbl").text();
            if (!text.contains(QLatin1String("OFF")) && !text.contains(QLatin1String("ON")))
                return QString();
            child<QAbstractButton>(tab, "power_btn").click();
            return text.contains(QLatin1String("OFF")) ? "POWE:RF 1" : "POWE:RF 0";
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
                type(edit, chance(0.65) ? QString::number(uniform(10, 100)) : pick({"9", "101", "50.5", "", "abc", "0"}), false);
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
            if (!child<QGroupBox>(tab, "state_config_gbx").isVisible())
                return QString(); // firmware 3 offers no stored states
            auto &combo = child<QComboBox>(tab, "state_cmb");
            combo.setCurrentIndex(uniform(0, combo.count() - 1));
            const int state = combo.currentIndex(), button = uniform(0, 2);
            const char *names[] = {"load_state_btn", "save_state_btn", "set_default_btn"};
            child<QAbstractButton>(tab, names[button]).click();
            if (button == 1 && state == 0)
                return QString(); // state 0 cannot be overwritten
            return QString(button == 0 ? "SYST:LOADSTATE %1" : button == 1 ? "SYST:SAVESTATE %1" : "SYST:BOOTSTATE %1").arg(state);
        }
        if (choice == 12) {
            // Knob steps in the frequency or power field, by keys or wheel;
            // the settled value goes out once, after the pause.
            const bool power = chance(0.4);
            auto &edit = child<QLineEdit>(tab, power ? "Powe_Val" : "freq_text");
            edit.setFocus(Qt::OtherFocusReason);
            edit.setCursorPosition(uniform(0, int(edit.text().size())));
            const QString before = edit.text();
            const int steps = uniform(1, 4), direction = chance(0.5) ? 1 : -1;
            if (chance(0.5)) {
                for (int i = 0; i < steps; ++i)
                    QTest::keyClick(&edit, direction > 0 ? Qt::Key_Up : Qt::Key_Down);
            } else {
                wheel(edit, steps * direction);
            }
            const QString after = edit.text();
            const bool megahertz = child<QGroupBox>(tab, "freq_gbx").title().contains(QLatin1String("MHz"));
            // A failed open while the value settles closes the tab: nothing
            // of it may be touched after the wait.
            QTest::qWait(450);
            if (after == before)
                return QString();
            if (power)
                return "POWE:SET " + decimal(std::llround(QString(after).remove(QRegularExpression(QStringLiteral("\\s*dbm$"), QRegularExpression::CaseInsensitiveOption)).toDouble() * 100), 2);
            return "FREQ:SET " + QString::number(typedFrequency(after, megahertz).value_or(0), 'g', 10);
        }
        if (choice == 13) {
            // The wheel over a control that does not have focus changes nothing.
            child<QLineEdit>(tab, "freq_text").setFocus(Qt::OtherFocusReason);
            const char *names[] = {"ref_div_cmb", "state_cmb", "ref_int_radio", "ref_ext_radio", "pllm_frac_rad", "pllm_int_rad", "Powe_Val"};
            auto &target = child<QWidget>(tab, names[uniform(0, 6)]);
            if (target.hasFocus())
                return QString();
            wheel(target, uniform(-5, 5));
            return QString();
        }
        child<QAbstractButton>(tab, "view_state_parameters").click(); // queries only
        return QString();
    }

    // Opens the tab's sweep window; stops a running sweep, or starts one of a
    // random mode with short dwells. The lines a sweep will send are worked
    // out here; how many went out is learned from its stop line, and those
    // are counted as issued.
    void sweep(QWidget *tab)
    {
        child<QAbstractButton>(tab, "sweep_btn").click();
        const QString serial = child<QLabel>(tab, "TitleID").text().section(QStringLiteral("SN:"), -1);
        QWidget *window = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->isVisible() && top->windowTitle() == QStringLiteral("Sweep - SN:") + serial)
                window = top;
        if (!window)
            qFatal("soak: no sweep window for %s", qPrintable(serial));
        if (!window->property("soakWatched").toBool()) {
            window->setProperty("soakWatched", true);
            connect(window, SIGNAL(logMsg(QString)), this, SLOT(sweepLogged(QString)));
        }
        auto &stop = child<QAbstractButton>(window, "stop_btn");
        if (stop.isEnabled()) {
            if (chance(0.6))
                stop.click();
            return;
        }
        const auto range = QRegularExpression(QStringLiteral("\\((\\d+)-(\\d+) (\\w+)\\)")).match(child<QGroupBox>(tab, "freq_gbx").title());
        const int decimals = range.captured(3) == QLatin1String("MHz") ? 3 : 6;
        const qint64 scale = decimals == 3 ? 1000 : 1000000;
        const qint64 low = range.captured(1).toLongLong() * scale, high = range.captured(2).toLongLong() * scale;
        const int mode = uniform(0, 2), direction = uniform(0, 2), count = uniform(1, 12);
        const bool repeat = chance(0.3);
        QStringList pass; // the lines of each point, joined by "|"
        child<QComboBox>(window, "mode_cmb").setCurrentIndex(mode);
        if (mode < 2) {
            // Start and step on the resolution; now and then a stop outside the range.
            const int d = mode == 0 ? decimals : 2;
            const qint64 first = mode == 0 ? low + uniform(0, 1000) * (high - low) / 2000 : uniform(-9000, 8000);
            const qint64 step = mode == 0 ? pick({"1", "7", "1000", "123456"}).toLongLong() : pick({"1", "5", "10", "25", "100"}).toLongLong();
            const qint64 last = first + (count - 1) * step;
            for (int i = 0; i < count; ++i)
                pass << (mode == 0 ? "FREQ:SET " : "POWE:SET ") + decimal(first + i * step, d);
            if (last > (mode == 0 ? high : 9000))
                pass.clear(); // refused
            type(child<QLineEdit>(window, "start_txt"), decimal(first, d), false);
            type(child<QLineEdit>(window, "stop_txt"), decimal(last, d), false);
            type(child<QLineEdit>(window, "step_txt"), decimal(step, d), false);
            child<QRadioButton>(window, "step_rad").setChecked(true);
        } else {
            // A list in the reach of every model, with mixed line ends.
            QString text = QStringLiteral("# soak list\n");
            for (int i = 0; i < count; ++i) {
                const QString frequency = decimal(low + uniform(0, 1000) * (high - low) / 1000, decimals);
                const QString power = chance(0.5) ? decimal(uniform(-9000, 9000), 2) : QString();
                text += frequency + (power.isEmpty() ? QString() : QLatin1Char(',') + power) + pick({"\n", "\r\n", "\r"});
                pass << "FREQ:SET " + frequency + (power.isEmpty() ? QString() : "|POWE:SET " + power);
            }
            const QString file = QDir::current().filePath(QStringLiteral("soak-list.txt"));
            QFile list(file);
            if (!list.open(QIODevice::WriteOnly) || list.write(text.toUtf8()) < 0)
                qFatal("soak: cannot write the sweep list");
            type(child<QLineEdit>(window, "list_file_txt"), file, false);
        }
        QStringList points = pass;
        if (direction == 1)
            std::reverse(points.begin(), points.end());
        if (direction == 2) {
            for (qsizetype i = pass.size() - 2; i >= 0; --i)
                points << pass.at(i);
            if (repeat && points.size() > 1)
                points.removeLast();
        }
        child<QComboBox>(window, "direction_cmb").setCurrentIndex(direction);
        child<QAbstractButton>(window, "repeat_chk").setChecked(repeat);
        child<QSpinBox>(window, "dwell_spn").setValue(uniform(10, 40));
        const auto instrument = std::find_if(bench.cbegin(), bench.cend(), [&](const Instrument &i) { return i.serial == serial; });
        if (instrument == bench.cend())
            qFatal("soak: no instrument %s on the bench", qPrintable(serial));
        window->setProperty("soakPoints", points);
        window->setProperty("soakDescriptor", instrument->descriptor());
        child<QAbstractButton>(window, "start_btn").click();
    }

    // usbsynth-ctl on one instrument while the panel keeps polling: a reading,
    // or random settings, all of whose lines must reach the instrument when it
    // exits 0 and none when it found or opened nothing (3). The bench stays as
    // it is until the call is over, so that its sessions are closed by the end checks.
    void runCtl()
    {
#ifdef USBSYNTH_SOAK_USBTMC
        if (fake) // the fake driver lives in this process only: the tool would find nothing
            return;
#endif
        const Instrument &target = bench.at(uniform(0, int(bench.size()) - 1));
        const QString descriptor = target.descriptor(), serial = target.serial;
        const bool reading = chance(0.3);
        QStringList arguments{reading ? "get" : "set", serial}, lines;
        const int rf = reading ? 2 : uniform(0, 2), reference = uniform(0, 1) * uniform(10, 100);
        const QString power = chance(0.6) ? decimal(uniform(-9000, 9000), 2) : QStringLiteral("max");
        if (reading)
            arguments << "--json";
        if (rf == 0)
            lines << QStringLiteral("POWE:RF 0");
        if (!reading && reference)
            arguments << "--ref-freq" << QString::number(reference), lines << QStringLiteral("FREQ:REF:FREQ %1").arg(reference);
        if (!reading)
            arguments << "--power" << power, lines << "POWE:SET " + power.toUpper();
        if (rf < 2)
            arguments << "--rf" << (rf ? "on" : "off"), lines << (rf ? QStringLiteral("POWE:RF 1") : QString());
        lines.removeAll(QString());
        auto *process = new QProcess(this);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("LD_PRELOAD")); // the tool runs without this driver
        process->setProcessEnvironment(environment);
        process->start(QCoreApplication::applicationDirPath() + QStringLiteral("/usbsynth-ctl"), arguments);
        if (!process->waitForStarted())
            return void(failures << QStringLiteral("usbsynth-ctl did not start: ") + process->errorString());
        busy = true;
        connect(process, &QProcess::finished, this, [=](int status, QProcess::ExitStatus how) {
            const QString call = QStringLiteral("usbsynth-ctl ") + arguments.join(' ');
            const QString err = QString::fromUtf8(process->readAllStandardError()).trimmed();
            if (how != QProcess::NormalExit || (status != 0 && status != 3))
                failures << call + QStringLiteral(" ended with %1: ").arg(status) + err;
            else if (reading && status == 0 && QJsonDocument::fromJson(process->readAllStandardOutput())["serial"] != serial)
                failures << call + QStringLiteral(": no reading of its instrument");
            for (const QString &line : lines) {
                if (status == 0 && counted(line))
                    ++issued[descriptor + ' ' + line];
            }
            process->deleteLater();
            busy = false;
        });
    }

    bool choosePresets() { return chance(0.06); }

    // The presets window: saves the instrument's settings under a name of
    // its own, or applies one of the driver's presets (written at the start)
    // and returns the lines that must go out.
    QStringList operatePresets(QWidget *tab)
    {
        child<QAbstractButton>(tab, "presets_btn").click();
        QWidget *presets = nullptr;
        const QString title = QStringLiteral("SN:") + child<QLabel>(tab, "TitleID").text().section(':', -1);
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->inherits("PresetWindow") && top->windowTitle().endsWith(title))
                presets = top;
        }
        if (!presets)
            qFatal("soak: no presets window");
        if (chance(0.3)) {
            child<QLineEdit>(presets, "name_txt").setText(pick({"kept 1", "kept 2"}));
            child<QAbstractButton>(presets, "save_btn").click(); // sends nothing
            presets->close();
            return {};
        }
        const int which = uniform(0, int(std::size(Presets)) - 1);
        const Preset &preset = Presets[which];
        auto *list = presets->findChild<QListWidget *>(QStringLiteral("preset_list"));
        const QList<QListWidgetItem *> items = list->findItems(QString::fromLatin1(preset.name), Qt::MatchExactly);
        if (items.isEmpty())
            qFatal("soak: preset %s not listed", preset.name);
        list->setCurrentItem(items.first());
        const bool rfOn = chance(0.5);
        child<QAbstractButton>(presets, "rf_on_chk").setChecked(rfOn);
        auto &apply = child<QAbstractButton>(presets, "apply_btn");
        const bool allowed = apply.isEnabled();
        apply.click();
        if (chance(0.5))
            presets->close();
        const auto range = QRegularExpression(QStringLiteral("\\((\\d+)-(\\d+) (\\w+)\\)")).match(child<QGroupBox>(tab, "freq_gbx").title());
        const double frequency = range.captured(3) == QLatin1String("MHz") ? preset.frequencyMHz : preset.frequencyMHz / 1000;
        if (!allowed || frequency < range.captured(1).toDouble() || frequency > range.captured(2).toDouble())
            return {};
        QStringList lines{QStringLiteral("POWE:RF 0")};
        if (preset.external)
            lines << QStringLiteral("FREQ:REF:FREQ %1").arg(preset.referenceMHz);
        lines << "FREQ:SET " + QString::number(frequency, 'g', 10) << "POWE:SET " + QString::number(preset.powerDbm, 'g', 6);
        if (rfOn)
            lines << QStringLiteral("POWE:RF 1");
        return lines;
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
        child<QAbstractButton>(window, "connected_devices_refresh_btn").click();
        QTimer::singleShot(4000, this, [this, end] {
            malloc_trim(0);
            // With the sanitizer the resident size mostly follows its own
            // bookkeeping: its count of live heap bytes is judged instead.
            const bool asan = __sanitizer_get_current_allocated_bytes;
            const qint64 kb = asan ? qint64(__sanitizer_get_current_allocated_bytes() / 1024) : residentKb();
            busy = end;
            if (!end)
                return void(memoryFirst = kb);
            if (kb - memoryFirst >= MemoryLimitKb)
                failures << QStringLiteral("%1 grew by %2 kB").arg(asan ? "live heap" : "resident memory").arg(kb - memoryFirst);
            concluded = true;
            QCoreApplication::quit();
        });
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
    QStringList messages, failures; // failures go to report.txt
    QHash<QString, int> issued; // "descriptor command" -> times sent to a reachable instrument
    qint64 memoryFirst = -1;
#ifdef USBSYNTH_SOAK_USBTMC
    std::unique_ptr<FakeUsbtmc> fake;
    int nodes = 0;
#endif
};

void startSoak() { new SoakDriver(QCoreApplication::instance()); }

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startSoak)

#include "soakdriver.moc"
