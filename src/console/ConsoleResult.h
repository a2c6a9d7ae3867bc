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
//
// A change that was made but could not be saved is done (Ok) and Unsaved: it holds
// in the running console, and Message and Why say that the configuration file could
// not be written, and why. The window shows it as it shows a refusal; quillonctl
// exits with 1.
struct ConsoleResult {
    bool Ok = true;
    std::string Message;
    Failure Why;
    // What a successful add made; null otherwise.
    CPortObject* Port = nullptr;
    CNetObject* Link = nullptr;
    bool Unsaved = false;

    explicit operator bool() const { return Ok; }
    // Why, in words for the user; empty when the console does not know.
    std::string Reason() const { return Why.Reason(); }
    // Whether the user is to be told: a refusal with a message, or a change not saved.
    bool ShouldTell() const { return (!Ok || Unsaved) && !Message.empty(); }

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
    static ConsoleResult NotSaved(Failure why)
    {
        ConsoleResult result;
        result.Message = "Save settings failed!";
        result.Why = std::move(why);
        result.Unsaved = true;
        return result;
    }
};
