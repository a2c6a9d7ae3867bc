#pragma once
#include <string>

// Where one user's console is found: its single-instance lock, the socket through
// which a later start asks it to come forward, and the control socket quillonctl
// talks to. All three live in one folder that no other user can write into:
//
//  - $XDG_RUNTIME_DIR, when it is what its standard makes it: a folder (not a
//    symbolic link) that belongs to the user, of mode 0700;
//  - otherwise, and without it, $XDG_STATE_HOME/quillon/run (by default
//    ~/.local/state/quillon/run), made 0700 when missing, tightened to 0700 when it
//    is the user's and more open, and used only while it is a folder of the user's
//    own. Passed then says why XDG_RUNTIME_DIR was not used, when it was set.
//
// No folder others may write into is ever used (the system's temporary folder
// least of all): another user could put names in the console's place there.
//
// A local socket's path holds at most MaxSocketPath bytes: in a folder whose path is
// too long for "QLN_Console.ctl" the files take the short names "q.lock", "q" and
// "q.ctl"; a folder too long even for those is a Problem.
struct InstancePaths {
    std::string Folder;
    std::string Lock;    // "<folder>/QLN_Console.lock"
    std::string Raise;   // "<folder>/QLN_Console"
    std::string Control; // "<folder>/QLN_Console.ctl"
    std::string Problem; // empty while the folder can be used
    std::string Passed;  // why XDG_RUNTIME_DIR was passed over; empty when used or unset

    // The longest path a local socket takes (sockaddr_un's 108 bytes, with the NUL).
    static constexpr size_t MaxSocketPath = 107;

    // `folder` empty: the user's runtime folder, as above; a folder given is checked
    // the same way as XDG_RUNTIME_DIR, but not made.
    static InstancePaths For(const std::string& folder = {});

    // Why `folder` is not a folder of the user's own of mode 0700, naming it; empty
    // when it is.
    static std::string FolderProblem(const std::string& folder);
    // $XDG_STATE_HOME/quillon/run, made when missing and tightened; Problem as above.
    static std::string PrivateStateFolder(std::string& problem);
};
