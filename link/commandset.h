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

// Numbers as the instrument reads them: plain decimals independent of the
// locale, no trailing zeros, never an exponent, never "-0".
// A value rounded to the given number of decimals (half away from zero).
QString formatFixed(double value, int decimals);
// A value rounded to the given number of significant digits.
QString formatSignificant(double value, int digits);
// At most six significant digits.
QString formatNumber(double value);
// An output frequency as typed: up to ten significant digits.
QString formatFrequency(double value);
// A power to the instruments' resolution, 0.01 dB.
QString formatPower(double dBm);
inline constexpr int PowerDecimals = 2;

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
