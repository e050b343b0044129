// setenv and unsetenv for tests written against POSIX, on the C runtime's
// _putenv_s (which removes a variable set to the empty text, as unsetenv
// does; the code under test treats an empty variable as unset anyway).
#pragma once

#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite)
{
    if (!overwrite && std::getenv(name)) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
