#pragma once
// Bulk both ways through one console bridge of a layout, for the cases that set one
// layout of the console against another (RFC 2217 against raw, a monitor against
// none). Main thread only.
#include <array>

#include "Bridge.h"
#include "BridgeMeasures.h"

namespace bench {

// One way: megabytes per second, and the console's CPU milliseconds per megabyte
// (less swayed by other load on the machine).
struct Way {
    double MBps, CpuMsPerMB;
};

// Application to network, then network to application; through the peer's Telnet
// end when the layout gives it one.
inline std::array<Way, 2> BulkThrough(const Options& options, const Layout& layout)
{
    Bridge bridge(Who::Console, layout, options);
    PortEnds& ends = bridge.Ports[0];
    TelnetPeer* telnet = ends.PeerTelnet.get();
    Exchange(ends.App.Get(), ends.Peer.Get(), bridge.Name, telnet);
    const double mb = static_cast<double>(options.Bytes) / 1e6;
    const Reading start = bridge.Read();
    const double toNet = Transfer(bridge.Name + ", application to network", ends.App.Get(), ends.Peer.Get(),
                                  options.Bytes, nullptr, telnet);
    const Reading middle = bridge.Read();
    const double toApp = Transfer(bridge.Name + ", network to application", ends.Peer.Get(), ends.App.Get(),
                                  options.Bytes, telnet, nullptr);
    const Reading end = bridge.Read();
    return {Way {mb / toNet, (middle.Cpu - start.Cpu) * 1000 / mb}, Way {mb / toApp, (end.Cpu - middle.Cpu) * 1000 / mb}};
}

} // namespace bench
