#ifndef USBSYNTH_MAINWINDOW_H
#define USBSYNTH_MAINWINDOW_H

#include "app/aboutsplash.h"
#include "link/visalibrary.h"

#include <QList>
#include <QMainWindow>
#include <QString>

#include <memory>

class QSplashScreen;
class UsbStickTab;
class logger;

namespace Ui {
class MainWindow;
}

// The one main window: a button bar above a tab widget holding one device
// tab per supported instrument. It starts the run log and scans for
// instruments while its splash screen is up, and again on demand.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow();

signals:
    void closing();
    void splashMessage(QString msg, int);
    void logMessage(QString msg);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_connected_devices_refresh_btn_clicked();
    void on_About_btn_clicked();
    void connectionLost();

private:
    // Finds the supported instruments and rebuilds the tab widget.
    void scanForDevices();
    // Shows a run-log message with its time under the tabs.
    void showLatestMessage(const QString &msg);
    // Stops every tab's sweep, each with its stop line in the run log.
    void closeSweepWindows();

    Ui::MainWindow *ui;
    QList<UsbStickTab *> stickTabs;
    std::unique_ptr<logger> runLog;
    std::unique_ptr<QSplashScreen> splash;
    aboutSplash aboutWindow;
    // The resource manager shared by the tabs of the last scan; closed when
    // those tabs are gone (at the next scan, or with the window).
    visa::Session scanResourceManager = visa::NullSession;
    // True while a scan runs. Its splash messages let events through, so a
    // rescan could otherwise start inside it.
    bool scanning = false;
};

#endif // USBSYNTH_MAINWINDOW_H
