// The traffic log of a port that carries bytes: records in traffic order, and a log
// path that must never make the pump wait.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "support/Console.h"

using namespace qlntest;

namespace {

TEST(TrafficLogBridgeTest, OneRecordPerChunkInTrafficOrder)
{
    Console console;
    std::string path = console.Home.Root + "/bridge.log";
    console.Port->SetLogFile(path.c_str());
    UniqueFd listener = Listen();
    console.Port->AddTcpClient("127.0.0.1", LocalPort(listener));
    UniqueFd peer = AcceptWithin(listener);
    ASSERT_TRUE(console.Application->WriteAll({'a', 'b'}));
    ASSERT_EQ(RecvExactly(peer, 2), (std::vector<uint8_t>{'a', 'b'}));
    ASSERT_TRUE(SendAll(peer, {'c', 'd'}));
    ASSERT_EQ(console.Application->ReadExactly(2), (std::vector<uint8_t>{'c', 'd'}));
    EXPECT_TRUE(WaitUntil([&] { return FileText(path) == "O:abI:cd"; })) << FileText(path);
}

// A FIFO in the log's place, first without a reader (an open for writing would wait
// for one), then with one: the port goes on carrying bytes, and no record goes into
// the FIFO, which is not a log file.
TEST(TrafficLogBridgeTest, AFifoAsTheLogIsNeverWaitedOnNorWritten)
{
    Console console;
    const std::string path = console.Home.Root + "/bridge.log";
    console.Port->SetLogFile(path.c_str());
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const UniqueFd listener = Listen();
    console.Port->AddTcpClient("127.0.0.1", LocalPort(listener));
    const UniqueFd peer = AcceptWithin(listener);
    UniqueFd reader;
    for (const uint32_t round : {1, 2}) {
        if (round == 2) {
            reader.Reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
            console.Port->SetLogFile(path.c_str());
        }
        const std::vector<uint8_t> out = Pattern(100, round), in = Pattern(100, round + 2);
        ASSERT_TRUE(console.Application->WriteAll(out) && SendAll(peer, in));
        EXPECT_EQ(RecvExactly(peer, out.size()), out) << "round " << round;
        EXPECT_EQ(console.Application->ReadExactly(in.size()), in) << "round " << round;
    }
    char byte;
    EXPECT_LE(read(reader.Get(), &byte, 1), 0) << "a record went into the FIFO";
    console.Port->SetLogFile(""); // before the reader goes: nothing may wait on the FIFO then
}

} // namespace
