// The real console, end to end: a copy of the executable with its driver package
// and configuration beside it, one installed port, an application on COM<n> and a
// peer on each kind of link; then a second start, a stop by signal, and a start
// after a console was killed.
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

#include "ConsoleProcess.h"
#include "platform/base/Folders.h"
#include "platform/config/AtomicFile.h"
#include "ports/QLNManager.h"
#include "support/Application.h"
#include "support/Bytes.h"
#include "support/Loopback.h"
#include "support/TempFolder.h"

using namespace qlntest;
using qlnapp::ConsoleProcess;

namespace {

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += Digits[b >> 4];
        out += Digits[b & 0x0F];
    }
    return out;
}

// The hexadecimal traffic log split by direction: the payloads of all "I:" records
// and of all "O:" records, each in file order. False when a record is malformed.
bool ReadHexLog(const std::string& text, std::string& in, std::string& out)
{
    in.clear();
    out.clear();
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos || end - at < 2)
            return false;
        const std::string kind = text.substr(at, 2);
        const std::string payload = text.substr(at + 2, end - at - 2);
        if (kind == "I:")
            in += payload;
        else if (kind == "O:")
            out += payload;
        else
            return false;
        at = end + 2;
    }
    return true;
}

class ConsoleEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TMPDIR", (Home.Root + "/runtime").c_str(), 1);
        Folder = Home.Root + "/console/";
        ASSERT_TRUE(MakeFolders(Folder));
        const std::string built = ExecutableFolder() + "QuillonConsole";
        ASSERT_TRUE(qlnapp::CopyFile(built, Folder + "QuillonConsole"))
            << built << " is missing: build the QuillonConsole target first";
        for (const char* name : {"Quillon.inf", "quillon-window.so"})
            ASSERT_TRUE(qlnapp::CopyFile(ExecutableFolder() + name, Folder + name)) << name;

        // One installed port; this process then lets go of its pseudo-terminal, and
        // the console brings it back at its start.
        {
            CQLNManager manager(nullptr, Folder + "Quillon.inf");
            ASSERT_EQ(manager.Start().Text(), "");
            CPortObject* port = manager.AddPort(0);
            ASSERT_NE(port, nullptr);
            Number = port->GetPortNumber();
        }
        PortDriver::Instance().DetachAll();
        ASSERT_FALSE(Exists(PortLink()));
    }

    std::string ConfigPath() const { return Folder + "QuillonConsole.ini"; }
    std::string PortLink() const { return DeviceLinkFolder() + "/COM" + std::to_string(Number); }
    std::string Section() const { return "[COM" + std::to_string(Number) + "]\n"; }
    std::string Output() const { return FileText(Home.Root + "/console.out"); }

    std::unique_ptr<ConsoleProcess> Launch()
    {
        auto process = std::make_unique<ConsoleProcess>(Folder + "QuillonConsole", Home.Root + "/console.out");
        EXPECT_TRUE(process->Started());
        return process;
    }

    // The port's link leads to a pseudo-terminal. (After a console was killed, its
    // dangling link may lead to another process's one when the number is reused.)
    bool PortServed() const
    {
        struct stat st {};
        return stat(PortLink().c_str(), &st) == 0;
    }

    TempHome Home;
    std::string Folder;
    int Number = 0;
};

TEST_F(ConsoleEndToEnd, ServesEveryKindOfLinkAndStopsCleanly)
{
    const UniqueFd listener = Listen();        // the TCP client link connects here
    const uint16_t serverPort = FreePort(); // the TCP server link listens here
    const UniqueFd udpPeer = BindUdp();
    const uint16_t udpLocal = FreePort(SOCK_DGRAM);
    const std::string log = Home.Root + "/traffic.log";
    ASSERT_TRUE(listener);
    ASSERT_TRUE(udpPeer);
    ASSERT_EQ(ReplaceFileAtomically(
        ConfigPath(),
        Section() + "LogFilename=" + log + "\nLogMode=1\nNetCount=3\n"
            + "Net1Type=1\nNet1RemoteAddr=127.0.0.1\nNet1RemotePort=" + std::to_string(LocalPort(listener))
            + "\nNet1AutoReconnect=1\nNet1ReconnectIntervalTime=200\n"
            + "Net2Type=2\nNet2LocalPort=" + std::to_string(serverPort) + "\n"
            + "Net3Type=3\nNet3LocalPort=" + std::to_string(udpLocal)
            + "\nNet3RemoteAddr=127.0.0.1\nNet3RemotePort=" + std::to_string(LocalPort(udpPeer)) + "\n").Text(), "");
    const std::string configBefore = FileText(ConfigPath());

    auto console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return PortServed(); })) << Output();
    const UniqueFd clientPeer = AcceptWithin(listener);
    ASSERT_TRUE(clientPeer) << Output();
    UniqueFd serverPeer;
    ASSERT_TRUE(WaitUntil([&] { return (serverPeer = ConnectTo(serverPort)).Valid(); })) << Output();
    App app(PortLink());
    ASSERT_TRUE(app.Ok());

    const sockaddr_in udpLink = Loopback(udpLocal);
    std::string expectedIn;
    std::string expectedOut;
    uint32_t seed = 1;
    for (size_t size : {size_t{16}, size_t{20000}}) {
        // From each peer to the application, one peer at a time.
        for (int peer : {clientPeer.Get(), serverPeer.Get(), udpPeer.Get()}) {
            const std::vector<uint8_t> data = Pattern(size, seed++);
            if (peer == udpPeer.Get())
                ASSERT_EQ(sendto(udpPeer.Get(), data.data(), data.size(), 0,
                                 reinterpret_cast<const sockaddr*>(&udpLink), sizeof udpLink),
                          static_cast<ssize_t>(data.size()));
            else
                ASSERT_TRUE(SendAll(peer, data));
            ASSERT_EQ(app.ReadExactly(size), data) << "size " << size;
            expectedIn += Hex(data);
        }
        // From the application to every peer at once.
        const std::vector<uint8_t> data = Pattern(size, seed++);
        ASSERT_TRUE(app.WriteAll(data));
        for (int peer : {clientPeer.Get(), serverPeer.Get(), udpPeer.Get()})
            EXPECT_EQ(RecvExactly(peer, size), data) << "size " << size;
        expectedOut += Hex(data);
    }
    std::string in, out;
    EXPECT_TRUE(WaitUntil([&] {
        return ReadHexLog(FileText(log), in, out) && in == expectedIn && out == expectedOut;
    })) << "log in " << in.size() << " of " << expectedIn.size() << ", out " << out.size()
        << " of " << expectedOut.size();

    // A second start leaves at once with 1; the first goes on serving.
    auto second = Launch();
    EXPECT_EQ(second->WaitForExit(), 1) << Output();
    EXPECT_TRUE(console->Running());
    const std::vector<uint8_t> after{'s', 't', 'i', 'l', 'l'};
    ASSERT_TRUE(app.WriteAll(after));
    EXPECT_EQ(RecvExactly(clientPeer, after.size()), after);

    // Asked to stop, it takes everything down in order and ends with 0; the port's
    // link goes with its pseudo-terminal, and the configuration is not written.
    console->Signal(SIGTERM);
    EXPECT_EQ(console->WaitForExit(), 0) << Output();
    EXPECT_FALSE(Exists(PortLink()));
    EXPECT_EQ(FileText(ConfigPath()), configBefore);
    EXPECT_TRUE(RecvFor(clientPeer, 0.2).empty());
}

TEST_F(ConsoleEndToEnd, AStartAfterAKilledConsoleTakesOver)
{
    const uint16_t serverPort = FreePort();
    ASSERT_EQ(ReplaceFileAtomically(ConfigPath(), Section() + "NetCount=1\nNet1Type=2\nNet1LocalPort="
                                                       + std::to_string(serverPort) + "\n").Text(), "");
    auto listening = [&] { return ConnectTo(serverPort).Valid(); };

    auto first = Launch();
    ASSERT_TRUE(WaitUntil(listening)) << Output();
    first->Signal(SIGKILL);
    ASSERT_EQ(first->WaitForExit(), 128 + SIGKILL);
    EXPECT_TRUE(Exists(Home.Root + "/runtime/QLN_Console.lock")) << "a killed console leaves its lock";

    auto next = Launch();
    // Its links are loaded after its ports are back.
    ASSERT_TRUE(WaitUntil(listening)) << Output();
    EXPECT_TRUE(next->Running()) << Output();
    App app(PortLink());
    EXPECT_TRUE(app.Ok());
    app.Close();

    // quillonctl's commands go through the window's model, which saves as for the window.
    const qlnapp::ProgramRun set = qlnapp::RunProgram(
        ExecutableFolder() + "quillonctl", {"set", "COM" + std::to_string(Number), "send-delay", "9"}, Home.Root + "/ctl");
    EXPECT_EQ(set.Code, 0) << set.Err;
    EXPECT_NE(FileText(ConfigPath()).find("SendToNetDelayTime=9\n"), std::string::npos) << FileText(ConfigPath());

    // The new console holds the lock now: another start is a second one.
    auto another = Launch();
    EXPECT_EQ(another->WaitForExit(), 1) << Output();

    next->Signal(SIGINT);
    EXPECT_EQ(next->WaitForExit(), 0) << Output();
    EXPECT_FALSE(Exists(Home.Root + "/runtime/QLN_Console.lock"));
    EXPECT_FALSE(Exists(Home.Root + "/runtime/QLN_Console"));
    EXPECT_FALSE(Exists(PortLink()));
}

// Without a display a failed start cannot wait for anyone to close its message: the
// message goes to standard error, the console ends with 1 and its lock is free again.
TEST_F(ConsoleEndToEnd, AFailedStartWithoutADisplayReportsAndEnds)
{
    const std::string state = Home.Root + "/state";
    ASSERT_EQ(ReplaceFileAtomically(Home.Root + "/plain", "a file, not a folder").Text(), "");
    setenv("XDG_STATE_HOME", (Home.Root + "/plain/state").c_str(), 1);
    auto failed = Launch();
    EXPECT_EQ(failed->WaitForExit(30), 1) << Output();
    EXPECT_NE(Output().find("Quillon Console: Initialize failed!\n"), std::string::npos) << Output();

    setenv("XDG_STATE_HOME", state.c_str(), 1);
    auto next = Launch();
    ASSERT_TRUE(WaitUntil([&] { return PortServed(); })) << Output();
    next->Signal(SIGTERM);
    EXPECT_EQ(next->WaitForExit(), 0) << Output();
}

} // namespace
