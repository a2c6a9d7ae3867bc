#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "console/LinkFields.h"
#include "console/StoredSettings.h"
#include "forwarding/PortObject.h"
#include "ports/QLNManager.h"

// One problem of the configuration file, where it is and what comes of it:
// "<file>:14: [COM3] Net2LocalPort=abc: not a number; link 2 left out".
struct ConfigProblem {
    size_t Line = 0;      // from 1
    std::string Section;  // "COM3"; empty outside every section
    std::string Subject;  // "Net2LocalPort=abc", "link 2"; empty for the section itself
    std::string What;     // "not a number; link 2 left out"

    // The line as the check prints it and the event log says it.
    std::string Text(const std::string& path) const;
};

// One link entry of a port's section, as the file describes it.
struct StoredLink {
    int32_t Index = 0; // its i in "Net<i>Type"
    size_t Line = 0;   // of its "Net<i>Type"
    LinkFields Fields;
    uint16_t LocalPort = 0;
    uint16_t RemotePort = 0;
    bool AutoReconnect = false;
    int32_t ReconnectIntervalTime = DefaultReconnectInterval;
    // Its settings cannot serve (said among the problems): the link is made, but it
    // never listens or connects.
    bool CannotServe = false;

    // Makes the link (CPortObject::AddLink starts it), with the options above.
    CPortObject::LinkMaker Maker() const;
};

// What a port's section holds, with what could not be taken left out.
struct StoredPort {
    StoredPortOptions Options;
    std::vector<StoredLink> Links; // in the order of their numbers
};

// The configuration file read once, as a start reads it, with every problem of it
// found: lines that are neither section nor key, keys the console does not know,
// values that are not numbers, values that reach the reader's bound (taken as cut,
// so that a cut allow list never serves as a wider one), a "NetCount" that does not
// match the entries, entries whose link cannot be made or whose settings cannot
// serve (their allow list, client limit, listen address or TLS files), ranges with
// host bits set (kept, matching as their network), and sections for ports that are
// not installed. Nothing that is left out or ignored goes without a problem.
//
// The load, the reload and the check all read this way; only the check stops here.
// Reading applies nothing; it reads the TLS files and asks the system whether a
// listen address is one of this machine's, and binds nothing.
class StoredConfig {
public:
    // `text`: the file at `path`; `installed`: the numbers of the installed ports.
    StoredConfig(std::string path, std::string_view text, const std::vector<int32_t>& installed);

    // The port's options and links; defaults and none for a port without a section.
    const StoredPort& Port(int32_t number) const;

    // A problem found while applying: the link could not come up for a reason of
    // its settings ("cannot listen: Cannot assign requested address").
    void LinkFailed(const std::string& section, const StoredLink& link, const std::string& what);

    // Every problem, in the file's order, as lines (ConfigProblem::Text).
    std::vector<std::string> ProblemLines() const;
    size_t ProblemCount() const { return Problems.size(); }

private:
    struct Key;
    struct Section;
    void Add(size_t line, const std::string& section, std::string subject, std::string what);
    void ReadPort(const Section& section, StoredPort& port);
    void ReadLink(const Section& section, int32_t index, const std::map<std::string, const Key*>& keys,
                  int32_t count, StoredPort& port);
    void ReadGeneral(const Section& section);

    std::string Path;
    std::map<int32_t, StoredPort> Ports;
    StoredPort Defaults;
    std::vector<ConfigProblem> Problems;
};

// The check of the configuration file at `path` for the ports `installed`: the lines
// of its problems, or, when it has none, none. A file that cannot be read is one
// problem.
std::vector<std::string> CheckConfigFile(const std::string& path, const std::vector<int32_t>& installed);

// Whether a link that a start or reload made and that could not start (`why`) failed
// for a reason of its settings, rather than for a local port another socket still
// holds (which it takes once that one lets go).
bool FailedBySettings(const Failure& why);

// The numbers of `ports`.
std::vector<int32_t> PortNumbers(const CQLNManager::PortList& ports);
// "; 2 problems" for a summary line; empty for none.
std::string ProblemsText(size_t problems);

// Adds and starts the link of `entry` on `port` (`made`: the link made already, else
// made here), kept also when it cannot listen (KeepAndRetry). A failure of its
// settings that reading did not find (an address that cannot be bound) becomes a
// problem of `stored`. Manager lock held.
struct StartedLink {
    CNetObject* Link = nullptr; // null: it could not be made
    Failure Failed;             // why it cannot serve for a reason of its settings; empty when it can
};
StartedLink StartStoredLink(CPortObject& port, const StoredLink& entry, StoredConfig& stored,
                            std::unique_ptr<CNetObject> made = nullptr);
