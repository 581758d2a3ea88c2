#include "app/logger.h"

#include <QDate>
#include <QDebug>
#include <QFileInfo>
#include <QTime>

#include <cerrno>
#include <cstring>

logger::logger(QObject *parent)
    : QObject(parent)
{
    // Fixed at start, so the log stays put if the working directory changes.
    logFile.setFileName(QFileInfo(QStringLiteral("log.txt")).absoluteFilePath());
    header = "Runtime Log - " + QDate::currentDate().toString(Qt::TextDate).toUtf8() + '\n';
    retryTimer.setInterval(retryMs);
    connect(&retryTimer, &QTimer::timeout, this, &logger::flush);
    flush();
}

logger::~logger()
{
    flush();
}

QString logger::oneLine(const QString &message)
{
    QString line;
    line.reserve(message.size());
    for (const QChar c : message) {
        const QChar::Category category = c.category();
        if (category != QChar::Other_Control && category != QChar::Separator_Line
            && category != QChar::Separator_Paragraph) {
            line += c;
        } else if (c == QLatin1Char('\n')) {
            line += QLatin1String("\\n");
        } else if (c == QLatin1Char('\r')) {
            line += QLatin1String("\\r");
        } else if (c == QLatin1Char('\t')) {
            line += QLatin1String("\\t");
        } else if (c.unicode() <= 0xff) {
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            line += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return line;
}

void logger::new_log(QString log)
{
    waiting.push_back(QTime::currentTime().toString(Qt::TextDate).toUtf8() + ' ' + oneLine(log).toUtf8() + '\n');
    if (waiting.size() > size_t(maxWaiting)) {
        waiting.pop_front();
        ++dropped;
    }
    flush();
}

// Writes the header if it is still due, then every waiting line, oldest
// first, stopping at the first failure.
void logger::flush()
{
    if (header.isEmpty() && waiting.empty())
        return;
    // Nothing of this run is in the file before the header: start it afresh.
    if (!header.isEmpty() && logFile.exists())
        logFile.remove();
    const QIODevice::OpenMode mode = header.isEmpty() ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate;
    if (!logFile.open(mode | QIODevice::Text | QIODevice::Unbuffered)) {
        failed(logFile.errorString());
        return;
    }
    wholeSize = logFile.size();

    bool ok = header.isEmpty() || writeLine(header);
    if (ok)
        header.clear();
    if (ok && dropped > 0) {
        // Stamped like the oldest line kept, in whose place the lost ones stood.
        ok = writeLine(waiting.front().left(8) + ' ' + QByteArray::number(dropped) + " Log Messages Dropped\n");
        if (ok)
            dropped = 0;
    }
    while (ok && !waiting.empty()) {
        ok = writeLine(waiting.front());
        if (ok)
            waiting.pop_front();
    }
    logFile.close();
    if (!ok) {
        failed(writeError);
        return;
    }
    retryTimer.stop();
    if (broken) {
        broken = false;
        qDebug().noquote() << "Log File Writable Again:" << logFile.fileName();
    }
}

// Appends one line; on a short or failed write the file is cut back to the
// end of the last whole line.
bool logger::writeLine(const QByteArray &line)
{
    const qint64 written = logFile.write(line);
    if (written == line.size()) {
        wholeSize = logFile.size();
        return true;
    }
    // A short write leaves no error on the file; errno tells why it stopped.
    writeError = written < 0 ? logFile.errorString() : QString::fromLocal8Bit(std::strerror(errno));
    logFile.resize(wholeSize);
    return false;
}

void logger::failed(const QString &reason)
{
    if (!retryTimer.isActive())
        retryTimer.start();
    if (broken)
        return;
    broken = true;
    qDebug().noquote() << "Error Opening Log File" << logFile.fileName() + QLatin1Char(':') << reason;
}
