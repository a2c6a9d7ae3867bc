#pragma once
#include <string>

class CNetObject;
class CPortObject;

// What one operation of the console model came to. A refusal carries the text the
// window shows for it ("Add net failed!", "Remote Port error!") and, where the
// console knows it, why, in words for the user ("Port 30000 is already in use.");
// a refusal without a message is one the window shows nothing for (an operation on
// a port or link that is not there).
struct ConsoleResult {
    bool Ok = true;
    std::string Message;
    std::string Reason;
    // What a successful add made; null otherwise.
    CPortObject* Port = nullptr;
    CNetObject* Link = nullptr;

    explicit operator bool() const { return Ok; }

    static ConsoleResult Done() { return {}; }
    static ConsoleResult Refused(std::string message, std::string reason = {})
    {
        return {false, std::move(message), std::move(reason)};
    }
};
