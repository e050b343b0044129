#include "app/win32/window_texts.h"

#include <windows.h>

#include <climits>

#include "app/window_logic.h"

namespace ravoth::win32 {

std::string toCodePage(std::string_view utf8, unsigned codePage)
{
    if (utf8.empty() || utf8.size() > INT_MAX / 4) return {};
    const int bytes = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), bytes, nullptr, 0);
    if (units <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), bytes, wide.data(), units);
    const int outBytes = WideCharToMultiByte(codePage, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (outBytes <= 0) return {};
    std::string out(static_cast<std::size_t>(outBytes), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), units, out.data(), outBytes, nullptr, nullptr);
    return out;
}

std::string windowText(std::string_view utf8, Language language)
{
    if (language == Language::English) return std::string(utf8);
    return toCodePage(utf8, japaneseCodePage);
}

std::string notPdfText(Language language, std::string_view ansiPath)
{
    // The path is spliced in after conversion: its bytes are the system's
    // and must reach the message box as they are.
    std::string message = windowText(texts::notPdfFile, language);
    const std::size_t placeholder = message.find("%s");
    if (placeholder != std::string::npos) message.replace(placeholder, 2, ansiPath);
    return message;
}

std::vector<std::string> helpPagePaths(std::string_view helpFolder, Language language)
{
    std::vector<std::string> paths;
    auto add = [&](std::string_view page) {
        std::string path(helpFolder);
        path += '\\';
        path += page;
        paths.push_back(std::move(path));
    };
    if (language == Language::English) add(englishHelpPage);
    add(japaneseHelpPage);
    return paths;
}

}  // namespace ravoth::win32
