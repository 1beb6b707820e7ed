#pragma once

#include "App/AppModel.hpp"

#include <QObject>
#include <bitset>
#include <initializer_list>

namespace quorvane {

// Turns the model's change notifications into one Qt signal per turn of the event loop: a poll
// publishes a dozen properties, and views redraw once for all of them. Views read the model in
// their slot and call its operations; none of them polls on its own timer.
class AppModelAdapter final : public QObject {
    Q_OBJECT

public:
    using Property = AppModel::Property;

    // The properties that changed since the last signal.
    class Changes {
    public:
        static Changes all();
        void insert(Property property) { bits_.set(index(property)); }
        bool contains(Property property) const { return bits_.test(index(property)); }
        bool containsAny(std::initializer_list<Property> properties) const;
        bool empty() const { return bits_.none(); }
        void merge(const Changes& other) { bits_ |= other.bits_; }

    private:
        static constexpr std::size_t count = static_cast<std::size_t>(Property::activeConflictMessage) + 1;
        static std::size_t index(Property property) { return static_cast<std::size_t>(property); }
        std::bitset<count> bits_;
    };

    explicit AppModelAdapter(AppModel& model, QObject* parent = nullptr);
    ~AppModelAdapter() override;

    AppModel& model() const { return model_; }
    // Emits what is pending now instead of on the next turn (tests, first paint).
    void flush();

signals:
    void changed(const quorvane::AppModelAdapter::Changes& changes);

private:
    AppModel& model_;
    AppModel::ObserverToken observer_;
    Changes pending_;
    bool flushQueued_ = false;
};

} // namespace quorvane

Q_DECLARE_METATYPE(quorvane::AppModelAdapter::Changes)
