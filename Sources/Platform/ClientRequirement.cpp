#include "Platform/ClientRequirement.hpp"

#include "Platform/PeerProcess.hpp"
#include "Platform/SHA256.hpp"

#include <algorithm>
#include <deque>
#include <mutex>

namespace quorvane {

namespace fs = std::filesystem;

struct ClientRequirement::Shared {
    fs::path app;
    Hasher hasher;
    std::mutex mutex;
    std::optional<Pin> pin;
    // Executables whose hash did not match the pin, newest last: the same file connecting again is
    // refused without being read again.
    std::deque<FileIdentity> refused;
};

namespace {

constexpr std::size_t rememberedRefusals = 64;

} // namespace

ClientRequirement::ClientRequirement(fs::path app, std::string executableName, Hasher hasher)
    : executableName_(std::move(executableName)), shared_(std::make_shared<Shared>()) {
    shared_->app = std::move(app);
    shared_->hasher = hasher ? std::move(hasher) : Hasher(sha256OfFile);
}

std::optional<fs::path> ClientRequirement::appBeside(const fs::path& helperExecutable) {
    const fs::path directory = helperExecutable.parent_path();
    for (const fs::path& candidate :
         {directory / appExecutableName, directory / ".." / ".." / "bin" / appExecutableName}) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            return fs::weakly_canonical(candidate, error);
        }
    }
    return std::nullopt;
}

std::optional<ClientRequirement> ClientRequirement::forApp(const fs::path& app, Hasher hasher) {
    ClientRequirement requirement(app, app.filename().string(), std::move(hasher));
    if (!requirement.currentPin()) {
        return std::nullopt;
    }
    return requirement;
}

std::optional<ClientRequirement> ClientRequirement::forAppBeside(const fs::path& helperExecutable) {
    const auto app = appBeside(helperExecutable);
    if (!app) {
        return std::nullopt;
    }
    ClientRequirement requirement(*app, appExecutableName, {});
    if (!requirement.currentPin()) {
        return std::nullopt;
    }
    return requirement;
}

// The pin follows the installed file: when its identity moved (replaced, rewritten), it is hashed
// again. A file that changes while it is hashed is not pinned; the next check tries again.
std::optional<ClientRequirement::Pin> ClientRequirement::currentPin() const {
    std::lock_guard lock(shared_->mutex);
    const auto installed = FileIdentity::of(shared_->app);
    if (!installed) {
        shared_->pin.reset();
        return std::nullopt;
    }
    if (!shared_->pin || shared_->pin->file != *installed) {
        shared_->pin.reset();
        shared_->refused.clear();
        const auto hash = shared_->hasher(shared_->app);
        if (hash && FileIdentity::of(shared_->app) == installed) {
            shared_->pin = Pin{*installed, *hash};
        }
    }
    return shared_->pin;
}

std::optional<std::string> ClientRequirement::sha256() const {
    const auto pin = currentPin();
    return pin ? std::optional(pin->sha256) : std::nullopt;
}

bool ClientRequirement::admits(const PeerProcess& peer) const {
    if (peer.executableName() != executableName_) {
        return false;
    }
    const auto pin = currentPin();
    if (!pin) {
        return false;
    }
    const FileIdentity& running = peer.executable();
    if (running == pin->file) {
        return peer.isUnchanged();
    }
    if (running.size != pin->file.size) {
        return false;
    }
    {
        std::lock_guard lock(shared_->mutex);
        const auto& refused = shared_->refused;
        if (std::find(refused.begin(), refused.end(), running) != refused.end()) {
            return false;
        }
    }
    // Hash what the process actually runs, even if the file at its path was replaced since.
    const bool matches = shared_->hasher(peer.executablePath()) == pin->sha256;
    if (!peer.isUnchanged()) {
        return false;
    }
    if (!matches) {
        std::lock_guard lock(shared_->mutex);
        if (shared_->pin && shared_->pin->file == pin->file) {
            shared_->refused.push_back(running);
            if (shared_->refused.size() > rememberedRefusals) {
                shared_->refused.pop_front();
            }
        }
    }
    return matches;
}

} // namespace quorvane
