#include "link/sweeppoints.h"

#include "link/commandset.h"
#include "link/replyparser.h"
#include "link/unitvalue.h"

#include <QFileInfo>
#include <QRegularExpression>

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

ListParse parseList(const QString &text, bool megahertz)
{
    ListParse result;
    // LF, CRLF and CR alone each end a line.
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = text.split(lineEnd);
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
        point.frequency = units::readFrequency(fields.at(0), megahertz);
        if (!point.frequency)
            return bad(QStringLiteral("the frequency is not a number"));
        if (fields.size() > 1 && !fields.at(1).trimmed().isEmpty()) {
            point.power = units::readPower(fields.at(1));
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
                .arg(cmd::formatPower(*point.power), cmd::formatNumber(reply::MinPower),
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

double atResolution(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    // Whole units divided once: the nearest double to the decimal value.
    return std::round(value * scale) / scale + 0.0;
}

namespace {

QList<double> allAtResolution(QList<double> values, int decimals)
{
    for (double &value : values)
        value = atResolution(value, decimals);
    return values;
}

// The value a pass moves along: its frequency, else its power.
double level(const Point &point)
{
    return point.frequency ? *point.frequency : point.power.value_or(0.0);
}

// How the points are walked, said the way they go: a range entered from
// high to low goes down even when its direction reads "Up".
QString directionText(const Settings &settings, const QList<Point> &pass)
{
    if (settings.mode == Mode::List) {
        switch (settings.direction) {
        case Direction::Up:
            return QStringLiteral("in file order");
        case Direction::Down:
            return QStringLiteral("in reverse file order");
        case Direction::UpDown:
            break;
        }
        return QStringLiteral("in file order and back");
    }
    const bool ascending = pass.isEmpty() || level(pass.last()) >= level(pass.first());
    switch (settings.direction) {
    case Direction::Up:
        return ascending ? QStringLiteral("up") : QStringLiteral("down");
    case Direction::Down:
        return ascending ? QStringLiteral("down") : QStringLiteral("up");
    case Direction::UpDown:
        break;
    }
    return ascending ? QStringLiteral("up-down") : QStringLiteral("down-up");
}

} // namespace

Plan plan(const Settings &settings, const Limits &limits, const std::optional<QString> &listText)
{
    Plan result;
    const auto refuse = [&result](const QString &text) {
        result.points.clear();
        result.refusal = text;
        return result;
    };
    const QString tooMany = QStringLiteral("Too many points: %1 (at most %2)");
    const bool power = settings.mode == Mode::Power;
    QList<Point> pass;

    if (settings.mode == Mode::List) {
        if (settings.listFile.isEmpty() || !listText)
            return refuse(QStringLiteral("Cannot read the list file \"%1\"").arg(settings.listFile));
        const QString name = QFileInfo(settings.listFile).fileName();
        const ListParse list = parseList(*listText, limits.unit == QLatin1String("MHz"));
        if (list.badLine > 0)
            return refuse(QStringLiteral("Line %1 of %2: %3").arg(list.badLine).arg(name, list.reason));
        if (list.points.isEmpty())
            return refuse(QStringLiteral("The list file holds no points"));
        pass = list.points;
        result.description = QStringLiteral("list %1").arg(name);
    } else {
        // Typed as in the tab: a frequency may carry a unit, a power dBm.
        const auto read = [&](const QString &text) {
            return power ? units::readPower(text) : units::readFrequency(text, limits.unit == QLatin1String("MHz"));
        };
        const std::optional<double> start = read(settings.start);
        const std::optional<double> stop = read(settings.stop);
        if (!start || !stop)
            return refuse(QStringLiteral("Start and stop must be numbers"));
        const QString unit = power ? QStringLiteral("dBm") : limits.unit;
        const int decimals = power ? cmd::PowerDecimals : limits.frequencyDecimals;
        result.description = QStringLiteral("%1 %2 to %3 %4")
                                 .arg(power ? QStringLiteral("power") : QStringLiteral("frequency"),
                                      cmd::formatFrequency(*start), cmd::formatFrequency(*stop), unit);
        QList<double> values;
        if (!power && settings.byPoints) {
            if (settings.logarithmic && (*start <= 0 || *stop <= 0))
                return refuse(QStringLiteral("Logarithmic spacing needs a start and stop above 0"));
            values = settings.logarithmic ? logarithmic(*start, *stop, settings.count)
                                          : linear(*start, *stop, settings.count);
            result.description += settings.logarithmic ? QStringLiteral(", logarithmic") : QStringLiteral(", linear");
        } else {
            const QString stepUnit = power ? QStringLiteral("dB") : limits.unit;
            const std::optional<double> step = read(settings.step);
            const std::optional<qint64> count = step ? steppedCount(*start, *stop, *step) : std::nullopt;
            if (!count)
                return refuse(QStringLiteral("The step must be a number greater than 0"));
            // Finer steps would repeat points the instrument cannot tell apart.
            const double resolution = std::pow(10.0, -decimals);
            if (*step < resolution * (1 - Rounding))
                return refuse(QStringLiteral("The step must be at least %1 %2")
                                  .arg(cmd::formatFixed(resolution, decimals), stepUnit));
            if (*count > MaxPoints)
                return refuse(tooMany.arg(*count).arg(MaxPoints));
            values = stepped(*start, *stop, *step);
            result.description += QStringLiteral(", step %1 %2").arg(cmd::formatFrequency(*step), stepUnit);
        }
        values = allAtResolution(values, decimals);
        pass = power ? powerPoints(values) : frequencyPoints(values);
    }

    QList<Point> all = ordered(pass, settings.direction, settings.repeat);
    if (all.size() > MaxPoints)
        return refuse(tooMany.arg(all.size()).arg(MaxPoints));
    const QString outside = rangeError(all, limits.minFreq, limits.maxFreq, limits.unit);
    if (!outside.isEmpty())
        return refuse(outside);
    result.description += QStringLiteral(", %1 %2, dwell %3 ms, %4, %5")
                              .arg(all.size())
                              .arg(all.size() == 1 ? QStringLiteral("point") : QStringLiteral("points"))
                              .arg(settings.dwellMs)
                              .arg(directionText(settings, pass),
                                   settings.repeat ? QStringLiteral("repeated until stopped") : QStringLiteral("once"));
    result.points = std::move(all);
    return result;
}

QString pointText(const Point &point, const QString &unit)
{
    QStringList parts;
    if (point.frequency)
        parts << cmd::formatFrequency(*point.frequency) + QLatin1Char(' ') + unit;
    if (point.power)
        parts << cmd::formatPower(*point.power) + QStringLiteral(" dBm");
    return parts.join(QStringLiteral(", "));
}

QString durationText(qint64 ms)
{
    if (ms < 1000)
        return QStringLiteral("%1 ms").arg(ms);
    if (ms < 60000)
        return cmd::formatFixed(double(ms) / 1000, 3) + QStringLiteral(" s");
    const qint64 seconds = ms / 1000;
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
}

QString preview(const Plan &plan, const Settings &settings, const QString &unit)
{
    if (!plan.refusal.isEmpty() || plan.points.isEmpty())
        return plan.refusal;
    const qint64 passMs = startOffsets(plan.points, settings.dwellMs).last();
    const qsizetype count = plan.points.size();
    QString text = count == 1 ? QStringLiteral("1 point, %1: %2").arg(durationText(passMs), pointText(plan.points.first(), unit))
                              : QStringLiteral("%1 points, %2 a pass: first %3, last %4")
                                    .arg(count)
                                    .arg(durationText(passMs), pointText(plan.points.first(), unit),
                                         pointText(plan.points.last(), unit));
    if (settings.repeat)
        text += QStringLiteral("; repeated until stopped");
    return text;
}

QString progressText(qint64 sent, qint64 perPass, bool repeat)
{
    if (perPass < 1 || sent < 1)
        return QString();
    const qint64 inPass = (sent - 1) % perPass + 1;
    if (!repeat)
        return QStringLiteral("Point %1 of %2").arg(inPass).arg(perPass);
    return QStringLiteral("Pass %1, point %2 of %3").arg((sent - 1) / perPass + 1).arg(inPass).arg(perPass);
}

QString stoppedText(qint64 sent, qint64 perPass, bool repeat)
{
    if (!repeat || perPass < 1)
        return QStringLiteral("Sweep stopped after %1 of %2 points").arg(sent).arg(perPass);
    const qint64 passes = sent / perPass;
    const qint64 rest = sent % perPass;
    QString detail;
    if (passes == 0)
        detail = QStringLiteral("%1 of the first pass of %2").arg(rest).arg(perPass);
    else
        detail = QStringLiteral("%1 %2 of %3")
                     .arg(passes)
                     .arg(passes == 1 ? QStringLiteral("pass") : QStringLiteral("passes"))
                     .arg(perPass);
    if (passes > 0 && rest > 0)
        detail += QStringLiteral(" and %1").arg(rest);
    return QStringLiteral("Sweep stopped after %1 %2 (%3)")
        .arg(sent)
        .arg(sent == 1 ? QStringLiteral("point") : QStringLiteral("points"), detail);
}

QString endText(qint64 sent, qint64 perPass, bool repeat, const QString &last)
{
    if (sent < 1)
        return QStringLiteral("Stopped before the first point");
    if (!repeat && sent >= perPass)
        return QStringLiteral("Done: all %1 points sent, the last %2").arg(perPass).arg(last);
    QString where = progressText(sent, perPass, repeat);
    where[0] = where.at(0).toLower();
    return QStringLiteral("Stopped at %1: %2").arg(where, last);
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
