#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Whole-file reads and atomic whole-file replacement for the console's small text
// files (the configuration file, the autorun entry). Stateless; safe from any thread,
// but two writers replacing the same file race: the last rename wins, and each
// file seen on disk is always one writer's complete content.

enum class FileReadResult {
    Ok,      // `content` holds the whole file
    Missing, // no such file (ENOENT): callers treat it as empty or absent
    Failed,  // exists but cannot be read: not a regular file, an I/O error, a path
             // through a regular file (ENOTDIR), or larger than the limit
};

// Reads the whole regular file at `path` into `content` (cleared first). Does not
// block on a FIFO or device of that name: anything but a regular file is Failed.
FileReadResult ReadWholeFile(const std::string& path, std::string& content,
                             size_t limit = size_t{64} << 20);

// Replaces the file at `path` with `content`: writes a temporary file in the same
// folder, flushes it to the disk, then renames it over `path`. Readers see either the
// old or the new file, never a mix, and a crash leaves the old one in place. An
// existing file keeps its permission bits (and, when the caller may, its owner); a new
// one gets 0666 less the umask. When `path` is a symbolic link, `followLink` chooses
// whether the file it points at is replaced (the link stays) or the link itself is
// replaced by a plain file. On any failure the temporary file is removed, the
// original is untouched and the result is false (errno tells why).
// The folder must exist; it is not created.
bool ReplaceFileAtomically(const std::string& path, std::string_view content, bool followLink = true);
