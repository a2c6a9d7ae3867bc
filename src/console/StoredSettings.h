#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/config/ProfileFile.h"
#include "ports/QLNManager.h"

// What the configuration's load and its reload share of the file's sections
// (ConsoleSettings.cpp); both read the file through StoredConfig.

// "COM3".
std::string PortSection(int32_t number);

// A port's options as its section holds them.
struct StoredPortOptions {
    int32_t SendToNetDelayTime = 0;
    int32_t ReceiveFromNetDelayTime = 0;
    std::string LogFilename; // empty also when the stored name cannot be a path
    int32_t LogMode = 0;     // 0 or 1
    bool LogTimestamps = false;
};

// What the save writes for `link` (as the port's entry 1), without the two options
// a link takes without being made anew (AutoReconnect, ReconnectIntervalTime): two
// links with the same identity are the same link. Lock held by the caller.
ProfileFile::KeyValues LinkIdentity(const CNetObject& link);
