#include "tab/sweepwindow.h"

#include "ui_sweepwindow.h"

#include "link/commandset.h"
#include "link/replyparser.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

SweepWindow::SweepWindow(const QString &serial, double minFreq, double maxFreq, const QString &unit,
                         QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SweepWindow)
    , pacer(new QTimer(this))
    , minFreq(minFreq)
    , maxFreq(maxFreq)
    , unit(unit)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Sweep - SN:") + serial);
    // Closing the main window ends the panel even while this window is open;
    // the application closes this window on quitting, which ends a sweep.
    setAttribute(Qt::WA_QuitOnClose, false);

    pacer->setSingleShot(true);
    pacer->setTimerType(Qt::PreciseTimer);
    connect(pacer, &QTimer::timeout, this, &SweepWindow::sendNext);

    rangeTexts[FrequencyMode] = {cmd::formatNumber(minFreq), cmd::formatNumber(maxFreq),
                                 cmd::formatNumber((maxFreq - minFreq) / 10)};
    rangeTexts[PowerMode] = {QStringLiteral("-10"), QStringLiteral("0"), QStringLiteral("1")};
    ui->start_txt->setText(rangeTexts[FrequencyMode].at(0));
    ui->stop_txt->setText(rangeTexts[FrequencyMode].at(1));
    ui->step_txt->setText(rangeTexts[FrequencyMode].at(2));

    connect(ui->mode_cmb, &QComboBox::currentIndexChanged, this, &SweepWindow::changeMode);
    connect(ui->step_rad, &QRadioButton::toggled, this, &SweepWindow::updateControls);
    connect(ui->list_browse_btn, &QPushButton::clicked, this, &SweepWindow::browse);
    connect(ui->start_btn, &QPushButton::clicked, this, &SweepWindow::startSweep);
    connect(ui->stop_btn, &QPushButton::clicked, this, &SweepWindow::stopSweep);
    updateControls();
}

SweepWindow::~SweepWindow()
{
    // Destroyed with its tab: nothing is sent or reported any more.
    running = false;
    pacer->stop();
    delete ui;
}

void SweepWindow::closeEvent(QCloseEvent *event)
{
    stopSweep();
    QWidget::closeEvent(event);
}

void SweepWindow::changeMode(int mode)
{
    rangeTexts[shownMode] = {ui->start_txt->text(), ui->stop_txt->text(), ui->step_txt->text()};
    shownMode = mode;
    if (mode != ListMode) {
        ui->start_txt->setText(rangeTexts[mode].at(0));
        ui->stop_txt->setText(rangeTexts[mode].at(1));
        ui->step_txt->setText(rangeTexts[mode].at(2));
    }
    updateControls();
}

void SweepWindow::updateControls()
{
    const int mode = ui->mode_cmb->currentIndex();
    const bool idle = !running;
    const bool range = idle && mode != ListMode;
    const bool byPoints = mode == FrequencyMode && ui->points_rad->isChecked();
    const QString rangeUnit = mode == PowerMode ? QStringLiteral("dBm") : unit;
    ui->start_lbl->setText(QStringLiteral("Start (%1):").arg(rangeUnit));
    ui->stop_lbl->setText(QStringLiteral("Stop (%1):").arg(rangeUnit));
    ui->step_rad->setText(QStringLiteral("Step (%1):").arg(mode == PowerMode ? QStringLiteral("dB") : unit));

    ui->mode_cmb->setEnabled(idle);
    ui->start_txt->setEnabled(range);
    ui->stop_txt->setEnabled(range);
    ui->step_rad->setEnabled(range && mode == FrequencyMode);
    ui->points_rad->setEnabled(range && mode == FrequencyMode);
    ui->step_txt->setEnabled(range && !byPoints);
    ui->points_spn->setEnabled(range && byPoints);
    ui->spacing_cmb->setEnabled(range && byPoints);
    ui->list_file_txt->setEnabled(idle && mode == ListMode);
    ui->list_browse_btn->setEnabled(idle && mode == ListMode);
    ui->dwell_spn->setEnabled(idle);
    ui->direction_cmb->setEnabled(idle);
    ui->repeat_chk->setEnabled(idle);
    ui->start_btn->setEnabled(idle);
    ui->stop_btn->setEnabled(running);
}

// Boxes and dialogs of this window are its children and run no event loop
// of their own: when the tab goes away with this window, they go too.
void SweepWindow::browse()
{
    auto *dialog = new QFileDialog(this, QStringLiteral("Sweep list"), QFileInfo(ui->list_file_txt->text()).path(),
                                   QStringLiteral("Lists (*.txt *.csv);;All files (*)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &file) {
        if (!file.isEmpty())
            ui->list_file_txt->setText(file);
    });
    dialog->open();
}

void SweepWindow::refuse(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

std::optional<QList<sweep::Point>> SweepWindow::plannedPoints(QString *description)
{
    const int mode = ui->mode_cmb->currentIndex();
    const bool repeated = ui->repeat_chk->isChecked();
    const auto direction = sweep::Direction(ui->direction_cmb->currentIndex());
    const QString tooMany = QStringLiteral("Too many points: %1 (at most %2)");
    QList<sweep::Point> pass;

    if (mode == ListMode) {
        const QString name = ui->list_file_txt->text();
        QFile file(name);
        if (name.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            refuse(QStringLiteral("Cannot read the list file \"%1\"").arg(name));
            return std::nullopt;
        }
        const sweep::ListParse list = sweep::parseList(QString::fromUtf8(file.readAll()));
        if (list.badLine > 0) {
            refuse(QStringLiteral("Line %1 of %2: %3").arg(list.badLine).arg(QFileInfo(name).fileName(), list.reason));
            return std::nullopt;
        }
        if (list.points.isEmpty()) {
            refuse(QStringLiteral("The list file holds no points"));
            return std::nullopt;
        }
        pass = list.points;
        *description = QStringLiteral("list %1").arg(QFileInfo(name).fileName());
    } else {
        const std::optional<double> start = reply::readDouble(ui->start_txt->text());
        const std::optional<double> stop = reply::readDouble(ui->stop_txt->text());
        if (!start || !stop) {
            refuse(QStringLiteral("Start and stop must be numbers"));
            return std::nullopt;
        }
        const QString rangeUnit = mode == PowerMode ? QStringLiteral("dBm") : unit;
        *description = QStringLiteral("%1 %2 to %3 %4")
                           .arg(mode == PowerMode ? QStringLiteral("power") : QStringLiteral("frequency"),
                                cmd::formatFrequency(*start), cmd::formatFrequency(*stop), rangeUnit);
        QList<double> values;
        if (mode == FrequencyMode && ui->points_rad->isChecked()) {
            const bool logarithmic = ui->spacing_cmb->currentIndex() == 1;
            if (logarithmic && (*start <= 0 || *stop <= 0)) {
                refuse(QStringLiteral("Logarithmic spacing needs a start and stop above 0"));
                return std::nullopt;
            }
            const int count = ui->points_spn->value();
            values = logarithmic ? sweep::logarithmic(*start, *stop, count) : sweep::linear(*start, *stop, count);
            *description += logarithmic ? QStringLiteral(", logarithmic") : QStringLiteral(", linear");
        } else {
            const std::optional<double> step = reply::readDouble(ui->step_txt->text());
            const std::optional<qint64> count = step ? sweep::steppedCount(*start, *stop, *step) : std::nullopt;
            if (!count) {
                refuse(QStringLiteral("The step must be a number greater than 0"));
                return std::nullopt;
            }
            if (*count > sweep::MaxPoints) {
                refuse(tooMany.arg(*count).arg(sweep::MaxPoints));
                return std::nullopt;
            }
            values = sweep::stepped(*start, *stop, *step);
            *description += QStringLiteral(", step %1 %2")
                                .arg(cmd::formatFrequency(*step),
                                     mode == PowerMode ? QStringLiteral("dB") : unit);
        }
        pass = mode == PowerMode ? sweep::powerPoints(values) : sweep::frequencyPoints(values);
    }

    QList<sweep::Point> all = sweep::ordered(pass, direction, repeated);
    if (all.size() > sweep::MaxPoints) {
        refuse(tooMany.arg(all.size()).arg(sweep::MaxPoints));
        return std::nullopt;
    }
    const QString outside = sweep::rangeError(all, minFreq, maxFreq, unit);
    if (!outside.isEmpty()) {
        refuse(outside);
        return std::nullopt;
    }
    *description += QStringLiteral(", %1 points, dwell %2 ms, %3, %4")
                        .arg(all.size())
                        .arg(ui->dwell_spn->value())
                        .arg(ui->direction_cmb->currentText().toLower(),
                             repeated ? QStringLiteral("repeated until stopped") : QStringLiteral("once"));
    return all;
}

void SweepWindow::startSweep()
{
    if (running)
        return;
    QString description;
    std::optional<QList<sweep::Point>> planned = plannedPoints(&description);
    if (!planned)
        return;
    points = std::move(*planned);
    offsets = sweep::startOffsets(points, ui->dwell_spn->value());
    repeat = ui->repeat_chk->isChecked();
    sent = 0;
    running = true;
    ui->progress_bar->setRange(0, int(points.size()));
    ui->progress_bar->setValue(0);
    updateControls();
    emit logMsg(QStringLiteral("Sweep started: ") + description);
    emit runningChanged(true);
    clock.start();
    sendNext();
}

void SweepWindow::sendNext()
{
    if (!running)
        return;
    if (!repeat && sent >= points.size()) {
        stopSweep();
        return;
    }
    const sweep::Point &point = points.at(sent % points.size());
    emit sendPoint(sweep::commandLines(point));
    if (!running)
        return; // the instrument could not be reached
    ++sent;
    const qint64 inPass = (sent - 1) % points.size() + 1;
    ui->progress_bar->setValue(int(inPass));
    ui->current_lbl->setText(
        QStringLiteral("Point %1 of %2: %3").arg(inPass).arg(points.size()).arg(pointText(point)));
    pacer->start(sweep::delayMs(sweep::deadlineMs(offsets, sent), clock.nsecsElapsed()));
}

void SweepWindow::stopSweep()
{
    if (!running)
        return;
    pacer->stop();
    running = false;
    updateControls();
    emit logMsg(QStringLiteral("Sweep stopped after %1 of %2 points").arg(sent).arg(points.size()));
    emit runningChanged(false);
}

QString SweepWindow::pointText(const sweep::Point &point) const
{
    QStringList parts;
    if (point.frequency)
        parts << cmd::formatFrequency(*point.frequency) + QLatin1Char(' ') + unit;
    if (point.power)
        parts << cmd::formatNumber(*point.power) + QStringLiteral(" dBm");
    return parts.join(QStringLiteral(", "));
}
