#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/config/ProfileFile.h"
#include "ports/QLNManager.h"

// What the configuration's load and its reload read of the file (ConsoleSettings.cpp),
// so that both make the same options and links of the same section. A value that no
// entrance would take is left out and said in the event log, naming its section and
// key, as at every load.

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
StoredPortOptions ReadPortOptions(const ProfileFile::Snapshot& file, const std::string& section);

// The largest i for which the text has a key "Net<i>Type"; entries above it are
// never read (see ConsoleSettings.cpp).
int32_t HighestLinkIndexIn(std::string_view content);

// The section's link entries, in order, as makers of their links (CPortObject::AddLink
// starts them, with the options the file gives them). An entry of an unknown kind, or
// with a value no entrance would take, is left out.
std::vector<CPortObject::LinkMaker> ReadStoredLinks(const ProfileFile::Snapshot& file, const std::string& section,
                                                    int32_t highestIndex);

// The numbers of the sections "COM<n>" of the text, in the file's order, each once.
std::vector<int32_t> StoredPortNumbers(std::string_view content);
// Says in the event log that each section of the text for a port that is not one of
// `ports` is skipped.
void SaySkippedSections(std::string_view content, const CQLNManager::PortList& ports);

// What the save writes for `link` (as the port's entry 1), without the two options
// a link takes without being made anew (AutoReconnect, ReconnectIntervalTime): two
// links with the same identity are the same link. Lock held by the caller.
ProfileFile::KeyValues LinkIdentity(const CNetObject& link);
