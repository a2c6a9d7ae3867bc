#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/base/Text.h"

// The text of a profile (INI) file and the rules for reading and changing it, kept
// apart from the file itself so that the rules can be exercised in memory.
//
// Reading:
//  - A header is a line whose first non-blank character is '[' and that holds a ']';
//    the name is what lies between them, without surrounding blanks. A header with
//    an unusable name ("[]") still ends the section before it.
//  - A key line is a line with an '=' whose part before it, without blanks, is not
//    empty and whose first non-blank character is neither '[' nor ';'. Key lines
//    before the first header belong to no section and are never found.
//  - Section and key names are compared without regard to ASCII letter case.
//  - The value is the text after the first '=' with surrounding blanks dropped and
//    then one pair of enclosing double quotes; at most MaxValueLength characters of
//    it come back. A value that comes back that long may have been cut: the
//    configuration load takes it so (IsCut).
//  - When a section appears more than once, only its first copy is read; when a key
//    appears more than once in it, its first line is read.
//  - A UTF-8 byte order mark at the very start is skipped for reading and kept.
//  Every other line (comments, blank lines, garbage, binary bytes, NULs, overlong
//  lines) is carried along unchanged by every change.
//
// Changing:
//  - Write replaces the text of the key's line in the first copy of the section,
//    keeping that line's line end; a new key goes right after the last non-blank line
//    of that copy; a new section goes at the end of the text. New lines use the line
//    end of the text's first line (CRLF or LF; LF for a text without any), and a last
//    line without a line end gets one before anything is appended after it.
//  - A value that reading would change (surrounding blanks, or enclosing quotes of
//    its own) is written inside one pair of double quotes, so that it reads back
//    exactly.
//  - Erase removes every copy of the section, each from its header up to the next
//    header, so that an erased section cannot reappear from a later copy.
//  - Names and values that cannot be stored in a line (empty names, line ends or NULs,
//    '=' in a key, ']' in a section name, a key starting with '[' or ';') are refused,
//    and so is a value that would read back cut (LongestValue characters at most):
//    the change reports false and leaves the text as it was. Names are used without
//    their surrounding blanks.
//
// A plain value type; not shared between threads.
class ProfileText {
public:
    using KeyValues = std::vector<std::pair<std::string, std::string>>;

    // A value is read into a buffer of 2048 bytes, so at most 2047 characters of it
    // come back (the longer value stays in the text as it is).
    static constexpr size_t MaxValueLength = 2047;
    // The longest value that is written: one that reading gives back whole, and that
    // a reader cannot take for a cut one.
    static constexpr size_t LongestValue = MaxValueLength - 1;
    // Whether a value as read reached the reader's bound, so that it may be the first
    // part of a longer one.
    static bool IsCut(std::string_view read) { return read.size() >= MaxValueLength; }
    // Why `value`, entered as `field`, cannot be stored whole, in words for the user
    // ("The allow list has 3000 characters; the configuration file keeps at most
    // 2046."), or empty when it can be.
    static std::string LengthProblem(std::string_view field, std::string_view value);

    explicit ProfileText(std::string content = {});

    const std::string& Content() const { return content_; }

    // The value of `key` in the first copy of `section`; false when there is none.
    bool Read(std::string_view section, std::string_view key, std::string& value) const;

    // Sets one key; false (text unchanged) when the name or value cannot be stored.
    bool Write(std::string_view section, std::string_view key, std::string_view value);

    // Removes every copy of the section; true when there was one.
    bool Erase(std::string_view section);

    // Erases the section, then appends it anew at the end with `pairs` in their order
    // (nothing is appended when `pairs` is empty). False, text unchanged, when any
    // name or value cannot be stored.
    bool Replace(std::string_view section, const KeyValues& pairs);

    static bool IsStorableSection(std::string_view section);
    static bool IsStorableKey(std::string_view key);
    static bool IsStorableValue(std::string_view value);

private:
    std::string content_;
};

// One line of a profile text as reading takes it, for a reader that wants every line
// (the configuration check): its number from 1, what it is, and for a header its name
// and for a key its name and value (decoded as Read decodes it, but never cut).
struct ProfileLine {
    enum class Kind { Blank, Comment, Header, Key, Other };
    Kind What = Kind::Blank;
    size_t Number = 0;
    std::string_view Name;
    std::string_view Value;
    std::string_view Text; // the whole line, without its line end
};
// What one line is (`line.Number` is left as it is). A line is a comment when its
// first non-blank character is ';', or '#' on a line that is no key ("#x=1" is a key
// named "#x", as Read finds it).
void ClassifyProfileLine(std::string_view text, bool firstLine, ProfileLine& line);
// Calls `visit` with each line of `content` in order.
template <class Visit>
void ForEachProfileLine(std::string_view content, Visit&& visit)
{
    size_t number = 0;
    ForEachLine(content, [&](std::string_view text) {
        ProfileLine line;
        line.Number = ++number;
        line.Text = text;
        ClassifyProfileLine(text, number == 1, line);
        visit(static_cast<const ProfileLine&>(line));
    });
}

// The reads of ProfileText::Read on one text, answered from a table that one pass over
// the text builds: for many reads of a large text (the configuration load reads a
// handful of keys per link, and a file may hold thousands of links). Every answer is
// the one ProfileText::Read gives for the same text.
//
// A plain value type; not shared between threads.
class ProfileIndex {
public:
    explicit ProfileIndex(std::string content = {});

    const std::string& Content() const { return content_; }

    bool Read(std::string_view section, std::string_view key, std::string& value) const;

private:
    // Where a value lies in content_ (offsets, so that moving the index keeps them).
    struct Span {
        size_t Begin = 0;
        size_t Length = 0;
    };
    using Keys = std::unordered_map<std::string, Span>;

    std::string content_;
    // Names folded to lower case: the first copy of each section, the first line of
    // each key in it.
    std::unordered_map<std::string, Keys> sections_;
};
