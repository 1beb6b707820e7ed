#pragma once

#include "Platform/AppInstanceCommands.hpp"
#include "Platform/SessionBus.hpp"

namespace quorvane {

// The running app's commands, called over the session bus. A refusal throws AppInstanceError with
// the running app's own sentence; an unreachable app throws it with the bus's reason.
class AppInstanceRemote final : public AppInstanceCommands {
public:
    explicit AppInstanceRemote(SessionBus& bus) : bus_(bus) {}

    void activatePreset(const std::string& preset) override;
    std::string createPreset() override;
    std::string duplicatePreset(const std::string& preset) override;
    void renamePreset(const std::string& preset, const std::string& newName) override;
    void deletePreset(const std::string& preset) override;
    std::size_t importPresets(const std::filesystem::path& file) override;
    std::size_t exportPresets(const std::filesystem::path& file) override;
    // Both wait for the running app's answer and call `finished` before they return.
    void installHelper(Finished finished) override;
    void runSupervisedTest(Finished finished) override;
    void setOwnership(const std::string& owner) override;
    void open(const std::string& window, const std::string& activationToken) override;

private:
    SessionBus& bus_;
};

} // namespace quorvane
