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
              path + " stopped: write: No space left on device; records are lost until it can be written again");
    EXPECT_TRUE(said[1].Text.starts_with(path + " resumed; ")) << said[1].Text;
}

} // namespace
