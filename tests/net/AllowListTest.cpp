// The allow list: what a user may write, the words for what is wrong, and which
// peers each list takes.
#include "net/AllowList.h"

#include <gtest/gtest.h>

namespace {

struct ListCase {
    const char* Name;
    const char* Text;
    const char* Why;                 // empty: the list is good
    std::vector<const char*> Taken;  // peers it takes
    std::vector<const char*> Others; // peers it does not
    std::vector<std::string> HostBits {}; // the entries with host bits set, as said
};

class AllowListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(AllowListTest, ParsesWithoutNamesAndTakesExactlyItsPeers)
{
    const ListCase& row = GetParam();
    AllowList list;
    std::vector<std::string> hostBits;
    const std::string why = AllowList::Parse(row.Text, list, &hostBits).Reason();
    ASSERT_EQ(why.empty(), std::string(row.Why).empty()) << why;
    EXPECT_EQ(why, row.Why);
    EXPECT_EQ(hostBits, row.HostBits);
    auto takes = [&](const char* peer) {
        NetAddress address;
        EXPECT_TRUE(NetAddress::FromNumeric(peer, address)) << peer;
        return list.Allows(address);
    };
    for (const char* peer : row.Taken)
        EXPECT_TRUE(takes(peer)) << peer;
    for (const char* peer : row.Others)
        EXPECT_FALSE(takes(peer)) << peer;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, AllowListTest,
    ::testing::Values(
        ListCase {"NoListTakesEveryone", "", "", {"192.0.2.7", "::1"}, {}},
        ListCase {"AddressesAndRangesOfBothFamilies", " 127.0.0.2 , 10.0.0.0/8,::1/128,fd00::/8",
                  "",
                  {"127.0.0.2", "10.255.0.1", "::1", "fd12::5", "::ffff:10.1.2.3"},
                  {"127.0.0.1", "11.0.0.1", "::2", "fe00::1", "::ffff:127.0.0.1"}},
        // Host bits set: matched as the network, and said with the form meant.
        ListCase {"RangeWithHostBitsSet", "192.168.1.77/26", "", {"192.168.1.64", "192.168.1.127"},
                  {"192.168.1.128", "192.168.1.63"}, {"192.168.1.77/26: host bits set; 192.168.1.64/26?"}},
        ListCase {"HostBitsOfBothFamilies", "10.0.0.5/8, 10.0.0.0/8, [2001:db8::1]/32, fd00::/8, 127.0.0.1/32", "",
                  {"10.200.0.1", "2001:db8:1::9"}, {"11.0.0.5", "2001:db9::1"},
                  {"10.0.0.5/8: host bits set; 10.0.0.0/8?", "[2001:db8::1]/32: host bits set; [2001:db8::]/32?"}},
        ListCase {"HostBitsOfAMappedRange", "::ffff:10.0.0.5/104", "", {"10.9.9.9"}, {"11.0.0.0"},
                  {"::ffff:10.0.0.5/104: host bits set; ::ffff:10.0.0.0/104?"}},
        ListCase {"EveryIpv4Address", "0.0.0.0/0", "", {"203.0.113.9"}, {"2001:db8::1"}},
        ListCase {"MappedRangeMeansIpv4", "::ffff:10.0.0.0/104", "", {"10.9.9.9", "::ffff:10.9.9.9"}, {"11.0.0.0"}},
        ListCase {"Ipv6InBrackets", "[2001:db8::]/32", "", {"2001:db8:ffff::1"}, {"2001:db9::1"}},
        ListCase {"Ipv4PrefixTooLong", "10.0.0.0/33", "10.0.0.0/33: prefix longer than 32", {}, {}},
        ListCase {"Ipv6PrefixTooLong", "::/129", "::/129: prefix longer than 128", {}, {}},
        ListCase {"Name", "localhost", "localhost: not an IPv4 or IPv6 address", {}, {}},
        ListCase {"ShortIpv4Form", "127.1", "127.1: not an IPv4 or IPv6 address", {}, {}},
        ListCase {"EmptyPrefix", "10.0.0.0/", "10.0.0.0/: the prefix length is not a number", {}, {}},
        ListCase {"SignedPrefix", "10.0.0.0/+8", "10.0.0.0/+8: the prefix length is not a number", {}, {}},
        ListCase {"ScopedAddress", "fe80::1%eth0", "fe80::1%eth0: not an IPv4 or IPv6 address", {}, {}},
        ListCase {"TrailingComma", "10.0.0.1,", "an empty entry", {}, {}}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
