#include "link/commandset.h"

namespace cmd {

QString formatNumber(double value)
{
    return QString::number(value, 'g', 6);
}

QString formatFrequency(double value)
{
    return QString::number(value, 'g', 10);
}

QString setFrequency(double frequency)
{
    return QStringLiteral("FREQ:SET %1\n").arg(formatFrequency(frequency));
}

QString setPower(double dBm)
{
    return QStringLiteral("POWE:SET %1\n").arg(formatNumber(dBm));
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
