#ifndef USBSYNTH_ABOUTSPLASH_H
#define USBSYNTH_ABOUTSPLASH_H

#include <QWidget>

namespace Ui {
class aboutSplash;
}

// The small window naming the maker and the product with its version.
class aboutSplash : public QWidget
{
    Q_OBJECT

public:
    explicit aboutSplash(QWidget *parent = nullptr);
    ~aboutSplash();

private:
    Ui::aboutSplash *ui;
};

#endif // USBSYNTH_ABOUTSPLASH_H
