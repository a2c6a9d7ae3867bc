// Implements AllowList: the addresses and ranges a listening link takes.
#include "net/AllowList.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

#include "platform/base/Text.h"

namespace {

constexpr uint8_t MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

// Whether the first `bits` bits of `a` and `b` agree.
bool SamePrefix(const uint8_t* a, const uint8_t* b, int bits)
{
    const int whole = bits / 8;
    if (std::memcmp(a, b, static_cast<size_t>(whole)) != 0)
        return false;
    const int rest = bits % 8;
    if (rest == 0)
        return true;
    const auto mask = static_cast<uint8_t>(0xFF << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

// Clears every bit of `bytes` after the first `bits`; true when one was set.
bool ClearHostBits(uint8_t* bytes, size_t size, int bits)
{
    bool cleared = false;
    for (size_t i = 0; i < size; ++i) {
        const int kept = std::clamp(bits - static_cast<int>(i) * 8, 0, 8);
        const auto mask = static_cast<uint8_t>(kept == 0 ? 0 : 0xFF << (8 - kept));
        cleared = cleared || (bytes[i] & ~mask) != 0;
        bytes[i] &= mask;
    }
    return cleared;
}

} // namespace

Failure AllowList::ParseEntry(std::string_view entry, Range& range, std::string& hostBits)
{
    const std::string text(entry);
    const size_t slash = entry.find('/');
    std::string address(entry.substr(0, slash));
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    // inet_pton takes only the strict forms (a.b.c.d in decimal; RFC 4291 text), so
    // nothing here can be mistaken for a name.
    if (::inet_pton(AF_INET, address.c_str(), range.Bytes) == 1) {
        range.Family = AF_INET;
    } else if (::inet_pton(AF_INET6, address.c_str(), range.Bytes) == 1) {
        range.Family = AF_INET6;
    } else {
        return Failure::Said(text + ": not an IPv4 or IPv6 address");
    }
    const int longest = range.Family == AF_INET ? 32 : 128;
    range.Prefix = longest;
    if (slash != std::string_view::npos) {
        const std::string_view digits = entry.substr(slash + 1);
        if (digits.empty() || digits.size() > 3
            || digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return Failure::Said(text + ": the prefix length is not a number");
        }
        range.Prefix = std::stoi(std::string(digits));
        if (range.Prefix > longest) {
            return Failure::Said(text + ": prefix longer than " + std::to_string(longest));
        }
        // The range matches as its network either way; the user learns of the bits.
        uint8_t network[16];
        std::memcpy(network, range.Bytes, sizeof network);
        if (ClearHostBits(network, range.Family == AF_INET ? 4 : 16, range.Prefix)) {
            char shown[INET6_ADDRSTRLEN] = {};
            ::inet_ntop(range.Family, network, shown, sizeof shown);
            const bool bracketed = entry.front() == '[';
            hostBits = text + ": host bits set; " + (bracketed ? "[" : "") + shown + (bracketed ? "]" : "") + "/"
                + std::to_string(range.Prefix) + "?";
        }
    }
    // Peers of a dual-stack socket come unmapped: an entry written as a mapped
    // address means the IPv4 range.
    if (range.Family == AF_INET6 && range.Prefix >= 96 && std::memcmp(range.Bytes, MappedPrefix, 12) == 0) {
        std::memmove(range.Bytes, range.Bytes + 12, 4);
        std::memset(range.Bytes + 4, 0, 12);
        range.Family = AF_INET;
        range.Prefix -= 96;
    }
    return {};
}

Failure AllowList::Parse(std::string_view text, AllowList& out, std::vector<std::string>* hostBits)
{
    std::vector<std::string> loose;
    AllowList list;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view entry = Trim(text.substr(start, comma - start), " \t");
        start = comma + 1;
        if (entry.empty()) {
            if (Trim(text, " \t").empty())
                break; // no list: everyone
            return Failure::Said("an empty entry");
        }
        Range range;
        std::string bits;
        if (Failure bad = ParseEntry(entry, range, bits))
            return bad;
        if (!bits.empty())
            loose.push_back(std::move(bits));
        list.Ranges.push_back(range);
    }
    out = std::move(list);
    if (hostBits)
        *hostBits = std::move(loose);
    return {};
}

bool AllowList::Allows(const NetAddress& peer) const
{
    if (Ranges.empty())
        return true;
    const NetAddress bare = peer.Unmapped();
    const uint8_t* bytes = nullptr;
    if (bare.Family() == AF_INET)
        bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(&bare.Storage)->sin_addr);
    else if (bare.Family() == AF_INET6)
        bytes = reinterpret_cast<const sockaddr_in6*>(&bare.Storage)->sin6_addr.s6_addr;
    else
        return false;
    for (const Range& range : Ranges) {
        if (range.Family == bare.Family() && SamePrefix(range.Bytes, bytes, range.Prefix))
            return true;
    }
    return false;
}
