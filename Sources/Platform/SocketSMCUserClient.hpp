#pragma once

#include "Platform/FramedSocketClient.hpp"
#include "Platform/SMCSocketProtocol.hpp"
#include "SMC/SMCUserClient.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace quorvane {

// The SMC user client on this platform: structure calls travel to the simulated Mac's server over
// its local socket. The service exists when the server answers at the path. A connection that
// breaks is re-established, and the user client reopened, on the next call; if that fails the call
// answers the kernel's not-responding code.
class SocketSMCUserClient final : public SMCUserClient {
public:
    explicit SocketSMCUserClient(std::string socketPath = SMCSocketProtocol::socketPath(),
                                 std::chrono::milliseconds timeout = defaultTimeout);

    bool serviceExists() override;
    std::uint32_t open() override;
    void close() override;
    std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                   SMCParamStruct& output, std::size_t& outputSize) override;

    const std::string& socketPath() const { return connection_.path(); }

    static constexpr std::chrono::milliseconds defaultTimeout{2000};

private:
    std::optional<SMCSocketProtocol::Reply> exchange(const SMCSocketProtocol::Request& request);
    std::uint32_t openConnection();

    FramedSocketClient connection_;
    bool open_ = false;
};

} // namespace quorvane
