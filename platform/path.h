// Paths as byte strings in the system's encoding.
#pragma once

#include <cstddef>

namespace ravoth {

// The bytes of `path` up to and including its last folder separator; 0 when
// it has none. On Windows the scan takes each double-byte character of the
// ANSI code page whole, so a trail byte equal to "\" is not a separator.
std::size_t folderPartBytes(const char* path, std::size_t bytes);

// Whether `name` can stand as one file name inside a folder: not empty, not
// "." or "..", and without a NUL or a folder separator ("/"; on Windows also
// "\" and ":"), so that it can never reach outside the folder.
bool isPlainFileName(const char* name, std::size_t bytes);

}  // namespace ravoth
