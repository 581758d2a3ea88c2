#ifndef USBSYNTH_UNITVALUE_H
#define USBSYNTH_UNITVALUE_H

#include <QString>

#include <optional>

// Numbers as operators type them into frequency and power fields, with an
// optional unit, and the knob-like stepping of one digit of such a text.
// Locale-independent; nothing here throws.
namespace units {

// A frequency such as "2.4G", "2400 MHz", "100k", "2.4e9 Hz" or a bare number,
// which is taken in the field's unit. Unit letters are read in any case,
// except a lone "m" (milli or mega?), which does not read. The value comes
// back in the field's unit, MHz when megahertz is true, else GHz, converted
// in decimal so that "0.035G" is exactly 35 MHz.
std::optional<double> readFrequency(const QString &text, bool megahertz);

// A power in dBm: a number with an optional "dBm" (any case, space or not).
std::optional<double> readPower(const QString &text);

// The line added under a refused value: the range and the accepted forms.
QString frequencyHint(double minFreq, double maxFreq, bool megahertz);
QString powerHint(double minDbm, double maxDbm);

// A typed text split into its leading number ("-12.5", no exponent) and what
// follows it (" dBm", "G"); an empty number when the text starts otherwise.
struct NumberText
{
    QString number;
    QString suffix;
};
NumberText splitNumber(const QString &text);

// How many field units (MHz or GHz) one unit of a frequency suffix is: 1 for
// none, 1000 for "G" in a MHz field; empty for a suffix that does not read.
std::optional<double> frequencyFactor(const QString &suffix, bool megahertz);

// One knob step: the digit left of the cursor (the first digit when none is
// left of it) goes up or down by steps, carrying into the other digits; the
// value stays within min and max (in the text's own unit). The number keeps
// its decimals, its suffix is kept, and the cursor stays right of the same
// decimal place. Empty when the text does not start with a plain number.
struct Stepped
{
    QString text;
    int cursor = 0;
};
std::optional<Stepped> stepDigit(const QString &text, int cursor, int steps, double min, double max);

} // namespace units

#endif // USBSYNTH_UNITVALUE_H
