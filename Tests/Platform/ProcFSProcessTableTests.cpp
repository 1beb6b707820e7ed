#include "Helpers/CompetingFanControllerDetector.hpp"
#include "Platform/ProcFSProcessTable.hpp"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

TEST(ProcFSProcessTableTest, SeesThisProcessAndItsExecutable) {
    ProcFSProcessTable table;
    const auto ids = table.processIdentifiers();
    EXPECT_NE(std::find(ids.begin(), ids.end(), ::getpid()), ids.end());
    EXPECT_EQ(table.executablePath(::getpid()), fs::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(table.ownProcessIdentifier(), ::getpid());
}

TEST(ProcFSProcessTableTest, ScansAProcTreeAndSkipsWhatItCannotRead) {
    const fs::path root = fs::temp_directory_path() / ("proc-test-" + std::to_string(::getpid()));
    fs::create_directories(root / "self");
    fs::create_directories(root / "42");
    fs::create_directories(root / "77");
    fs::create_directories(root / "9x");
    fs::create_symlink("/usr/sbin/mbpfan", root / "77" / "exe");
    std::ofstream(root / "status") << "not a process";

    ProcFSProcessTable table(root);
    auto ids = table.processIdentifiers();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<pid_t>{42, 77}));
    EXPECT_EQ(table.executablePath(42), std::nullopt);
    EXPECT_EQ(CompetingFanControllerDetector::runningControllerDetails(table),
              (CompetingFanController{"mbpfan", "/usr/sbin/mbpfan", 77}));
    EXPECT_TRUE(ProcFSProcessTable(root / "missing").processIdentifiers().empty());
    fs::remove_all(root);
}

} // namespace
} // namespace quorvane
