#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/base/Failure.h"

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
// On Failed, errno says why (EISDIR for a folder, EINVAL for anything else that is
// not a regular file, EFBIG for a file above the limit).
FileReadResult ReadWholeFile(const std::string& path, std::string& content,
                             size_t limit = size_t{64} << 20);

// Replaces the file at `path` with `content`: writes a temporary file in the same
// folder, flushes it to the disk, then renames it over `path`. Readers see either the
// old or the new file, never a mix, and a crash leaves the old one in place. An
// existing file keeps its permission bits (and, when the caller may, its owner); a new
// one gets 0666 less the umask. When `path` is a symbolic link, `followLink` chooses
// whether the file it points at is replaced (the link stays) or the link itself is
// replaced by a plain file. On any failure the temporary file is removed, the
// original is untouched and the result says what failed: the call ("open", "write",
// "fsync", "rename", …) and its errno. An empty result: the file was replaced.
// The folder must exist; it is not created.
//
// The temporary file is ".<name>.qln-tmp.<pid>.<n>" beside the file: hidden, marked
// as the console's, and carrying the writer's process id, so that one left by a
// writer that was killed can be told from one still being written.
Failure ReplaceFileAtomically(const std::string& path, std::string_view content, bool followLink = true);

// Deletes the temporary files of replacements that never finished: regular files
// named as ReplaceFileAtomically names them (or "<name>.tmp<pid>-<n>", as earlier
// versions did) whose writer is no longer running, or that are older than a day
// whatever their process id says (the id may have been reused). Nothing else is
// touched, and never the file of a writer that still runs. Looks into folders
// `depth` levels down, never through a symbolic link. Returns how many went.
size_t RemoveStaleTemporaryFiles(const std::string& folder, int depth = 0);
