#include "Platform/ClientRequirement.hpp"
#include "Platform/PeerProcess.hpp"
#include "Platform/SHA256.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

class ClientRequirementTest : public ::testing::Test {
protected:
    static fs::path write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
        return path;
    }
    // A copy of this test program under `name`, changed in one byte when `tampered`.
    fs::path copyOfSelf(const fs::path& path, bool tampered = false) {
        fs::create_directories(path.parent_path());
        fs::copy_file(self, path, fs::copy_options::overwrite_existing);
        if (tampered) {
            std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(100);
            file.put('\x5a');
        }
        return path;
    }

    testing::TemporaryDirectory directory;
    const fs::path root = directory.path();
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const PeerProcess peer =
        *PeerProcess::ofProcess(::getpid(), ::getuid(), PeerProcess::openPidfd(::getpid()));
    int hashed = 0;
};

TEST_F(ClientRequirementTest, HashesFilesAsLowercaseHexAndFindsTheAppInTheBuildAndTheInstalledLayout) {
    EXPECT_EQ(sha256OfFile(root / "missing"), std::nullopt);

    const auto built = ClientRequirement::forAppBeside(write(root / "build/bin/OrvalithHelper", "helper"));
    EXPECT_EQ(built, std::nullopt) << "no app beside it";
    write(root / "build/bin/Quorvane", "abc");
    const auto installed = write(root / "usr/libexec/quorvane/OrvalithHelper", "helper");
    EXPECT_EQ(ClientRequirement::forAppBeside(installed), std::nullopt);
    write(root / "usr/bin/Quorvane", "abc");
    for (const auto& helper : {root / "build/bin/OrvalithHelper", installed}) {
        const auto requirement = ClientRequirement::forAppBeside(helper);
        ASSERT_TRUE(requirement) << helper;
        EXPECT_EQ(requirement->sha256(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    }
}

// Which peers pass, and which of them cost a hash of the peer's executable, first and on connecting again.
TEST_F(ClientRequirementTest, PeerMustHaveTheNameAndTheContentsAndOnlyASameSizedCopyIsHashed) {
    struct Case {
        const char* what;
        std::function<fs::path()> app;
        bool admitted;
        int peerHashes;
        int repeatHashes;
    };
    const std::string name = self.filename().string();
    const Case cases[] = {
        {"the pinned file itself", [&] { return self; }, true, 0, 0},
        {"an identical copy", [&] { return copyOfSelf(root / "copy" / name); }, true, 1, 1},
        {"a copy changed in one byte", [&] { return copyOfSelf(root / "tampered" / name, true); }, false, 1,
         0},
        {"another size", [&] { return write(root / "small" / name, "small"); }, false, 0, 0},
        {"another name", [&] { return copyOfSelf(root / "named" / "Quorvane"); }, false, 0, 0},
    };
    for (const auto& check : cases) {
        hashed = 0;
        const auto requirement = ClientRequirement::forApp(check.app(), [&](const fs::path& path) {
            ++hashed;
            return sha256OfFile(path);
        });
        ASSERT_TRUE(requirement) << check.what;
        const int pinning = hashed;
        EXPECT_EQ(requirement->admits(peer), check.admitted) << check.what;
        EXPECT_EQ(hashed - pinning, check.peerHashes) << check.what;
        EXPECT_EQ(requirement->admits(peer), check.admitted) << check.what;
        EXPECT_EQ(hashed - pinning - check.peerHashes, check.repeatHashes) << check.what;
    }
}

TEST_F(ClientRequirementTest, AnUpgradedAppIsPinnedAgain) {
    const fs::path app = root / "bin" / self.filename();
    // Same size, other contents: refused after a hash, and remembered as refused until the upgrade.
    copyOfSelf(app, true);
    const auto requirement = ClientRequirement::forApp(app);
    ASSERT_TRUE(requirement);
    EXPECT_FALSE(requirement->admits(peer));

    // Installed the way packages do: a new file renamed over the old one.
    fs::rename(copyOfSelf(root / "bin" / "upgrade.new"), app);
    EXPECT_TRUE(requirement->admits(peer));
    EXPECT_EQ(requirement->sha256(), sha256OfFile(self));

    fs::remove(app);
    EXPECT_FALSE(requirement->admits(peer));
}

} // namespace
} // namespace quorvane
