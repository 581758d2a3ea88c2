#ifndef USBSYNTH_LOGGER_H
#define USBSYNTH_LOGGER_H

#include <QFile>
#include <QObject>
#include <QString>

// The run log: log.txt in the working directory, replaced at every start,
// one time-stamped line per message. The file is opened and closed for every
// message, so it is complete on disk after each one.
class logger : public QObject
{
    Q_OBJECT

public:
    explicit logger(QObject *parent = nullptr);

public slots:
    void new_log(QString log);

private:
    QFile logFile;
};

#endif // USBSYNTH_LOGGER_H
