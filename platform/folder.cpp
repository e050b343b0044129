#include <filesystem>
#include <system_error>

#include "platform/path.h"
#include "platform/text.h"

namespace ravoth {

namespace {

// Separators as the user types them: Windows takes "/" beside "\".
#ifdef _WIN32
constexpr bool isSeparator(char c) { return c == '/' || c == '\\'; }
#else
constexpr bool isSeparator(char c) { return c == '/'; }
#endif

bool isAbsolute(const std::string& path)
{
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') return true;
#endif
    return !path.empty() && isSeparator(path[0]);
}

}  // namespace

std::string fileNameOf(const std::string& path)
{
    std::size_t start = path.size();
    while (start > 0 && !isSeparator(path[start - 1])) --start;
    return path.substr(start);
}

std::string inFolder(const std::string& folder, const std::string& name)
{
    if (isAbsolute(name) || folder.empty()) return name;
    return isSeparator(folder.back()) ? folder + name : folder + "/" + name;
}

bool makeFolder(const std::string& folder)
{
#ifdef _WIN32
    const std::filesystem::path path(toWide(folder));
#else
    const std::filesystem::path path(folder);
#endif
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

}  // namespace ravoth
