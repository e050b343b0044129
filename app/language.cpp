#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/texts.h"

#ifdef _WIN32
#include <windows.h>

#include <io.h>

#include <string>

#include "platform/text.h"
#endif

namespace ravoth {

#ifdef _WIN32

// The user's default language, as the window decides it.
Language localeLanguage()
{
    return GetUserDefaultLangID() == 0x0411 ? Language::Japanese : Language::English;
}

// A console takes UTF-16 whatever its code page; anything else gets the
// texts' own UTF-8, as the program's other output is.
void printText(std::string_view utf8, std::FILE* stream)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        std::fwrite(utf8.data(), 1, utf8.size(), stream);
        return;
    }
    // What the stream holds goes first, so that lines keep their order.
    std::fflush(stream);
    const std::wstring wide = toWide(utf8);
    std::size_t done = 0;
    while (done < wide.size()) {
        DWORD written = 0;
        if (!WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(wide.size() - done), &written,
                           nullptr) ||
            written == 0)
            return;
        done += written;
    }
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
