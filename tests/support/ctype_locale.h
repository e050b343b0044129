// Switches LC_CTYPE for one test and puts the previous one back.
#pragma once

#include <clocale>
#include <initializer_list>
#include <string>

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

}  // namespace ravoth::testing
