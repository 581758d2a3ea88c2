#ifndef USBSYNTH_USBSTICKTAB_H
#define USBSYNTH_USBSTICKTAB_H

#include "link/visalibrary.h"

#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>

class DigitKnob;
namespace sweep {
struct Point;
}

class QButtonGroup;
class QTimer;
class PresetWindow;
class SweepWindow;
class ThresSet;
class profile_viewer;

namespace Ui {
class UsbStickTab;
}

// The page that controls one instrument: it polls the instrument's state
// once a second while it is shown and the operator is not editing, and turns
// every operator action into command lines sent in a short session of their
// own. A batch and a refresh pass never overlap (busy).
class UsbStickTab : public QWidget
{
    Q_OBJECT

public:
    UsbStickTab(visa::Session resourceManager, QString resourceName, QString firmware, QString model,
                QString serial, QString productId, QWidget *parent = nullptr);
    ~UsbStickTab();

    // Schedules the next refresh one timer interval from now.
    void startRefresh();
    // Stops a running sweep, with its stop line, and closes the sweep window
    // and its dialogs.
    void closeSweepWindow();

signals:
    void logMsg(QString msg);
    // Relays of the three entry fields, connected by name: selecting or
    // typing stops polling, finishing the edit schedules the next refresh.
    void on_freq_text_selectionChanged();
    void on_freq_text_textEdited();
    void on_freq_text_editingFinished();
    void on_reference_freq_txt_selectionChanged();
    void on_reference_freq_txt_textEdited();
    void on_reference_freq_txt_editingFinished();
    void on_Powe_Val_selectionChanged();
    void on_Powe_Val_textEdited();
    void on_Powe_Val_editingFinished();
    void connectionLost();

private slots:
    void on_freq_button_clicked();
    void on_ref_int_radio_toggled(bool checked);
    void on_Powe_set_clicked();
    void on_refresh_btn_clicked();
    void on_set_min_powe_btn_clicked();
    void on_set_max_powe_btn_clicked();
    void on_pllm_frac_rad_toggled(bool checked);
    void on_ref_div_cmb_currentTextChanged(QString arg1);
    void on_set_ref_freq_btn_clicked();
    void on_view_state_parameters_clicked();
    void on_load_state_btn_clicked();
    void on_save_state_btn_clicked();
    void on_set_default_btn_clicked();
    void on_power_btn_clicked();
    void on_state_cmb_currentIndexChanged(int index);
    void set_thres(float thrs);
    void on_Thres_btn_clicked();
    void debugOut(QString str);
    void refreshInterface();
    void sendVisaMessages();

public slots:
    void tabsChanged();
    void closeStateViewer();

private:
    visa::Status openVisaSession();
    // Reports a session that could not be opened and asks for a rescan.
    void connectionFailed(visa::Status status);
    // One refresh pass inside an open session; the message of the first
    // unusable reply, or an empty text when every step succeeded.
    QString refreshPass();
    void stopRefresh();
    // Starts the refresh timer, unless the tab is closing.
    void resumeRefresh();
    // Follows a reference source read from the instrument; sends nothing.
    void showReferenceSource(bool external);
    void queue(const QString &line);
    void showInputError(const QString &text);
    void fitToFont();
    // RF output and lock as read or set, or not read yet.
    void showRfState();
    void showLock(bool locked);

    QTimer *refreshTimer;
    Ui::UsbStickTab *ui;
    ThresSet *thresWindow;
    QButtonGroup *refSourceGroup;
    QButtonGroup *pllModeGroup;
    QStringList firmwareParts;
    quint32 minFreq = 0;
    quint32 maxFreq = 0;
    // The set frequency is shown to 1 kHz: 3 decimals in MHz, 6 in GHz.
    int frequencyDecimals = 3;
    // The unit of every frequency the tab shows, accepts and sends.
    bool megahertz = false;
    // Up/Down and the wheel in the frequency and power fields.
    DigitKnob *frequencyKnob = nullptr;
    DigitKnob *powerKnob = nullptr;
    profile_viewer *stateViewer;
    quint8 currentState = 0;
    visa::Session resourceManager;
    QString resourceName;
    visa::Session instrument = visa::NullSession;
    QString productId;
    bool busy = false;
    QStringList commandQueue;
    bool initialised = false;
    // The RF output state last read or set; unknown until the first read.
    std::optional<bool> rfOn;
    // The lock picture shown, and the two pictures once decoded.
    std::optional<bool> lockShown;
    QPixmap lockPictures[2];
    std::optional<bool> rfShown; // what power_lbl shows
    // Set by closeStateViewer: nothing restarts the timer afterwards.
    bool closing = false;

    // Sweeps: the tab sends each point of its sweep window as one batch and
    // does not poll while a sweep runs.
private slots:
    void on_sweep_btn_clicked();
    void sendSweepPoint(const QStringList &lines);
    // Shows the point last sent where the tab shows what it sets.
    void showSweepPoint(const sweep::Point &point, const QString &progress);
    void sweepRunningChanged(bool running);

private:
    // Greys the readings that are not polled during a sweep; the next
    // refresh pass after it shows them normally again.
    void showReadingsPaused(bool paused);

    SweepWindow *sweepWindow = nullptr;
    bool sweeping = false;
    bool readingsPaused = false;

    // Presets: the settings as last read from the instrument, each unknown
    // until a pass has read it and again after anything was sent.
private slots:
    void on_presets_btn_clicked();
    void applyPreset(const QStringList &lines, bool rfOnAfter);

private:
    struct ReadSettings
    {
        std::optional<double> frequency; // in the model's unit
        std::optional<double> powerDbm;
        std::optional<bool> referenceExternal;
        std::optional<int> referenceMHz;
        std::optional<int> divider;
        std::optional<bool> pllInteger;
    };
    ReadSettings lastRead;
    PresetWindow *presetWindow = nullptr;
};

#endif // USBSYNTH_USBSTICKTAB_H
