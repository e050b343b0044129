#include "platform/path.h"

#include <windows.h>

namespace ravoth {
namespace {

// Windows takes "/" as a folder separator as well as "\", and after a drive
// letter "C:name" names a file in that drive's current folder.
bool isSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

// In a double-byte ANSI code page (932 and its kin) the second byte of a
// character may equal "\" (0x5C), so the bytes are walked character by
// character. Only a true lead byte starts a pair: a half-width katakana
// (0xA1 to 0xDF in code page 932) stands alone, so a "\" after it is a
// separator. A lead byte at the very end stands alone too.
template <typename Visit>
void forEachCharacter(const char* text, std::size_t bytes, Visit visit)
{
    std::size_t i = 0;
    while (i < bytes) {
        const bool pair = IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < bytes;
        if (!visit(i, pair)) return;
        i += pair ? 2 : 1;
    }
}

}  // namespace

std::size_t folderPartBytes(const char* path, std::size_t bytes)
{
    std::size_t folderBytes = 0;
    forEachCharacter(path, bytes, [&](std::size_t i, bool pair) {
        if (!pair && isSeparator(path[i])) folderBytes = i + 1;
        return true;
    });
    return folderBytes;
}

bool isPlainFileName(const char* name, std::size_t bytes)
{
    if (bytes == 0) return false;
    if ((bytes == 1 && name[0] == '.') || (bytes == 2 && name[0] == '.' && name[1] == '.'))
        return false;
    bool plain = true;
    forEachCharacter(name, bytes, [&](std::size_t i, bool pair) {
        // A NUL would end the name early, whichever byte of a pair it is.
        if (name[i] == '\0' || (pair && name[i + 1] == '\0') || (!pair && isSeparator(name[i])))
            plain = false;
        return plain;
    });
    return plain;
}

}  // namespace ravoth
