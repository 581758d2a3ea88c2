#include "viewer/profile_viewer.h"

#include "ui_profile_viewer.h"

#include <QDebug>
#include <QHeaderView>

namespace {

// The columns holding a code the table shows as a word: the words for 0 and
// 1, and what the debug output says for any other text.
struct CodeColumn
{
    int column;
    const char *zero;
    const char *one;
    const char *error;
};

constexpr CodeColumn CodeColumns[] = {
    {0, "Fractional", "Integer", "error pllm"},
    {3, "Internal", "External", "error ref src"},
    {7, "OFF", "ON", "error atten"},
};

// The field as shown: a code 0 or 1 as its word, anything else as received.
QString shownText(int column, const QString &field)
{
    for (const CodeColumn &code : CodeColumns) {
        if (code.column != column)
            continue;
        bool ok = false;
        const int value = field.toInt(&ok);
        if (ok && value == 0)
            return QString::fromLatin1(code.zero);
        if (ok && value == 1)
            return QString::fromLatin1(code.one);
        qDebug() << code.error;
    }
    return field;
}

} // namespace

profile_viewer::profile_viewer(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::profile_viewer)
{
    ui->setupUi(this);
    fitToColumns();
}

profile_viewer::~profile_viewer()
{
    delete ui;
}

void profile_viewer::showStates(QList<QStringList> states)
{
    // The refresh hands over the same dump every second; only a change is
    // worth the table's time.
    if (states == shownStates)
        return;
    shownStates = states;
    QTableWidget *table = ui->state_tbl;
    // Every dump stands on its own: nothing of an earlier one stays.
    for (int row = 0; row < table->rowCount(); ++row) {
        const QStringList fields = row < states.size() ? states.at(row) : QStringList();
        for (int column = 0; column < table->columnCount(); ++column) {
            if (column >= fields.size()) {
                delete table->takeItem(row, column);
                continue;
            }
            QString text = fields.at(column);
            text.remove(QLatin1Char('\n'));
            text = shownText(column, text);
            if (QTableWidgetItem *cell = table->item(row, column)) {
                cell->setText(text);
            } else {
                cell = new QTableWidgetItem(text);
                cell->setTextAlignment(Qt::AlignCenter);
                table->setItem(row, column, cell);
            }
        }
    }
    // Fitting measures every cell; a hidden window is fitted when shown.
    if (isVisible())
        fitToColumns();
    else
        fitPending = true;
}

void profile_viewer::showEvent(QShowEvent *event)
{
    if (fitPending)
        fitToColumns();
    QWidget::showEvent(event);
}

void profile_viewer::fitToColumns()
{
    // The scroll bars are off, so the window grows with the columns and the
    // whole table stays in view; the operator cannot resize it.
    fitPending = false;
    ui->state_tbl->resizeColumnsToContents();
    // The headers and frame take 45 x 20 at the default font, more at a larger one.
    const QTableWidget *table = ui->state_tbl;
    const int frame = 2 * table->frameWidth();
    setFixedSize(table->horizontalHeader()->length() + qMax(45, table->verticalHeader()->sizeHint().width() + frame),
                 table->verticalHeader()->length() + qMax(20, table->horizontalHeader()->sizeHint().height() + frame));
}
