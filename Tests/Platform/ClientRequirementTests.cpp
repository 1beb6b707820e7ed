#include "Platform/ClientRequirement.hpp"
#include "Platform/SHA256.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

class ClientRequirementTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("requirement-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }
    void write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    fs::path root;
};

TEST_F(ClientRequirementTest, HashesFilesAsLowercaseHex) {
    write(root / "abc", "abc");
    EXPECT_EQ(sha256OfFile(root / "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256OfFile(root / "missing"), std::nullopt);
}

TEST_F(ClientRequirementTest, FindsTheAppInTheBuildAndTheInstalledLayout) {
    write(root / "build" / "bin" / "OrvalithHelper", "helper");
    write(root / "build" / "bin" / "Quorvane", "app one");
    const auto built = ClientRequirement::forAppBeside(root / "build" / "bin" / "OrvalithHelper");
    ASSERT_TRUE(built);
    EXPECT_EQ(built->sha256(), sha256OfFile(root / "build" / "bin" / "Quorvane"));

    write(root / "usr" / "libexec" / "quorvane" / "OrvalithHelper", "helper");
    EXPECT_EQ(ClientRequirement::forAppBeside(root / "usr" / "libexec" / "quorvane" / "OrvalithHelper"),
              std::nullopt);
    write(root / "usr" / "bin" / "Quorvane", "app two");
    const auto installed =
        ClientRequirement::forAppBeside(root / "usr" / "libexec" / "quorvane" / "OrvalithHelper");
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->sha256(), sha256OfFile(root / "usr" / "bin" / "Quorvane"));
}

TEST_F(ClientRequirementTest, PeerMustHaveTheNameAndTheContents) {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const auto hash = *sha256OfFile(self);
    EXPECT_TRUE(ClientRequirement(self.filename().string(), hash).isSatisfiedBy(::getpid()));
    EXPECT_FALSE(ClientRequirement("Quorvane", hash).isSatisfiedBy(::getpid()));
    EXPECT_FALSE(ClientRequirement(self.filename().string(), std::string(64, '0')).isSatisfiedBy(::getpid()));
    EXPECT_FALSE(ClientRequirement(self.filename().string(), hash).isSatisfiedBy(0x7ffffff0));
}

} // namespace
} // namespace quorvane
