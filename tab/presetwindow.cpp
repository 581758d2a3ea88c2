#include "tab/presetwindow.h"

#include "ui_presetwindow.h"

#include <QFileDialog>
#include <QPointer>

PresetWindow::PresetWindow(const QString &serial, const models::FrequencyRange &range, PresentSettings present,
                           QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::PresetWindow)
    , serial(serial)
    , range(range)
    , present(std::move(present))
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Presets - SN:") + serial);
    setAttribute(Qt::WA_QuitOnClose, false);
    // Each button keeps room for its text and margins at any font size, and
    // the window grows so that the list keeps its own; at the default font
    // the window keeps the form's size.
    const int margins = 2 * (style()->pixelMetric(QStyle::PM_ButtonMargin) + style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setMinimumWidth(button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width() + margins);
    resize(size().expandedTo(sizeHint()));
    connect(ui->save_btn, &QPushButton::clicked, this, &PresetWindow::savePresent);
    connect(ui->rename_btn, &QPushButton::clicked, this, &PresetWindow::renameSelected);
    connect(ui->delete_btn, &QPushButton::clicked, this, &PresetWindow::deleteSelected);
    connect(ui->apply_btn, &QPushButton::clicked, this, &PresetWindow::applySelected);
    connect(ui->export_btn, &QPushButton::clicked, this, &PresetWindow::exportFile);
    connect(ui->import_btn, &QPushButton::clicked, this, &PresetWindow::importFile);
    connect(ui->preset_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < list.size())
            ui->name_txt->setText(list.at(row).name);
    });
}

PresetWindow::~PresetWindow()
{
    delete ui;
}

void PresetWindow::setApplyAllowed(bool allowed)
{
    applyAllowed = allowed;
    ui->apply_btn->setEnabled(allowed);
}

void PresetWindow::showEvent(QShowEvent *event)
{
    // Another tab's window may have changed the file meanwhile.
    if (reload())
        say(QString());
    QWidget::showEvent(event);
}

void PresetWindow::say(const QString &text)
{
    ui->message_lbl->setText(text);
}

bool PresetWindow::reload()
{
    const QString path = presets::defaultFilePath();
    const presets::Contents contents = presets::readFile(path);
    damaged = !contents.error.isEmpty();
    if (damaged) {
        // Nothing of a damaged file is shown or used, and it is never
        // written over: the operator decides what becomes of it.
        list.clear();
        unknown = {};
        showList();
        const QString text = QStringLiteral("Preset file %1 is damaged: %2").arg(path, contents.error);
        say(text);
        emit logMsg(text);
        return false;
    }
    list = contents.presets;
    unknown = contents.unknown;
    showList(ui->name_txt->text());
    return true;
}

bool PresetWindow::store(const QList<presets::Preset> &changed)
{
    const QString error = presets::writeFile(presets::defaultFilePath(), changed, unknown);
    if (!error.isEmpty()) {
        say(QStringLiteral("Presets not saved: ") + error);
        emit logMsg(QStringLiteral("Presets not saved: ") + error);
        return false;
    }
    list = changed;
    return true;
}

void PresetWindow::showList(const QString &select)
{
    const QSignalBlocker blocker(ui->preset_list);
    ui->preset_list->clear();
    for (const presets::Preset &preset : std::as_const(list)) {
        auto *item = new QListWidgetItem(preset.name, ui->preset_list);
        item->setToolTip(presets::summary(preset));
        if (preset.name == select)
            ui->preset_list->setCurrentItem(item);
    }
}

std::optional<presets::Preset> PresetWindow::selected() const
{
    const int row = ui->preset_list->currentRow();
    if (row < 0 || row >= list.size())
        return std::nullopt;
    return list.at(row);
}

void PresetWindow::savePresent()
{
    const QString name = ui->name_txt->text().trimmed();
    if (name.isEmpty()) {
        say(QStringLiteral("Type a name for the preset first."));
        return;
    }
    QString unknownValues;
    std::optional<presets::Preset> settings = present(&unknownValues);
    if (!settings) {
        say(QStringLiteral("Not saved: %1 not read from the instrument yet.").arg(unknownValues));
        return;
    }
    const QString wrong = presets::check(*settings);
    if (!wrong.isEmpty()) {
        say(QStringLiteral("Not saved: ") + wrong + QLatin1Char('.'));
        return;
    }
    if (!reload())
        return;
    settings->name = name;
    QList<presets::Preset> changed = list;
    const auto same = std::find_if(changed.begin(), changed.end(), [&](const presets::Preset &p) { return p.name == name; });
    if (same != changed.end()) {
        settings->unknown = same->unknown;
        *same = *settings; // saving under an existing name replaces it
    } else {
        changed << *settings;
    }
    if (store(changed)) {
        showList(name);
        say(QStringLiteral("Saved \"%1\": %2").arg(name, presets::summary(*settings)));
    }
}

void PresetWindow::renameSelected()
{
    const std::optional<presets::Preset> preset = selected();
    const QString name = ui->name_txt->text().trimmed();
    if (!preset || name.isEmpty() || !reload())
        return;
    QList<presets::Preset> changed = list;
    bool renamed = false;
    for (const presets::Preset &p : std::as_const(changed)) {
        if (p.name == name && name != preset->name) {
            say(QStringLiteral("A preset named \"%1\" exists already.").arg(name));
            return;
        }
    }
    for (presets::Preset &p : changed) {
        if (p.name == preset->name) {
            p.name = name;
            renamed = true;
        }
    }
    if (renamed && store(changed)) {
        showList(name);
        say(QStringLiteral("Renamed \"%1\" to \"%2\".").arg(preset->name, name));
    }
}

void PresetWindow::deleteSelected()
{
    const std::optional<presets::Preset> preset = selected();
    if (!preset || !reload())
        return;
    QList<presets::Preset> changed = list;
    changed.removeIf([&](const presets::Preset &p) { return p.name == preset->name; });
    if (changed.size() != list.size() && store(changed)) {
        showList();
        say(QStringLiteral("Deleted \"%1\".").arg(preset->name));
    }
}

void PresetWindow::applySelected()
{
    const std::optional<presets::Preset> preset = selected();
    if (!preset || !applyAllowed)
        return;
    const bool rfOn = ui->rf_on_chk->isChecked();
    const presets::Plan plan = presets::applyLines(*preset, range, rfOn);
    if (!plan.refusal.isEmpty()) {
        say(QStringLiteral("Not applied: %1.").arg(plan.refusal));
        return;
    }
    emit applyLines(plan.lines, rfOn);
    say(QStringLiteral("Applied \"%1\"; RF is %2.").arg(preset->name, rfOn ? QStringLiteral("on") : QStringLiteral("off")));
}

void PresetWindow::exportFile()
{
    if (!reload())
        return;
    // Not modal to the application: the window or its tab may go away while
    // the dialog is open.
    auto *dialog = new QFileDialog(this, QStringLiteral("Export Presets"), QString(),
                                   QStringLiteral("Preset files (*.json)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("json"));
    connect(dialog, &QFileDialog::fileSelected, this, [window = QPointer<PresetWindow>(this)](const QString &path) {
        if (!window)
            return;
        const QString error = presets::writeFile(path, window->list, window->unknown);
        window->say(error.isEmpty() ? QStringLiteral("Exported %1 presets to %2.").arg(window->list.size()).arg(path)
                                    : QStringLiteral("Not exported: ") + error);
    });
    dialog->open();
}

void PresetWindow::importFile()
{
    auto *dialog = new QFileDialog(this, QStringLiteral("Import Presets"), QString(),
                                   QStringLiteral("Preset files (*.json);;All files (*)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this, [window = QPointer<PresetWindow>(this)](const QString &path) {
        if (window)
            window->importFrom(path);
    });
    dialog->open();
}

void PresetWindow::importFrom(const QString &path)
{
    const presets::Contents imported = presets::readFile(path);
    if (!imported.error.isEmpty()) {
        say(QStringLiteral("Not imported: %1 is damaged: %2").arg(path, imported.error));
        return;
    }
    if (!reload())
        return;
    // Imported presets never replace stored ones: a name in use gets a number.
    QList<presets::Preset> changed = list;
    for (presets::Preset preset : imported.presets) {
        preset.name = presets::freeName(preset.name, changed);
        changed << preset;
    }
    if (store(changed)) {
        showList();
        say(QStringLiteral("Imported %1 presets from %2.").arg(imported.presets.size()).arg(path));
    }
}
