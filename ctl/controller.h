#ifndef USBSYNTH_CTL_CONTROLLER_H
#define USBSYNTH_CTL_CONTROLLER_H

#include "ctl/instruments.h"

#include <QStringList>
#include <QTextStream>

class CommandLine;

// The commands of usbsynth-ctl over the panel's link code: each finds its
// instruments, checks every value before anything is sent, and opens an
// instrument session only for its own batch, as the panel does.
class Controller
{
public:
    enum ExitStatus { Done = 0, Refused = 1, Usage = 2, Unreachable = 3 };

    Controller(QTextStream &out, QTextStream &err, bool progressShown);

    // Runs one command line (without the program name); the exit status.
    int run(const QStringList &arguments);

private:
    int list(const CommandLine &line);
    int get(const CommandLine &line);
    int set(const CommandLine &line);
    int sweep(const CommandLine &line);
    int preset(const CommandLine &line);

    // The instruments a SERIAL operand names ("all": every one); reports
    // what was tried when none is found.
    QList<Instruments::Instrument> targets(Instruments &instruments, const QString &serial);
    // Sends lines in one session; false (reported) when the instrument cannot
    // be opened or a write fails.
    bool sendBatch(visa::Session rm, const Instruments::Instrument &instrument, const QStringList &lines);
    int refuse(const QString &message);
    int usageError(const QString &command, const QString &message);

    QTextStream &out;
    QTextStream &err;
    bool progressShown;
};

#endif // USBSYNTH_CTL_CONTROLLER_H
