// Implements TrafficLog: one record per chunk, the file opened and closed per record.
#include "forwarding/TrafficLog.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

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
        return -1;
    }
    return fd;
}

// Writes the pieces in order; a write that fails part-way (a full disk) loses the
// rest of this record only.
void WriteAll(int fd, iovec* pieces, int count)
{
    while (count > 0) {
        const ssize_t n = ::writev(fd, pieces, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
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

void TrafficLog::SetFileName(std::string name)
{
    Name = std::move(name);
    if (Name.empty())
        return;
    const int fd = OpenLog(Name);
    if (fd >= 0)
        ::close(fd);
}

void TrafficLog::Write(bool inbound, const uint8_t* data, uint32_t count)
{
    if (Name.empty() || !data || count == 0)
        return;
    const int fd = OpenLog(Name);
    if (fd < 0)
        return;
    static const char LineEnd[] = "\r\n";
    iovec pieces[3];
    pieces[0] = {const_cast<char*>(inbound ? "I:" : "O:"), 2};
    if (LogMode == 0) {
        pieces[1] = {const_cast<uint8_t*>(data), count};
        WriteAll(fd, pieces, 2);
    } else {
        Text.resize(2 * static_cast<size_t>(count));
        char* out = Text.data();
        for (uint32_t i = 0; i < count; ++i, out += 2) {
            out[0] = Hex.Pairs[data[i]][0];
            out[1] = Hex.Pairs[data[i]][1];
        }
        pieces[1] = {Text.data(), Text.size()};
        pieces[2] = {const_cast<char*>(LineEnd), 2};
        WriteAll(fd, pieces, 3);
    }
    ::close(fd);
}
