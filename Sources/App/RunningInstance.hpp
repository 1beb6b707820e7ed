#pragma once

#include "App/AppModel.hpp"
#include "Platform/AppInstanceCommands.hpp"
#include "Platform/AppInstanceState.hpp"

#include <functional>
#include <memory>
#include <string>

namespace quorvane {

// The running app's side of one instance per user: the commands a second start or a script sends,
// carried out on the model as the menu would, and the model's state handed to `publish` after every
// batch of changes (once per main-executor turn). Runs on the main executor.
class RunningInstance final : public AppInstanceCommands {
public:
    // `openWindow` is empty for the headless front end, which has none.
    // `openWindow` gets the window's name and the activation token to bring it forward with.
    using OpenWindow = std::function<void(const std::string& window, const std::string& activationToken)>;
    RunningInstance(AppModel& model, MainExecutor& mainExecutor, OpenWindow openWindow,
                    std::function<void(const AppInstanceState&)> publish);
    ~RunningInstance() override;
    RunningInstance(const RunningInstance&) = delete;
    RunningInstance& operator=(const RunningInstance&) = delete;

    AppInstanceState state() const;

    void activatePreset(const std::string& preset) override;
    std::string createPreset() override;
    std::string duplicatePreset(const std::string& preset) override;
    void renamePreset(const std::string& preset, const std::string& newName) override;
    void deletePreset(const std::string& preset) override;
    std::size_t importPresets(const std::filesystem::path& file) override;
    std::size_t exportPresets(const std::filesystem::path& file) override;
    void installHelper(Finished finished) override;
    void runSupervisedTest(Finished finished) override;
    void setOwnership(const std::string& owner) override;
    void open(const std::string& window, const std::string& activationToken) override;

private:
    FanPreset find(const std::string& preset) const;
    void schedulePublish();

    AppModel& model_;
    MainExecutor& mainExecutor_;
    OpenWindow openWindow_;
    std::function<void(const AppInstanceState&)> publish_;
    AppModel::ObserverToken observer_{};
    bool publishPending_ = false;
    // Tasks hold it weakly to know the instance still exists.
    std::shared_ptr<char> lifetime_ = std::make_shared<char>(0);
};

} // namespace quorvane
