#include "app/win32/window_texts.h"

#include "app/window_logic.h"
#include "platform/text.h"

namespace ravoth::win32 {

std::wstring windowText(std::string_view utf8) { return toWide(utf8); }

std::wstring notPdfText(Language language, std::wstring_view path)
{
    // The path is spliced in after conversion, so that no "%s" inside it
    // is ever taken for the placeholder.
    std::wstring message = windowText(texts::notPdfFile, language);
    const std::size_t placeholder = message.find(L"%s");
    if (placeholder != std::wstring::npos) message.replace(placeholder, 2, path);
    return message;
}

}  // namespace ravoth::win32
