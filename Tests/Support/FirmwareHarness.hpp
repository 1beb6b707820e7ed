#pragma once

#include "SMC/IOKitReturn.hpp"
#include "SMC/SMCParamStruct.hpp"
#include "Support/SimulatedMachine.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <string_view>
#include <vector>

namespace quorvane::testing {

// The simulated machine spoken to in raw records the way a bridge would, past the bridge's checks.
struct FirmwareHarness : SimulatedMachine {
    explicit FirmwareHarness(SMCProfile profile) : SimulatedMachine(std::move(profile)) {}

    static SMCParamStruct record(std::uint8_t command, std::string_view key, std::uint32_t dataSize = 0,
                                 const std::vector<std::uint8_t>& bytes = {}, std::uint32_t index = 0) {
        SMCParamStruct input;
        input.setKey(SMCKey::fromString(key).rawValue);
        input.setCommand(command);
        input.setDataSize(dataSize);
        input.setKeyIndex(index);
        std::copy(bytes.begin(), bytes.end(), input.bytes().begin());
        return input;
    }

    SMCParamStruct call(std::uint8_t command, std::string_view key, std::uint32_t dataSize = 0,
                        const std::vector<std::uint8_t>& bytes = {}, std::uint32_t index = 0) {
        SMCParamStruct output;
        std::size_t size = SMCParamStruct::size;
        EXPECT_EQ(firmware.exchange(SMCUserClient::smcSelector, record(command, key, dataSize, bytes, index),
                                    output, size, true),
                  IOKitReturn::success);
        EXPECT_EQ(size, SMCParamStruct::size);
        return output;
    }

    std::uint8_t write(std::string_view key, const std::vector<std::uint8_t>& bytes) {
        return call(SMCParamStruct::writeBytes, key, static_cast<std::uint32_t>(bytes.size()), bytes)
            .result();
    }
    std::uint8_t writeByte(std::string_view key, std::uint8_t value) { return write(key, {value}); }
    std::uint8_t writeFloat(std::string_view key, float value) {
        return write(key, SimulatedKey::floatBytes(value));
    }

    // Reads with the size key info reports, as a bridge does; empty when either call fails.
    std::vector<std::uint8_t> read(std::string_view key) {
        const auto info = call(SMCParamStruct::keyInfo, key);
        if (info.result() != SMCParamStruct::success) {
            return {};
        }
        const auto answer = call(SMCParamStruct::readBytes, key, info.dataSize());
        if (answer.result() != SMCParamStruct::success) {
            return {};
        }
        return {answer.bytes().begin(), answer.bytes().begin() + info.dataSize()};
    }
    int readByte(std::string_view key) {
        const auto bytes = read(key);
        return bytes.size() == 1 ? bytes[0] : -1;
    }
    float readFloat(std::string_view key) {
        return SimulatedKey::floatFromBytes(read(key)).value_or(std::numeric_limits<float>::quiet_NaN());
    }
};

} // namespace quorvane::testing
