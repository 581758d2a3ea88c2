#include "app/aboutsplash.h"

#include "ui_aboutsplash.h"

aboutSplash::aboutSplash(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::aboutSplash)
{
    ui->setupUi(this);
}

aboutSplash::~aboutSplash()
{
    delete ui;
}
