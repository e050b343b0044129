// ravoth-cli: the batch front end over the extraction job.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/interrupt.h"
#include "app/texts.h"
#include "app/window_logic.h"
#include "cli/options.h"
#include "job/extraction.h"
#include "job/listing.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

using namespace ravoth;

// "image K: " for one of several images of a page.
std::string imageLabel(const PageOutcome& outcome)
{
    return outcome.imageNumber > 0 ? "image " + std::to_string(outcome.imageNumber) + ": " : std::string();
}

// What a failed image of the general reader says after "failed: ".
const char* imageFailure(PageReason reason)
{
    switch (reason) {
    case PageReason::DecodeNoMemory: return "no memory for its data";
    case PageReason::DecodeUnsupported: return "filter or colour space not read here";
    case PageReason::DecodeTooLarge: return "declares more than a page may decode to";
    case PageReason::DecodeTruncated: return "data cut short or undecodable";
    case PageReason::EncodeUnsupported: return "colour space, depth or /Decode not written here";
    case PageReason::EncodeUndecodable: return "JBIG2 data yields no page";
    case PageReason::EncodeNoMemory: return "no memory to decode or encode it";
    case PageReason::EncodeRefused: return "the image library refused it";
    default: return "damaged page or image";
    }
}

void printPageOutcome(const PageOutcome& outcome, std::FILE* out)
{
    const int page = outcome.pageNumber;
    const int code = outcome.code;
    const std::string image = imageLabel(outcome);
    switch (outcome.reason) {
    case PageReason::Written:
        std::fprintf(out, "page %d: wrote ", page);
        printText(outcome.fileName + "\n", out);
        return;
    case PageReason::Listed:
        std::fprintf(out, "page %d: would write ", page);
        printText(outcome.fileName + "\n", out);
        return;
    case PageReason::Stopped: std::fprintf(out, "page %d: stopped; its file was not written\n", page); return;
    case PageReason::NoImage: std::fprintf(out, "page %d: no image; nothing to write\n", page); return;
    case PageReason::ImageNotFound:
        std::fprintf(out, "page %d: failed: image not found (locator code %d)\n", page, code);
        return;
    case PageReason::NoMemoryForSamples:
        std::fprintf(out, "page %d: failed: no memory for the inflated samples\n", page);
        return;
    case PageReason::InflatesPastBound:
        std::fprintf(out, "page %d: failed: stream inflates past 16 times its image size\n", page);
        return;
    case PageReason::DeclaresBeyondStream:
        std::fprintf(out, "page %d: failed: declares more samples than its stream can hold\n", page);
        return;
    case PageReason::InflationFailed: std::fprintf(out, "page %d: failed: inflation code %d\n", page, code); return;
    case PageReason::BitmapNotWritten: std::fprintf(out, "page %d: failed: BMP writer code %d\n", page, code); return;
    case PageReason::JpegCannotBeCreated:
    case PageReason::JpegNotWrittenWhole:
        std::fprintf(out, "page %d: failed: JPEG file %s (code %d)\n", page,
                     outcome.reason == PageReason::JpegCannotBeCreated ? "cannot be created" : "not written whole", code);
        return;
    case PageReason::NameTooLong:
        std::fprintf(out, "page %d: failed: output name longer than 259 bytes\n", page);
        return;
    case PageReason::NotInPageList:
        std::fprintf(out, "pages %d-%d: failed: not in the page list (locator code -1)\n", page,
                     outcome.lastPageNumber);
        return;
    case PageReason::DecodeNoMemory:
    case PageReason::DecodeUnsupported:
    case PageReason::DecodeTooLarge:
    case PageReason::DecodeTruncated:
    case PageReason::DecodeDamaged:
        std::fprintf(out, "page %d: failed: %s%s\n", page, image.c_str(), imageFailure(outcome.reason));
        return;
    case PageReason::EncodeUnsupported:
    case PageReason::EncodeUndecodable:
    case PageReason::EncodeNoMemory:
    case PageReason::EncodeRefused:
        std::fprintf(out, "page %d: failed: %s%s (code %d)\n", page, image.c_str(), imageFailure(outcome.reason), code);
        return;
    case PageReason::FileCannotBeCreated:
    case PageReason::FileNotWrittenWhole:
        std::fprintf(out, "page %d: failed: %sfile %s (code %d)\n", page, image.c_str(),
                     outcome.reason == PageReason::FileCannotBeCreated ? "cannot be created" : "not written whole",
                     code);
        return;
    }
}

// "ravoth-cli: FILE: report" on stderr (without FILE when it is empty).
void printReport(const std::string& file, const std::string& report)
{
    std::fflush(stdout);
    // Appended piece by piece: GCC 12 warns falsely about "a" + b + c here.
    std::string line = "ravoth-cli: ";
    if (!file.empty()) line.append(file).append(": ");
    line.append(report).append("\n");
    printText(line, stderr);
}

// One line on a terminal, written over in place as pages are done: the page,
// the files written and the rate, at most ten times a second, and cleared
// when the run ends.
class ProgressLine {
public:
    explicit ProgressLine(Language language) : language_(language), start_(Clock::now()) {}

    void update(const PageProgress& page)
    {
        if (page.outcome.stage == PageStage::Written) {
            ++filesWritten_;
            bytesWritten_ += page.outcome.bytes;
        }
        const auto now = Clock::now();
        if (shown_ && now - lastShown_ < std::chrono::milliseconds(100) && page.pagesDone < page.pagesInRange)
            return;
        lastShown_ = now;
        shown_ = true;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        char rate[32];
        std::snprintf(rate, sizeof rate, ", %.1f MB/s", seconds > 0 ? bytesWritten_ / 1e6 / seconds : 0.0);
        std::string text = withCounts(texts::progressLine.in(language_), {page.pagesDone, page.pagesInRange, filesWritten_});
        text.append(rate);
        // Spaces cover what a longer line before left: not every console
        // knows the escape that clears to the end of a line.
        const std::size_t length = text.size();
        if (length < shownBytes_) text.append(shownBytes_ - length, ' ');
        shownBytes_ = length;
        printText("\r" + text, stderr);
        std::fflush(stderr);
    }

    void clear()
    {
        if (!shown_) return;
        std::string blank = "\r";
        blank.append(shownBytes_, ' ').append("\r");
        std::fputs(blank.c_str(), stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    Language language_;
    Clock::time_point start_;
    Clock::time_point lastShown_{};
    bool shown_ = false;
    // Bytes of the line shown: at least as many as the columns it took.
    std::size_t shownBytes_ = 0;
    long filesWritten_ = 0;
    std::uint64_t bytesWritten_ = 0;
};

int exitCodeOf(ExtractionOutcome outcome)
{
    switch (outcome) {
    case ExtractionOutcome::Complete: return cli::exitComplete;
    case ExtractionOutcome::CompletePartly: return cli::exitPartly;
    case ExtractionOutcome::Failure: break;
    }
    return cli::exitFailure;
}

// How one document ended, for the batch: its exit status, and whether a
// stop ended the batch there.
struct DocumentEnd {
    int exitCode = cli::exitComplete;
    bool stopped = false;
};

// The run of one document as the options ask for it.
void configureRun(ExtractionRun& run, const cli::Options& options, const std::string& file, std::string* base,
                  const std::atomic<bool>& stop)
{
    run.setOutlineNames(options.outlineNames);
    run.setAnyProducer(options.anyProducer);
    if (options.format) run.setOutputFormat(*options.format);
    run.setListing(options.list);
    run.setStopRequest(&stop);
    *base = options.outputBase ? *options.outputBase : file;
    if (options.outputFolder) *base = inFolder(*options.outputFolder, options.outputBase ? *base : fileNameOf(file));
    if (options.archive)
        run.setArchive(options.outputFolder ? inFolder(*options.outputFolder, *options.archive) : *options.archive);
}

// Extracts one document and says how it went: the page list, the pages
// with -v, the outcome unless -q, and on stderr why it did not end Complete.
DocumentEnd extractDocument(const cli::Options& options, const std::string& file, Language language,
                            std::FILE* messages, bool showProgress, const std::atomic<bool>& stop)
{
    ExtractionRun run;
    std::string base;
    configureRun(run, options, file, &base, stop);
    ProgressLine progress(language);
    if (showProgress) run.setProgress([&](const PageProgress& page) { progress.update(page); });
    const int result = run.run(file.c_str(), options.firstPage, options.lastPage, base.c_str());
    progress.clear();
    if (options.list) {
        const std::string* pdf = options.files.size() > 1 ? &file : nullptr;
        for (const PageOutcome& outcome : run.pageOutcomes())
            if (outcome.stage == PageStage::Listed) printText(listingLine(outcome, pdf), stdout);
    }
    if (options.verbose) {
        for (const PageOutcome& outcome : run.pageOutcomes()) printPageOutcome(outcome, messages);
        std::fprintf(messages, "result: %d lasterror: %d\n", result, static_cast<int>(run.lastError()));
    }
    // Why a file did not end Complete goes to stderr whatever -q says:
    // a batch that skips a file must say which and why.
    const RunReport report = reportOf(run, result);
    const std::string reason = failureReason(language, report);
    if (result == extractionStopped) {
        printReport(file, reason);
        return {cli::exitComplete, true};
    }
    const ExtractionOutcome outcome = outcomeOf(result, run.filesWritten());
    if (!options.quiet) {
        const Text& message = outcome == ExtractionOutcome::Complete         ? texts::complete
                              : outcome == ExtractionOutcome::CompletePartly ? texts::completePartly
                                                                             : texts::failure;
        printText(std::string(message.in(language)) + "\n", messages);
    }
    if (!reason.empty())
        printReport(file, generalReaderWouldRead(report)
                              ? reason + "; " + std::string(texts::hintAnyProducer.in(language))
                              : reason);
    return {exitCodeOf(outcome), false};
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
    // the file it was writing; a second Ctrl+C does not wait for that.
    static std::atomic<bool> stop{false};
    stopOnInterrupt(&stop);
    // The progress line is for a person watching a terminal; -q asks for
    // silence, and a log file wants no carriage returns.
    const bool showProgress = !options.quiet && isTerminal(stderr);

    // The page list has standard output to itself; what a run says besides
    // goes to standard error.
    std::FILE* const messages = options.list ? stderr : stdout;
    if (options.outputFolder && !options.list && !makeFolder(*options.outputFolder)) {
        printReport(*options.outputFolder, std::string(texts::reasonFolderNotMade.in(language)));
        return cli::exitFailure;
    }

    int worst = cli::exitComplete;
    for (const std::string& file : options.files) {
        if (interruptExitStatus() != 0) break;
        if (options.files.size() > 1 && !options.quiet) printText(file + ":\n", messages);
        const DocumentEnd end = extractDocument(options, file, language, messages, showProgress, stop);
        if (end.stopped) break;
        if (end.exitCode > worst) worst = end.exitCode;
    }
    // A report that did not reach its reader must not pass for one that did.
    const bool outputLost = std::fflush(stdout) != 0 || std::ferror(stdout);
    interruptHandled();
    if (const int status = interruptExitStatus()) return status;
    if (outputLost) {
        printReport("", std::string(texts::cannotWriteOutput.in(language)));
        return cli::exitOutputError;
    }
    return worst;
}
