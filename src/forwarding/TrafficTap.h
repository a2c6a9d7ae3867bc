#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// One chunk as a monitor sees it: when it passed the port, which way, where it came
// from or went to, and its bytes.
struct TrafficRecord {
    int64_t Time = 0;         // wall clock, milliseconds since 1970
    bool Inbound = false;     // true: to the application, from the network
    // The link and peer: "tcp-server 7000 127.0.0.1:50412" for bytes that came in;
    // for bytes that went out, every link that took them with each of its peers,
    // joined by ", ".
    std::string Where;
    std::vector<uint8_t> Bytes;
};

// What one monitor has not taken yet of a port's traffic: a bounded queue that the
// pump fills as chunks pass and the monitor empties in its own time.
//
// The pump never waits for a monitor: beyond ByteLimit bytes (or RecordLimit
// records) waiting, a record is not kept but counted as missed, and so is every
// record after it until the monitor takes: what it takes is the traffic as it passed,
// then the count of what followed. A monitor that keeps up misses nothing.
//
// Guarded by the manager lock: the pump offers with it held, the monitor takes with
// it held. The wake is called by Offer, on the pump thread with the lock held, when
// records start to wait and none was said since the last Take: it may only schedule
// the take (post to an event loop), never take itself or wait.
class TrafficTap {
public:
    using Wake = std::function<void()>;
    static constexpr size_t DefaultByteLimit = 4u << 20;
    static constexpr size_t RecordLimit = 16384;

    explicit TrafficTap(Wake wake = {}, size_t byteLimit = DefaultByteLimit);
    TrafficTap(const TrafficTap&) = delete;
    TrafficTap& operator=(const TrafficTap&) = delete;

    // One record of `count` bytes; a copy is kept, or the record counted as missed.
    void Offer(int64_t time, bool inbound, const std::string& where, const uint8_t* data, size_t count);
    // Whether records are only counted until the next take: the pump then need not
    // make them, and counts them with Miss.
    bool Missing() const { return Missed > 0; }
    void Miss(uint64_t records) { Missed += records; }
    // Appends what waits to `records`, oldest first, and adds the records missed
    // after them to `missed`; the next record wakes again.
    void Take(std::vector<TrafficRecord>& records, uint64_t& missed);
    size_t WaitingBytes() const { return Bytes; }

private:
    Wake WakeUp;
    const size_t ByteLimit;
    std::deque<TrafficRecord> Records;
    size_t Bytes = 0;
    uint64_t Missed = 0;
    bool WakeSaid = false;
};
