#include "Helpers/CompetingFanControllerDetector.hpp"
#include "Platform/ProcFSProcessTable.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <tuple>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

TEST(ProcFSProcessTableTest, ScansAProcTreeAndSkipsWhatItCannotRead) {
    testing::TemporaryDirectory folder;
    const auto& root = folder.path();
    for (const char* entry : {"self", "42", "77", "9x"}) {
        fs::create_directories(root / entry);
    }
    fs::create_symlink("/usr/sbin/mbpfan", root / "77" / "exe");
    std::ofstream(root / "77" / "comm") << "mbpfan\n";
    std::ofstream(root / "status") << "not a process";

    ProcFSProcessTable table(root);
    auto ids = table.processIdentifiers();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<pid_t>{42, 77}));
    EXPECT_EQ(table.executablePath(42), std::nullopt);
    EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(table),
              (CompetingFanController{"mbpfan", "/usr/sbin/mbpfan", 77}));
    // The real /proc is scanned by the helper in the end-to-end tests, where mbpfan is found.
    EXPECT_EQ(ProcFSProcessTable().ownProcessIdentifier(), ::getpid());
}

// The app runs as the user: a root daemon's "exe" link cannot be read (a missing link here), but
// its command line and kernel name can.
class ProcFSCompetitorTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(root / "50"); }

    void write(const std::string& file, const std::string& content) {
        std::ofstream(root / "50" / file, std::ios::binary) << content;
    }
    std::optional<CompetingFanController> scan() {
        ProcFSProcessTable table(root);
        return CompetingFanControllerDetector::runningControllerDetails(table);
    }

    testing::TemporaryDirectory folder;
    const fs::path root = folder.path();
};

TEST_F(ProcFSCompetitorTest, AnUnreadableExecutableFallsBackToTheCommandLineThenTheName) {
    write("cmdline", std::string("/usr/sbin/macfanctld\0-f\0", 24));
    write("comm", "macfanctld\n");
    EXPECT_EQ(scan(), (CompetingFanController{"macfanctld", "/usr/sbin/macfanctld", 50}));
    write("cmdline", "");
    write("comm", "mbpfan\n");
    EXPECT_EQ(scan(), (CompetingFanController{"mbpfan", "mbpfan", 50}));
    write("comm", "mbpfand\n");
    EXPECT_EQ(scan(), std::nullopt);
    // An upgraded daemon runs a deleted file.
    fs::create_symlink("/usr/sbin/mbpfan (deleted)", root / "50" / "exe");
    write("comm", "mbpfan\n");
    EXPECT_EQ(scan(), (CompetingFanController{"mbpfan", "/usr/sbin/mbpfan", 50}));
}

// The helper counts a process that is root or can become root again (saved id) and has not exited.
TEST_F(ProcFSCompetitorTest, TheHelperCountsOnlyARootProcessThatHasNotExited) {
    write("comm", "mbpfan\n");
    for (const auto& [state, uids, counts] : {std::tuple{"S (sleeping)", "1000\t0\t0", true},
                                              {"Z (zombie)", "0\t0\t0", false},
                                              {"R (running)", "1000\t1000\t1000", false}}) {
        write("status", std::string("Name:\tmbpfan\nState:\t") + state + "\nUid:\t" + uids + "\t0\n");
        ProcFSProcessTable table(root);
        EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(
                      table, CompetingFanControllerDetector::Scope::rootProcesses)
                      .has_value(),
                  counts)
            << state << " " << uids;
        EXPECT_TRUE(scan());
    }
}

} // namespace
} // namespace quorvane
