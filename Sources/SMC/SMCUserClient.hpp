#pragma once

#include "SMC/SMCParamStruct.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

// The kernel side of the SMC as the bridge sees it: find the service, open a user client, make
// structure calls with 80-byte records, close. Implemented in process by the simulated firmware and
// over a socket by the platform layer.
class SMCUserClient {
public:
    virtual ~SMCUserClient() = default;

    // Whether an SMC service exists at all; false means the bridge reports it as missing.
    virtual bool serviceExists() = 0;
    // Opens a user client; returns a kernel-style code, 0 on success.
    virtual std::uint32_t open() = 0;
    virtual void close() = 0;
    // One structure call. outputSize holds the output capacity on entry and the bytes written on return.
    virtual std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                           SMCParamStruct& output, std::size_t& outputSize) = 0;
    // Why the last call failed, in the user's words, where the code alone would not say; else empty.
    virtual std::string failureReason() const { return {}; }

    static constexpr std::uint32_t smcSelector = 2;
};

} // namespace quorvane
