#include "link/replyparser.h"

#include <cmath>

namespace reply {

std::optional<int> readInteger(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<float> readDecimal(const QString &text)
{
    bool ok = false;
    const float value = text.toFloat(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> readDouble(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

PowerReading readPower(const QString &text)
{
    QString whole = text;
    whole.remove(QLatin1Char('\n'));
    const QStringList parts = whole.split(QLatin1Char(','));

    PowerReading reading;
    reading.powerText = parts.size() >= 2 ? parts.at(1) : whole;
    if (reading.powerText.contains(QLatin1String("MIN")) || reading.powerText.contains(QLatin1String("MAX"))) {
        const QStringList tokens = reading.powerText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!tokens.isEmpty())
            reading.value = readDecimal(tokens.first());
    } else {
        reading.value = readDecimal(reading.powerText);
    }

    const QString &first = parts.first();
    if (first.contains(QLatin1String("OFF")))
        reading.status = PowerStatus::Off;
    else if (first.contains(QLatin1String("MIN")))
        reading.status = PowerStatus::Minimum;
    else if (first.contains(QLatin1String("MAX")))
        reading.status = PowerStatus::Maximum;
    return reading;
}

QList<QStringList> splitStates(const QString &text)
{
    QList<QStringList> states;
    const QStringList pieces = text.split(QLatin1Char(';'));
    states.reserve(pieces.size());
    for (const QString &piece : pieces)
        states << piece.split(QLatin1Char(','));
    return states;
}

QString withoutLastCharacter(QString text)
{
    text.chop(1);
    return text;
}

} // namespace reply
