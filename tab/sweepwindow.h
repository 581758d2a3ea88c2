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
    // A point has been sent; progress says where the sweep is
    // ("Pass 2, point 6 of 11").
    void pointSent(const sweep::Point &point, const QString &progress);
    void runningChanged(bool running);
    void logMsg(const QString &msg);

protected:
    void closeEvent(QCloseEvent *event) override;
    // The list file may have changed since the preview was made.
    void showEvent(QShowEvent *event) override;

private:
    enum Mode { FrequencyMode, PowerMode, ListMode, ModeCount };

    void startSweep();
    void sendNext();
    void changeMode(int mode);
    void browse();
    void updateControls();
    // The form's fields, the shown mode's range texts included.
    sweep::Settings settings() const;
    // What Start would do with the form as it is; reads the list file.
    sweep::Plan currentPlan() const;
    // After any change of a field: the preview and the kept settings follow.
    void fieldsChanged();
    // The settings are kept per instrument serial, across rescans and runs.
    void loadSettings();
    void saveSettings() const;
    void refuse(const QString &text);

    Ui::SweepWindow *ui;
    QTimer *pacer;
    QElapsedTimer clock;
    QString serial;
    sweep::Limits limits;
    bool loading = false;
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
