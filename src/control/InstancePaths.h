#pragma once
#include <string>

// Where one user's console is found: its single-instance lock, the socket through
// which a later start asks it to come forward, and the control socket quillonctl
// talks to. All three live in one folder: $XDG_RUNTIME_DIR, or without it a folder
// of the user's own in the system temporary folder, "quillon-<uid>", as tmux and
// ssh-agent keep theirs: made 0700 when missing, and used only while it is a folder
// (not a symbolic link) that belongs to the user; a looser mode is tightened.
//
// A folder that other users may write into could hold files another user put in
// the console's place: one writable by others is used only when it is sticky and
// belongs to the user or to root (so that nobody else may remove or rename what the
// console makes there). Otherwise Problem says why the folder cannot be used,
// naming it, and nothing is made in it.
struct InstancePaths {
    std::string Folder;
    std::string Lock;    // "<folder>/QLN_Console.lock"
    std::string Raise;   // "<folder>/QLN_Console"
    std::string Control; // "<folder>/QLN_Console.ctl"
    std::string Problem; // empty while the folder can be used

    // `folder` empty: the user's runtime folder, as above; a folder given is checked
    // the same way, but not made.
    static InstancePaths For(const std::string& folder = {});

    // Why `folder` is not fit to hold the console's files, or empty when it is.
    static std::string FolderProblem(const std::string& folder);
    // The folder of the user's own in the system temporary folder ($TMPDIR or /tmp),
    // made when missing; Problem as above.
    static std::string PrivateTemporaryFolder(std::string& problem);
};
