#include "platform/config/ProfileFile.h"

#include "support/Files.h"
#include "support/ParamName.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using namespace qlntest;
using namespace std::string_literals;

class ProfileFileTest : public ::testing::Test {
protected:
    TempFolder dir;
    std::string path = dir.File("QuillonConsole.ini");
    ProfileFile file{path};
};

// ---- reading -----------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string content;
    std::string section;
    std::string key;
    std::optional<std::string> expected;
};

class ProfileReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileReadTest, FindsWhatTheProfileRulesFind)
{
    const ReadCase& c = GetParam();
    TempFolder dir;
    WriteFileText(dir.File("a.ini"), c.content);
    ProfileFile file(dir.File("a.ini"));
    std::string value = "untouched";
    bool found = file.ReadString(c.section, c.key, value);
    ASSERT_EQ(found, c.expected.has_value());
    if (found) {
        EXPECT_EQ(value, *c.expected);
    }
    EXPECT_EQ(file.GetString(c.section, c.key, "dflt"), c.expected.value_or("dflt"));

    // The snapshot the configuration load reads from answers the same.
    const ProfileFile::Snapshot snapshot = file.TakeSnapshot();
    std::string snapped = "untouched";
    EXPECT_EQ(snapshot.ReadString(c.section, c.key, snapped), found);
    EXPECT_EQ(snapped, value);
    EXPECT_EQ(snapshot.GetString(c.section, c.key, "dflt"), c.expected.value_or("dflt"));
}

const std::string kLong(100 * 1024, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileReadTest,
    ::testing::Values(
        ReadCase{"Plain", "[COM3]\nSendToNetDelayTime=20\n", "COM3", "SendToNetDelayTime", "20"},
        ReadCase{"OtherLetterCases", "[com3]\nnetcount=2\n", "COM3", "NetCount", "2"},
        ReadCase{"BlanksAroundEverything", "  [ COM3 ]  tail\n\t Key  =   two  words \t\n", "COM3", "Key", "two  words"},
        ReadCase{"QuotesDropped", "[A]\nK=  \"  inner  \"  \n", "A", "K", "  inner  "},
        ReadCase{"OnlyOnePairOfQuotes", "[A]\nK=\"\"x\"\"\n", "A", "K", "\"x\""},
        ReadCase{"LoneQuoteKept", "[A]\nK=\"abc\n", "A", "K", "\"abc"},
        ReadCase{"EmptyValueIsAValue", "[A]\nK=\n", "A", "K", ""},
        ReadCase{"EqualsInValue", "[A]\nK=a=b\n", "A", "K", "a=b"},
        ReadCase{"At most 2047", "[A]\nK=" + std::string(3000, 'v') + "\n", "A", "K", std::string(2047, 'v')},
        ReadCase{"CrLf", "[A]\r\nK=v\r\n", "A", "K", "v"},
        ReadCase{"NoFinalLineEnd", "[A]\nK=v", "A", "K", "v"},
        ReadCase{"FirstCopyOfSection", "[A]\nK=1\n[B]\nK=2\n[a]\nK=3\nL=4\n", "A", "K", "1"},
        ReadCase{"LaterCopyNotRead", "[A]\nK=1\n[B]\n[a]\nL=4\n", "A", "L", std::nullopt},
        ReadCase{"FirstOfDuplicateKeys", "[A]\nK=1\nk=2\n", "A", "K", "1"},
        ReadCase{"KeyBeforeAnyHeader", "K=0\n[A]\n", "A", "K", std::nullopt},
        ReadCase{"CommentSkipped", "[A]\n;K=1\nK=2\n", "A", "K", "2"},
        ReadCase{"EmptyHeaderEndsSection", "[A]\nK=1\n[]\nL=2\n", "A", "L", std::nullopt},
        ReadCase{"UnclosedBracketIsNoHeader", "[X]\n[A\nK=1\n", "X", "K", "1"},
        ReadCase{"BinaryAndNulLines", "[A]\n\x01\xff\0garbage\0\nK=v\n"s, "A", "K", "v"},
        ReadCase{"NulInsideValue", "[A]\nK=a\0b\n"s, "A", "K", "a\0b"s},
        ReadCase{"HugeLineBetween", "[A]\n" + kLong + "\nK=v\n", "A", "K", "v"},
        ReadCase{"HugeValueLine", "[A]\nK=" + kLong + "\nL=w\n", "A", "L", "w"},
        ReadCase{"ByteOrderMark", "\xEF\xBB\xBF[General]\nMinimizeWhenRun=1\n", "General", "MinimizeWhenRun", "1"},
        ReadCase{"MissingSection", "[A]\nK=1\n", "B", "K", std::nullopt},
        ReadCase{"MissingKey", "[A]\nK=1\n", "A", "L", std::nullopt},
        ReadCase{"EmptyFile", "", "A", "K", std::nullopt}),
    [](const auto& info) { return LabelName(info.param.name); });

TEST_F(ProfileFileTest, IntegersFollowTheWholeNumberRule)
{
    WriteFileText(path, "[COM3]\nhex=0x10\ndollar=$10\nword=abc\nspaced=  12  \nunit=12ms\nneg=-5\n"
                     "empty=\nbig=2147483648\nmax=2147483647\nmin=-2147483648\nquoted=\"42\"\n");
    const std::pair<const char*, int32_t> expected[] = {
        {"hex", 16},  {"dollar", 16}, {"word", 77}, {"spaced", 12},        {"unit", 77},       {"neg", -5},
        {"empty", 77}, {"big", 77},   {"max", INT32_MAX}, {"min", INT32_MIN}, {"quoted", 42}, {"missing", 77}};
    for (const auto& [key, value] : expected)
        EXPECT_EQ(file.GetInt("com3", key, 77), value) << key;
}

TEST_F(ProfileFileTest, MissingFileReadsDefaultsAndIsCreatedByTheFirstWrite)
{
    EXPECT_EQ(file.GetInt("General", "MinimizeWhenRun", 0), 0);
    EXPECT_EQ(file.GetString("COM3", "LogFilename", ""), "");
    EXPECT_EQ(file.EraseSection("COM3").Text(), "");
    EXPECT_TRUE(Names(dir.Root).empty()) << "an erase must not create the file";

    ASSERT_EQ(file.WriteInt("General", "MinimizeWhenRun", 1).Text(), "");
    EXPECT_EQ(FileText(path), "[General]\nMinimizeWhenRun=1\n");
    EXPECT_EQ(Names(dir.Root), std::set<std::string>{"QuillonConsole.ini"}) << "no temporary file left";
}

// ---- changing ----------------------------------------------------------------

using Change = std::function<bool(ProfileFile&)>;

struct ChangeCase {
    const char* name;
    std::string before;
    Change change;
    bool result;
    std::string after;
};

Change Write(std::string s, std::string k, std::string v)
{
    return [=](ProfileFile& f) { return !f.WriteString(s, k, v).Failed(); };
}
Change Erase(std::string s)
{
    return [=](ProfileFile& f) { return !f.EraseSection(s).Failed(); };
}
Change Replace(std::string s, ProfileFile::KeyValues pairs)
{
    return [=](ProfileFile& f) { return !f.ReplaceSection(s, pairs).Failed(); };
}

TEST_F(ProfileFileTest, ChangesTouchOnlyWhatTheyMust)
{
    const std::string bin = "\x01\xfe\0\xff"s;
    const ChangeCase cases[] = {
        {"replace in place, CRLF kept", "[A]\r\nK=1\r\nL=2\r\n", Write("A", "K", "9"), true, "[A]\r\nK=9\r\nL=2\r\n"},
        {"replace in another letter case", "[com3]\nnetcount=2\n", Write("COM3", "NetCount", "3"), true,
         "[com3]\nNetCount=3\n"},
        {"new key after the section's last line", "[A]\nK=1\n\n[B]\nX=1\n", Write("A", "L", "2"), true,
         "[A]\nK=1\nL=2\n\n[B]\nX=1\n"},
        {"new section at the end", ";c\n[A]\nK=1\n", Write("B", "X", "1"), true, ";c\n[A]\nK=1\n[B]\nX=1\n"},
        {"new section, CRLF file", "[A]\r\nK=1\r\n", Write("B", "X", "1"), true, "[A]\r\nK=1\r\n[B]\r\nX=1\r\n"},
        {"new key, no final line end", "[A]\nK=1", Write("A", "L", "2"), true, "[A]\nK=1\nL=2\n"},
        {"new section, no final line end", "[A]\nK=1", Write("B", "X", "1"), true, "[A]\nK=1\n[B]\nX=1\n"},
        {"replace last line without line end", "[A]\nK=1", Write("A", "K", "2"), true, "[A]\nK=2"},
        {"writes go to the first copy", "[A]\nK=1\n[B]\n[a]\nK=2\n", Write("A", "K", "9"), true,
         "[A]\nK=9\n[B]\n[a]\nK=2\n"},
        {"value that reading would change is quoted", "[A]\n", Write("A", "K", " x "), true, "[A]\nK=\" x \"\n"},
        {"value with its own quotes is quoted", "", Write("A", "K", "\"q\""), true, "[A]\nK=\"\"q\"\"\n"},
        {"damaged lines kept on write", "[A]\n" + bin + "\n" + kLong + "\nK=1\n;x", Write("A", "K", "2"), true,
         "[A]\n" + bin + "\n" + kLong + "\nK=2\n;x"},
        {"line end in value refused", "[A]\nK=1\n", Write("A", "K", "a\nB=2"), false, "[A]\nK=1\n"},
        {"equals in key refused", "[A]\nK=1\n", Write("A", "K=2", "x"), false, "[A]\nK=1\n"},
        // A value reading would give back cut, or that a reader could take for a cut one.
        {"value of the reader's bound refused", "[A]\nK=1\n", Write("A", "K", std::string(2047, 'v')), false,
         "[A]\nK=1\n"},
        {"longer value refused in a replace", "[A]\nK=1\n", Replace("A", {{"K", std::string(5000, 'v')}}), false,
         "[A]\nK=1\n"},
        {"empty section name refused", "", Write(" ", "K", "x"), false, ""},
        {"erase every copy, keep the rest", ";top\n[A]\nK=1\n[B]\nX=1\n[a]\nK=2\n;c\n[C]\n" + bin,
         Erase("A"), true, ";top\n[B]\nX=1\n[C]\n" + bin},
        {"erase last section, CRLF, no final end", "[B]\r\nX=1\r\n[A]\r\nK=1", Erase("a"), true, "[B]\r\nX=1\r\n"},
        {"erase missing section", "[B]\nX=1", Erase("A"), true, "[B]\nX=1"},
        {"replace moves the section to the end", "[COM3]\nOld=1\n[General]\nMinimizeWhenRun=1\n",
         Replace("COM3", {{"SendToNetDelayTime", "0"}, {"NetCount", "0"}}), true,
         "[General]\nMinimizeWhenRun=1\n[COM3]\nSendToNetDelayTime=0\nNetCount=0\n"},
        {"replace with nothing only erases", "[COM3]\nOld=1\n[B]\n", Replace("com3", {}), true, "[B]\n"},
        {"replace with one bad pair changes nothing", "[COM3]\nOld=1\n",
         Replace("COM3", {{"A", "1"}, {"B", "x\ry"}}), false, "[COM3]\nOld=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileText(path, c.before);
        EXPECT_EQ(c.change(file), c.result);
        EXPECT_EQ(FileText(path), c.after);
    }
}

TEST_F(ProfileFileTest, WrittenValuesReadBackExactly)
{
    const std::string values[] = {"", "plain", " lead", "trail\t", "\"both\"", "\"", "a\"b", "C:\\logs\\com3.txt",
                                  "=", "; not a comment", std::string(2046, 'z'), std::string(2043, 'q') + "\"  "};
    for (const auto& v : values) {
        ASSERT_EQ(file.WriteString("COM3", "LogFilename", v).Text(), "");
        EXPECT_EQ(file.GetString("COM3", "LogFilename", "dflt"), v);
    }
    ASSERT_EQ(file.WriteInt("COM3", "NetCount", INT32_MIN).Text(), "");
    EXPECT_EQ(file.GetInt("COM3", "NetCount", 0), INT32_MIN);
}

// ---- failures and atomicity ----------------------------------------------------

TEST_F(ProfileFileTest, PathThroughARegularFileFailsEveryChange)
{
    WriteFileText(dir.File("plain"), "I am a file");
    ProfileFile bad(dir.File("plain/QuillonConsole.ini"));
    EXPECT_EQ(bad.GetInt("General", "MinimizeWhenRun", 5), 5);
    EXPECT_TRUE(bad.WriteInt("General", "MinimizeWhenRun", 1).Failed());
    EXPECT_TRUE(bad.ReplaceSection("COM1", {{"A", "1"}}).Failed());
    EXPECT_TRUE(bad.EraseSection("COM1").Failed());
    EXPECT_EQ(FileText(dir.File("plain")), "I am a file");
}

TEST_F(ProfileFileTest, UnreadableFileIsNeverReplaced)
{
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0); // a folder where the file should be
    EXPECT_EQ(file.GetString("A", "K", "d"), "d");
    EXPECT_TRUE(file.WriteString("A", "K", "v").Failed());
    EXPECT_TRUE(file.EraseSection("A").Failed());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(Names(dir.Root), std::set<std::string>{"QuillonConsole.ini"});
}

// Makes writes beyond `bytes` fail with EFBIG for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = old_;
        lower.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_ {};
    void (*oldHandler_)(int) = nullptr;
};

TEST_F(ProfileFileTest, FailedWriteLeavesTheOriginalByteForByte)
{
    const std::string original = "[COM1]\r\nNetCount=0\r\n\x01\0junk"s + "\n[General]\nMinimizeWhenRun=1";
    WriteFileText(path, original);
    ::chmod(path.c_str(), 0640);
    {
        FileSizeLimit limit(original.size() + 10); // the temporary file cannot be written in full
        EXPECT_TRUE(file.WriteString("COM2", "SendToNetDelayTime", std::string(100, '7')).Failed());
        EXPECT_TRUE(file.ReplaceSection("COM1", {{"NetCount", "0"}, {"Pad", std::string(100, 'p')}}).Failed());
    }
    EXPECT_EQ(FileText(path), original);
    EXPECT_EQ(Names(dir.Root), std::set<std::string>{"QuillonConsole.ini"}) << "temporary file left behind";

    // Once it can be written, the change lands and the permissions stay.
    ASSERT_EQ(file.WriteString("COM2", "SendToNetDelayTime", "7").Text(), "");
    EXPECT_EQ(FileText(path), original + "\r\n[COM2]\r\nSendToNetDelayTime=7\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ProfileFileTest, ChangeReplacesTheFileRatherThanRewritingIt)
{
    WriteFileText(path, "[A]\nK=1\n");
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_EQ(file.WriteString("A", "K", "2").Text(), "");
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "a reader holding the old file must keep the old text";

    // A change that changes nothing does not touch the file.
    ASSERT_EQ(file.WriteString("A", "K", "2").Text(), "");
    struct stat same {};
    ASSERT_EQ(::stat(path.c_str(), &same), 0);
    EXPECT_EQ(after.st_ino, same.st_ino);
}

TEST_F(ProfileFileTest, SymbolicLinkToTheFileStays)
{
    WriteFileText(dir.File("real.ini"), "[A]\nK=1\n");
    ASSERT_EQ(::symlink("real.ini", path.c_str()), 0);
    ASSERT_EQ(file.WriteString("A", "K", "2").Text(), "");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(FileText(dir.File("real.ini")), "[A]\nK=2\n");
}

} // namespace
