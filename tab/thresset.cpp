#include "tab/thresset.h"

#include "ui_thresset.h"

#include "link/replyparser.h"

ThresSet::ThresSet(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ThresSet)
{
    ui->setupUi(this);
}

ThresSet::~ThresSet()
{
    delete ui;
}

void ThresSet::on_set_thres_btn_clicked()
{
    // No validation: a text that is not a number sends the threshold 0.
    emit thres(reply::readDecimal(ui->thres_txt->text()).value_or(0.0f));
    close();
}
