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

std::string joinPath(std::string_view folder, std::string_view name, char separator)
{
    std::string path(folder);
    if (path.empty() || path.back() != separator) path += separator;
    path += name;
    return path;
}

std::string withPath(const Text& text, Language language, std::string_view path)
{
    std::string message(text.in(language));
    const std::size_t placeholder = message.find("%s");
    if (placeholder != std::string::npos) message.replace(placeholder, 2, path);
    return message;
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
    return withPath(texts::notPdfFile, language, path);
}

std::vector<std::string> helpPageCandidates(std::string_view helpFolder,
                                            std::string_view installedFolder, Language language,
                                            char separator)
{
    std::vector<std::string> candidates;
    auto add = [&](std::string_view folder, std::string_view page) {
        std::string path = joinPath(folder, page, separator);
        // The program started from its own folder has that folder twice; a
        // page that no program opened need not be offered again.
        for (const std::string& candidate : candidates)
            if (candidate == path) return;
        candidates.push_back(std::move(path));
    };
    for (const std::string_view folder : {helpFolder, installedFolder}) {
        if (folder.empty()) continue;
        if (language == Language::English) add(folder, englishHelpPage);
        add(folder, japaneseHelpPage);
    }
    return candidates;
}

std::string helpNotOpenedMessage(Language language, std::string_view path)
{
    return withPath(texts::helpNotOpened, language, path);
}

const Text& resultMessage(int result, bool written)
{
    if (result == extractionStopped) return texts::cancelled;
    switch (outcomeOf(result, written)) {
    case ExtractionOutcome::Complete: return texts::complete;
    case ExtractionOutcome::CompletePartly: return texts::completePartly;
    case ExtractionOutcome::Failure: break;
    }
    return texts::failure;
}

std::string withCounts(std::string_view text, std::initializer_list<long> counts)
{
    std::string out;
    const long* next = counts.begin();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 2) == "%d" && next != counts.end()) {
            out += std::to_string(*next++);
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

RunReport reportOf(const ExtractionRun& run, int result)
{
    RunReport report;
    report.result = result;
    report.failure = run.failure();
    report.openFailure = run.openFailure();
    report.pageCount = run.pageCount();
    // A page of the general reader may end in several outcomes, one per
    // image: it counts once, and once as not written when any image failed.
    int lastFailedPage = 0;
    for (const PageOutcome& outcome : run.pageOutcomes()) {
        const int pages = outcome.lastPageNumber - outcome.pageNumber + 1;
        if (outcome.endsPage) report.pagesInRange += pages;
        if (outcome.stage == PageStage::Written || outcome.stage == PageStage::Listed) {
            ++report.pageFilesWritten;
        } else if (outcome.stage != PageStage::Stopped && outcome.stage != PageStage::NoImage &&
                   outcome.pageNumber > lastFailedPage) {
            report.pagesNotWritten += pages;
            lastFailedPage = outcome.lastPageNumber;
        }
    }
    return report;
}

std::string failureReason(Language language, const RunReport& report)
{
    auto text = [&](const Text& reason) { return std::string(reason.in(language)); };
    switch (report.failure) {
    case RunFailure::None: return {};
    case RunFailure::CannotOpen:
        switch (report.openFailure) {
        case OpenFailure::NotFound: return text(texts::reasonNoSuchFile);
        case OpenFailure::AccessDenied: return text(texts::reasonAccessDenied);
        case OpenFailure::NotRegularFile: return text(texts::reasonNotRegularFile);
        case OpenFailure::None:
        case OpenFailure::Other: break;
        }
        return text(texts::reasonCannotOpen);
    case RunFailure::CannotRead: return text(texts::reasonCannotRead);
    case RunFailure::NoMemory: return text(texts::reasonNoMemory);
    case RunFailure::NotPdf: return text(texts::reasonNotPdf);
    case RunFailure::Encrypted: return text(texts::reasonEncrypted);
    case RunFailure::DamagedXref: return text(texts::reasonDamagedXref);
    case RunFailure::DamagedPageTree: return text(texts::reasonDamagedPageTree);
    case RunFailure::DamagedInfo: return text(texts::reasonDamagedInfo);
    case RunFailure::ForeignProducer:
    case RunFailure::ForeignLayout: return text(texts::reasonForeign);
    case RunFailure::PageRange: return withCounts(texts::reasonPageRange.in(language), {report.pageCount});
    case RunFailure::PagesMissing:
        return withCounts(texts::reasonPagesMissing.in(language), {report.pagesNotWritten, report.pagesInRange});
    case RunFailure::Stopped: return withCounts(texts::interrupted.in(language), {report.pageFilesWritten});
    case RunFailure::DocumentChanged: return text(texts::reasonChanged);
    case RunFailure::ArchiveNotWritten: return text(texts::reasonArchive);
    }
    return {};
}

bool generalReaderWouldRead(const RunReport& report)
{
    return report.failure == RunFailure::ForeignProducer || report.failure == RunFailure::ForeignLayout;
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
