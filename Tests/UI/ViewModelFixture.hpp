#pragma once

#include "Support/AppModelHarness.hpp"
#include "UI/AppModelAdapter.hpp"
#include "UI/DesktopActions.hpp"

#include <QCoreApplication>

namespace quorvane::testing {

// An app model for views (see AppModelHarness) and the adapter the views listen to. settle() runs the
// model's work and then the Qt events it caused.
class ViewModelFixture : public AppModelHarness {
public:
    using AppModelHarness::AppModelHarness;

    void built() override { adapter = std::make_unique<AppModelAdapter>(*model); }

    void settle() override {
        runModelWork();
        QCoreApplication::processEvents();
        if (adapter) {
            adapter->flush();
        }
        // Views replace rows with deleteLater(); a test looking for widgets must not find the old ones.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // A shown view over the model, which is launched first if it is not yet.
    template <typename View> std::unique_ptr<View> show(DesktopActions actions = {}) {
        if (!model) {
            launch();
        }
        std::unique_ptr<View> view;
        if constexpr (std::is_constructible_v<View, AppModelAdapter&, DesktopActions>) {
            view = std::make_unique<View>(*adapter, std::move(actions));
        } else {
            view = std::make_unique<View>(*adapter);
        }
        view->show();
        settle();
        return view;
    }

    std::unique_ptr<AppModelAdapter> adapter;
};

} // namespace quorvane::testing
