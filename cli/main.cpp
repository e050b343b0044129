// ravoth-cli: the batch front end over the extraction job.
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/interrupt.h"
#include "app/texts.h"
#include "cli/options.h"
#include "job/extraction.h"

namespace {

using namespace ravoth;

void printPageOutcome(const PageOutcome& outcome)
{
    const int page = outcome.pageNumber;
    switch (outcome.stage) {
    case PageStage::Written:
        std::printf("page %d: wrote ", page);
        printText(outcome.fileName + "\n", stdout);
        return;
    case PageStage::Locate:
        std::printf("page %d: failed: image not found (locator code %d)\n", page, outcome.code);
        return;
    case PageStage::InflateMemory:
        std::printf("page %d: failed: no memory for the inflated samples\n", page);
        return;
    case PageStage::InflateBound:
        std::printf("page %d: failed: stream inflates past 16 times its image size\n", page);
        return;
    case PageStage::ImageTooLarge:
        std::printf("page %d: failed: declares more samples than its stream can hold\n", page);
        return;
    case PageStage::Inflate:
        std::printf("page %d: failed: inflation code %d\n", page, outcome.code);
        return;
    case PageStage::WriteBmp:
        std::printf("page %d: failed: BMP writer code %d\n", page, outcome.code);
        return;
    case PageStage::WriteJpeg:
        std::printf("page %d: failed: JPEG file %s (code %d)\n", page,
                    outcome.code == -1 ? "cannot be created" : "not written whole", outcome.code);
        return;
    case PageStage::Name:
        std::printf("page %d: failed: output name longer than 259 bytes\n", page);
        return;
    case PageStage::PastPageList:
        std::printf("pages %d-%d: failed: not in the page list (locator code -1)\n", page,
                    outcome.lastPageNumber);
        return;
    case PageStage::Stopped:
        std::printf("page %d: stopped; its file was not written\n", page);
        return;
    }
}

// "ravoth-cli: FILE: report" on stderr (without FILE when it is empty);
// "%d" in the report stands for `count`.
void printReport(const std::string& file, const Text& report, Language language, long count = 0)
{
    std::fputs("ravoth-cli: ", stderr);
    if (!file.empty()) std::fprintf(stderr, "%s: ", file.c_str());
    const std::string_view text = report.in(language);
    const std::size_t mark = text.find("%d");
    if (mark == std::string_view::npos) {
        printText(text, stderr);
    } else {
        printText(text.substr(0, mark), stderr);
        std::fprintf(stderr, "%ld", count);
        printText(text.substr(mark + 2), stderr);
    }
    std::fputc('\n', stderr);
}

int exitCodeOf(ExtractionOutcome outcome)
{
    switch (outcome) {
    case ExtractionOutcome::Complete: return cli::exitComplete;
    case ExtractionOutcome::CompletePartly: return cli::exitPartly;
    case ExtractionOutcome::Failure: break;
    }
    return cli::exitFailure;
}

}  // namespace

int main(int argc, char** argv)
{
    // Bookmark titles become file names in the locale's encoding.
    std::setlocale(LC_CTYPE, "");
    const std::vector<std::string> arguments = commandLineArguments(argc, argv);
    const cli::ParseResult parsed = cli::parseOptions(arguments);
    if (!parsed.error.empty()) {
        printText("ravoth-cli: " + parsed.error + " (Try 'ravoth-cli --help'.)\n", stderr);
        return cli::exitUsage;
    }
    const cli::Options& options = parsed.options;
    if (options.help) {
        std::fputs(cli::usageText, stdout);
        return cli::exitComplete;
    }
    if (options.version) {
        std::printf("ravoth-cli %.*s\n", static_cast<int>(texts::version.size()), texts::version.data());
        return cli::exitComplete;
    }
    const Language language = options.language.value_or(localeLanguage());

    // Ctrl+C or a request to terminate stops the run after it has removed
    // the file it was writing.
    static std::atomic<bool> stop{false};
    stopOnInterrupt(&stop);
    setStopRequest(&stop);

    int worst = cli::exitComplete;
    std::vector<PageOutcome> pages;
    for (const std::string& file : options.files) {
        if (interruptExitStatus() != 0) break;
        if (options.files.size() > 1 && !options.quiet) printText(file + ":\n", stdout);
        pages.clear();
        setPageOutcomeList(&pages);
        outlineOption = options.outlineNames;
        const std::string& base = options.outputBase ? *options.outputBase : file;
        const int result = runExtraction(file.c_str(), options.firstPage, options.lastPage, base.c_str());
        const std::int32_t lastError = LastError;
        setPageOutcomeList(nullptr);
        if (options.verbose) {
            for (const PageOutcome& outcome : pages) printPageOutcome(outcome);
            std::printf("result: %d lasterror: %d\n", result, static_cast<int>(lastError));
        }
        if (result == extractionStopped) {
            const auto written = std::count_if(pages.begin(), pages.end(), [](const PageOutcome& outcome) {
                return outcome.stage == PageStage::Written;
            });
            printReport(file, texts::interrupted, language, static_cast<long>(written));
            break;
        }
        const ExtractionOutcome outcome = outcomeOf(result, filesWritten);
        if (!options.quiet) {
            const Text& message = outcome == ExtractionOutcome::Complete ? texts::complete
                                  : outcome == ExtractionOutcome::CompletePartly
                                      ? texts::completePartly
                                      : texts::failure;
            printText(message.in(language), stdout);
            std::putchar('\n');
        }
        const int code = exitCodeOf(outcome);
        if (code > worst) worst = code;
    }
    setStopRequest(nullptr);
    // A report that did not reach its reader must not pass for one that did.
    const bool outputLost = std::fflush(stdout) != 0 || std::ferror(stdout);
    interruptHandled();
    if (const int status = interruptExitStatus()) return status;
    if (outputLost) {
        printReport("", texts::cannotWriteOutput, language);
        return cli::exitOutputError;
    }
    return worst;
}
