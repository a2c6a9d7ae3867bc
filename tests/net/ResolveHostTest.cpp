#include "net/NetIO.h"
#include "net/ResolveHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(NetIOTest, CountsUsesAndStartsOnce)
{
    // The count is process-wide; the test needs it to start from nothing.
    ASSERT_EQ(CNetIO::UseCount(), 0);
    EXPECT_EQ(CNetIO::Release(), 0); // nothing held: nothing happens
    EXPECT_EQ(CNetIO::UseCount(), 0);

    CNetIO* first = CNetIO::Acquire();
    CNetIO* second = CNetIO::Acquire();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(CNetIO::UseCount(), 2);
    EXPECT_EQ(first->GetStarted(), 0);
    EXPECT_EQ(first->Start(), 0);
    EXPECT_EQ(first->Start(), 0);
    EXPECT_EQ(first->GetStarted(), 1);

    EXPECT_EQ(CNetIO::Release(), 1);
    EXPECT_EQ(first->GetStarted(), 1); // still held once
    EXPECT_EQ(CNetIO::Release(), 0);
    EXPECT_EQ(CNetIO::Release(), 0);
    EXPECT_EQ(CNetIO::UseCount(), 0);

    CNetIO* fresh = CNetIO::Acquire();
    EXPECT_EQ(fresh->GetStarted(), 0);
    EXPECT_EQ(CNetIO::Release(), 0);
}

struct ResolveCase {
    const char* host;
    bool resolves;
    const char* dotted;
};

class ResolveHostTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveHostTest, Resolves)
{
    const ResolveCase& c = GetParam();
    char out[16];
    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(ResolveHost(c.host, out), c.resolves);
    if (c.resolves) {
        EXPECT_EQ(std::string(out), c.dotted);
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, ResolveHostTest,
                         ::testing::Values(ResolveCase{"127.0.0.1", true, "127.0.0.1"},
                                           ResolveCase{"255.255.255.255", true, "255.255.255.255"},
                                           ResolveCase{"localhost", true, "127.0.0.1"},
                                           ResolveCase{"", false, nullptr},
                                           ResolveCase{nullptr, false, nullptr},
                                           ResolveCase{"no..such.host", false, nullptr}));

TEST(ResolveHostTest, NullOutputIsRefused)
{
    EXPECT_FALSE(ResolveHost("127.0.0.1", nullptr));
}
