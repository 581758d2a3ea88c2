#ifndef USBSYNTH_THRESSET_H
#define USBSYNTH_THRESSET_H

#include <QWidget>

namespace Ui {
class ThresSet;
}

// A small window in which the operator types a temperature threshold in
// degrees Celsius; the confirmed value goes to the owning tab.
class ThresSet : public QWidget
{
    Q_OBJECT

public:
    explicit ThresSet(QWidget *parent = nullptr);
    ~ThresSet();

signals:
    void thres(float thrs);

private slots:
    void on_set_thres_btn_clicked();

private:
    Ui::ThresSet *ui;
};

#endif // USBSYNTH_THRESSET_H
