#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/NetAddress.h"
#include "platform/base/Failure.h"

// The peers a listening link takes: IPv4 and IPv6 addresses and CIDR ranges, as a
// user writes them ("127.0.0.2,10.0.0.0/8,::1/128,fd00::/8"). Parsed without any
// name service. An IPv4 peer that a dual-stack socket shows as ::ffff:a.b.c.d
// matches the IPv4 entries, and an IPv6 entry inside ::ffff:0:0/96 is taken as the
// IPv4 range it stands for.
//
// An empty list takes everyone. A plain value; any thread.
class AllowList {
public:
    // Reads `text` into `out`; blanks around entries are ignored. On the first bad
    // entry answers a Failure whose words name it ("10.0.0.0/33: prefix longer than
    // 32") and leaves `out` as it was. A range with host
    // bits set ("10.0.0.5/8") is taken as its network; `hostBits`, when given, gets
    // one line for each such entry with the form meant ("10.0.0.5/8: host bits set;
    // 10.0.0.0/8?"), for a caller that refuses them or warns of them.
    static Failure Parse(std::string_view text, AllowList& out, std::vector<std::string>* hostBits = nullptr);

    bool Empty() const { return Ranges.empty(); }
    // Whether `peer` is inside some entry; true for every peer of an empty list.
    bool Allows(const NetAddress& peer) const;

private:
    struct Range {
        int Family = 0;         // AF_INET or AF_INET6
        uint8_t Bytes[16] = {}; // the address, network order; 4 used for IPv4
        int Prefix = 0;         // leading bits that must match
    };
    static Failure ParseEntry(std::string_view entry, Range& range, std::string& hostBits);

    std::vector<Range> Ranges;
};
