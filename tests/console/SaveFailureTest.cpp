// Saves that cannot be written, on a small filesystem with one page free or none, or
// through a regular file: every command that saves leaves the file byte for byte as
// it was, and says why and logs it once (quillonctl's run keeps the change: tests/app).
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "console/ConsoleModel.h"
#include "platform/base/EventLog.h"
#include "platform/base/Folders.h"
#include "support/Files.h"
#include "support/ParamName.h"
#include "support/ModelOnPorts.h"
#include "support/SmallDisk.h"

namespace {

using namespace qlntest;
using Change = std::function<ConsoleResult(ConsoleModel&, CPortObject* com1)>;

struct SaveRow {
    const char* Name;
    int FreePages; // on the small disk; -1: the file's folder is a regular file
    Change Act;
};

void PrintTo(const SaveRow& row, std::ostream* out)
{
    *out << row.Name;
}

class SaveFailureTest : public ::testing::TestWithParam<SaveRow> {
protected:
    PortsHome Home;
};

TEST_P(SaveFailureTest, LeavesTheFileAndSaysWhy)
{
    const SaveRow& row = GetParam();
    {
        // Two installed ports, as `port add` leaves them.
        CQLNManager installer(nullptr, ExecutableFolder() + "Quillon.inf");
        ASSERT_TRUE(!installer.Start() && installer.AddPort(1) && installer.AddPort(2));
    }
    PortDriver::Instance().DetachAll();
    SmallDisk small(Home.Root + "/small", 8);
    std::string path = small.File("QuillonConsole.ini");
    if (row.FreePages < 0) {
        WriteFileText(Home.Root + "/file", "x");
        path = Home.Root + "/file/QuillonConsole.ini";
    } else if (!small.Mounted()) {
        GTEST_SKIP() << "a tmpfs cannot be mounted here";
    } else {
        // More than a page: COM1 with 46 links, then COM2.
        std::string text = "[COM1]\nNetCount=46\n";
        for (int i = 1; i <= 46; ++i)
            text += "Net" + std::to_string(i) + "Type=1\nNet" + std::to_string(i) + "RemoteAddr=127.0.0.1\nNet"
                + std::to_string(i) + "RemotePort=9\nNet" + std::to_string(i) + "ReconnectIntervalTime=5000\n";
        WriteFileText(path, text + "[COM2]\nSendToNetDelayTime=7\n");
        small.Fill(static_cast<size_t>(row.FreePages));
    }
    ConsoleModel model(qlntest::RealManager(), path);
    ASSERT_TRUE(model.Start());
    model.LoadSettings();
    const std::string before = FileText(path);
    EventLog::Instance().Reset(); // a source's burst of earlier rows would hold its lines back

    const ConsoleResult result = row.Act(model, model.FindPort(1));
    EXPECT_TRUE(result && result.Unsaved && result.ShouldTell());
    EXPECT_EQ(result.Message, "Save settings failed!");
    const std::string why = row.FreePages < 0 ? "Not a directory" : "No space left on device";
    EXPECT_TRUE(result.Reason().starts_with(path + ": " + why + ".")) << result.Reason();
    EXPECT_EQ(FileText(path), before);
    std::vector<Event> said = EventLog::Instance().Since(0);
    std::erase_if(said, [](const Event& event) { return event.Source != "config"; }); // the links say their own
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].Text.find(why), std::string::npos) << said[0].Text;
}

CNetObject* First(ConsoleModel& m, CPortObject* p)
{
    return m.FindLink(p, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SaveFailureTest,
    ::testing::Values(
        // The page left would hold the file without COM1, not with it.
        SaveRow{"send delay", 1, [](ConsoleModel& m, CPortObject* p) { return m.SetSendToNetDelayTime(p, 78); }},
        SaveRow{"send delay through a file", -1,
                [](ConsoleModel& m, CPortObject* p) { return m.SetSendToNetDelayTime(p, 78); }},
        SaveRow{"receive delay", 0, [](ConsoleModel& m, CPortObject* p) { return m.SetReceiveFromNetDelayTime(p, 9); }},
        SaveRow{"log", 0, [](ConsoleModel& m, CPortObject* p) { return m.SetLog(p, "/dev/null/x.log", 1, false); }},
        SaveRow{"auto reconnect", 0,
                [](ConsoleModel& m, CPortObject* p) { return m.SetAutoReconnect(p, First(m, p), true); }},
        SaveRow{"interval", 0,
                [](ConsoleModel& m, CPortObject* p) { return m.SetReconnectIntervalTime(p, First(m, p), 7); }},
        SaveRow{"add net", 1,
                [](ConsoleModel& m, CPortObject* p) {
                    return m.AddNet(p, LinkFields{NetKind::TcpClient, "192.0.2.1", "7", ""});
                }},
        SaveRow{"edit net", 0,
                [](ConsoleModel& m, CPortObject* p) {
                    return m.ReplaceNet(p, First(m, p), LinkFields{NetKind::TcpClient, "192.0.2.2", "8", ""});
                }},
        SaveRow{"remove net", 0, [](ConsoleModel& m, CPortObject* p) { return m.RemoveNet(p, First(m, p)); }},
        SaveRow{"remove port", 0, [](ConsoleModel& m, CPortObject* p) { return m.RemovePort(p); }}),
    [](const auto& info) { return LabelName(info.param.Name); });

} // namespace
