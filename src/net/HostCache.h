#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/NetAddress.h"

class HostResolver;
struct HostLookup;

// What one link knows of its remote host: the last answer of the name service (every
// address of it, tried in turn), and the lookup under way if any. Numeric hosts are
// read once and never looked up.
// A new lookup starts when there is no answer yet, after a failed one, after a
// connection to the cached address failed, and otherwise at most every RefreshAfter
// milliseconds; never more than one is under way. While a refresh of a good answer
// is under way the old address stays in use.
//
// Guarded by the manager lock (pump or window thread); it never waits for a lookup.
class HostCache {
public:
    enum class Answer { Ready, Pending, Failed };

    static constexpr int32_t RefreshAfter = 30000;
    // How soon a UDP link asks again after its host did not resolve; a TCP client
    // asks when its reconnect interval lets it try again.
    static constexpr int32_t UdpRetryAfter = 1000;

    HostCache() = default;
    HostCache(const HostCache&) = delete;
    HostCache& operator=(const HostCache&) = delete;
    ~HostCache();

    // The address of `host` (the link's remote text, port not set) in `out` when
    // Ready. With `ask`, a lookup is started when one is due; a host that failed
    // is asked again only `retryAfter` milliseconds after the failure. An answer
    // that arrives in this call is returned as it is, never asked again at once.
    // Without a resolver names do not resolve.
    Answer Get(HostResolver* resolver, const std::string& host, bool ask, int32_t retryAfter, NetAddress& out);

    // A connection to the cached address failed: the next Get with `ask` looks the
    // name up again, and until that answer comes the address is not used.
    void Distrust();
    // A connection to the address Get gave failed: true when the answer holds another
    // address, which Get gives from now on. After the last one, false, and the name
    // is distrusted (a numeric host has only its one address).
    bool Advance();

    // A lookup is under way whose answer has not come: the resolver will wake the pump.
    bool Waiting() const;
    // The tick at which a failed host may be asked again, while that is still ahead.
    bool RetryAhead(int32_t now, int32_t retryAfter, int32_t& due) const;

private:
    enum class Kind { Unknown, Empty, Numeric, Name };

    void Forget(const std::string& host);
    bool Collect(int32_t now);
    bool LookupDue(int32_t now, int32_t retryAfter) const;

    std::string Host; // the text the answer belongs to
    Kind Type = Kind::Unknown;
    std::vector<NetAddress> Addresses; // the answer, in the order they are tried
    size_t Current = 0;                // the one Get gives
    bool HaveAddress = false;
    bool LookupFailed = false; // the last answer: the name does not resolve
    bool Distrusted = false;
    int32_t AnsweredAt = 0;    // tick of the last answer
    std::shared_ptr<HostLookup> InFlight;
};
