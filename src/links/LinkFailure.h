#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/base/Failure.h"
#include "platform/base/TickCount.h"

// A link's last failure as it was found (the errno and the call, when a system call
// said so, and the words), stamped with the wall clock (milliseconds since 1970) when
// it is kept: the same words twice are two failures at two times.
class LinkFailure {
public:
    LinkFailure& operator=(Failure failure)
    {
        Kept = std::move(failure);
        At = WallClockNow();
        return *this;
    }
    void clear()
    {
        Kept = {};
        At = 0;
    }
    bool empty() const { return !Kept.Failed(); }
    // The failure itself: its errno stays for whoever needs more than the words.
    const Failure& What() const { return Kept; }
    // The words the figures show: "Connection refused".
    std::string Text() const { return Kept.Reason(); }
    // When it was kept; 0 before any failure.
    int64_t Time() const { return At; }
    friend bool operator==(const LinkFailure& failure, std::string_view text) { return failure.Text() == text; }

private:
    Failure Kept;
    int64_t At = 0;
};
