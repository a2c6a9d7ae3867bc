#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/Failure.h"
#include "platform/config/ProfileText.h"

// The console's configuration file: a Windows profile (INI) file on one path, read and
// written key by key the way the profile-string functions do it. The rules of the
// format (names without regard to case, trimmed and unquoted values, at most 2047
// characters read and 2046 written, new sections at the end, whole-section erase,
// duplicates) are those of ProfileText.
//
// The object holds nothing but the path: every read goes to the file, and every change
// reaches the file before the call returns. Each change reads the file, changes its
// text and replaces the file atomically (temporary file in the same folder, flushed,
// renamed over it), so the file on disk is always either the old or the new whole
// text; on any failure the original is left byte for byte and the call says what failed.
//
// A missing file reads as empty (every key gives its default) and is created by the
// first change; a file that exists but cannot be read (a folder, a path through a
// regular file, an I/O error) also reads as empty, but every change to it fails, so
// that an unreadable file is never replaced by a nearly empty one.
//
// Not synchronized: the console calls it from the window thread only. Two processes
// writing the same file race key by key (the last replacement wins).
class ProfileFile {
public:
    using KeyValues = ProfileText::KeyValues;

    explicit ProfileFile(std::string path);

    const std::string& Path() const { return path_; }

    // The value of `key` in `section`; false when the file, section or key is missing.
    bool ReadString(std::string_view section, std::string_view key, std::string& value) const;
    // The value, or `fallback` when it is missing (an empty value is a value).
    std::string GetString(std::string_view section, std::string_view key, std::string_view fallback = {}) const;
    // The value read as a whole number (decimal, or hexadecimal after "$" or "0x"), or
    // `fallback` when it is missing, empty or not a number.
    int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;

    // The file as it is now, read once, for many reads in a row (the configuration
    // load): ReadString, GetString and GetInt answer exactly as the file's own do,
    // from memory. A file that is missing or cannot be read gives an empty snapshot.
    class Snapshot {
    public:
        bool ReadString(std::string_view section, std::string_view key, std::string& value) const;
        std::string GetString(std::string_view section, std::string_view key, std::string_view fallback = {}) const;
        int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;
        // The whole text that was read.
        const std::string& Text() const { return index_.Content(); }

    private:
        friend class ProfileFile;
        explicit Snapshot(std::string content) : index_(std::move(content)) {}
        ProfileIndex index_;
    };
    Snapshot TakeSnapshot() const;

    // Every change below returns what failed (the call and its errno, or words for a
    // name or value that cannot be stored), and then the file is as it was; an empty
    // Failure when the change is on disk.

    // Sets one key. Fails when the file cannot be read or replaced, or when the name
    // or value cannot be stored in a line (a line end or NUL in it, an empty name, a
    // value longer than ProfileText::LongestValue).
    Failure WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Writes the number as signed decimal text.
    Failure WriteInt(std::string_view section, std::string_view key, int32_t value);

    // Removes every copy of the section. Succeeds also when there was none (the file
    // is then left alone, and a missing file stays missing).
    Failure EraseSection(std::string_view section);

    // Erases the section and appends it anew at the end of the file with `pairs` in
    // their order, in one replacement of the file: on failure the file keeps the old
    // section. An empty `pairs` only erases.
    Failure ReplaceSection(std::string_view section, const KeyValues& pairs);

private:
    // The current text, or why the file exists but cannot be read.
    struct Loaded {
        ProfileText Text;
        Failure Why;
    };
    Loaded Load() const;
    Failure Store(const ProfileText& before, const ProfileText& after);

    std::string path_;
};
