// The Windows window's texts and paths as its wide calls take them. Nothing
// here needs a window, so tests reach it directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/texts.h"
#include "app/window_batch.h"
#include "app/window_logic.h"

namespace ravoth::win32 {

// A UTF-8 text as UTF-16, so that it shows the same on a system of any ANSI
// code page; empty when the text is empty.
std::wstring windowText(std::string_view utf8);
inline std::wstring windowText(const Text& text, Language language)
{
    return windowText(text.in(language));
}

// The not-a-PDF message with the dropped path put in unchanged for "%s".
std::wstring notPdfText(Language language, std::wstring_view path);

// The line beside the progress bar: "page N of M" with `pagesDone` and
// `pagesInRange` put in as a progress bar writes its value and maximum.
std::wstring progressText(Language language, int pagesDone, int pagesInRange);
// The same for document `document` of a batch of `documents`; one document
// reads as above.
std::wstring progressText(Language language, int document, int documents, int pagesDone, int pagesInRange);

// The box that ends a run: its fixed outcome text, or the cancelled text;
// below a Failure or a Complete-but-partly text, after a blank line, the
// reason in words.
std::wstring outcomeText(Language language, const RunReport& report, bool filesWritten);

// The box that ends a batch of several documents: its outcome text and,
// after a blank line, a line for each document that did not end Complete.
std::wstring batchOutcomeText(Language language, const BatchSummary& summary);

}  // namespace ravoth::win32
