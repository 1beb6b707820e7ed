#pragma once

#include "SMC/SMCUserClient.hpp"

namespace quorvane {

class SimulatedAppleSMC;

// An in-process user client onto a simulated firmware, which must outlive it. Calls before open()
// or after close() are refused as the kernel refuses calls on a closed connection.
class SimulatedUserClient final : public SMCUserClient {
public:
    SimulatedUserClient(SimulatedAppleSMC& firmware, bool privileged);

    bool serviceExists() override { return true; }
    std::uint32_t open() override;
    void close() override;
    std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                   SMCParamStruct& output, std::size_t& outputSize) override;

    bool isOpen() const { return open_; }
    bool isPrivileged() const { return privileged_; }

private:
    SimulatedAppleSMC& firmware_;
    bool privileged_;
    bool open_ = false;
};

} // namespace quorvane
