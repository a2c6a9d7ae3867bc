// What the window and the command line show of a link: the design's texts, with
// IPv6 addresses in brackets and a listen address only when one is set.
#include <gtest/gtest.h>

#include "console/NodeTexts.h"
#include "net/NetObject.h"

namespace {

struct TextRow {
    const char* Name;
    NetKind Kind;
    const char* RemoteAddr;
    const char* LocalAddr;
    const char* Text;
};

class LinkTextTest : public ::testing::TestWithParam<TextRow> {};

TEST_P(LinkTextTest, ShowsAddressesAsTyped)
{
    const TextRow& row = GetParam();
    CNetObject link(row.Kind);
    link.RemoteAddr = row.RemoteAddr;
    link.RemotePort = 31000;
    link.LocalAddr = row.LocalAddr;
    link.LocalPort = 30000;
    EXPECT_EQ(LinkNodeText(link), row.Text);
}

// The links are made without sockets: a server or UDP link shows as waiting for its port.
INSTANTIATE_TEST_SUITE_P(
    Rows, LinkTextTest,
    ::testing::Values(
        TextRow {"ClientIpv4", TcpClient, "127.0.0.1", "",
                 "(Unconnected) TCP Client / Remote Addr:Port 127.0.0.1:31000"},
        TextRow {"ClientIpv6", TcpClient, "::1", "", "(Unconnected) TCP Client / Remote Addr:Port [::1]:31000"},
        TextRow {"ServerEverywhere", TcpServer, "", "", "(Not listening) TCP Server / Listen Port 30000"},
        TextRow {"ServerOnLoopback", TcpServer, "", "127.0.0.1",
                 "(Not listening) TCP Server / Listen Port 127.0.0.1:30000"},
        TextRow {"UdpIpv6", Udp, "[::1]", "::1",
                 "(Not listening) UDP / Local Port [::1]:30000, Remote Addr:Port [::1]:31000"}),
    [](const auto& info) { return std::string(info.param.Name); });

// What a device server reported: every code named, unknown ones as "?", the states
// only once reported.
TEST(FarLineTextTest, NamesTheReportedLine)
{
    ReportedLine line;
    EXPECT_EQ(FarLineText(line), "not agreed");
    line.Agreed = true;
    EXPECT_EQ(FarLineText(line), "? baud ???, flow ?");
    line = {true, 9600, 7, 3, 3, 3, 8, 12, false, 0, true, 0xB0, ""};
    EXPECT_EQ(FarLineText(line), "9600 baud 7E1.5, flow hardware, DTR on, RTS off, modem state 0xb0");
}

} // namespace
