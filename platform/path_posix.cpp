#include <cstring>

#include "platform/path.h"

namespace ravoth {

std::size_t pathUnits(const char*, std::size_t bytes) { return bytes; }

std::size_t bytesWithinUnits(const char*, std::size_t bytes, std::size_t units)
{
    return bytes < units ? bytes : units;
}

// In the locale encodings Linux uses for file names (UTF-8 and the other
// ASCII-compatible ones), "/" is never part of a multibyte character.
std::size_t folderPartBytes(const char* path, std::size_t bytes)
{
    for (std::size_t i = bytes; i > 0; --i)
        if (path[i - 1] == '/') return i;
    return 0;
}

bool isPlainFileName(const char* name, std::size_t bytes)
{
    if (bytes == 0) return false;
    if ((bytes == 1 && name[0] == '.') || (bytes == 2 && name[0] == '.' && name[1] == '.'))
        return false;
    return !std::memchr(name, '/', bytes) && !std::memchr(name, '\0', bytes);
}

}  // namespace ravoth
