// The configuration file as a start, a reload and --check-config read it: every
// line that is dropped, ignored or taken otherwise than written is said, where it is.
#include <gtest/gtest.h>

#include "console/StoredConfig.h"
#include "support/ParamName.h"

namespace {

struct CheckRow {
    const char* Name;
    std::string Text;
    std::vector<std::string> Problems; // without the file's name
    size_t Links = 0;                  // COM3's links made
};

void PrintTo(const CheckRow& row, std::ostream* out)
{
    *out << row.Name;
}

class ConfigCheckTest : public ::testing::TestWithParam<CheckRow> {};

TEST_P(ConfigCheckTest, SaysEveryProblemWhereItIs)
{
    const CheckRow& row = GetParam();
    const StoredConfig stored("f.ini", row.Text, {3});
    std::vector<std::string> expected;
    for (const std::string& problem : row.Problems)
        expected.push_back("f.ini:" + problem);
    EXPECT_EQ(stored.ProblemLines(), expected);
    EXPECT_EQ(stored.Port(3).Links.size(), row.Links);
}

const std::string Server = "Net1Type=2\nNet1LocalPort=7201\n";
const std::string Cut(2047, 'c');

INSTANTIATE_TEST_SUITE_P(
    Rows, ConfigCheckTest,
    ::testing::Values(
        CheckRow{"WhatTheConsoleWritesAndComments",
                 "\xEF\xBB\xBF; mine\n[General]\nMinimizeWhenRun=1\n\n[COM3]\r\n# hand-written\r\nSendToNetDelayTime=0x10\r\n"
                 "NetCount=1\r\n" + Server,
                 {}, 1},
        CheckRow{"LinesNeitherSectionNorKey", "[COM3]\nFoo\n[COM3\nBar=1\nNetCount=0\n",
                 {"2: [COM3] \"Foo\": neither a section nor a key; ignored",
                  "3: [COM3] \"[COM3\": neither a section nor a key; ignored",
                  "4: [COM3] Bar=1: not a key of the console; ignored"}},
        CheckRow{"BadNumbers",
                 "[COM3]\nSendToNetDelayTime=abc\nNetCount=2\n" + Server + "Net2Type=2\nNet2LocalPort=abc\n"
                 "Net1Rfc2217=yes\n[General]\nMinimizeWhenRun=on\n",
                 {"2: [COM3] SendToNetDelayTime=abc: not a number; 0 used",
                  "7: [COM3] Net2LocalPort=abc: not a number; link 2 left out",
                  "8: [COM3] Net1Rfc2217=yes: not a number; 0 used",
                  "10: [General] MinimizeWhenRun=on: not a number; 0 used"},
                 1},
        CheckRow{"NetCountAboveTheLinks", "[COM3]\nNetCount=3\n" + Server,
                 {"2: [COM3] NetCount=3: there are no links 2 to 3"}, 1},
        CheckRow{"NetCountBelowTheLinks", "[COM3]\nNetCount=1\n" + Server + "Net2Type=2\nNet2LocalPort=7202\n",
                 {"5: [COM3] Net2Type=2: beyond NetCount=1; link 2 left out"}, 1},
        CheckRow{"NetCountNotANumber", "[COM3]\nNetCount=two\n" + Server,
                 {"2: [COM3] NetCount=two: not a number; every link left out",
                  "3: [COM3] Net1Type=2: beyond NetCount=0; link 1 left out"}},
        CheckRow{"LinksThatCannotBeMade",
                 "[COM3]\nNetCount=4\nNet1Type=7\nNet2Type=2\nNet2LocalPort=65536\nNet3Type=3\nNet3LocalPort=9\n"
                 "Net4RemotePort=9\n",
                 {"3: [COM3] Net1Type=7: not a kind of link (1 TCP client, 2 TCP server, 3 UDP); link 1 left out",
                  "5: [COM3] Net2LocalPort=65536: not a port from 1 to 65535; link 2 left out",
                  "6: [COM3] Net3Type=3: link 3 has no Net3RemotePort; left out",
                  "8: [COM3] Net4RemotePort=9: link 4 has no Net4Type; left out"}},
        // Kept as it always was, matching as its network; the user learns of it.
        CheckRow{"HostBitsKept", "[COM3]\nNetCount=1\n" + Server + "Net1Allow=127.0.0.1,10.0.0.5/8\n",
                 {"5: [COM3] Net1Allow=127.0.0.1,10.0.0.5/8: 10.0.0.5/8: host bits set; 10.0.0.0/8? (matched as "
                  "that network)"},
                 1},
        // Kept, never listening, so that a save does not drop it from the file.
        CheckRow{"SettingsThatCannotServe",
                 "[COM3]\nNetCount=3\n" + Server + "Net1Allow=localhost\nNet2Type=1\nNet2RemoteAddr=h\n"
                 "Net2RemotePort=7\nNet2Tls=1\nNet2TlsCA=/no/ca.pem\nNet3Type=2\nNet3LocalPort=7203\n"
                 "Net3LocalAddr=203.0.113.7\n",
                 {"3: [COM3] link 1: cannot serve: localhost: not an IPv4 or IPv6 address",
                  "6: [COM3] link 2: cannot serve: /no/ca.pem: No such file or directory",
                  "11: [COM3] link 3: cannot serve: 203.0.113.7 is not an address of this machine."},
                 3},
        // A value of the reader's bound may be the start of a longer one.
        CheckRow{"ValuesTakenAsCut",
                 "[COM3]\nLogFilename=/" + Cut + "\nNetCount=1\n" + Server + "Net1Tls=1\nNet1TlsCert=" + Cut + "\n",
                 {"2: [COM3] LogFilename=/ccccccccccccccccccccccccccccccccccccccccccccccc… (2048 characters): "
                  "reaches the reader's bound of 2047 characters; taken as cut; the log is off",
                  "7: [COM3] Net1TlsCert=cccccccccccccccccccccccccccccccccccccccccccccccc… (2047 characters): "
                  "reaches the reader's bound of 2047 characters; taken as cut, link 1 left out"}},
        CheckRow{"SectionsNotRead",
                 "x=1\n[COM9]\nNetCount=0\n[Foo]\n[COM03]\n[]\ny=2\n[COM3]\nNetCount=0\nNetCount=1\n[com3]\nz=1\n",
                 {"1: x=1: outside any section; ignored", "2: [COM9] skipped: COM9 is not an installed port",
                  "4: [Foo] not a section of the console; ignored", "5: [COM03] not a section of the console; ignored",
                  "6: []: a section without a name; its keys are ignored",
                  "10: [COM3] NetCount=1: a second NetCount; only the one at line 9 is read",
                  "11: [com3] a second copy of the section; only the one at line 8 is read"}}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
