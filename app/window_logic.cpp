#include "app/window_logic.h"

#include <climits>

#include "job/extraction.h"

namespace ravoth {

namespace {

char toUpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    std::string path(folder);
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

}  // namespace

Language languageFromCommandLine(std::string_view commandLine, Language current)
{
    if (commandLine.size() < 3 || commandLine[0] != '/') return current;
    const char first = toUpperAscii(commandLine[1]);
    const char second = toUpperAscii(commandLine[2]);
    if (first == 'U' && second == 'S') return Language::English;
    if (first == 'J' && second == 'P') return Language::Japanese;
    return current;
}

std::optional<int> pageFieldValue(std::string_view text)
{
    if (text == "0") return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (!isDigit(c)) return std::nullopt;
        const int digit = c - '0';
        // Saturate rather than overflow: any such number is past the last
        // page, and the job reports that as a failure.
        value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
    }
    return value;
}

ExtractRequest prepareExtraction(std::string_view fileName, std::string_view firstPageText,
                                 std::string_view lastPageText)
{
    ExtractRequest request;
    const std::optional<int> first = pageFieldValue(firstPageText);
    const std::optional<int> last = first ? pageFieldValue(lastPageText) : std::nullopt;
    if (!first || !last) {
        request.step = ExtractStep::PageInputError;
        return request;
    }
    request.firstPage = *first;
    request.lastPage = *last;
    request.step = fileName.empty() ? ExtractStep::NoFileName : ExtractStep::Run;
    return request;
}

bool isPdfFileName(std::string_view path)
{
    if (path.size() < 5) return false;
    const std::string_view tail = path.substr(path.size() - 4);
    return tail[0] == '.' && toUpperAscii(tail[1]) == 'P' && toUpperAscii(tail[2]) == 'D' &&
           toUpperAscii(tail[3]) == 'F';
}

std::string notPdfMessage(Language language, std::string_view path)
{
    std::string message(texts::notPdfFile.in(language));
    const std::size_t placeholder = message.find("%s");
    if (placeholder != std::string::npos) message.replace(placeholder, 2, path);
    return message;
}

std::vector<std::string> helpPageCandidates(std::string_view helpFolder,
                                            std::string_view installedFolder, Language language)
{
    std::vector<std::string> candidates;
    for (const std::string_view folder : {helpFolder, installedFolder}) {
        if (folder.empty()) continue;
        if (language == Language::English) candidates.push_back(joinPath(folder, englishHelpPage));
        candidates.push_back(joinPath(folder, japaneseHelpPage));
    }
    return candidates;
}

const Text& resultMessage(int result, bool written)
{
    switch (outcomeOf(result, written)) {
    case ExtractionOutcome::Complete: return texts::complete;
    case ExtractionOutcome::CompletePartly: return texts::completePartly;
    case ExtractionOutcome::Failure: break;
    }
    return texts::failure;
}

std::string aboutText(Language language)
{
    std::string text(texts::caption);
    text += ' ';
    text += texts::versionLabel.in(language);
    text += ' ';
    text += texts::version;
    text += "\n\n";
    text += texts::description;
    return text;
}

}  // namespace ravoth
