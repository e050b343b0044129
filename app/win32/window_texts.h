// The Windows window's texts and paths as its ANSI calls take them. Nothing
// here needs a window, so tests reach it directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/texts.h"

namespace ravoth::win32 {

// The code page the Japanese texts are given in, whatever the system's.
inline constexpr unsigned japaneseCodePage = 932;

// `utf8` converted to `codePage`; empty when the text cannot be converted.
// Characters the code page lacks become its default character.
std::string toCodePage(std::string_view utf8, unsigned codePage);

// A text of the shared table for an ANSI call: Japanese in code page 932,
// English (plain ASCII) as it stands.
std::string windowText(std::string_view utf8, Language language);
inline std::string windowText(const Text& text, Language language)
{
    return windowText(text.in(language), language);
}

// The not-a-PDF message with the dropped path, which is already in the
// system's ANSI code page, put in unchanged for "%s".
std::string notPdfText(Language language, std::string_view ansiPath);

// The help pages to try, in order: the working folder at start-up followed
// by "\RavothE.htm" (English only), then by "\Ravoth.htm".
std::vector<std::string> helpPagePaths(std::string_view helpFolder, Language language);

}  // namespace ravoth::win32
