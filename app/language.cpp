#include <cstdlib>
#include <string_view>

#include "app/texts.h"

namespace ravoth {

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

}  // namespace ravoth
