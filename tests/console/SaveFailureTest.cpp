// Saves that cannot be written: on a small filesystem with one page free or none,
// and through a path that runs through a regular file, every command that saves
// leaves the configuration file byte for byte as it was, says why, and logs it; the
// console keeps the change and writes it with the next save that can be written.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/ConsoleModel.h"
#include "forwarding/PortObject.h"
#include "platform/base/EventLog.h"
#include "platform/base/Folders.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/ParamName.h"
#include "support/PortsHome.h"
#include "support/SmallDisk.h"

namespace {

using namespace qlntest;

// A configuration larger than a page: COM1 with 46 links, then COM2.
std::string LargeConfig()
{
    std::string text = "[COM1]\nSendToNetDelayTime=5\nReceiveFromNetDelayTime=0\nLogFilename=\nLogMode=0\nNetCount=46\n";
    for (int i = 1; i <= 46; ++i) {
        const std::string net = "Net" + std::to_string(i);
        text += net + "Type=1\n" + net + "RemoteAddr=127.0.0.1\n" + net + "RemotePort=9\n" + net
            + "AutoReconnect=0\n" + net + "ReconnectIntervalTime=5000\n";
    }
    return text + "[COM2]\nSendToNetDelayTime=7\n";
}

enum class Disk { OnePageFree, Full, ThroughAFile };

struct SaveRow {
    const char* Name;
    Disk Where;
    std::function<ConsoleResult(ConsoleModel&, CPortObject* com1)> Change;
    bool Resaves = true; // the change is a port's, which its next save writes
};

void PrintTo(const SaveRow& row, std::ostream* out)
{
    *out << row.Name;
}

class SaveFailureTest : public ::testing::TestWithParam<SaveRow> {
protected:
    void SetUp() override
    {
        // Two installed ports, as `port add` leaves them.
        {
            CQLNManager installer(nullptr, ExecutableFolder() + "Quillon.inf");
            ASSERT_EQ(installer.Start(), 1);
            ASSERT_NE(installer.AddPort(1), nullptr);
            ASSERT_NE(installer.AddPort(2), nullptr);
        }
        PortDriver::Instance().DetachAll();
        if (GetParam().Where == Disk::ThroughAFile) {
            WriteFileText(Home.Root + "/file", "x");
            Path = Home.Root + "/file/QuillonConsole.ini";
            return;
        }
        Small = std::make_unique<SmallDisk>(Home.Root + "/small", 8);
        if (!Small->Mounted())
            GTEST_SKIP() << "a tmpfs cannot be mounted here";
        Path = Small->File("QuillonConsole.ini");
        WriteFileText(Path, LargeConfig());
        Small->Fill(GetParam().Where == Disk::OnePageFree ? 1 : 0);
    }
    void TearDown() override
    {
        Model.reset();
        PortDriver::Instance().DetachAll();
    }

    void Start()
    {
        Model = std::make_unique<ConsoleModel>(
            [] { return std::make_unique<CQLNManager>(nullptr, ExecutableFolder() + "Quillon.inf"); }, Path);
        ASSERT_TRUE(Model->Start());
        Model->LoadSettings();
    }
    // What the configuration keeps of the ports, as the running console has it.
    std::string Describe()
    {
        std::string text;
        for (const ConsoleStatus::Port& port : Model->Status().Ports) {
            text += "COM" + std::to_string(port.Number) + " " + std::to_string(port.SendToNetDelayTime) + " "
                + std::to_string(port.ReceiveFromNetDelayTime) + " " + port.LogFilename + "\n";
            for (const ConsoleStatus::Link& link : port.Links)
                text += "  " + link.RemoteAddr + ":" + std::to_string(link.RemotePort) + " "
                    + std::to_string(link.AutoReconnect) + " " + std::to_string(link.ReconnectIntervalTime) + "\n";
        }
        return text;
    }

    PortsHome Home;
    std::unique_ptr<SmallDisk> Small;
    std::string Path;
    std::unique_ptr<ConsoleModel> Model;
};

TEST_P(SaveFailureTest, LeavesTheFileSaysWhyAndKeepsTheChange)
{
    const SaveRow& row = GetParam();
    Start();
    CPortObject* com1 = Model->FindPort(1);
    ASSERT_NE(com1, nullptr);
    const std::string before = FileText(Path);
    EventLog::Instance().Reset(); // a source's burst of earlier rows would hold its lines back
    const uint64_t lastEvent = EventLog::Instance().LastNumber();

    const ConsoleResult result = row.Change(*Model, com1);
    EXPECT_TRUE(result.Unsaved && result.ShouldTell()) << result.Message << " / " << result.Reason;
    EXPECT_EQ(result.Message, "Save settings failed!");
    const std::string why = row.Where == Disk::ThroughAFile ? "Not a directory" : "No space left on device";
    EXPECT_NE(result.Reason.find(Path + ": " + why), std::string::npos) << result.Reason;
    EXPECT_EQ(FileText(Path), before);
    EXPECT_EQ(Names(Home.Root + "/small").count("QuillonConsole.ini"), row.Where == Disk::ThroughAFile ? 0u : 1u);
    std::vector<Event> events = EventLog::Instance().Since(lastEvent);
    std::erase_if(events, [](const Event& event) { return event.Source != "config"; });
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Level, EventLevel::Error);
    EXPECT_NE(events[0].Text.find(why), std::string::npos) << events[0].Text;

    if (row.Where == Disk::ThroughAFile || !row.Resaves)
        return;
    // Room again: the next save writes what the console kept, and a fresh start
    // loads exactly that.
    const std::string kept = Describe();
    Small->Free();
    const ConsoleResult saved = Model->SavePortSettings(Model->FindPort(1));
    ASSERT_TRUE(saved && !saved.Unsaved) << saved.Reason;
    Model.reset();
    PortDriver::Instance().DetachAll();
    Start();
    EXPECT_EQ(Describe(), kept);
}

CNetObject* FirstLink(ConsoleModel& model, CPortObject* port)
{
    return model.FindLink(port, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SaveFailureTest,
    ::testing::Values(
        // The page left would hold the file without COM1, not with it.
        SaveRow{"send delay, one page free", Disk::OnePageFree,
                [](ConsoleModel& m, CPortObject* p) { return m.SetSendToNetDelayTime(p, 78); }},
        SaveRow{"send delay, through a file", Disk::ThroughAFile,
                [](ConsoleModel& m, CPortObject* p) { return m.SetSendToNetDelayTime(p, 78); }},
        SaveRow{"receive delay", Disk::Full,
                [](ConsoleModel& m, CPortObject* p) { return m.SetReceiveFromNetDelayTime(p, 9); }},
        SaveRow{"log", Disk::Full,
                [](ConsoleModel& m, CPortObject* p) { return m.SetLog(p, "/dev/null/x.log", 1); }},
        SaveRow{"auto reconnect", Disk::Full,
                [](ConsoleModel& m, CPortObject* p) { return m.SetAutoReconnect(p, FirstLink(m, p), true); }},
        SaveRow{"reconnect interval", Disk::Full,
                [](ConsoleModel& m, CPortObject* p) { return m.SetReconnectIntervalTime(p, FirstLink(m, p), 700); }},
        SaveRow{"add net", Disk::OnePageFree,
                [](ConsoleModel& m, CPortObject* p) { return m.AddNet(p, LinkFields{TcpClient, "192.0.2.1", "7", ""}); }},
        SaveRow{"edit net", Disk::Full,
                [](ConsoleModel& m, CPortObject* p) {
                    return m.ReplaceNet(p, FirstLink(m, p), LinkFields{TcpClient, "192.0.2.2", "8", ""});
                }},
        SaveRow{"remove net", Disk::Full,
                [](ConsoleModel& m, CPortObject* p) { return m.RemoveNet(p, FirstLink(m, p)); }},
        SaveRow{"remove port", Disk::Full, [](ConsoleModel& m, CPortObject* p) { return m.RemovePort(p); },
                false}),
    [](const auto& info) { return LabelName(info.param.Name); });

// The console's own option takes the same way, with its own message.
TEST(MinimizeSaveTest, AFullDiskIsRefusedWithTheFileNamedAndWhy)
{
    PortsHome home;
    SmallDisk small(home.Root + "/small", 2);
    if (!small.Mounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here";
    const std::string path = small.File("QuillonConsole.ini");
    WriteFileText(path, "[COM3]\nLogMode=1\n");
    small.Fill();
    ConsoleModel model([] { return nullptr; }, path);
    const ConsoleResult result = model.SetMinimizeWhenRun(true);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.Message, "Unable to write to " + path);
    EXPECT_EQ(result.Reason, "No space left on device");
    EXPECT_EQ(FileText(path), "[COM3]\nLogMode=1\n");
}

} // namespace
