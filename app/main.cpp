#include "app/exitsignalnotifier.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/usbsynth.png")));
    // Caught from the start, acted on once the event loop runs: the loop then
    // ends like any other, and the window below is destroyed normally.
    ExitSignalNotifier exitSignals;
    QObject::connect(&exitSignals, &ExitSignalNotifier::received, &app, [] { QCoreApplication::exit(0); });
    MainWindow window;
    window.show();
    exitSignals.start();
    return app.exec();
}
