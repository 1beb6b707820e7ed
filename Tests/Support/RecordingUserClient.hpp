#pragma once

#include "SMC/SMCUserClient.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quorvane::testing {

// What a test wants to see of and do to the exchanges between a bridge and its transport.
struct ExchangeLog {
    std::vector<SMCParamStruct> inputs;
    int opens = 0;
    int closes = 0;
    // When set, replaces the transport's answer: return code and output size.
    std::optional<std::uint32_t> forcedCode;
    std::optional<std::size_t> forcedOutputSize;
    // Without an inner transport: whether the service is there and what opening it answers.
    bool serviceExists = true;
    std::uint32_t openCode = 0;
};

// Passes every call to an inner transport (or answers alone when there is none) and records it.
class RecordingUserClient final : public SMCUserClient {
public:
    RecordingUserClient(std::unique_ptr<SMCUserClient> inner, std::shared_ptr<ExchangeLog> log)
        : inner_(std::move(inner)), log_(std::move(log)) {}

    bool serviceExists() override { return inner_ ? inner_->serviceExists() : log_->serviceExists; }
    std::uint32_t open() override {
        ++log_->opens;
        return inner_ ? inner_->open() : log_->openCode;
    }
    void close() override {
        ++log_->closes;
        if (inner_) {
            inner_->close();
        }
    }
    std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                   SMCParamStruct& output, std::size_t& outputSize) override {
        log_->inputs.push_back(input);
        std::uint32_t code = inner_ ? inner_->callStructMethod(selector, input, output, outputSize) : 0;
        if (log_->forcedOutputSize) {
            outputSize = *log_->forcedOutputSize;
        }
        return log_->forcedCode.value_or(code);
    }

private:
    std::unique_ptr<SMCUserClient> inner_;
    std::shared_ptr<ExchangeLog> log_;
};

} // namespace quorvane::testing
