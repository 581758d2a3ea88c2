#ifndef USBSYNTH_LOGGER_H
#define USBSYNTH_LOGGER_H

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

// The run log: log.txt in the working directory, replaced at every start,
// one time-stamped line per message. The file is opened and closed for every
// message, so it is complete on disk after each one. A line reaches the file
// whole or not at all; lines that cannot be written wait in memory, in order,
// until writing works again.
class logger : public QObject
{
    Q_OBJECT

public:
    explicit logger(QObject *parent = nullptr);
    ~logger() override;

    // Most lines kept while the log cannot be written; older ones are dropped.
    static constexpr int maxWaiting = 10000;
    // Pause between attempts to write waiting lines.
    static constexpr int retryMs = 3000;

    // A message as one line: line breaks and other control characters are
    // written as escapes (\n, \r, \t, \x1b, \u2028), so no text can start a
    // line of its own. The run log and the status line show messages so.
    static QString oneLine(const QString &message);

public slots:
    void new_log(QString log);

private:
    void flush();
    bool writeLine(const QByteArray &line);
    void failed(const QString &reason);

    QFile logFile;
    QTimer retryTimer;
    QString writeError;               // why the last write stopped
    QByteArray header;                // until it is on disk
    std::deque<QByteArray> waiting;   // stamped lines not yet on disk, oldest first
    qint64 dropped = 0;               // oldest waiting lines given up
    qint64 wholeSize = 0;             // file size up to the last whole line
    bool broken = false;              // the last attempt failed (said once)
};

#endif // USBSYNTH_LOGGER_H
