#include "Simulator/SimulatedFault.hpp"

#include "Simulator/SimulatorError.hpp"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace quorvane {

namespace {

using Kind = SimulatedFault::Kind;

struct KindName {
    Kind kind;
    const char* name;
};

constexpr KindName kindNames[] = {
    {Kind::transient, "transient"},          {Kind::missing, "missing"}, {Kind::stuck, "stuck"},
    {Kind::targetIgnored, "target-ignored"}, {Kind::dropout, "dropout"}, {Kind::spike, "spike"},
};

const char* nameOf(Kind kind) {
    for (const auto& entry : kindNames) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "unknown";
}

Kind kindNamed(const std::string& name) {
    for (const auto& entry : kindNames) {
        if (name == entry.name) {
            return entry.kind;
        }
    }
    throw SimulatorError("Unknown fault \"" + name + "\"\n" + SimulatedFault::usage());
}

const char* scopeName(FaultScope scope) {
    switch (scope) {
    case FaultScope::reads:
        return "reads";
    case FaultScope::writes:
        return "writes";
    case FaultScope::any:
        break;
    }
    return "any";
}

std::string hexByte(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02x", byte);
    return text;
}

std::string checkedKey(const std::string& key) {
    if (key.size() != 4) {
        throw SimulatorError("\"" + key + "\" is not an SMC key; keys have four characters");
    }
    return key;
}

std::int64_t integer(const std::string& text, const std::string& what) {
    std::int64_t value = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
    if (error != std::errc() || end != last || first == last) {
        throw SimulatorError("\"" + text + "\" is not a valid " + what);
    }
    return value;
}

std::uint8_t byteValue(const std::string& text, const std::string& what) {
    const auto value = integer(text, what);
    if (value < 0 || value > 255) {
        throw SimulatorError("\"" + text + "\" is not a valid " + what + " (0 to 255, or 0x00 to 0xff)");
    }
    return static_cast<std::uint8_t>(value);
}

double number(const std::string& text, const std::string& what) {
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size() && std::isfinite(value)) {
            return value;
        }
    } catch (const std::exception&) {
    }
    throw SimulatorError("\"" + text + "\" is not a valid " + what);
}

void checkFan(int fan) {
    if (fan < 0 || fan >= SimulatedAppleSMC::maxFans) {
        throw SimulatorError("Fan " + std::to_string(fan) + " does not exist; fans are numbered from 0");
    }
}

// A whole number within [least, most]. JSON numbers are converted only when they fit: a fraction or
// an out-of-range value would wrap, or be undefined for a float, so it makes the fault malformed.
std::int64_t wholeNumber(const nlohmann::json& fault, const char* key, std::int64_t least,
                         std::int64_t most) {
    const auto& field = fault.at(key);
    const bool fits =
        field.is_number_unsigned()  ? field.get<std::uint64_t>() <= static_cast<std::uint64_t>(most)
        : field.is_number_integer() ? field.get<std::int64_t>() >= least && field.get<std::int64_t>() <= most
                                    : false;
    if (!fits) {
        throw SimulatorError("Malformed fault: " + fault.dump());
    }
    return field.get<std::int64_t>();
}

} // namespace

std::string SimulatedFault::description() const {
    switch (kind) {
    case Kind::transient: {
        const std::string exchanges = count < 0    ? "every exchange"
                                      : count == 1 ? "the next exchange"
                                                   : "the next " + std::to_string(count) + " exchanges";
        const std::string limited =
            scope == FaultScope::any ? "" : std::string(" (") + scopeName(scope) + ")";
        return key + " answers " + hexByte(byte) + " to " + exchanges + limited;
    }
    case Kind::missing:
        return key + " is missing";
    case Kind::stuck:
        return key + " is stuck at " + hexByte(byte);
    case Kind::targetIgnored:
        return "fan " + std::to_string(fan) + " ignores its target";
    case Kind::dropout:
        return key + " has dropped out";
    case Kind::spike: {
        char text[96];
        std::snprintf(text, sizeof(text), " spikes by %+.1f °C for %g s", celsius, seconds);
        return key + text;
    }
    }
    return "unknown fault";
}

nlohmann::json SimulatedFault::toJSON() const {
    nlohmann::json value{{"kind", nameOf(kind)}};
    switch (kind) {
    case Kind::targetIgnored:
        value["fan"] = fan;
        break;
    case Kind::transient:
        value["key"] = key;
        value["result"] = byte;
        value["count"] = count;
        value["scope"] = scopeName(scope);
        break;
    case Kind::stuck:
        value["key"] = key;
        value["byte"] = byte;
        break;
    case Kind::spike:
        value["key"] = key;
        value["celsius"] = celsius;
        value["seconds"] = seconds;
        break;
    default:
        value["key"] = key;
        break;
    }
    return value;
}

SimulatedFault SimulatedFault::fromJSON(const nlohmann::json& value) {
    try {
        SimulatedFault fault;
        fault.kind = kindNamed(value.at("kind").get<std::string>());
        switch (fault.kind) {
        case Kind::targetIgnored:
            fault.fan = static_cast<int>(wholeNumber(value, "fan", INT_MIN, INT_MAX));
            checkFan(fault.fan);
            return fault;
        case Kind::transient: {
            fault.byte = static_cast<std::uint8_t>(wholeNumber(value, "result", 0, 255));
            fault.count = static_cast<int>(wholeNumber(value, "count", INT_MIN, INT_MAX));
            const auto scope = value.at("scope").get<std::string>();
            fault.scope = scope == "reads"    ? FaultScope::reads
                          : scope == "writes" ? FaultScope::writes
                                              : FaultScope::any;
            break;
        }
        case Kind::stuck:
            fault.byte = static_cast<std::uint8_t>(wholeNumber(value, "byte", 0, 255));
            break;
        case Kind::spike:
            fault.celsius = value.at("celsius").get<double>();
            fault.seconds = value.at("seconds").get<double>();
            break;
        default:
            break;
        }
        fault.key = checkedKey(value.at("key").get<std::string>());
        return fault;
    } catch (const nlohmann::json::exception&) {
        throw SimulatorError("Malformed fault: " + value.dump());
    }
}

SimulatedFault SimulatedFault::parse(const std::vector<std::string>& words) {
    if (words.empty()) {
        throw SimulatorError("Which fault?\n" + usage());
    }
    SimulatedFault fault;
    fault.kind = kindNamed(words[0]);
    std::vector<std::string> positional;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto& word = words[i];
        const bool hasValue = i + 1 < words.size();
        if (fault.kind == Kind::transient && word == "--count" && hasValue) {
            const auto& count = words[++i];
            fault.count = count == "always" ? -1 : static_cast<int>(integer(count, "count"));
            if (fault.count == 0) {
                throw SimulatorError("A transient fault needs a count other than 0");
            }
        } else if (fault.kind == Kind::transient && (word == "--reads" || word == "--writes")) {
            fault.scope = word == "--reads" ? FaultScope::reads : FaultScope::writes;
        } else if (fault.kind == Kind::spike && word == "--seconds" && hasValue) {
            fault.seconds = number(words[++i], "number of seconds");
            if (fault.seconds <= 0) {
                throw SimulatorError("A spike lasts more than 0 seconds");
            }
        } else if (word.starts_with("--")) {
            throw SimulatorError("Unknown option \"" + word + "\" for a " + nameOf(fault.kind) + " fault\n" +
                                 usage());
        } else {
            positional.push_back(word);
        }
    }
    const auto arguments = [&](std::size_t least, std::size_t most) {
        if (positional.size() < least || positional.size() > most) {
            throw SimulatorError(std::string("Wrong arguments for a ") + nameOf(fault.kind) + " fault\n" +
                                 usage());
        }
    };
    switch (fault.kind) {
    case Kind::targetIgnored:
        arguments(1, 1);
        fault.fan = static_cast<int>(integer(positional[0], "fan number"));
        checkFan(fault.fan);
        return fault;
    case Kind::transient:
        arguments(1, 2);
        if (positional.size() == 2) {
            fault.byte = byteValue(positional[1], "firmware result");
        }
        break;
    case Kind::stuck:
        arguments(2, 2);
        fault.byte = byteValue(positional[1], "byte");
        break;
    case Kind::spike:
        arguments(1, 2);
        if (positional.size() == 2) {
            fault.celsius = number(positional[1], "temperature change");
        }
        break;
    default:
        arguments(1, 1);
        break;
    }
    fault.key = checkedKey(positional[0]);
    return fault;
}

std::string SimulatedFault::usage() {
    return "faults: transient KEY [RESULT] [--count N|always] [--reads|--writes]\n"
           "        missing KEY\n"
           "        stuck KEY BYTE\n"
           "        target-ignored FAN\n"
           "        dropout KEY\n"
           "        spike KEY [CELSIUS] [--seconds S]";
}

} // namespace quorvane
