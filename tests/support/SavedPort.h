#pragma once
// One port's options and links, and the section a save of them must leave: the
// window's save test sets them on a port directly, the console model's round trip
// through its commands; both expect the file that erasing the section and then
// writing these keys one by one gives.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/config/AtomicFile.h"
#include "platform/config/ProfileFile.h"
#include "support/Files.h"
#include "support/Loopback.h"

namespace qlntest {

struct SavedPort {
    using Keys = std::vector<std::pair<std::string, std::string>>;

    explicit SavedPort(const std::string& folder)
        : Log(folder + "/log file.txt "), Listen(FreePort(SOCK_STREAM)), Local(FreePort(SOCK_DGRAM))
    {
    }

    int32_t Send = -5;
    int32_t Receive = 0x7fffffff;
    std::string Log; // blanks at the end: written in quotes
    int32_t LogMode = 1;
    // A TCP client that does not reconnect by itself, a TCP server and a UDP link.
    std::string ClientHost = "localhost";
    uint16_t ClientPort = 7;
    int32_t Interval = 1234;
    uint16_t Listen;
    uint16_t Local;
    std::string UdpHost = "127.0.0.1";
    uint16_t UdpPort = 65535;
    std::string UdpLocalAddr = "127.0.0.1"; // kept on this machine
    // The server link speaks RFC 2217.

    // The keys of its section, in the order a save writes them.
    Keys SectionKeys() const
    {
        return {{"SendToNetDelayTime", std::to_string(Send)},
                {"ReceiveFromNetDelayTime", std::to_string(Receive)},
                {"LogFilename", Log}, {"LogMode", std::to_string(LogMode)}, {"NetCount", "3"},
                {"Net1Type", "1"}, {"Net1RemoteAddr", ClientHost},
                {"Net1RemotePort", std::to_string(ClientPort)}, {"Net1AutoReconnect", "0"},
                {"Net1ReconnectIntervalTime", std::to_string(Interval)},
                {"Net2Type", "2"}, {"Net2LocalPort", std::to_string(Listen)}, {"Net2Rfc2217", "1"},
                {"Net3Type", "3"}, {"Net3LocalPort", std::to_string(Local)},
                {"Net3RemoteAddr", UdpHost}, {"Net3RemotePort", std::to_string(UdpPort)},
                {"Net3LocalAddr", UdpLocalAddr}};
    }
};

// The file `before` (empty: no file) after erasing `section` and writing `keys` one
// by one; `scratch` is the path the copy is made at.
inline std::string WrittenKeyByKey(const std::string& scratch, const std::string& before,
                                   const std::string& section, const SavedPort::Keys& keys)
{
    if (!before.empty()) {
        EXPECT_EQ(ReplaceFileAtomically(scratch, before).Text(), "");
    }
    ProfileFile file(scratch);
    EXPECT_EQ(file.EraseSection(section).Text(), "");
    for (const auto& [key, value] : keys)
        EXPECT_EQ(file.WriteString(section, key, value).Text(), "");
    return FileText(scratch);
}

} // namespace qlntest
