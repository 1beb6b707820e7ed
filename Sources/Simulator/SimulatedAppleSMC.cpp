#include "Simulator/SimulatedAppleSMC.hpp"

#include "Helpers/Clock.hpp"
#include "SMC/IOKitReturn.hpp"
#include "Simulator/SimulatedUserClient.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace quorvane {

namespace {

const SMCKey keyCountKey = SMCKey::fromString("#KEY");

// The fan a key such as "F1Md" belongs to, when it has that suffix.
std::optional<int> fanIndexOf(SMCKey key, char first, char second) {
    const auto c0 = static_cast<char>(key.rawValue >> 24);
    const auto c1 = static_cast<char>(key.rawValue >> 16);
    const auto c2 = static_cast<char>(key.rawValue >> 8);
    const auto c3 = static_cast<char>(key.rawValue);
    if (c0 != 'F' || c1 < '0' || c1 > '9' || c2 != first || c3 != second) {
        return std::nullopt;
    }
    return c1 - '0';
}

// A record carries at most 32 value bytes; an empty value is allowed, as odd firmware reports them.
void checkEntry(const SimulatedKey& entry) {
    if (entry.bytes.size() > SimulatedKey::maxSize) {
        throw std::invalid_argument("simulated keys hold at most 32 bytes");
    }
}

void setFirstByte(SimulatedKey* entry, std::uint8_t value) {
    if (entry != nullptr && !entry->bytes.empty()) {
        entry->bytes.front() = value;
    }
}

void checkFanIndex(int index) {
    if (index < 0 || index >= SimulatedAppleSMC::maxFans) {
        throw std::out_of_range("fan index " + std::to_string(index) + " is outside 0...9");
    }
}

} // namespace

SimulatedAppleSMC::SimulatedAppleSMC(SMCProfile profile, Clock& clock)
    : profile_(std::move(profile)), clock_(clock), now_(clock.nowMilliseconds()) {
    auto sorted = profile_.keys;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const SimulatedKey& lhs, const SimulatedKey& rhs) { return lhs.key < rhs.key; });
    // A later entry for the same key replaces an earlier one, as addKey does.
    table_.reserve(sorted.size() + 1);
    for (auto& entry : sorted) {
        checkEntry(entry);
        if (!table_.empty() && table_.back().key == entry.key) {
            table_.back() = std::move(entry);
        } else {
            table_.push_back(std::move(entry));
        }
    }
    refreshKeyCount();
    detectFans();
    for (int index = 0; index < maxFans; ++index) {
        if (const auto* actual = find(SMCKey::fan(index, "Ac"))) {
            fans_[index].exactActual = SimulatedKey::floatFromBytes(actual->bytes).value_or(0.0f);
        }
    }
    moveFans(0);
}

std::uint32_t SimulatedAppleSMC::exchange(std::uint32_t selector, const SMCParamStruct& input,
                                          SMCParamStruct& output, std::size_t& outputSize, bool privileged) {
    ++exchangeCount_;
    if (selector != SMCUserClient::smcSelector || outputSize != SMCParamStruct::size) {
        return IOKitReturn::badArgument;
    }
    advanceToNow();
    // The kernel refuses an unprivileged write before the firmware sees it.
    if (input.command() == SMCParamStruct::writeBytes && !privileged) {
        return IOKitReturn::notPrivileged;
    }

    output = SMCParamStruct{};
    output.setKey(input.key());
    std::uint8_t result = SMCParamStruct::badCommand;
    switch (input.command()) {
    case SMCParamStruct::keyInfo:
        result = keyInfo(input, output);
        break;
    case SMCParamStruct::readBytes:
        result = read(input, output);
        break;
    case SMCParamStruct::writeBytes:
        result = write(input);
        break;
    case SMCParamStruct::keyByIndex:
        result = keyByIndex(input, output);
        break;
    default:
        break;
    }
    output.setResult(result);
    outputSize = SMCParamStruct::size;
    return IOKitReturn::success;
}

std::unique_ptr<SMCUserClient> SimulatedAppleSMC::makeUserClient(bool privileged) {
    return std::make_unique<SimulatedUserClient>(*this, privileged);
}

void SimulatedAppleSMC::advanceToNow() {
    const std::int64_t now = clock_.nowMilliseconds();
    // Events change who owns a fan, so speeds are moved event by event.
    while (const auto next = nextEvent()) {
        if (*next > now) {
            break;
        }
        const std::int64_t at = std::max(*next, now_);
        moveFans(at - now_);
        now_ = at;
        fireEventsAt(now_);
    }
    moveFans(std::max<std::int64_t>(now - now_, 0));
    now_ = std::max(now, now_);
}

std::optional<std::vector<std::uint8_t>> SimulatedAppleSMC::valueBytes(SMCKey key) {
    advanceToNow();
    if (const auto* entry = find(key)) {
        return entry->bytes;
    }
    return std::nullopt;
}

void SimulatedAppleSMC::setValueBytes(SMCKey key, std::vector<std::uint8_t> bytes) {
    advanceToNow();
    auto* entry = find(key);
    if (entry == nullptr) {
        throw std::out_of_range("no such key");
    }
    if (bytes.size() != entry->bytes.size()) {
        throw std::invalid_argument("value size differs from the key's data size");
    }
    entry->bytes = std::move(bytes);
}

void SimulatedAppleSMC::setFloat(SMCKey key, float value) {
    advanceToNow();
    auto* entry = find(key);
    if (entry == nullptr) {
        throw std::out_of_range("no such key");
    }
    if (!entry->isFloat()) {
        throw std::invalid_argument("key is not a \"flt \" key");
    }
    entry->bytes = SimulatedKey::floatBytes(value);
}

std::optional<float> SimulatedAppleSMC::floatValue(SMCKey key) {
    advanceToNow();
    const auto* entry = find(key);
    if (entry == nullptr || !entry->isFloat()) {
        return std::nullopt;
    }
    return SimulatedKey::floatFromBytes(entry->bytes);
}

void SimulatedAppleSMC::addKey(SimulatedKey key) {
    checkEntry(key);
    advanceToNow();
    insertSorted(std::move(key));
    refreshKeyCount();
    detectFans();
}

void SimulatedAppleSMC::setAutomaticTarget(int fanIndex, float rpm) {
    checkFanIndex(fanIndex);
    advanceToNow();
    if (fans_[fanIndex].automaticTarget != rpm) {
        fans_[fanIndex].clientTarget.reset();
    }
    fans_[fanIndex].automaticTarget = rpm;
    moveFans(0);
}

float SimulatedAppleSMC::automaticTarget(int fanIndex) const {
    checkFanIndex(fanIndex);
    return fans_[fanIndex].automaticTarget;
}

void SimulatedAppleSMC::injectTransient(SMCKey key, std::uint8_t result, int count, FaultScope scope) {
    if (count == 0) {
        transients_.erase(key);
        return;
    }
    transients_[key] = Transient{result, count, scope};
}

std::optional<int> SimulatedAppleSMC::transientRemaining(SMCKey key) const {
    const auto found = transients_.find(key);
    if (found == transients_.end()) {
        return std::nullopt;
    }
    return found->second.remaining;
}

void SimulatedAppleSMC::hideKey(SMCKey key) {
    hidden_.insert(key);
}

void SimulatedAppleSMC::stickValue(SMCKey key, std::uint8_t byte) {
    stuck_[key] = byte;
}

void SimulatedAppleSMC::setTargetNeverLatches(int fanIndex, bool neverLatches) {
    checkFanIndex(fanIndex);
    fans_[fanIndex].targetNeverLatches = neverLatches;
}

void SimulatedAppleSMC::clearFaults() {
    transients_.clear();
    hidden_.clear();
    stuck_.clear();
    for (auto& fan : fans_) {
        fan.targetNeverLatches = false;
    }
}

SimulatedKey* SimulatedAppleSMC::find(SMCKey key) {
    const auto position = lowerBound(key);
    return position != table_.end() && position->key == key ? &*position : nullptr;
}

std::vector<SimulatedKey>::iterator SimulatedAppleSMC::lowerBound(SMCKey key) {
    return std::lower_bound(table_.begin(), table_.end(), key,
                            [](const SimulatedKey& entry, SMCKey code) { return entry.key < code; });
}

void SimulatedAppleSMC::insertSorted(SimulatedKey key) {
    const auto position = lowerBound(key.key);
    if (position != table_.end() && position->key == key.key) {
        *position = std::move(key);
    } else {
        table_.insert(position, std::move(key));
    }
}

void SimulatedAppleSMC::refreshKeyCount() {
    if (find(keyCountKey) == nullptr) {
        insertSorted(SimulatedKey::ui32("#KEY", 0));
    }
    find(keyCountKey)->bytes = SimulatedKey::ui32("#KEY", static_cast<std::uint32_t>(table_.size())).bytes;
}

void SimulatedAppleSMC::detectFans() {
    for (int index = 0; index < maxFans; ++index) {
        fans_[index].present = find(SMCKey::fan(index, "Ac")) != nullptr ||
                               find(SMCKey::fan(index, "Tg")) != nullptr ||
                               find(SMCKey::fan(index, "Md")) != nullptr;
    }
}

std::optional<std::uint8_t> SimulatedAppleSMC::byteValue(SMCKey key) {
    const auto* entry = find(key);
    if (entry == nullptr || entry->bytes.empty()) {
        return std::nullopt;
    }
    return entry->bytes.front();
}

bool SimulatedAppleSMC::fanIsManual(int index) {
    return byteValue(SMCKey::fan(index, "Md")) == modeManual;
}

std::uint8_t SimulatedAppleSMC::keyInfo(const SMCParamStruct& input, SMCParamStruct& output) {
    const SMCKey key(input.key());
    const auto* entry = find(key);
    if (entry == nullptr || hidden_.contains(key)) {
        return SMCParamStruct::keyNotFound;
    }
    output.setDataSize(static_cast<std::uint32_t>(entry->bytes.size()));
    output.setDataType(entry->dataType);
    output.setDataAttributes(entry->attributes);
    return SMCParamStruct::success;
}

std::uint8_t SimulatedAppleSMC::read(const SMCParamStruct& input, SMCParamStruct& output) {
    const SMCKey key(input.key());
    const auto* entry = find(key);
    if (entry == nullptr || hidden_.contains(key)) {
        return SMCParamStruct::keyNotFound;
    }
    if (const auto transient = takeTransient(key, false)) {
        return *transient;
    }
    if (!entry->isReadable()) {
        return SMCParamStruct::notReadable;
    }
    if (input.dataSize() != entry->bytes.size()) {
        return SMCParamStruct::keySizeMismatch;
    }
    output.setDataSize(input.dataSize());
    auto bytes = output.bytes();
    if (const auto stuck = stuck_.find(key); stuck != stuck_.end()) {
        std::fill_n(bytes.begin(), entry->bytes.size(), stuck->second);
    } else {
        std::copy(entry->bytes.begin(), entry->bytes.end(), bytes.begin());
    }
    return SMCParamStruct::success;
}

std::uint8_t SimulatedAppleSMC::write(const SMCParamStruct& input) {
    const SMCKey key(input.key());
    auto* entry = find(key);
    if (entry == nullptr || hidden_.contains(key)) {
        return SMCParamStruct::keyNotFound;
    }
    if (const auto transient = takeTransient(key, true)) {
        return *transient;
    }
    if (!entry->isWritable()) {
        return SMCParamStruct::notWritable;
    }
    if (input.dataSize() != entry->bytes.size()) {
        return SMCParamStruct::keySizeMismatch;
    }
    if (!stuck_.contains(key)) {
        store(*entry, input.bytes().first(entry->bytes.size()));
    }
    return SMCParamStruct::success;
}

std::uint8_t SimulatedAppleSMC::keyByIndex(const SMCParamStruct& input, SMCParamStruct& output) {
    const std::uint32_t index = input.keyIndex();
    if (index >= table_.size()) {
        return SMCParamStruct::keyIndexOutOfRange;
    }
    output.setKey(table_[index].key.rawValue);
    return SMCParamStruct::success;
}

std::optional<std::uint8_t> SimulatedAppleSMC::takeTransient(SMCKey key, bool isWrite) {
    const auto found = transients_.find(key);
    if (found == transients_.end()) {
        return std::nullopt;
    }
    auto& transient = found->second;
    const bool applies =
        transient.scope == FaultScope::any || (transient.scope == FaultScope::writes) == isWrite;
    if (!applies) {
        return std::nullopt;
    }
    const std::uint8_t result = transient.result;
    if (transient.remaining > 0 && --transient.remaining == 0) {
        transients_.erase(found);
    }
    return result;
}

void SimulatedAppleSMC::store(SimulatedKey& entry, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    if (entry.key == SMCKey::fanTestMode && profile_.fanTimings.requiresUnlock) {
        writeFanTestMode(entry, bytes.front());
        return;
    }
    if (const auto fan = fanIndexOf(entry.key, 'M', 'd')) {
        writeMode(*fan, entry, bytes.front());
        return;
    }
    if (const auto fan = fanIndexOf(entry.key, 'T', 'g')) {
        auto& state = fans_[*fan];
        if (state.targetNeverLatches) {
            return;
        }
        // A system-held fan (mode 3) ignores clients; an automatic one takes the target until its
        // own curve decides again.
        if (!fanIsManual(*fan)) {
            if (byteValue(SMCKey::fan(*fan, "Md")) != modeAutomatic) {
                return;
            }
            state.clientTarget = SimulatedKey::floatFromBytes(bytes.first(entry.bytes.size()));
        }
    }
    entry.bytes.assign(bytes.begin(), bytes.end());
}

void SimulatedAppleSMC::writeFanTestMode(SimulatedKey& entry, std::uint8_t value) {
    const auto& timings = profile_.fanTimings;
    if (value != 0) {
        releaseAt_.reset();
        // Already latched or on its way: writing 1 again does not restart the delay.
        if (entry.bytes.front() != 0 || ftstLatchesAt_) {
            return;
        }
        ftstLatchesAt_ = now_ + timings.ftstLatchMilliseconds;
        return;
    }
    // Clearing takes effect on the flag at once; the fans follow after the release delay and keep
    // whatever they were doing until then.
    entry.bytes.front() = 0;
    ftstLatchesAt_.reset();
    modesUnlockAt_.reset();
    for (auto& fan : fans_) {
        fan.pendingMode.reset();
    }
    releaseAt_ = now_ + timings.releaseMilliseconds;
}

void SimulatedAppleSMC::writeMode(int fanIndex, SimulatedKey& entry, std::uint8_t value) {
    auto& fan = fans_[fanIndex];
    if (!profile_.fanTimings.requiresUnlock) {
        if (entry.bytes.front() != value) {
            fan.clientTarget.reset();
        }
        entry.bytes.front() = value;
        fan.pendingMode.reset();
        return;
    }
    // Before the unlock window has passed the system thermal manager takes the write back.
    if (!modesUnlocked()) {
        return;
    }
    if (fan.pendingMode ? fan.pendingMode->value == value : entry.bytes.front() == value) {
        return;
    }
    fan.pendingMode = PendingMode{value, now_ + profile_.fanTimings.modeApplyMilliseconds};
}

bool SimulatedAppleSMC::modesUnlocked() const {
    return modesUnlockAt_ && now_ >= *modesUnlockAt_;
}

std::optional<std::int64_t> SimulatedAppleSMC::nextEvent() const {
    std::optional<std::int64_t> next;
    const auto consider = [&next](std::optional<std::int64_t> time) {
        if (time && (!next || *time < *next)) {
            next = time;
        }
    };
    consider(ftstLatchesAt_);
    consider(releaseAt_);
    for (const auto& fan : fans_) {
        if (fan.pendingMode) {
            consider(fan.pendingMode->appliesAt);
        }
    }
    return next;
}

void SimulatedAppleSMC::fireEventsAt(std::int64_t time) {
    if (ftstLatchesAt_ && *ftstLatchesAt_ <= time) {
        ftstLatchesAt_.reset();
        setFirstByte(find(SMCKey::fanTestMode), 1);
        modesUnlockAt_ = time + profile_.fanTimings.modeUnlockMilliseconds;
    }
    for (int index = 0; index < maxFans; ++index) {
        auto& pending = fans_[index].pendingMode;
        if (pending && pending->appliesAt <= time) {
            setFirstByte(find(SMCKey::fan(index, "Md")), pending->value);
            fans_[index].clientTarget.reset();
            pending.reset();
        }
    }
    if (releaseAt_ && *releaseAt_ <= time) {
        releaseAt_.reset();
        for (int index = 0; index < maxFans; ++index) {
            fans_[index].pendingMode.reset();
            setFirstByte(find(SMCKey::fan(index, "Md")), modeSystem);
            fans_[index].clientTarget.reset();
        }
    }
}

void SimulatedAppleSMC::moveFans(std::int64_t milliseconds) {
    const double step = profile_.fanTimings.slewRPMPerSecond * static_cast<double>(milliseconds) / 1000.0;
    for (int index = 0; index < maxFans; ++index) {
        auto& fan = fans_[index];
        if (!fan.present) {
            continue;
        }
        auto* target = find(SMCKey::fan(index, "Tg"));
        std::optional<float> wanted;
        if (!fanIsManual(index)) {
            wanted = fan.clientTarget.value_or(fan.automaticTarget);
            if (target != nullptr && target->isFloat()) {
                target->bytes = SimulatedKey::floatBytes(*wanted);
            }
        } else if (target != nullptr) {
            wanted = SimulatedKey::floatFromBytes(target->bytes);
        }
        auto* actual = find(SMCKey::fan(index, "Ac"));
        if (!wanted || !std::isfinite(*wanted) || actual == nullptr || !actual->isFloat()) {
            continue;
        }
        // Someone else (a test, the thermal model) may have set the speed since the last step.
        const float shown = SimulatedKey::floatFromBytes(actual->bytes).value_or(0.0f);
        if (static_cast<float>(fan.exactActual) != shown) {
            fan.exactActual = shown;
        }
        const double remaining = static_cast<double>(*wanted) - fan.exactActual;
        fan.exactActual =
            std::abs(remaining) <= step ? *wanted : fan.exactActual + std::copysign(step, remaining);
        actual->bytes = SimulatedKey::floatBytes(static_cast<float>(fan.exactActual));
    }
}

} // namespace quorvane
