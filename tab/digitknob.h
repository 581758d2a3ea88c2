#ifndef USBSYNTH_DIGITKNOB_H
#define USBSYNTH_DIGITKNOB_H

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>
#include <utility>

class QLineEdit;

// Turns Up/Down and the mouse wheel (while the field has focus) in a number
// field into steps of the digit left of the cursor, as the knob of a bench
// generator does, and reports the value once the operator pauses.
class DigitKnob : public QObject
{
    Q_OBJECT

public:
    // The limits, in the unit of the field's text, for the suffix that
    // follows its number; empty when that text cannot be stepped.
    using Limits = std::function<std::optional<std::pair<double, double>>(const QString &suffix)>;

    static constexpr int PauseMs = 300;

    DigitKnob(QLineEdit *edit, Limits limits);

    // Forgets a pending value (it was sent another way).
    void cancel() { pause.stop(); }
    // A stepped value waits for the operator's pause.
    bool pending() const { return pause.isActive(); }

signals:
    // The text changed by a step; the value is not sent yet.
    void stepped();
    // PauseMs after the last step.
    void settled();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void step(int steps);

    QLineEdit *edit;
    Limits limits;
    QTimer pause;
    int wheelAngle = 0; // eighths of a degree not yet a whole notch
};

#endif // USBSYNTH_DIGITKNOB_H
