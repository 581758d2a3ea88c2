// Saves a picture of the whole X screen: screenshot <file.png> [delay-ms]
// Used by run.sh to show the panel when there is no display to look at.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshot <file.png> [delay-ms]\n");
        return 2;
    }
    if (argc > 2)
        QThread::msleep(QByteArray(argv[2]).toULong());
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "screenshot: cannot grab the screen into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
