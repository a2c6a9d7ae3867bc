#include "platform/config/Autostart.h"

#include "support/Files.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace qlntest;
using namespace std::string_literals;
using Result = Autostart::Result;

class AutostartTest : public ::testing::Test {
protected:
    TempFolder dir;
    std::string folder = dir.File("config/autostart");
    std::unique_ptr<Autostart> run = Autostart::Open(folder);
    std::string entry = folder + "/QuillonConsole.desktop";

    void PutEntry(const std::string& content)
    {
        ::mkdir(dir.File("config").c_str(), 0755);
        ::mkdir(folder.c_str(), 0755);
        WriteFileText(entry, content);
    }
};

TEST_F(AutostartTest, OpensAMissingFolderWithoutCreatingIt)
{
    ASSERT_NE(run, nullptr);
    struct stat st {};
    EXPECT_NE(::stat(folder.c_str(), &st), 0);
    std::string value;
    EXPECT_EQ(run->ReadValue(value), Result::Missing);
    EXPECT_EQ(run->DeleteValue(), Result::Missing);
    EXPECT_NE(::stat(folder.c_str(), &st), 0);
}

TEST_F(AutostartTest, FolderThatIsNoFolderCannotBeOpened)
{
    WriteFileText(dir.File("file"), "x");
    EXPECT_EQ(Autostart::Open(dir.File("file")), nullptr);
    EXPECT_EQ(Autostart::Open(dir.File("file/autostart")), nullptr);
    EXPECT_EQ(Autostart::Open(""), nullptr);
}

TEST_F(AutostartTest, WriteCreatesAValidEntryThatReadsBack)
{
    ASSERT_TRUE(run->WriteValue("/opt/Quillon Console/QuillonConsole"));
    EXPECT_EQ(FileText(entry), "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=Quillon Console\n"
                                "Comment=Network connections as local serial ports\n"
                                "Exec=\"/opt/Quillon Console/QuillonConsole\"\n"
                                "Terminal=false\n"
                                "X-GNOME-Autostart-enabled=true\n");
    std::string value;
    ASSERT_EQ(run->ReadValue(value), Result::Ok);
    EXPECT_EQ(value, "/opt/Quillon Console/QuillonConsole");

    EXPECT_EQ(run->DeleteValue(), Result::Ok);
    EXPECT_EQ(run->ReadValue(value), Result::Missing);
}

TEST(AutostartExecTest, PathsSurviveQuotingAndEscaping)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/QuillonConsole", "/usr/bin/QuillonConsole"},
        {"/opt/a b/q", "\"/opt/a b/q\""},
        {"/opt/100%/q", "/opt/100%%/q"},
        {"/opt/a\\b", "\"/opt/a\\\\\\\\b\""}, // the quoted \\ of Exec, escaped once more as a string
        {"/opt/\"$`/q", "\"/opt/\\\\\"\\\\$\\\\`/q\""},
        {"/opt/tab\there", "\"/opt/tab\\there\""},
        {"/opt/new\nline", "\"/opt/new\\nline\""},
        {"/opt/it's;&|<>~*?#()/q", "\"/opt/it's;&|<>~*?#()/q\""},
        {"/opt/\xc3\xbcmlaut/q", "/opt/\xc3\xbcmlaut/q"},
    };
    for (const auto& [path, exec] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Autostart::EncodeExec(path), exec);
        std::string back;
        ASSERT_TRUE(Autostart::DecodeExec(exec, back));
        EXPECT_EQ(back, path);
    }
    std::string out;
    EXPECT_FALSE(Autostart::DecodeExec("/usr/bin/q --minimized", out)) << "two arguments";
    EXPECT_FALSE(Autostart::DecodeExec("\"/usr/bin/q", out)) << "unterminated quote";
    EXPECT_FALSE(Autostart::DecodeExec("   ", out)) << "no argument";
}

TEST_F(AutostartTest, EntriesOfOursAreReadAndCorrected)
{
    struct Case {
        const char* name;
        std::string content;
        Result result;
        std::string value;
    };
    const Case cases[] = {
        {"minimal", "[Desktop Entry]\nExec=/old/QuillonConsole\n", Result::Ok, "/old/QuillonConsole"},
        {"CRLF, comments, blanks around =, other groups",
         "# made by hand\r\n\r\n[Desktop Entry]\r\nName = Q\r\nExec = \"/a b/q\"\r\n[Desktop Action x]\r\nExec=/z\r\n",
         Result::Ok, "/a b/q"},
        {"arguments keep the whole text", "[Desktop Entry]\nExec=/usr/bin/q --min\n", Result::Ok, "/usr/bin/q --min"},
        {"first Exec counts", "[Desktop Entry]\nExec=/one\nExec=/two\n", Result::Ok, "/one"},
        {"hidden is removed", "[Desktop Entry]\nExec=/q\nHidden=true\n", Result::Missing, ""},
        {"disabled is removed", "[Desktop Entry]\nExec=/q\nX-GNOME-Autostart-enabled=false\n", Result::Missing, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PutEntry(c.content);
        std::string value;
        ASSERT_EQ(run->ReadValue(value), c.result);
        if (c.result == Result::Ok) {
            EXPECT_EQ(value, c.value);
        }
        // Like a string value that names another path: it is overwritten.
        ASSERT_TRUE(run->WriteValue("/usr/bin/QuillonConsole"));
        ASSERT_EQ(run->ReadValue(value), Result::Ok);
        EXPECT_EQ(value, "/usr/bin/QuillonConsole");
    }
}

TEST_F(AutostartTest, ForeignEntriesAreNeitherReadNorOverwrittenButCanBeDeleted)
{
    const std::pair<const char*, std::string> cases[] = {
        {"binary", "\x7f" "ELF\x02\x01\x01\0\0\0garbage\xff\xfe"s},
        {"NUL inside an entry", "[Desktop Entry]\nExec=/q\0\n"s},
        {"empty file", ""},
        {"no [Desktop Entry]", "[Other]\nExec=/q\n"},
        {"another group first", "[Other]\nA=1\n[Desktop Entry]\nExec=/q\n"},
        {"key before any group", "Exec=/q\n[Desktop Entry]\n"},
        {"no Exec", "[Desktop Entry]\nType=Application\nName=Quillon Console\n"},
        {"empty Exec", "[Desktop Entry]\nExec=\n"},
        {"a line that is no entry line", "[Desktop Entry]\nExec=/q\nthis is prose\n"},
        {"unclosed group", "[Desktop Entry\nExec=/q\n"},
        {"oversized", "[Desktop Entry]\nExec=/q\n#" + std::string(100 * 1024, 'c') + "\n"},
    };
    for (const auto& [name, content] : cases) {
        SCOPED_TRACE(name);
        PutEntry(content);
        std::string value;
        EXPECT_EQ(run->ReadValue(value), Result::Failed);
        EXPECT_FALSE(run->WriteValue("/usr/bin/QuillonConsole"));
        EXPECT_EQ(FileText(entry), content);
        EXPECT_EQ(run->DeleteValue(), Result::Ok);
        EXPECT_EQ(run->ReadValue(value), Result::Missing);
    }
}

TEST_F(AutostartTest, FolderOfTheEntrysNameIsLeftAlone)
{
    ::mkdir(dir.File("config").c_str(), 0755);
    ::mkdir(folder.c_str(), 0755);
    ASSERT_EQ(::mkdir(entry.c_str(), 0755), 0);
    std::string value;
    EXPECT_EQ(run->ReadValue(value), Result::Failed);
    EXPECT_FALSE(run->WriteValue("/usr/bin/QuillonConsole"));
    EXPECT_EQ(run->DeleteValue(), Result::Failed);
    struct stat st {};
    ASSERT_EQ(::stat(entry.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(AutostartTest, LinkedEntryIsReplacedNotWrittenThrough)
{
    const std::string shared = "[Desktop Entry]\nType=Application\nExec=/usr/bin/other\n";
    WriteFileText(dir.File("shared.desktop"), shared);
    PutEntry("");
    ::unlink(entry.c_str());
    ASSERT_EQ(::symlink(dir.File("shared.desktop").c_str(), entry.c_str()), 0);

    std::string value;
    ASSERT_EQ(run->ReadValue(value), Result::Ok);
    EXPECT_EQ(value, "/usr/bin/other");
    ASSERT_TRUE(run->WriteValue("/usr/bin/QuillonConsole"));
    EXPECT_EQ(FileText(dir.File("shared.desktop")), shared);
    ASSERT_EQ(run->ReadValue(value), Result::Ok);
    EXPECT_EQ(value, "/usr/bin/QuillonConsole");
}

TEST_F(AutostartTest, WriteFailsWhenTheFolderCannotBeMade)
{
    std::string blocked = dir.File("blocked/autostart");
    auto key = Autostart::Open(blocked);
    ASSERT_NE(key, nullptr);
    WriteFileText(dir.File("blocked"), "a file where the folder should be");
    EXPECT_FALSE(key->WriteValue("/usr/bin/QuillonConsole"));
    std::string value;
    EXPECT_EQ(key->ReadValue(value), Result::Failed);
    EXPECT_EQ(FileText(dir.File("blocked")), "a file where the folder should be");
}

TEST_F(AutostartTest, EmptyOrNulPathIsRefused)
{
    EXPECT_FALSE(run->WriteValue(""));
    EXPECT_FALSE(run->WriteValue("/usr/bin/q\0x"s));
    std::string value;
    EXPECT_EQ(run->ReadValue(value), Result::Missing);
}

} // namespace
