#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/EventLog.h"
#include "platform/base/Failure.h"

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
