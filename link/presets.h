#ifndef USBSYNTH_PRESETS_H
#define USBSYNTH_PRESETS_H

#include "link/modeltable.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Named instrument settings kept on the workstation, their file format and
// the command lines that apply one to an instrument.
namespace presets {

// One preset: the settings as last read from an instrument. The frequency is
// kept in MHz whatever the model's unit, so a preset fits any model whose
// range holds it.
struct Preset
{
    QString name;
    double frequencyMHz = 0;
    double powerDbm = 0;
    bool referenceExternal = false;
    int referenceMHz = 10;
    int divider = 1;
    bool pllInteger = false;
    // Members this version does not know, kept so that a file written by a
    // newer version loses nothing when this one saves it.
    QJsonObject unknown;

    bool operator==(const Preset &other) const;
};

// The file's format version; files of a later version are read as far as
// they are understood.
inline constexpr int FormatVersion = 1;

// The value ranges a preset may hold.
inline constexpr double MinPowerDbm = -90;
inline constexpr double MaxPowerDbm = 90;
inline constexpr int MinReferenceMHz = 10;
inline constexpr int MaxReferenceMHz = 100;
inline constexpr int MinDivider = 1;
inline constexpr int MaxDivider = 127;

// What is wrong with a preset's values, or an empty text.
QString check(const Preset &preset);

// A file read whole, or the reason it could not be: then no preset at all.
struct Contents
{
    QList<Preset> presets;
    QJsonObject unknown; // top-level members kept for writing back
    QString error;
};

Contents parse(const QByteArray &json);
QByteArray serialize(const QList<Preset> &presets, const QJsonObject &unknown = {});

// The file in the user's data folder ($XDG_DATA_HOME/usbsynth/presets.json).
QString defaultFilePath();
// Reads a preset file; a missing file is an empty list, not an error.
Contents readFile(const QString &path);
// Writes the file atomically (it is replaced whole or not at all), creating
// its folder; an error text, or empty on success.
QString writeFile(const QString &path, const QList<Preset> &presets, const QJsonObject &unknown = {});

// The lines that apply a preset to an instrument of the given range, in
// this order: RF off, reference source, reference frequency (external
// reference only), divider, PLL mode, frequency, power, and RF on when asked.
struct Plan
{
    QStringList lines;
    QString refusal; // the value the instrument cannot take; then no lines
};
Plan applyLines(const Preset &preset, const models::FrequencyRange &range, bool rfOnAfter);

// The preset's settings in one short line, e.g.
// "2400 MHz, -5 dBm, internal reference, divider 1, fractional".
QString summary(const Preset &preset);

// A name not yet in the list: the name itself, else "name (2)", "name (3)"...
QString freeName(const QString &name, const QList<Preset> &presets);

} // namespace presets

#endif // USBSYNTH_PRESETS_H
