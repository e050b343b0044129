#include "job/output_names.h"

#include <cstdint>
#include <cstring>

#include "platform/path.h"

namespace ravoth {
namespace {

bool endsWithPdf(const char* path, std::size_t bytes)
{
    if (bytes < 4) return false;
    const char* tail = path + bytes - 4;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return tail[0] == '.' && lower(tail[1]) == 'p' && lower(tail[2]) == 'd' && lower(tail[3]) == 'f';
}

int decimalDigits(std::int64_t value)
{
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

}  // namespace

void setOutputNames(OutputNames* names, const char* outputBase, int pageCount)
{
    names->stemBytes = std::strlen(outputBase);
    if (endsWithPdf(outputBase, names->stemBytes)) names->stemBytes -= 4;
    names->folderBytes = folderPartBytes(outputBase, names->stemBytes);
    // A stem that alone fills the path length leaves no room for any page's
    // name; every page then fails on its name.
    if (names->stemBytes > maxPathBytes) names->stemBytes = maxPathBytes;
    std::memcpy(names->stem, outputBase, names->stemBytes);
    names->stem[names->stemBytes] = '\0';
    names->numberWidth = decimalDigits(pageCount);
}

bool formNumberedName(const OutputNames& names, int pageNumber, std::string_view extension,
                      PathBuffer& name)
{
    const int digits = decimalDigits(pageNumber);
    const int padding = names.numberWidth > digits ? names.numberWidth - digits : 0;
    const std::size_t units = pathUnits(names.stem, names.stemBytes) + 1 +
                              static_cast<std::size_t>(padding + digits) + extension.size();
    if (units > maxPathUnits) return false;
    char* p = name;
    std::memcpy(p, names.stem, names.stemBytes);
    p += names.stemBytes;
    *p++ = '-';
    for (int i = 0; i < padding; ++i) *p++ = '0';
    for (int i = digits - 1, value = pageNumber; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
    p += digits;
    std::memcpy(p, extension.data(), extension.size());
    p[extension.size()] = '\0';
    return true;
}

bool formTitleName(const OutputNames& names, const char* title, std::size_t titleBytes,
                   std::string_view extension, PathBuffer& name)
{
    // Cut short, the stem would end in an earlier folder than the base's.
    if (names.folderBytes > names.stemBytes) return false;
    const std::size_t folderBytes = names.folderBytes;
    const std::size_t usedUnits = pathUnits(names.stem, folderBytes) + extension.size();
    const std::size_t kept =
        bytesWithinUnits(title, titleBytes, usedUnits < maxPathUnits ? maxPathUnits - usedUnits : 0);
    // A title is text from the document: it must not name a place outside
    // the output folder ("..", "a/b") nor end the name early (a NUL).
    if (!isPlainFileName(title, kept)) return false;

    char* p = name;
    std::memcpy(p, names.stem, folderBytes);
    p += folderBytes;
    std::memcpy(p, title, kept);
    p += kept;
    std::memcpy(p, extension.data(), extension.size());
    p[extension.size()] = '\0';
    return true;
}

}  // namespace ravoth
