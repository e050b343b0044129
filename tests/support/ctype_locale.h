// Switches LC_CTYPE for one test and puts the previous one back.
#pragma once

#include <clocale>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace ravoth::testing {

class CtypeLocale {
public:
    // Takes the first of the candidates that the system has.
    explicit CtypeLocale(std::initializer_list<const char*> candidates)
        : previous_(std::setlocale(LC_CTYPE, nullptr))
    {
        for (const char* name : candidates) {
            if (std::setlocale(LC_CTYPE, name)) {
                active_ = true;
                return;
            }
        }
    }
    ~CtypeLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    CtypeLocale(const CtypeLocale&) = delete;
    CtypeLocale& operator=(const CtypeLocale&) = delete;
    bool active() const { return active_; }

private:
    std::string previous_;
    bool active_ = false;
};

// Makes path text UTF-8 for one test where the system allows it. Linux takes
// it from LC_CTYPE, so the first UTF-8 locale the system has is switched to.
// Windows path text is UTF-8 whatever the C runtime's locale, and msvcrt
// knows no UTF-8 locale to switch to; asking it for one would skip the test
// on the one system where it cannot be missing.
class Utf8PathText {
public:
    Utf8PathText() : locale_({"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {}
    bool active() const { return std::string_view(localEncodingName()) == "UTF-8"; }

private:
    CtypeLocale locale_;
};

}  // namespace ravoth::testing
