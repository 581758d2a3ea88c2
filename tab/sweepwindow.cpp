#include "tab/sweepwindow.h"

#include "ui_sweepwindow.h"

#include "link/commandset.h"
#include "link/replyparser.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

// The kept settings of one instrument: a group of its own per serial, in
// the user's configuration folder.
QString settingsGroup(const QString &serial)
{
    return QStringLiteral("sweep/") + QString::fromLatin1(QUrl::toPercentEncoding(serial.isEmpty() ? QStringLiteral("-") : serial));
}

constexpr char SettingsOrganization[] = "usbsynth";
constexpr char SettingsFile[] = "sweeps";

} // namespace

SweepWindow::SweepWindow(const QString &serial, double minFreq, double maxFreq, const QString &unit,
                         QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SweepWindow)
    , pacer(new QTimer(this))
    , serial(serial)
    , limits{minFreq, maxFreq, unit, unit == QLatin1String("MHz") ? 3 : 6}
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
    loadSettings();
    for (QLineEdit *edit : {ui->start_txt, ui->stop_txt, ui->step_txt, ui->list_file_txt})
        connect(edit, &QLineEdit::textChanged, this, &SweepWindow::fieldsChanged);
    for (QComboBox *combo : {ui->mode_cmb, ui->spacing_cmb, ui->direction_cmb})
        connect(combo, &QComboBox::currentIndexChanged, this, &SweepWindow::fieldsChanged);
    for (QSpinBox *spin : {ui->points_spn, ui->dwell_spn})
        connect(spin, &QSpinBox::valueChanged, this, &SweepWindow::fieldsChanged);
    for (QAbstractButton *button : {static_cast<QAbstractButton *>(ui->step_rad), static_cast<QAbstractButton *>(ui->repeat_chk)})
        connect(button, &QAbstractButton::toggled, this, &SweepWindow::fieldsChanged);
    updateControls();
    fieldsChanged();
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

void SweepWindow::showEvent(QShowEvent *event)
{
    if (!running)
        fieldsChanged();
    QWidget::showEvent(event);
}

void SweepWindow::changeMode(int mode)
{
    rangeTexts[shownMode] = {ui->start_txt->text(), ui->stop_txt->text(), ui->step_txt->text()};
    shownMode = mode;
    if (mode != ListMode) {
        // One change: the mode's own signal updates the preview afterwards.
        const bool wasLoading = std::exchange(loading, true);
        ui->start_txt->setText(rangeTexts[mode].at(0));
        ui->stop_txt->setText(rangeTexts[mode].at(1));
        ui->step_txt->setText(rangeTexts[mode].at(2));
        loading = wasLoading;
    }
    updateControls();
}

void SweepWindow::updateControls()
{
    const int mode = ui->mode_cmb->currentIndex();
    const bool idle = !running;
    const bool range = idle && mode != ListMode;
    const bool byPoints = mode == FrequencyMode && ui->points_rad->isChecked();
    const QString unit = limits.unit;
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

sweep::Settings SweepWindow::settings() const
{
    sweep::Settings fields;
    fields.mode = sweep::Mode(ui->mode_cmb->currentIndex());
    fields.start = ui->start_txt->text();
    fields.stop = ui->stop_txt->text();
    fields.step = ui->step_txt->text();
    fields.byPoints = ui->points_rad->isChecked();
    fields.count = ui->points_spn->value();
    fields.logarithmic = ui->spacing_cmb->currentIndex() == 1;
    fields.listFile = ui->list_file_txt->text();
    fields.dwellMs = ui->dwell_spn->value();
    fields.direction = sweep::Direction(ui->direction_cmb->currentIndex());
    fields.repeat = ui->repeat_chk->isChecked();
    return fields;
}

sweep::Plan SweepWindow::currentPlan() const
{
    const sweep::Settings fields = settings();
    std::optional<QString> listText;
    if (fields.mode == sweep::Mode::List && !fields.listFile.isEmpty()) {
        QFile file(fields.listFile);
        if (file.open(QIODevice::ReadOnly))
            listText = QString::fromUtf8(file.readAll());
    }
    return sweep::plan(fields, limits, listText);
}

void SweepWindow::fieldsChanged()
{
    if (loading)
        return;
    ui->preview_lbl->setText(sweep::preview(currentPlan(), settings(), limits.unit));
    saveSettings();
}

void SweepWindow::loadSettings()
{
    QSettings kept{QString::fromLatin1(SettingsOrganization), QString::fromLatin1(SettingsFile)};
    kept.beginGroup(settingsGroup(serial));
    if (!kept.contains(QStringLiteral("mode")))
        return;
    loading = true;
    const auto index = [&kept](const char *key, const QComboBox *combo) {
        const int value = kept.value(QLatin1String(key)).toInt();
        return value >= 0 && value < combo->count() ? value : 0;
    };
    for (int mode : {FrequencyMode, PowerMode}) {
        const QStringList texts = kept.value(mode == PowerMode ? QStringLiteral("powerRange") : QStringLiteral("frequencyRange"))
                                      .toStringList();
        if (texts.size() == 3)
            rangeTexts[mode] = texts;
    }
    ui->start_txt->setText(rangeTexts[FrequencyMode].at(0));
    ui->stop_txt->setText(rangeTexts[FrequencyMode].at(1));
    ui->step_txt->setText(rangeTexts[FrequencyMode].at(2));
    (kept.value(QStringLiteral("byPoints")).toBool() ? ui->points_rad : ui->step_rad)->setChecked(true);
    ui->points_spn->setValue(kept.value(QStringLiteral("points"), ui->points_spn->value()).toInt());
    ui->spacing_cmb->setCurrentIndex(index("spacing", ui->spacing_cmb));
    ui->list_file_txt->setText(kept.value(QStringLiteral("listFile")).toString());
    ui->dwell_spn->setValue(kept.value(QStringLiteral("dwellMs"), ui->dwell_spn->value()).toInt());
    ui->direction_cmb->setCurrentIndex(index("direction", ui->direction_cmb));
    ui->repeat_chk->setChecked(kept.value(QStringLiteral("repeat")).toBool());
    ui->mode_cmb->setCurrentIndex(index("mode", ui->mode_cmb));
    loading = false;
}

void SweepWindow::saveSettings() const
{
    std::array<QStringList, ModeCount> texts = rangeTexts;
    if (shownMode != ListMode)
        texts[shownMode] = {ui->start_txt->text(), ui->stop_txt->text(), ui->step_txt->text()};
    QSettings kept{QString::fromLatin1(SettingsOrganization), QString::fromLatin1(SettingsFile)};
    kept.beginGroup(settingsGroup(serial));
    kept.setValue(QStringLiteral("mode"), ui->mode_cmb->currentIndex());
    kept.setValue(QStringLiteral("frequencyRange"), texts[FrequencyMode]);
    kept.setValue(QStringLiteral("powerRange"), texts[PowerMode]);
    kept.setValue(QStringLiteral("byPoints"), ui->points_rad->isChecked());
    kept.setValue(QStringLiteral("points"), ui->points_spn->value());
    kept.setValue(QStringLiteral("spacing"), ui->spacing_cmb->currentIndex());
    kept.setValue(QStringLiteral("listFile"), ui->list_file_txt->text());
    kept.setValue(QStringLiteral("dwellMs"), ui->dwell_spn->value());
    kept.setValue(QStringLiteral("direction"), ui->direction_cmb->currentIndex());
    kept.setValue(QStringLiteral("repeat"), ui->repeat_chk->isChecked());
}

void SweepWindow::startSweep()
{
    if (running)
        return;
    sweep::Plan planned = currentPlan();
    ui->preview_lbl->setText(sweep::preview(planned, settings(), limits.unit));
    if (!planned.refusal.isEmpty()) {
        refuse(planned.refusal);
        return;
    }
    points = std::move(planned.points);
    offsets = sweep::startOffsets(points, ui->dwell_spn->value());
    repeat = ui->repeat_chk->isChecked();
    sent = 0;
    running = true;
    ui->progress_bar->setRange(0, int(points.size()));
    ui->progress_bar->setValue(0);
    ui->current_lbl->clear();
    updateControls();
    emit logMsg(QStringLiteral("Sweep started: ") + planned.description);
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
    const QString progress = sweep::progressText(sent, points.size(), repeat);
    ui->progress_bar->setValue(int((sent - 1) % points.size() + 1));
    ui->current_lbl->setText(progress + QStringLiteral(": ") + sweep::pointText(point, limits.unit));
    emit pointSent(point, progress);
    pacer->start(sweep::delayMs(sweep::deadlineMs(offsets, sent), clock.nsecsElapsed()));
}

void SweepWindow::stopSweep()
{
    if (!running)
        return;
    pacer->stop();
    running = false;
    updateControls();
    const QString last = sent > 0 ? sweep::pointText(points.at((sent - 1) % points.size()), limits.unit) : QString();
    ui->current_lbl->setText(sweep::endText(sent, points.size(), repeat, last));
    emit logMsg(sweep::stoppedText(sent, points.size(), repeat));
    emit runningChanged(false);
    fieldsChanged();
}
