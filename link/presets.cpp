#include "link/presets.h"

#include "link/commandset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>

namespace presets {

namespace {

const QString FormatName = QStringLiteral("usbsynth-presets");
const QStringList KnownKeys = {"name", "frequencyMHz", "powerDbm", "reference", "referenceMHz", "divider", "pllMode"};

QString number(double value)
{
    return QString::number(value, 'g', 10);
}

// Reads one preset object; an error text names the member at fault.
QString readPreset(const QJsonObject &object, Preset *preset)
{
    const auto text = [&](const char *key, QString *out) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isString())
            return false;
        *out = value.toString();
        return true;
    };
    const auto real = [&](const char *key, double *out) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isDouble())
            return false;
        *out = value.toDouble();
        return true;
    };
    const auto integer = [&](const char *key, int *out) {
        double value = 0;
        if (!real(key, &value) || value != std::floor(value) || std::abs(value) > 1e9)
            return false;
        *out = int(value);
        return true;
    };
    if (!text("name", &preset->name) || preset->name.trimmed().isEmpty())
        return QStringLiteral("a preset without a name");
    const QString which = QStringLiteral("preset \"%1\": ").arg(preset->name);
    if (!real("frequencyMHz", &preset->frequencyMHz))
        return which + QStringLiteral("no frequencyMHz number");
    if (!real("powerDbm", &preset->powerDbm))
        return which + QStringLiteral("no powerDbm number");
    QString reference;
    if (!text("reference", &reference) || (reference != "internal" && reference != "external"))
        return which + QStringLiteral("reference is not \"internal\" or \"external\"");
    preset->referenceExternal = reference == QLatin1String("external");
    if (!integer("referenceMHz", &preset->referenceMHz))
        return which + QStringLiteral("no referenceMHz whole number");
    if (!integer("divider", &preset->divider))
        return which + QStringLiteral("no divider whole number");
    QString mode;
    if (!text("pllMode", &mode) || (mode != "fractional" && mode != "integer"))
        return which + QStringLiteral("pllMode is not \"fractional\" or \"integer\"");
    preset->pllInteger = mode == QLatin1String("integer");
    const QString wrong = check(*preset);
    if (!wrong.isEmpty())
        return which + wrong;
    preset->unknown = object;
    for (const QString &key : KnownKeys)
        preset->unknown.remove(key);
    return QString();
}

} // namespace

bool Preset::operator==(const Preset &other) const
{
    return name == other.name && frequencyMHz == other.frequencyMHz && powerDbm == other.powerDbm
           && referenceExternal == other.referenceExternal && referenceMHz == other.referenceMHz
           && divider == other.divider && pllInteger == other.pllInteger && unknown == other.unknown;
}

QString check(const Preset &preset)
{
    if (!std::isfinite(preset.frequencyMHz) || preset.frequencyMHz <= 0)
        return QStringLiteral("frequency %1 MHz is not a frequency").arg(number(preset.frequencyMHz));
    if (!(preset.powerDbm >= MinPowerDbm && preset.powerDbm <= MaxPowerDbm))
        return QStringLiteral("power %1 dBm is outside %2 to %3 dBm")
            .arg(number(preset.powerDbm)).arg(MinPowerDbm).arg(MaxPowerDbm);
    if (preset.referenceMHz < MinReferenceMHz || preset.referenceMHz > MaxReferenceMHz)
        return QStringLiteral("reference %1 MHz is outside %2 to %3 MHz")
            .arg(preset.referenceMHz).arg(MinReferenceMHz).arg(MaxReferenceMHz);
    if (preset.divider < MinDivider || preset.divider > MaxDivider)
        return QStringLiteral("divider %1 is outside %2 to %3").arg(preset.divider).arg(MinDivider).arg(MaxDivider);
    return QString();
}

Contents parse(const QByteArray &json)
{
    Contents contents;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    const auto damaged = [&](const QString &why) {
        Contents broken;
        broken.error = why;
        return broken;
    };
    if (parseError.error != QJsonParseError::NoError)
        return damaged(QStringLiteral("not JSON (%1 at byte %2)").arg(parseError.errorString()).arg(parseError.offset));
    if (!document.isObject())
        return damaged(QStringLiteral("not a JSON object"));
    QJsonObject top = document.object();
    if (top.value(QLatin1String("format")).toString() != FormatName)
        return damaged(QStringLiteral("not a preset file (\"format\" is not \"%1\")").arg(FormatName));
    if (!top.value(QLatin1String("version")).isDouble() || top.value(QLatin1String("version")).toDouble() < 1)
        return damaged(QStringLiteral("no format version"));
    if (!top.value(QLatin1String("presets")).isArray())
        return damaged(QStringLiteral("no \"presets\" list"));
    for (const QJsonValue &value : top.value(QLatin1String("presets")).toArray()) {
        Preset preset;
        if (!value.isObject())
            return damaged(QStringLiteral("a preset that is not an object"));
        const QString error = readPreset(value.toObject(), &preset);
        if (!error.isEmpty())
            return damaged(error);
        for (const Preset &earlier : std::as_const(contents.presets)) {
            if (earlier.name == preset.name)
                return damaged(QStringLiteral("two presets named \"%1\"").arg(preset.name));
        }
        contents.presets << preset;
    }
    for (const char *key : {"format", "version", "presets"})
        top.remove(QLatin1String(key));
    contents.unknown = top;
    return contents;
}

QByteArray serialize(const QList<Preset> &presets, const QJsonObject &unknown)
{
    QJsonArray list;
    for (const Preset &preset : presets) {
        QJsonObject object = preset.unknown;
        object.insert(QStringLiteral("name"), preset.name);
        object.insert(QStringLiteral("frequencyMHz"), preset.frequencyMHz);
        object.insert(QStringLiteral("powerDbm"), preset.powerDbm);
        object.insert(QStringLiteral("reference"),
                      preset.referenceExternal ? QStringLiteral("external") : QStringLiteral("internal"));
        object.insert(QStringLiteral("referenceMHz"), preset.referenceMHz);
        object.insert(QStringLiteral("divider"), preset.divider);
        object.insert(QStringLiteral("pllMode"), preset.pllInteger ? QStringLiteral("integer") : QStringLiteral("fractional"));
        list.append(object);
    }
    QJsonObject top = unknown;
    top.insert(QStringLiteral("format"), FormatName);
    top.insert(QStringLiteral("version"), FormatVersion);
    top.insert(QStringLiteral("presets"), list);
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

QString defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/usbsynth/presets.json");
}

Contents readFile(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        Contents unreadable;
        unreadable.error = QStringLiteral("cannot be read (%1)").arg(file.errorString());
        return unreadable;
    }
    return parse(file.readAll());
}

QString writeFile(const QString &path, const QList<Preset> &presets, const QJsonObject &unknown)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot create the folder of %1").arg(path);
    QSaveFile file(path);
    const QByteArray json = serialize(presets, unknown);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit())
        return QStringLiteral("cannot write %1 (%2)").arg(path, file.errorString());
    return QString();
}

Plan applyLines(const Preset &preset, const models::FrequencyRange &range, bool rfOnAfter)
{
    Plan plan;
    const QString wrong = check(preset);
    if (!wrong.isEmpty()) {
        plan.refusal = wrong;
        return plan;
    }
    const double frequency = range.megahertz ? preset.frequencyMHz : preset.frequencyMHz / 1000;
    if (!range.known || frequency < range.minFreq || frequency > range.maxFreq) {
        plan.refusal = QStringLiteral("frequency %1 %2 is outside this instrument's %3 to %4 %2")
                           .arg(number(frequency), models::unitText(range))
                           .arg(range.minFreq)
                           .arg(range.maxFreq);
        return plan;
    }
    plan.lines << cmd::rfOutput(false) << cmd::referenceExternal(preset.referenceExternal);
    if (preset.referenceExternal)
        plan.lines << cmd::referenceFrequency(preset.referenceMHz);
    plan.lines << cmd::referenceDivider(preset.divider) << cmd::pllMode(preset.pllInteger ? 1 : 0)
               << cmd::setFrequency(frequency) << cmd::setPower(preset.powerDbm);
    if (rfOnAfter)
        plan.lines << cmd::rfOutput(true);
    return plan;
}

QString summary(const Preset &preset)
{
    return QStringLiteral("%1 MHz, %2 dBm, %3 reference%4, divider %5, %6")
        .arg(number(preset.frequencyMHz), number(preset.powerDbm),
             preset.referenceExternal ? QStringLiteral("external") : QStringLiteral("internal"),
             preset.referenceExternal ? QStringLiteral(" %1 MHz").arg(preset.referenceMHz) : QString())
        .arg(preset.divider)
        .arg(preset.pllInteger ? QStringLiteral("integer") : QStringLiteral("fractional"));
}

QString freeName(const QString &name, const QList<Preset> &presets)
{
    const auto taken = [&](const QString &candidate) {
        return std::any_of(presets.begin(), presets.end(), [&](const Preset &p) { return p.name == candidate; });
    };
    QString candidate = name;
    for (int n = 2; taken(candidate); ++n)
        candidate = QStringLiteral("%1 (%2)").arg(name).arg(n);
    return candidate;
}

} // namespace presets
