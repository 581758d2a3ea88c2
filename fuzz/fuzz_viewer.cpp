// The state viewer fed a split dump: it must stay within the dump and the
// table, blank the cells the dump does not reach, keep its 6 x 8 table and
// show the whole table in a window the operator cannot resize.
#include "fuzz/fuzzcheck.h"
#include "link/replyparser.h"
#include "viewer/profile_viewer.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int Rows = 6;
constexpr int Columns = 8;

profile_viewer *viewer = nullptr;
QTableWidget *table = nullptr;

// The viewer reports unknown codes on the debug output; at millions of
// inputs that is noise. Everything else still goes out.
void quietDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type == QtFatalMsg)
        std::abort();
}

// What a cell held before the call: no item at all, or a marker naming it;
// neither may stay.
bool startsEmpty(int row, int column)
{
    return (row + column) % 3 == 0;
}

QString marker(int row, int column)
{
    return QStringLiteral("kept %1.%2").arg(row).arg(column);
}

void resetTable()
{
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            if (startsEmpty(row, column))
                delete table->takeItem(row, column);
            else
                table->setItem(row, column, new QTableWidgetItem(marker(row, column)));
        }
    }
}

// The code columns and their words for codes 0 and 1.
struct CodeColumn
{
    int column;
    const char *zero;
    const char *one;
};
constexpr CodeColumn codeColumns[] = {{0, "Fractional", "Integer"}, {3, "Internal", "External"}, {7, "OFF", "ON"}};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietDebug);
    static int argc = 1;
    static char name[] = "fuzz_viewer";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv); // lives for the whole run
    viewer = new profile_viewer;
    table = viewer->findChild<QTableWidget *>(QStringLiteral("state_tbl"));
    FUZZ_CHECK(table);
    FUZZ_CHECK(table->rowCount() == Rows && table->columnCount() == Columns);
    // Take the window and the application down at exit, before the leak
    // check, as a real program does.
    std::atexit([] {
        delete viewer;
        viewer = nullptr;
        delete qApp;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QStringList> states = reply::splitStates(fuzz::text(data, size));
    resetTable();
    viewer->showStates(states);

    FUZZ_CHECK(table->rowCount() == Rows && table->columnCount() == Columns);
    FUZZ_CHECK(viewer->minimumSize() == viewer->maximumSize());
    FUZZ_CHECK(viewer->width() > table->horizontalHeader()->length());
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            const QTableWidgetItem *cell = table->item(row, column);
            const bool reached = row < states.size() && column < states.at(row).size();
            if (!reached) {
                FUZZ_CHECK(!cell || cell->text().isEmpty());
                continue;
            }
            // Written from its own field, less line feeds; a code column may
            // show the word for code 0 or 1 instead.
            FUZZ_CHECK(cell);
            QString field = states.at(row).at(column);
            field.remove(QLatin1Char('\n'));
            if (cell->text() == field)
                continue;
            const CodeColumn *code = std::find_if(std::begin(codeColumns), std::end(codeColumns),
                                                  [&](const CodeColumn &c) { return c.column == column; });
            FUZZ_CHECK(code != std::end(codeColumns));
            bool ok = false;
            const int value = field.toInt(&ok); // not a number stays as received
            FUZZ_CHECK(ok);
            FUZZ_CHECK((value == 0 && cell->text() == QLatin1String(code->zero))
                       || (value == 1 && cell->text() == QLatin1String(code->one)));
        }
    }
    return 0;
}
