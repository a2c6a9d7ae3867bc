// Host names and dotted addresses to the address a link sends to.
#include "net/ResolveHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

struct ResolveCase {
    const char* label;
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
                         ::testing::Values(ResolveCase{"Dotted", "127.0.0.1", true, "127.0.0.1"},
                                           ResolveCase{"Broadcast", "255.255.255.255", true, "255.255.255.255"},
                                           ResolveCase{"Localhost", "localhost", true, "127.0.0.1"},
                                           ResolveCase{"Empty", "", false, nullptr},
                                           ResolveCase{"Null", nullptr, false, nullptr},
                                           ResolveCase{"EmptyLabel", "no..such.host", false, nullptr}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ResolveHostTest, NullOutputIsRefused)
{
    EXPECT_FALSE(ResolveHost("127.0.0.1", nullptr));
}
