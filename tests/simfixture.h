#ifndef USBSYNTH_TESTS_SIMFIXTURE_H
#define USBSYNTH_TESTS_SIMFIXTURE_H

// Points the simulated instruments at a configuration and a trace file in a
// temporary directory, which is also the working directory (for log.txt).
#include <QApplication>
#include <QMessageBox>
#include <QSaveFile>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <QtTest/qtestspontaneevent.h>

#include <functional>
#include <utility>

// Wheel notches as the window system delivers them, over a widget's centre.
inline void wheel(QWidget &target, int notches)
{
    QWidget *window = target.window();
    const QPoint at = target.mapTo(window, target.rect().center());
    for (int i = 0; i < qAbs(notches) && window->windowHandle(); ++i) {
        QWheelEvent event(at, target.mapToGlobal(target.rect().center()), QPoint(), QPoint(0, notches > 0 ? 120 : -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&event);
        QCoreApplication::sendEvent(window->windowHandle(), &event);
    }
}

// The top-level window of a kind, the one whose title ends so when given:
// a tab's own windows are not its children.
template<typename T> T *topLevel(const QString &titleEnd = QString())
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<T *>(top); found && top->windowTitle().endsWith(titleEnd))
            return found;
    return nullptr;
}

// A main window's tabs, and their labels, each marked when its refresh timer runs.
inline QTabWidget *tabs(QWidget &window) { return window.findChild<QTabWidget *>(QStringLiteral("tabWidget")); }
inline QStringList pages(QWidget &window)
{
    QStringList labels;
    for (int i = 0; i < tabs(window)->count(); ++i) {
        auto *timer = tabs(window)->widget(i)->findChild<QTimer *>(QStringLiteral("refreshTimer"));
        labels << tabs(window)->tabText(i) + (timer && timer->isActive() ? QStringLiteral(" polls") : QString());
    }
    return labels;
}

class SimFixture
{
public:
    SimFixture()
    {
        // Settings the panel keeps go to a folder of this test run's own,
        // never the user's; Qt reads the variable once, on first use.
        static QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        // Each fixture starts from the defaults: nothing kept from another test.
        QSettings(QStringLiteral("usbsynth"), QStringLiteral("sweeps")).clear();
        QDir::setCurrent(dir.path());
        qputenv("USBSYNTH_SIM_CONFIG", path("sim.json").toLocal8Bit());
        qputenv("USBSYNTH_SIM_TRACE", path("trace.txt").toLocal8Bit());
    }
    ~SimFixture() { QDir::setCurrent(previousDir); }

    QString path(const QString &name) const { return dir.filePath(name); }

    // Replaces the simulator's configuration in one step, so that a reader
    // never sees it missing; it is read again on the next VISA call.
    void configure(const QByteArray &json)
    {
        QSaveFile file(path("sim.json"));
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit())
            qFatal("cannot write the simulator configuration");
    }

    void clearTrace() { QFile::remove(path("trace.txt")); }

    // Trace lines without their time stamps, e.g. "W <descriptor> FREQ:SET 5".
    QStringList trace() const
    {
        return read("trace.txt").split(QLatin1Char('\n'), Qt::SkipEmptyParts).replaceInStrings(QRegularExpression(QStringLiteral("^\\S* ")), QString());
    }

    // The lines written to one instrument, in order.
    QStringList writes(const QString &descriptor) const
    {
        const QString prefix = QStringLiteral("W ") + descriptor + QLatin1Char(' ');
        return events(prefix).replaceInStrings(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)), QString());
    }

    // The events of one kind (O, F, C, W, R) for one descriptor.
    int count(QChar event, const QString &descriptor) const { return events(QString(event) + QLatin1Char(' ') + descriptor).size(); }

    QString log() const { return read("log.txt"); }

    // The log's messages without the header and their time stamps.
    QStringList logMessages() const
    {
        QStringList lines = log().split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
        return lines.replaceInStrings(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d ")), QString());
    }

private:
    // Trace lines that are the prefix or start with it and a blank.
    QStringList events(const QString &prefix) const
    {
        return trace().filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix.trimmed()) + QStringLiteral("( |$)")));
    }
    QString read(const char *name) const
    {
        QFile file(path(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QString previousDir = QDir::currentPath();
    QTemporaryDir dir;
};

// Closes every modal message box that comes up while it lives. A box met
// outside expect() fails the running test at once, naming its text, instead
// of leaving the test to wait on it until its time limit.
class BoxCatcher
{
public:
    BoxCatcher()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] { closeBoxes(); });
        poll.start(10);
    }
    // Runs an action that may raise message boxes; returns their texts.
    // Boxes that are still up when the action returns are closed then.
    QStringList expect(const std::function<void()> &action)
    {
        expecting = true;
        action();
        closeBoxes();
        expecting = false;
        return std::exchange(texts, {});
    }

private:
    void closeBoxes()
    {
        while (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts << box->text();
            box->done(QMessageBox::Ok);
            if (!expecting)
                QTest::qFail(qPrintable("unexpected message box: " + box->text()), __FILE__, __LINE__);
        }
    }

    QTimer poll;
    QStringList texts;
    bool expecting = false;
};

#endif // USBSYNTH_TESTS_SIMFIXTURE_H
