#pragma once
#include <string>

// Where one user's console is found: its single-instance lock, the socket through
// which a later start asks it to come forward, and the control socket quillonctl
// talks to. All three live in one folder, by default RuntimeFolder(); in the shared
// temp folder (no XDG_RUNTIME_DIR) the names carry the user id, so that two users'
// consoles never meet.
struct InstancePaths {
    std::string Lock;    // "<folder>/QLN_Console.lock"
    std::string Raise;   // "<folder>/QLN_Console"
    std::string Control; // "<folder>/QLN_Console.ctl"

    // `folder` empty: the user's runtime folder.
    static InstancePaths For(const std::string& folder = {});
};
