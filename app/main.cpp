#include "app/exitsignalnotifier.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QThreadPool>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/usbsynth.png")));
    // The shared pool's threads (large images are converted on them at
    // start-up) end as soon as they are idle, instead of 30 s later. Threads
    // left to the end are still tearing down while the process exits, which
    // the leak checker sees as their thread data lost.
    QThreadPool::globalInstance()->setExpiryTimeout(0);
    // Caught from the start, acted on once the event loop runs: the loop then
    // ends like any other, and the window below is destroyed normally.
    ExitSignalNotifier exitSignals;
    QObject::connect(&exitSignals, &ExitSignalNotifier::received, &app, [] { QCoreApplication::exit(0); });
    MainWindow window;
    window.show();
    exitSignals.start();
    return app.exec();
}
