#include "UI/SettingsView.hpp"

#include "UI/Labels.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace quorvane {

namespace {

using Property = AppModel::Property;

const QString presetFileName = QStringLiteral("Quorvane-Presets.json");
const QString jsonFilter = QStringLiteral("JSON (*.json)");

QPushButton* button(const QString& text, QWidget* parent) {
    auto* result = new QPushButton(text, parent);
    result->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return result;
}

QLabel* value(const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// The polling slider moves in half seconds.
double pollingSeconds(int steps) {
    return steps / 2.0;
}
int pollingSteps(double seconds) {
    return static_cast<int>(std::lround(seconds * 2));
}

QString versionText() {
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral(QUORVANE_VERSION) : version;
}

} // namespace

SettingsView::SettingsView(AppModelAdapter& adapter, DesktopActions actions, QWidget* parent)
    : QWidget(parent), model_(adapter.model()), actions_(std::move(actions)) {
    setWindowTitle(QStringLiteral("Settings"));
    fileChooser_ = [this](FileRequest request, std::function<void(const QString&)> chosen) {
        chooseJSONFile(request, std::move(chosen));
    };

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // Failures (a bad import, a refused registration) stay in view above every section.
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("error"));
    error_->setWordWrap(true);
    error_->setContentsMargins(12, 8, 12, 8);
    error_->setStyleSheet(QStringLiteral("color: #b3261e;"));
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(error_);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* sections = new QVBoxLayout(content);
    sections->addWidget(buildHelperSection());
    sections->addWidget(buildMonitoringSection());
    sections->addWidget(buildAlertSection());
    sections->addWidget(buildPresetsSection());
    sections->addWidget(buildSafetySection());
    sections->addWidget(buildAboutSection());
    sections->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);
    resize(520, 720);

    connect(&adapter, &AppModelAdapter::changed, this, &SettingsView::refresh);
    refresh(AppModelAdapter::Changes::all());
}

void SettingsView::setFileChooser(FileChooser chooser) {
    fileChooser_ = std::move(chooser);
}

QWidget* SettingsView::buildHelperSection() {
    auto* box = new QGroupBox(QStringLiteral("Privileged helper"), this);
    auto* layout = new QFormLayout(box);
    ownershipEffect_ = value(QStringLiteral("ownershipEffect"), box);
    ownershipEffect_->setWordWrap(true);
    layout->addRow(ownershipEffect_);
    detectedWriter_ = value(QStringLiteral("detectedWriter"), box);
    layout->addRow(QStringLiteral("Detected writer"), detectedWriter_);
    helperStatus_ = value(QStringLiteral("helperStatus"), box);
    layout->addRow(QStringLiteral("Status"), helperStatus_);
    auto* smcMachine = value(QStringLiteral("smcMachine"), box);
    smcMachine->setText(QString::fromStdString(model_.smcMachine()));
    layout->addRow(QStringLiteral("SMC"), smcMachine);
    layout->addRow(noteLabel(
        QStringLiteral("Other fan-control apps may conflict with Quorvane. Please close them before use."),
        box));
    layout->addRow(
        noteLabel(QStringLiteral("The helper can write only fan mode and target keys. Starting it as a "
                                 "system service requires administrator approval."),
                  box));
    supervisedTest_ = value(QStringLiteral("supervisedTest"), box);
    layout->addRow(QStringLiteral("Supervised test"), supervisedTest_);

    auto* buttons = new QHBoxLayout();
    install_ = button(QStringLiteral("Install and Request Approval"), box);
    auto* uninstall = button(QStringLiteral("Uninstall"), box);
    buttons->addWidget(install_);
    buttons->addWidget(uninstall);
    buttons->addStretch(1);
    layout->addRow(buttons);

    // One request at a time: the button waits for the system's answer (a password prompt, perhaps).
    connect(install_, &QPushButton::clicked, this, [this] {
        install_->setEnabled(false);
        model_.installHelper([button = QPointer<QPushButton>(install_)](std::optional<std::string>) {
            if (button) {
                button->setEnabled(true);
            }
        });
    });
    connect(uninstall, &QPushButton::clicked, this, [this] { model_.uninstallHelper(); });
    return box;
}

QWidget* SettingsView::buildMonitoringSection() {
    auto* box = new QGroupBox(QStringLiteral("Monitoring"), this);
    auto* layout = new QFormLayout(box);

    ownership_ = new QComboBox(box);
    ownership_->setObjectName(QStringLiteral("ownership"));
    ownership_->setAccessibleName(QStringLiteral("Fan control"));
    for (auto owner : allFanControlOwnerships) {
        ownership_->addItem(
            QString::fromUtf8(title(owner).data(), static_cast<qsizetype>(title(owner).size())),
            static_cast<int>(owner));
    }
    layout->addRow(ownership_);

    startAtLogin_ = new QCheckBox(QStringLiteral("Start at login"), box);
    startAtLogin_->setObjectName(QStringLiteral("startAtLogin"));
    layout->addRow(startAtLogin_);

    auto* pollingRow = new QVBoxLayout();
    pollingInterval_ = new QSlider(Qt::Horizontal, box);
    pollingInterval_->setObjectName(QStringLiteral("pollingInterval"));
    pollingInterval_->setRange(pollingSteps(1.0), pollingSteps(5.0));
    pollingInterval_->setSingleStep(1);
    pollingInterval_->setPageStep(1);
    pollingInterval_->setTickPosition(QSlider::TicksBelow);
    pollingInterval_->setTickInterval(1);
    pollingLabel_ = value(QStringLiteral("pollingLabel"), box);
    pollingRow->addWidget(pollingInterval_);
    pollingRow->addWidget(pollingLabel_);
    layout->addRow(QStringLiteral("Polling interval"), pollingRow);

    connect(ownership_, &QComboBox::currentIndexChanged, this, [this](int) {
        model_.setFanControlOwnership(static_cast<FanControlOwnership>(ownership_->currentData().toInt()));
    });
    connect(startAtLogin_, &QCheckBox::toggled, this, [this](bool enabled) {
        model_.setLaunchAtLogin(enabled);
        // A refused registration leaves the setting as it was, so the model has no change to
        // announce: put the box back to what the service says.
        const QSignalBlocker block(startAtLogin_);
        startAtLogin_->setChecked(model_.launchAtLogin());
    });
    // Restarting the poll timer polls at once, so a drag applies once, on release; keyboard and
    // wheel steps are single changes and apply as they come.
    connect(pollingInterval_, &QSlider::valueChanged, this, [this](int steps) {
        showPollingLabel(steps);
        if (!pollingInterval_->isSliderDown()) {
            applyPollingInterval();
        }
    });
    connect(pollingInterval_, &QSlider::sliderReleased, this, &SettingsView::applyPollingInterval);
    return box;
}

QWidget* SettingsView::buildAlertSection() {
    auto* box = new QGroupBox(QStringLiteral("Overheat alert"), this);
    auto* layout = new QFormLayout(box);

    alertsEnabled_ = new QCheckBox(QStringLiteral("Notify when CPU exceeds threshold"), box);
    alertsEnabled_->setObjectName(QStringLiteral("alertsEnabled"));
    layout->addRow(alertsEnabled_);

    auto* thresholdRow = new QHBoxLayout();
    threshold_ = new QSlider(Qt::Horizontal, box);
    threshold_->setObjectName(QStringLiteral("threshold"));
    threshold_->setAccessibleName(QStringLiteral("Threshold"));
    threshold_->setRange(40, 100);
    threshold_->setSingleStep(1);
    thresholdValue_ = value(QStringLiteral("thresholdValue"), box);
    // Fixed width so the slider does not shift as the number gains a digit.
    thresholdValue_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("100")) + 6);
    thresholdValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    thresholdRow->addWidget(threshold_, 1);
    thresholdRow->addWidget(thresholdValue_);
    layout->addRow(QStringLiteral("Threshold"), thresholdRow);

    layout->addRow(
        noteLabel(QStringLiteral("Delivered as a desktop notification, at most once every 5 minutes."), box));
    auto* test = button(QStringLiteral("Send Test Notification"), box);
    layout->addRow(test);

    connect(alertsEnabled_, &QCheckBox::toggled, this,
            [this](bool enabled) { model_.setOverheatAlertsEnabled(enabled); });
    connect(threshold_, &QSlider::valueChanged, this, [this](int celsius) {
        thresholdValue_->setText(QString::asprintf("%lld", static_cast<long long>(celsius)));
        model_.setOverheatThreshold(celsius);
    });
    connect(test, &QPushButton::clicked, this, [this] { model_.sendTestNotification(); });
    return box;
}

QWidget* SettingsView::buildPresetsSection() {
    auto* box = new QGroupBox(QStringLiteral("Presets"), this);
    auto* layout = new QVBoxLayout(box);
    auto* buttons = new QHBoxLayout();
    auto* exportButton = button(QStringLiteral("Export Presets…"), box);
    auto* importButton = button(QStringLiteral("Import Presets…"), box);
    buttons->addWidget(exportButton);
    buttons->addWidget(importButton);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addWidget(
        noteLabel(QStringLiteral("Exports all custom presets as JSON for backup or sharing. Imported "
                                 "presets are added with fresh identities."),
                  box));

    // The model reports failures in its error, which the banner above shows.
    connect(exportButton, &QPushButton::clicked, this, [this] {
        fileChooser_(FileRequest::exportPresets, [this](const QString& path) {
            model_.exportCustomPresets(std::filesystem::path(path.toStdString()));
        });
    });
    connect(importButton, &QPushButton::clicked, this, [this] {
        fileChooser_(FileRequest::importPresets, [this](const QString& path) {
            model_.importCustomPresets(std::filesystem::path(path.toStdString()));
        });
    });
    return box;
}

QWidget* SettingsView::buildSafetySection() {
    auto* box = new QGroupBox(QStringLiteral("Safety"), this);
    auto* layout = new QVBoxLayout(box);
    auto* reset = button(QStringLiteral("Return All Fans to Automatic"), box);
    layout->addWidget(reset);
    connect(reset, &QPushButton::clicked, this,
            [this] { model_.resetToAutomatic("settings emergency reset", false, true); });
    return box;
}

QWidget* SettingsView::buildAboutSection() {
    auto* box = new QGroupBox(QStringLiteral("About"), this);
    auto* layout = new QFormLayout(box);
    auto* version = value(QStringLiteral("version"), box);
    version->setText(versionText());
    layout->addRow(QStringLiteral("Version"), version);
    auto* updates = button(QStringLiteral("Check for Updates…"), box);
    layout->addRow(updates);
    connect(updates, &QPushButton::clicked, this, [this] { DesktopActions::run(actions_.checkForUpdates); });
    return box;
}

void SettingsView::refresh(const AppModelAdapter::Changes& changes) {
    if (changes.containsAny({Property::lastError, Property::activeConflictMessage})) {
        const auto error = model_.visibleError();
        error_->setText(error ? QString::fromStdString(*error) : QString());
        error_->setHidden(!error);
    }
    if (changes.contains(Property::fanControlOwnership)) {
        const auto owner = model_.fanControlOwnership();
        const auto effect = detail(owner);
        ownershipEffect_->setText(QString::fromUtf8(effect.data(), static_cast<qsizetype>(effect.size())));
        const QSignalBlocker block(ownership_);
        ownership_->setCurrentIndex(ownership_->findData(static_cast<int>(owner)));
    }
    if (changes.contains(Property::competingController)) {
        const auto& writer = model_.competingController();
        detectedWriter_->setText(writer ? QString::fromStdString(*writer)
                                        : QStringLiteral("Inactive (monitoring only)"));
    }
    if (changes.contains(Property::helperState)) {
        helperStatus_->setText(QString::fromStdString(rawValue(model_.helperState())));
        install_->setHidden(model_.helperState() == HelperInstallState::enabled);
    }
    if (changes.contains(Property::supervisedTestPassed)) {
        supervisedTest_->setText(model_.supervisedTestPassed() ? QStringLiteral("Passed")
                                                               : QStringLiteral("Required"));
    }
    if (changes.contains(Property::launchAtLogin)) {
        const QSignalBlocker block(startAtLogin_);
        startAtLogin_->setChecked(model_.launchAtLogin());
    }
    // Leave the slider alone while the user drags it; the release applies their choice.
    if (changes.contains(Property::pollingInterval) && !pollingInterval_->isSliderDown()) {
        const QSignalBlocker block(pollingInterval_);
        pollingInterval_->setValue(pollingSteps(model_.pollingInterval()));
        showPollingLabel(pollingInterval_->value());
    }
    if (changes.contains(Property::overheatAlertsEnabled)) {
        const QSignalBlocker block(alertsEnabled_);
        alertsEnabled_->setChecked(model_.overheatAlertsEnabled());
    }
    if (changes.contains(Property::overheatThreshold)) {
        const QSignalBlocker block(threshold_);
        threshold_->setValue(static_cast<int>(std::lround(model_.overheatThreshold())));
        thresholdValue_->setText(QString::asprintf("%lld", std::llround(model_.overheatThreshold())));
    }
}

void SettingsView::showPollingLabel(int steps) {
    const QString text = QString::asprintf("Apply %.1f second interval", pollingSeconds(steps));
    pollingLabel_->setText(text);
    pollingInterval_->setAccessibleName(text);
}

void SettingsView::applyPollingInterval() {
    const double seconds = pollingSeconds(pollingInterval_->value());
    if (seconds == model_.pollingInterval()) {
        return;
    }
    model_.setPollingInterval(seconds);
    model_.restartPolling();
}

void SettingsView::chooseJSONFile(FileRequest request, std::function<void(const QString&)> chosen) {
    auto* dialog = new QFileDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setNameFilter(jsonFilter);
    dialog->setDefaultSuffix(QStringLiteral("json"));
    if (request == FileRequest::exportPresets) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->selectFile(presetFileName);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    connect(dialog, &QFileDialog::fileSelected, this, [chosen = std::move(chosen)](const QString& path) {
        if (!path.isEmpty()) {
            chosen(path);
        }
    });
    dialog->open();
}

} // namespace quorvane
