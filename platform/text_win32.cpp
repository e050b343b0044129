#include "platform/text.h"

#include <windows.h>

#include <cstdio>

namespace ravoth {

int wideCharToMultiByte(const char16_t* units, char* output, int outputBytes)
{
    if (!units || !output || outputBytes <= 0) return 0;
    // WC_COMPOSITECHECK is refused for UTF-8 (a system may run with UTF-8 as
    // its ANSI code page); without it combining marks stay as written,
    // which UTF-8 can hold.
    const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_COMPOSITECHECK;
    return WideCharToMultiByte(CP_ACP, flags, reinterpret_cast<const wchar_t*>(units), -1, output,
                               outputBytes, nullptr, nullptr);
}

const char* localEncodingName()
{
    static char name[16];
    std::snprintf(name, sizeof name, "CP%u", GetACP());
    return name;
}

}  // namespace ravoth
