// The traffic log of a port: one record per chunk, opened and closed per record so
// the file is complete between records and other programs may read, move or delete
// it at any time.
#include <string>

#include "ports/PortObject.h"

namespace {

constexpr std::ios::openmode LogOpenMode = std::ios::out | std::ios::app | std::ios::binary;

} // namespace

void CPortObject::SetLogFile(const char* name)
{
    CGuard guard(ManagerLock);
    LogFilename = name ? name : "";
    if (LogFilename.empty())
        return;
    try {
        LogStream.open(LogFilename, LogOpenMode);
        LogStream.close();
    } catch (...) {
    }
    LogStream.clear();
}

void CPortObject::WriteLog(bool inbound, const uint8_t* data, uint32_t count)
{
    CGuard guard(ManagerLock);
    if (LogFilename.empty() || !data || count == 0)
        return;
    try {
        LogStream.open(LogFilename, LogOpenMode);
        if (LogStream.is_open()) {
            std::string record = inbound ? "I:" : "O:";
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
            LogStream.write(record.data(), static_cast<std::streamsize>(record.size()));
        }
        // A write that fails part-way (a full disk) loses the rest of this record only.
        LogStream.close();
    } catch (...) {
        try {
            LogStream.close();
        } catch (...) {
        }
    }
    LogStream.clear();
}
