#ifndef USBSYNTH_TESTS_SIMFIXTURE_H
#define USBSYNTH_TESTS_SIMFIXTURE_H

// Points the simulated instruments at a configuration and a trace file in a
// temporary directory, which is also the working directory (for log.txt).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <functional>

class SimFixture
{
public:
    SimFixture()
    {
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        qputenv("USBSYNTH_SIM_CONFIG", path("sim.json").toLocal8Bit());
        qputenv("USBSYNTH_SIM_TRACE", path("trace.txt").toLocal8Bit());
    }
    ~SimFixture() { QDir::setCurrent(previousDir); }

    QString path(const QString &name) const { return dir.filePath(name); }

    // Replaces the simulator's configuration; it is read again on the next
    // VISA call.
    void configure(const QByteArray &json)
    {
        QFile file(path("sim.json.new"));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the simulator configuration");
        file.write(json);
        file.close();
        // Replaced in one step: a reader never sees the file missing.
        std::rename(QFile::encodeName(path("sim.json.new")).constData(),
                    QFile::encodeName(path("sim.json")).constData());
    }

    void clearTrace() { QFile::remove(path("trace.txt")); }

    // Trace lines without their time stamps, e.g. "W <descriptor> FREQ:SET 5".
    QStringList trace() const
    {
        QFile file(path("trace.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                lines << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        }
        return lines;
    }

    // The lines written to one instrument, in order.
    QStringList writes(const QString &descriptor) const
    {
        QStringList lines;
        const QString prefix = QStringLiteral("W ") + descriptor + QLatin1Char(' ');
        for (const QString &line : trace()) {
            if (line.startsWith(prefix))
                lines << line.mid(prefix.size());
        }
        return lines;
    }

    // The events of one kind (O, F, C, W, R) for one descriptor.
    int count(QChar event, const QString &descriptor) const
    {
        const QString exact = QString(event) + QLatin1Char(' ') + descriptor;
        int n = 0;
        for (const QString &line : trace()) {
            if (line == exact || line.startsWith(exact + QLatin1Char(' ')))
                ++n;
        }
        return n;
    }

    QString log() const
    {
        QFile file(path("log.txt"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // The log's messages without their time stamps.
    QStringList logMessages() const
    {
        QStringList lines = log().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (!lines.isEmpty())
            lines.removeFirst(); // header
        for (QString &line : lines)
            line.remove(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d ")));
        return lines;
    }

private:
    QTemporaryDir dir;
    QString previousDir;
};

// Closes every modal message box that comes up while it lives. A box met
// outside expect() fails the running test at once, naming its text, instead
// of leaving the test to wait on it until its time limit.
class BoxCatcher
{
public:
    BoxCatcher()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                box->done(QMessageBox::Ok);
                if (!expecting)
                    QTest::qFail(qPrintable("unexpected message box: " + box->text()), __FILE__, __LINE__);
                texts << box->text();
            }
        });
        poll.start(10);
    }
    // Runs an action that may raise message boxes; returns their texts.
    QStringList expect(const std::function<void()> &action)
    {
        expecting = true;
        action();
        expecting = false;
        return std::exchange(texts, {});
    }

private:
    QTimer poll;
    QStringList texts;
    bool expecting = false;
};

#endif // USBSYNTH_TESTS_SIMFIXTURE_H
