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
    // A text that is not a number sends nothing; the window stays open for
    // the operator to correct it.
    const std::optional<float> celsius = reply::readDecimal(ui->thres_txt->text());
    if (!celsius)
        return;
    emit thres(*celsius);
    close();
}
