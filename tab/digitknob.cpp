#include "tab/digitknob.h"

#include "link/unitvalue.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QWheelEvent>

DigitKnob::DigitKnob(QLineEdit *edit, Limits limits)
    : QObject(edit)
    , edit(edit)
    , limits(std::move(limits))
{
    pause.setSingleShot(true);
    pause.setInterval(PauseMs);
    connect(&pause, &QTimer::timeout, this, &DigitKnob::settled);
    edit->installEventFilter(this);
}

bool DigitKnob::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != edit || edit->isReadOnly() || !edit->isEnabled())
        return false;
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            return false;
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            step(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    } else if (event->type() == QEvent::Wheel) {
        // Over a field without focus the wheel scrolls what is around it.
        if (!edit->hasFocus())
            return false;
        wheelAngle += static_cast<QWheelEvent *>(event)->angleDelta().y();
        const int notches = wheelAngle / QWheelEvent::DefaultDeltasPerStep;
        wheelAngle -= notches * QWheelEvent::DefaultDeltasPerStep;
        if (notches != 0)
            step(notches);
        return true;
    }
    return false;
}

void DigitKnob::step(int steps)
{
    const QString text = edit->text();
    const std::optional<std::pair<double, double>> range = limits(units::splitNumber(text).suffix);
    if (!range)
        return;
    const std::optional<units::Stepped> next =
        units::stepDigit(text, edit->cursorPosition(), steps, range->first, range->second);
    if (!next || next->text == text)
        return;
    edit->setText(next->text);
    edit->setCursorPosition(next->cursor);
    emit stepped();
    pause.start();
}
