// Implements TrafficLog: one record per chunk, the file kept open while its path names it.
#include "forwarding/TrafficLog.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/base/EventLog.h"
#include "platform/base/Failure.h"
#include "platform/base/TickCount.h"

namespace {

// Opens the log for appending, creating it (0666 less the umask) and never
// truncating it. The open never waits: the pump holds the manager lock while it
// writes a record, so a FIFO without a reader, a terminal or any other device named
// as the log would otherwise stall every port and the window. Only a regular file is
// a log; anything else counts as a file that cannot be opened. -1 then; the caller
// owns and closes the descriptor otherwise.
int OpenLog(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Writes the pieces in order; a write that fails part-way (a full disk) loses the
// rest of this record only. False, with errno, when a write failed.
bool WriteAll(int fd, iovec* pieces, int count)
{
    while (count > 0) {
        const ssize_t n = ::writev(fd, pieces, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO; // a regular file that takes nothing and says nothing
            return false;
        }
        size_t done = static_cast<size_t>(n);
        while (count > 0 && done >= pieces->iov_len) {
            done -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + done;
            pieces->iov_len -= done;
        }
    }
    return true;
}

// The two hexadecimal digits of every byte value, upper case, high half first.
struct HexDigits {
    char Pairs[256][2];
    HexDigits()
    {
        static const char Digits[] = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) {
            Pairs[b][0] = Digits[b >> 4];
            Pairs[b][1] = Digits[b & 0x0F];
        }
    }
};
const HexDigits Hex;

} // namespace

// How often a record looks whether the log's path still names the open file (it
// was renamed, or another file put in its place). A deletion is seen at once.
constexpr auto PathCheckInterval = std::chrono::seconds(1);

TrafficLog::~TrafficLog() = default;

void TrafficLog::SetFileName(std::string name)
{
    Name = std::move(name);
    File.Reset();
    Status = TrafficLogState();
    if (Name.empty())
        return;
    // The file exists from now on, whether or not a record ever comes.
    if (!Reopen()) {
        RetryAt = std::chrono::steady_clock::now() + RetryInterval;
        StopFor(Failure::OfCall("open", errno));
    }
}

bool TrafficLog::Reopen()
{
    File.Reset(OpenLog(Name));
    const int error = errno;
    struct stat st {};
    if (File.Valid() && ::fstat(File.Get(), &st) == 0) {
        Device = st.st_dev;
        Inode = st.st_ino;
    }
    CheckedAt = std::chrono::steady_clock::now();
    errno = error;
    return File.Valid();
}

void TrafficLog::Stop(const char* call, int errorNumber, std::chrono::steady_clock::time_point now)
{
    ++Status.LostRecords;
    RetryAt = now + RetryInterval;
    StopFor(Failure::OfCall(call, errorNumber));
}

void TrafficLog::StopFor(const Failure& why)
{
    if (Status.Stopped)
        return;
    Status.Stopped = true;
    Status.Reason = why.Reason();
    Status.Since = WallClockNow();
    SayEvent(EventLevel::Error, Port,
             "log " + Name + " stopped: " + why.Text() + "; records are lost until it can be written again");
}

// Whether the open file is still the one the path names: not deleted (it has a
// name left), and, looked at once a second, the path leads to it.
bool TrafficLog::StillNamed()
{
    struct stat st {};
    if (::fstat(File.Get(), &st) != 0 || st.st_nlink == 0)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - CheckedAt < PathCheckInterval)
        return true;
    CheckedAt = now;
    return ::stat(Name.c_str(), &st) == 0 && st.st_dev == Device && st.st_ino == Inode;
}

void TrafficLog::Write(bool inbound, const uint8_t* data, uint32_t count)
{
    Stamp.clear();
    WriteRecord(inbound, data, count);
}

void TrafficLog::Write(bool inbound, const uint8_t* data, uint32_t count, int64_t time, const std::string& where)
{
    Stamp.clear();
    if (Stamped && !Name.empty()) {
        Stamp = "[" + EventLog::TimeText(time) + " " + std::to_string(count);
        if (!where.empty())
            Stamp += " " + where;
        Stamp += "] ";
    }
    WriteRecord(inbound, data, count);
}

void TrafficLog::WriteRecord(bool inbound, const uint8_t* data, uint32_t count)
{
    if (Name.empty() || !data || count == 0)
        return;
    std::chrono::steady_clock::time_point now {};
    if (Status.Stopped) {
        now = std::chrono::steady_clock::now();
        if (now < RetryAt) {
            ++Status.LostRecords;
            return;
        }
    }
    if ((!File.Valid() || !StillNamed()) && !Reopen()) {
        Stop("open", errno, Status.Stopped ? now : std::chrono::steady_clock::now());
        return; // this record is lost
    }
    static const char LineEnd[] = "\r\n";
    iovec pieces[4];
    int used = 0;
    if (!Stamp.empty())
        pieces[used++] = {Stamp.data(), Stamp.size()};
    pieces[used++] = {const_cast<char*>(inbound ? "I:" : "O:"), 2};
    bool written = false;
    if (LogMode == 0) {
        pieces[used++] = {const_cast<uint8_t*>(data), count};
        written = WriteAll(File.Get(), pieces, used);
    } else {
        Text.resize(2 * static_cast<size_t>(count));
        char* out = Text.data();
        for (uint32_t i = 0; i < count; ++i, out += 2) {
            out[0] = Hex.Pairs[data[i]][0];
            out[1] = Hex.Pairs[data[i]][1];
        }
        pieces[used++] = {Text.data(), Text.size()};
        pieces[used++] = {const_cast<char*>(LineEnd), 2};
        written = WriteAll(File.Get(), pieces, used);
    }
    if (!written) {
        Stop("write", errno, Status.Stopped ? now : std::chrono::steady_clock::now());
    } else if (Status.Stopped) {
        SayEvent(EventLevel::Notice, Port,
                 "log " + Name + " resumed; " + std::to_string(Status.LostRecords) + " records were lost");
        Status = TrafficLogState();
    }
}
