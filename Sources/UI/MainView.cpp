#include "UI/MainView.hpp"

#include "UI/Banner.hpp"
#include "UI/FanCard.hpp"
#include "UI/FanCurveEditor.hpp"
#include "UI/HistoryGraphView.hpp"
#include "UI/Labels.hpp"
#include "UI/PresetDeletionPrompt.hpp"
#include "UI/SymbolIcon.hpp"
#include "UI/TemperatureGaugeView.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

namespace quorvane {

namespace {

using Property = AppModel::Property;
constexpr int presetIDRole = Qt::UserRole;

QString text(const UUID& id) {
    return QString::fromStdString(id.uuidString());
}

} // namespace

MainView::MainView(AppModelAdapter& adapter, DesktopActions actions, QWidget* parent)
    : QWidget(parent), adapter_(adapter), model_(adapter.model()), actions_(std::move(actions)) {
    setMinimumSize(520, 430);
    auto* split = new QSplitter(this);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(split);

    // Sidebar.
    auto* sidebar = new QWidget;
    auto* side = new QVBoxLayout(sidebar);
    side->addWidget(headingLabel(QStringLiteral("Presets")));
    presetList_ = new QListWidget;
    presetList_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    side->addWidget(presetList_, 1);
    auto* create = new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("New Custom Preset"));
    connect(create, &QPushButton::clicked, this, [this] { model_.createCustomPreset(); });
    side->addWidget(create);
    // Choosing a row only selects it; the fans change when the user applies it.
    applyButton_ = new QPushButton(QStringLiteral("Apply Preset"));
    connect(applyButton_, &QPushButton::clicked, this, [this] {
        if (auto preset = selectedPreset()) {
            model_.activate(*preset);
        }
    });
    side->addWidget(applyButton_);
    auto* rowActions = new QHBoxLayout;
    editButton_ = new QPushButton(QStringLiteral("Edit…"));
    renameButton_ = new QPushButton(QStringLiteral("Rename"));
    duplicateButton_ = new QPushButton(QStringLiteral("Duplicate"));
    deleteButton_ = new QPushButton(QStringLiteral("Delete"));
    for (auto* button : {editButton_, renameButton_, duplicateButton_, deleteButton_}) {
        rowActions->addWidget(button);
    }
    side->addLayout(rowActions);
    connect(editButton_, &QPushButton::clicked, this, [this] {
        if (auto preset = selectedPreset()) {
            editPreset(*preset);
        }
    });
    connect(renameButton_, &QPushButton::clicked, this, [this] {
        if (auto* item = presetList_->currentItem()) {
            presetList_->editItem(item);
        }
    });
    connect(duplicateButton_, &QPushButton::clicked, this, [this] {
        if (auto preset = selectedPreset()) {
            model_.duplicatePreset(*preset);
        }
    });
    connect(deleteButton_, &QPushButton::clicked, this, [this] {
        if (auto preset = selectedPreset()) {
            deletion_.ask(*preset);
        }
    });
    connect(presetList_, &QListWidget::currentItemChanged, this, [this] { refreshSelectionButtons(); });
    connect(presetList_, &QListWidget::itemChanged, this, &MainView::commitRename);
    split->addWidget(sidebar);

    // Detail.
    auto* detail = new QWidget;
    auto* column = new QVBoxLayout(detail);
    criticalBanner_ =
        new Banner(Banner::Tone::critical,
                   QStringLiteral("Critical raw-die override active — all controlled fans are at maximum"),
                   {}, QStringLiteral("exclamationmark.triangle.fill"));
    column->addWidget(criticalBanner_);
    conflictBanner_ = new Banner(Banner::Tone::warning, {});
    column->addWidget(conflictBanner_);
    errorBanner_ = new Banner(Banner::Tone::warning, {});
    column->addWidget(errorBanner_);
    gauge_ = new TemperatureGaugeView(QStringLiteral("Hottest live sensor"));
    column->addWidget(gauge_);
    auto* helperRow = new QHBoxLayout;
    helperRow->addWidget(new QLabel(QStringLiteral("Helper")));
    helperState_ = new QLabel;
    helperRow->addWidget(helperState_);
    helperRow->addStretch(1);
    auto* sensors = new QPushButton(symbolIcon(QStringLiteral("thermometer.medium")),
                                    QStringLiteral("Temperature Sensors"));
    connect(sensors, &QPushButton::clicked, this, [this] { DesktopActions::run(actions_.openSensors); });
    helperRow->addWidget(sensors);
    column->addLayout(helperRow);
    fanCards_ = new QVBoxLayout;
    column->addLayout(fanCards_);
    auto* history = new HistoryGraphView(adapter_);
    history->setMinimumHeight(240);
    column->addWidget(history, 1);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setWidget(detail);
    split->addWidget(scroll);
    split->setStretchFactor(1, 1);
    split->setSizes({220, 560});

    connect(&adapter_, &AppModelAdapter::changed, this, &MainView::refresh);
    refresh(AppModelAdapter::Changes::all());
}

void MainView::refresh(const AppModelAdapter::Changes& changes) {
    if (changes.containsAny({Property::customPresets, Property::activePreset})) {
        rebuildPresets();
    }
    if (changes.containsAny({Property::lastError, Property::activeConflictMessage})) {
        refreshBanners();
    }
    if (changes.containsAny({Property::criticalThermalOverrideActive, Property::displayTemperature,
                             Property::activePreset, Property::pollingInterval, Property::helperState})) {
        refreshDetail();
    }
    if (changes.containsAny(
            {Property::fans, Property::fanControlTemperatures, Property::fanControlDrivers})) {
        refreshFans();
    }
}

void MainView::rebuildPresets() {
    rebuilding_ = true;
    const auto selected = selectedPreset();
    presetList_->clear();
    const UUID active = model_.activePreset().id;
    for (const auto& preset : model_.presetMenu()) {
        auto* item =
            new QListWidgetItem(symbolIcon(preset.id == active ? QStringLiteral("checkmark.circle.fill")
                                                               : QStringLiteral("circle")),
                                QString::fromStdString(preset.name), presetList_);
        item->setData(presetIDRole, text(preset.id));
        // The check mark is only a picture: say which preset drives the fans in words as well.
        if (preset.id == active) {
            item->setData(Qt::AccessibleTextRole,
                          QString::fromStdString(preset.name) + QStringLiteral(", active"));
            item->setData(Qt::AccessibleDescriptionRole, QStringLiteral("Active preset"));
            item->setToolTip(QStringLiteral("Active preset"));
        }
        if (!preset.isLocked()) {
            item->setFlags(item->flags() | Qt::ItemIsEditable);
        }
        if (selected && selected->id == preset.id) {
            presetList_->setCurrentItem(item);
        }
    }
    rebuilding_ = false;
    refreshSelectionButtons();
}

std::optional<FanPreset> MainView::selectedPreset() const {
    const auto* item = presetList_->currentItem();
    if (!item) {
        return std::nullopt;
    }
    const auto id = item->data(presetIDRole).toString().toStdString();
    for (const auto& preset : model_.presetMenu()) {
        if (preset.id.uuidString() == id) {
            return preset;
        }
    }
    return std::nullopt;
}

void MainView::refreshSelectionButtons() {
    const auto preset = selectedPreset();
    const bool editable = preset && !preset->isLocked();
    applyButton_->setEnabled(preset && preset->id != model_.activePreset().id);
    editButton_->setEnabled(editable);
    renameButton_->setEnabled(editable);
    deleteButton_->setEnabled(editable);
    duplicateButton_->setEnabled(preset && preset->kind == PresetKind::custom);
}

void MainView::commitRename(QListWidgetItem* item) {
    if (rebuilding_) {
        return;
    }
    const auto id = item->data(presetIDRole).toString().toStdString();
    for (const auto& preset : model_.customPresets()) {
        if (preset.id.uuidString() == id) {
            // The model trims and refuses a blank name; the list then shows the stored name again.
            model_.renamePreset(preset, item->text().toStdString());
            QMetaObject::invokeMethod(this, &MainView::rebuildPresets, Qt::QueuedConnection);
            return;
        }
    }
}

void MainView::refreshBanners() {
    const auto& conflict = model_.activeConflictMessage();
    conflictBanner_->setVisible(conflict.has_value());
    conflictBanner_->setText(QString::fromStdString(conflict.value_or("")));
    const auto error = model_.visibleError();
    errorBanner_->setVisible(error.has_value());
    errorBanner_->setText(QString::fromStdString(error.value_or("")));
}

void MainView::refreshDetail() {
    criticalBanner_->setVisible(model_.criticalThermalOverrideActive());
    gauge_->setReading(model_.displayTemperature(), QString::fromStdString(model_.activePreset().name),
                       model_.pollingInterval());
    const bool ready = model_.helperState() == HelperInstallState::enabled;
    helperState_->setText(QString::fromStdString(rawValue(model_.helperState())));
    helperState_->setStyleSheet(ready ? QStringLiteral("color: #2e8b3d; font-weight: bold;")
                                      : QStringLiteral("color: #d9822b; font-weight: bold;"));
}

void MainView::refreshFans() {
    auto fans = model_.fans();
    std::sort(fans.begin(), fans.end(), [](const FanInfo& a, const FanInfo& b) { return a.index < b.index; });
    while (cards_.size() < fans.size()) {
        cards_.push_back(new FanCard);
        fanCards_->addWidget(cards_.back());
    }
    while (cards_.size() > fans.size()) {
        cards_.back()->deleteLater();
        cards_.pop_back();
    }
    for (std::size_t i = 0; i < fans.size(); ++i) {
        const int index = fans[i].index;
        const auto temperature = model_.fanControlTemperatures().find(index);
        const auto driver = model_.fanControlDrivers().find(index);
        cards_[i]->setFan(
            fans[i],
            temperature != model_.fanControlTemperatures().end() ? std::optional<double>(temperature->second)
                                                                 : std::nullopt,
            driver != model_.fanControlDrivers().end() ? std::optional<std::string>(driver->second)
                                                       : std::nullopt);
    }
}

void MainView::editPreset(const FanPreset& preset) {
    if (preset.isLocked()) {
        return;
    }
    if (editor_) {
        editor_->close();
    }
    std::vector<int> indices;
    for (const auto& fan : model_.fans()) {
        indices.push_back(fan.index);
    }
    std::sort(indices.begin(), indices.end());
    auto* editor = new FanCurveEditor(preset, indices, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &FanCurveEditor::saveRequested, this, [this, editor](const FanPreset& edited) {
        model_.savePreset(edited);
        const auto& library = model_.customPresets();
        // Saved only when valid; otherwise the model says why and the sheet stays open for a fix.
        if (std::find(library.begin(), library.end(), edited) != library.end()) {
            model_.activate(edited);
            editor->accept();
            return;
        }
        const auto error = model_.visibleError();
        editor->showError(error ? std::optional<QString>(QString::fromStdString(*error)) : std::nullopt);
    });
    connect(editor, &FanCurveEditor::deleteRequested, this,
            [this](const FanPreset& doomed) { model_.deletePreset(doomed); });
    editor_ = editor;
    editor->open();
}

} // namespace quorvane
