#pragma once

#include "UI/AppModelAdapter.hpp"

#include <QWidget>

namespace quorvane {

// "History": the fan-curve temperature and each fan's RPM over the session.
class HistoryGraphView final : public QWidget {
    Q_OBJECT

public:
    explicit HistoryGraphView(AppModelAdapter& adapter, QWidget* parent = nullptr);

    // (the implementation adds what it needs below)
};

} // namespace quorvane
