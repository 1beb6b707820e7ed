#pragma once

#include "UI/AppModelAdapter.hpp"
#include "UI/DesktopActions.hpp"

#include <QWidget>

namespace quorvane {

// The settings window: helper and approval, fan-control owner, start at login, polling, overheat
// alerts, preset import and export, the emergency reset and the version.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    SettingsView(AppModelAdapter& adapter, DesktopActions actions, QWidget* parent = nullptr);

    // (the implementation adds what it needs below)
};

} // namespace quorvane
