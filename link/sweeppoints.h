#ifndef USBSYNTH_SWEEPPOINTS_H
#define USBSYNTH_SWEEPPOINTS_H

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The points of a sweep and when each is due: generation from a range or a
// list file, order, range checks and the schedule. No I/O, no widgets.
namespace sweep {

inline constexpr qsizetype MaxPoints = 100000;
inline constexpr int MinDwellMs = 10;

enum class Direction { Up, Down, UpDown };

// One step of a sweep; a missing value is not sent.
struct Point
{
    std::optional<double> frequency; // in the model's unit
    std::optional<double> power;     // dBm
    int dwellMs = 0;                 // 0: the sweep's own dwell
};

// How many values start, start +- step, ... reach without going past stop;
// empty when step is not a positive finite number.
std::optional<qint64> steppedCount(double start, double stop, double step);
// Those values, each computed as start + i * step (no accumulated error); a
// last value within rounding of stop is stop itself.
QList<double> stepped(double start, double stop, double step);
// count values from start to stop, both included, evenly spaced, or with an
// even ratio (start and stop above 0).
QList<double> linear(double start, double stop, int count);
QList<double> logarithmic(double start, double stop, int count);

// One pass in the chosen direction. Up-down turns without repeating the
// turning point; when the sweep repeats, a pass also leaves out its last
// point, which the next pass starts with.
QList<Point> ordered(const QList<Point> &pass, Direction direction, bool repeat);

QList<Point> frequencyPoints(const QList<double> &values);
QList<Point> powerPoints(const QList<double> &values);

// A list file: one point a line, frequency[,power[,dwell ms]]; "#" starts a
// comment, blank lines are skipped.
struct ListParse
{
    QList<Point> points;
    int badLine = 0; // 1-based number of the first bad line, 0 when none
    QString reason;  // what is wrong with it
};
ListParse parseList(const QString &text);

// The message naming the first point outside the frequency or power range,
// or an empty text when every point fits. Points count from 1.
QString rangeError(const QList<Point> &points, double minFreq, double maxFreq, const QString &unit);

// The lines that set one point: frequency first.
QStringList commandLines(const Point &point);

// Start of each point relative to the sweep's start, in ms; one entry more
// than points, the last being the length of a whole pass.
QList<qint64> startOffsets(const QList<Point> &points, int dwellMs);
// When the n-th point sent (from 0, counting on through repeated passes) is
// due: always from the sweep's start, so late points do not delay later ones.
qint64 deadlineMs(const QList<qint64> &offsets, qint64 n);
// Whole milliseconds from now (elapsed since the start, in ns) until a
// deadline, never before it; 0 when it has passed.
int delayMs(qint64 deadlineMs, qint64 elapsedNs);

} // namespace sweep

#endif // USBSYNTH_SWEEPPOINTS_H
