#include "link/commandset.h"

#include <cmath>

namespace cmd {

namespace {

// Whole numbers a double holds exactly.
constexpr double ExactWhole = 9007199254740992.0;

// "-" and the digits of n / 10^decimals, without trailing zeros.
QString fromUnits(qint64 units, int decimals)
{
    if (units == 0)
        return QStringLiteral("0");
    QString digits = QString::number(units < 0 ? -units : units).rightJustified(decimals + 1, QLatin1Char('0'));
    QString text = digits.left(digits.size() - decimals);
    QString fraction = digits.right(decimals);
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (!fraction.isEmpty())
        text += QLatin1Char('.') + fraction;
    return units < 0 ? QLatin1Char('-') + text : text;
}

} // namespace

QString formatFixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return QString::number(value);
    decimals = qBound(0, decimals, 15);
    const double units = std::round(value * std::pow(10.0, decimals));
    if (std::abs(units) < ExactWhole)
        return fromUnits(qint64(units), decimals);
    // Too large for that many decimals: whole digits only.
    return formatSignificant(value, 15);
}

QString formatSignificant(double value, int digits)
{
    if (!std::isfinite(value) || value == 0)
        return std::isfinite(value) ? QStringLiteral("0") : QString::number(value);
    digits = qBound(1, digits, 17);
    const int exponent = int(std::floor(std::log10(std::abs(value))));
    const int decimals = digits - 1 - exponent;
    if (decimals >= 0)
        return formatFixed(value, decimals);
    // Above the digits kept: round, then pad with zeros.
    const double units = std::round(value / std::pow(10.0, -decimals));
    const QString zeros(-decimals, QLatin1Char('0'));
    return units == 0 ? QStringLiteral("0") : fromUnits(qint64(units), 0) + zeros;
}

QString formatNumber(double value)
{
    return formatSignificant(value, 6);
}

QString formatFrequency(double value)
{
    return formatSignificant(value, 10);
}

QString formatPower(double dBm)
{
    return formatFixed(dBm, PowerDecimals);
}

QString setFrequency(double frequency)
{
    return QStringLiteral("FREQ:SET %1\n").arg(formatFrequency(frequency));
}

QString setPower(double dBm)
{
    return QStringLiteral("POWE:SET %1\n").arg(formatPower(dBm));
}

QString rfOutput(bool on)
{
    return on ? QStringLiteral("POWE:RF 1\n") : QStringLiteral("POWE:RF 0\n");
}

QString referenceExternal(bool external)
{
    return external ? QStringLiteral("FREQ:REF:EXT 1\n") : QStringLiteral("FREQ:REF:EXT 0\n");
}

QString referenceFrequency(int megahertz)
{
    return QStringLiteral("FREQ:REF:FREQ %1\n").arg(megahertz);
}

QString referenceDivider(int divider)
{
    return QStringLiteral("FREQ:REF:DIV %1\n").arg(divider);
}

QString pllMode(int mode)
{
    return QStringLiteral("FREQ:PLLM %1\n").arg(mode);
}

QString temperatureThreshold(double celsius)
{
    return QStringLiteral("SYST:TEMPTHRES %1\n").arg(formatNumber(celsius));
}

QString loadState(int state)
{
    return QStringLiteral("SYST:LOADSTATE %1\n").arg(state);
}

QString saveState(int state)
{
    return QStringLiteral("SYST:SAVESTATE %1\n").arg(state);
}

QString bootState(int state)
{
    return QStringLiteral("SYST:BOOTSTATE %1\n").arg(state);
}

} // namespace cmd
