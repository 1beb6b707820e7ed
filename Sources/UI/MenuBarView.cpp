#include "UI/MenuBarView.hpp"

#include "UI/Banner.hpp"
#include "UI/ExpandedSensorHistoryView.hpp"
#include "UI/FanLabels.hpp"
#include "UI/Labels.hpp"
#include "UI/MenuBarSparkline.hpp"
#include "UI/PresetDeletionPrompt.hpp"
#include "UI/PresetInfoButton.hpp"
#include "UI/SymbolIcon.hpp"
#include "UI/TemperatureGaugeView.hpp"
#include "UI/ViewTexts.hpp"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace quorvane {

namespace {

using Property = AppModel::Property;

void clear(QLayout* layout) {
    while (auto* item = layout->takeAt(0)) {
        if (auto* widget = item->widget()) {
            widget->deleteLater();
        } else if (auto* inner = item->layout()) {
            clear(inner);
        }
        delete item;
    }
}

} // namespace

MenuBarView::MenuBarView(AppModelAdapter& adapter, DesktopActions actions, QWidget* parent)
    : QWidget(parent), adapter_(adapter), model_(adapter.model()), actions_(std::move(actions)) {
    setMinimumWidth(360);
    auto* layout = new QVBoxLayout(this);

    // 1. Banners, each shown while its condition holds.
    noFansBanner_ =
        new Banner(Banner::Tone::information,
                   QStringLiteral("No controllable fans detected on this Mac — sensor monitoring only."));
    unverifiedBanner_ = new Banner(
        Banner::Tone::information,
        QStringLiteral("Monitoring only — fan control is currently hardware-verified on Mac15,11."));
    ownershipBanner_ = new Banner(
        Banner::Tone::information, QStringLiteral("Monitoring only — another app owns fan control"),
        QStringLiteral("Temperatures and RPM remain live. Change the fan-control owner in "
                       "Settings to let Quorvane apply presets."));
    criticalBanner_ =
        new Banner(Banner::Tone::critical, QStringLiteral("Critical die override — both fans at maximum"), {},
                   QStringLiteral("exclamationmark.triangle.fill"));
    conflictBanner_ = new Banner(Banner::Tone::warning, {});
    errorBanner_ = new Banner(Banner::Tone::warning, {});
    for (auto* banner : {noFansBanner_, unverifiedBanner_, ownershipBanner_, criticalBanner_, conflictBanner_,
                         errorBanner_}) {
        layout->addWidget(banner);
    }

    // 2. Thermal summary.
    auto* metrics = new QFormLayout;
    for (auto [property, name] : {std::pair{Property::cpuCoreAverage, "CPU avg"},
                                  std::pair{Property::performanceCoreMaximum, "P-core max"},
                                  std::pair{Property::efficiencyCoreMaximum, "E-core max"},
                                  std::pair{Property::gpuCoreMaximum, "GPU max"}}) {
        auto* value = new QLabel;
        metricValues_[property] = value;
        metrics->addRow(QString::fromUtf8(name), value);
    }
    layout->addLayout(metrics);
    rawToggle_ = new QCheckBox(QStringLiteral("Raw die and hotspot details"));
    connect(rawToggle_, &QCheckBox::toggled, this, [this](bool shown) {
        showRawThermals_ = shown;
        rawRows_->setVisible(shown);
    });
    layout->addWidget(rawToggle_);
    rawRows_ = new QWidget;
    auto* rawLayout = new QFormLayout(rawRows_);
    rawLayout->setContentsMargins(0, 0, 0, 0);
    cpuHotspot_ = new QLabel;
    gpuHotspot_ = new QLabel;
    rawLayout->addRow(QStringLiteral("CPU die hotspot (TCMz)"), cpuHotspot_);
    rawLayout->addRow(QStringLiteral("GPU die hotspot (TRDX)"), gpuHotspot_);
    rawRows_->setVisible(false);
    layout->addWidget(rawRows_);
    gauge_ = new TemperatureGaugeView(QStringLiteral("Hottest live CPU/GPU sensor"));
    layout->addWidget(gauge_);
    layout->addWidget(noteLabel(QStringLiteral("Display only · fan curves use the zone temperatures above")));

    // 3. Fan curve temperatures.
    layout->addWidget(headingLabel(QStringLiteral("Fan Curve Temperatures")));
    layout->addWidget(noteLabel(QStringLiteral("Exact smoothed inputs used by each fan curve")));
    zoneRows_ = new QVBoxLayout;
    layout->addLayout(zoneRows_);

    // 4. Setup and conflict prompts.
    setupPrompt_ = new QWidget;
    {
        auto* prompt = new QVBoxLayout(setupPrompt_);
        prompt->setContentsMargins(0, 0, 0, 0);
        prompt->addWidget(
            noteLabel(QStringLiteral("One-time setup: approve the Quorvane helper as an administrator.")));
        auto* install = new QPushButton(QStringLiteral("Install and Request Approval"));
        connect(install, &QPushButton::clicked, this, [this, install] {
            install->setEnabled(false);
            model_.installHelper([button = QPointer<QPushButton>(install)](std::optional<std::string>) {
                if (button) {
                    button->setEnabled(true);
                }
            });
        });
        prompt->addWidget(install);
        prompt->addWidget(noteLabel(QStringLiteral(
            "Other fan-control apps may conflict with Quorvane. Please close them before use.")));
    }
    layout->addWidget(setupPrompt_);
    testPrompt_ = new QWidget;
    {
        auto* prompt = new QVBoxLayout(testPrompt_);
        prompt->setContentsMargins(0, 0, 0, 0);
        auto* run = new QPushButton(QStringLiteral("Run Supervised Fan Test…"));
        connect(run, &QPushButton::clicked, this, [this] { model_.runSupervisedFan0Test(); });
        prompt->addWidget(run);
        prompt->addWidget(noteLabel(QStringLiteral("Required once before manual presets are enabled.")));
    }
    layout->addWidget(testPrompt_);
    competitorPrompt_ = noteLabel({});
    layout->addWidget(competitorPrompt_);

    // 5. Presets.
    layout->addWidget(headingLabel(QStringLiteral("Preset")));
    presetRows_ = new QVBoxLayout;
    presetRows_->setSpacing(2);
    layout->addLayout(presetRows_);

    // 6. History.
    sparkline_ = new MenuBarSparkline;
    layout->addWidget(sparkline_);
    auto* historyButtons = new QHBoxLayout;
    expandButton_ = new QPushButton;
    expandButton_->setToolTip(QStringLiteral("Expand fan-curve and raw sensor history"));
    connect(expandButton_, &QPushButton::clicked, this, [this] { setHistoryExpanded(!isHistoryExpanded_); });
    auto* fullHistory = new QPushButton(QStringLiteral("View full session history"));
    connect(fullHistory, &QPushButton::clicked, this, [this] { setHistoryExpanded(true); });
    historyButtons->addWidget(expandButton_);
    historyButtons->addWidget(fullHistory);
    layout->addLayout(historyButtons);
    expandedHistory_ = new ExpandedSensorHistoryView(adapter_);
    connect(expandedHistory_, &ExpandedSensorHistoryView::collapseRequested, this,
            [this] { setHistoryExpanded(false); });
    layout->addWidget(expandedHistory_);

    // 7. Footer.
    auto* footer = new QGridLayout;
    int slot = 0;
    for (auto [text, action] : {std::pair{"Open Dashboard", &DesktopActions::openDashboard},
                                std::pair{"Temperature Sensors", &DesktopActions::openSensors},
                                std::pair{"Settings && Helper…", &DesktopActions::openSettings},
                                std::pair{"Check for Updates…", &DesktopActions::checkForUpdates},
                                std::pair{"Quit", &DesktopActions::quit}}) {
        auto* button = new QPushButton(QString::fromUtf8(text));
        connect(button, &QPushButton::clicked, this,
                [this, action] { DesktopActions::run(actions_.*action); });
        footer->addWidget(button, slot / 2, slot % 2);
        ++slot;
    }
    layout->addLayout(footer);

    setHistoryExpanded(false);
    connect(&adapter_, &AppModelAdapter::changed, this, &MenuBarView::refresh);
}

void MenuBarView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh({});
}

void MenuBarView::refresh(const AppModelAdapter::Changes& changes) {
    pending_.merge(changes);
    if (!isVisible() || pending_.empty()) {
        return;
    }
    const auto due = pending_;
    pending_ = {};
    apply(due);
}

void MenuBarView::apply(const AppModelAdapter::Changes& changes) {
    if (changes.containsAny({Property::fans, Property::thermalControlSupported, Property::fanControlOwnership,
                             Property::criticalThermalOverrideActive, Property::lastError,
                             Property::activeConflictMessage, Property::lastTemperatureSampleDate})) {
        refreshBanners();
    }
    if (changes.containsAny(
            {Property::cpuCoreAverage, Property::performanceCoreMaximum, Property::efficiencyCoreMaximum,
             Property::gpuCoreMaximum, Property::cpuDieHotspotTemperature, Property::gpuDieHotspotTemperature,
             Property::displayTemperature, Property::activePreset, Property::pollingInterval})) {
        refreshSummary();
    }
    if (changes.containsAny(
            {Property::fans, Property::fanControlTemperatures, Property::fanControlDrivers})) {
        refreshZones();
    }
    if (changes.containsAny(
            {Property::helperState, Property::supervisedTestPassed, Property::competingController})) {
        refreshPrompts();
    }
    if (changes.containsAny({Property::customPresets, Property::activePreset})) {
        rebuildPresets();
    }
    if (changes.contains(Property::history)) {
        refreshHistory();
    }
}

void MenuBarView::refreshBanners() {
    const bool sampled = model_.lastTemperatureSampleDate().has_value();
    noFansBanner_->setVisible(sampled && model_.fans().empty());
    unverifiedBanner_->setVisible(sampled && !model_.fans().empty() && !model_.thermalControlSupported());
    ownershipBanner_->setVisible(model_.fanControlOwnership() == FanControlOwnership::anotherApp);
    criticalBanner_->setVisible(model_.criticalThermalOverrideActive());
    const auto& conflict = model_.activeConflictMessage();
    conflictBanner_->setVisible(conflict.has_value());
    conflictBanner_->setText(QString::fromStdString(conflict.value_or("")));
    const auto error = model_.visibleError();
    errorBanner_->setVisible(error.has_value());
    errorBanner_->setText(error ? QString::fromStdString(*error) : QString());
}

void MenuBarView::refreshSummary() {
    metricValues_[Property::cpuCoreAverage]->setText(formatCelsius(model_.cpuCoreAverage()));
    metricValues_[Property::performanceCoreMaximum]->setText(formatCelsius(model_.performanceCoreMaximum()));
    metricValues_[Property::efficiencyCoreMaximum]->setText(formatCelsius(model_.efficiencyCoreMaximum()));
    metricValues_[Property::gpuCoreMaximum]->setText(formatCelsius(model_.gpuCoreMaximum()));
    cpuHotspot_->setText(formatCelsius(model_.cpuDieHotspotTemperature()));
    gpuHotspot_->setText(formatCelsius(model_.gpuDieHotspotTemperature()));
    rawToggle_->setToolTip(rawThermalTooltip(model_.cpuDieHotspotTemperature(),
                                             model_.gpuDieHotspotTemperature(),
                                             model_.performanceCoreMaximum()));
    gauge_->setReading(model_.displayTemperature(), QString::fromStdString(model_.activePreset().name),
                       model_.pollingInterval());
}

void MenuBarView::refreshZones() {
    clear(zoneRows_);
    auto fans = model_.fans();
    std::sort(fans.begin(), fans.end(), [](const FanInfo& a, const FanInfo& b) { return a.index < b.index; });
    for (const auto& fan : fans) {
        // Two lines a zone: what the fan does, then what its curve follows.
        auto* header = new QHBoxLayout;
        auto* zone = new QLabel(fanZoneLabel(fan.index));
        QFont bold = zone->font();
        bold.setBold(true);
        zone->setFont(bold);
        header->addWidget(zone, 1);
        header->addWidget(new QLabel(
            QStringLiteral("%1 RPM · %2")
                .arg(fan.actualRPM)
                .arg(fan.mode == FanMode::manual ? QStringLiteral("Manual") : QStringLiteral("Auto"))));
        zoneRows_->addLayout(header);
        const auto temperature = model_.fanControlTemperatures().find(fan.index);
        if (temperature != model_.fanControlTemperatures().end()) {
            const auto driver = model_.fanControlDrivers().find(fan.index);
            const QString driverName = driver != model_.fanControlDrivers().end()
                                           ? QString::fromStdString(driver->second)
                                           : QString();
            auto* input =
                new QLabel(QString::asprintf("Curve input %.1f °C · ", temperature->second) + driverName);
            input->setWordWrap(true);
            zoneRows_->addWidget(input);
        }
    }
}

void MenuBarView::refreshPrompts() {
    setupPrompt_->setVisible(model_.helperState() != HelperInstallState::enabled);
    testPrompt_->setVisible(!model_.supervisedTestPassed());
    const auto& competitor = model_.competingController();
    competitorPrompt_->setVisible(competitor.has_value());
    if (competitor) {
        competitorPrompt_->setText(
            QStringLiteral("Remove its background helper using %1's uninstaller. Quorvane will "
                           "stay on Apple Default and retry your saved preset automatically.")
                .arg(QString::fromStdString(*competitor)));
    }
}

void MenuBarView::rebuildPresets() {
    clear(presetRows_);
    const UUID active = model_.activePreset().id;
    for (const auto& preset : model_.presetMenu()) {
        auto* row = new QHBoxLayout;
        const bool isActive = preset.id == active;
        auto* select = new QPushButton(
            symbolIcon(isActive ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle")),
            QString::fromStdString(preset.name));
        select->setFlat(true);
        select->setStyleSheet(QStringLiteral("text-align: left;"));
        select->setCheckable(true);
        select->setChecked(isActive);
        // The check mark is only a picture: say which preset drives the fans in words as well.
        select->setAccessibleName(QString::fromStdString(preset.name) +
                                  (isActive ? QStringLiteral(", active") : QString()));
        select->setAccessibleDescription(isActive ? QStringLiteral("Active preset") : QString());
        connect(select, &QPushButton::clicked, this, [this, preset] {
            model_.activate(preset);
            rebuildPresets();
        });
        row->addWidget(select, 1);
        row->addWidget(new PresetInfoButton(preset));
        if (preset.kind == PresetKind::custom) {
            auto* duplicate = new QToolButton;
            duplicate->setText(QStringLiteral("Duplicate"));
            connect(duplicate, &QToolButton::clicked, this,
                    [this, preset] { model_.duplicatePreset(preset); });
            row->addWidget(duplicate);
            if (!preset.isLocked()) {
                auto* remove = new QToolButton;
                remove->setText(QStringLiteral("Delete"));
                connect(remove, &QToolButton::clicked, this, [this, preset] { deletion_.ask(preset); });
                row->addWidget(remove);
            }
        }
        presetRows_->addLayout(row);
    }
}

void MenuBarView::setHistoryExpanded(bool expanded) {
    isHistoryExpanded_ = expanded;
    expandedHistory_->setVisible(expanded);
    expandButton_->setText(expanded ? QStringLiteral("Collapse session chart")
                                    : QStringLiteral("Expand session chart"));
    expandButton_->setIcon(symbolIcon(expanded ? QStringLiteral("arrow.down.right.and.arrow.up.left")
                                               : QStringLiteral("arrow.up.left.and.arrow.down.right")));
    adjustSize();
}

void MenuBarView::refreshHistory() {
    sparkline_->setSamples(model_.history());
}

} // namespace quorvane
