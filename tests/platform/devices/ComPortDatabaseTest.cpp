// The COM-port database: numbers claimed and released, shared through its file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <vector>

#include "platform/devices/ComPortDatabase.h"
#include "platform/devices/DeviceStore.h"
#include "support/DeviceState.h"

using namespace qlntest;

namespace {

class ComPortDatabaseTest : public DeviceStateTest {};

TEST_F(ComPortDatabaseTest, ClaimsReleasesAndReports)
{
    DeviceStore store(State);
    auto database = store.OpenComDatabase();
    ASSERT_TRUE(database);
    uint32_t count = 0;
    ASSERT_EQ(database->GetCurrentPortUsage(nullptr, 0, &count), 0);
    EXPECT_EQ(count, 256u);

    struct Step { const char* what; bool claim; int number; bool force; bool ok; };
    const Step steps[] = {
        {"claim a free number", true, 5, false, true},
        {"claim it again", true, 5, false, false},
        {"claim it again with force", true, 5, true, true},
        {"claim the first", true, 1, false, true},
        {"claim the last", true, 256, false, true},
        {"claim past the end", true, 257, true, false},
        {"claim zero", true, 0, true, false},
        {"release a free number", false, 7, false, true},
        {"release out of range", false, -1, false, false},
        {"release the first", false, 1, false, true},
    };
    for (const auto& step : steps) {
        bool ok = step.claim ? database->ClaimPort(step.number, step.force) : database->ReleasePort(step.number);
        EXPECT_EQ(ok, step.ok) << step.what;
    }
    // Another open database sees the same claims; foreign lines are skipped.
    WriteFileText(State + "/comdb", FileText(State + "/comdb") + "COM09\nCOM300\nLPT1\nCOMx\nCOM12\n");
    auto other = store.OpenComDatabase();
    std::vector<uint8_t> usage(count);
    ASSERT_EQ(other->GetCurrentPortUsage(usage.data(), count, &count), 0);
    std::set<int> used;
    for (uint32_t i = 0; i < count; ++i) {
        if (usage[i])
            used.insert(static_cast<int>(i + 1));
    }
    EXPECT_EQ(used, (std::set<int>{5, 12, 256}));
    EXPECT_EQ(other->LowestFree(), 1);

    // A database file that cannot be read fails every request but the size.
    ASSERT_EQ(unlink((State + "/comdb").c_str()), 0);
    ASSERT_EQ(mkdir((State + "/comdb").c_str(), 0755), 0);
    EXPECT_NE(database->GetCurrentPortUsage(usage.data(), count, &count), 0);
    EXPECT_FALSE(database->ClaimPort(3, false));
    EXPECT_EQ(database->LowestFree(), 0);
}

} // namespace
