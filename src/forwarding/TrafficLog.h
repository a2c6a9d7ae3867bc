#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The traffic log of one port: a file to which every chunk the port moves is
// appended as one record, "I:" (to the application) or "O:" (to the network) and
// the bytes as they are (mode 0) or as hexadecimal text and a line end (mode 1).
// The log is on while its file name is not empty.
//
// The file is opened for each record and closed after it, so it is complete between
// records and other programs may read, move or delete it at any time (a deleted log
// is created again by the next record). Nothing here is reported: a record that
// cannot be written is lost, and the traffic never depends on the log.
//
// Not synchronized: its port calls it under the manager lock.
class TrafficLog {
public:
    const std::string& FileName() const { return Name; }
    // Takes the name (empty: off); a non-empty name has the file created at once,
    // nothing written.
    void SetFileName(std::string name);
    int32_t Mode() const { return LogMode; }
    void SetMode(int32_t mode) { LogMode = mode; }

    // One record of `count` bytes (1 to 8192).
    void Write(bool inbound, const uint8_t* data, uint32_t count);

private:
    std::string Name;
    int32_t LogMode = 0;
    std::vector<char> Text; // the hexadecimal form of the record being written
};
