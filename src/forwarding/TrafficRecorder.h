#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "forwarding/TrafficLog.h"
#include "forwarding/TrafficTap.h"
#include "links/Origin.h"

class PortLinkSet;

// Who sent a stretch of the bytes waiting for the application, in the queue's order.
struct SenderStretch {
    OriginRef From;
    size_t Length;
};

// What a port tells of the chunks it moves: its traffic log and the monitors' taps.
// Without a tap and without timestamps a chunk costs one test: no clock, no copy, no
// system call. Guarded by the manager lock (the caller holds it).
class TrafficRecorder {
public:
    // `links` (the port's) name where chunks went and who sent them.
    TrafficRecorder(const std::string& portName, const PortLinkSet& links);
    TrafficRecorder(const TrafficRecorder&) = delete;
    TrafficRecorder& operator=(const TrafficRecorder&) = delete;

    TrafficLog& Log() { return TheLog; }
    // A tap gets a record of every chunk until it is removed.
    void AddTap(std::shared_ptr<TrafficTap> tap);
    void RemoveTap(const TrafficTap* tap);

    // A chunk passed the port (inbound: it was written to the application; its
    // senders are the stretches at the front of `senders`): the log gets it, with a
    // record per sender when it is timestamped, and so does every tap.
    void Passed(bool inbound, const uint8_t* data, uint32_t count, const std::deque<SenderStretch>& senders);

private:
    // The monitors' and a timestamped log's records; false, having done nothing, when
    // there is neither and the log's plain record is all.
    bool Tell(bool inbound, const uint8_t* data, uint32_t count, const std::deque<SenderStretch>& senders);

    const std::string PortName;
    const PortLinkSet& Links;
    TrafficLog TheLog;
    std::vector<std::shared_ptr<TrafficTap>> Taps;
};
