// The console model's watch of a port's traffic, and the text a monitor shows of it.
#include <gtest/gtest.h>

#include <atomic>

#include "console/ConsoleModel.h"
#include "console/TrafficText.h"
#include "forwarding/PortObject.h"
#include "platform/base/EventLog.h"
#include "platform/base/Folders.h"
#include "support/Application.h"
#include "support/Loopback.h"
#include "support/ParamName.h"
#include "support/ModelOnPorts.h"
#include "support/WaitUntil.h"

using namespace qlntest;

namespace {

struct TextRow {
    const char* Name;
    TrafficView View;
    bool Inbound;
    std::string Body; // the lines after the header
};

void PrintTo(const TextRow& row, std::ostream* out)
{
    *out << row.Name;
}

class TrafficTextTest : public ::testing::TestWithParam<TextRow> {};

TEST_P(TrafficTextTest, ShowsTheHeaderAndTheBytes)
{
    const TextRow& row = GetParam();
    const std::string bytes = std::string("AT+CGMI\r\nOK\t\\") + '\0' + "\xFF" + "0123456789";
    const TrafficRecord record {1796651401123, row.Inbound, "tcp-server 7000 127.0.0.1:50412",
                                std::vector<uint8_t>(bytes.begin(), bytes.end())};
    const std::string header = EventLog::TimeText(record.Time) + (row.Inbound ? " I 25 from " : " O 25 to ")
        + record.Where + "\n";
    EXPECT_EQ(TrafficRecordText(record, row.View), header + row.Body);
}

INSTANTIATE_TEST_SUITE_P(Rows, TrafficTextTest,
    ::testing::Values(
        TextRow{"Dump", TrafficView::Dump, true,
                "  41 54 2B 43 47 4D 49 0D 0A 4F 4B 09 5C 00 FF 30  AT+CGMI..OK.\\..0\n"
                "  31 32 33 34 35 36 37 38 39                       123456789\n"},
        TextRow{"Hex", TrafficView::Hex, false,
                "  41 54 2B 43 47 4D 49 0D 0A 4F 4B 09 5C 00 FF 30\n"
                "  31 32 33 34 35 36 37 38 39\n"},
        TextRow{"Text", TrafficView::Text, true, "  AT+CGMI\\r\\n\n  OK\\t\\\\\\x00\\xFF0123456789\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

class TrafficWatchTest : public qlntest::ModelOnPorts {
protected:
    void SetUp() override { StartModel({3}); }
};

// Records until the console stops; what waited then is still handed over, once, with
// the reason; the watches are bounded.
TEST_F(TrafficWatchTest, SeesThePortsTrafficUntilTheConsoleStops)
{
    CPortObject* port = Model->FindPort(3);
    const uint16_t udp = FreePort(SOCK_DGRAM);
    const UniqueFd peer = BindUdp();
    LinkFields fields {NetKind::Udp, "127.0.0.1", std::to_string(LocalPort(peer)), std::to_string(udp)};
    ASSERT_TRUE(Model->AddNet(port, fields));
    std::atomic<int> wakes {0};
    std::unique_ptr<TrafficWatch> watch = Model->Watch(port, [&] { ++wakes; });
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(watch->PortName(), "COM3");

    std::vector<std::unique_ptr<TrafficWatch>> more;
    ConsoleResult refusal;
    while (more.size() < ConsoleModel::MaxWatches && (more.push_back(Model->Watch(port, {}, &refusal)), more.back()))
        ;
    EXPECT_EQ(more.back(), nullptr);
    EXPECT_EQ(refusal.Message, "Monitor failed!");
    EXPECT_EQ(refusal.Reason(), "32 monitors watch this console already.");
    more.clear();
    Model->Watch(nullptr, {}, &refusal);
    EXPECT_EQ(refusal.Reason(), "No such port.");

    App app(Model->Status().Ports[0].LinkPath);
    ASSERT_TRUE(app.WriteAll({'o', 'n', 'e'}));
    ASSERT_EQ(RecvExactly(peer, 3), (std::vector<uint8_t> {'o', 'n', 'e'}));
    uint64_t missed = 0;
    std::vector<TrafficRecord> records;
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<TrafficRecord> taken = watch->Take(missed);
        records.insert(records.end(), taken.begin(), taken.end());
        return !records.empty();
    }));
    EXPECT_EQ(records[0].Where, "COM3 #1 udp " + std::to_string(udp) + " 127.0.0.1:" + std::to_string(LocalPort(peer)));
    ASSERT_TRUE(app.WriteAll({'t', 'w', 'o'}));
    ASSERT_EQ(RecvExactly(peer, 3), (std::vector<uint8_t> {'t', 'w', 'o'}));
    ASSERT_TRUE(WaitUntil([&] { return wakes == 2; }));

    Model->StopPorts();
    EXPECT_TRUE(watch->Ended());
    EXPECT_EQ(watch->EndReason(), "The console stopped.");
    EXPECT_EQ(wakes, 3);
    std::vector<uint8_t> left;
    for (const TrafficRecord& record : watch->Take(missed))
        left.insert(left.end(), record.Bytes.begin(), record.Bytes.end());
    EXPECT_EQ(left, (std::vector<uint8_t> {'t', 'w', 'o'}));
    EXPECT_TRUE(watch->Take(missed).empty());
    EXPECT_EQ(missed, 0u);
    Model.reset();
    watch.reset(); // after the model: it must not reach back
}

} // namespace
