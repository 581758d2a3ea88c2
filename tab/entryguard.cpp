#include "tab/entryguard.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QRadioButton>

EntryGuard::EntryGuard(QWidget *root)
    : QObject(root)
{
    for (QComboBox *combo : root->findChildren<QComboBox *>())
        combo->installEventFilter(this);
    for (QRadioButton *radio : root->findChildren<QRadioButton *>())
        radio->installEventFilter(this);
}

bool EntryGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox *>(watched))
        return !static_cast<QWidget *>(watched)->hasFocus();
    if (event->type() == QEvent::KeyPress && qobject_cast<QRadioButton *>(watched)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_Left && key != Qt::Key_Right)
            return false;
        // Tab and Backtab move the focus without checking anything.
        const bool forward = key == Qt::Key_Down || key == Qt::Key_Right;
        QKeyEvent tab(QEvent::KeyPress, forward ? Qt::Key_Tab : Qt::Key_Backtab, Qt::NoModifier);
        QCoreApplication::sendEvent(watched, &tab);
        return true;
    }
    return false;
}
