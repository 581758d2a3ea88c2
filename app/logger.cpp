#include "app/logger.h"

#include <QDate>
#include <QDebug>
#include <QTextStream>
#include <QTime>

logger::logger(QObject *parent)
    : QObject(parent)
{
    logFile.setFileName(QStringLiteral("log.txt"));
    if (logFile.exists())
        logFile.remove();
    if (!logFile.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qDebug() << "Error Opening Log File";
        return;
    }
    QTextStream out(&logFile);
    out << "Runtime Log - " << QDate::currentDate().toString(Qt::TextDate) << '\n';
    out.flush();
    logFile.close();
}

void logger::new_log(QString log)
{
    if (!logFile.open(QIODevice::Append | QIODevice::Text)) {
        qDebug() << "Error Opening Log File";
        return;
    }
    QTextStream out(&logFile);
    out << QTime::currentTime().toString(Qt::TextDate) << ' ' << log << '\n';
    out.flush();
    logFile.close();
}
