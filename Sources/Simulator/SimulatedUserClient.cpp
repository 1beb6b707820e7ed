#include "Simulator/SimulatedUserClient.hpp"

#include "SMC/IOKitReturn.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"

namespace quorvane {

SimulatedUserClient::SimulatedUserClient(SimulatedAppleSMC& firmware, bool privileged)
    : firmware_(firmware), privileged_(privileged) {}

std::uint32_t SimulatedUserClient::open() {
    open_ = true;
    return IOKitReturn::success;
}

void SimulatedUserClient::close() {
    open_ = false;
}

std::uint32_t SimulatedUserClient::callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                                    SMCParamStruct& output, std::size_t& outputSize) {
    if (!open_) {
        return IOKitReturn::notOpen;
    }
    return firmware_.exchange(selector, input, output, outputSize, privileged_);
}

} // namespace quorvane
