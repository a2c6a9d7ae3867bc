// Implements TrafficRecorder: the traffic log's records and the monitors' taps.
#include "forwarding/TrafficRecorder.h"

#include <algorithm>

#include "forwarding/PortLinkSet.h"

TrafficRecorder::TrafficRecorder(const std::string& portName, const PortLinkSet& links)
    : PortName(portName), Links(links)
{
    TheLog.SetPortName(portName);
}

void TrafficRecorder::AddTap(std::shared_ptr<TrafficTap> tap)
{
    if (tap)
        Taps.push_back(std::move(tap));
}

void TrafficRecorder::RemoveTap(const TrafficTap* tap)
{
    std::erase_if(Taps, [tap](const auto& held) { return held.get() == tap; });
}

void TrafficRecorder::Passed(bool inbound, const uint8_t* data, uint32_t count,
                             const std::deque<SenderStretch>& senders)
{
    if (!Tell(inbound, data, count, senders))
        TheLog.Write(inbound, data, count);
}

bool TrafficRecorder::Tell(bool inbound, const uint8_t* data, uint32_t count,
                           const std::deque<SenderStretch>& senders)
{
    const bool stamped = TheLog.Timestamps() && !TheLog.FileName().empty();
    if (Taps.empty() && !stamped)
        return false;
    // Monitors that stopped taking only count what passes until they take again: no
    // record is made for them (a chunk in is a record per sender).
    if (!stamped && std::all_of(Taps.begin(), Taps.end(), [](const auto& tap) { return tap->Missing(); })) {
        uint64_t records = 1;
        if (inbound) {
            records = 0;
            size_t covered = 0;
            for (auto stretch = senders.begin(); covered < count; ++records) {
                if (stretch == senders.end())
                    covered = count; // bytes of no known sender: one record
                else
                    covered += (stretch++)->Length;
            }
        }
        for (const std::shared_ptr<TrafficTap>& tap : Taps)
            tap->Miss(records);
        return false;
    }
    const int64_t now = WallClockNow();
    auto record = [&](const uint8_t* bytes, uint32_t length, const std::string& where) {
        TheLog.Write(inbound, bytes, length, now, where);
        for (const std::shared_ptr<TrafficTap>& tap : Taps)
            tap->Offer(now, inbound, where, bytes, length);
    };
    if (!inbound) {
        record(data, count, Links.Destinations());
        return true;
    }
    // One record per sender: the chunk may hold the bytes of several peers.
    uint32_t at = 0;
    for (auto stretch = senders.begin(); at < count; ++stretch) {
        const bool known = stretch != senders.end();
        const uint32_t length = known ? static_cast<uint32_t>(std::min<size_t>(count - at, stretch->Length))
                                      : count - at;
        record(data + at, length, known ? Links.SenderName(stretch->From, PortName) : std::string());
        at += length;
        if (!known)
            break;
    }
    return true;
}
