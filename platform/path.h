// Paths as byte strings: in the locale's encoding on Linux, in UTF-8 on
// Windows, where the file layer hands them to the system as UTF-16.
#pragma once

#include <cstddef>
#include <string>

namespace ravoth {

// The longest path the program forms, in the units the system counts: bytes
// on Linux, UTF-16 units on Windows. Windows's is the classic limit
// (MAX_PATH less its NUL), as the program does not opt in to long paths and
// hands the system its paths as they are, never in the "\\?\" form.
constexpr std::size_t maxPathUnits = 259;

// A path buffer holds at most this many bytes before its terminating NUL:
// on Windows room for maxPathUnits units in UTF-8, which spends at most
// three bytes on a unit (four on a surrogate pair, which is two units).
#ifdef _WIN32
constexpr std::size_t maxPathBytes = 3 * maxPathUnits;
#else
constexpr std::size_t maxPathBytes = maxPathUnits;
#endif

// The units the system counts in the `bytes` bytes of `text`. On Windows a
// byte that starts no UTF-8 character counts as one unit of its own.
std::size_t pathUnits(const char* text, std::size_t bytes);

// The bytes of the longest start of `text` (`bytes` bytes) that takes at
// most `units` units. On Windows the cut falls between characters; on Linux,
// where names are bytes to the system, it counts bytes and may split a
// multibyte character.
std::size_t bytesWithinUnits(const char* text, std::size_t bytes, std::size_t units);

// The bytes of `path` up to and including its last folder separator; 0 when
// it has none.
std::size_t folderPartBytes(const char* path, std::size_t bytes);

// Whether `name` can stand as one file name inside a folder: not empty, not
// "." or "..", and without a NUL or a folder separator ("/"; on Windows also
// "\" and ":"), so that it can never reach outside the folder.
bool isPlainFileName(const char* name, std::size_t bytes);

// The last part of `path`: where the file's own name begins.
std::string fileNameOf(const std::string& path);

// `name` inside `folder`, unless it is a path from the root already.
std::string inFolder(const std::string& folder, const std::string& name);

// Makes `folder` and any folder above it that is missing; whether it is a
// folder now.
bool makeFolder(const std::string& folder);

}  // namespace ravoth
