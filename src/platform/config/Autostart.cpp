#include "platform/config/Autostart.h"

#include "platform/base/Text.h"

#include "platform/config/AtomicFile.h"
#include "platform/base/Folders.h"

#include <cerrno>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// An entry of ours is a few hundred bytes; anything far larger is not one.
constexpr size_t kMaxEntrySize = 64 * 1024;

// Characters that make the Desktop Entry rules ask for a quoted Exec argument.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// Undoes the escapes of a string value: \s \n \t \r \\ (others are kept as written).
std::string UnescapeValue(std::string_view v)
{
    std::string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        switch (v[i + 1]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: out += v[i]; out += v[i + 1]; break;
        }
        ++i;
    }
    return out;
}

std::string EscapeValue(std::string_view v)
{
    std::string out;
    out.reserve(v.size());
    for (char c : v) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c; break;
        }
    }
    return out;
}

// "%%" stands for a single '%'; other field codes are left as they are.
std::string UndoPercent(std::string_view arg)
{
    std::string out;
    for (size_t i = 0; i < arg.size(); ++i) {
        out += arg[i];
        if (arg[i] == '%' && i + 1 < arg.size() && arg[i + 1] == '%')
            ++i;
    }
    return out;
}

bool IsTrue(std::string_view v) { return v == "true" || v == "1"; }
bool IsFalse(std::string_view v) { return v == "false" || v == "0"; }

} // namespace

const char* const Autostart::EntryName = "QuillonConsole.desktop";

std::string Autostart::DefaultFolder()
{
    return ConfigHome() + "/autostart";
}

std::unique_ptr<Autostart> Autostart::Open(std::string folder)
{
    if (folder.empty())
        return nullptr;
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 ? !S_ISDIR(st.st_mode) : errno != ENOENT)
        return nullptr;
    return std::unique_ptr<Autostart>(new Autostart(std::move(folder)));
}

std::string Autostart::EntryPath() const
{
    return folder_ + "/" + EntryName;
}

std::string Autostart::EncodeExec(const std::string& path)
{
    std::string arg;
    const bool quote = path.empty() || path.find_first_of(kReserved) != std::string::npos;
    if (quote)
        arg += '"';
    for (char c : path) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            arg += '\\';
        arg += c;
        if (c == '%')
            arg += '%';
    }
    if (quote)
        arg += '"';
    return EscapeValue(arg);
}

bool Autostart::DecodeExec(const std::string& exec, std::string& path)
{
    const std::string line = UnescapeValue(exec);
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        std::string arg;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            if (line[i] != '"') {
                arg += line[i++];
                continue;
            }
            ++i; // opening quote
            for (;;) {
                if (i == line.size())
                    return false; // unterminated quote
                char c = line[i++];
                if (c == '"')
                    break;
                if (c == '\\' && i < line.size() && std::string_view("\"`$\\").find(line[i]) != std::string_view::npos)
                    c = line[i++];
                arg += c;
            }
        }
        args.push_back(UndoPercent(arg));
    }
    if (args.size() != 1)
        return false;
    path = std::move(args.front());
    return true;
}

Autostart::Result Autostart::ReadValue(std::string& path) const
{
    std::string content;
    switch (ReadWholeFile(EntryPath(), content, kMaxEntrySize)) {
    case FileReadResult::Missing: return Result::Missing;
    case FileReadResult::Failed: return Result::Failed;
    case FileReadResult::Ok: break;
    }
    if (content.find('\0') != std::string::npos)
        return Result::Failed;

    std::string_view rest = content;
    if (rest.starts_with("\xEF\xBB\xBF"))
        rest.remove_prefix(3);
    bool seenGroup = false;
    bool inMain = false;
    bool hasExec = false;
    bool disabled = false;
    std::string_view exec;
    bool malformed = false;
    ForEachLine(rest, [&](std::string_view line) {
        std::string_view t = Trim(line);
        if (t.empty() || t.front() == '#')
            return true;
        if (t.front() == '[') {
            inMain = t == "[Desktop Entry]";
            // The first group must be [Desktop Entry].
            malformed = t.back() != ']' || (!seenGroup && !inMain);
            seenGroup = true;
            return !malformed;
        }
        auto eq = t.find('=');
        if (!seenGroup || eq == std::string_view::npos || Trim(t.substr(0, eq)).empty()) {
            malformed = true;
            return false;
        }
        if (!inMain)
            return true;
        std::string_view key = Trim(t.substr(0, eq));
        std::string_view value = Trim(t.substr(eq + 1));
        if (key == "Exec" && !hasExec) {
            hasExec = true;
            exec = value;
        } else if ((key == "Hidden" && IsTrue(value)) || (key == "X-GNOME-Autostart-enabled" && IsFalse(value))) {
            disabled = true;
        }
        return true;
    });
    if (malformed)
        return Result::Failed;
    if (!seenGroup)
        return Result::Failed;
    if (disabled)
        return Result::Missing; // the desktop treats it as removed
    if (!hasExec || exec.empty())
        return Result::Failed;
    if (!DecodeExec(std::string(exec), path))
        path = std::string(exec);
    return Result::Ok;
}

bool Autostart::WriteValue(const std::string& path)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    std::string current;
    if (ReadValue(current) == Result::Failed)
        return false;
    if (!MakeFolders(folder_))
        return false;
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Quillon Console\n"
        "Comment=Network connections as local serial ports\n"
        "Exec=" + EncodeExec(path) + "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    // A link of that name is replaced by our own file, never written through: it may
    // point at a desktop entry that belongs to someone else.
    return !ReplaceFileAtomically(EntryPath(), entry, /*followLink=*/false).Failed();
}

Autostart::Result Autostart::DeleteValue()
{
    const std::string entry = EntryPath();
    struct stat st {};
    if (::lstat(entry.c_str(), &st) != 0)
        return errno == ENOENT ? Result::Missing : Result::Failed;
    if (S_ISDIR(st.st_mode))
        return Result::Failed;
    return ::unlink(entry.c_str()) == 0 ? Result::Ok : Result::Failed;
}
