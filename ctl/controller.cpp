#include "ctl/controller.h"

#include "ctl/commandline.h"
#include "ctl/stopsignals.h"
#include "link/commandset.h"
#include "link/presets.h"
#include "link/replyparser.h"
#include "link/statereading.h"
#include "link/unitvalue.h"
#include "link/sweeppoints.h"
#include "link/visa.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int MinReferenceMHz = 10;
constexpr int MaxReferenceMHz = 100;
constexpr int MinDivider = 1;
constexpr int MaxDivider = 127;
constexpr int MaxDwellMs = 3600000;

// A whole decimal number, nothing around it.
std::optional<int> typedInteger(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || text.trimmed() != text)
        return std::nullopt;
    return value;
}

QString rangeText(const models::FrequencyRange &range)
{
    return QStringLiteral("%1-%2 %3").arg(range.minFreq).arg(range.maxFreq).arg(models::unitText(range));
}

QString powerStatusText(reply::PowerStatus status)
{
    switch (status) {
    case reply::PowerStatus::Off:
        return QStringLiteral("off");
    case reply::PowerStatus::Minimum:
        return QStringLiteral("min");
    case reply::PowerStatus::Maximum:
        return QStringLiteral("max");
    case reply::PowerStatus::None:
        break;
    }
    return QStringLiteral("none");
}

// The readings of one instrument; a field the pass did not read is absent.
QJsonObject readingsObject(const Instruments::Instrument &instrument, const state::Readings &r)
{
    QJsonObject o;
    o.insert(QStringLiteral("serial"), instrument.serial);
    o.insert(QStringLiteral("model"), instrument.model);
    o.insert(QStringLiteral("unit"), models::unitText(instrument.range));
    if (r.frequency)
        o.insert(QStringLiteral("frequency"), *r.frequency);
    if (r.actualFrequency)
        o.insert(QStringLiteral("actualFrequency"), *r.actualFrequency);
    if (r.locked)
        o.insert(QStringLiteral("locked"), *r.locked);
    if (r.powerDbm) {
        o.insert(QStringLiteral("power"), double(*r.powerDbm));
        o.insert(QStringLiteral("powerStatus"), powerStatusText(r.powerStatus));
    }
    if (r.rfOn)
        o.insert(QStringLiteral("rf"), *r.rfOn);
    if (r.referenceExternal)
        o.insert(QStringLiteral("reference"), *r.referenceExternal ? QStringLiteral("external") : QStringLiteral("internal"));
    if (r.referenceMHz)
        o.insert(QStringLiteral("referenceFrequency"), *r.referenceMHz);
    if (r.divider)
        o.insert(QStringLiteral("divider"), *r.divider);
    if (r.pllInteger)
        o.insert(QStringLiteral("pll"), *r.pllInteger ? QStringLiteral("int") : QStringLiteral("frac"));
    if (r.temperature)
        o.insert(QStringLiteral("temperature"), double(*r.temperature));
    if (!r.error.isEmpty())
        o.insert(QStringLiteral("error"), r.error);
    return o;
}

// The same as "name: value" lines, values as the panel shows them.
QString readingsText(const Instruments::Instrument &instrument, const state::Readings &r)
{
    const QString unit = models::unitText(instrument.range);
    QStringList lines;
    const auto add = [&lines](const char *name, const QString &value) {
        lines << QLatin1String(name) + QStringLiteral(": ") + value;
    };
    add("serial", instrument.serial);
    add("model", instrument.model);
    if (r.frequency)
        add("frequency", QString::number(*r.frequency, 'f', instrument.range.megahertz ? 3 : 6) + QLatin1Char(' ') + unit);
    if (r.actualFrequency)
        add("actual frequency", *r.actualFrequency + QLatin1Char(' ') + unit);
    if (r.locked)
        add("locked", *r.locked ? QStringLiteral("yes") : QStringLiteral("no"));
    if (r.powerDbm) {
        add("power", cmd::formatPower(*r.powerDbm) + QStringLiteral(" dBm"));
        add("power status", powerStatusText(r.powerStatus));
    }
    if (r.rfOn)
        add("rf", *r.rfOn ? QStringLiteral("on") : QStringLiteral("off"));
    if (r.referenceExternal)
        add("reference", *r.referenceExternal ? QStringLiteral("external") : QStringLiteral("internal"));
    if (r.referenceMHz)
        add("reference frequency", QString::number(*r.referenceMHz) + QStringLiteral(" MHz"));
    if (r.divider)
        add("divider", QString::number(*r.divider));
    if (r.pllInteger)
        add("pll", *r.pllInteger ? QStringLiteral("int") : QStringLiteral("frac"));
    if (r.temperature)
        add("temperature", QString::number(*r.temperature, 'f', 2) + QStringLiteral(" C"));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

Controller::Controller(QTextStream &out, QTextStream &err, bool progressShown)
    : out(out)
    , err(err)
    , progressShown(progressShown)
{
}

int Controller::run(const QStringList &arguments)
{
    const CommandLine line(arguments);
    if (line.helpAsked()) {
        out << CommandLine::usage(line.command());
        return Done;
    }
    if (!line.error().isEmpty())
        return usageError(line.command(), line.error());
    const QString command = line.command();
    if (command == QLatin1String("list"))
        return list(line);
    if (command == QLatin1String("get"))
        return get(line);
    if (command == QLatin1String("set"))
        return set(line);
    if (command == QLatin1String("sweep"))
        return sweep(line);
    return preset(line);
}

int Controller::refuse(const QString &message)
{
    err << "usbsynth-ctl: " << message << "; nothing sent\n";
    return Refused;
}

int Controller::usageError(const QString &command, const QString &message)
{
    err << "usbsynth-ctl: " << message << "\n\n" << CommandLine::usage(command);
    return Usage;
}

QList<Instruments::Instrument> Controller::targets(Instruments &instruments, const QString &serial)
{
    const bool all = serial == QLatin1String("all");
    const QList<Instruments::Instrument> found = instruments.find(all ? QString() : serial);
    if (found.isEmpty()) {
        err << "usbsynth-ctl: " << (all ? QStringLiteral("no supported instrument found")
                                        : QStringLiteral("instrument %1 not found").arg(serial))
            << '\n' << instruments.diagnosis() << '\n';
    }
    return found;
}

bool Controller::sendBatch(visa::Session rm, const Instruments::Instrument &instrument, const QStringList &lines)
{
    visa::Session session = visa::NullSession;
    const visa::Status opened = visa::open(rm, instrument.resource, &session);
    if (opened < 0) {
        err << "usbsynth-ctl: " << instrument.serial << ": Connection Error: Code " << opened << '\n';
        visa::close(session);
        return false;
    }
    bool written = true;
    for (const QString &line : lines) {
        const visa::Status status = visa::writeLine(session, line);
        if (status < 0) {
            err << "usbsynth-ctl: " << instrument.serial << ": Write Error: Code " << status << " at "
                << QString(line).remove(QLatin1Char('\n')) << '\n';
            written = false;
            break; // the rest would act on a setting that did not take
        }
    }
    visa::close(session);
    return written;
}

int Controller::list(const CommandLine &line)
{
    Instruments instruments;
    const QList<Instruments::Instrument> found = instruments.find();
    if (found.isEmpty() && !VisaLibrary::instance().isLoaded()) {
        err << "usbsynth-ctl: " << instruments.diagnosis() << '\n';
        return Unreachable;
    }
    if (line.has(QStringLiteral("json"))) {
        QJsonArray array;
        for (const Instruments::Instrument &i : found) {
            array.append(QJsonObject{{QStringLiteral("serial"), i.serial},
                                     {QStringLiteral("model"), i.model},
                                     {QStringLiteral("firmware"), i.firmware},
                                     {QStringLiteral("minFrequency"), double(i.range.minFreq)},
                                     {QStringLiteral("maxFrequency"), double(i.range.maxFreq)},
                                     {QStringLiteral("unit"), models::unitText(i.range)},
                                     {QStringLiteral("resource"), i.resource}});
        }
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    } else {
        for (const Instruments::Instrument &i : found)
            out << i.serial << '\t' << i.model << '\t' << i.firmware << '\t' << rangeText(i.range) << '\t'
                << i.resource << '\n';
    }
    return Done;
}

int Controller::get(const CommandLine &line)
{
    Instruments instruments;
    const QString serial = line.operands().first();
    const QList<Instruments::Instrument> found = targets(instruments, serial);
    if (found.isEmpty())
        return Unreachable;
    int status = Done;
    QJsonArray array;
    QStringList texts;
    for (const Instruments::Instrument &instrument : found) {
        visa::Session session = visa::NullSession;
        const visa::Status opened = visa::open(instruments.resourceManager(), instrument.resource, &session);
        state::Readings readings;
        if (opened < 0)
            readings.error = QStringLiteral("Connection Error: Code %1").arg(qint64(opened));
        else
            readings = state::read(session, {instrument.productId, double(instrument.range.minFreq),
                                             double(instrument.range.maxFreq)});
        visa::close(session);
        if (!readings.error.isEmpty()) {
            err << "usbsynth-ctl: " << instrument.serial << ": " << readings.error << '\n';
            status = Unreachable;
        }
        array.append(readingsObject(instrument, readings));
        texts << readingsText(instrument, readings);
    }
    if (!line.has(QStringLiteral("json")))
        out << texts.join(QLatin1Char('\n'));
    else if (serial == QLatin1String("all"))
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    else
        out << QJsonDocument(array.first().toObject()).toJson(QJsonDocument::Indented);
    return status;
}

int Controller::set(const CommandLine &line)
{
    if (line.given().isEmpty())
        return usageError(QStringLiteral("set"), QStringLiteral("set needs at least one setting"));

    // Values that do not depend on the model, checked before any I/O.
    const auto choice = [&line](const char *option, const char *no, const char *yes) -> std::optional<bool> {
        const QString value = line.value(QLatin1String(option)).toLower();
        if (value == QLatin1String(no))
            return false;
        if (value == QLatin1String(yes))
            return true;
        return std::nullopt;
    };
    std::optional<bool> rf, external, integer;
    std::optional<int> referenceMHz, divider;
    QString powerLine;
    if (line.has(QStringLiteral("rf")) && !(rf = choice("rf", "off", "on")))
        return refuse(QStringLiteral("--rf %1: not on or off").arg(line.value(QStringLiteral("rf"))));
    if (line.has(QStringLiteral("ref")) && !(external = choice("ref", "int", "ext")))
        return refuse(QStringLiteral("--ref %1: not int or ext").arg(line.value(QStringLiteral("ref"))));
    if (line.has(QStringLiteral("pll")) && !(integer = choice("pll", "frac", "int")))
        return refuse(QStringLiteral("--pll %1: not frac or int").arg(line.value(QStringLiteral("pll"))));
    if (line.has(QStringLiteral("ref-freq"))) {
        const QString typed = line.value(QStringLiteral("ref-freq"));
        referenceMHz = typedInteger(typed);
        if (!referenceMHz || *referenceMHz < MinReferenceMHz || *referenceMHz > MaxReferenceMHz)
            return refuse(QStringLiteral("--ref-freq %1: not a whole number from %2 to %3 MHz")
                              .arg(typed).arg(MinReferenceMHz).arg(MaxReferenceMHz));
    }
    if (line.has(QStringLiteral("divider"))) {
        const QString typed = line.value(QStringLiteral("divider"));
        divider = typedInteger(typed);
        if (!divider || *divider < MinDivider || *divider > MaxDivider)
            return refuse(QStringLiteral("--divider %1: not a whole number from %2 to %3")
                              .arg(typed).arg(MinDivider).arg(MaxDivider));
    }
    if (line.has(QStringLiteral("power"))) {
        const QString typed = line.value(QStringLiteral("power"));
        if (typed.compare(QLatin1String("min"), Qt::CaseInsensitive) == 0) {
            powerLine = QString::fromLatin1(cmd::PowerMinimum);
        } else if (typed.compare(QLatin1String("max"), Qt::CaseInsensitive) == 0) {
            powerLine = QString::fromLatin1(cmd::PowerMaximum);
        } else {
            const std::optional<double> dBm = units::readPower(typed);
            if (!dBm || *dBm < reply::MinPower || *dBm > reply::MaxPower)
                return refuse(QStringLiteral("--power %1: not min, max or a power from %2 to %3 dBm")
                                  .arg(typed).arg(double(reply::MinPower)).arg(double(reply::MaxPower)));
            powerLine = cmd::setPower(*dBm);
        }
    }

    Instruments instruments;
    const QList<Instruments::Instrument> found = targets(instruments, line.operands().first());
    if (found.isEmpty())
        return Unreachable;

    // The frequency against every instrument's own range before anything goes out.
    QList<QStringList> batches;
    for (const Instruments::Instrument &instrument : found) {
        QStringList lines;
        if (rf && !*rf)
            lines << cmd::rfOutput(false);
        if (external)
            lines << cmd::referenceExternal(*external);
        if (referenceMHz)
            lines << cmd::referenceFrequency(*referenceMHz);
        if (divider)
            lines << cmd::referenceDivider(*divider);
        if (integer)
            lines << cmd::pllMode(*integer ? 1 : 0);
        if (line.has(QStringLiteral("freq"))) {
            const QString typed = line.value(QStringLiteral("freq"));
            const models::FrequencyRange &range = instrument.range;
            const std::optional<double> frequency = units::readFrequency(typed, range.megahertz);
            if (!frequency || *frequency < double(range.minFreq) || *frequency > double(range.maxFreq))
                return refuse(QStringLiteral("--freq %1: not a frequency within %2 of %3")
                                  .arg(typed, rangeText(range), instrument.serial));
            lines << cmd::setFrequency(*frequency);
        }
        if (!powerLine.isEmpty())
            lines << powerLine;
        if (rf && *rf)
            lines << cmd::rfOutput(true);
        batches << lines;
    }

    int status = Done;
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (!sendBatch(instruments.resourceManager(), found.at(i), batches.at(i)))
            status = Unreachable;
    }
    return status;
}

int Controller::sweep(const CommandLine &line)
{
    const QString serial = line.operands().first();
    if (serial == QLatin1String("all"))
        return usageError(QStringLiteral("sweep"), QStringLiteral("a sweep drives one instrument, not all"));
    const int modes = int(line.has(QStringLiteral("freq"))) + int(line.has(QStringLiteral("power")))
                      + int(line.has(QStringLiteral("list")));
    if (modes != 1)
        return usageError(QStringLiteral("sweep"), QStringLiteral("give one of --freq, --power, --list"));
    if (line.has(QStringLiteral("down")) && line.has(QStringLiteral("up-down")))
        return usageError(QStringLiteral("sweep"), QStringLiteral("--down and --up-down exclude each other"));
    const bool byPoints = line.has(QStringLiteral("points"));
    if ((byPoints || line.has(QStringLiteral("log"))) && !line.has(QStringLiteral("freq")))
        return usageError(QStringLiteral("sweep"), QStringLiteral("--points and --log go with --freq"));
    if (line.has(QStringLiteral("log")) && !byPoints)
        return usageError(QStringLiteral("sweep"), QStringLiteral("--log needs --points"));

    sweep::Settings settings;
    settings.direction = line.has(QStringLiteral("down"))      ? sweep::Direction::Down
                         : line.has(QStringLiteral("up-down")) ? sweep::Direction::UpDown
                                                               : sweep::Direction::Up;
    settings.repeat = line.has(QStringLiteral("repeat"));
    if (line.has(QStringLiteral("dwell"))) {
        const QString typed = line.value(QStringLiteral("dwell"));
        const std::optional<int> dwell = typedInteger(typed);
        if (!dwell || *dwell < sweep::MinDwellMs || *dwell > MaxDwellMs)
            return refuse(QStringLiteral("--dwell %1: not a whole number of ms from %2 to %3")
                              .arg(typed).arg(sweep::MinDwellMs).arg(MaxDwellMs));
        settings.dwellMs = *dwell;
    }
    std::optional<QString> listText;
    QString range;
    if (line.has(QStringLiteral("list"))) {
        settings.mode = sweep::Mode::List;
        settings.listFile = line.value(QStringLiteral("list"));
        QFile file(settings.listFile);
        if (file.open(QIODevice::ReadOnly))
            listText = QString::fromUtf8(file.readAll());
    } else {
        const bool power = line.has(QStringLiteral("power"));
        settings.mode = power ? sweep::Mode::Power : sweep::Mode::Frequency;
        range = line.value(power ? QStringLiteral("power") : QStringLiteral("freq"));
        const QStringList parts = range.split(QLatin1Char(':'));
        if (parts.size() != (byPoints ? 2 : 3))
            return usageError(QStringLiteral("sweep"),
                              QStringLiteral("--%1 %2: expected %3").arg(power ? QStringLiteral("power") : QStringLiteral("freq"),
                                                                       range,
                                                                       byPoints ? QStringLiteral("START:STOP")
                                                                                : QStringLiteral("START:STOP:STEP")));
        settings.start = parts.at(0);
        settings.stop = parts.at(1);
        if (byPoints) {
            settings.byPoints = true;
            settings.logarithmic = line.has(QStringLiteral("log"));
            const std::optional<int> count = typedInteger(line.value(QStringLiteral("points")));
            if (!count || *count < 1 || *count > sweep::MaxPoints)
                return refuse(QStringLiteral("--points %1: not a whole number from 1 to %2")
                                  .arg(line.value(QStringLiteral("points")))
                                  .arg(sweep::MaxPoints));
            settings.count = *count;
        } else {
            settings.step = parts.at(2);
        }
    }

    Instruments instruments;
    const QList<Instruments::Instrument> found = targets(instruments, serial);
    if (found.isEmpty())
        return Unreachable;
    const Instruments::Instrument &instrument = found.first();
    const QString unit = models::unitText(instrument.range);
    const sweep::Limits limits{double(instrument.range.minFreq), double(instrument.range.maxFreq), unit,
                               instrument.range.megahertz ? 3 : 6};
    const sweep::Plan plan = sweep::plan(settings, limits, listText);
    if (!plan.refusal.isEmpty())
        return refuse(plan.refusal);

    // Paced as the sweep window paces: every point due at a fixed time from
    // the start, one session per point.
    StopSignals stops;
    const QList<sweep::Point> &points = plan.points;
    const qint64 perPass = points.size();
    const QList<qint64> offsets = sweep::startOffsets(points, settings.dwellMs);
    if (progressShown)
        err << "Sweep started: " << plan.description << '\n' << Qt::flush;
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    bool reached = true;
    while (stops.caught() == 0 && (settings.repeat || sent < perPass)) {
        const sweep::Point &point = points.at(sent % perPass);
        if (!sendBatch(instruments.resourceManager(), instrument, sweep::commandLines(point))) {
            reached = false;
            break;
        }
        ++sent;
        if (progressShown)
            err << '\r' << sweep::progressText(sent, perPass, settings.repeat) << ": "
                << sweep::pointText(point, unit) << "\x1b[K" << Qt::flush;
        int delay;
        while (stops.caught() == 0
               && (delay = sweep::delayMs(sweep::deadlineMs(offsets, sent), clock.nsecsElapsed())) > 0)
            stops.wait(delay);
    }
    if (progressShown)
        err << '\n';
    const int signal = stops.caught();
    if (!reached || signal != 0) {
        const QString last = sent > 0 ? sweep::pointText(points.at((sent - 1) % perPass), unit) : QString();
        err << sweep::stoppedText(sent, perPass, settings.repeat) << '\n'
            << sweep::endText(sent, perPass, settings.repeat, last) << '\n';
    }
    err << Qt::flush;
    if (!reached)
        return Unreachable;
    return signal != 0 ? 128 + signal : Done;
}

int Controller::preset(const CommandLine &line)
{
    const QStringList operands = line.operands();
    const QString action = operands.value(0);
    if (action == QLatin1String("list")) {
        if (operands.size() != 1 || line.has(QStringLiteral("rf")))
            return usageError(QStringLiteral("preset"), QStringLiteral("preset list takes nothing more"));
        const QString path = presets::defaultFilePath();
        const presets::Contents contents = presets::readFile(path);
        if (!contents.error.isEmpty())
            return refuse(QStringLiteral("%1 cannot be read: %2").arg(path, contents.error));
        for (const presets::Preset &preset : contents.presets)
            out << preset.name << '\t' << presets::summary(preset) << '\n';
        return Done;
    }
    if (action != QLatin1String("apply") || operands.size() != 3)
        return usageError(QStringLiteral("preset"), QStringLiteral("preset list, or preset apply SERIAL NAME|FILE"));

    std::optional<bool> rfOn = false;
    if (line.has(QStringLiteral("rf"))) {
        const QString typed = line.value(QStringLiteral("rf")).toLower();
        rfOn = typed == QLatin1String("on") ? std::optional<bool>(true)
               : typed == QLatin1String("off") ? std::optional<bool>(false)
                                               : std::nullopt;
        if (!rfOn)
            return refuse(QStringLiteral("--rf %1: not on or off").arg(line.value(QStringLiteral("rf"))));
    }
    // A path names a file of presets, whose first one is applied; anything
    // else is the name of one of the panel's presets.
    const QString which = operands.at(2);
    const bool file = which.contains(QLatin1Char('/')) || which.endsWith(QLatin1String(".json"));
    const QString path = file ? which : presets::defaultFilePath();
    const presets::Contents contents = presets::readFile(path);
    if (!contents.error.isEmpty())
        return refuse(QStringLiteral("%1 cannot be read: %2").arg(path, contents.error));
    std::optional<presets::Preset> chosen;
    for (const presets::Preset &preset : contents.presets) {
        if (file || preset.name == which) {
            chosen = preset;
            break;
        }
    }
    if (!chosen)
        return refuse(file ? QStringLiteral("%1 holds no preset").arg(path)
                           : QStringLiteral("no preset named \"%1\" in %2").arg(which, path));

    Instruments instruments;
    const QList<Instruments::Instrument> found = targets(instruments, operands.at(1));
    if (found.isEmpty())
        return Unreachable;
    QList<QStringList> batches;
    for (const Instruments::Instrument &instrument : found) {
        const presets::Plan plan = presets::applyLines(*chosen, instrument.range, *rfOn);
        if (!plan.refusal.isEmpty())
            return refuse(QStringLiteral("preset \"%1\" for %2: %3").arg(chosen->name, instrument.serial, plan.refusal));
        batches << plan.lines;
    }
    int status = Done;
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (!sendBatch(instruments.resourceManager(), found.at(i), batches.at(i)))
            status = Unreachable;
    }
    return status;
}
