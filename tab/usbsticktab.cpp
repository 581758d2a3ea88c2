#include "tab/usbsticktab.h"

#include "ui_usbsticktab.h"

#include "link/commandset.h"
#include "link/modeltable.h"
#include "link/replyparser.h"
#include "link/statereading.h"
#include "link/sweeppoints.h"
#include "link/unitvalue.h"
#include "link/visa.h"
#include "tab/presetwindow.h"
#include "tab/digitknob.h"
#include "tab/entryguard.h"
#include "tab/sweepwindow.h"
#include "tab/thresset.h"
#include "viewer/profile_viewer.h"

#include <QButtonGroup>
#include <QDebug>
#include <QGroupBox>
#include <QMessageBox>
#include <QPixmap>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>

namespace {

constexpr int RefreshIntervalMs = 1000;
constexpr int DividerCount = 127;
constexpr int MinReferenceMHz = 10;
constexpr int MaxReferenceMHz = 100;

// RF on: bold white on a filled red box; off: plain text. The fill and the
// weight tell them apart without colour.
constexpr char RfOnStyle[] =
    "QLabel { background-color: #b00000; color: white; font-weight: bold; border-radius: 3px; padding: 1px 6px; }";
constexpr char RfOffStyle[] = "QLabel { font-weight: normal; padding: 1px 6px; }";
constexpr char RfUnknownStyle[] = "QLabel { padding: 1px 6px; }";

int firmwareMajor(const QStringList &firmwareParts)
{
    return firmwareParts.isEmpty() ? 0 : firmwareParts.first().toInt();
}

} // namespace

UsbStickTab::UsbStickTab(visa::Session resourceManager, QString resourceName, QString firmware, QString model,
                         QString serial, QString productId, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::UsbStickTab)
    , refSourceGroup(new QButtonGroup)
    , pllModeGroup(new QButtonGroup)
{
    ui->setupUi(this);

    initialised = false;
    busy = false;
    this->resourceManager = resourceManager;
    this->resourceName = resourceName;
    this->productId = productId;

    connect(this, SIGNAL(logMsg(QString)), this, SLOT(debugOut(QString)));

    thresWindow = new ThresSet();
    connect(thresWindow, SIGNAL(thres(float)), this, SLOT(set_thres(float)));

    refreshTimer = new QTimer(this);
    refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    refreshTimer->setSingleShot(true);
    refreshTimer->setInterval(RefreshIntervalMs);
    connect(refreshTimer, SIGNAL(timeout()), this, SLOT(refreshInterface()));

    connect(this, SIGNAL(on_freq_text_selectionChanged()), refreshTimer, SLOT(stop()));
    connect(this, SIGNAL(on_freq_text_textEdited()), refreshTimer, SLOT(stop()));
    connect(this, &UsbStickTab::on_freq_text_editingFinished, this, &UsbStickTab::resumeRefresh);
    connect(this, SIGNAL(on_reference_freq_txt_selectionChanged()), refreshTimer, SLOT(stop()));
    connect(this, SIGNAL(on_reference_freq_txt_textEdited()), refreshTimer, SLOT(stop()));
    connect(this, &UsbStickTab::on_reference_freq_txt_editingFinished, this, &UsbStickTab::resumeRefresh);
    connect(this, SIGNAL(on_Powe_Val_selectionChanged()), refreshTimer, SLOT(stop()));
    connect(this, SIGNAL(on_Powe_Val_textEdited()), refreshTimer, SLOT(stop()));
    connect(this, &UsbStickTab::on_Powe_Val_editingFinished, this, &UsbStickTab::resumeRefresh);

    stateViewer = new profile_viewer();
    connect(this, SIGNAL(destroyed()), stateViewer, SLOT(close()));

    const models::FrequencyRange range = models::frequencyRange(productId);
    minFreq = range.minFreq;
    frequencyDecimals = range.megahertz ? 3 : 6;
    megahertz = range.megahertz;
    maxFreq = range.maxFreq;
    ui->freq_gbx->setTitle(QStringLiteral("%1 (%2-%3 %4)")
                               .arg(ui->freq_gbx->title())
                               .arg(minFreq)
                               .arg(maxFreq)
                               .arg(models::unitText(range)));

    ui->TitleID->setText(model + QStringLiteral(" - ") + firmware + QStringLiteral(" - SN:") + serial);

    refSourceGroup->addButton(ui->ref_ext_radio);
    refSourceGroup->addButton(ui->ref_int_radio);
    pllModeGroup->addButton(ui->pllm_frac_rad);
    pllModeGroup->addButton(ui->pllm_int_rad);
    ui->ref_int_radio->setChecked(true);
    showReferenceSource(false);

    firmwareParts = firmware.split(QLatin1Char('.'));
    firmwareParts.first().remove(0, 1);

    QStringList dividers;
    dividers.reserve(DividerCount);
    for (int divider = 1; divider <= DividerCount; ++divider)
        dividers << QString::number(divider);
    ui->ref_div_cmb->addItems(dividers);

    ui->state_cmb->setCurrentIndex(1);
    ui->state_cmb->setCurrentIndex(0);

    const bool storedStates = firmwareMajor(firmwareParts) > 3;
    ui->state_config_gbx->setEnabled(storedStates);
    ui->state_config_gbx->setVisible(storedStates);

    ui->ref_div_cmb->show();
    ui->ref_div_lbl->show();
    ui->power_btn->show();
    ui->power_lbl->show();
    ui->temp_gbx->show();
    ui->thres_lbl_2->hide();
    ui->thres_lbl->hide();
    ui->Thres_btn->hide();

    // The RF label keeps its padding in every state, so its row never grows.
    ui->power_lbl->setStyleSheet(QLatin1String(RfUnknownStyle));
    fitToFont();
    new EntryGuard(this);
    frequencyKnob = new DigitKnob(ui->freq_text, [this](const QString &suffix) {
        std::optional<std::pair<double, double>> limits;
        if (const std::optional<double> factor = units::frequencyFactor(suffix, megahertz))
            limits = std::make_pair(double(minFreq) / *factor, double(maxFreq) / *factor);
        return limits;
    });
    powerKnob = new DigitKnob(ui->Powe_Val, [](const QString &suffix) {
        std::optional<std::pair<double, double>> limits;
        if (units::readPower(QStringLiteral("0") + suffix))
            limits = std::make_pair(double(reply::MinPower), double(reply::MaxPower));
        return limits;
    });
    // Polling would overwrite a value being stepped; it resumes once the
    // settled value is sent.
    connect(frequencyKnob, &DigitKnob::stepped, this, &UsbStickTab::stopRefresh);
    connect(powerKnob, &DigitKnob::stepped, this, &UsbStickTab::stopRefresh);
    connect(frequencyKnob, &DigitKnob::settled, this, &UsbStickTab::on_freq_button_clicked);
    connect(powerKnob, &DigitKnob::settled, this, &UsbStickTab::on_Powe_set_clicked);

    initialised = true;
    currentState = 0;
    refreshTimer->stop();

    sweepWindow = new SweepWindow(serial, minFreq, maxFreq, models::unitText(range));
    connect(sweepWindow, &SweepWindow::sendPoint, this, &UsbStickTab::sendSweepPoint);
    connect(sweepWindow, &SweepWindow::logMsg, this, &UsbStickTab::logMsg);
    connect(sweepWindow, &SweepWindow::runningChanged, this, &UsbStickTab::sweepRunningChanged);
    connect(sweepWindow, &SweepWindow::pointSent, this, &UsbStickTab::showSweepPoint);
    connect(this, &UsbStickTab::connectionLost, sweepWindow, &SweepWindow::stopSweep);

    presetWindow = new PresetWindow(serial, range, [this](QString *unknown) -> std::optional<presets::Preset> {
        QStringList missing;
        const ReadSettings &read = lastRead;
        if (!read.frequency)
            missing << QStringLiteral("frequency");
        if (!read.powerDbm)
            missing << QStringLiteral("power");
        if (!read.referenceExternal || !read.referenceMHz)
            missing << QStringLiteral("reference");
        if (!read.divider)
            missing << QStringLiteral("divider");
        if (!read.pllInteger)
            missing << QStringLiteral("PLL mode");
        if (!missing.isEmpty()) {
            *unknown = missing.join(QStringLiteral(", "));
            return std::nullopt;
        }
        presets::Preset preset;
        preset.frequencyMHz = megahertz ? *read.frequency : *read.frequency * 1000;
        preset.powerDbm = *read.powerDbm;
        preset.referenceExternal = *read.referenceExternal;
        preset.referenceMHz = *read.referenceMHz;
        preset.divider = *read.divider;
        preset.pllInteger = *read.pllInteger;
        return preset;
    });
    connect(presetWindow, &PresetWindow::applyLines, this, &UsbStickTab::applyPreset);
    connect(presetWindow, &PresetWindow::logMsg, this, &UsbStickTab::logMsg);
}

UsbStickTab::~UsbStickTab()
{
    delete presetWindow;
    delete sweepWindow;
    delete ui;
    delete stateViewer;
    delete thresWindow;
    delete refreshTimer;
    delete refSourceGroup;
    delete pllModeGroup;
}

void UsbStickTab::startRefresh()
{
    stopRefresh();
    resumeRefresh();
}

void UsbStickTab::resumeRefresh()
{
    if (!closing)
        refreshTimer->start();
}

void UsbStickTab::showReferenceSource(bool external)
{
    // The reference frequency can be entered only for an external reference.
    ui->reference_freq_txt->setEnabled(external);
    ui->set_ref_freq_btn->setEnabled(external);
}

void UsbStickTab::fitToFont()
{
    // The form's fixed sizes suit the default font; a larger font (or another
    // style) gets the room its texts need, the longest they will show included.
    const auto atLeast = [](QWidget *widget, QSize needed) {
        widget->setMaximumSize(widget->maximumSize().expandedTo(needed));
        widget->setMinimumSize(widget->minimumSize().expandedTo(needed).boundedTo(widget->maximumSize()));
    };
    const int buttonMargins = 2 * style()->pixelMetric(QStyle::PM_ButtonMargin);
    const int frameMargins = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    for (QPushButton *button : findChildren<QPushButton *>()) {
        const QString longest = button == ui->save_state_btn ? QStringLiteral("Save Current\n Parameters to:\nState 0")
                                                             : button->text();
        QSize content = button->fontMetrics().size(Qt::TextShowMnemonic, longest);
        if (!button->icon().isNull())
            content.rwidth() += button->iconSize().width() + 4;
        atLeast(button, content + QSize(buttonMargins, frameMargins));
    }
    for (const auto &[label, longest] : {std::pair{ui->act_freq_lbl, "00.000000 GHz"}, {ui->temp_lbl, "-00.00 C"},
                                         {ui->atten_stat_lbl, "Power is set to Maximum"}}) {
        const QString shown = label->text();
        label->setText(QLatin1String(longest));
        const QSize needed = label->minimumSizeHint();
        label->setText(shown);
        atLeast(label, QSize(needed.width(), 0));
    }
    const int frame = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 6;
    for (const auto &[edit, longest] : {std::pair{ui->reference_freq_txt, "100"}, {ui->freq_text, "00.000000"},
                                        {ui->Powe_Val, "-00.00 MIN"}})
        atLeast(edit, QSize(edit->fontMetrics().horizontalAdvance(QLatin1String(longest)) + frame, 0));
    ui->state_cmb->setMaximumWidth(qMax(ui->state_cmb->maximumWidth(), ui->state_cmb->sizeHint().width()));
    // A box's own minimum overrides what its layout needs: take the larger.
    // The temperature box needs less than its fixed width, which leaves the
    // actual frequency's unit room at the default font.
    ui->temp_gbx->setMinimumWidth(0);
    for (QGroupBox *box : findChildren<QGroupBox *>())
        atLeast(box, box->minimumSizeHint());
    setMinimumSize(minimumSize().expandedTo(layout()->minimumSize()));
}

void UsbStickTab::showRfState()
{
    if (rfShown == rfOn)
        return; // restyling costs more than the pass's other updates
    rfShown = rfOn;
    ui->power_lbl->setText(*rfOn ? QStringLiteral("RF Power is ON") : QStringLiteral("RF Power is OFF"));
    ui->power_lbl->setStyleSheet(*rfOn ? QLatin1String(RfOnStyle) : QLatin1String(RfOffStyle));
}

void UsbStickTab::stopRefresh()
{
    if (refreshTimer->isActive())
        refreshTimer->stop();
}

void UsbStickTab::queue(const QString &line)
{
    commandQueue.append(line);
}

// --- Session and transport -------------------------------------------------

visa::Status UsbStickTab::openVisaSession()
{
    // A failed open must never leave another session's handle here for the
    // failure path to close.
    instrument = visa::NullSession;
    return visa::open(resourceManager, resourceName, &instrument);
}

void UsbStickTab::connectionFailed(visa::Status status)
{
    emit logMsg(QStringLiteral("Connection Error: Code %1").arg(qint64(status)));
    visa::close(instrument);
    instrument = visa::NullSession;
    busy = false;
    // The main window closes every tab and rescans; nothing here runs after.
    emit connectionLost();
}

void UsbStickTab::sendVisaMessages()
{
    stopRefresh();
    if (busy)
        return; // the holder of the session sends the queue when it ends
    busy = true;
    const visa::Status status = openVisaSession();
    if (status < 0) {
        connectionFailed(status);
        return;
    }
    // What was sent changes the settings; they are known again after the next pass.
    lastRead = {};
    for (const QString &line : qAsConst(commandQueue))
        visa::writeLine(instrument, line);
    commandQueue.clear();
    visa::close(instrument);
    instrument = visa::NullSession;
    busy = false;
    resumeRefresh();
}

// --- Status refresh ----------------------------------------------------------

void UsbStickTab::refreshInterface()
{
    if (sweeping)
        return;
    if (busy)
        return;
    busy = true;
    const visa::Status status = openVisaSession();
    if (status < 0) {
        connectionFailed(status);
        return;
    }

    if (readingsPaused)
        showReadingsPaused(false);
    const QString error = refreshPass();
    if (!error.isEmpty()) {
        // Widgets set so far keep their values; queued lines wait for the
        // next batch. debugOut re-arms the timer.
        emit logMsg(error);
        visa::close(instrument);
        instrument = visa::NullSession;
        busy = false;
        return;
    }

    visa::close(instrument);
    instrument = visa::NullSession;
    busy = false;
    if (!commandQueue.isEmpty())
        sendVisaMessages();
    else
        resumeRefresh();
}

QString UsbStickTab::refreshPass()
{
    const state::Readings r = state::read(
        instrument, {productId, double(minFreq), double(maxFreq), firmwareMajor(firmwareParts) > 3});
    // What was read is shown in the pass's order; a reading after the
    // first unusable reply is empty and its widgets keep what they showed.
    if (r.referenceExternal) {
        // What the instrument reports is shown, never sent back to it.
        const QSignalBlocker internal(ui->ref_int_radio);
        const QSignalBlocker external(ui->ref_ext_radio);
        (*r.referenceExternal ? ui->ref_ext_radio : ui->ref_int_radio)->setChecked(true);
        showReferenceSource(*r.referenceExternal);
        lastRead.referenceExternal = r.referenceExternal;
    }
    if (r.rfOn) {
        rfOn = *r.rfOn;
        showRfState();
    }
    if (r.referenceText) {
        ui->reference_freq_txt->setText(*r.referenceText);
        lastRead.referenceMHz = r.referenceMHz;
    }
    if (r.pllInteger) {
        const QSignalBlocker fractional(ui->pllm_frac_rad);
        const QSignalBlocker integer(ui->pllm_int_rad);
        (*r.pllInteger ? ui->pllm_int_rad : ui->pllm_frac_rad)->setChecked(true);
        lastRead.pllInteger = r.pllInteger;
    }
    if (r.divider) {
        const QSignalBlocker divider(ui->ref_div_cmb);
        ui->ref_div_cmb->setCurrentIndex(*r.divider - 1);
        lastRead.divider = r.divider;
    }
    if (r.locked)
        showLock(*r.locked);
    if (r.powerText) {
        ui->Powe_Val->setText(*r.powerText);
        lastRead.powerDbm = *r.powerDbm;
        switch (r.powerStatus) {
        case reply::PowerStatus::Minimum:
            ui->atten_stat_lbl->setText(QStringLiteral("Power is set to Minimum"));
            break;
        case reply::PowerStatus::Maximum:
            ui->atten_stat_lbl->setText(QStringLiteral("Power is set to Maximum"));
            break;
        case reply::PowerStatus::Off:
        case reply::PowerStatus::None:
            ui->atten_stat_lbl->setText(QString());
            break;
        }
    }
    if (r.frequency) {
        // To the instrument's resolution, 1 kHz, so that Set sends it back unchanged.
        ui->freq_text->setText(QString::number(*r.frequency, 'f', frequencyDecimals));
        lastRead.frequency = r.frequency;
    }
    if (r.actualFrequency)
        ui->act_freq_lbl->setText(*r.actualFrequency + (megahertz ? QStringLiteral(" MHz") : QStringLiteral(" GHz")));
    if (r.storedStates)
        stateViewer->showStates(*r.storedStates);
    if (!r.storedStatesError.isEmpty())
        emit logMsg(r.storedStatesError);
    if (r.temperature)
        ui->temp_lbl->setText(QString::number(*r.temperature, 'f', 2) + QStringLiteral(" C"));
    else if (r.error.isEmpty() && !models::hasTemperatureSensor(productId))
        ui->temp_lbl->setText(QStringLiteral("N/A"));
    return r.error;
}

void UsbStickTab::showLock(bool locked)
{
    // The pictures are decoded once per tab, and the label is only touched
    // when the lock changes.
    if (lockShown == locked)
        return;
    if (lockPictures[locked].isNull())
        lockPictures[locked] = QPixmap(locked ? QStringLiteral(":/Icons/Lock-icon.png")
                                              : QStringLiteral(":/Icons/Lock-Unlock-icon.png"));
    ui->lock_lbl->setPixmap(lockPictures[locked]);
    const QString text = locked ? QStringLiteral("PLL locked") : QStringLiteral("PLL unlocked");
    ui->lock_lbl->setToolTip(text);
    ui->lock_lbl->setAccessibleName(text);
    lockShown = locked;
}

// --- Output controls ---------------------------------------------------------

void UsbStickTab::showInputError(const QString &text)
{
    // Owned by the tab and shown without an event loop of its own: a rescan
    // may delete the tab while the box is up, and the box goes with it.
    auto *box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setText(text);
    box->open();
}

void UsbStickTab::on_freq_button_clicked()
{
    stopRefresh();
    frequencyKnob->cancel();
    const std::optional<double> frequency = units::readFrequency(ui->freq_text->text(), megahertz);
    const QString hint = QLatin1Char('\n') + units::frequencyHint(minFreq, maxFreq, megahertz);
    if (!frequency) {
        showInputError(QStringLiteral("Frequency Not Recognized") + hint);
        return;
    }
    if (double(minFreq) > *frequency || *frequency > double(maxFreq)) {
        showInputError(QStringLiteral("Frequency Range Error") + hint);
        return;
    }
    queue(cmd::setFrequency(*frequency));
    sendVisaMessages();
}

void UsbStickTab::on_Powe_set_clicked()
{
    stopRefresh();
    powerKnob->cancel();
    const QString typed = ui->Powe_Val->text();
    const QString upper = typed.toUpper();
    if (upper.contains(QLatin1String("MIN"))) {
        queue(QString::fromLatin1(cmd::PowerMinimum));
    } else if (upper.contains(QLatin1String("MAX"))) {
        queue(QString::fromLatin1(cmd::PowerMaximum));
    } else {
        const std::optional<double> dBm = units::readPower(typed);
        const QString hint = QLatin1Char('\n') + units::powerHint(reply::MinPower, reply::MaxPower);
        if (!dBm) {
            showInputError(QStringLiteral("Power Not Recognized") + hint);
            return;
        }
        if (*dBm < reply::MinPower || *dBm > reply::MaxPower) {
            showInputError(QStringLiteral("Power Range Error") + hint);
            return;
        }
        queue(cmd::setPower(*dBm));
    }
    ui->atten_stat_lbl->setText(QString());
    sendVisaMessages();
}

void UsbStickTab::on_set_min_powe_btn_clicked()
{
    stopRefresh();
    queue(QString::fromLatin1(cmd::PowerMinimum));
    sendVisaMessages();
}

void UsbStickTab::on_set_max_powe_btn_clicked()
{
    stopRefresh();
    queue(QString::fromLatin1(cmd::PowerMaximum));
    sendVisaMessages();
}

void UsbStickTab::on_power_btn_clicked()
{
    stopRefresh();
    if (!rfOn) {
        // Not read yet: a toggle would be a guess.
        resumeRefresh();
        return;
    }
    rfOn = !*rfOn;
    queue(cmd::rfOutput(*rfOn));
    showRfState();
    sendVisaMessages();
}

void UsbStickTab::on_ref_int_radio_toggled(bool checked)
{
    stopRefresh();
    if (!initialised) {
        resumeRefresh();
        return;
    }
    queue(cmd::referenceExternal(!checked));
    showReferenceSource(!checked);
    sendVisaMessages();
}

void UsbStickTab::on_set_ref_freq_btn_clicked()
{
    stopRefresh();
    const QString typed = ui->reference_freq_txt->text();
    const int megahertz = typed.toInt();
    if (megahertz < MinReferenceMHz || megahertz > MaxReferenceMHz)
        return;
    queue(cmd::referenceFrequency(megahertz));
    sendVisaMessages();
}

void UsbStickTab::on_ref_div_cmb_currentTextChanged(QString arg1)
{
    stopRefresh();
    if (!initialised) {
        resumeRefresh();
        return;
    }
    queue(cmd::referenceDivider(arg1.toInt()));
    sendVisaMessages();
}

void UsbStickTab::on_pllm_frac_rad_toggled(bool checked)
{
    stopRefresh();
    queue(cmd::pllMode(checked ? 0 : 1));
    sendVisaMessages();
}

void UsbStickTab::on_refresh_btn_clicked()
{
    startRefresh();
}

// --- Stored states -------------------------------------------------------------

void UsbStickTab::on_state_cmb_currentIndexChanged(int index)
{
    stopRefresh();
    if (index != 0) {
        ui->save_state_btn->setEnabled(true);
        ui->save_state_btn->setText(QStringLiteral("Save Current\n Parameters to:\nState ")
                                    + QString::number(currentState));
    } else {
        ui->save_state_btn->setEnabled(false);
        ui->save_state_btn->setText(QStringLiteral("Cannot Save to\n State 0"));
    }
    const QString from = QString::number(currentState);
    const QString to = QString::number(index);
    for (QPushButton *button : {ui->load_state_btn, ui->save_state_btn, ui->set_default_btn})
        button->setText(button->text().replace(from, to));
    currentState = quint8(index);
    resumeRefresh();
}

void UsbStickTab::on_load_state_btn_clicked()
{
    stopRefresh();
    queue(cmd::loadState(ui->state_cmb->currentIndex()));
    sendVisaMessages();
}

void UsbStickTab::on_save_state_btn_clicked()
{
    stopRefresh();
    const int state = ui->state_cmb->currentIndex();
    if (state == 0)
        return; // state 0 holds the factory settings and is never overwritten
    queue(cmd::saveState(state));
    sendVisaMessages();
}

void UsbStickTab::on_set_default_btn_clicked()
{
    stopRefresh();
    queue(cmd::bootState(ui->state_cmb->currentIndex()));
    sendVisaMessages();
}

void UsbStickTab::on_view_state_parameters_clicked()
{
    stopRefresh();
    stateViewer->show();
    resumeRefresh();
}

// --- Temperature threshold -----------------------------------------------------

void UsbStickTab::set_thres(float thrs)
{
    stopRefresh();
    queue(cmd::temperatureThreshold(thrs));
    sendVisaMessages();
}

void UsbStickTab::on_Thres_btn_clicked()
{
    stopRefresh();
    thresWindow->show();
    resumeRefresh();
}

// --- Timer, log and closing ----------------------------------------------------

void UsbStickTab::debugOut(QString str)
{
    stopRefresh();
    qDebug() << resourceName + QStringLiteral(":") + str;
    resumeRefresh();
}

void UsbStickTab::tabsChanged()
{
    stopRefresh();
    if (isVisible())
        resumeRefresh();
}

void UsbStickTab::closeStateViewer()
{
    closing = true;
    // The tab's open boxes go unanswered.
    for (QDialog *dialog : findChildren<QDialog *>())
        dialog->reject();
    for (QDialog *dialog : presetWindow->findChildren<QDialog *>())
        dialog->reject();
    closeSweepWindow();
    presetWindow->close();
    stopRefresh();
    stateViewer->close();
    thresWindow->close();
    close();
    deleteLater();
}

// --- Sweeps --------------------------------------------------------------------

void UsbStickTab::closeSweepWindow()
{
    for (QDialog *dialog : sweepWindow->findChildren<QDialog *>())
        dialog->reject();
    sweepWindow->stopSweep();
    sweepWindow->close();
}

void UsbStickTab::on_sweep_btn_clicked()
{
    stopRefresh();
    sweepWindow->show();
    sweepWindow->raise();
    sweepWindow->activateWindow();
    if (!sweeping)
        resumeRefresh();
}

void UsbStickTab::sendSweepPoint(const QStringList &lines)
{
    for (const QString &line : lines)
        queue(line);
    sendVisaMessages();
    // The batch re-arms the timer; the sweep paces the instrument alone.
    stopRefresh();
}

void UsbStickTab::showSweepPoint(const sweep::Point &point, const QString &progress)
{
    // A field the operator is typing in, or stepping, keeps the operator's text.
    const auto show = [](QLineEdit *edit, const DigitKnob *knob, const QString &text) {
        if (!(edit->hasFocus() && edit->isModified()) && !knob->pending())
            edit->setText(text);
    };
    if (point.frequency)
        show(ui->freq_text, frequencyKnob, QString::number(*point.frequency, 'f', frequencyDecimals));
    if (point.power)
        show(ui->Powe_Val, powerKnob, cmd::formatPower(*point.power));
    QString where = progress;
    if (!where.isEmpty())
        where[0] = where.at(0).toLower();
    ui->sweep_status_lbl->setText(QStringLiteral("Sweeping: %1 \u2014 readings paused").arg(where));
}

void UsbStickTab::showReadingsPaused(bool paused)
{
    readingsPaused = paused;
    for (QWidget *reading : {ui->label_6, ui->act_freq_lbl, ui->label_2, ui->lock_lbl, ui->atten_stat_lbl,
                             ui->temp_title_lbl, ui->temp_lbl})
        reading->setEnabled(!paused);
    const QString note = QStringLiteral("Not read while a sweep runs");
    for (QWidget *reading : {ui->act_freq_lbl, ui->lock_lbl, ui->atten_stat_lbl, ui->temp_lbl})
        reading->setToolTip(paused ? note : QString());
}

void UsbStickTab::sweepRunningChanged(bool running)
{
    sweeping = running;
    presetWindow->setApplyAllowed(!running);
    if (running) {
        showReadingsPaused(true);
        ui->sweep_status_lbl->setText(QStringLiteral("Sweeping \u2014 readings paused"));
    }
    ui->sweep_status_lbl->setVisible(running);
    stopRefresh();
    if (!running && isVisible())
        resumeRefresh();
}

// --- Presets -------------------------------------------------------------------

void UsbStickTab::on_presets_btn_clicked()
{
    stopRefresh();
    presetWindow->show();
    presetWindow->raise();
    presetWindow->activateWindow();
    if (!sweeping)
        resumeRefresh();
}

void UsbStickTab::applyPreset(const QStringList &lines, bool rfOnAfter)
{
    stopRefresh();
    if (sweeping)
        return; // the sweep owns the instrument
    for (const QString &line : lines)
        queue(line);
    rfOn = rfOnAfter;
    ui->power_lbl->setText(*rfOn ? QStringLiteral("RF Power is ON") : QStringLiteral("RF Power is OFF"));
    sendVisaMessages();
}
