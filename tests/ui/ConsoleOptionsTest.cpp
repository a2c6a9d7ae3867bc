// The two console check boxes: "Minimize when run" and its key in the configuration
// file, "Auto run when login" and the autostart entry.
#include <QCheckBox>
#include <functional>
#include <sys/stat.h>

#include "platform/config/Autostart.h"
#include "SettingsTestSupport.h"

using namespace qlnui;
using qlntest::Exists;
using qlntest::FileText;

namespace {

// ---------------------------------------------------------------- minimize when run

struct MinimizeCase {
    const char* name;
    const char* stored; // the value of General/MinimizeWhenRun; null: no file
    bool checked;
    const char* after;  // the value in the file after the start
};

class MinimizeTest : public SettingsTest, public ::testing::WithParamInterface<MinimizeCase> {};

TEST_P(MinimizeTest, TheStartFollowsTheStoredValue)
{
    const MinimizeCase& c = GetParam();
    if (c.stored)
        WriteConfig(std::string("[General]\nMinimizeWhenRun=") + c.stored + "\n");
    StartOn({3});
    EXPECT_EQ(Form->MinimizeWhenRunCheckBox->isChecked(), c.checked);
    // Without a tray (offscreen) a minimized console stays reachable as a minimized
    // window; either way it is not shown as a normal window.
    const bool shownNormally = Form->isVisible() && !Form->isMinimized();
    EXPECT_EQ(shownNormally, !c.checked);
    if (c.stored) {
        EXPECT_EQ(FileText(ConfigPath()), std::string("[General]\nMinimizeWhenRun=") + c.after + "\n");
    } else {
        EXPECT_FALSE(Exists(ConfigPath()));
    }
    EXPECT_TRUE(Boxes.Calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, MinimizeTest,
    ::testing::Values(MinimizeCase{"NoFile", nullptr, false, nullptr},
                      MinimizeCase{"Zero", "0", false, "0"},
                      MinimizeCase{"One", "1", true, "1"},
                      // Any other nonzero value checks the box and is written back as 1.
                      MinimizeCase{"Two", "2", true, "1"},
                      MinimizeCase{"Hexadecimal", "0x1", true, "0x1"},
                      MinimizeCase{"NotANumber", "abc", false, "abc"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, MinimizeBoxWritesItsStateWhenItDiffers)
{
    WriteConfig("[COM3]\nLogMode=1\n");
    StartOn({3});
    Form->MinimizeWhenRunCheckBox->setChecked(true);
    EXPECT_EQ(FileText(ConfigPath()), "[COM3]\nLogMode=1\n[General]\nMinimizeWhenRun=1\n");
    Form->MinimizeWhenRunCheckBox->setChecked(false);
    EXPECT_EQ(FileText(ConfigPath()), "[COM3]\nLogMode=1\n[General]\nMinimizeWhenRun=0\n");
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(SettingsTest, AFailedMinimizeWriteNamesTheFile)
{
    ASSERT_TRUE(MakeFolders(ConfigPath())); // readable as empty, never writable
    StartOn({3});
    Form->MinimizeWhenRunCheckBox->setChecked(true);
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    ExpectError(Boxes.Calls[0], QString::fromStdString("Unable to write to " + ConfigPath()),
                "Quillon Console");
    EXPECT_TRUE(Form->MinimizeWhenRunCheckBox->isChecked());
}

// ---------------------------------------------------------------- auto run when login

class AutorunTest : public SettingsTest {
public:
    std::string Folder() const { return Home.Root + "/config/autostart"; }
    std::string Entry() const { return Folder() + "/QuillonConsole.desktop"; }

    void PutEntry(const std::string& content)
    {
        ASSERT_TRUE(MakeFolders(Folder()));
        ASSERT_EQ(ReplaceFileAtomically(Entry(), content).Text(), "");
    }

    // The program the entry runs, or "<missing>" / "<unreadable>".
    std::string EntryValue()
    {
        std::unique_ptr<Autostart> key = Autostart::Open(Folder());
        std::string path;
        if (!key)
            return "<unreadable>";
        switch (key->ReadValue(path)) {
        case Autostart::Result::Ok: return path;
        case Autostart::Result::Missing: return "<missing>";
        case Autostart::Result::Failed: return "<unreadable>";
        }
        return {};
    }

    void ExpectRegistryFailed(size_t index)
    {
        ASSERT_GT(Boxes.Calls.size(), index);
        ExpectError(Boxes.Calls[index], "Access to registry failed!", "Quillon Console");
    }
};

std::string EntryRunning(const std::string& path)
{
    return "[Desktop Entry]\nType=Application\nExec=" + Autostart::EncodeExec(path) + "\n";
}

struct AutorunCase {
    const char* name;
    std::function<void(AutorunTest&)> prepare;
    bool checked;
    bool failed;        // "Access to registry failed!" at start
    const char* kept;   // entry bytes expected unchanged ("" for no check)
};

class AutorunStartTest : public AutorunTest, public ::testing::WithParamInterface<AutorunCase> {};

TEST_P(AutorunStartTest, TheBoxShowsWhetherTheEntryExists)
{
    const AutorunCase& c = GetParam();
    c.prepare(*this);
    const std::string before = FileText(Entry());
    StartOn({3});
    EXPECT_EQ(Form->AutoRunWhenLoginCheckBox->isChecked(), c.checked);
    if (c.failed) {
        ExpectRegistryFailed(0);
    }
    EXPECT_EQ(Boxes.Calls.size(), c.failed ? 1u : 0u);
    if (*c.kept) {
        EXPECT_EQ(FileText(Entry()), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AutorunStartTest,
    ::testing::Values(
        AutorunCase{"NoEntry", [](AutorunTest&) {}, false, false, ""},
        AutorunCase{"OurEntry", [](AutorunTest& t) { t.PutEntry(EntryRunning(ExecutablePath())); },
                    true, false, "kept"},
        AutorunCase{"NotADesktopEntry", [](AutorunTest& t) { t.PutEntry("\x01\x02 binary\n"); },
                    true, true, "kept"},
        AutorunCase{"NoExec", [](AutorunTest& t) { t.PutEntry("[Desktop Entry]\nName=x\n"); },
                    true, true, "kept"},
        AutorunCase{"DisabledEntryCountsAsNone",
                    [](AutorunTest& t) { t.PutEntry(EntryRunning("/opt/x") + "Hidden=true\n"); },
                    false, false, "kept"},
        AutorunCase{"AFolderOfThatName",
                    [](AutorunTest& t) { ASSERT_TRUE(MakeFolders(t.Entry())); }, true, true, ""},
        AutorunCase{"NoAutostartFolderPossible",
                    [](AutorunTest& t) {
                        ASSERT_EQ(ReplaceFileAtomically(t.Folder(), "a file, not a folder").Text(), "");
                    },
                    false, false, "kept"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AutorunTest, AMovedExecutableIsCorrectedAtStart)
{
    PutEntry(EntryRunning("/opt/old place/QuillonConsole"));
    StartOn({3});
    EXPECT_TRUE(Form->AutoRunWhenLoginCheckBox->isChecked());
    EXPECT_EQ(EntryValue(), ExecutablePath());
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(AutorunTest, CheckingWritesThisExecutableAndUncheckingDeletes)
{
    StartOn({3});
    EXPECT_FALSE(Exists(Folder())) << "nothing is created at start";
    Form->AutoRunWhenLoginCheckBox->setChecked(true);
    EXPECT_EQ(EntryValue(), ExecutablePath());
    Form->AutoRunWhenLoginCheckBox->setChecked(false);
    EXPECT_FALSE(Exists(Entry()));
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(AutorunTest, UncheckingWithoutAnEntryShowsNothing)
{
    PutEntry(EntryRunning(ExecutablePath()));
    StartOn({3});
    ASSERT_TRUE(Form->AutoRunWhenLoginCheckBox->isChecked());
    ASSERT_EQ(unlink(Entry().c_str()), 0);
    Form->AutoRunWhenLoginCheckBox->setChecked(false);
    EXPECT_TRUE(Boxes.Calls.empty());
}

// An entry the console cannot read is never written over, but unchecking removes it,
// as deleting a value of another type would.
TEST_F(AutorunTest, AnUnreadableEntryIsReportedThenDeletedByUnchecking)
{
    PutEntry("[Desktop Entry]\nName=x\n");
    StartOn({3});
    ExpectRegistryFailed(0);
    EXPECT_EQ(FileText(Entry()), "[Desktop Entry]\nName=x\n");
    Form->AutoRunWhenLoginCheckBox->setChecked(false);
    EXPECT_FALSE(Exists(Entry()));
    Form->AutoRunWhenLoginCheckBox->setChecked(true);
    EXPECT_EQ(EntryValue(), ExecutablePath());
    EXPECT_EQ(Boxes.Calls.size(), 1u);
}

TEST_F(AutorunTest, WithoutAnAutostartFolderCheckingFailsAndTheBoxStays)
{
    ASSERT_EQ(ReplaceFileAtomically(Folder(), "a file, not a folder").Text(), "");
    StartOn({3});
    Form->AutoRunWhenLoginCheckBox->setChecked(true);
    ExpectRegistryFailed(0);
    EXPECT_TRUE(Form->AutoRunWhenLoginCheckBox->isChecked());
    Form->AutoRunWhenLoginCheckBox->setChecked(false);
    EXPECT_EQ(Boxes.Calls.size(), 1u);
}

} // namespace
