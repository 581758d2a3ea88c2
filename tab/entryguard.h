#ifndef USBSYNTH_ENTRYGUARD_H
#define USBSYNTH_ENTRYGUARD_H

#include <QObject>

class QWidget;

// Keeps stray input from changing an instrument: the wheel over a combo box
// that does not have focus does nothing, and the arrow keys on a radio
// button move the focus instead of choosing the neighbouring button.
class EntryGuard : public QObject
{
    Q_OBJECT

public:
    // Guards every combo box and radio button inside root.
    explicit EntryGuard(QWidget *root);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

#endif // USBSYNTH_ENTRYGUARD_H
