#include "Simulator/SimulatedMac.hpp"

#include "Helpers/Clock.hpp"
#include "SMC/IOKitReturn.hpp"
#include "Simulator/SimulatorError.hpp"

#include <algorithm>

namespace quorvane {

namespace {

// The in-process user client onto a shared machine: every call goes through the machine's lock.
class SimulatedMacUserClient final : public SMCUserClient {
public:
    SimulatedMacUserClient(SimulatedMac& mac, bool privileged) : mac_(mac), privileged_(privileged) {}

    bool serviceExists() override { return true; }
    std::uint32_t open() override {
        open_ = true;
        return IOKitReturn::success;
    }
    void close() override { open_ = false; }
    std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                   SMCParamStruct& output, std::size_t& outputSize) override {
        if (!open_) {
            return IOKitReturn::notOpen;
        }
        return mac_.exchange(selector, input, output, outputSize, privileged_);
    }

private:
    SimulatedMac& mac_;
    bool privileged_;
    bool open_ = false;
};

std::optional<std::uint8_t> firstByte(SimulatedAppleSMC& firmware, SMCKey key) {
    const auto bytes = firmware.valueBytes(key);
    if (!bytes || bytes->empty()) {
        return std::nullopt;
    }
    return bytes->front();
}

bool sameTarget(const SimulatedFault& lhs, const SimulatedFault& rhs) {
    return lhs.kind == rhs.kind && lhs.key == rhs.key && lhs.fan == rhs.fan;
}

} // namespace

SimulatedMac::SimulatedMac(SMCProfile profile, Clock& clock, std::uint64_t seed)
    : clock_(clock), firmware_(std::move(profile), clock), model_(firmware_.profile(), seed),
      workload_(Workload::named("idle")), workloadStart_(clock.nowMilliseconds()) {
    model_.start(workloadStart_);
    advanceLocked();
}

std::uint32_t SimulatedMac::exchange(std::uint32_t selector, const SMCParamStruct& input,
                                     SMCParamStruct& output, std::size_t& outputSize, bool privileged) {
    std::lock_guard lock(mutex_);
    return firmware_.exchange(selector, input, output, outputSize, privileged);
}

std::unique_ptr<SMCUserClient> SimulatedMac::makeUserClient(bool privileged) {
    return std::make_unique<SimulatedMacUserClient>(*this, privileged);
}

void SimulatedMac::advanceToNow() {
    std::lock_guard lock(mutex_);
    advanceLocked();
}

void SimulatedMac::setWorkload(Workload workload) {
    std::lock_guard lock(mutex_);
    advanceLocked();
    workload_ = std::move(workload);
    workloadStart_ = clock_.nowMilliseconds();
}

void SimulatedMac::injectFault(const SimulatedFault& fault) {
    std::lock_guard lock(mutex_);
    const SMCKey key = SMCKey::fromString(fault.key);
    const auto& model = firmware_.profile().modelIdentifier;
    using Kind = SimulatedFault::Kind;
    const std::int64_t now = clock_.nowMilliseconds();
    std::int64_t until = 0;
    switch (fault.kind) {
    case Kind::transient:
    case Kind::missing:
    case Kind::stuck:
        if (!firmware_.valueBytes(key)) {
            throw SimulatorError("The simulated " + model + " has no key \"" + fault.key + "\"");
        }
        if (fault.kind == Kind::transient) {
            firmware_.injectTransient(key, fault.byte, fault.count, fault.scope);
        } else if (fault.kind == Kind::missing) {
            firmware_.hideKey(key);
        } else {
            firmware_.stickValue(key, fault.byte);
        }
        break;
    case Kind::targetIgnored:
        if (fault.fan < 0 || fault.fan >= SimulatedAppleSMC::maxFans ||
            !firmware_.valueBytes(SMCKey::fan(fault.fan, "Ac"))) {
            throw SimulatorError("The simulated " + model + " has no fan " + std::to_string(fault.fan));
        }
        firmware_.setTargetNeverLatches(fault.fan, true);
        break;
    case Kind::dropout:
    case Kind::spike:
        until = now + static_cast<std::int64_t>(fault.seconds * 1000.0);
        if (!model_.layout().indexOf(key)) {
            throw SimulatorError("The simulated " + model + " has no temperature sensor \"" + fault.key +
                                 "\"");
        }
        if (fault.kind == Kind::dropout) {
            model_.dropOut(key);
        } else {
            model_.spike(key, fault.celsius, until);
        }
        advanceLocked();
        break;
    }
    std::erase_if(faults_, [&](const ActiveFault& active) { return sameTarget(active.fault, fault); });
    faults_.push_back({fault, until});
}

void SimulatedMac::clearFaults() {
    std::lock_guard lock(mutex_);
    firmware_.clearFaults();
    model_.clearSensorFaults();
    faults_.clear();
    advanceLocked();
}

void SimulatedMac::overrideFan(int fan, std::optional<float> manualTarget) {
    std::lock_guard lock(mutex_);
    if (fan < 0 || fan >= SimulatedAppleSMC::maxFans || !firmware_.valueBytes(SMCKey::fan(fan, "Md"))) {
        throw SimulatorError("The simulated " + firmware_.profile().modelIdentifier + " has no fan " +
                             std::to_string(fan));
    }
    // The driver writes the mode and target keys itself, without the diagnostic unlock.
    firmware_.setValueBytes(SMCKey::fan(fan, "Md"), {manualTarget ? SimulatedAppleSMC::modeManual
                                                                  : SimulatedAppleSMC::modeAutomatic});
    if (manualTarget) {
        firmware_.setFloat(SMCKey::fan(fan, "Tg"), *manualTarget);
    }
}

MachineStatus SimulatedMac::status() {
    std::lock_guard lock(mutex_);
    const std::int64_t now = clock_.nowMilliseconds();
    MachineStatus status;
    const auto& profile = firmware_.profile();
    status.modelIdentifier = profile.modelIdentifier;
    status.description = profile.description;
    status.workload = workload_.name();
    status.workloadSeconds = static_cast<double>(now - workloadStart_) / 1000.0;
    status.simulatedSeconds = static_cast<double>(now) / 1000.0;
    status.clusterWatts = model_.effectivePower().total();
    status.exchanges = firmware_.exchangeCount();
    if (const auto ftst = firstByte(firmware_, SMCKey::fanTestMode)) {
        status.ftst = *ftst;
    }
    for (int index = 0; index < SimulatedAppleSMC::maxFans; ++index) {
        const auto actual = firmware_.floatValue(SMCKey::fan(index, "Ac"));
        if (!actual) {
            continue;
        }
        MachineStatus::Fan fan;
        fan.index = index;
        if (const auto mode = firstByte(firmware_, SMCKey::fan(index, "Md"))) {
            fan.mode = *mode;
        }
        fan.actualRPM = *actual;
        fan.targetRPM = firmware_.floatValue(SMCKey::fan(index, "Tg")).value_or(0.0f);
        fan.minimumRPM = firmware_.floatValue(SMCKey::fan(index, "Mn")).value_or(0.0f);
        fan.maximumRPM = firmware_.floatValue(SMCKey::fan(index, "Mx")).value_or(0.0f);
        status.fans.push_back(fan);
    }
    for (const auto group : ThermalLayout::allGroups()) {
        if (const auto hottest = hottestLocked(group)) {
            status.hottest.push_back({ThermalLayout::groupName(group), hottest->first, hottest->second});
        }
    }
    std::erase_if(faults_, [&](const ActiveFault& active) { return !isActive(active, now); });
    for (const auto& active : faults_) {
        status.faults.push_back(active.fault.description());
    }
    return status;
}

std::optional<float> SimulatedMac::temperature(std::string_view key) {
    std::lock_guard lock(mutex_);
    return firmware_.floatValue(SMCKey::fromString(key));
}

std::optional<double> SimulatedMac::hottest(ThermalLayout::Group group) {
    std::lock_guard lock(mutex_);
    if (const auto found = hottestLocked(group)) {
        return found->second;
    }
    return std::nullopt;
}

double SimulatedMac::nodeCelsius(ThermalLayout::Node node) {
    std::lock_guard lock(mutex_);
    return model_.nodeCelsius(node);
}

ClusterPower SimulatedMac::effectivePower() {
    std::lock_guard lock(mutex_);
    return model_.effectivePower();
}

void SimulatedMac::advanceLocked() {
    firmware_.advanceToNow();
    model_.advance(firmware_, clock_.nowMilliseconds(), workload_, workloadStart_);
}

std::optional<std::pair<std::string, double>> SimulatedMac::hottestLocked(ThermalLayout::Group group) const {
    std::optional<std::pair<std::string, double>> best;
    const auto& channels = model_.layout().channels();
    const auto& readings = model_.readings();
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (channels[i].group == group && (!best || readings[i] > best->second)) {
            best = std::make_pair(channels[i].name, static_cast<double>(readings[i]));
        }
    }
    return best;
}

bool SimulatedMac::isActive(const ActiveFault& active, std::int64_t now) const {
    switch (active.fault.kind) {
    case SimulatedFault::Kind::transient:
        return firmware_.transientRemaining(SMCKey::fromString(active.fault.key)).has_value();
    case SimulatedFault::Kind::spike:
        return now < active.until;
    default:
        return true;
    }
}

} // namespace quorvane
