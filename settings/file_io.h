#pragma once
// The few file operations whose portable forms are not enough; one backend per OS.

#include <cstdio>
#include <string>
#include <string_view>

namespace kelvane::fileio {

// Opened so that no other program can read or write it meanwhile, where the OS can say so.
std::FILE* OpenExclusive(const std::string& path, const char* mode);
// A new file of a name no one else has, beside `target`, open for writing.
// Created only if the name is free (a link planted there is never followed);
// it takes the target's permissions where the system lets them be kept, else
// `modeForNewFile` less the umask (POSIX; Windows has no such mode).
std::FILE* CreateTemporaryBeside(const std::string& target, unsigned modeForNewFile, std::string& temp);
bool FlushToDisk(std::FILE* file);
// Atomically replaces `to` with `from` (same directory).
bool ReplaceWith(const std::string& from, const std::string& to);
// Deletes `path` if it is there, read-only or not; failures are left to the next step.
void RemoveStale(const std::string& path);
// The last failed call above failed because the file (or its folder) is not there.
bool LastErrorWasNotFound();
// The system's own words for the error of the last failed call above.
std::string LastErrorText();

// The folder holding a '/'-separated `path`: "." for a bare name, "/" at the root.
std::string DirectoryOf(const std::string& path);

// Replaces `path` whole with `bytes`, or leaves it as it was: a temporary
// beside it is written, flushed to disk and renamed over it, so a link at
// `path` is replaced, never written through. False with the system's words in
// `error`.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, unsigned modeForNewFile, std::string& error);

}  // namespace kelvane::fileio
