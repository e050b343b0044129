// Which ANSI code page the test program runs in. Wine takes it from the
// locale it is started in: C.UTF-8 gives 1252, ja_JP.UTF-8 gives 932.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace ravoth::testing {

// Whether the process runs in `codePage`. A test for another code page is
// skipped, unless RAVOTH_REQUIRE_ACP names this one: then the run was meant
// for it, and the wrong code page is a failure.
inline bool inCodePage(unsigned codePage)
{
    if (GetACP() == codePage) return true;
    const char* required = std::getenv("RAVOTH_REQUIRE_ACP");
    if (required && std::to_string(codePage) == required)
        ADD_FAILURE() << "ANSI code page " << GetACP() << ", not " << codePage
                      << " (is the locale ja_JP.UTF-8 generated?)";
    return false;
}

}  // namespace ravoth::testing
