#ifndef USBSYNTH_SWEEPWINDOW_H
#define USBSYNTH_SWEEPWINDOW_H

#include "link/sweeppoints.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <optional>

class QCloseEvent;
class QTimer;

namespace Ui {
class SweepWindow;
}

// Steps one instrument through frequencies, powers or a list of points,
// each point due at a fixed time from the sweep's start. It talks to the
// instrument only through its tab (sendPoint), which sends each point as one
// batch and keeps its own polling quiet while the sweep runs.
class SweepWindow : public QWidget
{
    Q_OBJECT

public:
    SweepWindow(const QString &serial, double minFreq, double maxFreq, const QString &unit,
                QWidget *parent = nullptr);
    ~SweepWindow() override;

    bool isRunning() const { return running; }

public slots:
    // Ends a running sweep at once; no point is sent afterwards.
    void stopSweep();

signals:
    // The lines of one point, to be sent now.
    void sendPoint(const QStringList &lines);
    void runningChanged(bool running);
    void logMsg(const QString &msg);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum Mode { FrequencyMode, PowerMode, ListMode, ModeCount };

    void startSweep();
    void sendNext();
    void changeMode(int mode);
    void browse();
    void updateControls();
    // The points of the sweep as set up in the form, or nothing after a
    // message box saying why not.
    std::optional<QList<sweep::Point>> plannedPoints(QString *description);
    void refuse(const QString &text);
    QString pointText(const sweep::Point &point) const;

    Ui::SweepWindow *ui;
    QTimer *pacer;
    QElapsedTimer clock;
    double minFreq;
    double maxFreq;
    QString unit;
    // Start, stop and step texts of each mode, kept while another is shown.
    std::array<QStringList, ModeCount> rangeTexts;
    int shownMode = FrequencyMode;
    QList<sweep::Point> points;
    QList<qint64> offsets;
    qint64 sent = 0;
    bool repeat = false;
    bool running = false;
};

#endif // USBSYNTH_SWEEPWINDOW_H
