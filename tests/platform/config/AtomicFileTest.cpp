// Temporary files of replacements that a kill cut short, and their clean-up.
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

#include "platform/config/AtomicFile.h"
#include "support/Files.h"
#include "support/ProcessStats.h"
#include "support/TempFolder.h"
#include "support/WaitUntil.h"

using namespace qlntest;

namespace {

size_t Leftovers(const std::string& folder)
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        count += entry.path().filename().string().find(".qln-tmp.") != std::string::npos;
    return count;
}

struct LeftoverCase {
    const char* label;
    const char* name; // "<pid>" stands for the writer's process id
    bool writerRuns;
    bool dayOld;
    bool removed;
};

class LeftoverTest : public ::testing::TestWithParam<LeftoverCase> {};

TEST_P(LeftoverTest, OnlyStaleFilesOfOurNamingGo)
{
    const LeftoverCase& c = GetParam();
    TempFolder dir;
    std::string name = c.name;
    if (const size_t at = name.find("<pid>"); at != std::string::npos)
        name.replace(at, 5, std::to_string(c.writerRuns ? getppid() : DeadPid()));
    WriteFileText(dir.File(name), "partial");
    const timespec dayOld[2] = {{time(nullptr) - 25 * 3600, 0}, {time(nullptr) - 25 * 3600, 0}};
    ASSERT_TRUE(!c.dayOld || utimensat(AT_FDCWD, dir.File(name).c_str(), dayOld, 0) == 0);
    EXPECT_EQ(RemoveStaleTemporaryFiles(dir.Root), c.removed ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LeftoverTest,
    ::testing::Values(LeftoverCase{"DeadWriter", ".a.ini.qln-tmp.<pid>.0", false, false, true},
                      LeftoverCase{"LiveWriter", ".a.ini.qln-tmp.<pid>.0", true, false, false},
                      LeftoverCase{"LiveWriterDayOld", ".a.ini.qln-tmp.<pid>.7", true, true, true},
                      LeftoverCase{"EarlierNamingDeadWriter", "a.ini.tmp<pid>-3", false, false, true}, // earlier versions
                      LeftoverCase{"EarlierNamingLiveWriter", "a.ini.tmp<pid>-3", true, false, false},
                      LeftoverCase{"NoLeadingDot", "a.ini.qln-tmp.<pid>.0", false, true, false},
                      LeftoverCase{"NoSequenceNumber", ".a.ini.qln-tmp.<pid>.x", false, true, false},
                      LeftoverCase{"ForeignName", "notes.tmp", false, true, false}),
    [](const auto& info) { return std::string(info.param.label); });

// A writer killed while it replaces a large file leaves its temporary file; the
// clean-up takes it, and the file itself is one whole version.
TEST(LeftoverCleanUpTest, AWriterKilledMidReplacementLeavesNothingBehindIt)
{
    TempFolder dir;
    const std::string target = dir.File("QuillonConsole.ini");
    const std::string versions[2] = {std::string(4 << 20, 'a'), std::string(4 << 20, 'b')};
    ASSERT_EQ(ReplaceFileAtomically(target, versions[0]).Text(), "");
    size_t left = 0;
    for (int attempt = 0; attempt < 50 && left == 0; ++attempt) {
        const pid_t writer = fork();
        ASSERT_GE(writer, 0);
        while (writer == 0)
            ReplaceFileAtomically(target, versions[attempt % 2]);
        const bool writing = WaitUntil([&] { return Leftovers(dir.Root) > 0; });
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        ASSERT_TRUE(writing);
        left = Leftovers(dir.Root);
    }
    ASSERT_GT(left, 0u) << "no kill landed inside a replacement";
    EXPECT_EQ(RemoveStaleTemporaryFiles(dir.Root), left);
    EXPECT_EQ(Leftovers(dir.Root), 0u);
    const std::string content = FileText(target);
    EXPECT_TRUE(content == versions[0] || content == versions[1]);
}

} // namespace
