#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console/LinkFields.h"
#include "console/TrafficText.h"

// One quillonctl command, read from its words as typed on the command line (and as
// carried to the console, which reads them again: the console trusts no client).
// Only the shape is checked here; numbers that the window checks (ports, delays,
// intervals) stay texts, so that the console model refuses them with its own
// messages.
struct ControlCommand {
    enum class Verb {
        Status,
        PortAdd,
        PortRemove,
        LinkAdd,
        LinkRemove,
        LinkReconnect,
        SetSendDelay,
        SetReceiveDelay,
        SetLog,
        Events,
        Monitor,
        Reload,
    };

    Verb Action = Verb::Status;
    bool Json = false;        // status
    bool Follow = false;      // status: what changed, whenever it changes (the console answers
                              // with the facts to compare); events: new ones as they come
    bool Numbered = false;    // events --after: each line starts with the event's number
    uint64_t After = 0;       // events --after: only events numbered above this
    int32_t Port = 0;         // the COM number; PortAdd: 0 lets the console choose
    bool Force = false;       // PortAdd: also a number the database has in use
    LinkFields Link;            // LinkAdd: texts as typed
    bool NoReconnect = false; // LinkAdd, TCP client
    bool HasInterval = false; // LinkAdd, TCP client
    std::string Interval;     // as typed
    size_t Index = 0;         // LinkRemove, LinkReconnect: from 1, in list order
    std::string Value;        // SetSendDelay, SetReceiveDelay: as typed; SetLog: the file, empty for off
    bool Hex = false;         // SetLog
    bool Timestamps = false;  // SetLog
    size_t FileWord = 0;      // SetLog: which word holds the file (0: none)
    std::vector<size_t> PathWords; // LinkAdd: which words hold TLS files, for making them absolute
    TrafficView View = TrafficView::Dump; // Monitor: how the bytes are shown (the client's choice)
};

struct ParsedCommand {
    bool Ok = false;
    ControlCommand Command;
    std::string Error; // what is wrong with the words, for a usage message
};

// Reads the words after the program's name.
ParsedCommand ParseControlCommand(const std::vector<std::string>& words);

// The synopsis, one command per line.
std::string ControlUsage();
