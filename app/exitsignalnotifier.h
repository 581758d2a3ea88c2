#ifndef USBSYNTH_EXITSIGNALNOTIFIER_H
#define USBSYNTH_EXITSIGNALNOTIFIER_H

#include <QObject>

class QSocketNotifier;

// Catches SIGTERM, SIGINT and SIGHUP and reports them through the event loop,
// so the program can end the normal way (windows destroyed, sessions closed,
// log complete) instead of being cut off. The handler only writes the signal
// number to a socket pair; everything else happens in received(). One
// instance at a time; the previous handlers come back when it is destroyed.
class ExitSignalNotifier : public QObject
{
    Q_OBJECT

public:
    explicit ExitSignalNotifier(QObject *parent = nullptr);
    ~ExitSignalNotifier() override;

    // Signals caught before this wait until the event loop reads them.
    void start();

signals:
    void received(int signalNumber);

private:
    void readPending();

    int fds[2] = {-1, -1};
    QSocketNotifier *notifier = nullptr;
};

#endif // USBSYNTH_EXITSIGNALNOTIFIER_H
