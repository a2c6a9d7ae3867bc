#pragma once
#include <string>

#include "platform/base/Failure.h"

class CNetObject;
class CPortObject;

// What one operation of the console model came to. A refusal carries the text the
// window shows for it ("Add net failed!", "Remote Port error!") and, where the
// console knows it, why (a Failure: the words for the user, "Port 30000 is already
// in use.", and the errno and call when a system call failed); a refusal without a
// message is one the window shows nothing for (an operation on a port or link that
// is not there).
struct ConsoleResult {
    bool Ok = true;
    std::string Message;
    Failure Why;
    // What a successful add made; null otherwise.
    CPortObject* Port = nullptr;
    CNetObject* Link = nullptr;

    explicit operator bool() const { return Ok; }
    // Why, in words for the user; empty when the console does not know.
    std::string Reason() const { return Why.Reason(); }

    static ConsoleResult Done() { return {}; }
    static ConsoleResult Refused(std::string message, std::string reason = {})
    {
        return Refused(std::move(message), reason.empty() ? Failure {} : Failure::Said(std::move(reason)));
    }
    static ConsoleResult Refused(std::string message, Failure why)
    {
        ConsoleResult result;
        result.Ok = false;
        result.Message = std::move(message);
        result.Why = std::move(why);
        return result;
    }
};
