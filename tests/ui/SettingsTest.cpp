// The configuration file of the window: loading port sections at start, rewriting a
// port's section, erasing it, and where the file lives.
#include <chrono>
#include <map>
#include <sys/stat.h>

#include "links/NetObject.h"
#include "platform/config/ProfileFile.h"
#include "forwarding/PortObject.h"
#include "console/ConfigLocation.h"
#include "support/SavedPort.h"
#include "SettingsTestSupport.h"

using namespace qlnui;
using qlntest::FileText;
using qlntest::FreePort;

namespace {


// ---------------------------------------------------------------- loading

struct LoadCase {
    const char* name;
    // Text of [COM3]; {T} is a free TCP port ({T+65536} the same plus 65536), {U} a
    // free UDP port, {LOG} a log file path.
    const char* section;
    int32_t send;
    int32_t receive;
    bool logged;         // the port's log file is {LOG}
    int32_t logMode;
    std::vector<const char*> links; // Describe() of each loaded link, in order
};

class LoadTest : public SettingsTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTest, LoadsOptionsAndLinksIntoPortsAndTree)
{
    const LoadCase& c = GetParam();
    const uint16_t tcp = FreePort(SOCK_STREAM);
    std::map<std::string, std::string> fill{{"{T}", std::to_string(tcp)},
                                            {"{T+65536}", std::to_string(tcp + 65536)},
                                            {"{U}", std::to_string(FreePort(SOCK_DGRAM))},
                                            {"{LOG}", Home.Root + "/com3.log"}};
    // A section of a port whose name begins like COM3's, and one of a port that is
    // not present: neither may reach COM3.
    WriteConfig(Fill("[COM33]\nNetCount=1\nNet1Type=2\nNet1LocalPort=1\n[COM3]\n", fill)
                + Fill(c.section, fill) + "\n[COM9]\nSendToNetDelayTime=99\n");

    const auto started = std::chrono::steady_clock::now();
    StartOn({3});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    CPortObject* port = PortOf(PortNode(0));
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->GetSendToNetDelayTime(), c.send);
    EXPECT_EQ(port->GetReceiveFromNetDelayTime(), c.receive);
    EXPECT_EQ(port->GetLogFilename(), c.logged ? fill["{LOG}"] : std::string());
    EXPECT_EQ(port->GetLogMode(), c.logMode);

    std::vector<std::string> expected;
    for (const char* link : c.links)
        expected.push_back(Fill(link, fill));
    EXPECT_EQ(DescribeLinks(port), expected);
    // One link node per link, in the same order, showing that link.
    ASSERT_EQ(PortNode(0)->childCount(), static_cast<int>(expected.size()));
    CGuard guard(Lock());
    int i = 0;
    for (const auto& link : port->GetNetLinks())
        EXPECT_EQ(LinkOf(PortNode(0)->child(i++)), link.get());
}

INSTANTIATE_TEST_SUITE_P(
    Sections, LoadTest,
    ::testing::Values(
        LoadCase{"EveryKind",
                 "SendToNetDelayTime=5\nReceiveFromNetDelayTime=20\nLogFilename={LOG}\nLogMode=1\n"
                 "NetCount=3\nNet1Type=1\nNet1RemoteAddr=127.0.0.1\nNet1RemotePort=9\n"
                 "Net1AutoReconnect=1\nNet1ReconnectIntervalTime=250\n"
                 "Net2Type=2\nNet2LocalPort={T}\n"
                 "Net3Type=3\nNet3LocalPort={U}\nNet3RemoteAddr=localhost\nNet3RemotePort=31000\n",
                 5, 20, true, 1,
                 {"client 127.0.0.1:9 auto=1 every=250", "server {T}", "udp {U}>localhost:31000"}},
        LoadCase{"UnknownKindIsSkipped",
                 "NetCount=3\nNet1Type=2\nNet1LocalPort={T}\nNet2Type=7\nNet2LocalPort=1\n"
                 "Net3Type=3\nNet3LocalPort={U}\nNet3RemoteAddr=127.0.0.1\nNet3RemotePort=9\n",
                 0, 0, false, 0, {"server {T}", "udp {U}>127.0.0.1:9"}},
        LoadCase{"PortsUseTheLow16Bits",
                 "NetCount=3\nNet1Type=1\nNet1RemoteAddr=127.0.0.1\nNet1RemotePort=65616\n"
                 "Net2Type=2\nNet2LocalPort={T+65536}\nNet3Type=2\nNet3LocalPort=-65536\n",
                 0, 0, false, 0, {"client 127.0.0.1:80 auto=0 every=5000", "server {T}"}},
        LoadCase{"RemotePortZeroOrMissingIsSkipped",
                 "NetCount=3\nNet1Type=1\nNet1RemoteAddr=127.0.0.1\nNet1RemotePort=0\n"
                 "Net2Type=1\nNet2RemoteAddr=127.0.0.1\nNet3Type=2\nNet3LocalPort={T}\n",
                 0, 0, false, 0, {"server {T}"}},
        LoadCase{"ClientWithoutOptionsGetsTheDefaults",
                 "NetCount=1\nNet1Type=1\nNet1RemoteAddr=127.0.0.1\nNet1RemotePort=9\n",
                 0, 0, false, 0, {"client 127.0.0.1:9 auto=0 every=5000"}},
        LoadCase{"NumbersFollowTheIntegerRule",
                 "SendToNetDelayTime=0x10\nReceiveFromNetDelayTime=abc\nLogMode=$2\nNetCount=1x\n"
                 "Net1Type=2\nNet1LocalPort={T}\n",
                 16, 0, false, 1, {}},
        LoadCase{"NegativeNumbers", "SendToNetDelayTime=-5\nReceiveFromNetDelayTime=-0x10\nNetCount=-1\n"
                 "Net1Type=2\nNet1LocalPort={T}\n",
                 -5, -16, false, 0, {}},
        LoadCase{"NamesInOtherCases",
                 "sendtonetdelaytime=7\nNETCOUNT=1\nnet1type=3\nNET1LOCALPORT={U}\n"
                 "Net1remoteaddr=127.0.0.1\nnet1REMOTEPORT=9\n",
                 7, 0, false, 0, {"udp {U}>127.0.0.1:9"}},
        LoadCase{"QuotesAndBlanksAroundValues",
                 "LogFilename=  \"{LOG}\"  \nLogMode = 0 \nNetCount=1\nNet1Type= 1\n"
                 "Net1RemoteAddr=  127.0.0.1 \nNet1RemotePort=\"9\"\n",
                 0, 0, true, 0, {"client 127.0.0.1:9 auto=0 every=5000"}},
        // Loading stops at the highest entry the file holds, so a count from a
        // damaged file neither hangs the start nor loses an entry.
        LoadCase{"HugeNetCount",
                 "NetCount=2147483647\nNet1Type=2\nNet1LocalPort={T}\nNet40Type=3\n"
                 "Net40LocalPort={U}\nNet40RemoteAddr=127.0.0.1\nNet40RemotePort=9\n",
                 0, 0, false, 0, {"server {T}", "udp {U}>127.0.0.1:9"}},
        LoadCase{"EntriesBeyondNetCountAreNotRead",
                 "NetCount=1\nNet1Type=2\nNet1LocalPort={T}\nNet2Type=3\nNet2LocalPort={U}\n"
                 "Net2RemoteAddr=127.0.0.1\nNet2RemotePort=9\n",
                 0, 0, false, 0, {"server {T}"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, NoFileGivesDefaultsAndCreatesNothingUntilAChange)
{
    StartOn({3, 4, 5});
    ASSERT_EQ(Tree().topLevelItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        CPortObject* port = PortOf(PortNode(i));
        EXPECT_EQ(PortNode(i)->childCount(), 0);
        EXPECT_EQ(port->GetSendToNetDelayTime(), 0);
        EXPECT_EQ(port->GetReceiveFromNetDelayTime(), 0);
        EXPECT_EQ(port->GetLogFilename(), "");
        EXPECT_EQ(port->GetLogMode(), 0);
    }
    struct stat st {};
    EXPECT_NE(stat((Home.Root + "/config/quillon").c_str(), &st), 0) << "nothing is created at start";

    PortOf(PortNode(1))->SetSendToNetDelayTime(12);
    Form->SavePortSettings(PortOf(PortNode(1)));
    EXPECT_EQ(FileText(ConfigPath()), "[COM4]\nSendToNetDelayTime=12\nReceiveFromNetDelayTime=0\n"
                                      "LogFilename=\nLogMode=0\nNetCount=0\n");
}

// After a save, the section holds exactly the links that
// exist, renumbered from 1.
TEST_F(SettingsTest, ASaveRenumbersTheLinksThatLoaded)
{
    const uint16_t tcp = FreePort(SOCK_STREAM);
    const uint16_t udp = FreePort(SOCK_DGRAM);
    WriteConfig("[COM3]\nNetCount=3\nNet1Type=2\nNet1LocalPort=" + std::to_string(tcp)
                + "\nNet2Type=7\nNet3Type=3\nNet3LocalPort=" + std::to_string(udp)
                + "\nNet3RemoteAddr=127.0.0.1\nNet3RemotePort=31000\n[COM5]\nLogMode=1\n");
    StartOn({3});
    Form->SavePortSettings(PortOf(PortNode(0)));
    EXPECT_EQ(FileText(ConfigPath()),
              "[COM5]\nLogMode=1\n[COM3]\nSendToNetDelayTime=0\nReceiveFromNetDelayTime=0\n"
              "LogFilename=\nLogMode=0\nNetCount=2\nNet1Type=2\nNet1LocalPort=" + std::to_string(tcp)
                  + "\nNet2Type=3\nNet2LocalPort=" + std::to_string(udp)
                  + "\nNet2RemoteAddr=127.0.0.1\nNet2RemotePort=31000\n");
}

// A server or UDP link whose local port is taken at start is kept: it says it is not
// listening, a "Set" keeps it in the file, and it shows when it listens at last.
TEST_F(SettingsTest, ALinkWhosePortIsTakenAtStartWaitsForIt)
{
    UniqueFd taken[] = {qlntest::Listen(), qlntest::BindUdp()};
    const QString tcp = QString::number(qlntest::LocalPort(taken[0]));
    const QString udp = QString::number(qlntest::LocalPort(taken[1]));
    const std::string links = "NetCount=2\nNet1Type=2\nNet1LocalPort=" + tcp.toStdString() + "\nNet2Type=3\n"
        "Net2LocalPort=" + udp.toStdString() + "\nNet2RemoteAddr=127.0.0.1\nNet2RemotePort=9\n";
    WriteConfig("[COM3]\n" + links);
    StartOn({3});
    QTreeWidgetItem* com3 = PortNode(0);
    ASSERT_EQ(com3->childCount(), 2);
    auto texts = [&] { return std::vector<QString>{com3->child(0)->text(0), com3->child(1)->text(0)}; };
    EXPECT_EQ(texts(), (std::vector<QString>{"(Not listening) TCP Server / Listen Port " + tcp,
                                             "(Not listening) UDP / Local Port " + udp + ", Remote Addr:Port 127.0.0.1:9"}));

    Form->SetSendToNetDelayTimeButtonClick(); // the selected COM3, its edit at "0"
    EXPECT_EQ(FileText(ConfigPath()), "[COM3]\nSendToNetDelayTime=0\nReceiveFromNetDelayTime=0\n"
                                      "LogFilename=\nLogMode=0\n" + links);

    for (UniqueFd& fd : taken)
        fd.Reset();
    const std::vector<QString> listening{"(0) TCP Server / Listen Port " + tcp,
                                         "UDP / Local Port " + udp + ", Remote Addr:Port 127.0.0.1:9"};
    EXPECT_TRUE(ProcessUntil([&] { return texts() == listening; }, 20)) << texts()[0].toStdString();
}

// The load reads the file once: forty thousand reads of a file of 150 000 lines,
// which take minutes when every read goes to the disk and scans the file again.
TEST_F(SettingsTest, AFileWithManyLinksLoadsInOnePass)
{
    const std::string tcp = std::to_string(FreePort(SOCK_STREAM));
    std::string text = "[COM3]\nNetCount=10001\n";
    for (int i = 1; i <= 10000; ++i) {
        const std::string net = "Net" + std::to_string(i);
        // Local port 0: refused, without a socket, once its four keys are read.
        text += net + "Type=3\n" + net + "LocalPort=0\n" + net + "RemoteAddr=127.0.0.1\n" + net + "RemotePort=9\n";
        for (int pad = 0; pad < 10; ++pad)
            text += ";\n";
    }
    WriteConfig(text + "Net10001Type=2\nNet10001LocalPort=" + tcp + "\n");
    const auto started = std::chrono::steady_clock::now();
    StartOn({3});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(DescribeLinks(PortOf(PortNode(0))), std::vector<std::string>{"server " + tcp});
}

// ---------------------------------------------------------------- saving

// A save must leave the file exactly as erasing the section and then writing its
// keys one by one, in the file's key order, would.
struct SaveCase {
    const char* name;
    const char* before; // the file before the save; empty: no file
};

class SaveTest : public SettingsTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveTest, LeavesTheFileAsEraseThenWriteWould)
{
    const std::string before = GetParam().before;
    if (!before.empty())
        WriteConfig(before);
    StartOn({3});
    CPortObject* port = PortOf(PortNode(0));
    const qlntest::SavedPort saved(Home.Root);
    port->SetSendToNetDelayTime(saved.Send);
    port->SetReceiveFromNetDelayTime(saved.Receive);
    port->SetLogFile(saved.Log.c_str());
    port->SetLogMode(saved.LogMode);
    CNetObject* client = port->AddTcpClient(saved.ClientHost.c_str(), saved.ClientPort).Link;
    ASSERT_NE(client, nullptr);
    {
        CGuard guard(Lock());
        client->SetAutoReconnect(false);
        client->SetReconnectInterval(saved.Interval);
    }
    ASSERT_NE(port->AddTcpServer(saved.Listen, CPortObject::BindFailure::Refuse, {"", true}).Link, nullptr);
    ASSERT_NE(port->AddUdp(saved.Local, saved.UdpHost.c_str(), saved.UdpPort, CPortObject::BindFailure::Refuse, {saved.UdpLocalAddr}).Link,
              nullptr);
    Form->SavePortSettings(port);

    EXPECT_EQ(FileText(ConfigPath()),
              qlntest::WrittenKeyByKey(Home.Root + "/expected.ini", before, "COM3", saved.SectionKeys()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, SaveTest,
    ::testing::Values(
        SaveCase{"NoFile", ""},
        SaveCase{"SectionInTheMiddle",
                 "[General]\nMinimizeWhenRun=1\n[COM3]\nNetCount=5\nNet1Type=1\n[COM5]\nLogMode=1\n"},
        SaveCase{"CopiesInOtherCasesCrlfNoLastLineEnd",
                 "; kept\r\n[com3]\r\nSendToNetDelayTime=9\r\n[COM5]\r\nx=1\r\n[COM3]\r\nNetCount=2"},
        SaveCase{"BlankLinesAtTheEnd", "[COM5]\nLogFilename=a\n\n\n"},
        SaveCase{"OnlyThisSection", "[COM3]\nLogFilename=old\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, AFailedSaveKeepsTheFileAndSaysWhy)
{
    const std::string before = "[COM3]\nSendToNetDelayTime=9\nNetCount=0\n[COM5]\nLogMode=1\n";
    WriteConfig(before);
    StartOn({3});
    CPortObject* port = PortOf(PortNode(0));
    ASSERT_EQ(port->GetSendToNetDelayTime(), 9);
    // A name with a line end cannot be stored in a line of the file (no entrance
    // takes one; set on the port directly).
    const std::string log = Home.Root + "/two\nlines.log";
    port->SetLogFile(log.c_str());
    Form->SavePortSettings(port);
    EXPECT_EQ(FileText(ConfigPath()), before);
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    ExpectError(Boxes.Calls[0], "Save settings failed!", "Quillon Console");
    EXPECT_TRUE(Boxes.Calls[0].Text.contains("line break")) << Boxes.Calls[0].Text.toStdString();
    // The port itself keeps what it has.
    EXPECT_EQ(port->GetSendToNetDelayTime(), 9);
    EXPECT_EQ(port->GetLogFilename(), log);
}

TEST_F(SettingsTest, AnUnusableFileIsReportedAndLeftAlone)
{
    ASSERT_TRUE(MakeFolders(ConfigPath())); // a folder where the file should be
    StartOn({3});
    Form->SavePortSettings(PortOf(PortNode(0)));
    Form->ErasePortSettings(3);
    ASSERT_EQ(Boxes.Calls.size(), 2u);
    for (const auto& call : Boxes.Calls) {
        ExpectError(call, "Save settings failed!", "Quillon Console");
        EXPECT_TRUE(call.Text.contains("Is a directory")) << call.Text.toStdString();
    }
    struct stat st {};
    ASSERT_EQ(stat(ConfigPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(SettingsTest, EraseRemovesEveryCopyOfOnlyThatSection)
{
    WriteConfig("[COM4]\nNetCount=1\n[COM5]\nLogMode=1\n[com4]\nx=1\n[COM44]\ny=2\n");
    StartOn({3});
    Form->ErasePortSettings(4);
    EXPECT_EQ(FileText(ConfigPath()), "[COM5]\nLogMode=1\n[COM44]\ny=2\n");
}

TEST_F(SettingsTest, EraseLeavesAMissingFileMissing)
{
    StartOn({3});
    Form->ErasePortSettings(3);
    struct stat st {};
    EXPECT_NE(stat(ConfigPath().c_str(), &st), 0);
}

// ---------------------------------------------------------------- round trip

TEST_F(SettingsTest, SavedPortsLoadBackTheSame)
{
    StartOn({3, 5, 7});
    CPortObject* com3 = PortOf(PortNode(0));
    CPortObject* com5 = PortOf(PortNode(1));
    com3->SetSendToNetDelayTime(10);
    com3->SetReceiveFromNetDelayTime(-5);
    com3->SetLogFile((Home.Root + "/com3.log").c_str());
    com3->SetLogMode(1);
    com5->SetLogFile((Home.Root + "/com5.log").c_str());
    const uint16_t listen3 = FreePort(SOCK_STREAM);
    const uint16_t listen5 = FreePort(SOCK_STREAM);
    const uint16_t local = FreePort(SOCK_DGRAM);
    CNetObject* quiet = com3->AddTcpClient("127.0.0.1", FreePort(SOCK_STREAM)).Link;
    ASSERT_NE(quiet, nullptr);
    {
        CGuard guard(Lock());
        quiet->SetAutoReconnect(false);
        quiet->SetReconnectInterval(1234);
    }
    ASSERT_NE(Form->AddTcpClientNode(PortNode(0), quiet, "127.0.0.1"), nullptr);
    ASSERT_NE(Form->AddTcpServerNode(PortNode(0), com3->AddTcpServer(listen3).Link), nullptr);
    ASSERT_NE(Form->AddUdpNode(PortNode(0), com3->AddUdp(local, "localhost", 31000).Link, "localhost"),
              nullptr);
    CNetObject* eager = com3->AddTcpClient("localhost", 9).Link;
    ASSERT_NE(Form->AddTcpClientNode(PortNode(0), eager, "localhost"), nullptr);
    ASSERT_NE(Form->AddTcpServerNode(PortNode(1), com5->AddTcpServer(listen5).Link), nullptr);
    Form->SavePortSettings(com3);
    Form->SavePortSettings(com5);
    const std::string saved = FileText(ConfigPath());

    const std::vector<std::string> ports = DescribePorts();
    const std::vector<QString> tree = TreeTexts();

    // A fresh console on the same ports.
    Form.reset();
    PortDriver::Instance().DetachAll();
    StartOn({3, 5, 7});
    EXPECT_EQ(DescribePorts(), ports);
    EXPECT_EQ(TreeTexts(), tree);

    // Saving what was loaded writes the very same file.
    Form->SavePortSettings(PortOf(PortNode(0)));
    Form->SavePortSettings(PortOf(PortNode(1)));
    EXPECT_EQ(FileText(ConfigPath()), saved);
}

// ---------------------------------------------------------------- location

TEST(ConfigLocationTest, BesideTheExecutableWhenItsFolderIsWritable)
{
    qlntest::TempHome home;
    const std::string bin = home.Root + "/bin/";
    ASSERT_TRUE(MakeFolders(bin));
    ASSERT_EQ(ReplaceFileAtomically(home.Root + "/file", "x").Text(), "");
    EXPECT_EQ(ConfigLocation::Choose(bin, "/cfg"), bin + "QuillonConsole.ini");
    // Not a folder this process can add files to: a path through a regular file, a
    // folder that is not there.
    EXPECT_EQ(ConfigLocation::Choose(home.Root + "/file/", "/cfg"), "/cfg/quillon/QuillonConsole.ini");
    EXPECT_EQ(ConfigLocation::Choose(home.Root + "/gone/", "/cfg"), "/cfg/quillon/QuillonConsole.ini");
}

} // namespace
