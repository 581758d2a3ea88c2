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
    // column order. Cells the dump does not fill are left blank.
    void showStates(QList<QStringList> states);

private:
    // Widens the columns to their texts and sizes the window to the table.
    void fitToColumns();

    Ui::profile_viewer *ui;
};

#endif // USBSYNTH_PROFILE_VIEWER_H
