// The console without a window, driven by quillonctl, end to end through the real
// executables: ports and links made by commands carry bytes, the status reports
// them, the configuration ends as the window would have left it; the same commands
// without a console, then a start; the refusals, also of a caller of another user.
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <regex>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <sys/wait.h>

#include "ConsoleProcess.h"
#include "HeadlessFixture.h"
#include "console/ConsoleModel.h"
#include "control/ControlSocket.h"
#include "control/InstancePaths.h"
#include "platform/base/Folders.h"
#include "platform/base/Text.h"
#include "support/Application.h"
#include "support/Bytes.h"
#include "support/Loopback.h"
#include "support/ModelOnPorts.h"
#include "support/SmallDisk.h"
#include "support/TempFolder.h"
#include "support/TlsFiles.h"

using namespace qlntest;
using qlnapp::ConsoleProcess;
using qlnapp::ProgramRun;
using qlnapp::Headless;
using qlnapp::Q;

namespace {

// The window's path for the same operations: the console model in this process,
// on a configuration file of its own. Its INI text.
std::string WrittenByTheModel(const std::string& configPath, int number, const std::vector<LinkFields>& links,
                              int32_t interval, int32_t sendDelay, int32_t receiveDelay)
{
    {
        ConsoleModel model(qlntest::RealManager(), configPath);
        EXPECT_TRUE(model.Start(qlntest::OnPorts({number})));
        CPortObject* port = model.FindPort(number);
        for (const LinkFields& fields : links) {
            const ConsoleResult added = model.AddNet(port, fields);
            EXPECT_TRUE(added) << added.Message << " " << added.Reason();
            if (added && fields.Kind == NetKind::TcpClient)
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
        {NetKind::TcpClient, "127.0.0.1", std::to_string(LocalPort(listener)), ""},
        {NetKind::TcpServer, "", "", std::to_string(serverPort)},
        {NetKind::Udp, "127.0.0.1", std::to_string(LocalPort(udpPeer)), std::to_string(udpLocal), "127.0.0.1"},
    };
    Do({"link", "add", com, "tcp-client", "127.0.0.1:" + links[0].RemotePort, "--interval", "300"});
    Do({"link", "add", com, "tcp-server", links[1].LocalPort});
    Do({"link", "add", com, "udp", links[2].LocalPort, "127.0.0.1:" + links[2].RemotePort, "--listen", "127.0.0.1"});
    Do({"set", com, "send-delay", "5"});

    // `status --follow` prints the status once, then each change with its time.
    auto follow = std::make_unique<ConsoleProcess>(Folder + "quillonctl", Home.Root + "/follow.out",
                                                   qlnapp::ProcessOptions{{"status", "--follow"}, false, {}});
    auto jsonFollow = std::make_unique<ConsoleProcess>(
        Folder + "quillonctl", Home.Root + "/follow.json", qlnapp::ProcessOptions{{"status", "--follow", "--json"}, false, {}});
    auto followed = [&] { return FileText(Home.Root + "/follow.out"); };
    auto followedJson = [&] { return FileText(Home.Root + "/follow.json"); };
    ASSERT_TRUE(WaitUntil([&] { return followed().find("send delay 5 ms") != std::string::npos; }));
    ASSERT_TRUE(WaitUntil([&] { return followedJson().find("\"sendDelay\":5") != std::string::npos; }));
    Do({"set", com, "receive-delay", "7"});
    const std::regex change("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} " + com
                            + " receive delay: 7 ms \\(was 0 ms\\)\n");
    EXPECT_TRUE(WaitUntil([&] { return std::regex_search(followed(), change); })) << followed();
    EXPECT_TRUE(WaitUntil([&] {
        return followedJson().find(",\"what\":\"" + com
                                   + "\",\"name\":\"receive delay\",\"value\":\"7 ms\",\"was\":\"0 ms\"}\n")
            != std::string::npos;
    })) << followedJson();

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
    EXPECT_TRUE(WaitUntil([&] { return followed().find(" " + com + " removed: " + path + "\n") != std::string::npos; }))
        << followed();

    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
    EXPECT_EQ(follow->WaitForExit(), 0) << "--follow ends with the console";
    EXPECT_EQ(jsonFollow->WaitForExit(), 0);
    // The whole status was printed once; afterwards only what changed.
    const std::string all = followed();
    EXPECT_EQ(all.find("send delay 5 ms, receive delay"), all.rfind("send delay 5 ms, receive delay")) << all;
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

// The configuration on a disk that fills up: a command whose save fails exits 1
// with why, the file keeps what it had, the console keeps the value and the next
// save that can be written writes it.
TEST_F(Headless, ASaveOnAFullDiskFailsTheCommandAndKeepsTheFile)
{
    SmallDisk small(Home.Root + "/small", 4);
    if (!small.Mounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here";
    WriteFileText(small.File("QuillonConsole.ini"), ""); // a link to a file that exists stays
    ASSERT_EQ(symlink(small.File("QuillonConsole.ini").c_str(), (Folder + "QuillonConsole.ini").c_str()), 0);
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    std::string path;
    const std::string com = "COM" + std::to_string(AddPort(path));
    Do({"link", "add", com, "tcp-client", "192.0.2.1:7"});
    const std::string saved = Ini();

    small.Fill();
    const ProgramRun run = Ctl({"set", com, "send-delay", "78"});
    EXPECT_EQ(run.Code, 1);
    const std::string why = "Save settings failed!\n" + Folder + "QuillonConsole.ini: No space left on device.";
    EXPECT_TRUE(run.Err.starts_with(why)) << run.Err;
    EXPECT_EQ(Ini(), saved);
    EXPECT_NE(Do({"status"}).find("send delay 78 ms"), std::string::npos);
    EXPECT_NE(Output().find("error: config: cannot save [" + com + "] in " + Folder), std::string::npos) << Output();
    small.Free();
    Do({"set", com, "receive-delay", "5"});
    EXPECT_NE(Ini().find("SendToNetDelayTime=78\nReceiveFromNetDelayTime=5\n"), std::string::npos) << Ini();
}

// A runtime folder others may write into (a shared sticky folder, with another
// user's links and locked file at the console's names) is passed over with a word:
// the console's files go in a folder of its own under the state folder, and status
// says which. A state folder another user holds is refused by name.
TEST_F(Headless, TheRuntimeFilesAreInAFolderNoOtherUserCanWriteInto)
{
    const std::string shared = Home.Root + "/shared", own = Home.Root + "/state/quillon/run";
    ASSERT_TRUE(mkdir(shared.c_str(), 0) == 0 && chmod(shared.c_str(), 01777) == 0);
    setenv("XDG_RUNTIME_DIR", shared.c_str(), 1);
    for (const std::string name : {"QLN_Console", "QLN_Console.ctl"})
        ASSERT_TRUE(symlink("/nowhere", (shared + "/" + name).c_str()) == 0
                    && lchown((shared + "/" + name).c_str(), 65534, 65534) == 0);
    WriteFileText(shared + "/QLN_Console.lock", "1\nQuillonConsole\n");
    const UniqueFd planted(open((shared + "/QLN_Console.lock").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fchown(planted.Get(), 65534, 65534) == 0 && flock(planted.Get(), LOCK_EX | LOCK_NB) == 0);
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    EXPECT_TRUE(Exists(own + "/QLN_Console.ctl"));
    const std::string passed = "XDG_RUNTIME_DIR is not used: the runtime folder " + shared + " has mode 1777, not 0700.";
    EXPECT_NE(Output().find(passed + " The lock and the sockets are in " + own + "."), std::string::npos) << Output();
    EXPECT_NE(Do({"status"}).find("Runtime folder " + own + " (" + passed + ")\n"), std::string::npos);
    EXPECT_NE(Do({"status", "--json"}).find("\"runtimeFolder\":\"" + own + "\",\"runtimeFolderNote\":\"" + passed + "\""),
              std::string::npos);
    console->Signal(SIGTERM);
    ASSERT_EQ(console->WaitForExit(), 0) << Output();

    unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
    const std::string why = "The runtime folder " + own + " belongs to user 65534, not to this one.";
    EXPECT_EQ(Launch()->WaitForExit(), 1);
    EXPECT_NE(Output().find("Quillon Console: CreateMutex() failed! " + why), std::string::npos) << Output();
    const ProgramRun run = Ctl({"status"});
    EXPECT_TRUE(run.Code == 1 && run.Err.starts_with("quillonctl: " + why)) << run.Err;
}

// Idle connections to the control socket, as a monitor or a script that leaves them
// open makes: a command is answered all the same (beyond every slot once idle ones
// are dropped, after 2 s), and they are dropped.
class IdleConnections : public Headless, public ::testing::WithParamInterface<int> {};

TEST_P(IdleConnections, ACommandIsAnsweredAndTheIdleOnesAreDropped)
{
    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    sockaddr_un address {AF_UNIX, {}};
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", InstancePaths::For().Control.c_str());
    // As many as the console takes within a second (its listen queue is bounded).
    std::vector<UniqueFd> idle;
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
         static_cast<int>(idle.size()) < GetParam() && std::chrono::steady_clock::now() < until;) {
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            idle.push_back(std::move(fd));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(idle.size(), std::min<size_t>(GetParam(), 100));
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun run = Ctl({"status"});
    EXPECT_TRUE(run.Code == 0 && run.Out == "No ports.\nRuntime folder " + InstancePaths::For().Folder + "\n") << run.Err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8)) << idle.size() << " idle";
    char byte;
    EXPECT_TRUE(WaitUntil([&] { return read(idle.front().Get(), &byte, 1) == 0; }, 5)) << "the first one stays";
}

INSTANTIATE_TEST_SUITE_P(Counts, IdleConnections, ::testing::Values(16, 300),
                         [](const auto& info) { return "Idle" + std::to_string(info.param); });

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
        // Values that would break the configuration's lines, or beyond their bounds.
        {{"set", com, "log", Home.Root + "/a.log\nx"}, 1,
         "Set log file failed!\nThe log file's name must be one line, without a line break or a NUL character.\n"},
        {{"set", com, "log", "/" + std::string(2047, 'a')}, 1,
         "Set log file failed!\nThe log file's name has 2048 characters; the configuration file keeps at most 2046.\n"},
        {{"link", "add", com, "tcp-server", "7", "--allow", std::string(2030, ' ') + "10.0.0.0/8,192.168.100.0/24"}, 1,
         "Allow List error!\nThe allow list has 2057 characters; the configuration file keeps at most 2046.\n"},
        {{"link", "add", com, "udp", "7", "127.0.0.1:1", "--allow", "127.0.0.1,10.0.0.5/8"}, 1,
         "Allow List error!\n10.0.0.5/8: host bits set; 10.0.0.0/8?\n"},
        {{"link", "add", com, "tcp-client", "127.0.0.1:1", "--tls", "--tls-ca", "/" + std::string(2100, 'c')}, 1,
         "TLS error!\nThe CA file's name has 2101 characters; the configuration file keeps at most 2046.\n"},
        {{"set", com, "send-delay", "-5"}, 1,
         "Set send to net delay time failed!\nA delay is a number of milliseconds from 0 up; -5 is negative.\n"},
        {{"set", com, "receive-delay", "-0x10"}, 1, "Set receive from net delay time failed!\nA delay is"},
        {{"link", "add", com, "tcp-client", "h\nx:7000"}, 1, "Remote Address error!\nThe remote address must be one"},
        {{"link", "add", com, "tcp-client", ":7000"}, 1,
         "Remote Address error!\nEnter the remote host: a name or an address.\n"},
        {{"link", "add", com, "tcp-client", "a host:7000"}, 1, "Remote Address error!\nA host name or address has no blanks.\n"},
        {{"link", "add", com, "tcp-client", std::string(10000, 'a') + ":7000"}, 1,
         "Remote Address error!\nA host name has at most 253 characters; this one has 10000.\n"},
        // The window's check of the log file, with its words; the name is kept.
        {{"set", com, "log", "/no/such/folder/x.log"}, 1,
         "Open log file failed!\n/no/such/folder/x.log cannot be appended to: No such file or directory."},
        {{"link", "add", com}, 2, "quillonctl: the link kinds are"},
        {{"set", com, "speed", "9600"}, 2, "quillonctl: set takes"},
    };
    for (const Row& row : rows) {
        const ProgramRun run = Ctl(row.Args);
        EXPECT_EQ(run.Code, row.Code) << row.Args[0] << " " << row.Args.back() << ": " << run.Err;
        EXPECT_TRUE(run.Err.starts_with(row.Err)) << run.Err;
    }
    EXPECT_EQ(Do({"status"}).find("#1"), std::string::npos) << "a refused link is not left behind";
    EXPECT_NE(Ini().find("LogFilename=/no/such/folder/x.log\n"), std::string::npos) << Ini();
    EXPECT_EQ(Ini().find("a.log"), std::string::npos) << Ini();

    EXPECT_EQ(Launch()->WaitForExit(), 1) << Output();
    const std::string second = "Quillon Console: Another console is running. Its lock is " + InstancePaths::For().Lock;
    EXPECT_NE(Output().find(second), std::string::npos) << Output();

    // A process of another user reaches the socket (it keeps root's file access) and
    // is turned away by its credentials.
    const std::string control = InstancePaths::For().Control;
    const pid_t child = fork();
    if (child == 0) {
        if (setresuid(65534, 65534, 0) != 0)
            _exit(3);
        setfsuid(0);
        ControlReply reply;
        const ExchangeResult result = ExchangeWithConsole(control, {"port", "remove", com}, reply, 10).Result;
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
