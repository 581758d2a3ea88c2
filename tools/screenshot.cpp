// Saves a picture of the whole X screen:
//   screenshot <file.png> [delay-ms] [--trim]
// --trim cuts the picture down to what differs from the empty screen's
// colour (bottom-right pixel), so a window on a bare X server stands alone.
// Used by the scripts to show the panel where there is no display.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>

namespace {
QImage trimmed(const QImage &image)
{
    const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
    QRect used;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != background)
                used |= QRect(x, y, 1, 1);
        }
    }
    return used.isEmpty() ? image : image.copy(used);
}
} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: screenshot <file.png> [delay-ms] [--trim]\n");
        return 2;
    }
    if (args.size() > 2 && args.at(2) != QLatin1String("--trim"))
        QThread::msleep(args.at(2).toULong());
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "screenshot: no screen\n");
        return 1;
    }
    QImage image = screen->grabWindow(0).toImage();
    if (args.contains(QLatin1String("--trim")))
        image = trimmed(image);
    if (!image.save(args.at(1))) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
