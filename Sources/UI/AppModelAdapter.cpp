#include "UI/AppModelAdapter.hpp"

#include <QMetaObject>

namespace quorvane {

AppModelAdapter::Changes AppModelAdapter::Changes::all() {
    Changes changes;
    changes.bits_.set();
    return changes;
}

bool AppModelAdapter::Changes::containsAny(std::initializer_list<Property> properties) const {
    for (Property property : properties) {
        if (contains(property)) {
            return true;
        }
    }
    return false;
}

AppModelAdapter::AppModelAdapter(AppModel& model, QObject* parent) : QObject(parent), model_(model) {
    observer_ = model_.addObserver([this](Property property) {
        pending_.insert(property);
        if (!flushQueued_) {
            flushQueued_ = true;
            QMetaObject::invokeMethod(this, &AppModelAdapter::flush, Qt::QueuedConnection);
        }
    });
}

AppModelAdapter::~AppModelAdapter() {
    model_.removeObserver(observer_);
}

void AppModelAdapter::flush() {
    flushQueued_ = false;
    if (pending_.empty()) {
        return;
    }
    const Changes changes = pending_;
    pending_ = Changes();
    emit changed(changes);
}

} // namespace quorvane
