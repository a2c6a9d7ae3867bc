// The traffic log of a port: one record per chunk, opened and closed per record so
// the file is complete between records and other programs may read, move or delete
// it at any time.
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "forwarding/PortObject.h"

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

// A write that fails part-way (a full disk) loses the rest of this record only.
void WriteAll(int fd, const std::string& record)
{
    size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(fd, record.data() + done, record.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
}

} // namespace

void CPortObject::SetLogFile(const char* name)
{
    CGuard guard(ManagerLock);
    LogFilename = name ? name : "";
    if (LogFilename.empty())
        return;
    const int fd = OpenLog(LogFilename);
    if (fd >= 0)
        ::close(fd);
}

void CPortObject::WriteLog(bool inbound, const uint8_t* data, uint32_t count)
{
    CGuard guard(ManagerLock);
    if (LogFilename.empty() || !data || count == 0)
        return;
    std::string record;
    try {
        record = inbound ? "I:" : "O:";
        if (LogMode == 0) {
            record.append(reinterpret_cast<const char*>(data), count);
        } else {
            static const char Digits[] = "0123456789ABCDEF";
            record.reserve(2 + 2 * static_cast<size_t>(count) + 2);
            for (uint32_t i = 0; i < count; ++i) {
                record.push_back(Digits[data[i] >> 4]);
                record.push_back(Digits[data[i] & 0x0F]);
            }
            record += "\r\n";
        }
    } catch (...) {
        return; // no memory for the record: it is lost, the traffic goes on
    }
    const int fd = OpenLog(LogFilename);
    if (fd < 0)
        return;
    WriteAll(fd, record);
    ::close(fd);
}
