// What the window and the command line show of a link: the console's texts, with
// IPv6 addresses in brackets and a listen address only when one is set.
#include <gtest/gtest.h>

#include <memory>

#include "console/NodeTexts.h"
#include "links/TcpClientLink.h"
#include "links/TcpServerLink.h"
#include "links/UdpLink.h"
#include "support/QuietPortSide.h"

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
    qlntest::QuietPortSide port;
    const LinkOptions options {row.LocalAddr, false};
    std::unique_ptr<CNetObject> link;
    switch (row.Kind) {
    case NetKind::TcpClient:
        link = std::make_unique<TcpClientLink>(port, row.RemoteAddr, 31000, options);
        break;
    case NetKind::TcpServer:
        link = std::make_unique<TcpServerLink>(port, 30000, options);
        break;
    case NetKind::Udp:
        link = std::make_unique<UdpLink>(port, 30000, row.RemoteAddr, 31000, options);
        break;
    }
    EXPECT_EQ(LinkNodeText(*link), row.Text);
}

// The links are made without sockets: a server or UDP link shows as waiting for its port.
INSTANTIATE_TEST_SUITE_P(
    Rows, LinkTextTest,
    ::testing::Values(
        TextRow {"ClientIpv4", NetKind::TcpClient, "127.0.0.1", "",
                 "(Unconnected) TCP Client / Remote Addr:Port 127.0.0.1:31000"},
        TextRow {"ClientIpv6", NetKind::TcpClient, "::1", "", "(Unconnected) TCP Client / Remote Addr:Port [::1]:31000"},
        TextRow {"ServerEverywhere", NetKind::TcpServer, "", "", "(Not listening) TCP Server / Listen Port 30000"},
        TextRow {"ServerOnLoopback", NetKind::TcpServer, "", "127.0.0.1",
                 "(Not listening) TCP Server / Listen Port 127.0.0.1:30000"},
        TextRow {"UdpIpv6", NetKind::Udp, "[::1]", "::1",
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
    EXPECT_EQ(FarLineText(line), "9600 baud 7E1.5, flow hardware, DTR on, RTS off, modem state 0xb0 (CTS DSR CD)");
}

} // namespace
