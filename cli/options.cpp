#include "cli/options.h"

#include <limits>

namespace ravoth::cli {

const char* const usageText =
    "Usage: ravoth-cli [options] FILE...\n"
    "Writes each page's image of a PDF made by Mesker, Tolvin or Dravel beside it:\n"
    "a JPEG page as FILE-N.jpg (its bytes unchanged), a Flate page as FILE-N.bmp.\n"
    "With -a any other PDF too: each image a page draws as FILE-N.jpg, .jp2 or\n"
    ".tif (coded data unchanged) or decoded to .bmp, .png or .tif; a page of K\n"
    "images gives FILE-N-1 ... FILE-N-K.\n"
    "\n"
    "Options:\n"
    "  -f, --first N          first page to extract (1-based; 0 = the first page)\n"
    "  -l, --last N           last page to extract (0 = the last page)\n"
    "  -o, --output-base BASE form the output names from BASE instead of FILE\n"
    "                         (only with a single FILE)\n"
    "  -a, --any-producer     read PDFs of any other producer with the general reader\n"
    "  -t, --outline-names    name each page's file after its first bookmark\n"
    "                         (the numbered name where that gives none)\n"
    "      --format FORMAT    bmp (the default), png or tiff: the format of decoded\n"
    "                         pages, PNG and TIFF with the page's resolution\n"
    "                         (1-bit TIFF in Group 4); JPEG pages stay .jpg\n"
    "      --cbz ARCHIVE      write the files into one ZIP archive with a\n"
    "                         ComicInfo.xml instead (only with a single FILE);\n"
    "                         decoded and fax pages go in as PNG unless --format\n"
    "                         says otherwise\n"
    "      --list             write nothing; print one JSON object per image: page,\n"
    "                         file, format, width, height, bits, colours, bytes,\n"
    "                         dpi, title (and pdf with several FILEs)\n"
    "      --output-folder DIR\n"
    "                         write into DIR (made if missing) instead of beside\n"
    "                         each FILE; a relative BASE or ARCHIVE goes there too\n"
    "  -v, --verbose          report every page and the result codes\n"
    "  -q, --quiet            print no outcome message\n"
    "      --lang en|ja       language of the messages (default: the locale's)\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Exit status: 0 every page written (Complete), 1 some pages missing\n"
    "(Complete but partly), 2 failure, 64 usage error, 74 the report could not\n"
    "be written to standard output; with several files the worst outcome counts.\n"
    "Interrupted (Ctrl+C, SIGTERM, SIGHUP), it removes the file it was writing,\n"
    "keeps those already written and exits 130, 143 or 129.\n";

namespace {

// A name that an archive must not take: the document itself, most likely,
// given in the wrong place.
bool endsWithPdf(const std::string& name)
{
    if (name.size() < 4) return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return end == ".pdf";
}

bool isShortFlag(char c) { return c == 'v' || c == 'q' || c == 'h' || c == 't' || c == 'a'; }

// "-vq" is "-v -q"; anything after "--" is left alone.
std::vector<std::string> expandShortFlags(const std::vector<std::string>& arguments)
{
    std::vector<std::string> expanded;
    bool onlyFiles = false;
    for (const std::string& argument : arguments) {
        if (argument == "--") onlyFiles = true;
        bool allFlags = !onlyFiles && argument.size() > 2 && argument[0] == '-' && argument[1] != '-';
        for (std::size_t k = 1; allFlags && k < argument.size(); ++k) allFlags = isShortFlag(argument[k]);
        if (!allFlags) {
            expanded.push_back(argument);
            continue;
        }
        for (std::size_t k = 1; k < argument.size(); ++k) expanded.push_back({'-', argument[k]});
    }
    return expanded;
}

}  // namespace

std::optional<int> parsePageValue(const std::string& text)
{
    if (text.empty()) return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max()) return std::nullopt;
    }
    return static_cast<int>(value);
}

namespace {

// Reads the arguments one option at a time.
class OptionReader {
public:
    explicit OptionReader(const std::vector<std::string>& arguments) : arguments_(expandShortFlags(arguments)) {}

    ParseResult read()
    {
        bool onlyFiles = false;
        for (at_ = 0; at_ < arguments_.size() && result_.error.empty(); ++at_) {
            const std::string& argument = arguments_[at_];
            if (onlyFiles || argument.empty() || argument[0] != '-' || argument == "-") {
                result_.options.files.push_back(argument);
            } else if (argument == "--") {
                onlyFiles = true;
            } else {
                split(argument);
                if (!apply()) fail("unknown option " + name_);
            }
        }
        return std::move(result_);
    }

private:
    // The option's name, and a value given with it ("--name=value", "-fN").
    void split(const std::string& argument)
    {
        name_ = argument;
        attached_.reset();
        if (argument.rfind("--", 0) == 0) {
            if (const auto equals = argument.find('='); equals != std::string::npos) {
                name_ = argument.substr(0, equals);
                attached_ = argument.substr(equals + 1);
            }
        } else if (argument.size() > 2) {
            name_ = argument.substr(0, 2);
            attached_ = argument.substr(2);
        }
    }

    void fail(std::string message)
    {
        if (result_.error.empty()) result_.error = std::move(message);
    }

    bool is(const char* shortName, const char* longName) const
    {
        return (shortName && name_ == shortName) || name_ == longName;
    }

    std::optional<std::string> value()
    {
        if (attached_) return attached_;
        if (at_ + 1 < arguments_.size()) return arguments_[++at_];
        fail("option " + name_ + " needs a value");
        return std::nullopt;
    }

    void pageValue(int* into)
    {
        const auto text = value();
        if (!text) return;
        if (const auto page = parsePageValue(*text))
            *into = *page;
        else
            fail("option " + name_ + ": '" + *text + "' is not a whole number 0 or more");
    }

    void noValue(bool* flag)
    {
        if (attached_) fail("option " + name_ + " takes no value");
        *flag = true;
    }

    // A value that must not be empty; none after a failure.
    std::optional<std::string> namedValue(const char* missing)
    {
        auto text = value();
        if (text && text->empty()) {
            fail(missing);
            return std::nullopt;
        }
        return text;
    }

    // Takes the option named; false when there is none of that name.
    bool apply()
    {
        Options& options = result_.options;
        if (is("-f", "--first")) {
            pageValue(&options.firstPage);
        } else if (is("-l", "--last")) {
            pageValue(&options.lastPage);
        } else if (is("-o", "--output-base")) {
            if (const auto text = value()) options.outputBase = *text;
        } else if (is("-v", "--verbose")) {
            noValue(&options.verbose);
        } else if (is("-q", "--quiet")) {
            noValue(&options.quiet);
        } else if (is("-a", "--any-producer")) {
            noValue(&options.anyProducer);
        } else if (is(nullptr, "--format")) {
            const auto text = value();
            const auto format = text ? formatNamed(*text) : std::nullopt;
            if (format) options.format = *format;
            else if (text) fail("option --format takes bmp, png or tiff, not '" + *text + "'");
        } else if (is(nullptr, "--cbz")) {
            const auto text = namedValue("option --cbz needs a file name");
            if (text && endsWithPdf(*text)) fail("option --cbz names the archive to write, not a PDF: '" + *text + "'");
            else if (text) options.archive = *text;
        } else if (is(nullptr, "--list")) {
            noValue(&options.list);
        } else if (is(nullptr, "--output-folder")) {
            if (const auto text = namedValue("option --output-folder needs a folder")) options.outputFolder = *text;
        } else if (is("-t", "--outline-names")) {
            noValue(&options.outlineNames);
        } else if (is("-h", "--help")) {
            noValue(&options.help);
        } else if (is(nullptr, "--version")) {
            noValue(&options.version);
        } else if (is(nullptr, "--lang")) {
            const auto text = value();
            if (text && *text == "en") options.language = Language::English;
            else if (text && *text == "ja") options.language = Language::Japanese;
            else if (text) fail("option --lang takes en or ja, not '" + *text + "'");
        } else {
            return false;
        }
        return true;
    }

    const std::vector<std::string> arguments_;
    std::size_t at_ = 0;
    std::string name_;
    std::optional<std::string> attached_;
    ParseResult result_;
};

}  // namespace

ParseResult parseOptions(const std::vector<std::string>& arguments)
{
    ParseResult result = OptionReader(arguments).read();
    Options& options = result.options;
    if (!result.error.empty() || options.help || options.version) return result;
    if (options.files.empty())
        result.error = "no FILE given";
    else if (options.outputBase && options.files.size() > 1)
        result.error = "--output-base is allowed with one FILE only";
    else if (options.archive && options.files.size() > 1)
        result.error = "--cbz is allowed with one FILE only";
    return result;
}

}  // namespace ravoth::cli
