// Files as whole-card work reads and writes them: inputs only as regular
// files of bounded size, outputs replaced in one step so that a reader of
// the file sees either the old contents or the new ones, never a mixture.
// The system-dependent part lives in safe_file_posix.cpp or
// safe_file_windows.cpp, one of which the build picks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "card/dump_formats.h"

namespace zelkor::card {

// No card dump or key dictionary comes near this.
inline constexpr std::uint64_t kMaxInputFileSize = 16u * 1024u * 1024u;

// A file that cannot be used as asked (one of the problems from NotFound to
// CannotReplace). Derives from FileError so that callers treating any file
// problem alike keep doing so.
class FileAccessError : public FileError {
public:
    FileAccessError(std::string file, FileProblem fault, int system_error = 0, std::uint64_t limit = 0);

    FileProblem fault() const { return problem(); }
    int system_error() const { return args().system_error; }  // errno or the system's error code; 0: none
    std::uint64_t limit() const { return args().limit; }
};

// The whole contents of a regular file of at most `limit` bytes. A FIFO or a
// device is refused without waiting on it.
std::string ReadInputFile(const std::string &path, std::uint64_t limit = kMaxInputFileSize);

// Throws FileAccessError unless `path` can later be replaced by
// ReplaceFileContents: its directory exists and takes new files, the name
// fits, and an existing file there is a writable regular file. Changes nothing.
void CheckOutputFile(const std::string &path);

// Writes `contents` into a new file beside `path` (created exclusively, never
// through a link), gives it the mode and, where allowed, the owner of the
// file it replaces, flushes it to disk and renames it over `path`. A symbolic
// link `path` keeps being a link: its target is replaced. On failure the
// temporary file is removed and `path` is as it was.
void ReplaceFileContents(const std::string &path, std::string_view contents);

// Whether `path` names an existing file (a link's target included).
bool OutputExists(const std::string &path);

// "dir/NAME.partial.EXT" for "dir/NAME.EXT" ("NAME.partial" without an
// extension): where an incomplete result goes when `path` holds a file.
std::string PartialPathFor(const std::string &path);

// Writes `contents` into a new file of the system's temporary directory whose
// name starts as `path`'s does and ends with its extension; returns its path.
// For a result that could not be saved where asked.
std::string SaveFallbackFile(const std::string &path, std::string_view contents);

// Text taken from a file, made safe to show in a message: control characters
// (C0, DEL and C1) as \xNN, and cut to `max_bytes` with "..." at a character
// boundary, so a hostile file can neither steer a terminal nor flood it.
inline constexpr std::size_t kMaxEchoedText = 200;
inline constexpr std::size_t kMaxEchoedName = 1024;
std::string EscapeForMessage(std::string_view text, std::size_t max_bytes = kMaxEchoedText);

}  // namespace zelkor::card
