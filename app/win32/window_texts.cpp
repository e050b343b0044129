#include "app/win32/window_texts.h"

#include "app/window_choices.h"
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

std::wstring progressText(Language language, int pagesDone, int pagesInRange)
{
    return progressText(language, 1, 1, pagesDone, pagesInRange);
}

std::wstring progressText(Language language, int document, int documents, int pagesDone, int pagesInRange)
{
    // The two placeholders stand in either order; the Japanese text names
    // the maximum first.
    std::wstring text;
    const std::wstring format = windowText(progressFormat(language, document, documents));
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size() && (format[i + 1] == L'v' || format[i + 1] == L'm')) {
            text += std::to_wstring(format[i + 1] == L'v' ? pagesDone : pagesInRange);
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}

std::wstring outcomeText(Language language, const RunReport& report, bool filesWritten)
{
    std::wstring text = windowText(resultMessage(report.result, filesWritten), language);
    // A stopped run was the user's own choice and needs no reason; a
    // complete one has none.
    if (report.result == extractionStopped) return text;
    const std::string reason = failureReason(language, report);
    if (!reason.empty()) text += L"\n\n" + windowText(reason);
    return text;
}

std::wstring batchOutcomeText(Language language, const BatchSummary& summary)
{
    std::wstring text = windowText(*summary.message, language);
    if (!summary.reasons.empty()) text += L"\n\n" + windowText(summary.reasons);
    return text;
}

}  // namespace ravoth::win32
