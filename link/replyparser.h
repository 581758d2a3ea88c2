#ifndef USBSYNTH_REPLYPARSER_H
#define USBSYNTH_REPLYPARSER_H

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Readers for instrument replies and operator-typed numbers. They never
// throw: a text that does not read gives an empty optional.
namespace reply {

// A decimal integer; white space at either end (the line feed) is ignored.
std::optional<int> readInteger(const QString &text);
// A finite decimal number in single precision; white space at either end is
// ignored. "nan", "inf" and values beyond float range do not read.
std::optional<float> readDecimal(const QString &text);
// The same in double precision, for typed frequencies sent as typed.
std::optional<double> readDouble(const QString &text);

// The output power the panel accepts, in dBm, read back or sent.
inline constexpr float MinPower = -90.0f;
inline constexpr float MaxPower = 90.0f;

// The status word of a "POWE:SET?" reply.
enum class PowerStatus { None, Off, Minimum, Maximum };

// A "POWE:SET?" reply such as "-12.5", "-12.5 MIN" or "OFF,-12.5".
struct PowerReading
{
    QString powerText;           // the power part, line feeds removed
    std::optional<float> value;  // its number, when it reads
    PowerStatus status = PowerStatus::None;
};
PowerReading readPower(const QString &text);

// The stored-state dump: states separated by ";", fields by ",", both splits
// keeping empty pieces. Line feeds are left in the fields.
QList<QStringList> splitStates(const QString &text);

// A reply shown as received less its last character (its line feed).
QString withoutLastCharacter(QString text);

} // namespace reply

#endif // USBSYNTH_REPLYPARSER_H
