// The running console watched and reloaded through the real executables:
// `quillonctl monitor` seeing every byte of a mebibyte in order and ending with its
// port, a monitor client that never reads holding nothing up, and SIGHUP and
// `quillonctl reload` reading the configuration again.
#include <gtest/gtest.h>
#include <cstring>
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

#include "ConsoleProcess.h"
#include "HeadlessFixture.h"
#include "control/ControlProtocol.h"
#include "control/InstancePaths.h"
#include "platform/config/AtomicFile.h"
#include "support/Application.h"
#include "support/Bytes.h"
#include "support/Loopback.h"

using namespace qlntest;
using qlnapp::ConsoleProcess;
using qlnapp::Headless;
using qlnapp::ProgramRun;

namespace {

class MonitorAndReload : public Headless {
protected:
    // A console with COM<n>, whose path goes to `Path`, and a TCP server link.
    void SetUpConsole()
    {
        Console = Launch();
        ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
        Com = "COM" + std::to_string(AddPort(Path));
        Do({"link", "add", Com, "tcp-server", std::to_string(Server)});
    }

    std::unique_ptr<ConsoleProcess> Console;
    std::string Com;
    std::string Path;
    uint16_t Server = FreePort();
};

// The bytes of the records of one direction, read back from `monitor --hex`'s lines.
std::vector<uint8_t> Bytes(const std::string& out, char direction, std::string& where, size_t& missed)
{
    static const std::regex Header(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ([IO]) (\d+) (from|to) (.*))");
    std::vector<uint8_t> bytes;
    bool taking = false;
    ForEachLine(out, [&](std::string_view view) {
        const std::string line(view);
        std::smatch match;
        if (line.find(" -- ") != std::string::npos && line.find(" missed") != std::string::npos) {
            ++missed;
        } else if (std::regex_match(line, match, Header)) {
            taking = match[1] == std::string(1, direction);
            if (taking)
                where = match[4];
        } else if (taking && line.starts_with("  ")) {
            for (size_t at = 2; at + 1 < line.size(); at += 3)
                bytes.push_back(static_cast<uint8_t>(std::stoi(line.substr(at, 2), nullptr, 16)));
        }
    });
    return bytes;
}

TEST_F(MonitorAndReload, AMonitorSeesEveryByteOfAMebibyteInOrderAndEndsWithItsPort)
{
    SetUpConsole();
    const ProgramRun missing = Ctl({"monitor", "COM99"});
    EXPECT_EQ(missing.Code, 1);
    EXPECT_EQ(missing.Err, "No such port.\nCOM99 is not a port of this console.\n");

    const std::string out = Home.Root + "/monitor.out", err = Home.Root + "/monitor.err";
    ConsoleProcess monitor(Folder + "quillonctl", out, {{"monitor", Com, "--hex"}, false, err});
    auto app = std::make_unique<App>(Path);
    const UniqueFd peer = ConnectTo(Server);
    // The monitor is watching once a first record shows.
    size_t dots = 0;
    ASSERT_TRUE(WaitUntil([&] {
        dots += SendAll(peer, {'.'}) ? 1 : 0;
        return FileText(out).find(" from ") != std::string::npos;
    })) << FileText(err) << Output();
    ASSERT_EQ(app->ReadExactly(dots), std::vector<uint8_t>(dots, '.'));

    const std::vector<uint8_t> in = Pattern(1 << 20, 3), sent = Pattern(4096, 4);
    std::thread sender([&] { EXPECT_TRUE(SendAll(peer, in, 60)); });
    EXPECT_EQ(app->ReadExactly(in.size(), 60), in);
    sender.join();
    ASSERT_TRUE(app->WriteAll(sent));
    ASSERT_EQ(RecvExactly(peer, sent.size()), sent);
    std::string from, to;
    size_t missed = 0;
    ASSERT_TRUE(WaitUntil([&] { return Bytes(FileText(out), 'O', to, missed).size() == sent.size(); }, 30));
    std::vector<uint8_t> seen = Bytes(FileText(out), 'I', from, missed);
    ASSERT_FALSE(seen.empty());
    seen.erase(seen.begin(), seen.begin() + static_cast<long>(seen.size() - in.size())); // the dots before
    EXPECT_TRUE(seen == in) << "the monitor's bytes in are not the bytes sent, in order";
    EXPECT_EQ(missed, 0u);
    EXPECT_EQ(from, Com + " #1 tcp-server " + std::to_string(Server) + " 127.0.0.1:" + std::to_string(LocalPort(peer)));
    EXPECT_EQ(to, from);

    // The port goes: the monitor says so and ends.
    app.reset();
    Do({"port", "remove", Com});
    EXPECT_EQ(monitor.WaitForExit(), 0);
    EXPECT_EQ(FileText(err), "quillonctl: " + Com + " was removed.\n");
    Console->Signal(SIGTERM);
    EXPECT_EQ(Console->WaitForExit(), 0) << Output();
}

// A client that asks for a monitor and never reads: the port goes on at full speed,
// the console answers others, and the client is told what it missed once it reads.
TEST_F(MonitorAndReload, AMonitorThatNeverReadsHoldsNothingUp)
{
    SetUpConsole();
    const UniqueFd stalled(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string control = InstancePaths::For().Control;
    std::memcpy(address.sun_path, control.c_str(), control.size() + 1);
    ASSERT_EQ(connect(stalled.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::string request = ControlProtocol::EncodeRequest({"monitor", Com});
    ASSERT_EQ(send(stalled.Get(), request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    int small = 4096;
    setsockopt(stalled.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

    App app(Path);
    const UniqueFd peer = ConnectTo(Server);
    ASSERT_TRUE(WaitUntil([&] { return Do({"status"}).find("client 127.0.0.1:") != std::string::npos; }));
    const std::vector<uint8_t> out = Pattern(16 << 20, 5);
    std::thread writer([&] { EXPECT_TRUE(app.WriteAll(out, 60)); });
    EXPECT_EQ(RecvExactly(peer, out.size(), 60), out);
    writer.join();
    EXPECT_NE(Do({"status"}).find(std::to_string(out.size()) + " from it"), std::string::npos);

    // Read at last: the reply, records, then the count of what was missed.
    std::string stream;
    ControlProtocol::StreamItem item;
    size_t at = 0;
    uint64_t missed = 0;
    ControlReply reply;
    ASSERT_TRUE(WaitUntil([&] {
        char buffer[65536];
        const ssize_t n = recv(stalled.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            stream.append(buffer, static_cast<size_t>(n));
        if (at == 0 && ControlProtocol::DecodeReplyPrefix(stream, reply, at) != ControlProtocol::ReplyState::Complete)
            return false;
        size_t used = 0;
        while (ControlProtocol::DecodeStreamItem(std::string_view(stream).substr(at), item, used)
               == ControlProtocol::ReplyState::Complete) {
            at += used;
            if (item.What == ControlProtocol::StreamItem::Kind::Missed)
                missed += item.Missed;
        }
        return missed > 0;
    }, 30));
    EXPECT_EQ(reply.Code, 0);
    Console->Signal(SIGTERM);
    EXPECT_EQ(Console->WaitForExit(), 0) << Output();
}

// SIGHUP reads the configuration again and the console runs on; so does `reload`,
// which prints what changed.
TEST_F(MonitorAndReload, SighupAndReloadReadTheConfigurationAgain)
{
    SetUpConsole();
    const UniqueFd client = ConnectTo(Server);
    const uint16_t added = FreePort();
    const std::string ini = Ini();
    ASSERT_EQ(ReplaceFileAtomically(Folder + "QuillonConsole.ini",
                                    std::regex_replace(ini, std::regex("NetCount=1\n"), "NetCount=2\n")
                                        + "Net2Type=2\nNet2LocalPort=" + std::to_string(added) + "\n").Text(), "");
    Console->Signal(SIGHUP);
    EXPECT_TRUE(WaitUntil([&] { return Output().find(" notice: config: reloaded ") != std::string::npos; })) << Output();
    EXPECT_NE(Output().find("info: config: " + Com + " #2 tcp-server " + std::to_string(added) + " added\n"),
              std::string::npos)
        << Output();
    EXPECT_TRUE(ConnectTo(added).Valid());

    ASSERT_EQ(ReplaceFileAtomically(Folder + "QuillonConsole.ini",
                                    std::regex_replace(ini, std::regex("SendToNetDelayTime=0"), "SendToNetDelayTime=9")).Text(), "");
    const ProgramRun reload = Ctl({"reload"});
    EXPECT_EQ(reload.Code, 0) << reload.Err;
    EXPECT_EQ(reload.Out, Com + ": send delay 9 ms (was 0 ms)\n" + Com + " #2 tcp-server " + std::to_string(added)
                              + " removed\nreloaded " + Folder + "QuillonConsole.ini: 0 links added, 0 changed, "
                              "1 removed, 1 kept; 1 option changed\n");
    // The kept link's client stayed connected throughout.
    const std::string status = Do({"status"});
    EXPECT_NE(status.find("client 127.0.0.1:" + std::to_string(LocalPort(client))), std::string::npos) << status;
    EXPECT_TRUE(Console->Running());
    Console->Signal(SIGTERM);
    EXPECT_EQ(Console->WaitForExit(), 0) << Output();
}

// The check, the start and the reload read the file alike and say the same lines;
// the check applies nothing, and the reload applies the rest and exits with 1.
TEST_F(MonitorAndReload, TheCheckTheStartAndTheReloadSayTheSameProblems)
{
    SetUpConsole();
    const std::string ini = Folder + "QuillonConsole.ini";
    const std::string added = std::to_string(FreePort());
    ASSERT_EQ(ReplaceFileAtomically(ini, "[" + Com + "]\nNetCount=2\nNet1Type=2\nNet1LocalPort="
                                             + std::to_string(Server) + "\nNet2Type=2\nNet2LocalPort=abc\n"
                                             + "Net3Type=2\nNet3LocalPort=" + added + "\nFoo\n[COM250]\n").Text(), "");
    const std::vector<std::string> problems{
        ini + ":6: [" + Com + "] Net2LocalPort=abc: not a number; link 2 left out",
        ini + ":7: [" + Com + "] Net3Type=2: beyond NetCount=2; link 3 left out",
        ini + ":9: [" + Com + "] \"Foo\": neither a section nor a key; ignored",
        ini + ":10: [COM250] skipped: COM250 is not an installed port"};
    std::string lines;
    for (const std::string& problem : problems)
        lines += problem + "\n";

    const ProgramRun check = qlnapp::RunProgram(Folder + "QuillonConsole", {"--check-config"}, Home.Root + "/check");
    EXPECT_EQ(check.Code, 1) << check.Err;
    EXPECT_EQ(check.Out, lines);
    EXPECT_FALSE(ConnectTo(static_cast<uint16_t>(std::stoi(added))).Valid()) << "the check applies nothing";

    const ProgramRun reload = Ctl({"reload"});
    EXPECT_EQ(reload.Code, 1);
    EXPECT_NE(reload.Out.find(lines + "reloaded " + ini + ": 0 links added, 0 changed, 0 removed, 1 kept; "
                              "0 options changed; 4 problems\n"),
              std::string::npos)
        << reload.Out;
    EXPECT_EQ(reload.Err, "The configuration has 4 problems; see above.\n");
    for (const std::string& problem : problems)
        EXPECT_NE(Output().find("warning: config: " + problem + "\n"), std::string::npos) << Output();

    Console->Signal(SIGTERM);
    EXPECT_EQ(Console->WaitForExit(), 0) << Output();
    const size_t before = Output().size();
    Console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    for (const std::string& problem : problems)
        EXPECT_NE(Output().find("warning: config: " + problem + "\n", before), std::string::npos) << Output();
    EXPECT_EQ(qlnapp::RunProgram(Folder + "QuillonConsole", {"--check-config", Home.Root + "/none.ini"}, Home.Root + "/c2").Out,
              Home.Root + "/none.ini: cannot be read: it does not exist\n");

    WriteFileText(ini, "[" + Com + "]\nNetCount=1\nNet1Type=2\nNet1LocalPort=" + std::to_string(Server) + "\n");
    const ProgramRun clean = qlnapp::RunProgram(Folder + "QuillonConsole", {"--check-config", ini}, Home.Root + "/c3");
    EXPECT_EQ(clean.Code, 0);
    EXPECT_EQ(clean.Out, ini + ": ok\n");
    Console->Signal(SIGTERM);
    EXPECT_EQ(Console->WaitForExit(), 0) << Output();
}

// nohup leaves SIGHUP ignored: the console keeps it so, and says how to reload.
TEST_F(MonitorAndReload, AnInheritedIgnoredSighupIsSaid)
{
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    WriteFileText(Folder + "QuillonConsole.ini", "");
    ASSERT_EQ(sigaction(SIGHUP, &ignore, &previous), 0);
    Console = Launch();
    sigaction(SIGHUP, &previous, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    EXPECT_NE(Output().find("warning: console: SIGHUP is ignored, as this console was started with it ignored "
                            "(nohup): the configuration is reloaded only by quillonctl reload\n"),
              std::string::npos)
        << Output();
    Console->Signal(SIGHUP);
    EXPECT_EQ(Ctl({"reload"}).Code, 0);
    EXPECT_TRUE(Console->Running());
    Console->Signal(SIGTERM);
    EXPECT_EQ(Console->WaitForExit(), 0) << Output();
}

} // namespace
