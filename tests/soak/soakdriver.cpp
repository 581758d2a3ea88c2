// Soak driver: preloaded into the real usbsynth, it plays an operator on the
// widgets (found by object name only) while it rewrites the simulated
// instruments' configuration at random, and checks every command against
// the simulator's trace as it goes. At the end it compares the run log with
// the messages the window emitted, writes a report and quits the program.
//
// Environment:
//   USBSYNTH_SIM_CONFIG, USBSYNTH_SIM_TRACE  the simulator's files (required)
//   USBSYNTH_SOAK_SECONDS                    run length, default 60
//   USBSYNTH_SOAK_SEED                       PRNG seed, default from the clock
//   USBSYNTH_SOAK_REPORT                     report file, default soak-report.txt
//   USBSYNTH_SOAK_JOURNAL                    optional: one line per action and
//                                            configuration change, as they happen
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

// Present when the program runs with AddressSanitizer.
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));
extern "C" size_t __sanitizer_get_heap_size() __attribute__((weak));
extern "C" void __asan_print_accumulated_stats() __attribute__((weak));

namespace {

// VISA failure codes the faults use.
constexpr int ErrorTimeout = int(0xBFFF0015);
constexpr int ErrorIo = int(0xBFFF003E);
constexpr int ErrorNotFound = int(0xBFFF0011);
constexpr int ErrorBusy = int(0xBFFF0072);

// Every query a refresh pass or a scan sends; faults pick among them.
const char *const Queries[] = {"FREQ:REF:EXT?", "POWE:RF?",   "FREQ:REF:FREQ?",  "FREQ:PLLM?",
                               "FREQ:REF:DIV?", "FREQ:LOCK?", "POWE:SET?",       "FREQ:SET?",
                               "FREQ:RETACT?",  "SYST:TEMP?", "SYST:READSTATE?", "*IDN?"};

struct ModelKind
{
    const char *productId;
    const char *model;
    const char *firmware;
};
// A firmware-4 GHz model, a firmware-3 MHz model, another firmware-4 GHz model.
const ModelKind Kinds[] = {
    {"0x0010", "VX27H774-10", "V4.1.0"},
    {"0x0014", "774-6000", "V3.2.0"},
    {"0x0015", "VXHN774-12", "V4.0.3"},
};
constexpr int BaseInstruments = 3;
constexpr int MaxPresent = 5;
constexpr int MaxKnown = 9;

struct Instrument
{
    QString serial;
    int kind = 0;
    bool present = true;
    bool mute = false;
    int timeoutMs = 200;
    int latencyMs = 0;
    int openStatus = 0;
    QJsonObject replies;
    QJsonObject readStatus;

    QString descriptor() const
    {
        return QStringLiteral("USB0::0x3A7C::%1::%2::INSTR").arg(QLatin1String(Kinds[kind].productId), serial);
    }
    bool reachable() const { return present && openStatus == 0; }
    void heal()
    {
        mute = false;
        latencyMs = 0;
        openStatus = 0;
        replies = QJsonObject();
        readStatus = QJsonObject();
    }
};

// Command lines the refresh pass may send back on its own (a control it
// changed echoes its setting); all others come from the operator only.
bool echoable(const QString &line)
{
    return line.startsWith(QLatin1String("FREQ:REF:EXT ")) || line.startsWith(QLatin1String("FREQ:PLLM "))
           || line.startsWith(QLatin1String("FREQ:REF:DIV "));
}

bool operatorCommand(const QString &line)
{
    static const char *const prefixes[] = {"FREQ:SET ",       "POWE:SET ",       "POWE:RF ",
                                           "FREQ:REF:FREQ ",  "SYST:LOADSTATE ", "SYST:SAVESTATE ",
                                           "SYST:BOOTSTATE "};
    for (const char *prefix : prefixes) {
        if (line.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

// The operator's number as the panel reads it: a finite float, or nothing.
bool readNumber(const QString &text, float *value)
{
    bool ok = false;
    const float v = text.toFloat(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

QString number6(float value)
{
    return QString::number(double(value), 'g', 6);
}

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Bytes the program holds on the heap: the sanitizer's count of live
// allocations, or glibc's in-use total.
qint64 heapInUseKb()
{
    if (__sanitizer_get_current_allocated_bytes)
        return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
    const struct mallinfo2 info = mallinfo2();
    return qint64((info.uordblks + info.hblkhd) / 1024);
}

// The sanitizer allocator's whole heap, quarantine and free lists included.
qint64 sanitizerHeapKb()
{
    return __sanitizer_get_heap_size ? qint64(__sanitizer_get_heap_size() / 1024) : -1;
}

class SoakDriver : public QObject
{
    Q_OBJECT

public:
    explicit SoakDriver(QObject *parent);

    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void recordLog(QString message);

private:
    // --- randomness
    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }
    template<typename T> const T &pickFrom(const QList<T> &list) { return list.at(uniform(0, int(list.size()) - 1)); }
    int weighted(const QList<int> &weights);

    // --- the simulated bench
    void writeConfig();
    void changeConfig();
    void mutate();
    Instrument *randomInstrument(bool presentOnly);
    Instrument *bySerial(const QString &serial);

    // --- the operator
    void begin(QWidget *window);
    void act();
    void operate();
    QTabWidget *tabs() const;
    QWidget *currentDeviceTab() const;
    // A control of the tab by object name; a missing one is a failure of
    // the run (and ends the action).
    template<typename T> T *widget(QWidget *tab, const char *name)
    {
        T *found = tab ? tab->findChild<T *>(QString::fromLatin1(name)) : nullptr;
        if (!found && tab)
            mismatch(QStringLiteral("the tab has no %1").arg(QLatin1String(name)));
        return found;
    }
    bool typeInto(QLineEdit *edit, const QString &text);
    void pressKey(QWidget *target, int key, const QString &text = QString());
    QString frequencyText(QWidget *tab);
    QString powerText();
    QString referenceText();
    void closeMessageBox();

    // --- checking
    qint64 traceSize() const;
    QStringList traceFrom(qint64 offset) const;
    struct Expectation
    {
        QString kind;
        QString serial;
        QString descriptor;
        bool reachable = false;
        QString line;          // the command line expected, empty: none
        bool anyIo = false;    // the action may do I/O without a command (empty batch, rescan)
    };
    void check(const Expectation &e, const QStringList &segment);
    void mismatch(const QString &what);
    void journal(const QString &line);
    // Memory is compared in one and the same state: the base bench, freshly
    // scanned, after a few seconds of polling.
    enum class Settle { First, End };
    void settle(Settle phase);
    void sampleSettled(Settle phase);
    void finish();
    void conclude();
    void sampleSeries();
    void checkTraceTotals();
    void checkLog();
    void writeReport();
    double elapsedSeconds() const { return clock.elapsed() / 1000.0; }

    // configuration
    QString configPath;
    QString tracePath;
    QString reportPath;
    QFile journalFile;
    int seconds = 60;
    quint64 seed = 0;
    std::mt19937_64 rng;

    QList<Instrument> bench;
    // Instruments dropped from the bench while absent, by serial number: the
    // panel may still show a tab for one until its next scan.
    QHash<QString, QString> forgotten;
    int nextSerial = 1;

    QPointer<QWidget> mainWindow;
    QElapsedTimer clock;
    QTimer actionTimer;
    QTimer configTimer;
    QTimer endTimer;
    QTimer rssTimer;
    QTimer seriesTimer;
    QTimer boxCloser;
    bool acting = false;
    bool started = false;
    bool finished = false;
    bool settling = false;

    // figures
    QMap<QString, int> actions;         // kind -> count
    QMap<QString, int> skipped;         // kind -> actions that found no control to work
    QMap<QString, int> configChanges;   // mutation -> count
    int configWrites = 0;
    int commandsChecked = 0;            // actions with an expected command line
    int commandsReachable = 0;
    int silentChecked = 0;              // actions checked to send nothing
    int boxesClosed = 0;
    int rescansPressed = 0;
    QStringList mismatches;
    int mismatchCount = 0;
    QStringList messages;
    QHash<QString, int> issued;         // "descriptor\tline" -> times sent while reachable
    QHash<QString, int> issuedUnreachable;
    qint64 rssFirstKb = -1;
    qint64 rssFirstRawKb = -1;
    double rssFirstAt = 0;
    qint64 rssEndKb = -1;
    qint64 rssEndRawKb = -1;
    int settleScans = 0;
    QStringList series; // time, RSS, heap in use, sanitizer heap
    qint64 heapFirstKb = -1;
    qint64 heapEndKb = -1;
    bool logEqual = false;
    QString logDetail;
    int logLines = 0;
    QMap<QString, int> traceEvents;     // O, F, C, W, R -> count
    int scans = 0;
};

SoakDriver::SoakDriver(QObject *parent)
    : QObject(parent)
{
    configPath = qEnvironmentVariable("USBSYNTH_SIM_CONFIG");
    tracePath = qEnvironmentVariable("USBSYNTH_SIM_TRACE");
    reportPath = qEnvironmentVariable("USBSYNTH_SOAK_REPORT", QStringLiteral("soak-report.txt"));
    if (configPath.isEmpty() || tracePath.isEmpty()) {
        std::fprintf(stderr, "soak: USBSYNTH_SIM_CONFIG and USBSYNTH_SIM_TRACE must name files\n");
        std::exit(2);
    }
    const QString journalPath = qEnvironmentVariable("USBSYNTH_SOAK_JOURNAL");
    if (!journalPath.isEmpty()) {
        journalFile.setFileName(journalPath);
        if (!journalFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            std::fprintf(stderr, "soak: cannot write %s\n", qPrintable(journalPath));
    }
    bool ok = false;
    seconds = qEnvironmentVariableIntValue("USBSYNTH_SOAK_SECONDS", &ok);
    if (!ok || seconds <= 0)
        seconds = 60;
    const QByteArray seedText = qgetenv("USBSYNTH_SOAK_SEED");
    seed = seedText.toULongLong(&ok);
    if (seedText.isEmpty() || !ok)
        seed = quint64(QDateTime::currentMSecsSinceEpoch()) ^ (quint64(QCoreApplication::applicationPid()) << 32);
    rng.seed(seed);
    std::fprintf(stderr, "soak: seed %llu, %d s\n", static_cast<unsigned long long>(seed), seconds);

    for (int i = 0; i < BaseInstruments; ++i) {
        Instrument instrument;
        instrument.kind = i;
        instrument.serial = QStringLiteral("SK%1").arg(nextSerial++);
        instrument.timeoutMs = uniform(100, 300);
        bench << instrument;
    }
    // The first scan, inside the window's constructor, finds a clean bench.
    writeConfig();

    for (QTimer *timer : {&actionTimer, &configTimer, &endTimer, &rssTimer, &boxCloser})
        timer->setSingleShot(true);
    connect(&actionTimer, &QTimer::timeout, this, &SoakDriver::act);
    connect(&configTimer, &QTimer::timeout, this, &SoakDriver::changeConfig);
    connect(&endTimer, &QTimer::timeout, this, &SoakDriver::finish);
    connect(&rssTimer, &QTimer::timeout, this, [this] { settle(Settle::First); });
    seriesTimer.setInterval(10000);
    connect(&seriesTimer, &QTimer::timeout, this, [this] { sampleSeries(); });
    connect(&boxCloser, &QTimer::timeout, this, &SoakDriver::closeMessageBox);

    QCoreApplication::instance()->installEventFilter(this);
}

// The main window is shown once its constructor (and the first scan) is
// done; the driver starts from there, before the event loop runs.
bool SoakDriver::eventFilter(QObject *watched, QEvent *event)
{
    if (!started && event->type() == QEvent::Show && watched->isWidgetType()
        && watched->inherits("QMainWindow") && watched->objectName() == QLatin1String("MainWindow")) {
        started = true;
        QCoreApplication::instance()->removeEventFilter(this);
        begin(static_cast<QWidget *>(watched));
    }
    return false;
}

void SoakDriver::begin(QWidget *window)
{
    mainWindow = window;
    if (!connect(window, SIGNAL(logMessage(QString)), this, SLOT(recordLog(QString)))) {
        std::fprintf(stderr, "soak: the main window has no logMessage(QString) signal\n");
        std::exit(2);
    }
    clock.start();
    actionTimer.start(uniform(200, 800));
    configTimer.start(uniform(1000, 4000));
    endTimer.start(seconds * 1000);
    rssTimer.start(std::min(60, seconds / 3) * 1000);
    seriesTimer.start();
    sampleSeries();
}

void SoakDriver::sampleSeries()
{
    series << QStringLiteral("%1\t%2\t%3\t%4")
                  .arg(elapsedSeconds(), 0, 'f', 0)
                  .arg(residentKb())
                  .arg(heapInUseKb())
                  .arg(sanitizerHeapKb());
}

void SoakDriver::recordLog(QString message)
{
    messages << message;
}

int SoakDriver::weighted(const QList<int> &weights)
{
    int total = 0;
    for (int w : weights)
        total += w;
    int r = uniform(0, total - 1);
    for (int i = 0; i < weights.size(); ++i) {
        if (r < weights.at(i))
            return i;
        r -= weights.at(i);
    }
    return int(weights.size()) - 1;
}

// --- The simulated bench -------------------------------------------------------

void SoakDriver::writeConfig()
{
    QJsonArray resources;
    for (const Instrument &instrument : qAsConst(bench)) {
        if (!instrument.present)
            continue;
        QJsonObject entry;
        entry[QStringLiteral("resource")] = instrument.descriptor();
        if (!instrument.mute) {
            const ModelKind &kind = Kinds[instrument.kind];
            entry[QStringLiteral("idn")] = QStringLiteral("Quorvex Electronics,%1,%2,%3")
                                               .arg(QLatin1String(kind.model), instrument.serial,
                                                    QLatin1String(kind.firmware));
        }
        if (!instrument.replies.isEmpty())
            entry[QStringLiteral("replies")] = instrument.replies;
        QJsonObject faults;
        faults[QStringLiteral("timeoutMs")] = instrument.timeoutMs;
        if (instrument.latencyMs > 0)
            faults[QStringLiteral("latencyMs")] = instrument.latencyMs;
        if (instrument.openStatus != 0)
            faults[QStringLiteral("openStatus")] = instrument.openStatus;
        if (!instrument.readStatus.isEmpty())
            faults[QStringLiteral("readStatus")] = instrument.readStatus;
        entry[QStringLiteral("faults")] = faults;
        resources.append(entry);
    }
    QJsonObject root;
    root[QStringLiteral("resources")] = resources;

    // Written beside and renamed over: the simulator never sees half a file.
    const QString temporary = configPath + QStringLiteral(".new");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "soak: cannot write %s\n", qPrintable(temporary));
        std::exit(2);
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    file.close();
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(configPath).constData()) != 0) {
        std::fprintf(stderr, "soak: cannot rename %s\n", qPrintable(temporary));
        std::exit(2);
    }
    ++configWrites;
}

Instrument *SoakDriver::randomInstrument(bool presentOnly)
{
    QList<int> candidates;
    for (int i = 0; i < bench.size(); ++i) {
        if (!presentOnly || bench.at(i).present)
            candidates << i;
    }
    if (candidates.isEmpty())
        return nullptr;
    return &bench[pickFrom(candidates)];
}

Instrument *SoakDriver::bySerial(const QString &serial)
{
    for (Instrument &instrument : bench) {
        if (instrument.serial == serial)
            return &instrument;
    }
    return nullptr;
}

void SoakDriver::changeConfig()
{
    if (settling)
        return; // resumed afterwards
    if (acting) {
        // Inside a message box of an action: the bench stays as the action saw it.
        configTimer.start(50);
        return;
    }
    const int count = uniform(1, 2);
    for (int i = 0; i < count; ++i)
        mutate();
    writeConfig();
    configTimer.start(uniform(1000, 4000));
}

void SoakDriver::mutate()
{
    enum {
        HealOne, HealAll, BadReply, EmptyReply, LongReply, NoLineFeed, ReadFailure,
        Latency, OpenFailure, Unplug, Replug, AddNew, Mute
    };
    int present = 0;
    for (const Instrument &instrument : qAsConst(bench))
        present += instrument.present ? 1 : 0;
    const int absent = int(bench.size()) - present;
    // The bench drifts back towards having instruments: unplugging the last
    // one is rare, replugging grows with the number missing.
    const int unplugWeight = present > 1 ? 7 : 1;
    const int replugWeight = absent > 0 && present < MaxPresent ? 5 + 3 * std::min(absent, 3) : 0;
    const int choice = weighted({20, 4, 8, 6, 6, 6, 7, 6, 4, unplugWeight, replugWeight, 3, 2});
    const QString query = QString::fromLatin1(Queries[uniform(0, int(std::size(Queries)) - 1)]);
    Instrument *target = randomInstrument(true);
    const auto note = [this, &target, &query](const char *what) {
        ++configChanges[QString::fromLatin1(what)];
        journal(QStringLiteral("config %1 %2 %3")
                    .arg(QLatin1String(what), target ? target->serial : QStringLiteral("-"), query));
    };

    switch (choice) {
    case HealOne:
        if (!target)
            break;
        target->heal();
        note("heal one");
        break;
    case HealAll:
        for (Instrument &instrument : bench)
            instrument.heal();
        note("heal all");
        break;
    case BadReply:
        if (!target)
            break;
        target->replies[query] = QStringLiteral("xyz");
        note("bad reply");
        break;
    case EmptyReply:
        if (!target)
            break;
        if (chance(0.5))
            target->replies[query] = QString();
        else
            target->replies[query] = QJsonObject{{QStringLiteral("text"), QString()},
                                                 {QStringLiteral("lineFeed"), false}};
        note("empty reply");
        break;
    case LongReply: {
        if (!target)
            break;
        const QStringList patterns = {QString(1000, QLatin1Char('x')),
                                      QString(999, QLatin1Char('0')) + QLatin1Char('1'),
                                      QStringLiteral("1,").repeated(500), QStringLiteral("0;").repeated(500),
                                      QString(1000, QLatin1Char('9'))};
        target->replies[query] = pickFrom(patterns);
        note("1000-byte reply");
        break;
    }
    case NoLineFeed: {
        if (!target)
            break;
        const QStringList texts = {QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("7.5"),
                                   QStringLiteral("-3.5 MIN"), QStringLiteral("20"), QStringLiteral("xyz")};
        target->replies[query] = QJsonObject{{QStringLiteral("text"), pickFrom(texts)},
                                             {QStringLiteral("lineFeed"), false}};
        note("reply without line feed");
        break;
    }
    case ReadFailure:
        if (!target)
            break;
        target->readStatus[query] = chance(0.5) ? ErrorTimeout : ErrorIo;
        note("failed read");
        break;
    case Latency:
        if (!target)
            break;
        target->latencyMs = uniform(0, 30);
        note("latency");
        break;
    case OpenFailure:
        if (!target)
            break;
        target->openStatus = chance(0.5) ? ErrorBusy : ErrorNotFound;
        note("open failure");
        break;
    case Unplug:
        if (!target)
            break;
        target->present = false;
        note("unplug");
        break;
    case Replug: {
        Instrument *absent = nullptr;
        QList<int> candidates;
        for (int i = 0; i < bench.size(); ++i) {
            if (!bench.at(i).present)
                candidates << i;
        }
        if (candidates.isEmpty() || present >= MaxPresent)
            break;
        absent = &bench[pickFrom(candidates)];
        absent->present = true;
        absent->heal();
        target = absent;
        note("replug");
        break;
    }
    case AddNew: {
        if (present >= MaxPresent)
            break;
        if (bench.size() >= MaxKnown) {
            // Forget an absent extra instrument to make room.
            bool dropped = false;
            for (int i = BaseInstruments; i < bench.size() && !dropped; ++i) {
                if (!bench.at(i).present) {
                    forgotten.insert(bench.at(i).serial, bench.at(i).descriptor());
                    bench.removeAt(i);
                    dropped = true;
                }
            }
            if (!dropped)
                break;
        }
        Instrument instrument;
        instrument.kind = uniform(0, int(std::size(Kinds)) - 1);
        instrument.serial = QStringLiteral("SK%1").arg(nextSerial++);
        instrument.timeoutMs = uniform(100, 300);
        bench << instrument;
        target = &bench.last();
        note("new instrument");
        break;
    }
    case Mute:
        if (!target)
            break;
        target->mute = true;
        note("mute");
        break;
    }
}

// --- The operator ---------------------------------------------------------------

QTabWidget *SoakDriver::tabs() const
{
    return mainWindow ? mainWindow->findChild<QTabWidget *>(QStringLiteral("tabWidget")) : nullptr;
}

QWidget *SoakDriver::currentDeviceTab() const
{
    QTabWidget *tabWidget = tabs();
    QWidget *page = tabWidget ? tabWidget->currentWidget() : nullptr;
    return page && page->inherits("UsbStickTab") ? page : nullptr;
}

void SoakDriver::pressKey(QWidget *target, int key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
}

// Selects the field's text and types over it, as an operator does; true when
// the field then holds exactly the text typed.
bool SoakDriver::typeInto(QLineEdit *edit, const QString &text)
{
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
    if (text.isEmpty())
        pressKey(edit, Qt::Key_Delete);
    for (const QChar c : text) {
        const int key = c.isLetter() ? c.toUpper().unicode() : c.unicode();
        pressKey(edit, key, QString(c));
    }
    return edit->text() == text;
}

void SoakDriver::closeMessageBox()
{
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
        ++boxesClosed;
        box->accept();
        return;
    }
    // Not up yet: look again while the action runs (stopped when it returns).
    boxCloser.start(10);
}

QString SoakDriver::frequencyText(QWidget *tab)
{
    // The range from the group's title, e.g. "Frequency (5-10 GHz)".
    double low = 0, high = 0;
    if (auto *box = widget<QGroupBox>(tab, "freq_gbx")) {
        static const QRegularExpression range(QStringLiteral("\\((\\d+)-(\\d+) "));
        const QRegularExpressionMatch m = range.match(box->title());
        if (m.hasMatch()) {
            low = m.captured(1).toDouble();
            high = m.captured(2).toDouble();
        }
    }
    const int form = weighted({55, 15, 15, 15});
    if (form == 0 && high > low) {
        const double value = low + (high - low) * std::uniform_real_distribution<double>(0, 1)(rng);
        return QString::number(value, 'f', uniform(0, 4));
    }
    if (form == 1)
        return QString::number(chance(0.5) ? low : high);
    if (form == 2) {
        const QStringList outside = {QString::number(low - 0.01, 'f', 2), QString::number(high + 0.01, 'f', 2),
                                     QString::number(high * 1000), QStringLiteral("0"), QStringLiteral("-5")};
        return pickFrom(outside);
    }
    const QStringList junk = {QStringLiteral("abc"), QString(), QStringLiteral("2.2 GHz"), QStringLiteral("12,5"),
                              QStringLiteral("1e3x")};
    return pickFrom(junk);
}

QString SoakDriver::powerText()
{
    const QStringList words = {QStringLiteral("min"), QStringLiteral("MAX"), QStringLiteral("Minimum"),
                               QStringLiteral("-3 min"), QStringLiteral("minmax"), QStringLiteral("abc"),
                               QString(), QStringLiteral("1e1")};
    if (chance(0.6))
        return QString::number(uniform(-4000, 1500) / 100.0, 'f', uniform(0, 2));
    return pickFrom(words);
}

QString SoakDriver::referenceText()
{
    const QStringList outside = {QStringLiteral("9"), QStringLiteral("101"), QStringLiteral("50.5"), QString(),
                                 QStringLiteral("abc"), QStringLiteral("0"), QStringLiteral("-20"),
                                 QStringLiteral("1000")};
    if (chance(0.65))
        return QString::number(uniform(10, 100));
    return pickFrom(outside);
}

void SoakDriver::act()
{
    if (settling || finished)
        return;
    if (acting) {
        actionTimer.start(50);
        return;
    }
    acting = true;
    operate();
    boxCloser.stop();
    acting = false;
    // Now and then the operator watches the screen for a while, long enough
    // for the tab's own refresh passes to run.
    actionTimer.start(chance(0.2) ? uniform(1200, 3500) : uniform(200, 800));
}

void SoakDriver::operate()
{
    enum {
        Frequency, Power, PowerMin, PowerMax, Rf, Reference, ReferenceFrequency, Divider, PllMode,
        ChooseState, LoadState, SaveState, BootState, ViewStates, SwitchTab, Rescan
    };
    static const char *const names[] = {"frequency", "power", "power min", "power max", "rf", "reference",
                                        "reference frequency", "divider", "pll mode", "choose state",
                                        "load state", "save state", "boot state", "view states",
                                        "switch tab", "rescan"};
    int choice = weighted({14, 12, 4, 4, 8, 8, 8, 8, 8, 6, 4, 4, 4, 3, 6, 2});

    QTabWidget *tabWidget = tabs();
    if (!tabWidget)
        return;
    QPointer<QWidget> tab = currentDeviceTab();
    // On the "N/A" page the operator can only look again.
    if (!tab && choice != SwitchTab && choice != Rescan) {
        ++skipped[QString::fromLatin1(names[choice])];
        if (!chance(0.3))
            return;
        choice = Rescan;
    }
    const QString kind = QString::fromLatin1(names[choice]);
    ++actions[kind];

    Expectation e;
    e.kind = kind;
    if (tab) {
        e.serial = tabWidget->tabText(tabWidget->currentIndex()).mid(3);
        if (const Instrument *instrument = bySerial(e.serial)) {
            e.descriptor = instrument->descriptor();
            e.reachable = instrument->reachable();
        } else if (forgotten.contains(e.serial)) {
            e.descriptor = forgotten.value(e.serial);
            e.reachable = false; // gone from the configuration: every open fails
        } else {
            mismatch(QStringLiteral("a tab for %1, an instrument never configured").arg(e.serial));
        }
    }

    const qint64 before = traceSize();
    boxCloser.start(0);
    bool checkable = true;

    switch (choice) {
    case Frequency: {
        auto *edit = widget<QLineEdit>(tab, "freq_text");
        if (!edit)
            return;
        const QString text = frequencyText(tab);
        if (!typeInto(edit, text))
            mismatch(QStringLiteral("freq_text holds \"%1\" after typing \"%2\"").arg(edit->text(), text));
        double low = 0, high = 0;
        auto *box = widget<QGroupBox>(tab, "freq_gbx");
        if (!box)
            return;
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("\\((\\d+)-(\\d+) ")).match(box->title());
        if (m.hasMatch()) {
            low = m.captured(1).toDouble();
            high = m.captured(2).toDouble();
        }
        float value = 0;
        if (readNumber(edit->text(), &value) && float(low) <= value && value <= float(high))
            e.line = QStringLiteral("FREQ:SET ") + number6(value);
        pressKey(edit, Qt::Key_Return);
        break;
    }
    case Power: {
        auto *edit = widget<QLineEdit>(tab, "Powe_Val");
        if (!edit)
            return;
        const QString text = powerText();
        if (!typeInto(edit, text))
            mismatch(QStringLiteral("Powe_Val holds \"%1\" after typing \"%2\"").arg(edit->text(), text));
        const QString upper = edit->text().toUpper();
        float value = 0;
        if (upper.contains(QLatin1String("MIN")))
            e.line = QStringLiteral("POWE:SET MIN");
        else if (upper.contains(QLatin1String("MAX")))
            e.line = QStringLiteral("POWE:SET MAX");
        else
            e.line = QStringLiteral("POWE:SET ") + number6(readNumber(edit->text(), &value) ? value : 0.0f);
        pressKey(edit, Qt::Key_Return);
        break;
    }
    case PowerMin:
        e.line = QStringLiteral("POWE:SET MIN");
        if (auto *button = widget<QAbstractButton>(tab, "set_min_powe_btn"))
            button->click();
        break;
    case PowerMax:
        e.line = QStringLiteral("POWE:SET MAX");
        if (auto *button = widget<QAbstractButton>(tab, "set_max_powe_btn"))
            button->click();
        break;
    case Rf: {
        auto *label = widget<QLabel>(tab, "power_lbl");
        auto *button = widget<QAbstractButton>(tab, "power_btn");
        if (!label || !button)
            return;
        if (label->text().contains(QLatin1String("OFF")))
            e.line = QStringLiteral("POWE:RF 1");
        else if (label->text().contains(QLatin1String("ON")))
            e.line = QStringLiteral("POWE:RF 0");
        e.anyIo = true; // an empty batch still opens and closes the session
        button->click();
        break;
    }
    case Reference: {
        const bool external = chance(0.5);
        auto *radio = widget<QRadioButton>(tab, external ? "ref_ext_radio" : "ref_int_radio");
        if (!radio)
            return;
        if (!radio->isChecked())
            e.line = external ? QStringLiteral("FREQ:REF:EXT 1") : QStringLiteral("FREQ:REF:EXT 0");
        radio->click();
        break;
    }
    case ReferenceFrequency: {
        auto *edit = widget<QLineEdit>(tab, "reference_freq_txt");
        if (!edit)
            return;
        auto *set = widget<QAbstractButton>(tab, "set_ref_freq_btn");
        if (!set)
            return;
        if (edit->isEnabled()) {
            const QString text = referenceText();
            if (!typeInto(edit, text))
                mismatch(QStringLiteral("reference_freq_txt holds \"%1\" after typing \"%2\"").arg(edit->text(), text));
        }
        const int megahertz = edit->text().toInt();
        if (set->isEnabled() && megahertz >= 10 && megahertz <= 100)
            e.line = QStringLiteral("FREQ:REF:FREQ ") + edit->text();
        if (chance(0.5) && edit->isEnabled())
            pressKey(edit, Qt::Key_Return);
        else
            set->click();
        break;
    }
    case Divider: {
        auto *combo = widget<QComboBox>(tab, "ref_div_cmb");
        if (!combo)
            return;
        const int index = chance(0.5) ? uniform(0, 7) : uniform(0, combo->count() - 1);
        if (index != combo->currentIndex())
            e.line = QStringLiteral("FREQ:REF:DIV %1").arg(combo->itemText(index));
        combo->setCurrentIndex(index);
        break;
    }
    case PllMode: {
        const bool integer = chance(0.5);
        auto *radio = widget<QRadioButton>(tab, integer ? "pllm_int_rad" : "pllm_frac_rad");
        if (!radio)
            return;
        if (!radio->isChecked())
            e.line = integer ? QStringLiteral("FREQ:PLLM 1") : QStringLiteral("FREQ:PLLM 0");
        radio->click();
        break;
    }
    case ChooseState:
    case LoadState:
    case SaveState:
    case BootState: {
        auto *group = widget<QGroupBox>(tab, "state_config_gbx");
        if (!group)
            return;
        if (!group->isVisible()) {
            // Firmware 3 offers no stored states.
            --actions[kind];
            ++skipped[kind];
            checkable = false;
            break;
        }
        auto *combo = widget<QComboBox>(tab, "state_cmb");
        if (!combo)
            return;
        if (choice == ChooseState || chance(0.5))
            combo->setCurrentIndex(uniform(0, combo->count() - 1));
        const int state = combo->currentIndex();
        auto *save = widget<QAbstractButton>(tab, "save_state_btn");
        if (!save)
            return;
        if (save->isEnabled() != (state != 0))
            mismatch(QStringLiteral("%1: save button %2 with state %3 selected")
                         .arg(e.serial, save->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"))
                         .arg(state));
        QAbstractButton *button = nullptr;
        if (choice == LoadState) {
            button = widget<QAbstractButton>(tab, "load_state_btn");
            e.line = QStringLiteral("SYST:LOADSTATE %1").arg(state);
        } else if (choice == SaveState) {
            button = save;
            if (state != 0)
                e.line = QStringLiteral("SYST:SAVESTATE %1").arg(state);
        } else if (choice == BootState) {
            button = widget<QAbstractButton>(tab, "set_default_btn");
            e.line = QStringLiteral("SYST:BOOTSTATE %1").arg(state);
        }
        if (button)
            button->click();
        break;
    }
    case ViewStates:
        if (auto *button = widget<QAbstractButton>(tab, "view_state_parameters"))
            button->click();
        break;
    case SwitchTab:
        if (tabWidget->count() > 1) {
            int index = uniform(0, tabWidget->count() - 2);
            if (index >= tabWidget->currentIndex())
                ++index;
            tabWidget->setCurrentIndex(index);
        }
        e.descriptor.clear(); // nothing at all may be written
        break;
    case Rescan:
        journal(QStringLiteral("action rescan"));
        ++rescansPressed;
        checkable = false;
        if (auto *button = mainWindow->findChild<QAbstractButton *>(QStringLiteral("connected_devices_refresh_btn")))
            button->click();
        break;
    }
    boxCloser.stop();
    if (checkable)
        check(e, traceFrom(before));
}

// --- Checking ---------------------------------------------------------------------

qint64 SoakDriver::traceSize() const
{
    return QFile(tracePath).size();
}

// Trace lines from a byte offset, without their time stamps.
QStringList SoakDriver::traceFrom(qint64 offset) const
{
    QFile file(tracePath);
    QStringList lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    file.seek(offset);
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
    }
    return lines;
}

void SoakDriver::journal(const QString &line)
{
    if (!journalFile.isOpen())
        return;
    const double at = clock.isValid() ? elapsedSeconds() : 0.0;
    journalFile.write(QStringLiteral("%1 %2\n").arg(at, 0, 'f', 3).arg(line).toUtf8());
}

void SoakDriver::check(const Expectation &e, const QStringList &segment)
{
    journal(QStringLiteral("action %1 SN:%2 %3 \"%4\" %5 line(s) in the trace")
                .arg(e.kind, e.serial.isEmpty() ? QStringLiteral("-") : e.serial,
                     e.reachable ? QStringLiteral("reachable") : QStringLiteral("unreachable"), e.line)
                .arg(segment.size()));
    const auto describe = [&](const QString &problem) {
        QStringList shown = segment.mid(0, 12);
        if (segment.size() > 12)
            shown << QStringLiteral("... %1 more").arg(segment.size() - 12);
        return QStringLiteral("%1s %2 SN:%3 (%4): %5 | expected \"%6\" | segment: %7")
            .arg(elapsedSeconds(), 0, 'f', 1)
            .arg(e.kind, e.serial, e.reachable ? QStringLiteral("reachable") : QStringLiteral("unreachable"),
                 problem, e.line, shown.join(QStringLiteral(" || ")));
    };

    if (e.descriptor.isEmpty()) {
        // A tab switch: no I/O of any kind.
        if (e.kind == QLatin1String("switch tab")) {
            ++silentChecked;
            if (!segment.isEmpty())
                mismatch(describe(QStringLiteral("I/O on a tab switch")));
        }
        return;
    }

    const QString writePrefix = QStringLiteral("W ") + e.descriptor + QLatin1Char(' ');
    QStringList writes;
    for (const QString &line : segment) {
        if (line.startsWith(writePrefix))
            writes << line.mid(writePrefix.size());
    }

    if (e.line.isEmpty()) {
        if (e.anyIo)
            return;
        ++silentChecked;
        if (!writes.isEmpty())
            mismatch(describe(QStringLiteral("%1 line(s) written, none expected").arg(writes.size())));
        return;
    }

    ++commandsChecked;
    const int count = int(writes.count(e.line));
    const QString key = e.descriptor + QLatin1Char('\t') + e.line;
    if (!e.reachable) {
        ++issuedUnreachable[key];
        if (count != 0)
            mismatch(describe(QStringLiteral("sent %1 time(s) to an unreachable instrument").arg(count)));
        return;
    }
    ++commandsReachable;
    ++issued[key];
    if (echoable(e.line)) {
        // Lines a failed refresh pass left queued go out first; they can
        // only be its own echoes.
        if (writes.isEmpty() || writes.last() != e.line)
            mismatch(describe(QStringLiteral("the batch does not end in the command (%1 line(s))").arg(writes.size())));
        for (int i = 0; i + 1 < writes.size(); ++i) {
            if (!echoable(writes.at(i))) {
                mismatch(describe(QStringLiteral("unexpected line \"%1\" before the command").arg(writes.at(i))));
                break;
            }
        }
    } else {
        if (count != 1)
            mismatch(describe(QStringLiteral("sent %1 time(s)").arg(count)));
        else if (writes.last() != e.line)
            mismatch(describe(QStringLiteral("the batch does not end in the command")));
        for (const QString &line : qAsConst(writes)) {
            if (line != e.line && !echoable(line)) {
                mismatch(describe(QStringLiteral("unexpected line \"%1\"").arg(line)));
                break;
            }
        }
    }
}

void SoakDriver::mismatch(const QString &what)
{
    ++mismatchCount;
    if (mismatches.size() < 200)
        mismatches << what;
    std::fprintf(stderr, "soak: MISMATCH %s\n", qPrintable(what));
}

void SoakDriver::settle(Settle phase)
{
    if (acting) {
        // Not inside an action's message box.
        QTimer::singleShot(50, this, [this, phase] { settle(phase); });
        return;
    }
    settling = true;
    journal(QStringLiteral("settle: base bench, rescan"));
    actionTimer.stop();
    configTimer.stop();
    for (int i = 0; i < bench.size(); ++i) {
        bench[i].present = i < BaseInstruments;
        bench[i].heal();
    }
    writeConfig();
    ++settleScans;
    if (auto *button = mainWindow->findChild<QAbstractButton *>(QStringLiteral("connected_devices_refresh_btn")))
        button->click();
    // Old tabs are deleted once back in the event loop; the new first tab
    // polls a few times meanwhile.
    QTimer::singleShot(4000, this, [this, phase] { sampleSettled(phase); });
}

void SoakDriver::sampleSettled(Settle phase)
{
    const qint64 raw = residentKb();
    // Free heap pages go back to the system, so the figure is what the
    // program holds rather than the high-water mark of the allocator.
    malloc_trim(0);
    const qint64 trimmed = residentKb();
    const qint64 heap = heapInUseKb();
    sampleSeries();
    // The sanitizer's own use (allocator, stack depot) on stderr, for telling
    // its growth from the program's.
    if (__asan_print_accumulated_stats)
        __asan_print_accumulated_stats();
    if (phase == Settle::First) {
        rssFirstRawKb = raw;
        heapFirstKb = heap;
        rssFirstKb = trimmed;
        rssFirstAt = elapsedSeconds();
        settling = false;
        actionTimer.start(uniform(200, 800));
        configTimer.start(uniform(1000, 4000));
        return;
    }
    rssEndRawKb = raw;
    heapEndKb = heap;
    rssEndKb = trimmed;
    conclude();
}

void SoakDriver::finish()
{
    if (settling) {
        endTimer.start(500);
        return;
    }
    if (acting) {
        endTimer.start(50);
        return;
    }
    finished = true;
    actionTimer.stop();
    configTimer.stop();
    rssTimer.stop();
    seriesTimer.stop();
    settle(Settle::End);
}

void SoakDriver::conclude()
{
    checkTraceTotals();
    checkLog();
    writeReport();
    std::fprintf(stderr, "soak: done after %.1f s, %d mismatch(es)\n", elapsedSeconds(), mismatchCount);
    QCoreApplication::quit();
}

// Every operator command the refresh never sends appears in the whole trace
// exactly as often as the operator issued it to a reachable instrument.
void SoakDriver::checkTraceTotals()
{
    QHash<QString, int> seen;
    const QStringList lines = traceFrom(0);
    for (const QString &line : lines) {
        const QString event = line.section(QLatin1Char(' '), 0, 0);
        ++traceEvents[event];
        if (line == QLatin1String("O DefaultRM"))
            ++scans;
        if (event != QLatin1String("W"))
            continue;
        const QString descriptor = line.section(QLatin1Char(' '), 1, 1);
        const QString text = line.section(QLatin1Char(' '), 2);
        if (operatorCommand(text))
            ++seen[descriptor + QLatin1Char('\t') + text];
    }
    QSet<QString> keys;
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        keys.insert(it.key());
    for (auto it = issued.cbegin(); it != issued.cend(); ++it) {
        if (operatorCommand(it.key().section(QLatin1Char('\t'), 1)))
            keys.insert(it.key());
    }
    for (const QString &key : qAsConst(keys)) {
        const int want = issued.value(key);
        const int got = seen.value(key);
        if (want != got)
            mismatch(QStringLiteral("whole trace: \"%1\" to %2 written %3 time(s), issued %4 time(s) while reachable")
                         .arg(key.section(QLatin1Char('\t'), 1), key.section(QLatin1Char('\t'), 0, 0))
                         .arg(got)
                         .arg(want));
    }
}

void SoakDriver::checkLog()
{
    QFile file(QStringLiteral("log.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        logDetail = QStringLiteral("log.txt cannot be read");
        return;
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.isEmpty() || !lines.first().startsWith(QLatin1String("Runtime Log - "))) {
        logDetail = QStringLiteral("no header line");
        return;
    }
    lines.removeFirst();
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
    for (QString &line : lines) {
        if (!stamp.match(line).hasMatch()) {
            logDetail = QStringLiteral("a line without time stamp: \"%1\"").arg(line);
            return;
        }
        line.remove(0, 9);
    }
    logLines = int(lines.size());
    if (lines == messages) {
        logEqual = true;
        return;
    }
    int i = 0;
    while (i < lines.size() && i < messages.size() && lines.at(i) == messages.at(i))
        ++i;
    logDetail = QStringLiteral("%1 line(s) in log.txt, %2 message(s) emitted; first difference at #%3: log \"%4\", emitted \"%5\"")
                    .arg(lines.size())
                    .arg(messages.size())
                    .arg(i + 1)
                    .arg(i < lines.size() ? lines.at(i) : QStringLiteral("<end>"),
                         i < messages.size() ? messages.at(i) : QStringLiteral("<end>"));
}

void SoakDriver::writeReport()
{
    QSaveFile file(reportPath);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "soak: cannot write %s\n", qPrintable(reportPath));
        return;
    }
    QTextStream out(&file);
    out << "seed " << seed << '\n';
    out << "seconds " << seconds << '\n';
    out << "elapsed " << QString::number(elapsedSeconds(), 'f', 1) << '\n';
    int total = 0;
    for (auto it = actions.cbegin(); it != actions.cend(); ++it) {
        if (it.value() == 0)
            continue;
        out << "action " << it.key() << '\t' << it.value() << '\n';
        total += it.value();
    }
    out << "actions " << total << '\n';
    for (auto it = skipped.cbegin(); it != skipped.cend(); ++it)
        out << "skipped " << it.key() << '\t' << it.value() << '\n';
    out << "commands_checked " << commandsChecked << '\n';
    out << "commands_reachable " << commandsReachable << '\n';
    out << "silent_checked " << silentChecked << '\n';
    out << "message_boxes " << boxesClosed << '\n';
    out << "config_writes " << configWrites << '\n';
    for (auto it = configChanges.cbegin(); it != configChanges.cend(); ++it)
        out << "config " << it.key() << '\t' << it.value() << '\n';
    out << "rescans_pressed " << rescansPressed << '\n';
    out << "scans " << scans << '\n';
    for (auto it = traceEvents.cbegin(); it != traceEvents.cend(); ++it)
        out << "trace_events " << it.key() << '\t' << it.value() << '\n';
    out << "messages " << messages.size() << '\n';
    QMap<QString, int> byText;
    static const QRegularExpression code(QStringLiteral("-?\\d+$"));
    for (QString message : qAsConst(messages))
        ++byText[message.replace(code, QStringLiteral("N"))];
    for (auto it = byText.cbegin(); it != byText.cend(); ++it)
        out << "message_kind " << it.key() << '\t' << it.value() << '\n';
    out << "log_lines " << logLines << '\n';
    out << "log_equal " << (logEqual ? 1 : 0) << '\n';
    if (!logDetail.isEmpty())
        out << "log_detail " << logDetail << '\n';
    out << "rss_first_kb " << rssFirstKb << '\n';
    out << "rss_first_at " << QString::number(rssFirstAt, 'f', 1) << '\n';
    out << "rss_end_kb " << rssEndKb << '\n';
    out << "rss_first_raw_kb " << rssFirstRawKb << '\n';
    out << "rss_end_raw_kb " << rssEndRawKb << '\n';
    out << "settle_scans " << settleScans << '\n';
    out << "heap_first_kb " << heapFirstKb << '\n';
    out << "heap_end_kb " << heapEndKb << '\n';
    for (const QString &sample : qAsConst(series))
        out << "sample " << sample << '\n';
    out << "mismatches " << mismatchCount << '\n';
    for (const QString &m : qAsConst(mismatches))
        out << "mismatch " << m << '\n';
    out.flush();
    file.commit();
}

void startSoak()
{
    new SoakDriver(QCoreApplication::instance());
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startSoak)

#include "soakdriver.moc"
