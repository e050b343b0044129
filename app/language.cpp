#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/texts.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#endif

namespace ravoth {

#ifdef _WIN32

// The user's default language, as the window decides it.
Language localeLanguage()
{
    return GetUserDefaultLangID() == 0x0411 ? Language::Japanese : Language::English;
}

// The texts are UTF-8; a console shows its own code page, and output sent
// elsewhere is read in the ANSI code page like every other text there.
void printText(std::string_view utf8, std::FILE* stream)
{
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), units);
    DWORD mode = 0;
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    const UINT codePage = GetConsoleMode(handle, &mode) ? GetConsoleOutputCP() : CP_ACP;
    const int bytes = WideCharToMultiByte(codePage, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string local(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), units, local.data(), bytes, nullptr, nullptr);
    std::fwrite(local.data(), 1, local.size(), stream);
}

#else

Language localeLanguage()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        const std::string_view locale(value);
        const bool japanese = locale.substr(0, 2) == "ja" &&
                              (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' ||
                               locale[2] == '@');
        return japanese ? Language::Japanese : Language::English;
    }
    return Language::English;
}

void printText(std::string_view utf8, std::FILE* stream)
{
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

#endif

}  // namespace ravoth
