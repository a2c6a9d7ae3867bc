#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/TickCount.h"

// Why a link last failed, and when: each reason given is stamped with the wall
// clock (milliseconds since 1970), so the same words twice are two failures at two
// times. Reads as the reason's text wherever a string is wanted.
class LinkFailure {
public:
    LinkFailure& operator=(std::string reason)
    {
        Reason = std::move(reason);
        At = WallClockNow();
        return *this;
    }
    void clear()
    {
        Reason.clear();
        At = 0;
    }
    bool empty() const { return Reason.empty(); }
    const std::string& Text() const { return Reason; }
    operator const std::string&() const { return Reason; }
    // When the reason was given; 0 before any failure.
    int64_t Time() const { return At; }
    friend bool operator==(const LinkFailure& failure, std::string_view text) { return failure.Reason == text; }

private:
    std::string Reason;
    int64_t At = 0;
};
