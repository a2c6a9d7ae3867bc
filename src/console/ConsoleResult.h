#pragma once
#include <string>

class CNetObject;
class CPortObject;

// What one operation of the console model came to. A refusal carries the text the
// window shows for it ("Add net failed!", "Remote Port error!") and, where the
// console knows it, why, in words for the user ("Port 30000 is already in use.");
// a refusal without a message is one the window shows nothing for (an operation on
// a port or link that is not there).
//
// A change that was made but could not be saved is done (Ok) and Unsaved: it holds
// in the running console, and Message and Reason say that the configuration file
// could not be written, and why. The window shows it as it shows a refusal;
// quillonctl exits with 1.
struct ConsoleResult {
    bool Ok = true;
    std::string Message;
    std::string Reason;
    // What a successful add made; null otherwise.
    CPortObject* Port = nullptr;
    CNetObject* Link = nullptr;
    bool Unsaved = false;

    explicit operator bool() const { return Ok; }
    // Whether the user is to be told: a refusal with a message, or a change not saved.
    bool ShouldTell() const { return (!Ok || Unsaved) && !Message.empty(); }

    static ConsoleResult Done() { return {}; }
    static ConsoleResult Refused(std::string message, std::string reason = {})
    {
        return {false, std::move(message), std::move(reason)};
    }
    static ConsoleResult NotSaved(std::string reason)
    {
        ConsoleResult result{true, "Save settings failed!", std::move(reason)};
        result.Unsaved = true;
        return result;
    }
};
