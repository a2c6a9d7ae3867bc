// The driver's three requests on real pseudo-terminals, opened as an application would.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include "platform/base/Folders.h"
#include "platform/pty/PortDriver.h"
#include "support/Application.h"
#include "support/Bytes.h"
#include "support/PortsHome.h"

using namespace qlntest;

namespace {

class PortDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Driver().AttachDevice(7, DeviceLinkFolder()).Text(), "");
        Handle = Driver().Open(7);
        ASSERT_NE(Handle, INVALID_DRIVER_HANDLE);
    }
    static PortDriver& Driver() { return PortDriver::Instance(); }
    std::vector<uint8_t> ReadAll(size_t count)
    {
        std::vector<uint8_t> out;
        uint8_t buf[8192];
        WaitUntil([&] {
            const PortDriver::ReadOutcome read = Driver().Read(Handle, buf, sizeof buf);
            if (read.Result == PortDriver::ReadResult::Bytes)
                out.insert(out.end(), buf, buf + read.Count);
            return out.size() >= count;
        });
        return out;
    }
    PortStatus Status()
    {
        PortStatus status {};
        EXPECT_TRUE(Driver().QueryStatus(Handle, &status));
        return status;
    }

    PortsHome Home;
    DriverHandle Handle = INVALID_DRIVER_HANDLE;
};

TEST_F(PortDriverTest, BytesCrossUnchangedBothWays)
{
    App app(PortDriver::Instance().LinkPath(7));
    ASSERT_TRUE(app.Ok());
    auto all = AllByteValues();
    all.insert(all.end(), {'\r', '\n', '\n', '\r', 0x03, 0x1A, 0x7F});

    ASSERT_TRUE(app.WriteAll(all));
    EXPECT_EQ(ReadAll(all.size()), all);

    ASSERT_TRUE(WaitUntil([&] { return Status().FreeSpace >= all.size(); }));
    ASSERT_TRUE(Driver().Write(Handle, all.data(), static_cast<uint32_t>(all.size())));
    EXPECT_EQ(app.ReadExactly(all.size()), all);
    // No echo: nothing written towards the application comes back to the console.
    uint8_t buf[64];
    const PortDriver::ReadOutcome read = Driver().Read(Handle, buf, sizeof buf);
    EXPECT_EQ(read.Result, PortDriver::ReadResult::Nothing);
    EXPECT_EQ(read.Count, 0u);
}

// An application opening the port through its link counts, and wakes a waiting pump;
// the notice names the port that was opened, and no other.
TEST_F(PortDriverTest, OpenCountFollowsTheApplication)
{
    ASSERT_EQ(Driver().AttachDevice(8, DeviceLinkFolder()).Text(), "");
    const DriverHandle other = Driver().Open(8);
    ASSERT_NE(other, INVALID_DRIVER_HANDLE);
    EXPECT_EQ(Status().OpenCount, 1u);
    PortDriver::Instance().ForgetOpenEvents();
    const PortDriver::Wait wait = PortDriver::Instance().WaitFor(Handle, true, false, true);
    EXPECT_EQ(wait.Fd, -1) << "no application: nothing of this port's own to wait on";
    pollfd waits {PortDriver::Instance().OpenNoticeFd(), POLLIN, 0};
    EXPECT_EQ(poll(&waits, 1, 0), 0);
    {
        App app(PortDriver::Instance().LinkPath(7));
        ASSERT_TRUE(app.Ok());
        EXPECT_EQ(poll(&waits, 1, 10000), 1);
        EXPECT_EQ(Status().OpenCount, 2u);
        Driver().ForgetOpenEvents();
        EXPECT_TRUE(Driver().TakeOpenNotice(Handle));
        EXPECT_FALSE(Driver().TakeOpenNotice(Handle)) << "a notice is taken once";
        EXPECT_FALSE(Driver().TakeOpenNotice(other)) << "only the opened port is named";
    }
    EXPECT_EQ(Status().OpenCount, 1u);
    // Without an application nothing is accepted; bytes for it wait in the console.
    EXPECT_EQ(Status().FreeSpace, 0u);
}

TEST_F(PortDriverTest, EchoLeftByAnApplicationIsUndone)
{
    {
        App first(PortDriver::Instance().LinkPath(7), false);
        termios tio {};
        tcgetattr(first.Fd.Get(), &tio);
        tio.c_lflag |= ECHO | ICANON;
        tio.c_oflag |= OPOST | ONLCR;
        tcsetattr(first.Fd.Get(), TCSANOW, &tio);
        EXPECT_EQ(Status().OpenCount, 2u);
    }
    EXPECT_EQ(Status().OpenCount, 1u); // the console notices the release here

    App second(PortDriver::Instance().LinkPath(7), false);
    termios tio {};
    tcgetattr(second.Fd.Get(), &tio);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    Status();
    std::vector<uint8_t> line {'a', '\n', 'b'};
    ASSERT_TRUE(Driver().Write(Handle, line.data(), 3));
    EXPECT_EQ(second.ReadExactly(3), line);
    uint8_t buf[16];
    const PortDriver::ReadOutcome read = Driver().Read(Handle, buf, sizeof buf);
    EXPECT_EQ(read.Result, PortDriver::ReadResult::Nothing);
    EXPECT_EQ(read.Count, 0u);
}

TEST_F(PortDriverTest, FreeSpaceShrinksAndReturnsWithNothingLost)
{
    App app(PortDriver::Instance().LinkPath(7));
    ASSERT_TRUE(app.Ok());
    const uint32_t full = Status().FreeSpace;
    ASSERT_GT(full, 0u);

    // Fill the pseudo-terminal and then the driver's own room while the application sleeps.
    auto data = Pattern(400000);
    size_t offered = 0;
    while (offered < data.size()) {
        uint32_t room = Status().FreeSpace;
        if (room == 0)
            break;
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(room, data.size() - offered));
        ASSERT_TRUE(Driver().Write(Handle, data.data() + offered, n));
        offered += n;
    }
    ASSERT_LT(offered, data.size()) << "the driver never ran out of room";
    uint32_t room = Status().FreeSpace;
    ASSERT_LT(room, full);
    std::vector<uint8_t> tooMuch(room + 1, 0);
    EXPECT_FALSE(Driver().Write(Handle, tooMuch.data(), room + 1)) << "a write beyond the free space is refused whole";

    // The application reads; room comes back and the rest goes through.
    std::vector<uint8_t> received;
    ASSERT_TRUE(WaitUntil([&] {
        auto got = app.ReadAvailable();
        received.insert(received.end(), got.begin(), got.end());
        uint32_t room = Status().FreeSpace;
        if (room > 0 && offered < data.size()) {
            uint32_t n = static_cast<uint32_t>(std::min<size_t>(room, data.size() - offered));
            if (Driver().Write(Handle, data.data() + offered, n))
                offered += n;
        }
        return received.size() == data.size();
    }, 20));
    EXPECT_EQ(received, data);
    EXPECT_EQ(Status().FreeSpace, full);
}

TEST_F(PortDriverTest, OpensOnceAndOnlyWhenPresent)
{
    EXPECT_EQ(Driver().Open(7), INVALID_DRIVER_HANDLE) << "no sharing";
    EXPECT_EQ(Driver().Open(8), INVALID_DRIVER_HANDLE) << "no device";
    Driver().Close(Handle);
    Driver().Close(Handle); // a handle closed already closes nothing else
    PortStatus status {};
    EXPECT_FALSE(Driver().QueryStatus(Handle, &status));
    Handle = Driver().Open(7);
    EXPECT_NE(Handle, INVALID_DRIVER_HANDLE);
}

TEST_F(PortDriverTest, LinkFollowsTheDeviceAndLeadsThroughThisProcess)
{
    std::string link = PortDriver::Instance().LinkPath(7);
    EXPECT_EQ(link, DeviceLinkFolder() + "/COM7");
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind("/proc/" + std::to_string(getpid()) + "/fd/", 0), 0u);
    // Only this user may open the port: the tty group could write onto the network.
    struct stat st {};
    ASSERT_EQ(stat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode) && st.st_uid == geteuid());
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    PortDriver::Instance().DetachDevice(7);
    EXPECT_NE(access(link.c_str(), F_OK), 0);
    PortStatus status {};
    EXPECT_FALSE(Driver().QueryStatus(Handle, &status)) << "requests on a removed device fail";

    // A stale link left by a console that crashed is replaced.
    ASSERT_EQ(symlink("/nonexistent", (DeviceLinkFolder() + "/COM9").c_str()), 0);
    ASSERT_EQ(PortDriver::Instance().AttachDevice(9, DeviceLinkFolder()).Text(), "");
    App app(PortDriver::Instance().LinkPath(9));
    EXPECT_TRUE(app.Ok());
}

// A console killed with SIGKILL takes nothing down, yet its link must never lead
// into a terminal that another program got since.
TEST_F(PortDriverTest, LinkOfAKilledConsoleLeadsNowhere)
{
    const std::string link = DeviceLinkFolder() + "/COM11";
    const pid_t console = fork();
    ASSERT_GE(console, 0);
    if (console == 0) {
        PortDriver::Instance().AttachDevice(11, DeviceLinkFolder());
        for (;;)
            pause();
    }
    EXPECT_TRUE(WaitUntil([&] { return App(link).Ok(); })) << "the port opens while its console lives";
    kill(console, SIGKILL);
    ASSERT_EQ(waitpid(console, nullptr, 0), console);

    // Another program takes a new terminal, most likely the number just freed.
    const UniqueFd other(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(other && unlockpt(other.Get()) == 0);
    App late(link);
    const int error = errno;
    EXPECT_FALSE(late.Ok()) << "the link of a dead console opened " << ttyname(late.Fd.Get());
    EXPECT_TRUE(error == ENOENT || error == ENXIO) << strerror(error);
}

// With line reports on, the application's settings changes and flushes are reported
// beside its data, Read returns data bytes only, and an application that clears the
// line's modes (as some reset their settings) goes on being reported.
TEST_F(PortDriverTest, LineReportsCarryChangesBesideExactData)
{
    App app(PortDriver::Instance().LinkPath(7));
    ASSERT_TRUE(app.Ok());
    ASSERT_TRUE(Driver().SetLineReports(Handle, true));
    // Reads until the reports in `want` came; returns every bit seen.
    auto eventsWithin = [&](LineEvent want) {
        LineEvent seen = LineEvent::None;
        WaitUntil([&] {
            uint8_t buf[64];
            Driver().Read(Handle, buf, sizeof buf);
            seen |= Driver().TakeLineEvents(Handle);
            return (seen & want) == want;
        }, 5);
        return seen;
    };
    auto setLine = [&](speed_t speed, tcflag_t cflagOn, tcflag_t lflag) {
        termios tio {};
        tcgetattr(app.Fd.Get(), &tio);
        cfsetspeed(&tio, speed);
        tio.c_cflag |= cflagOn;
        tio.c_lflag = lflag;
        return tcsetattr(app.Fd.Get(), TCSANOW, &tio) == 0;
    };

    ASSERT_TRUE(setLine(B9600, CSTOPB | CRTSCTS, 0)); // lflag 0 also clears EXTPROC
    EXPECT_TRUE(Has(eventsWithin(LineEvent::SettingsChanged), LineEvent::SettingsChanged));
    LineSettings line;
    ASSERT_TRUE(Driver().ReadLineSettings(Handle, line));
    EXPECT_EQ(line, (LineSettings {9600, 8, LineSettings::Parity::None, LineSettings::StopBits::Two,
                                   LineSettings::Flow::Hardware}));
    ASSERT_TRUE(setLine(B115200, 0, 0));
    EXPECT_TRUE(Has(eventsWithin(LineEvent::SettingsChanged), LineEvent::SettingsChanged)) << "EXTPROC came back";

    tcflush(app.Fd.Get(), TCIFLUSH);
    tcflush(app.Fd.Get(), TCOFLUSH);
    const LineEvent flushes = LineEvent::FlushedInput | LineEvent::FlushedOutput;
    EXPECT_EQ(eventsWithin(flushes) & flushes, flushes);

    const auto all = AllByteValues();
    ASSERT_TRUE(app.WriteAll(all));
    EXPECT_EQ(ReadAll(all.size()), all);

    // Off again: a plain pseudo-terminal.
    ASSERT_TRUE(Driver().SetLineReports(Handle, false));
    ASSERT_TRUE(setLine(B4800, 0, 0));
    ASSERT_TRUE(app.WriteAll({'z'}));
    EXPECT_EQ(ReadAll(1), std::vector<uint8_t> {'z'});
    EXPECT_EQ(Driver().TakeLineEvents(Handle), LineEvent::None);
}

} // namespace
