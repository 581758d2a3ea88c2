// Preloaded into the real usbsynth: once the main window is shown, it opens
// the first tab's sweep window and starts its sweep as set up by default,
// one point a second, as an operator would.
#include <QAbstractButton>
#include <QApplication>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

namespace {

class SweepStarter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == QLatin1String("MainWindow")) {
            QCoreApplication::instance()->removeEventFilter(this);
            auto *window = static_cast<QWidget *>(watched);
            QTimer::singleShot(0, this, [window] { start(window); });
        }
        return false;
    }

private:
    static void start(QWidget *window)
    {
        auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QWidget *tab = tabs ? tabs->widget(0) : nullptr;
        auto *open = tab ? tab->findChild<QAbstractButton *>(QStringLiteral("sweep_btn")) : nullptr;
        if (!open)
            qFatal("sweepstarter: no tab with a sweep button");
        open->click();
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top->inherits("SweepWindow") && top->isVisible()) {
                top->findChild<QSpinBox *>(QStringLiteral("dwell_spn"))->setValue(1000);
                top->findChild<QAbstractButton *>(QStringLiteral("start_btn"))->click();
                return;
            }
        }
        qFatal("sweepstarter: no sweep window");
    }
};

void install()
{
    QCoreApplication::instance()->installEventFilter(new SweepStarter(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(install)
