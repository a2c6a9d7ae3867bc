// Host texts to addresses and back, and which addresses a link may listen on.
#include "net/LocalAddress.h"
#include "net/NetAddress.h"
#include "net/ResolveHost.h"
#include "support/Loopback.h"
#include "support/ParamName.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
    const char* Host;
    bool Numeric;
    const char* Shown; // ToText with port 7; "" when not numeric
};

class NumericHostTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(NumericHostTest, ReadsWithoutAskingAndShowsIPv6InBrackets)
{
    const TextCase& c = GetParam();
    NetAddress address;
    ASSERT_EQ(NetAddress::FromNumeric(c.Host, address), c.Numeric);
    if (!c.Numeric)
        return;
    address.SetPort(7);
    EXPECT_EQ(address.Port(), 7);
    EXPECT_EQ(address.ToText(), c.Shown);
    // An IPv4 address keeps its meaning through a dual-stack socket and back.
    EXPECT_EQ(address.Mapped().Unmapped().ToText(), c.Shown);
}

INSTANTIATE_TEST_SUITE_P(Hosts, NumericHostTest,
                         ::testing::Values(TextCase {"127.0.0.1", true, "127.0.0.1:7"},
                                           TextCase {"127.1", true, "127.0.0.1:7"},
                                           TextCase {"::1", true, "[::1]:7"},
                                           TextCase {"[::1]", true, "[::1]:7"},
                                           TextCase {"localhost", false, ""},
                                           TextCase {"[::1", false, ""},
                                           TextCase {"", false, ""}),
                         [](const auto& info) { return qlntest::ValueName(info.param.Host); });

TEST(HostPortTextTest, OnlyIpv6GetsBrackets)
{
    EXPECT_EQ(HostPortText("::1", 5), "[::1]:5");
    EXPECT_EQ(HostPortText("[::1]", 5), "[::1]:5");
    EXPECT_EQ(HostPortText("example.test", 5), "example.test:5");
    EXPECT_EQ(HostPortText("", 5), ":5");
}

TEST(LookUpHostTest, Ipv4AddressesComeFirst)
{
    const std::vector<NetAddress> found = LookUpHost("localhost");
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().Family(), AF_INET);
    const std::vector<NetAddress> v6 = LookUpHost("[::1]");
    ASSERT_EQ(v6.size(), 1u);
    EXPECT_EQ(v6.front().Family(), AF_INET6);
}

struct LocalCase {
    const char* Text;
    const char* Problem; // "" when it may be listened on
    bool NeedsIpv6;
};

class LocalAddressTest : public ::testing::TestWithParam<LocalCase> {};

TEST_P(LocalAddressTest, OnlyNumericAddressesOfThisMachine)
{
    const LocalCase& c = GetParam();
    if (c.NeedsIpv6 && !qlntest::HasIpv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    EXPECT_EQ(LocalAddressProblem(c.Text), c.Problem);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, LocalAddressTest,
    ::testing::Values(LocalCase {"127.0.0.1", "", false}, LocalCase {"0.0.0.0", "", false},
                      LocalCase {"::1", "", true}, LocalCase {"[::1]", "", true}, LocalCase {"::", "", true},
                      LocalCase {"203.0.113.7", "203.0.113.7 is not an address of this machine.", false},
                      LocalCase {"localhost", "\"localhost\" is not a numeric address (such as 127.0.0.1 or ::1).",
                                 false}),
    [](const auto& info) { return qlntest::ValueName(info.param.Text); });

} // namespace
