#include "Simulator/WorkloadScript.hpp"

#include "Simulator/SimulatorError.hpp"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace quorvane {

namespace {

using nlohmann::json;

class Parser {
public:
    explicit Parser(std::string source) : source_(std::move(source)) {}

    Workload workload(const json& document) {
        requireObject(document, "");
        allowOnly(document, "", {"name", "repeat", "steps"});
        std::string name = source_;
        if (document.contains("name")) {
            if (!document["name"].is_string() || document["name"].get<std::string>().empty()) {
                fail("/name", "expected a non-empty text");
            }
            name = document["name"].get<std::string>();
        }
        bool repeats = false;
        if (document.contains("repeat")) {
            if (!document["repeat"].is_boolean()) {
                fail("/repeat", "expected true or false");
            }
            repeats = document["repeat"].get<bool>();
        }
        if (!document.contains("steps") || !document["steps"].is_array() || document["steps"].empty()) {
            fail("/steps", "expected a list of at least one step");
        }
        std::vector<Workload::Segment> segments;
        const auto& steps = document["steps"];
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const auto stepSegments = step(steps[i], "/steps/" + std::to_string(i));
            segments.insert(segments.end(), stepSegments.begin(), stepSegments.end());
        }
        return Workload(std::move(name), std::move(segments), repeats);
    }

    [[noreturn]] void fail(const std::string& pointer, const std::string& problem) const {
        throw SimulatorError(source_ + ": " + (pointer.empty() ? "/" : pointer) + ": " + problem);
    }

private:
    std::vector<Workload::Segment> step(const json& value, const std::string& at) {
        requireObject(value, at);
        allowOnly(value, at, {"seconds", "workload", "power", "rampTo"});
        if (!value.contains("seconds") || !value["seconds"].is_number() ||
            !std::isfinite(value["seconds"].get<double>()) || value["seconds"].get<double>() <= 0) {
            fail(at + "/seconds", "expected a number of seconds above 0");
        }
        const auto milliseconds =
            std::max<std::int64_t>(1, std::llround(value["seconds"].get<double>() * 1000.0));
        if (value.contains("workload") == value.contains("power")) {
            fail(at, "expected either \"workload\" or \"power\"");
        }
        if (value.contains("workload")) {
            if (value.contains("rampTo")) {
                fail(at + "/rampTo", "only a \"power\" step can ramp");
            }
            if (!value["workload"].is_string()) {
                fail(at + "/workload", "expected the name of a built-in workload");
            }
            try {
                return Workload::named(value["workload"].get<std::string>()).firstSegments(milliseconds);
            } catch (const SimulatorError& error) {
                fail(at + "/workload", error.what());
            }
        }
        const ClusterPower from = power(value["power"], at + "/power");
        const ClusterPower to = value.contains("rampTo") ? power(value["rampTo"], at + "/rampTo") : from;
        return {{milliseconds, from, to}};
    }

    ClusterPower power(const json& value, const std::string& at) {
        requireObject(value, at);
        allowOnly(value, at, {"efficiency", "performanceA", "performanceB", "gpuA", "gpuB"});
        ClusterPower result = Workload::idlePower();
        const auto read = [&](const char* field, double& target) {
            if (!value.contains(field)) {
                return;
            }
            const auto& watts = value[field];
            if (!watts.is_number() || !std::isfinite(watts.get<double>()) || watts.get<double>() < 0 ||
                watts.get<double>() > WorkloadScript::maxClusterWatts) {
                fail(at + "/" + field, "expected watts from 0 to 200");
            }
            target = watts.get<double>();
        };
        read("efficiency", result.efficiency);
        read("performanceA", result.performanceA);
        read("performanceB", result.performanceB);
        read("gpuA", result.gpuA);
        read("gpuB", result.gpuB);
        return result;
    }

    void requireObject(const json& value, const std::string& at) const {
        if (!value.is_object()) {
            fail(at, "expected an object");
        }
    }

    void allowOnly(const json& value, const std::string& at,
                   std::initializer_list<const char*> fields) const {
        for (const auto& item : value.items()) {
            if (std::none_of(fields.begin(), fields.end(),
                             [&](const char* field) { return item.key() == field; })) {
                fail(at + "/" + item.key(), "unknown field");
            }
        }
    }

    std::string source_;
};

// nlohmann's message after its "[json.exception...] parse error at " prefix.
std::string syntaxProblem(const json::parse_error& error) {
    const std::string text = error.what();
    const std::string marker = "parse error at ";
    const auto position = text.find(marker);
    return position == std::string::npos ? text : text.substr(position + marker.size());
}

} // namespace

Workload WorkloadScript::load(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw SimulatorError(path.string() + ": cannot read the timeline file");
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parse(text.str(), path.string());
}

Workload WorkloadScript::parse(std::string_view text, const std::string& source) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& error) {
        throw SimulatorError(source + ": " + syntaxProblem(error));
    }
    return Parser(source).workload(document);
}

bool WorkloadScript::isPath(std::string_view name) {
    return name.find('/') != std::string_view::npos ||
           (name.size() > 5 && name.substr(name.size() - 5) == ".json");
}

} // namespace quorvane
