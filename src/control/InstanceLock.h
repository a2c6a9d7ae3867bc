#pragma once
#include <string>
#include <string_view>

#include "platform/base/Failure.h"
#include "platform/base/UniqueFd.h"

// The holder name quillonctl writes while it works on the ports without a console;
// a console that starts meanwhile waits for it to finish.
inline constexpr std::string_view ControlToolHolder = "quillonctl";

// The single-instance lock: whoever holds it is the user's console, or a quillonctl
// working on the ports while no console runs. An advisory lock (flock) on a file
// that records "<pid>\n<holder>\n": the system lets go of it however the holder
// ends, so a lock left by a killed process is free at once; its file stays behind
// until the next holder takes it over.
//
// A lock file of another user is never taken, nor counted as a console: in a folder
// that others may write into it is theirs, not a console of this user.
//
// Owns the lock file's descriptor; Release (or the destructor) removes the file
// while still holding the lock, then closes it. One thread.
class InstanceLock {
public:
    enum class Result {
        Taken,  // held from now on
        Busy,   // another process holds it
        Failed, // the file cannot be made (no usable folder)
    };

    explicit InstanceLock(std::string path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries once; `holder` names this process in the file.
    Result TryTake(std::string_view holder);
    // Tries until the lock is free or `seconds` have passed.
    Result Take(std::string_view holder, double seconds);
    bool Held() const { return Fd.Valid(); }
    void Release();
    const std::string& Path() const { return FilePath; }
    // After Failed: the failure, its words naming the file ("…/QLN_Console.lock
    // belongs to user 1001"); empty after any other result.
    const Failure& Problem() const { return Last; }

    // The holder the file at `path` names ("QuillonConsole", "quillonctl"), or empty.
    static std::string HolderOf(const std::string& path);

private:
    // Keeps the failure of system call `call` (with errno): "<path> <what>: <errno's words>."
    Result Fail(const char* call, const char* what);
    // Keeps a failure no call reported: "<path> <words>".
    Result Fail(const std::string& words);

    std::string FilePath;
    UniqueFd Fd;
    Failure Last;
};
