// What the real executables tell: the event lines of a headless console (start,
// stop, the configuration loaded, saved and failing), as standard error and the
// journal get them and as `quillonctl events` shows them; and how both programs
// take their command lines.
#include <chrono>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

#include "ConsoleProcess.h"
#include "HeadlessFixture.h"
#include "platform/config/AtomicFile.h"
#include "support/Application.h"
#include "support/Loopback.h"
#include "support/ParamName.h"

using namespace qlntest;
using qlnapp::Headless;
using qlnapp::ProgramRun;
using qlnapp::RunProgram;
using qlnapp::ConsoleProcess;

namespace {

// "2026-12-07 17:30:01.123 info: " in front of every line.
bool EveryLineIsAnEvent(const std::string& text)
{
    static const std::regex Line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (error|warning|notice|info|debug): .+)");
    bool all = !text.empty();
    ForEachLine(text, [&](std::string_view line) { all = all && std::regex_match(std::string(line), Line); });
    return all;
}

TEST_F(Headless, EventLinesTellTheStartTheSettingsAndTheStop)
{
    const std::string ini = Folder + "QuillonConsole.ini";
    auto has = [this](const std::string& text) { return Output().find(text) != std::string::npos; };

    // No file yet; a change saves it; a file that cannot be replaced is an error.
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    std::string path;
    const std::string com = "COM" + std::to_string(AddPort(path));
    Do({"set", com, "send-delay", "5"});
    const std::string saved = Ini();
    ASSERT_EQ(unlink(ini.c_str()), 0);
    ASSERT_TRUE(MakeFolders(ini));
    Ctl({"set", com, "send-delay", "6"}); // whether the command says so is not the point here
    const std::vector<std::string> lines{
        "notice: console: started without a window (version ",
        "info: config: " + ini + " does not exist yet; every port starts with its defaults\n",
        "info: config: saved [" + com + "] in " + ini + "\n",
        "error: config: cannot save [" + com + "] in " + ini + ": read: Is a directory\n",
    };
    for (const std::string& line : lines)
        EXPECT_TRUE(WaitUntil([&] { return has(line); })) << line << "\nnot in\n" << Output();
    const ProgramRun events = Ctl({"events"});
    EXPECT_EQ(events.Code, 0) << events.Err;
    EXPECT_TRUE(EveryLineIsAnEvent(events.Out)) << events.Out;
    for (const std::string& line : lines)
        EXPECT_NE(events.Out.find(line), std::string::npos) << line;
    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
    EXPECT_TRUE(has(" notice: console: stopped (SIGTERM)\n")) << Output();

    // Under systemd the lines carry the journal's priorities instead of time and level.
    ASSERT_EQ(rmdir(ini.c_str()), 0);
    ASSERT_EQ(ReplaceFileAtomically(ini, saved).Text(), "");
    setenv("JOURNAL_STREAM", "8:12345", 1);
    console = Launch();
    unsetenv("JOURNAL_STREAM");
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    console->Signal(SIGINT);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
    for (const std::string& line : {"<6>config: loaded " + ini + ": 1 port, 0 links\n",
                                    std::string("<5>console: started without a window"),
                                    std::string("<5>console: stopped (SIGINT)\n")})
        EXPECT_TRUE(has(line)) << line << "\nnot in\n" << Output();

    // --quiet keeps warnings and errors only.
    ASSERT_EQ(unlink(ini.c_str()), 0);
    ASSERT_TRUE(MakeFolders(ini));
    const size_t before = Output().size();
    console = Launch(false, {"--quiet"});
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
    const std::string quiet = Output().substr(before);
    EXPECT_TRUE(EveryLineIsAnEvent(quiet)) << quiet;
    EXPECT_NE(quiet.find(" warning: config: cannot read " + ini + ": Is a directory;"), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find("notice:"), std::string::npos) << quiet;
}

// The links and the port tell what happens to them, each link by its port, its place
// and its label: a port added and removed; links listening, failing and closed; a
// server's clients connecting and leaving by FIN, reset, TLS close_notify or the
// console; a TLS client that never finished its handshake refused and never
// connected; a log that cannot be opened; an application taking and leaving the
// port; and a follower of the events sees the console's last line.
TEST_F(Headless, EventLinesTellWhatHappensToLinksAndPorts)
{
    auto has = [this](const std::string& text) { return Output().find(text) != std::string::npos; };
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    const std::string follow = Home.Root + "/follow.out";
    ConsoleProcess follower(Folder + "quillonctl", follow, {{"events", "--follow"}, false, Home.Root + "/follow.err"});
    std::string path;
    const std::string com = "COM" + std::to_string(AddPort(path));
    // A certificate of this test's own: TlsFiles would live in this test's TMPDIR.
    const std::string cert = Home.Root + "/server.pem", key = Home.Root + "/server.key";
    ASSERT_EQ(RunProgram("/usr/bin/openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                              "-nodes", "-days", "2", "-subj", "/CN=localhost", "-keyout", key, "-out", cert},
                         Home.Root + "/req").Code, 0);
    const uint16_t listen = FreePort(), secure = FreePort(), closed = FreePort();
    const std::string to = "127.0.0.1:" + std::to_string(closed);
    Do({"link", "add", com, "tcp-server", std::to_string(listen), "--listen", "127.0.0.1"});
    Do({"link", "add", com, "tcp-client", to, "--no-reconnect"});
    Do({"link", "add", com, "tcp-client", to, "--no-reconnect"});
    Do({"link", "add", com, "tcp-server", std::to_string(secure), "--listen", "127.0.0.1", "--tls", "--tls-cert", cert,
        "--tls-key", key});
    // A TLS client link of this console to that server, pinned to its certificate.
    const ProgramRun print = RunProgram("/usr/bin/openssl", {"x509", "-in", cert, "-noout", "-fingerprint", "-sha256"},
                                        Home.Root + "/fingerprint");
    const std::string pin = print.Out.substr(print.Out.find('=') + 1, 95);
    const std::string secureTo = "127.0.0.1:" + std::to_string(secure);
    Do({"link", "add", com, "tcp-client", secureTo, "--tls", "--tls-pin", pin, "--no-reconnect"});
    const std::string server = com + " #1 tcp-server 127.0.0.1:" + std::to_string(listen) + ": ";
    const std::string tlsServer = com + " #4 tcp-server 127.0.0.1:" + std::to_string(secure) + ": ";
    auto client = [&](UniqueFd& peer) { return "client 127.0.0.1:" + std::to_string(LocalPort(peer)); };

    // A client that closes, one that resets, one still there when its link goes.
    UniqueFd fin = ConnectTo(listen), reset = ConnectTo(listen), stays = ConnectTo(listen);
    const std::string byFin = client(fin), byReset = client(reset), byConsole = client(stays);
    ASSERT_TRUE(WaitUntil([&] { return has(server + byConsole + " connected\n"); })) << Output();
    fin = UniqueFd();
    const linger abrupt {1, 0};
    ASSERT_EQ(setsockopt(reset.Get(), SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt), 0);
    reset = UniqueFd();
    ASSERT_TRUE(WaitUntil([&] { return has(server + byReset + " left"); })) << Output();
    // A TLS client that ends its session in order, and one that never shakes hands.
    const ProgramRun clean = RunProgram("/usr/bin/openssl",
        {"s_client", "-connect", "127.0.0.1:" + std::to_string(secure)}, Home.Root + "/s_client");
    UniqueFd plain = ConnectTo(secure);
    const std::string noHandshake = client(plain);
    ASSERT_TRUE(SendAll(plain, std::vector<uint8_t>(64, 'x')));
    ASSERT_TRUE(WaitUntil([&] { return has(tlsServer + "refused " + noHandshake.substr(7)); })) << Output();
    const std::string log = Home.Root + "/missing/traffic.log";
    EXPECT_EQ(Ctl({"set", com, "log", log}).Code, 1);
    // The status names links as the events do, and a log that cannot be opened is
    // stopped from the start; a listening link changed state when it began to listen.
    std::map<std::string, std::string> status = Status();
    EXPECT_EQ(status["ports.0.log.stopped"], "true");
    EXPECT_EQ(status["ports.0.links.2.name"], qlnapp::Q(com + " #3 tcp-client " + to));
    EXPECT_NE(status["ports.0.links.0.lastChange"], "0");
    Do({"link", "remove", com, "1"});
    {
        App application(path);
        EXPECT_TRUE(WaitUntil([&] { return has("info: " + com + ": an application opened the port\n"); })) << Output();
    }
    EXPECT_TRUE(WaitUntil([&] { return has("info: " + com + ": the application closed the port\n"); })) << Output();
    Do({"port", "remove", com});

    const std::vector<std::string> lines{
        "info: " + com + ": added\n",
        "info: " + server + "listening\n",
        "warning: " + com + " #2 tcp-client " + to + ": connect to " + to + " failed: Connection refused\n",
        "warning: " + com + " #3 tcp-client " + to + ": connect to " + to + " failed: Connection refused\n",
        "info: " + server + byFin + " connected\n",
        "info: " + server + byFin + " left: closed by the peer\n",
        "info: " + server + byReset + " left: Connection reset by peer\n",
        "info: " + server + byConsole + " closed by the console\n",
        "info: " + tlsServer + "client 127.0.0.1:",
        " left: TLS close_notify\n",
        "notice: " + tlsServer + "refused " + noHandshake.substr(7) + ": ",
        "error: " + com + ": log " + log + " stopped: open: No such file or directory;",
        "info: " + com + " #5 tcp-client " + secureTo + ": connected to " + secureTo + "\n",
        "info: " + com + ": removed\n",
    };
    for (const std::string& line : lines)
        EXPECT_TRUE(WaitUntil([&] { return has(line); })) << line << "\nnot in\n" << Output();
    EXPECT_FALSE(has(tlsServer + noHandshake + " connected")) << Output();
    // The orderly TLS client was connected once its handshake was done, and left.
    const size_t up = Output().find(tlsServer + "client 127.0.0.1:");
    ASSERT_NE(up, std::string::npos);
    EXPECT_NE(Output().find(" connected\n", up), std::string::npos) << clean.Out << clean.Err;
    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
    EXPECT_EQ(follower.WaitForExit(), 0);
    EXPECT_TRUE(FileText(follow).ends_with(" notice: console: stopped (SIGTERM)\n")) << FileText(follow);
}

// A thousand connects from outside a server link's allow list: each is counted in the
// figures, but the event log writes at most 10 lines a second about the link and
// counts the rest in its "N more events" lines.
TEST_F(Headless, RefusedConnectsAreCountedAndTheirLinesRateLimited)
{
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    std::string path;
    const std::string com = "COM" + std::to_string(AddPort(path));
    const uint16_t listen = FreePort();
    Do({"link", "add", com, "tcp-server", std::to_string(listen), "--listen", "127.0.0.1", "--allow", "127.0.0.2"});
    const std::string server = com + " #1 tcp-server 127.0.0.1:" + std::to_string(listen) + ": ";
    ASSERT_TRUE(WaitUntil([&] { return Output().find(server + "listening\n") != std::string::npos; })) << Output();

    constexpr int Connects = 1000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Connects; ++i)
        ConnectTo(listen);
    EXPECT_TRUE(WaitUntil([&] { return Status()["ports.0.links.0.refused"] == std::to_string(Connects); }, 60));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Every refusal is a line or part of a count once the last second's count is out.
    int written = 0;
    long long counted = 0;
    EXPECT_TRUE(WaitUntil([&] {
        written = 0;
        counted = 0;
        ForEachLine(Output(), [&](std::string_view line) {
            if (line.find(server + "refused 127.0.0.1:") != std::string_view::npos)
                ++written;
            else if (const size_t at = line.find(server); at != std::string_view::npos && line.ends_with(" more events in one second"))
                counted += std::stoll(std::string(line.substr(at + server.size())));
        });
        return written + counted == Connects;
    }, 10)) << written << " written, " << counted << " counted";
    EXPECT_LE(written, 10 * (static_cast<int>(seconds) + 2)) << "in " << seconds << " s";
    EXPECT_NE(Output().find("notice: " + server + "refused 127.0.0.1:"), std::string::npos);
    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
}

// A window started while a console without one runs cannot bring a window forward:
// it says so, naming quillonctl, and ends.
TEST_F(Headless, AWindowStartedBesideAHeadlessConsoleSaysSo)
{
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    const ProgramRun window = qlnapp::RunProgram(Folder + "QuillonConsole", {}, Home.Root + "/window");
    EXPECT_EQ(window.Code, 1) << window.Err;
    EXPECT_NE(window.Err.find("Quillon Console: Another console is running without a window. Use quillonctl"),
              std::string::npos)
        << window.Err;
    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
}

struct UsageRow {
    std::string Name;
    std::string Program;
    std::vector<std::string> Args;
    int Code;
    std::string Out; // what standard output starts with
    std::string Err; // what standard error starts with
};

class UsageTest : public ::testing::TestWithParam<UsageRow> {
protected:
    TempHome Home; // no console runs here
};

TEST_P(UsageTest, ExitCodesAndWords)
{
    const UsageRow& row = GetParam();
    const ProgramRun run = qlnapp::RunProgram(ExecutableFolder() + row.Program, row.Args, Home.Root + "/run", 30);
    EXPECT_EQ(run.Code, row.Code) << run.Out << run.Err;
    EXPECT_TRUE(run.Out.starts_with(row.Out)) << run.Out;
    EXPECT_TRUE(run.Err.starts_with(row.Err)) << run.Err;
    // A refusal of the command line shows the usage after its reason.
    if (row.Code == 2) {
        EXPECT_NE(run.Err.find("\nusage: " + row.Program + " "), std::string::npos) << run.Err;
    }
}

const std::string Console = "QuillonConsole";
const std::string Ctl = "quillonctl";

INSTANTIATE_TEST_SUITE_P(Rows, UsageTest,
    ::testing::Values(
        UsageRow{"ConsoleVersion", Console, {"--version"}, 0, "QuillonConsole " QLN_TEST_VERSION "\n", ""},
        UsageRow{"ConsoleHelp", Console, {"--help"}, 0, "usage: QuillonConsole [--headless] [--quiet | --verbose]\n", ""},
        UsageRow{"ConsoleUnknownOption", Console, {"--headles"}, 2, "", "QuillonConsole: unknown option: --headles\n"},
        UsageRow{"ConsoleArgument", Console, {"--headless", "COM1"}, 2, "", "QuillonConsole: unexpected argument: COM1\n"},
        UsageRow{"ConsoleQuietAndVerbose", Console, {"--quiet", "--verbose"}, 2, "", "QuillonConsole: --quiet and"},
        UsageRow{"CtlVersion", Ctl, {"--version"}, 0, "quillonctl " QLN_TEST_VERSION "\n", ""},
        UsageRow{"CtlHelp", Ctl, {"--help"}, 0, "usage: quillonctl status", ""},
        UsageRow{"CtlNothing", Ctl, {}, 2, "", "quillonctl: a command is needed\n"},
        UsageRow{"CtlUnknownOption", Ctl, {"--verbose"}, 2, "", "quillonctl: unknown option: --verbose\n"},
        UsageRow{"CtlUnknownOptionOfACommand", Ctl, {"port", "add", "--now"}, 2, "", "quillonctl: unknown option: --now\n"},
        UsageRow{"CtlUnknownCommand", Ctl, {"start"}, 2, "", "quillonctl: unknown command: start\n"},
        UsageRow{"CtlEventsExtra", Ctl, {"events", "all"}, 2, "", "quillonctl: events takes --follow only\n"},
        UsageRow{"CtlEventsWithoutConsole", Ctl, {"events"}, 1, "", "quillonctl: No console is running.\n"},
        UsageRow{"CtlFollowWithoutConsole", Ctl, {"status", "--follow"}, 1, "", "quillonctl: No console is running.\n"},
        UsageRow{"CtlMonitorWithoutConsole", Ctl, {"monitor", "COM1"}, 1, "", "quillonctl: No console is running.\n"},
        UsageRow{"CtlReloadWithoutConsole", Ctl, {"reload"}, 1, "", "quillonctl: No console is running.\n"},
        UsageRow{"CtlMonitorHexAndText", Ctl, {"monitor", "COM1", "--text", "--hex"}, 2, "",
                 "quillonctl: monitor takes --hex or --text, not both\n"},
        UsageRow{"CtlMonitorNoPort", Ctl, {"monitor"}, 2, "", "quillonctl: monitor takes one COM port\n"},
        UsageRow{"CtlReloadExtra", Ctl, {"reload", "now"}, 2, "", "quillonctl: reload takes no arguments\n"}),
    [](const auto& info) { return info.param.Name; });

} // namespace
