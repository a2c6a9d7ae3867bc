#pragma once
#include <memory>
#include <string>

// The console's autorun value: on Linux the desktop entry
// "QuillonConsole.desktop" in the autostart folder ($XDG_CONFIG_HOME/autostart,
// default ~/.config/autostart), which the desktop starts at login. The value
// "QuillonConsole" is the program the entry runs (its Exec key).
//
// An entry counts as the value only when it is a valid desktop entry: a regular file
// of text whose first group is [Desktop Entry], whose every other line is a comment, a
// group header or a key=value line, and whose [Desktop Entry] group has an Exec key.
// An entry the desktop treats as removed (Hidden=true, or
// X-GNOME-Autostart-enabled=false) is no value. Anything else of that name (binary
// bytes, a folder, an entry without Exec) is a value of a kind the console cannot
// handle, like a registry value of another type: reading it fails, writing over it
// fails and leaves it as it is; only deleting it is allowed.
//
// Holds only the folder's path; every call goes to the disk. Window thread only.
class Autostart {
public:
    enum class Result {
        Ok,      // done; for ReadValue: `path` holds the value
        Missing, // there is no value
        Failed,  // the entry is not one the console can read or change, or I/O failed
    };

    // $XDG_CONFIG_HOME/autostart (default ~/.config/autostart).
    static std::string DefaultFolder();
    // "QuillonConsole.desktop"
    static const char* const EntryName;

    // Opens the autostart folder without creating it: succeeds when it is a folder or
    // does not exist yet (the first write creates it); null when the path exists as
    // something else or cannot be reached (for example through a regular file).
    static std::unique_ptr<Autostart> Open(std::string folder = DefaultFolder());

    const std::string& Folder() const { return folder_; }
    std::string EntryPath() const;

    // The program the entry runs: the single argument of its Exec key with the
    // entry's quoting and escapes undone. When Exec holds more than one argument (an
    // entry edited by hand), the value is the Exec text as it stands, which never
    // equals a program path the console would write for itself.
    Result ReadValue(std::string& path) const;

    // Makes the entry run `path` (quoted and escaped as the Desktop Entry rules ask),
    // creating the folder when needed; the entry is replaced atomically. False when
    // the existing entry is not one of ours (ReadValue fails), when `path` is empty
    // or holds a NUL, or on any I/O failure; the existing entry is then untouched.
    bool WriteValue(const std::string& path);

    // Removes the entry, whatever its content. Missing when there is none, Failed when
    // it cannot be removed (for example a folder of that name).
    Result DeleteValue();

    // Exec text for `path` and back, exposed for tests.
    static std::string EncodeExec(const std::string& path);
    static bool DecodeExec(const std::string& exec, std::string& path);

private:
    explicit Autostart(std::string folder) : folder_(std::move(folder)) {}

    std::string folder_;
};
