#include "Helpers/FanCurveSettings.hpp"

#include "Helpers/PresetJSONReader.hpp"

namespace quorvane {

nlohmann::json FanCurveSettings::toJSON() const {
    nlohmann::json object{{"lowTemperature", encodableNumber(lowTemperature, "lowTemperature")},
                          {"highTemperature", encodableNumber(highTemperature, "highTemperature")}};
    if (constantRPM) {
        object["constantRPM"] = *constantRPM;
    }
    return object;
}

FanCurveSettings FanCurveSettings::fromJSON(const nlohmann::json& object, const std::string& path) {
    PresetJSONReader reader(object, path);
    return {reader.requiredNumber("lowTemperature"), reader.requiredNumber("highTemperature"),
            reader.optionalInteger("constantRPM")};
}

} // namespace quorvane
