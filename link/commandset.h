#ifndef USBSYNTH_COMMANDSET_H
#define USBSYNTH_COMMANDSET_H

#include <QString>

// The lines the panel sends to an instrument. Every line is one ASCII line
// ending in a line feed; commands are built from a template with one %1.
namespace cmd {

inline constexpr char Identify[] = "*IDN?\n";

// Queries, in the order of one refresh pass.
inline constexpr char QueryReferenceExternal[] = "FREQ:REF:EXT?\n";
inline constexpr char QueryRfOutput[] = "POWE:RF?\n";
inline constexpr char QueryReferenceFrequency[] = "FREQ:REF:FREQ?\n";
inline constexpr char QueryPllMode[] = "FREQ:PLLM?\n";
inline constexpr char QueryReferenceDivider[] = "FREQ:REF:DIV?\n";
inline constexpr char QueryLock[] = "FREQ:LOCK?\n";
inline constexpr char QueryPower[] = "POWE:SET?\n";
inline constexpr char QueryFrequency[] = "FREQ:SET?\n";
inline constexpr char QueryActualFrequency[] = "FREQ:RETACT?\n";
inline constexpr char QueryStoredStates[] = "SYST:READSTATE?\n";
inline constexpr char QueryTemperature[] = "SYST:TEMP?\n";

inline constexpr char PowerMinimum[] = "POWE:SET MIN\n";
inline constexpr char PowerMaximum[] = "POWE:SET MAX\n";

// A number as the instrument expects it: at most six significant digits,
// no trailing zeros, independent of the locale.
QString formatNumber(double value);
// An output frequency as typed: up to ten significant digits, no trailing
// zeros, never in exponent form for any frequency a model accepts.
QString formatFrequency(double value);

QString setFrequency(double frequency);   // in the model's unit
QString setPower(double dBm);
QString rfOutput(bool on);
QString referenceExternal(bool external);
QString referenceFrequency(int megahertz);
QString referenceDivider(int divider);
QString pllMode(int mode);                // 0 fractional, 1 integer
QString temperatureThreshold(double celsius);
QString loadState(int state);
QString saveState(int state);
QString bootState(int state);

} // namespace cmd

#endif // USBSYNTH_COMMANDSET_H
