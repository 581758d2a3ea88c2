#ifndef USBSYNTH_CTL_COMMANDLINE_H
#define USBSYNTH_CTL_COMMANDLINE_H

#include <QMap>
#include <QString>
#include <QStringList>

// The command line of usbsynth-ctl read into a command, its operands and
// options, checked against what each command accepts. No value is judged
// here; that is the command's work.
class CommandLine
{
public:
    // arguments: without the program name.
    explicit CommandLine(const QStringList &arguments);

    // "list", "get", "set", "sweep", "preset", or empty for none.
    QString command() const { return name; }
    QStringList operands() const { return positionals; }
    bool has(const QString &option) const { return options.contains(option); }
    QString value(const QString &option) const { return options.value(option); }
    // Options in the order given.
    QStringList given() const { return order; }
    bool helpAsked() const { return help; }
    // Why the line cannot be used, or empty.
    QString error() const { return problem; }

    // The help text of a command, or of the program for an empty name.
    static QString usage(const QString &command);

private:
    QString name;
    QStringList positionals;
    QMap<QString, QString> options;
    QStringList order;
    bool help = false;
    QString problem;
};

#endif // USBSYNTH_CTL_COMMANDLINE_H
