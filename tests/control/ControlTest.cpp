// quillonctl's words and the control protocol as the console reads them from an
// untrusted client; the JSON text of the status; the single-instance lock.
#include <gtest/gtest.h>

#include "control/ControlCommand.h"
#include "control/ControlProtocol.h"
#include "control/InstanceLock.h"
#include "control/StatusReport.h"
#include "support/Files.h"
#include "support/TempFolder.h"

namespace {

using namespace ControlProtocol;

struct RequestRow {
    const char* Name;
    std::string Line;
    std::vector<std::string> Words; // empty: refused
};

class RequestTest : public ::testing::TestWithParam<RequestRow> {};

TEST_P(RequestTest, DecodesOnlyWellFormedRequests)
{
    std::vector<std::string> words;
    std::string error;
    const bool ok = DecodeRequest(GetParam().Line, words, error);
    EXPECT_EQ(ok, !GetParam().Words.empty()) << error;
    if (ok) {
        EXPECT_EQ(words, GetParam().Words);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RequestTest,
    ::testing::Values(
        RequestRow{"Plain", "QLNCTL/1 status --json", {"status", "--json"}},
        RequestRow{"Escapes", "QLNCTL/1 set COM3 log /tmp/a%20b%25c%0A%C3", {"set", "COM3", "log", "/tmp/a b%c\n\xC3"}},
        RequestRow{"OtherVersion", "QLNCTL/2 status", {}},
        RequestRow{"NoVersion", "status", {}},
        RequestRow{"NoCommand", "QLNCTL/1", {}},
        RequestRow{"EmptyWord", "QLNCTL/1 status  --json", {}},
        RequestRow{"TrailingBlank", "QLNCTL/1 status ", {}},
        RequestRow{"Nul", "QLNCTL/1 set COM3 log a%00b", {}},
        RequestRow{"CutEscape", "QLNCTL/1 status%2", {}},
        RequestRow{"BadEscape", "QLNCTL/1 status%zz", {}},
        RequestRow{"RawControlByte", "QLNCTL/1 sta\ttus", {}},
        RequestRow{"TooLong", "QLNCTL/1 status " + std::string(MaxRequestLine, 'x'), {}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ControlProtocolTest, WordsAndRepliesSurviveTheirEncoding)
{
    const std::vector<std::string> words{"set", "COM3", "log", "/tmp/100% sure\r\n\x7F\xC3\xA9"};
    std::string request = EncodeRequest(words);
    ASSERT_EQ(request.back(), '\n');
    request.pop_back();
    std::vector<std::string> decoded;
    std::string error;
    EXPECT_TRUE(DecodeRequest(request, decoded, error));
    EXPECT_EQ(decoded, words);

    const ControlReply reply{1, "out\n", "Add net failed!\nPort 1 is already in use.\n"};
    const std::string bytes = EncodeReply(reply);
    ControlReply got;
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_EQ(DecodeReply(bytes.substr(0, cut), got), ReplyState::Incomplete) << cut;
    ASSERT_EQ(DecodeReply(bytes, got), ReplyState::Complete);
    EXPECT_EQ(got.Code, 1);
    EXPECT_EQ(got.Out, reply.Out);
    EXPECT_EQ(got.Err, reply.Err);
    for (const std::string& bad : std::vector<std::string>{bytes + "x", "QLNCTL/1 1 99999999999 0\n", "QLNCTL/1 300 0 0\n",
                                   "QLNCTL/1 0 0\n", "QLNCTL/2 0 0 0\n", std::string(200, 'x')})
        EXPECT_EQ(DecodeReply(bad, got), ReplyState::Malformed) << bad.substr(0, 40);
}

struct CommandRow {
    const char* Name;
    std::vector<std::string> Words;
    bool Ok;
};

class CommandTest : public ::testing::TestWithParam<CommandRow> {};

TEST_P(CommandTest, ReadsTheCommandLine)
{
    EXPECT_EQ(ParseControlCommand(GetParam().Words).Ok, GetParam().Ok) << ParseControlCommand(GetParam().Words).Error;
}

INSTANTIATE_TEST_SUITE_P(Rows, CommandTest,
    ::testing::Values(
        CommandRow{"Status", {"status", "--follow", "--json"}, true},
        CommandRow{"StatusExtra", {"status", "now"}, false},
        CommandRow{"PortAddAny", {"port", "add"}, true},
        CommandRow{"PortAddForced", {"port", "add", "--force", "com5"}, true},
        CommandRow{"PortAddZero", {"port", "add", "0"}, false},
        CommandRow{"PortAddTwo", {"port", "add", "3", "4"}, false},
        CommandRow{"PortRemoveHex", {"port", "remove", "0x3"}, false},
        CommandRow{"PortRemoveHuge", {"port", "remove", "COM99999999999"}, false},
        CommandRow{"ClientOptions", {"link", "add", "COM3", "tcp-client", "h:1", "--interval", "9", "--no-reconnect"}, true},
        CommandRow{"ClientNoPort", {"link", "add", "COM3", "tcp-client", "host"}, false},
        CommandRow{"ClientIntervalMissing", {"link", "add", "COM3", "tcp-client", "h:1", "--interval"}, false},
        CommandRow{"ServerBadPortIsTheModels", {"link", "add", "COM3", "tcp-server", "30000x"}, true},
        CommandRow{"ServerOptions", {"link", "add", "COM3", "tcp-server", "1", "--rfc2217", "--listen", "::1"}, true},
        CommandRow{"ClientListen", {"link", "add", "COM3", "tcp-client", "h:1", "--listen", "::1"}, false},
        CommandRow{"UdpRfc2217", {"link", "add", "COM3", "udp", "1", "h:2", "--rfc2217"}, false},
        CommandRow{"ServerReconnectFlag", {"link", "add", "COM3", "tcp-server", "1", "--no-reconnect"}, false},
        CommandRow{"Udp", {"link", "add", "3", "udp", "1", "[::1]:2"}, true},
        CommandRow{"UdpNoRemote", {"link", "add", "3", "udp", "1"}, false},
        CommandRow{"UnknownKind", {"link", "add", "COM3", "serial", "1"}, false},
        CommandRow{"RemoveIndexZero", {"link", "remove", "COM3", "0"}, false},
        CommandRow{"Reconnect", {"link", "reconnect", "COM3", "2"}, true},
        CommandRow{"LogHex", {"set", "COM3", "log", "a.log", "--hex"}, true},
        CommandRow{"LogMissing", {"set", "COM3", "log"}, false},
        CommandRow{"DelayTwo", {"set", "COM3", "send-delay", "1", "2"}, false},
        CommandRow{"EmptyWord", {"set", "COM3", "log", ""}, false},
        CommandRow{"ServerTrust", {"link", "add", "COM3", "tcp-server", "1", "--allow", "10.0.0.0/8", "--max-clients", "4",
                                   "--tls-cert", "c.pem", "--tls-key", "k.pem", "--tls-ca", "ca.pem"}, true},
        CommandRow{"UdpAllow", {"link", "add", "COM3", "udp", "1", "h:2", "--allow", "::1"}, true},
        CommandRow{"ClientPin", {"link", "add", "COM3", "tcp-client", "h:1", "--tls", "--tls-pin", "AB"}, true},
        CommandRow{"ClientAllow", {"link", "add", "COM3", "tcp-client", "h:1", "--allow", "::1"}, false},
        CommandRow{"ClientMaxClients", {"link", "add", "COM3", "tcp-client", "h:1", "--max-clients", "2"}, false},
        CommandRow{"UdpTls", {"link", "add", "COM3", "udp", "1", "h:2", "--tls"}, false},
        CommandRow{"TlsCertMissing", {"link", "add", "COM3", "tcp-server", "1", "--tls-cert"}, false},
        CommandRow{"Unknown", {"start"}, false},
        CommandRow{"Nothing", {}, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ControlCommandTest, KeepsTextsForTheModelAndFindsTheLogFile)
{
    const ParsedCommand udp = ParseControlCommand({"link", "add", "com7", "udp", "30000x", "[fe80::1]:8"});
    ASSERT_TRUE(udp.Ok);
    EXPECT_EQ(udp.Command.Port, 7);
    EXPECT_EQ(udp.Command.Link.LocalPort, "30000x");
    EXPECT_EQ(udp.Command.Link.RemoteAddr, "fe80::1");
    EXPECT_EQ(udp.Command.Link.RemotePort, "8");

    const ParsedCommand log = ParseControlCommand({"set", "COM3", "log", "--hex", "x.log"});
    ASSERT_TRUE(log.Ok);
    EXPECT_EQ(log.Command.FileWord, 4u);
    EXPECT_TRUE(log.Command.Hex);
    // A TLS file turns TLS on, and its word is one to make absolute; the values stay
    // texts for the model's checks.
    const ParsedCommand tls = ParseControlCommand(
        {"link", "add", "COM3", "tcp-server", "1", "--tls-key", "k.pem", "--max-clients", "x", "--tls-cert", "/c.pem"});
    ASSERT_TRUE(tls.Ok);
    EXPECT_TRUE(tls.Command.Link.Tls.On);
    EXPECT_EQ(tls.Command.Link.Tls.Cert, "/c.pem");
    EXPECT_EQ(tls.Command.Link.Tls.Key, "k.pem");
    EXPECT_EQ(tls.Command.Link.MaxClients, "x");
    EXPECT_EQ(tls.Command.PathWords, (std::vector<size_t>{10, 6}));

    const ParsedCommand off = ParseControlCommand({"set", "COM3", "log", "off"});
    EXPECT_TRUE(off.Command.Value.empty());
    EXPECT_EQ(off.Command.FileWord, 0u);
}

TEST(StatusReportTest, JsonStringsAreValidWhateverTheBytes)
{
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\x7F"), "\"a\\\"b\\\\c\\u000a\\u0001\\u007f\"");
    EXPECT_EQ(JsonString("caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"");
    // A stray continuation byte, an overlong form, a surrogate, a cut sequence.
    EXPECT_EQ(JsonString("\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x82"),
              "\"\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(InstanceLockTest, OneHolderAtATimeAndTheFileGoesWithIt)
{
    qlntest::TempFolder folder;
    const std::string path = folder.File("QLN_Console.lock");
    InstanceLock first(path);
    InstanceLock second(path);
    ASSERT_EQ(first.TryTake("quillonctl"), InstanceLock::Result::Taken);
    EXPECT_EQ(InstanceLock::HolderOf(path), "quillonctl");
    EXPECT_EQ(second.Take("QuillonConsole", 0.1), InstanceLock::Result::Busy);
    first.Release();
    EXPECT_FALSE(qlntest::Exists(path));
    EXPECT_EQ(second.TryTake("QuillonConsole"), InstanceLock::Result::Taken);
    EXPECT_EQ(InstanceLock::HolderOf(path), "QuillonConsole");
    EXPECT_EQ(InstanceLock(folder.File("none/x.lock")).TryTake("x"), InstanceLock::Result::Failed);
}

} // namespace
