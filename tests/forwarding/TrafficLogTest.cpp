// The traffic log: records byte for byte in both forms, and a file that comes and
// goes under the console.
#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

#include "forwarding/PortObject.h"
#include "platform/base/EventLog.h"
#include "platform/base/Folders.h"
#include "support/Files.h"
#include "support/SmallDisk.h"
#include "support/TempFolder.h"
#include "support/WaitUntil.h"

using namespace qlntest;

namespace {

class TrafficLogTest : public ::testing::Test {
protected:
    void Record(bool inbound, const std::vector<uint8_t>& bytes)
    {
        Port.WriteLog(inbound, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    TempHome Home;
    CCriticalSection Lock;
    CPortObject Port {3, &Lock};
    std::string Path = Home.Root + "/com3.log";
};

struct LogCase {
    int Mode;
    bool Inbound;
    std::vector<uint8_t> Bytes;
    std::string Expected;
};

TEST_F(TrafficLogTest, RecordsInBothFormsByteForByte)
{
    const std::vector<LogCase> cases = {
        {1, false, {'a', 'b', 'c'}, "O:616263\r\n"},
        {0, false, {'a', 'b', 'c'}, "O:abc"},
        {1, true, {'a', 'b', 'c'}, "I:616263\r\n"},
        {0, true, {'a', 'b', 'c'}, "I:abc"},
        {1, false, {0x00, 0x0D, 0xFF}, "O:000DFF\r\n"},
        {0, true, {0x00, '\r', '\n', 0xFF}, std::string("I:\0\r\n\xFF", 6)},
    };
    for (const auto& c : cases) {
        unlink(Path.c_str());
        Port.SetLogFile(Path.c_str());
        Port.SetLogMode(c.Mode);
        Record(c.Inbound, c.Bytes);
        EXPECT_EQ(FileText(Path), c.Expected) << "mode " << c.Mode;
    }
    unlink(Path.c_str());
    Port.SetLogMode(0);
    Record(false, {'a', 'b'});
    Record(true, {'c', 'd'});
    EXPECT_EQ(FileText(Path), "O:abI:cd");
}

// With timestamps each record has its time, count and where in front; without them
// the same call writes the record as it always was.
TEST_F(TrafficLogTest, TimestampedRecordsCarryTimeCountAndWhere)
{
    constexpr int64_t At = 1796651401123; // a wall-clock time, shown in local time
    const std::string stamp = "[" + EventLog::TimeText(At);
    struct Row {
        int Mode;
        bool Stamped;
        bool Inbound;
        std::string Where;
        std::string Expected;
    };
    const std::vector<Row> rows = {
        {0, true, true, "tcp-server 7000 127.0.0.1:50412", stamp + " 7 tcp-server 7000 127.0.0.1:50412] I:Hello\r\n"},
        {1, true, false, "udp 7001 127.0.0.1:7003, tcp-client h:7 127.0.0.1:7",
         stamp + " 7 udp 7001 127.0.0.1:7003, tcp-client h:7 127.0.0.1:7] O:48656C6C6F0D0A\r\n"},
        {1, true, true, "", stamp + " 7] I:48656C6C6F0D0A\r\n"},
        {0, false, true, "tcp-server 7000 127.0.0.1:50412", "I:Hello\r\n"},
    };
    const std::vector<uint8_t> hello {'H', 'e', 'l', 'l', 'o', '\r', '\n'};
    for (const Row& row : rows) {
        unlink(Path.c_str());
        TrafficLog log;
        log.SetFileName(Path);
        log.SetMode(row.Mode);
        log.SetTimestamps(row.Stamped);
        log.Write(row.Inbound, hello.data(), 7, At, row.Where);
        EXPECT_EQ(FileText(Path), row.Expected);
    }
}

// A monitor's queue: records as offered until its bound, then counted as missed; one
// wake until the monitor takes.
TEST(TrafficTapTest, KeepsWhatFitsCountsTheRestAndWakesOncePerTake)
{
    int wakes = 0;
    TrafficTap tap([&] { ++wakes; }, 100);
    const std::vector<uint8_t> bytes(40, 'x');
    for (int i = 0; i < 4; ++i)
        tap.Offer(i, i % 2 == 0, "udp 1", bytes.data(), bytes.size());
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(tap.WaitingBytes(), 80u);
    std::vector<TrafficRecord> records;
    uint64_t missed = 0;
    tap.Take(records, missed);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(missed, 2u);
    EXPECT_TRUE(records[0].Inbound && !records[1].Inbound && records[1].Time == 1 && records[1].Where == "udp 1");
    tap.Offer(9, true, "", bytes.data(), 200); // alone beyond the bound: missed, and said
    EXPECT_EQ(wakes, 2);
    tap.Take(records, missed);
    EXPECT_EQ(records.size(), 2u);
    EXPECT_EQ(missed, 3u);
}

TEST_F(TrafficLogTest, FullChunkInHexIsOneLine)
{
    Port.SetLogFile(Path.c_str());
    Port.SetLogMode(1);
    Record(false, std::vector<uint8_t>(8192, 0xAB));
    std::string text = FileText(Path);
    ASSERT_EQ(text.size(), 16386u + 2u);
    EXPECT_EQ(text.find('\n'), 16387u);
}

TEST_F(TrafficLogTest, SetLogFileCreatesKeepsAndSwitches)
{
    Port.SetLogFile(nullptr);
    Record(false, {'x'});
    EXPECT_FALSE(Exists(Path));

    Port.SetLogFile(Path.c_str());
    EXPECT_TRUE(Exists(Path));
    EXPECT_EQ(FileText(Path), "");
    Record(false, {'1'});
    Port.SetLogFile(Path.c_str()); // an existing file keeps its content
    Record(true, {'2'});
    EXPECT_EQ(FileText(Path), "O:1I:2");

    std::string other = Home.Root + "/other.log";
    Port.SetLogFile(other.c_str());
    Record(false, {'3'});
    EXPECT_EQ(FileText(Path), "O:1I:2");
    EXPECT_EQ(FileText(other), "O:3");
}

TEST_F(TrafficLogTest, FolderThatAppearsLaterAndFileDeletedBetweenRecords)
{
    std::string folder = Home.Root + "/later";
    std::string path = folder + "/com3.log";
    Port.SetLogFile(path.c_str());
    Record(false, {'a'});
    EXPECT_FALSE(Exists(path));
    ASSERT_TRUE(MakeFolders(folder));
    // A stopped log tries again after a second: the first record after that is its first.
    ASSERT_TRUE(WaitUntil([&] {
        Record(false, {'b'});
        return Exists(path);
    }));
    EXPECT_EQ(FileText(path), "O:b");
    unlink(path.c_str());
    Record(true, {'c'});
    EXPECT_EQ(FileText(path), "I:c");

    // A path that runs through a regular file can never be opened; nothing breaks.
    std::string blocked = path + "/x.log";
    Port.SetLogFile(blocked.c_str());
    Record(false, {'d'});
    EXPECT_EQ(Port.GetLogFilename(), blocked);
}

// A log on a disk with no room: every record is lost, the log says once that it
// stopped and why, tries again no sooner than a second later, and resumes, saying
// so, once a record can be written.
TEST_F(TrafficLogTest, AFullDiskStopsTheLogOnceAndItResumesWhenThereIsRoom)
{
    SmallDisk small(Home.Root + "/small", 2);
    if (!small.Mounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here";
    const std::string path = small.File("com3.log");
    small.Fill();
    Port.SetLogFile(path.c_str());
    EventLog::Instance().Reset(); // a source's burst of earlier tests would hold its lines back
    const auto firstFailure = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i)
        Record(i % 2 == 0, std::vector<uint8_t>(100, 'x'));
    const TrafficLogState stopped = Port.GetLogState();
    EXPECT_TRUE(stopped.Stopped && stopped.Since > 0 && stopped.LostRecords == 200 && FileText(path).empty());
    EXPECT_EQ(stopped.Reason, "No space left on device");

    small.Free();
    ASSERT_TRUE(WaitUntil([&] {
        Record(false, {'z'});
        return FileText(path) == "O:z";
    }));
    EXPECT_GE(std::chrono::steady_clock::now() - firstFailure, TrafficLog::RetryInterval * 9 / 10);
    EXPECT_FALSE(Port.GetLogState().Stopped);
    const std::vector<Event> said = EventLog::Instance().Since(0);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0].Text,
              "log " + path + " stopped: write: No space left on device; records are lost until it can be written again");
    EXPECT_TRUE(said[1].Text.starts_with("log " + path + " resumed; ")) << said[1].Text;
}

} // namespace
