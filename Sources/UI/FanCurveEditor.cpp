#include "UI/FanCurveEditor.hpp"

#include "UI/FanCurveSettingsControls.hpp"
#include "UI/FanLabels.hpp"
#include "UI/Labels.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

// A preset switched to a constant speed starts here rather than with no target at all.
constexpr std::int64_t initialConstantRPM = 2000;

const QString linkedNote =
    QStringLiteral("Every fan shares this configuration, each using its own hardware RPM limits.");
const QString unlinkedNote = QStringLiteral("Each fan has its own configuration and hardware RPM limits. "
                                            "Unlinking starts every fan from the shared values.");

// The hysteresis slider moves in half degrees.
int hysteresisSteps(double celsius) {
    return std::isfinite(celsius) ? static_cast<int>(std::lround(celsius * 2)) : 1;
}

FanCurveSettings sharedSettings(const FanPreset& preset) {
    return {preset.lowTemperature, preset.highTemperature, preset.constantRPM};
}

} // namespace

FanCurveEditor::FanCurveEditor(FanPreset preset, std::vector<int> fanIndices, QWidget* parent)
    : QDialog(parent), preset_(std::move(preset)), fanIndices_(std::move(fanIndices)) {
    std::sort(fanIndices_.begin(), fanIndices_.end());
    setWindowTitle(QStringLiteral("Custom Preset"));
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Custom Preset"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    title->setFont(titleFont);
    layout->addWidget(title);

    auto* form = new QFormLayout();
    name_ = new QLineEdit(QString::fromStdString(preset_.name), this);
    name_->setObjectName(QStringLiteral("presetName"));
    name_->setPlaceholderText(QStringLiteral("Name"));
    name_->setAccessibleName(QStringLiteral("Preset name"));
    form->addRow(QStringLiteral("Preset name"), name_);

    controlSource_ = new QComboBox(this);
    controlSource_->setObjectName(QStringLiteral("controlSource"));
    controlSource_->setAccessibleName(QStringLiteral("Control source"));
    controlSource_->addItem(QStringLiteral("CPU/GPU Thermal Signal"),
                            static_cast<int>(ControlStrategy::cpuCoreAverage));
    controlSource_->addItem(QStringLiteral("Constant RPM"), static_cast<int>(ControlStrategy::constantRPM));
    form->addRow(QStringLiteral("Control source"), controlSource_);
    layout->addLayout(form);

    linkFans_ = new QCheckBox(QStringLiteral("Link all fans"), this);
    linkFans_->setObjectName(QStringLiteral("linkFans"));
    linkFans_->setToolTip(QStringLiteral("Link left and right fans"));
    layout->addWidget(linkFans_);
    linkNote_ = noteLabel(QString(), this);
    layout->addWidget(linkNote_);

    shared_ = new FanCurveSettingsControls(this);
    shared_->setObjectName(QStringLiteral("sharedSettings"));
    layout->addWidget(shared_);
    buildFanSections(layout);

    hysteresisRow_ = new QWidget(this);
    auto* hysteresisLayout = new QFormLayout(hysteresisRow_);
    hysteresisLayout->setContentsMargins(0, 0, 0, 0);
    auto* sliderRow = new QHBoxLayout();
    hysteresis_ = new QSlider(Qt::Horizontal, hysteresisRow_);
    hysteresis_->setObjectName(QStringLiteral("hysteresis"));
    hysteresis_->setAccessibleName(QStringLiteral("Hysteresis"));
    hysteresis_->setRange(1, 20);
    hysteresis_->setSingleStep(1);
    hysteresis_->setPageStep(2);
    hysteresisValue_ = new QLabel(hysteresisRow_);
    hysteresisValue_->setObjectName(QStringLiteral("hysteresisValue"));
    hysteresisValue_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("10.0")) + 4);
    hysteresisValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sliderRow->addWidget(hysteresis_, 1);
    sliderRow->addWidget(hysteresisValue_);
    hysteresisLayout->addRow(QStringLiteral("Hysteresis"), sliderRow);
    hysteresisLayout->addRow(
        noteLabel(QStringLiteral("Temperature must fall this far below its last peak before fans "
                                 "slow down, preventing RPM oscillation."),
                  hysteresisRow_));
    layout->addWidget(hysteresisRow_);
    layout->addStretch(1);
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("editorError"));
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #c0392b;"));
    error_->setVisible(false);
    layout->addWidget(error_);

    auto* buttons = new QDialogButtonBox(this);
    auto* deleteButton =
        buttons->addButton(QStringLiteral("Delete Preset"), QDialogButtonBox::DestructiveRole);
    auto* cancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    auto* saveButton = buttons->addButton(QStringLiteral("Save and Apply"), QDialogButtonBox::AcceptRole);
    saveButton->setDefault(true);
    layout->addWidget(buttons);

    if (preset_.strategy == ControlStrategy::constantRPM) {
        fillAbsentConstants();
    }

    connect(name_, &QLineEdit::textEdited, this,
            [this](const QString& text) { preset_.name = text.toStdString(); });
    connect(controlSource_, &QComboBox::currentIndexChanged, this, [this](int) {
        setStrategy(static_cast<ControlStrategy>(controlSource_->currentData().toInt()));
    });
    connect(linkFans_, &QCheckBox::toggled, this, &FanCurveEditor::setLinked);
    connect(shared_, &FanCurveSettingsControls::settingsEdited, this,
            [this](const FanCurveSettings& settings) {
                preset_.lowTemperature = settings.lowTemperature;
                preset_.highTemperature = settings.highTemperature;
                preset_.constantRPM = settings.constantRPM;
            });
    connect(hysteresis_, &QSlider::valueChanged, this, [this](int steps) {
        preset_.hysteresis = steps / 2.0;
        refresh();
    });
    connect(deleteButton, &QPushButton::clicked, this, &FanCurveEditor::confirmDelete);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // The model validates and reports; the editor hands over whatever the user made and stays open
    // until its owner has saved it, so a refused preset can be fixed.
    connect(saveButton, &QPushButton::clicked, this, [this] { emit saveRequested(preset_); });

    refresh();
}

const FanPreset& FanCurveEditor::preset() const {
    return preset_;
}

void FanCurveEditor::buildFanSections(QVBoxLayout* layout) {
    for (int index : fanIndices_) {
        auto* box = new QGroupBox(fanLabel(index), this);
        box->setObjectName(QStringLiteral("fanSection%1").arg(index));
        auto* boxLayout = new QVBoxLayout(box);
        auto* controls = new FanCurveSettingsControls(box);
        boxLayout->addWidget(controls);
        // A preset stores settings for the first two fans only; any further fan follows the shared ones.
        controls->setEnabled(fanSlot(index) != nullptr);
        connect(controls, &FanCurveSettingsControls::settingsEdited, this,
                [this, index](const FanCurveSettings& settings) {
                    if (auto* slot = fanSlot(index)) {
                        *slot = settings;
                    }
                });
        layout->addWidget(box);
        fanSections_.push_back({index, box, controls});
    }
}

std::optional<FanCurveSettings>* FanCurveEditor::fanSlot(int index) {
    switch (index) {
    case 0:
        return &preset_.fan0Settings;
    case 1:
        return &preset_.fan1Settings;
    default:
        return nullptr;
    }
}

void FanCurveEditor::setStrategy(ControlStrategy strategy) {
    preset_.strategy = strategy;
    if (strategy == ControlStrategy::constantRPM) {
        fillAbsentConstants();
    }
    refresh();
}

// The stepper always shows a number, so the preset gets that number rather than none.
void FanCurveEditor::fillAbsentConstants() {
    if (!preset_.constantRPM) {
        preset_.constantRPM = initialConstantRPM;
    }
    for (auto* slot : {&preset_.fan0Settings, &preset_.fan1Settings}) {
        if (*slot && !(*slot)->constantRPM) {
            (*slot)->constantRPM = initialConstantRPM;
        }
    }
}

void FanCurveEditor::setLinked(bool linked) {
    if (!linked) {
        // Every fan starts from what the user sees now, not from settings left over from an
        // earlier unlinked edit.
        preset_.fan0Settings = sharedSettings(preset_);
        preset_.fan1Settings = sharedSettings(preset_);
    }
    preset_.linkedFans = linked;
    refresh();
}

void FanCurveEditor::refresh() {
    const ControlStrategy strategy = preset_.strategy.value_or(ControlStrategy::cpuCoreAverage);
    {
        const QSignalBlocker blockSource(controlSource_);
        const QSignalBlocker blockLink(linkFans_);
        const QSignalBlocker blockHysteresis(hysteresis_);
        controlSource_->setCurrentIndex(controlSource_->findData(static_cast<int>(strategy)));
        linkFans_->setChecked(preset_.linkedFans);
        hysteresis_->setValue(hysteresisSteps(preset_.hysteresis));
    }
    hysteresisValue_->setText(QString::asprintf("%.1f", preset_.hysteresis));
    hysteresisRow_->setHidden(strategy == ControlStrategy::constantRPM);
    linkNote_->setText(preset_.linkedFans ? linkedNote : unlinkedNote);

    shared_->setHidden(!preset_.linkedFans);
    shared_->setStrategy(strategy);
    shared_->setSettings(sharedSettings(preset_));
    for (const auto& section : fanSections_) {
        section.box->setHidden(preset_.linkedFans);
        section.controls->setStrategy(strategy);
        section.controls->setSettings(preset_.settings(section.index));
    }
}

void FanCurveEditor::confirmDelete() {
    auto* confirmation = new QMessageBox(this);
    confirmation->setAttribute(Qt::WA_DeleteOnClose);
    confirmation->setIcon(QMessageBox::Warning);
    confirmation->setText(
        QStringLiteral("This cannot be undone. If this preset is active, both fans return to Automatic."));
    auto* deleteButton = confirmation->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    confirmation->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    connect(confirmation, &QMessageBox::buttonClicked, this, [this, deleteButton](QAbstractButton* button) {
        if (button == deleteButton) {
            emit deleteRequested(preset_);
            close();
        }
    });
    confirmation->open();
}

void FanCurveEditor::showError(const std::optional<QString>& text) {
    error_->setText(text.value_or(QString()));
    error_->setVisible(text.has_value());
}

QString FanCurveEditor::errorText() const {
    return !error_->isHidden() ? error_->text() : QString();
}

} // namespace quorvane
