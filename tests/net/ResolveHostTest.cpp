// Host names and dotted addresses to the address a link sends to.
#include "net/ResolveHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
