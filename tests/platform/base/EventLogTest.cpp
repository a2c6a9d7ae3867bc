#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/EventLog.h"
#include "platform/base/Failure.h"
#include "support/WaitUntil.h"

namespace {

// Collects what the log would write, and leaves the log as it found it.
class EventLogTest : public testing::Test {
protected:
    void SetUp() override
    {
        EventLog::Instance().Reset();
        EventLog::Instance().SetThreshold(EventLevel::Info);
        EventLog::Instance().SetSink([this](const Event&, const std::string& line) { Lines.push_back(line); });
    }
    void TearDown() override
    {
        EventLog::Instance().SetSink(nullptr);
        EventLog::Instance().SetWakeHook(nullptr);
        EventLog::Instance().SetThreshold(EventLevel::Info);
        EventLog::Instance().Reset();
    }
    std::vector<std::string> Lines;
};

TEST_F(EventLogTest, ABurstOfOneSourceIsCutAndCountedWhileOthersGoOn)
{
    int wakeIn = -1;
    EventLog::Instance().SetWakeHook([&wakeIn](int milliseconds) { wakeIn = milliseconds; });
    for (int i = 0; i < 1000; ++i)
        SayEvent(EventLevel::Warning, "COM1 Net1", "refused 127.0.0.2:" + std::to_string(i));
    EXPECT_EQ(wakeIn, 1000) << "a cut burst must ask for the flush that says its count";
    SayEvent(EventLevel::Info, "COM2", "an application opened the port");
    ASSERT_EQ(Lines.size(), size_t(EventLog::BurstLines) + 1);
    EXPECT_NE(Lines.back().find("COM2: an application opened the port"), std::string::npos);
    // The count comes once the source's second is over; Flush is how a timer asks.
    EventLog::Instance().Flush();
    EXPECT_EQ(Lines.size(), size_t(EventLog::BurstLines) + 1);
    const std::vector<Event> kept = EventLog::Instance().Since(0);
    EXPECT_EQ(kept.size(), size_t(EventLog::BurstLines) + 1);
    EXPECT_EQ(kept.front().Number + kept.size() - 1, kept.back().Number);
}

// A thousand links failing at once are a thousand sources: the console as a whole
// writes at most TotalLines of their lines in a second and counts the rest, per
// source or in all; the configuration's lines are never counted away.
TEST_F(EventLogTest, ManySourcesAreBoundTogetherButTheConfigurationIsNot)
{
    constexpr int Links = 1000, Bursting = 20;
    for (int i = 0; i < Links; ++i)
        SayEvent(EventLevel::Warning, "COM1 #" + std::to_string(i + 1) + " tcp-client 127.0.0.1:9", "failed");
    for (int i = 0; i < Bursting; ++i)
        SayEvent(EventLevel::Notice, "COM2 #1 tcp-server 7000", "refused");
    for (int i = 0; i < 300; ++i)
        SayEvent(EventLevel::Info, "config", "COM" + std::to_string(i + 1) + ": send delay 5 ms (was 0 ms)");
    EXPECT_EQ(Lines.size(), size_t(EventLog::TotalLines) + 300);
    // Once the second is over, the counts say how many were not written: the whole
    // console's (at the most severe level it counted), and the bursting source's own.
    auto counted = [this] {
        uint64_t more = 0;
        for (const std::string& line : Lines) {
            const size_t end = line.find(" more events in one second");
            if (end != std::string::npos)
                more += std::stoull(line.substr(line.rfind(": ", end) + 2));
        }
        return more;
    };
    ASSERT_TRUE(qlntest::WaitUntil([&] {
        EventLog::Instance().Flush();
        return counted() == uint64_t(Links + Bursting - EventLog::TotalLines);
    }, 5)) << counted();
    EXPECT_NE(Lines[EventLog::TotalLines + 300].find(" warning: console: "), std::string::npos)
        << Lines[EventLog::TotalLines + 300];
}

TEST_F(EventLogTest, LevelsAreFilteredAndWrittenAsTheJournalReadsThem)
{
    EventLog::Instance().SetThreshold(EventLevel::Warning);
    SayEvent(EventLevel::Info, "", "not shown");
    SayEvent(EventLevel::Error, "config", "QuillonConsole.ini could not be saved");
    ASSERT_EQ(Lines.size(), 1u);
    Event event;
    event.Level = EventLevel::Warning;
    event.Source = "COM3 Net1";
    event.Text = "connect failed: Connection refused";
    EXPECT_EQ(EventLog::Format(event, true), "<4>COM3 Net1: connect failed: Connection refused\n");
    EXPECT_NE(EventLog::Format(event, false).find(" warning: COM3 Net1: connect failed"), std::string::npos);
    EXPECT_EQ(EventLog::Format(Event {0, 0, EventLevel::Info, "", std::string(5000, 'x')}, true).size(), 1024u);
}

TEST(FailureTest, CarriesTheCallTheErrnoAndTheWords)
{
    EXPECT_FALSE(Failure {});
    const Failure bind = Failure::OfCall("bind", EADDRINUSE);
    EXPECT_TRUE(bind);
    EXPECT_EQ(bind.Reason(), "Address already in use");
    EXPECT_EQ(bind.Text(), "bind: Address already in use");
    EXPECT_EQ(Failure::Said("Name does not resolve").Text(), "Name does not resolve");
}

} // namespace
