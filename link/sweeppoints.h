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
// comment, blank lines are skipped. A frequency may carry a unit ("2.4G",
// "100 MHz"), read into the model's unit (MHz when megahertz, else GHz); a
// power may end in "dBm".
struct ListParse
{
    QList<Point> points;
    int badLine = 0; // 1-based number of the first bad line, 0 when none
    QString reason;  // what is wrong with it
};
ListParse parseList(const QString &text, bool megahertz = false);

// The message naming the first point outside the frequency or power range,
// or an empty text when every point fits. Points count from 1.
QString rangeError(const QList<Point> &points, double minFreq, double maxFreq, const QString &unit);

// The lines that set one point: frequency first.
QStringList commandLines(const Point &point);

// A value rounded to the instrument's resolution (decimals of its unit),
// never -0.
double atResolution(double value, int decimals);

enum class Mode { Frequency, Power, List };

// What the sweep window's fields ask for, as typed.
struct Settings
{
    Mode mode = Mode::Frequency;
    QString start, stop, step;
    bool byPoints = false; // frequency: a number of points instead of a step
    int count = 11;
    bool logarithmic = false;
    QString listFile;
    int dwellMs = 100;
    Direction direction = Direction::Up;
    bool repeat = false;
};

// What the instrument accepts: the model's frequency range, its unit and
// the decimals of 1 kHz in that unit.
struct Limits
{
    double minFreq = 0;
    double maxFreq = 0;
    QString unit;
    int frequencyDecimals = 3;
};

// What Start does with some settings: the points of one pass in the order
// sent, or the reason nothing is sent.
struct Plan
{
    QList<Point> points;
    QString refusal;     // empty when the sweep can start
    QString description; // "frequency 35 to 4400 MHz, step ..."
};

// listText: the list file's contents, or nothing when it cannot be read.
// Computed points lie on the instrument's resolution.
Plan plan(const Settings &settings, const Limits &limits, const std::optional<QString> &listText);

// A point as shown: "2217.5 MHz", "-3.5 dBm", "2217.5 MHz, -3.5 dBm".
QString pointText(const Point &point, const QString &unit);
// "1.25 s", "250 ms", "2 min 5 s", "3 h 20 min".
QString durationText(qint64 ms);
// What Start will do: points, the time of one pass and the first and last
// point; or the reason it would refuse.
QString preview(const Plan &plan, const Settings &settings, const QString &unit);
// Where a sweep is after sending point n (from 1, counting on through
// passes): "Point 9 of 11", or "Pass 4, point 9 of 11" when repeating.
QString progressText(qint64 sent, qint64 perPass, bool repeat);
// The log's line at the end: "Sweep stopped after 9 of 11 points", or for a
// repeated sweep "Sweep stopped after 42 points (3 passes of 11 and 9)".
QString stoppedText(qint64 sent, qint64 perPass, bool repeat);
// The window's line once a sweep has ended: where it stopped, or that it
// ran to its end; last is the text of the point sent last.
QString endText(qint64 sent, qint64 perPass, bool repeat, const QString &last);

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
