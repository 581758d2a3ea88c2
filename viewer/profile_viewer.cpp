#include "viewer/profile_viewer.h"

#include "ui_profile_viewer.h"

#include <QDebug>
#include <QHeaderView>

namespace {

enum Column { PllModeColumn = 0, ReferenceSourceColumn = 3, RfPowerColumn = 7 };

// Turns the code in one column into words, for the cells this dump wrote.
// Codes other than 0 and 1 stay as sent and are reported on the debug output.
void convertCodes(QTableWidget *table, const QList<QStringList> &states, int column,
                  const QString &zero, const QString &one, const char *error)
{
    for (int row = 0; row < table->rowCount() && row < states.size(); ++row) {
        if (column >= states.at(row).size())
            continue;
        QTableWidgetItem *cell = table->item(row, column);
        if (!cell)
            continue;
        const int code = cell->text().toInt(); // not a number counts as 0
        if (code == 0)
            cell->setText(zero);
        else if (code == 1)
            cell->setText(one);
        else
            qDebug() << error;
    }
}

} // namespace

profile_viewer::profile_viewer(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::profile_viewer)
{
    ui->setupUi(this);
    // Size the window once to the bold headers; filling the table later never
    // resizes it.
    ui->state_tbl->resizeColumnsToContents();
    setFixedSize(ui->state_tbl->horizontalHeader()->length() + 45,
                 ui->state_tbl->verticalHeader()->length() + 20);
}

profile_viewer::~profile_viewer()
{
    delete ui;
}

void profile_viewer::showStates(QList<QStringList> states)
{
    QTableWidget *table = ui->state_tbl;
    for (int row = 0; row < states.size() && row < table->rowCount(); ++row) {
        const QStringList &fields = states.at(row);
        for (int column = 0; column < fields.size() && column < table->columnCount(); ++column) {
            QString text = fields.at(column);
            text.remove(QLatin1Char('\n'));
            auto *cell = new QTableWidgetItem(text);
            cell->setTextAlignment(Qt::AlignCenter);
            table->setItem(row, column, cell);
        }
    }

    const int fieldsOfFirst = states.isEmpty() ? 0 : int(states.first().size());
    if (fieldsOfFirst < 1)
        return;
    convertCodes(table, states, PllModeColumn, QStringLiteral("Fractional"), QStringLiteral("Integer"),
                 "error pllm");
    if (fieldsOfFirst > ReferenceSourceColumn)
        convertCodes(table, states, ReferenceSourceColumn, QStringLiteral("Internal"),
                     QStringLiteral("External"), "error ref src");
    if (fieldsOfFirst > RfPowerColumn)
        convertCodes(table, states, RfPowerColumn, QStringLiteral("OFF"), QStringLiteral("ON"), "error atten");
}
