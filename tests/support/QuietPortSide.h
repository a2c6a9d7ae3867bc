#pragma once
#include <vector>

#include "links/PortSide.h"
#include "platform/base/CriticalSection.h"

namespace qlntest {

// The port's side of a link for tests that use a link, or a connection, without a
// port object: what the link hands up is kept in Received; the lock is its own.
class QuietPortSide : public PortSide {
public:
    void FromNet(const uint8_t* data, size_t count, const OriginRef& from) override
    {
        Received.insert(Received.end(), data, data + count);
        Senders.push_back(from);
    }
    void DropFromNet(uint64_t source) override { Dropped.push_back(source); }
    bool ApplicationPresent() const override { return Present; }
    bool FromNetFull() const override { return Full; }
    size_t FromNetWaiting() const override { return Received.size(); }
    void DatagramDropped() override { ++DroppedDatagrams; }
    void PeerCameUp() override { ++PeersUp; }
    HostResolver* Resolver() const override { return nullptr; }
    bool ReadLineSettings(LineSettings& settings) override
    {
        settings = Line;
        return true;
    }
    CCriticalSection* Lock() const override { return &OwnLock; }
    std::string Name() const override { return "COM0"; }
    size_t LinkPosition(const CNetObject&) const override { return 1; }

    std::vector<uint8_t> Received;
    bool Full = false;
    int DroppedDatagrams = 0;
    std::vector<OriginRef> Senders;
    std::vector<uint64_t> Dropped;
    bool Present = false;
    int PeersUp = 0;
    LineSettings Line;
    mutable CCriticalSection OwnLock;
};

} // namespace qlntest
