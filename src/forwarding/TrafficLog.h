#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/base/Failure.h"
#include "platform/base/UniqueFd.h"

// The traffic log of one port: a file to which every chunk the port moves is
// appended as one record, "I:" (to the application) or "O:" (to the network) and
// the bytes as they are (mode 0) or as hexadecimal text and a line end (mode 1).
// The log is on while its file name is not empty.
//
// With timestamps, each record starts with "[<local time> <count> <where>] " before
// its mark: "[2026-12-07 17:30:01.123 7 COM1 #1 tcp-server 7000 127.0.0.1:50412] I:Hello\r\n"
// (raw) or "… I:48656C6C6F0D0A" and a line end (hexadecimal). The count delimits a
// raw record; a chunk for the application that came from several peers is then one
// record per peer. Without them the records are exactly as they always were.
//
// Each record is written whole with one call, so the file is complete between
// records. The file stays open between records for as long as its path names it:
// other programs may read, move or delete it at any time, and a record after that
// goes to a new file at the path (a deleted log is seen at the next record, a moved
// or replaced one within a second).
//
// The traffic never depends on the log: a record that cannot be written (a full
// disk, a quota, an I/O error, a folder that went) is lost. The log then counts as
// stopped: State says why and since when, the event log says so once, and the
// records of the next second are dropped without a try (so a full disk costs no
// system calls per chunk); the first record after that tries again, and the log
// resumes as soon as one is written.
//
// Not synchronized: its port calls it under the manager lock.
struct TrafficLogState {
    bool Stopped = false;
    std::string Reason;        // why the last record failed: "No space left on device"
    int64_t Since = 0;         // when it stopped, wall clock, milliseconds since 1970
    uint64_t LostRecords = 0;  // since it stopped
};

class TrafficLog {
public:
    TrafficLog() = default;
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;
    ~TrafficLog();

    const std::string& FileName() const { return Name; }
    // Takes the name (empty: off); a non-empty name has the file created at once,
    // nothing written. A file that cannot be opened stops the log from now, as a
    // record that failed would; the next record after RetryInterval tries again.
    void SetFileName(std::string name);
    // The port whose log this is, as the event log names it ("COM3").
    void SetPortName(std::string port) { Port = std::move(port); }
    int32_t Mode() const { return LogMode; }
    void SetMode(int32_t mode) { LogMode = mode; }
    bool Timestamps() const { return Stamped; }
    void SetTimestamps(bool on) { Stamped = on; }

    // One record of `count` bytes (1 to 8192).
    void Write(bool inbound, const uint8_t* data, uint32_t count);
    // The same with its time (wall clock, milliseconds since 1970) and where the bytes
    // came from or went to, which a log with timestamps writes in front.
    void Write(bool inbound, const uint8_t* data, uint32_t count, int64_t time, const std::string& where);

    // Whether the log is stopped; a new name starts afresh.
    const TrafficLogState& State() const { return Status; }
    // How long a stopped log waits before it tries again.
    static constexpr std::chrono::seconds RetryInterval {1};

private:
    // Writes the record, with Stamp in front when it is not empty.
    void WriteRecord(bool inbound, const uint8_t* data, uint32_t count);
    // False, with errno, when the file cannot be opened as a log.
    bool Reopen();
    bool StillNamed();
    // A record was lost because of `errorNumber` in `call`.
    void Stop(const char* call, int errorNumber, std::chrono::steady_clock::time_point now);
    // The log stops for `why` (and says so) unless it is stopped already.
    void StopFor(const Failure& why);

    std::string Name;
    std::string Port;
    UniqueFd File;      // the open log, or none
    dev_t Device = 0;   // what File is, to tell whether the path still names it
    ino_t Inode = 0;
    std::chrono::steady_clock::time_point CheckedAt;
    int32_t LogMode = 0;
    bool Stamped = false;
    std::string Stamp;      // the prefix of the record being written
    std::vector<char> Text; // the hexadecimal form of the record being written
    TrafficLogState Status;
    std::chrono::steady_clock::time_point RetryAt; // while stopped: no try before
};
