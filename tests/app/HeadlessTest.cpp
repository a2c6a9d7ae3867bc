// The console without a window, driven by quillonctl, end to end through the real
// executables: ports and links made by commands carry bytes, the status reports
// them, the configuration ends as the window would have left it; the same commands
// without a console, then a start; the refusals, also of a caller of another user.
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/fsuid.h>
#include <sys/wait.h>

#include "ConsoleProcess.h"
#include "console/ConsoleModel.h"
#include "control/ControlSocket.h"
#include "control/InstancePaths.h"
#include "platform/base/Folders.h"
#include "platform/base/Text.h"
#include "support/Application.h"
#include "support/Bytes.h"
#include "support/Loopback.h"
#include "support/TempFolder.h"
#include "support/TlsFiles.h"

using namespace qlntest;
using qlnapp::ConsoleProcess;
using qlnapp::ProgramRun;

namespace {

// Flattens a JSON document into "ports.0.links.1.state" = "\"listening\"" lines,
// with a parser that is not ours.
const char* const FlattenJson = R"(import json, sys
def walk(path, value):
    if isinstance(value, dict):
        for key, item in value.items(): walk(path + [key], item)
    elif isinstance(value, list):
        for index, item in enumerate(value): walk(path + [str(index)], item)
    else:
        print('.'.join(path) + '=' + json.dumps(value))
walk([], json.load(open(sys.argv[1])))
)";

class Headless : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TMPDIR", (Home.Root + "/runtime").c_str(), 1);
        Folder = Home.Root + "/console/";
        ASSERT_TRUE(MakeFolders(Folder));
        for (const char* name : {"QuillonConsole", "quillonctl", "Quillon.inf", "quillon-window.so"})
            ASSERT_TRUE(qlnapp::CopyFile(ExecutableFolder() + name, Folder + name)) << name << " is missing";
    }
    void TearDown() override { PortDriver::Instance().DetachAll(); }

    ProgramRun Ctl(const std::vector<std::string>& args)
    {
        return qlnapp::RunProgram(Folder + "quillonctl", args, Home.Root + "/ctl" + std::to_string(++Runs));
    }
    // Runs a command that must succeed; its standard output.
    std::string Do(const std::vector<std::string>& args)
    {
        const ProgramRun run = Ctl(args);
        EXPECT_EQ(run.Code, 0) << args[0] << " " << args[1] << ": " << run.Err << Output();
        return run.Out;
    }
    // `--headless`, or a plain start with no display at all.
    std::unique_ptr<ConsoleProcess> Launch(bool plainStart = false)
    {
        qlnapp::ProcessOptions options;
        options.NoDisplay = true;
        if (!plainStart)
            options.Args = {"--headless"};
        auto process = std::make_unique<ConsoleProcess>(Folder + "QuillonConsole", Home.Root + "/console.out", options);
        EXPECT_TRUE(process->Started());
        return process;
    }
    bool Running() { return Ctl({"status", "--json"}).Out.find("\"running\":true") != std::string::npos; }
    std::string Output() const { return FileText(Home.Root + "/console.out"); }
    std::string Ini() const { return FileText(Folder + "QuillonConsole.ini"); }

    // "COM<n> <path>": the number, and the path in `path`.
    int AddPort(std::string& path)
    {
        const std::string out = Do({"port", "add"});
        const size_t blank = out.find(' ');
        if (!out.starts_with("COM") || blank == std::string::npos)
            return 0;
        path = out.substr(blank + 1, out.size() - blank - 2);
        return std::stoi(out.substr(3, blank - 3));
    }

    // Every field of `status --json`, flattened.
    std::map<std::string, std::string> Status()
    {
        const std::string json = Home.Root + "/status.json";
        WriteFileText(json, Do({"status", "--json"}));
        const ProgramRun run = qlnapp::RunProgram("/usr/bin/env", {"python3", "-c", FlattenJson, json}, json);
        EXPECT_EQ(run.Code, 0) << run.Err;
        std::map<std::string, std::string> fields;
        ForEachLine(run.Out, [&](std::string_view line) {
            const size_t eq = line.find('=');
            fields[std::string(line.substr(0, eq))] = line.substr(eq + 1);
        });
        return fields;
    }

    TempHome Home;
    std::string Folder;
    int Runs = 0;
};

std::string Q(const std::string& text)
{
    return "\"" + text + "\"";
}

// The window's path for the same operations: the console model in this process,
// on a configuration file of its own. Its INI text.
std::string WrittenByTheModel(const std::string& configPath, int number, const std::vector<LinkFields>& links,
                              int32_t interval, int32_t sendDelay, int32_t receiveDelay)
{
    {
        ConsoleModel model([] { return std::make_unique<CQLNManager>(nullptr, ExecutableFolder() + "Quillon.inf"); },
                           configPath);
        EXPECT_TRUE(model.Start([number](CQLNManager& manager) { return manager.StartOnPorts({number}); }));
        CPortObject* port = model.FindPort(number);
        for (const LinkFields& fields : links) {
            const ConsoleResult added = model.AddNet(port, fields);
            EXPECT_TRUE(added) << added.Message << " " << added.Reason;
            if (added && fields.Kind == TcpClient)
                model.SetReconnectIntervalTime(port, added.Link, interval);
        }
        model.SetSendToNetDelayTime(port, sendDelay);
        model.SetReceiveFromNetDelayTime(port, receiveDelay);
    }
    PortDriver::Instance().DetachAll();
    return FileText(configPath);
}

TEST_F(Headless, CommandsBuildABridgeThatCarriesBytesAndSavesAsTheWindow)
{
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    std::string path;
    const int number = AddPort(path);
    ASSERT_GT(number, 0);
    const std::string com = "COM" + std::to_string(number);

    const UniqueFd listener = Listen();
    const uint16_t serverPort = FreePort();
    const UniqueFd udpPeer = BindUdp();
    const uint16_t udpLocal = FreePort(SOCK_DGRAM);
    const std::vector<LinkFields> links{
        {TcpClient, "127.0.0.1", std::to_string(LocalPort(listener)), ""},
        {TcpServer, "", "", std::to_string(serverPort)},
        {Udp, "127.0.0.1", std::to_string(LocalPort(udpPeer)), std::to_string(udpLocal), "127.0.0.1"},
    };
    Do({"link", "add", com, "tcp-client", "127.0.0.1:" + links[0].RemotePort, "--interval", "300"});
    Do({"link", "add", com, "tcp-server", links[1].LocalPort});
    Do({"link", "add", com, "udp", links[2].LocalPort, "127.0.0.1:" + links[2].RemotePort, "--listen", "127.0.0.1"});
    Do({"set", com, "send-delay", "5"});

    // `status --follow` sees the next change.
    auto follow = std::make_unique<ConsoleProcess>(Folder + "quillonctl", Home.Root + "/follow.out",
                                                   qlnapp::ProcessOptions{{"status", "--follow"}, false, {}});
    auto followed = [&] { return FileText(Home.Root + "/follow.out"); };
    ASSERT_TRUE(WaitUntil([&] { return followed().find("send delay 5 ms") != std::string::npos; }));
    Do({"set", com, "receive-delay", "7"});
    EXPECT_TRUE(WaitUntil([&] { return followed().find("receive delay 7 ms") != std::string::npos; })) << followed();

    const UniqueFd clientPeer = AcceptWithin(listener);
    UniqueFd serverPeer;
    ASSERT_TRUE(WaitUntil([&] { return (serverPeer = ConnectTo(serverPort)).Valid(); }));
    App app(path);
    ASSERT_TRUE(app.Ok() && clientPeer) << Output();
    const sockaddr_in udpLink = Loopback(udpLocal);
    const std::vector<uint8_t> fromApp = Pattern(3000, 1);
    size_t size = 100;
    for (int peer : {clientPeer.Get(), serverPeer.Get(), udpPeer.Get()}) {
        const std::vector<uint8_t> data = Pattern(size, static_cast<uint32_t>(size));
        if (peer == udpPeer.Get())
            ASSERT_EQ(sendto(peer, data.data(), size, 0, reinterpret_cast<const sockaddr*>(&udpLink), sizeof udpLink),
                      static_cast<ssize_t>(size));
        else
            ASSERT_TRUE(SendAll(peer, data));
        ASSERT_EQ(app.ReadExactly(size), data);
        size += 100;
    }
    ASSERT_TRUE(app.WriteAll(fromApp));
    for (int peer : {clientPeer.Get(), serverPeer.Get(), udpPeer.Get()})
        EXPECT_EQ(RecvExactly(peer, fromApp.size()), fromApp);

    std::map<std::string, std::string> status;
    const std::map<std::string, std::string> expected{
        {"running", "true"},
        {"ports.0.name", Q(com)},
        {"ports.0.path", Q(path)},
        {"ports.0.heldByApplication", "true"},
        {"ports.0.sendDelay", "5"},
        {"ports.0.receiveDelay", "7"},
        {"ports.0.bytesToApplication", "600"},
        {"ports.0.bytesFromApplication", "3000"},
        {"ports.0.links.0.kind", Q("tcp-client")},
        {"ports.0.links.0.state", Q("connected")},
        {"ports.0.links.0.reconnectInterval", "300"},
        {"ports.0.links.0.bytesReceived", "100"},
        {"ports.0.links.0.bytesSent", "3000"},
        {"ports.0.links.1.kind", Q("tcp-server")},
        {"ports.0.links.1.state", Q("listening")},
        {"ports.0.links.1.clients.0", Q("127.0.0.1:" + std::to_string(LocalPort(serverPeer)))},
        {"ports.0.links.1.bytesReceived", "200"},
        {"ports.0.links.1.bytesSent", "3000"},
        {"ports.0.links.2.kind", Q("udp")},
        {"ports.0.links.2.localPort", links[2].LocalPort},
        {"ports.0.links.2.localAddress", Q("127.0.0.1")},
        {"ports.0.links.2.bytesReceived", "300"},
        {"ports.0.links.2.bytesSent", "3000"},
    };
    auto mismatches = [&] {
        std::string out;
        for (const auto& [key, value] : expected) {
            if (status[key] != value)
                out += key + " is " + status[key] + ", not " + value + "\n";
        }
        return out;
    };
    EXPECT_TRUE(WaitUntil([&] { return status = Status(), mismatches().empty(); })) << mismatches();

    const std::string saved = Ini();
    app.Close();
    for (const char* index : {"3", "1", "1"})
        Do({"link", "remove", com, index});
    Do({"port", "remove", std::to_string(number)});
    EXPECT_EQ(Ini().find("[" + com + "]"), std::string::npos) << Ini();
    EXPECT_FALSE(Exists(path));

    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
    EXPECT_EQ(follow->WaitForExit(), 0) << "--follow ends with the console";
    EXPECT_EQ(saved, WrittenByTheModel(Home.Root + "/window.ini", number, links, 300, 5, 7));
}

TEST_F(Headless, CommandsWithoutAConsoleComeUpAtItsStartWithoutADisplay)
{
    std::string path;
    const int number = AddPort(path);
    ASSERT_GT(number, 0);
    const std::string com = "COM" + std::to_string(number);
    const UniqueFd listener = Listen();
    const uint16_t serverPort = FreePort();
    Do({"link", "add", com, "tcp-client", "127.0.0.1:" + std::to_string(LocalPort(listener))});
    Do({"link", "add", com, "tcp-server", std::to_string(serverPort)});
    EXPECT_NE(Do({"status"}).find("No console is running"), std::string::npos);
    EXPECT_FALSE(Exists(path)) << "the command's own console has stopped";
    const std::string saved = Ini();
    EXPECT_NE(saved.find("Net2LocalPort=" + std::to_string(serverPort)), std::string::npos) << saved;

    // The commands' own consoles connected for a moment; those connections are over.
    while (AcceptWithin(listener, 0.2)) {
    }
    auto console = Launch(true);
    const UniqueFd clientPeer = AcceptWithin(listener);
    UniqueFd serverPeer;
    ASSERT_TRUE(WaitUntil([&] { return (serverPeer = ConnectTo(serverPort)).Valid(); })) << Output();
    ASSERT_TRUE(clientPeer);
    // The window's module lies beside it, yet nothing of the widgets or of X is mapped.
    const std::string maps = FileText("/proc/" + std::to_string(console->ProcessId()) + "/maps");
    for (const char* library : {"quillon-window", "libQt6Widgets", "libQt6Gui", "libX11", "libxcb"})
        EXPECT_EQ(maps.find(library), std::string::npos) << library;
    App app(path);
    ASSERT_TRUE(app.Ok());
    const std::vector<uint8_t> data = Pattern(1000, 3);
    ASSERT_TRUE(SendAll(serverPeer, data));
    EXPECT_EQ(app.ReadExactly(data.size()), data);
    ASSERT_TRUE(app.WriteAll(data));
    EXPECT_EQ(RecvExactly(clientPeer, data.size()), data);

    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
    EXPECT_EQ(Ini(), saved);
}

// The allow list and TLS from the command line: TLS files named relative to the
// caller's folder reach the console whole; a peer turned away, the certificate the
// link shows and its settings come back in `status --json`, and the INI keeps them.
TEST_F(Headless, TrustSettingsFromTheCommandLineShowInTheStatus)
{
    const TlsFiles& files = TlsFiles::Get();
    ASSERT_TRUE(files.Made) << files.Why;
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    std::string path;
    const std::string com = "COM" + std::to_string(AddPort(path));
    const std::string certs = Home.Root + "/certs";
    ASSERT_TRUE(MakeFolders(certs));
    ASSERT_TRUE(qlnapp::CopyFile(files.Server.Cert, certs + "/server.pem"));
    ASSERT_TRUE(qlnapp::CopyFile(files.Server.Key, certs + "/server.key"));
    const uint16_t port = FreePort();
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(certs.c_str()), 0);
    const ProgramRun added = Ctl({"link", "add", com, "tcp-server", std::to_string(port), "--allow", "127.0.0.2",
                                  "--max-clients", "3", "--tls-cert", "server.pem", "--tls-key", "server.key"});
    ASSERT_EQ(chdir(here), 0);
    ASSERT_EQ(added.Code, 0) << added.Err;

    const UniqueFd outsider = ConnectTo(port);
    std::map<std::string, std::string> fields;
    EXPECT_TRUE(WaitUntil([&] { return (fields = Status())["ports.0.links.0.refused"] == "1"; }));
    EXPECT_EQ(fields["ports.0.links.0.lastRefused.address"], Q("127.0.0.1:" + std::to_string(LocalPort(outsider))));
    EXPECT_EQ(fields["ports.0.links.0.lastRefused.why"], Q("not in the allow list"));
    EXPECT_EQ(fields["ports.0.links.0.allow"], Q("127.0.0.2"));
    EXPECT_EQ(fields["ports.0.links.0.maxClients"], "3");
    EXPECT_EQ(fields["ports.0.links.0.tls.cert"], Q(certs + "/server.pem"));
    EXPECT_EQ(fields["ports.0.links.0.tls.fingerprint"], Q(files.Server.Pin));
    EXPECT_NE(Ini().find("Net1TlsKey=" + certs + "/server.key\n"), std::string::npos) << Ini();
    EXPECT_NE(Do({"status"}).find("refused 1, last 127.0.0.1:"), std::string::npos);
}

TEST_F(Headless, RefusalsCarryTheWindowsMessagesAndExitCodes)
{
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    std::string path;
    const int number = AddPort(path);
    const std::string com = "COM" + std::to_string(number);
    App app(path);
    ASSERT_TRUE(app.Ok());
    const UniqueFd taken = Listen();
    const std::string inUse = std::to_string(LocalPort(taken));

    struct Row {
        std::vector<std::string> Args;
        int Code;
        std::string Err;
    };
    const std::vector<Row> rows{
        {{"port", "add"}, 1, com + " is opened! Before adding any port, please close all opened quillons!\n"},
        {{"link", "add", com, "tcp-server", inUse}, 1, "Add net failed!\nPort " + inUse + " is already in use.\n"},
        {{"link", "add", com, "tcp-server", "30000x"}, 1, "Listen Port error!\n"},
        {{"link", "add", com, "tcp-server", "0"}, 1, "Listen Port error!\n"},
        {{"link", "add", com, "udp", "65536", "127.0.0.1:1"}, 1, "Local Port error!\n"},
        {{"link", "add", com, "tcp-client", "127.0.0.1:1", "--interval", "5s"}, 1, "Set reconnect interval time failed!\n"},
        {{"link", "remove", com, "1"}, 1, "No such link.\n"},
        {{"port", "remove", com}, 1, "Before removing the port, please close it first!\n"},
        {{"link", "add", com}, 2, "quillonctl: the link kinds are"},
        {{"set", com, "speed", "9600"}, 2, "quillonctl: set takes"},
    };
    for (const Row& row : rows) {
        const ProgramRun run = Ctl(row.Args);
        EXPECT_EQ(run.Code, row.Code) << row.Args[0] << " " << row.Args.back() << ": " << run.Err;
        EXPECT_TRUE(run.Err.starts_with(row.Err)) << run.Err;
    }
    EXPECT_EQ(Do({"status"}).find("#1"), std::string::npos) << "a refused link is not left behind";

    EXPECT_EQ(Launch()->WaitForExit(), 1) << Output();
    EXPECT_NE(Output().find("Quillon Console: Another console is running.\n"), std::string::npos) << Output();

    // A process of another user reaches the socket (it keeps root's file access) and
    // is turned away by its credentials.
    const std::string control = InstancePaths::For().Control;
    const pid_t child = fork();
    if (child == 0) {
        if (setresuid(65534, 65534, 0) != 0)
            _exit(3);
        setfsuid(0);
        ControlReply reply;
        std::string why;
        const ExchangeResult result = ExchangeWithConsole(control, {"port", "remove", com}, reply, why, 10);
        _exit(result == ExchangeResult::Answered && reply.Code == 1
                      && reply.Err.find("only its own user") != std::string::npos
                  ? 0
                  : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(Exists(path));

    console->Signal(SIGINT);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
}

} // namespace
