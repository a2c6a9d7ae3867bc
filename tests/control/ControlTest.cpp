// quillonctl's words and the control protocol as the console reads them from an
// untrusted client; the JSON text of the status; the single-instance lock.
#include <functional>
#include <filesystem>
#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "control/ControlCommand.h"
#include "control/ControlProtocol.h"
#include "control/InstanceLock.h"
#include "control/InstancePaths.h"
#include "control/JsonWriter.h"
#include "control/StatusChanges.h"
#include "control/StatusReport.h"
#include "platform/base/EventLog.h"
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
        CommandRow{"UnknownOption", {"status", "--all"}, false},
        CommandRow{"Events", {"events", "--follow"}, true},
        CommandRow{"EventsAfter", {"events", "--after", "12"}, true},
        CommandRow{"EventsAfterWord", {"events", "--after", "-1"}, false},
        CommandRow{"LogTimestamps", {"set", "COM3", "log", "--timestamps", "a.log", "--hex"}, true},
        CommandRow{"Monitor", {"monitor", "com3", "--text"}, true},
        CommandRow{"MonitorHexAndText", {"monitor", "COM3", "--hex", "--text"}, false},
        CommandRow{"MonitorNoPort", {"monitor", "--hex"}, false},
        CommandRow{"MonitorTwoPorts", {"monitor", "COM3", "COM4"}, false},
        CommandRow{"Reload", {"reload"}, true},
        CommandRow{"ReloadExtra", {"reload", "now"}, false},
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

// A monitor's stream, read as it comes (cut anywhere), and what no console sends.
TEST(ControlProtocolTest, AMonitorsStreamSurvivesItsEncoding)
{
    TrafficRecord in {1796651405120, true, "tcp-server 7000 127.0.0.1:50412", {'R', ' ', 0, '\n', 0xFF}};
    TrafficRecord out {1796651405121, false, "", std::vector<uint8_t>(ChunkLimit, 'x')};
    const std::string stream = EncodeReply({0, {}, {}}) + EncodeRecord(in) + EncodeMissed(12) + EncodeRecord(out)
        + EncodeEnd("COM3 was\nremoved.");
    ControlReply reply;
    size_t at = 0;
    ASSERT_EQ(DecodeReplyPrefix(stream, reply, at), ReplyState::Complete);
    EXPECT_EQ(reply.Code, 0);
    std::vector<StreamItem> items;
    std::string pending;
    for (size_t cut = at; cut < stream.size(); cut += 997) {
        pending += stream.substr(cut, 997);
        StreamItem item;
        size_t used = 0;
        while (DecodeStreamItem(pending, item, used) == ReplyState::Complete) {
            items.push_back(item);
            pending.erase(0, used);
        }
    }
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].Record.Time, in.Time);
    EXPECT_TRUE(items[0].Record.Inbound);
    EXPECT_EQ(items[0].Record.Where, in.Where);
    EXPECT_EQ(items[0].Record.Bytes, in.Bytes);
    EXPECT_EQ(items[1].What, StreamItem::Kind::Missed);
    EXPECT_EQ(items[1].Missed, 12u);
    EXPECT_FALSE(items[2].Record.Inbound);
    EXPECT_EQ(items[2].Record.Bytes, out.Bytes);
    EXPECT_EQ(items[3].What, StreamItem::Kind::End);
    EXPECT_EQ(items[3].Words, "COM3 was removed.");
    for (const std::string& bad : std::vector<std::string>{"R 1 X 0 1\na", "R 1 I 0 65537\n", "R 1 I 4097 0\n",
                                                           "R x I 0 1\na", "M\n", "Q 1\n", std::string(200, 'R')}) {
        StreamItem item;
        size_t used = 0;
        EXPECT_EQ(DecodeStreamItem(bad, item, used), ReplyState::Malformed) << bad.substr(0, 20);
    }
}

// ---------------------------------------------------------------- status --follow

constexpr int64_t SeenAt = 1796651405120;

// COM3 with a TCP client link that is connecting and a TCP server link.
ConsoleStatus TwoLinks()
{
    ConsoleStatus status;
    ConsoleStatus::Port& port = status.Ports.emplace_back();
    port.Number = 3;
    port.LinkPath = "/s/dev/COM3";
    ConsoleStatus::Link& client = port.Links.emplace_back();
    client.Kind = NetKind::TcpClient;
    client.State = LinkState::Connecting;
    client.AutoReconnect = true;
    client.ReconnectIntervalTime = 5000;
    client.NodeText = "(Connecting) TCP Client / Remote Addr:Port 127.0.0.1:7000";
    ConsoleStatus::Link& server = port.Links.emplace_back();
    server.Kind = NetKind::TcpServer;
    server.NodeText = "(0) TCP Server / Listen Port 7001";
    return status;
}

struct ChangeRow {
    const char* Name;
    std::function<void(ConsoleStatus&)> Change;
    bool Json;
    std::vector<std::string> Lines; // text lines without the time in front
};

class StatusChangesTest : public ::testing::TestWithParam<ChangeRow> {};

TEST_P(StatusChangesTest, PrintsOnlyWhatChanged)
{
    ConsoleStatus after = TwoLinks();
    GetParam().Change(after);
    std::string expected;
    for (const std::string& line : GetParam().Lines)
        expected += (GetParam().Json ? "" : EventLog::TimeText(SeenAt) + " ") + line + "\n";
    EXPECT_EQ(StatusChanges(StatusFacts(TwoLinks()), StatusFacts(after), SeenAt, GetParam().Json), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, StatusChangesTest,
    ::testing::Values(
        ChangeRow{"Nothing", [](ConsoleStatus&) {}, false, {}},
        ChangeRow{"State", [](ConsoleStatus& s) { s.Ports[0].Links[0].State = LinkState::Connected; }, false,
                  {"COM3 #1 state: connected (was connecting)"}},
        ChangeRow{"StateAsJson", [](ConsoleStatus& s) { s.Ports[0].Links[0].State = LinkState::Connected; }, true,
                  {"{\"time\":1796651405120,\"what\":\"COM3 #1\",\"name\":\"state\",\"value\":\"connected\","
                   "\"was\":\"connecting\"}"}},
        ChangeRow{"PastFailure",
                  [](ConsoleStatus& s) {
                      s.Ports[0].Links[0].LastError = "Connection refused";
                      s.Ports[0].Links[0].LastErrorTime = SeenAt - 1000;
                      s.Ports[0].Links[0].LastErrorPast = true;
                  },
                  false,
                  {"COM3 #1 last failure: Connection refused (past) (was none)"}},
        ChangeRow{"PortOption", [](ConsoleStatus& s) { s.Ports[0].SendToNetDelayTime = 5; }, false,
                  {"COM3 send delay: 5 ms (was 0 ms)"}},
        ChangeRow{"LinkAdded",
                  [](ConsoleStatus& s) {
                      s.Ports[0].Links.emplace_back().Kind = NetKind::Udp;
                      s.Ports[0].Links.back().NodeText = "UDP / Local Port 7002, Remote Addr:Port 127.0.0.1:7003";
                  },
                  false, {"COM3 #3 added: UDP / Local Port 7002, Remote Addr:Port 127.0.0.1:7003"}},
        ChangeRow{"FirstLinkRemoved", [](ConsoleStatus& s) { s.Ports[0].Links.erase(s.Ports[0].Links.begin()); }, false,
                  {"COM3 #2 removed: TCP Server / Listen Port 7001",
                   "COM3 #1: TCP Server / Listen Port 7001 (was TCP Client / Remote Addr:Port 127.0.0.1:7000)",
                   "COM3 #1 state: listening (was connecting)", "COM3 #1 clients: none"}},
        ChangeRow{"PortRemoved", [](ConsoleStatus& s) { s.Ports.clear(); }, false,
                  {"COM3 removed: /s/dev/COM3", "COM3 #1 removed: TCP Client / Remote Addr:Port 127.0.0.1:7000",
                   "COM3 #2 removed: TCP Server / Listen Port 7001"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(StatusReportTest, JsonStringsAreValidWhateverTheBytes)
{
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\x7F"), "\"a\\\"b\\\\c\\u000a\\u0001\\u007f\"");
    EXPECT_EQ(JsonString("caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"");
    // A stray continuation byte, an overlong form, a surrogate, a cut sequence.
    EXPECT_EQ(JsonString("\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x82"),
              "\"\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

// A stopped traffic log shows in both forms of the status, with why and since when.
TEST(StatusReportTest, AStoppedLogSaysWhySinceWhenAndWhatWasLost)
{
    ConsoleStatus status;
    ConsoleStatus::Port& port = status.Ports.emplace_back();
    port.Number = 3;
    port.LogFilename = "/full/com3.log";
    port.LogStopped = true;
    port.LogStoppedReason = "No space left on device";
    port.LogStoppedSince = static_cast<int64_t>(::time(nullptr)) * 1000;
    port.LogRecordsLost = 12;
    const std::string text = StatusText(status, true);
    EXPECT_NE(text.find("log /full/com3.log\n  log stopped: No space left on device (since "), std::string::npos)
        << text;
    EXPECT_NE(text.find("), 12 records lost\n"), std::string::npos) << text;
    EXPECT_NE(StatusJson(status, true).find("\"log\":{\"file\":\"/full/com3.log\",\"hex\":false,\"timestamps\":false,\"stopped\":true,"
                                             "\"stoppedReason\":\"No space left on device\",\"stoppedSince\":"
                                             + std::to_string(port.LogStoppedSince) + ",\"recordsLost\":12}"),
              std::string::npos);
}

// Which folder holds the lock and the sockets, and why XDG_RUNTIME_DIR was passed over.
TEST(StatusReportTest, TheRuntimeFolderIsSaid)
{
    InstancePaths where;
    where.Folder = "/home/ann/.local/state/quillon/run";
    where.Passed = "XDG_RUNTIME_DIR is not used: the runtime folder /tmp has mode 1777, not 0700.";
    const std::string text = StatusText(ConsoleStatus {}, true, where);
    EXPECT_TRUE(text.ends_with("No ports.\nRuntime folder " + where.Folder + " (" + where.Passed + ")\n")) << text;
    EXPECT_NE(StatusJson(ConsoleStatus {}, true, where)
                  .find("\"runtimeFolder\":\"" + where.Folder + "\",\"runtimeFolderNote\":\"" + where.Passed + "\""),
              std::string::npos);
    where.Passed.clear();
    EXPECT_TRUE(StatusText(ConsoleStatus {}, false, where).ends_with("\nRuntime folder " + where.Folder + "\n"));
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

    // A lock file another user made (in a folder others may write into) is neither
    // taken nor a console: it is a failure that says whose it is.
    second.Release();
    qlntest::WriteFileText(path, "1\nQuillonConsole\n");
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    InstanceLock planted(path);
    EXPECT_EQ(planted.TryTake("QuillonConsole"), InstanceLock::Result::Failed);
    EXPECT_EQ(planted.Problem().Reason(), path + " belongs to user 65534, not to this one.");
}

// ---------------------------------------------------------------- the runtime folder

struct RuntimeRow {
    const char* Name;
    bool Xdg;              // XDG_RUNTIME_DIR names the folder made; else it is unset
    const char* Made;      // "" none, "dir" a folder, "file", "link" a link to a folder
    unsigned Mode;         // of the folder made
    uid_t Owner;
    size_t Length;         // of the folder's path (its name padded); 0: as it comes
    bool Used;             // the folder made is the one used (else: $XDG_STATE_HOME/quillon/run)
    std::string Problem;   // "{F}": the folder used
    std::string Passed;    // "{X}": the folder XDG_RUNTIME_DIR names
};

void PrintTo(const RuntimeRow& row, std::ostream* out)
{
    *out << row.Name;
}

class RuntimeFolderTest : public ::testing::TestWithParam<RuntimeRow> {};

TEST_P(RuntimeFolderTest, IsAFolderNoOtherUserCanWriteInto)
{
    const RuntimeRow& row = GetParam();
    qlntest::TempHome home;
    const std::string state = home.Root + "/state/quillon/run";
    std::string folder = row.Xdg ? home.Root + "/xdg" : state;
    if (row.Length > folder.size())
        folder += std::string(row.Length - folder.size(), 'x');
    row.Xdg ? setenv("XDG_RUNTIME_DIR", folder.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
    const std::string made = row.Made;
    std::filesystem::create_directories(home.Root + "/state/quillon");
    if (made == "dir" || made == "link")
        mkdir((folder + (made == "link" ? ".real" : "")).c_str(), 0700);
    if (made == "link")
        (void)!symlink((folder + ".real").c_str(), folder.c_str());
    if (made == "file")
        qlntest::WriteFileText(folder, "x");
    if (made == "dir")
        (void)!(chmod(folder.c_str(), row.Mode) + chown(folder.c_str(), row.Owner, row.Owner));

    const InstancePaths paths = InstancePaths::For();
    const std::string used = row.Used ? folder : state;
    EXPECT_EQ(paths.Folder, used);
    const bool fits = used.size() + std::string("/QLN_Console.ctl").size() <= 107;
    EXPECT_EQ(paths.Lock, used + (fits ? "/QLN_Console.lock" : "/q.lock"));
    EXPECT_EQ(paths.Control, used + (fits ? "/QLN_Console.ctl" : "/q.ctl"));
    auto fill = [&](std::string text) {
        for (const auto& [mark, with] : {std::pair<std::string, std::string>{"{F}", used}, {"{X}", folder}})
            if (const size_t at = text.find(mark); at != std::string::npos)
                text.replace(at, 3, with);
        return text;
    };
    EXPECT_EQ(paths.Problem, fill(row.Problem));
    EXPECT_EQ(paths.Passed, fill(row.Passed));
    struct stat st {};
    const bool privateFolder = lstat(used.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 07777) == 0700;
    EXPECT_TRUE(privateFolder || !paths.Problem.empty());
}

const std::string NotOwn = "The runtime folder {F} is not a folder of its own (a symbolic link or a file).";
const std::string Passed = "XDG_RUNTIME_DIR is not used: the runtime folder {X} ";

INSTANTIATE_TEST_SUITE_P(
    Rows, RuntimeFolderTest,
    ::testing::Values(
        RuntimeRow{"StateFolderIsMadePrivate", false, "", 0, 0, 0, false, "", ""},
        RuntimeRow{"StateFolderLeftOpenIsTightened", false, "dir", 0755, 0, 0, true, "", ""},
        RuntimeRow{"StateFolderThatIsALink", false, "link", 0, 0, 0, true, NotOwn, ""},
        RuntimeRow{"StateFolderThatIsAFile", false, "file", 0, 0, 0, true, NotOwn, ""},
        RuntimeRow{"StateFolderOfAnotherUser", false, "dir", 0700, 65534, 0, true,
                   "The runtime folder {F} belongs to user 65534, not to this one.", ""},
        RuntimeRow{"Private", true, "dir", 0700, 0, 0, true, "", ""},
        RuntimeRow{"WritableByOthers", true, "dir", 0777, 0, 0, false, "", Passed + "has mode 0777, not 0700."},
        RuntimeRow{"StickyAndShared", true, "dir", 01777, 0, 0, false, "", Passed + "has mode 1777, not 0700."},
        RuntimeRow{"ReadableByTheGroup", true, "dir", 0750, 0, 0, false, "", Passed + "has mode 0750, not 0700."},
        RuntimeRow{"OfAnotherUser", true, "dir", 0700, 65534, 0, false, "",
                   Passed + "belongs to user 65534, not to this one."},
        RuntimeRow{"ALink", true, "link", 0, 0, 0, false, "", Passed + "is not a folder of its own (a symbolic link or a file)."},
        RuntimeRow{"Missing", true, "", 0, 0, 0, false, "", Passed + "cannot be used: No such file or directory."},
        RuntimeRow{"LongPathTakesShortNames", true, "dir", 0700, 0, 92, true, "", ""},
        RuntimeRow{"LongestPathForShortNames", true, "dir", 0700, 0, 101, true, "", ""},
        RuntimeRow{"PathTooLongForASocket", true, "dir", 0700, 0, 102, true,
                   "The runtime folder {F} has too long a path for a local socket (102 bytes; at most 101).", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
