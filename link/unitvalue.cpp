#include "link/unitvalue.h"

#include <QRegularExpression>

#include <cmath>

namespace units {

namespace {

// Mantissa, optional exponent, optional unit letters.
const QRegularExpression &frequencyForm()
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+))(?:[eE]([+-]?\\d{1,4}))?\\s*([A-Za-z]*)\\s*$"));
    return form;
}

// The power of ten of a frequency unit in hertz; empty for an unknown or
// ambiguous one.
std::optional<int> unitExponent(const QString &unit)
{
    if (unit == QLatin1String("m"))
        return std::nullopt; // milli or mega: the operator must say
    const QString lower = unit.toLower();
    if (lower.isEmpty())
        return std::nullopt;
    if (lower == QLatin1String("hz"))
        return 0;
    if (lower == QLatin1String("k") || lower == QLatin1String("khz"))
        return 3;
    if (lower == QLatin1String("m") || lower == QLatin1String("mhz"))
        return 6;
    if (lower == QLatin1String("g") || lower == QLatin1String("ghz"))
        return 9;
    return std::nullopt;
}

int fieldExponent(bool megahertz)
{
    return megahertz ? 6 : 9;
}

// The value of mantissa x 10^exponent, read by the correctly rounded
// decimal reader, so no binary scaling error enters.
std::optional<double> decimalValue(QString mantissa, int exponent)
{
    if (mantissa.endsWith(QLatin1Char('.')))
        mantissa.chop(1);
    bool ok = false;
    const double value = QStringLiteral("%1e%2").arg(mantissa).arg(exponent).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString limitText(double value)
{
    return QString::number(value, 'g', 10);
}

qint64 powerOfTen(int exponent)
{
    qint64 value = 1;
    while (exponent-- > 0)
        value *= 10;
    return value;
}

} // namespace

std::optional<double> readFrequency(const QString &text, bool megahertz)
{
    const QRegularExpressionMatch match = frequencyForm().match(text);
    if (!match.hasMatch())
        return std::nullopt;
    int exponent = match.captured(2).toInt() - fieldExponent(megahertz);
    if (!match.captured(3).isEmpty()) {
        const std::optional<int> unit = unitExponent(match.captured(3));
        if (!unit)
            return std::nullopt;
        exponent += *unit;
    } else {
        exponent += fieldExponent(megahertz);
    }
    return decimalValue(match.captured(1), exponent);
}

std::optional<double> readPower(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+))(?:[eE]([+-]?\\d{1,4}))?\\s*(?:dbm)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return decimalValue(match.captured(1), match.captured(2).toInt());
}

QString frequencyHint(double minFreq, double maxFreq, bool megahertz)
{
    const QString unit = megahertz ? QStringLiteral("MHz") : QStringLiteral("GHz");
    return QStringLiteral("%1 to %2 %3; a number in %3, or with a unit: 2.4G, 100k")
        .arg(limitText(minFreq), limitText(maxFreq), unit);
}

QString powerHint(double minDbm, double maxDbm)
{
    return QStringLiteral("%1 to %2 dBm; a number in dBm (-3 or -3 dBm), or MIN or MAX")
        .arg(limitText(minDbm), limitText(maxDbm));
}

NumberText splitNumber(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^\\s*[+-]?(?:\\d+\\.?\\d*|\\.\\d+)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return {QString(), text};
    return {match.captured(0).trimmed(), text.mid(match.capturedEnd(0))};
}

std::optional<double> frequencyFactor(const QString &suffix, bool megahertz)
{
    const QString unit = suffix.trimmed();
    if (unit.isEmpty())
        return 1.0;
    const std::optional<int> exponent = unitExponent(unit);
    if (!exponent)
        return std::nullopt;
    return std::pow(10.0, *exponent - fieldExponent(megahertz));
}

std::optional<Stepped> stepDigit(const QString &text, int cursor, int steps, double min, double max)
{
    static const QRegularExpression form(QStringLiteral("^(\\s*)(-?)(\\d*)(?:\\.(\\d*))?"));
    const QRegularExpressionMatch match = form.match(text);
    const QString lead = match.captured(1);
    const QString whole = match.captured(3);
    const QString fraction = match.captured(4);
    const bool point = match.capturedStart(4) >= 0;
    const bool negative = !match.captured(2).isEmpty();
    // Beyond 15 digits a step no longer lands on an exact value.
    if ((whole.isEmpty() && fraction.isEmpty()) || whole.size() + fraction.size() > 15)
        return std::nullopt;
    const QString suffix = text.mid(match.capturedEnd(0));
    if (!suffix.isEmpty() && (suffix.at(0).isDigit() || suffix.at(0) == QLatin1Char('.')))
        return std::nullopt;

    // Positions of the integer digits, the point and the fraction digits.
    const int numberStart = int(lead.size()) + (negative ? 1 : 0);
    const int integerEnd = numberStart + int(whole.size());
    const int fractionStart = integerEnd + 1;
    QList<int> digitPositions;
    for (int i = 0; i < whole.size(); ++i)
        digitPositions << numberStart + i;
    for (int i = 0; i < fraction.size(); ++i)
        digitPositions << fractionStart + i;
    int chosen = digitPositions.first();
    for (int position : qAsConst(digitPositions)) {
        if (position < cursor)
            chosen = position;
    }
    const int place = chosen < integerEnd ? integerEnd - chosen - 1 : -(chosen - fractionStart + 1);

    // In units of the last decimal, so every step is exact.
    const int decimals = int(fraction.size());
    qint64 value = (whole + fraction).toLongLong();
    if (negative)
        value = -value;
    const double scale = double(powerOfTen(decimals));
    const qint64 low = qint64(std::ceil(min * scale - 1e-6));
    const qint64 high = qint64(std::floor(max * scale + 1e-6));
    if (low > high)
        return std::nullopt;
    value = qBound(low, value + qint64(steps) * powerOfTen(place + decimals), high);

    QString digits = QString::number(qAbs(value)).rightJustified(decimals + 1, QLatin1Char('0'));
    const QString integerPart = digits.left(digits.size() - decimals);
    QString number = (value < 0 ? QStringLiteral("-") : QString()) + integerPart;
    if (point)
        number += QLatin1Char('.') + digits.right(decimals);

    Stepped stepped;
    stepped.text = lead + number + suffix;
    const int newNumberStart = int(lead.size()) + (value < 0 ? 1 : 0);
    const int newIntegerEnd = newNumberStart + int(integerPart.size());
    stepped.cursor = place >= 0 ? qMax(newNumberStart, newIntegerEnd - place) : newIntegerEnd + 1 - place;
    return stepped;
}

} // namespace units
