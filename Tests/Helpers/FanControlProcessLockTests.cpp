#include "Helpers/FanControlProcessLock.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using ::testing::MatchesRegex;

class FanControlProcessLockTest : public ::testing::Test {
protected:
    std::string contents() const {
        std::ifstream file(path);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    void write(const std::string& text) const { std::ofstream(path) << text; }

    static FanControlProcessLockError refusal(FanControlProcessLock& lock) {
        try {
            lock.acquire("second");
        } catch (const FanControlProcessLockError& error) {
            return error;
        }
        ADD_FAILURE() << "lock was granted";
        return FanControlProcessLockError::unsafeLockFile();
    }

    testing::TemporaryDirectory folder;
    fs::path directory = folder.path();
    fs::path path = directory / "fan-control.lock";
};

TEST_F(FanControlProcessLockTest, FirstHolderCreatesAPrivateFileWithOneOwnerLine) {
    FanControlProcessLock lock(path, ::getuid());
    lock.acquire("Quorvane session ABC");
    EXPECT_TRUE(lock.isHeld());
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_THAT(contents(), MatchesRegex("Quorvane session ABC pid=[0-9]+ "
                                         "started=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z\n"));
}

TEST_F(FanControlProcessLockTest, SecondHolderIsToldWhoOwnsFanControl) {
    FanControlProcessLock first(path);
    first.acquire("Quorvane startup recovery");
    FanControlProcessLock second(path);
    const auto error = refusal(second);
    EXPECT_EQ(error.kind(), FanControlProcessLockError::Kind::alreadyOwned);
    std::string line = contents();
    line.pop_back();
    EXPECT_EQ(error.owner(), line);
    EXPECT_EQ(std::string(error.what()), "Fan control is already owned by " + line);
    EXPECT_FALSE(second.isHeld());

    first.release();
    EXPECT_FALSE(first.isHeld());
    second.acquire("Quorvane session X");
    EXPECT_TRUE(second.isHeld());
}

// A helper that ends without releasing by hand must not leave fan control owned.
TEST_F(FanControlProcessLockTest, DestructionReleases) {
    FanControlProcessLock(path).acquire("scoped");
    FanControlProcessLock next(path);
    EXPECT_NO_THROW(next.acquire("next"));
}

TEST_F(FanControlProcessLockTest, AnEmptyOwnerRecordIsAnotherQuorvaneProcess) {
    FanControlProcessLock first(path);
    first.acquire("holder");
    FanControlProcessLock second(path);

    write("");
    auto error = refusal(second);
    EXPECT_EQ(error.owner(), std::nullopt);
    EXPECT_STREQ(error.what(), "Fan control is already owned by another Quorvane process");
}

TEST_F(FanControlProcessLockTest, UnsafeFilesAreRefusedAndLeftAlone) {
    write("foreign owner\n");
    ::chmod(path.c_str(), 0644);
    FanControlProcessLock wrongOwner(path, ::getuid() + 1);
    EXPECT_EQ(refusal(wrongOwner), FanControlProcessLockError::unsafeLockFile());
    EXPECT_EQ(contents(), "foreign owner\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0644));

    fs::create_hard_link(path, directory / "second-link");
    FanControlProcessLock hardLinked(path);
    EXPECT_EQ(refusal(hardLinked), FanControlProcessLockError::unsafeLockFile());
    EXPECT_STREQ(refusal(hardLinked).what(), "The Quorvane control lock file is not a safe regular file");
}

TEST_F(FanControlProcessLockTest, SymbolicLinksAreRefused) {
    const fs::path target = directory / "target";
    write("x");
    fs::rename(path, target);
    fs::create_symlink(target, path);
    FanControlProcessLock linked(path);
    const auto error = refusal(linked);
    EXPECT_EQ(error.kind(), FanControlProcessLockError::Kind::systemError);
    EXPECT_EQ(error.errorNumber(), ELOOP);
    EXPECT_EQ(std::string(error.what()),
              "Unable to secure the Quorvane control lock (errno " + std::to_string(ELOOP) + ")");
}

} // namespace
} // namespace quorvane
