#include "Helpers/DefaultsStoreError.hpp"
#include "Platform/JSONFileDefaultsStore.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// 2024-05-01 10:15:30 UTC, so set-aside names are predictable.
const auto fixedTime = std::chrono::system_clock::from_time_t(1714558530);

class JSONFileDefaultsStoreTest : public ::testing::Test {
protected:
    JSONFileDefaultsStore open() {
        return JSONFileDefaultsStore(path, [] { return fixedTime; });
    }

    void writeRaw(const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string readRaw(const fs::path& file) {
        return (std::ostringstream() << std::ifstream(file, std::ios::binary).rdbuf()).str();
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path.parent_path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    auto failsToSave() const {
        return ::testing::ThrowsMessage<DefaultsStoreError>(
            HasSubstr("Settings could not be saved to " + path.string()));
    }

    testing::TemporaryDirectory directory;
    const fs::path& folder = directory.path();
    fs::path path = folder / "quorvane" / "defaults.json";
};

// Two writers on one file, as two app processes would be: each change keeps what the other stored
// since this store read the file, including the other's removal. What stays is one private file.
TEST_F(JSONFileDefaultsStoreTest, AWriterNeverUndoesAnotherWritersChanges) {
    {
        auto first = open();
        auto second = open();
        first.setString("customFanPresets.v1", "[imported]");
        first.setInteger("pollingInterval", 3);
        second.setString("fanControlOwnership.v1", "anotherApp");
        second.setInteger("pollingInterval", 4);
        first.removeValue("fanControlOwnership.v1");
        first.setBool("overheatAlertsEnabled", true);
        // A write also brings the writer up to date with the file.
        EXPECT_EQ(first.integer("pollingInterval"), 4);
    }
    auto reopened = open();
    EXPECT_EQ(reopened.string("customFanPresets.v1"), "[imported]");
    EXPECT_EQ(reopened.integer("pollingInterval"), 4);
    EXPECT_EQ(reopened.value("fanControlOwnership.v1"), std::nullopt);
    EXPECT_EQ(reopened.boolean("overheatAlertsEnabled"), true);
    EXPECT_THAT(entries(), ElementsAre("defaults.json", "defaults.json.lock"));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(JSONFileDefaultsStoreTest, ConcurrentWritersLoseNoKey) {
    auto first = open();
    auto second = open();
    // The lock is waited for only briefly, so a busy writer can make a save fail: it says so, and the
    // caller tries again.
    const auto writeKeys = [](JSONFileDefaultsStore& store, const std::string& prefix) {
        for (int i = 0; i < 20; ++i) {
            for (int attempt = 0; attempt < 100; ++attempt) {
                try {
                    store.setInteger(prefix + std::to_string(i), i);
                    break;
                } catch (const DefaultsStoreError& error) {
                    ASSERT_THAT(error.what(), HasSubstr("another program keeps it busy"));
                }
            }
        }
    };
    std::thread other([&] { writeKeys(second, "b"); });
    writeKeys(first, "a");
    other.join();
    auto reopened = open();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(reopened.integer("a" + std::to_string(i)), i);
        EXPECT_EQ(reopened.integer("b" + std::to_string(i)), i);
    }
}

TEST_F(JSONFileDefaultsStoreTest, FailedWriteKeepsTheOldFileAndValueAndCleansUp) {
    auto store = open();
    store.setString("key", "old");
    const auto before = readRaw(path);
    auto replacement = path.string() + ".moved";
    fs::rename(path, replacement);
    fs::create_directory(path); // the rename into place now fails
    EXPECT_THAT([&] { store.setString("key", "new"); }, failsToSave());
    EXPECT_EQ(store.string("key"), "old");
    EXPECT_THAT(entries(), ElementsAre("defaults.json", "defaults.json.lock", "defaults.json.moved"));
    EXPECT_EQ(readRaw(replacement), before);
}

class DamagedDefaultsFile : public JSONFileDefaultsStoreTest,
                            public ::testing::WithParamInterface<std::string> {};

TEST_P(DamagedDefaultsFile, IsSetAsideUntouchedAndTheStoreStartsEmpty) {
    testing::LogCapture logs;
    writeRaw(GetParam());
    auto store = open();
    EXPECT_EQ(store.value("pollingInterval"), std::nullopt);
    const auto aside = path.string() + ".corrupt-20240501T101530Z";
    EXPECT_EQ(store.setAsidePath(), fs::path(aside));
    EXPECT_EQ(readRaw(aside), GetParam());
    EXPECT_THAT(logs.messagesContaining("moved it to " + aside), ::testing::SizeIs(1));

    store.setInteger("pollingInterval", 2);
    EXPECT_EQ(readRaw(aside), GetParam());
    EXPECT_EQ(open().integer("pollingInterval"), 2);

    // A second damaged file in the same second does not replace the first.
    writeRaw("second");
    open();
    EXPECT_EQ(readRaw(aside), GetParam());
    EXPECT_EQ(readRaw(aside + "-2"), "second");
}

INSTANTIATE_TEST_SUITE_P(Contents, DamagedDefaultsFile,
                         ::testing::Values("{\"pollingInterval\": 2,", "not json", "[1, 2]", "",
                                           "{\"name\": \"\xFF\xFE\"}"));

// A hand edit that breaks the file while the app runs: the next change sets it aside and keeps
// every other key the app holds.
TEST_F(JSONFileDefaultsStoreTest, DamageFoundByAChangeIsSetAsideAndNoOtherKeyIsLost) {
    auto store = open();
    store.setString("customFanPresets.v1", "[desk]");
    store.setInteger("pollingInterval", 3);
    writeRaw("{\"pollingInterval\": 3,");
    store.setString("fanControlOwnership.v1", "anotherApp");
    auto reopened = open();
    EXPECT_EQ(reopened.string("customFanPresets.v1"), "[desk]");
    EXPECT_EQ(reopened.integer("pollingInterval"), 3);
    EXPECT_EQ(reopened.string("fanControlOwnership.v1"), "anotherApp");
    EXPECT_EQ(readRaw(path.string() + ".corrupt-20240501T101530Z"), "{\"pollingInterval\": 3,");
}

// A file that cannot be opened is not damaged: the save fails with the reason and nothing moves.
TEST_F(JSONFileDefaultsStoreTest, AFileThatCannotBeOpenedStaysInPlaceAndTheSaveFails) {
    fs::create_directories(path.parent_path());
    fs::create_symlink(path.filename(), path); // opening it fails with ELOOP
    auto store = open();
    EXPECT_THAT([&] { store.setInteger("pollingInterval", 2); }, failsToSave());
    EXPECT_THAT(entries(), ElementsAre("defaults.json", "defaults.json.lock"));
    EXPECT_TRUE(fs::is_symlink(path));
}

TEST_F(JSONFileDefaultsStoreTest, ASymlinkedFileIsWrittenThroughToItsTarget) {
    const auto dotfiles = folder / "dotfiles" / "quorvane.json";
    fs::create_directories(dotfiles.parent_path());
    std::ofstream(dotfiles) << R"({"pollingInterval": 3})";
    fs::create_directories(path.parent_path());
    fs::create_symlink(dotfiles, path);
    auto store = open();
    store.setBool("overheatAlertsEnabled", true);
    EXPECT_TRUE(fs::is_symlink(path));
    const auto stored = nlohmann::json::parse(readRaw(dotfiles));
    EXPECT_EQ(stored, nlohmann::json({{"pollingInterval", 3}, {"overheatAlertsEnabled", true}}));
}

// Another process keeps the writer lock: a damaged file is left alone at start (it is set aside only
// under the lock), and a change gives up after a few short waits instead of blocking its caller.
TEST_F(JSONFileDefaultsStoreTest, AHeldLockIsWaitedForOnlyBriefly) {
    writeRaw("not json");
    const int holder = ::open((path.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    int waits = 0;
    JSONFileDefaultsStore store(
        path, [] { return fixedTime; }, [&](std::chrono::milliseconds) { ++waits; });
    EXPECT_EQ(store.setAsidePath(), std::nullopt);
    EXPECT_THAT([&] { store.setInteger("pollingInterval", 2); },
                ::testing::ThrowsMessage<DefaultsStoreError>(HasSubstr("another program keeps it busy")));
    EXPECT_EQ(waits, 2 * (JSONFileDefaultsStore::lockAttempts - 1));
    EXPECT_EQ(readRaw(path), "not json");
    ::close(holder);
}

TEST(JSONFileDefaultsStorePath, FollowsAnAbsoluteXDGConfigHomeElseHome) {
    const auto pathFor = [](std::string configHome) {
        return JSONFileDefaultsStore::defaultPath([configHome](const std::string& name) {
            return std::optional<std::string>(name == "HOME" ? "/h" : configHome);
        });
    };
    EXPECT_EQ(pathFor("/cfg"), fs::path("/cfg/quorvane/defaults.json"));
    EXPECT_EQ(pathFor(""), fs::path("/h/.config/quorvane/defaults.json"));
    EXPECT_EQ(pathFor("relative/cfg"), fs::path("/h/.config/quorvane/defaults.json"));
}

} // namespace
} // namespace quorvane
