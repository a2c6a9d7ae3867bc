#pragma once
#include <string>

// How a failure travels through the core: the errno, the system call that failed,
// and words for the user. Made once, where the failure is found (converting errno
// there, before anything else can change it), and passed up unchanged; the window,
// quillonctl and the event log each show what they need of it.
//
// An empty Failure (no errno, no call, no words) means nothing failed.
struct Failure {
    int Errno = 0;
    const char* Call = nullptr; // "bind", "connect", …; null when no system call failed
    std::string Words;          // for the user; empty: the errno's own words

    // The failure of system call `call`, with `error` (by default the current errno).
    static Failure OfCall(const char* call, int error);
    static Failure OfCall(const char* call);
    // A failure that no system call reported ("Name does not resolve").
    static Failure Said(std::string words)
    {
        Failure failure;
        failure.Words = std::move(words);
        return failure;
    }

    bool Failed() const { return Errno != 0 || Call != nullptr || !Words.empty(); }
    explicit operator bool() const { return Failed(); }

    // Words for the user: "Address already in use", or the words given.
    std::string Reason() const;
    // With the call: "bind: Address already in use".
    std::string Text() const;
};
