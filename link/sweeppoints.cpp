#include "link/sweeppoints.h"

#include "link/commandset.h"
#include "link/replyparser.h"

#include <algorithm>
#include <cmath>

namespace sweep {

namespace {

// Relative tolerance for rounding in start + i * step and in span / step.
constexpr double Rounding = 1e-9;

} // namespace

std::optional<qint64> steppedCount(double start, double stop, double step)
{
    if (!(step > 0) || !std::isfinite(step) || !std::isfinite(start) || !std::isfinite(stop))
        return std::nullopt;
    const double steps = std::abs(stop - start) / step;
    // Anything this large is refused anyway; keep the cast defined.
    if (steps > 1e15)
        return qint64(1e15);
    return qint64(std::floor(steps * (1 + Rounding))) + 1;
}

QList<double> stepped(double start, double stop, double step)
{
    const std::optional<qint64> count = steppedCount(start, stop, step);
    if (!count || *count > MaxPoints)
        return {};
    const double sign = stop < start ? -1.0 : 1.0;
    QList<double> values;
    values.reserve(*count);
    for (qint64 i = 0; i < *count; ++i)
        values << start + sign * double(i) * step;
    if (std::abs(values.last() - stop) <= Rounding * std::max(std::abs(stop), step))
        values.last() = stop;
    return values;
}

QList<double> linear(double start, double stop, int count)
{
    QList<double> values;
    if (count < 1)
        return values;
    values.reserve(count);
    values << start;
    for (int i = 1; i < count - 1; ++i)
        values << start + (stop - start) * double(i) / double(count - 1);
    if (count > 1)
        values << stop;
    return values;
}

QList<double> logarithmic(double start, double stop, int count)
{
    QList<double> values;
    if (count < 1 || !(start > 0) || !(stop > 0))
        return values;
    values.reserve(count);
    values << start;
    const double ratio = stop / start;
    for (int i = 1; i < count - 1; ++i)
        values << start * std::pow(ratio, double(i) / double(count - 1));
    if (count > 1)
        values << stop;
    return values;
}

QList<Point> ordered(const QList<Point> &pass, Direction direction, bool repeat)
{
    QList<Point> reversed(pass.crbegin(), pass.crend());
    switch (direction) {
    case Direction::Up:
        return pass;
    case Direction::Down:
        return reversed;
    case Direction::UpDown:
        break;
    }
    QList<Point> points = pass;
    if (!reversed.isEmpty())
        points.append(reversed.mid(1));
    if (repeat && points.size() > 1)
        points.removeLast();
    return points;
}

QList<Point> frequencyPoints(const QList<double> &values)
{
    QList<Point> points;
    points.reserve(values.size());
    for (double value : values)
        points.append(Point{value, std::nullopt, 0});
    return points;
}

QList<Point> powerPoints(const QList<double> &values)
{
    QList<Point> points;
    points.reserve(values.size());
    for (double value : values)
        points.append(Point{std::nullopt, value, 0});
    return points;
}

ListParse parseList(const QString &text)
{
    ListParse result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        const qsizetype comment = line.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const auto bad = [&](const QString &reason) {
            result.points.clear();
            result.badLine = i + 1;
            result.reason = reason;
            return result;
        };
        const QStringList fields = line.split(QLatin1Char(','));
        if (fields.size() > 3)
            return bad(QStringLiteral("more than three fields"));
        Point point;
        point.frequency = reply::readDouble(fields.at(0).trimmed());
        if (!point.frequency)
            return bad(QStringLiteral("the frequency is not a number"));
        if (fields.size() > 1 && !fields.at(1).trimmed().isEmpty()) {
            point.power = reply::readDouble(fields.at(1).trimmed());
            if (!point.power)
                return bad(QStringLiteral("the power is not a number"));
        }
        if (fields.size() > 2) {
            bool ok = false;
            point.dwellMs = fields.at(2).trimmed().toInt(&ok);
            if (!ok || point.dwellMs < MinDwellMs)
                return bad(QStringLiteral("the dwell is not a whole number of at least %1 ms").arg(MinDwellMs));
        }
        if (result.points.size() == MaxPoints)
            return bad(QStringLiteral("more than %1 points").arg(MaxPoints));
        result.points.append(point);
    }
    return result;
}

QString rangeError(const QList<Point> &points, double minFreq, double maxFreq, const QString &unit)
{
    for (qsizetype i = 0; i < points.size(); ++i) {
        const Point &point = points.at(i);
        if (point.frequency && (*point.frequency < minFreq || *point.frequency > maxFreq)) {
            return QStringLiteral("Point %1 (%2 %3) is outside the frequency range %4-%5 %3")
                .arg(i + 1)
                .arg(cmd::formatFrequency(*point.frequency), unit, cmd::formatNumber(minFreq),
                     cmd::formatNumber(maxFreq));
        }
        if (point.power && (*point.power < double(reply::MinPower) || *point.power > double(reply::MaxPower))) {
            return QStringLiteral("Point %1 (%2 dBm) is outside the power range %3 to %4 dBm")
                .arg(i + 1)
                .arg(cmd::formatNumber(*point.power), cmd::formatNumber(reply::MinPower),
                     cmd::formatNumber(reply::MaxPower));
        }
    }
    return QString();
}

QStringList commandLines(const Point &point)
{
    QStringList lines;
    if (point.frequency)
        lines << cmd::setFrequency(*point.frequency);
    if (point.power)
        lines << cmd::setPower(*point.power);
    return lines;
}

QList<qint64> startOffsets(const QList<Point> &points, int dwellMs)
{
    QList<qint64> offsets;
    offsets.reserve(points.size() + 1);
    qint64 at = 0;
    offsets << at;
    for (const Point &point : points) {
        at += point.dwellMs > 0 ? point.dwellMs : dwellMs;
        offsets << at;
    }
    return offsets;
}

qint64 deadlineMs(const QList<qint64> &offsets, qint64 n)
{
    const qint64 perPass = offsets.size() - 1;
    if (perPass < 1)
        return 0;
    return (n / perPass) * offsets.last() + offsets.at(n % perPass);
}

int delayMs(qint64 deadlineMs, qint64 elapsedNs)
{
    const qint64 remainingNs = deadlineMs * 1000000 - elapsedNs;
    if (remainingNs <= 0)
        return 0;
    return int((remainingNs + 999999) / 1000000);
}

} // namespace sweep
