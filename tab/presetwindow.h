#ifndef USBSYNTH_PRESETWINDOW_H
#define USBSYNTH_PRESETWINDOW_H

#include "link/modeltable.h"
#include "link/presets.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

namespace Ui {
class PresetWindow;
}

// Saves an instrument's present settings under a name in the user's preset
// file and applies a saved preset to the instrument, through its tab. The
// file is shared by every tab, so a preset saved on one instrument can be
// applied to another.
class PresetWindow : public QWidget
{
    Q_OBJECT

public:
    // present() gives the settings as last read from the instrument, or a
    // text saying what is not known yet.
    using PresentSettings = std::function<std::optional<presets::Preset>(QString *unknown)>;

    PresetWindow(const QString &serial, const models::FrequencyRange &range, PresentSettings present,
                 QWidget *parent = nullptr);
    ~PresetWindow() override;

    // While a sweep runs nothing is applied.
    void setApplyAllowed(bool allowed);

signals:
    // The lines of a preset, to go out as one batch; the RF output is on
    // afterwards only when rfOn.
    void applyLines(const QStringList &lines, bool rfOn);
    void logMsg(const QString &msg);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Reads the file again; false (and said so) when it is damaged.
    bool reload();
    // Writes the list; false (and said so) when that failed.
    bool store(const QList<presets::Preset> &list);
    void showList(const QString &select = QString());
    std::optional<presets::Preset> selected() const;
    void say(const QString &text);

    void savePresent();
    void renameSelected();
    void deleteSelected();
    void applySelected();
    void exportFile();
    void importFile();
    void importFrom(const QString &path);

    Ui::PresetWindow *ui;
    QString serial;
    models::FrequencyRange range;
    PresentSettings present;
    QList<presets::Preset> list;
    QJsonObject unknown;
    bool damaged = false;
    bool applyAllowed = true;
};

#endif // USBSYNTH_PRESETWINDOW_H
