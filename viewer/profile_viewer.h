#ifndef USBSYNTH_PROFILE_VIEWER_H
#define USBSYNTH_PROFILE_VIEWER_H

#include <QList>
#include <QStringList>
#include <QWidget>

namespace Ui {
class profile_viewer;
}

// A window listing an instrument's six stored states side by side, one row
// per state, filled from the instrument's state dump.
class profile_viewer : public QWidget
{
    Q_OBJECT

public:
    explicit profile_viewer(QWidget *parent = nullptr);
    ~profile_viewer();

    // Shows the split state dump: states, each a list of field texts in
    // column order. Cells the dump does not fill are left blank. A dump equal
    // to the last one changes nothing.
    void showStates(QList<QStringList> states);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Widens the columns to their texts and sizes the window to the table.
    void fitToColumns();

    Ui::profile_viewer *ui;
    QList<QStringList> shownStates;
    // The texts changed while the window was hidden: fit when it is shown.
    bool fitPending = false;
};

#endif // USBSYNTH_PROFILE_VIEWER_H
