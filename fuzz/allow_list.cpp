// The allow list of listening links: a list is taken whole or not at all (a refused
// list leaves the one in use as it was, and never comes back from the configuration
// file as a shorter list that is taken); a list allows exactly what its entries
// allow one by one; an entry that is a plain address allows that address.
#include <cstring>
#include <netinet/in.h>

#include "FuzzInput.h"
#include "ProfileRoundTrip.h"
#include "net/AllowList.h"
#include "platform/base/Text.h"

namespace {

NetAddress Peer(qlnfuzz::Input& in)
{
    NetAddress peer;
    if (in.Byte() & 1) {
        sockaddr_in v4 {};
        v4.sin_family = AF_INET;
        const uint32_t bits = in.Long();
        std::memcpy(&v4.sin_addr, &bits, 4);
        std::memcpy(&peer.Storage, &v4, sizeof v4);
        peer.Length = sizeof v4;
    } else {
        sockaddr_in6 v6 {};
        v6.sin6_family = AF_INET6;
        for (uint8_t& byte : v6.sin6_addr.s6_addr)
            byte = in.Byte();
        std::memcpy(&peer.Storage, &v6, sizeof v6);
        peer.Length = sizeof v6;
    }
    return peer;
}

std::vector<std::string> Entries(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = std::min(text.find(',', start), text.size());
        out.emplace_back(Trim(std::string_view(text).substr(start, comma - start), " \t"));
        if (comma == text.size())
            return out;
        start = comma + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qlnfuzz::Input in(data, size);
    const std::string text = in.TextUntil('\n');
    std::vector<NetAddress> peers;
    while (!in.Empty() && peers.size() < 8)
        peers.push_back(Peer(in));

    AllowList before, list;
    QLN_FUZZ_CHECK(!AllowList::Parse("127.0.0.1", before));
    list = before;
    const Failure why = AllowList::Parse(text, list);
    const bool taken = !why;
    // A refusal always says why.
    QLN_FUZZ_CHECK(taken == why.Reason().empty());

    const bool blank = Trim(text, " \t").empty();
    std::vector<AllowList> one;
    bool each = true;
    for (const std::string& entry : blank ? std::vector<std::string>() : Entries(text)) {
        AllowList single;
        each = each && !entry.empty() && !AllowList::Parse(entry, single);
        one.push_back(single);
    }
    QLN_FUZZ_CHECK(taken == each);
    for (const NetAddress& peer : peers) {
        if (!taken) {
            QLN_FUZZ_CHECK(list.Allows(peer) == before.Allows(peer));
            continue;
        }
        bool any = one.empty();
        for (const AllowList& single : one)
            any = any || single.Allows(peer);
        QLN_FUZZ_CHECK(list.Allows(peer) == any);
    }
    if (taken) {
        for (const std::string& entry : blank ? std::vector<std::string>() : Entries(text)) {
            NetAddress plain;
            if (entry.find('/') == std::string::npos && NetAddress::FromNumeric(entry.c_str(), plain))
                QLN_FUZZ_CHECK(list.Allows(plain));
        }
    }

    if (const auto back = qlnfuzz::ThroughProfile(text); back && qlnfuzz::MustComeBackWhole(text)) {
        AllowList again;
        QLN_FUZZ_CHECK(!AllowList::Parse(*back, again) == taken);
    }
    return 0;
}
