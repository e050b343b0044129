#include "platform/path.h"

#include <cstring>

namespace ravoth {
namespace {

// Windows takes "/" as a folder separator as well as "\", and after a drive
// letter "C:name" names a file in that drive's current folder. Paths are
// UTF-8, where every byte of a multibyte character is 0x80 or more, so a
// byte equal to one of these is always the character itself.
bool isSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

// The bytes of the UTF-8 character at text[i], with its UTF-16 units: 1
// for any byte that does not start a whole character.
struct Character {
    std::size_t bytes;
    std::size_t units;
};

Character characterAt(const char* text, std::size_t bytes, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                                                              : 1;
    if (length == 1 || bytes - i < length) return {1, 1};
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return {1, 1};
    // Only characters past the Basic Multilingual Plane take four bytes, and
    // each is a surrogate pair in UTF-16.
    return {length, length == 4 ? std::size_t{2} : std::size_t{1}};
}

}  // namespace

std::size_t pathUnits(const char* text, std::size_t bytes)
{
    std::size_t units = 0;
    for (std::size_t i = 0; i < bytes;) {
        const Character c = characterAt(text, bytes, i);
        units += c.units;
        i += c.bytes;
    }
    return units;
}

std::size_t bytesWithinUnits(const char* text, std::size_t bytes, std::size_t units)
{
    std::size_t i = 0;
    std::size_t used = 0;
    while (i < bytes) {
        const Character c = characterAt(text, bytes, i);
        if (c.units > units - used) break;
        used += c.units;
        i += c.bytes;
    }
    return i;
}

std::size_t folderPartBytes(const char* path, std::size_t bytes)
{
    for (std::size_t i = bytes; i > 0; --i)
        if (isSeparator(path[i - 1])) return i;
    return 0;
}

bool isPlainFileName(const char* name, std::size_t bytes)
{
    if (bytes == 0) return false;
    if ((bytes == 1 && name[0] == '.') || (bytes == 2 && name[0] == '.' && name[1] == '.'))
        return false;
    if (std::memchr(name, '\0', bytes)) return false;
    for (std::size_t i = 0; i < bytes; ++i)
        if (isSeparator(name[i])) return false;
    return true;
}

}  // namespace ravoth
