#include "app/command_line.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <shellapi.h>

#include "platform/text.h"
#else
#include <unistd.h>
#endif

namespace ravoth {

#ifdef _WIN32

// `argv` holds the arguments in the ANSI code page, where a character the
// code page lacks has already become "?"; the wide command line still has it.
std::vector<std::string> commandLineArguments(int, char**)
{
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(toUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool isTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

#else

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

#endif

}  // namespace ravoth
