// The command line of ravoth-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/texts.h"
#include "image/page_format.h"

namespace ravoth::cli {

struct Options {
    int firstPage = 0;
    int lastPage = 0;
    std::optional<std::string> outputBase;
    bool verbose = false;
    bool quiet = false;
    bool outlineNames = false;
    bool anyProducer = false;
    std::optional<OutputFormat> format;  // none: the run's default
    std::optional<std::string> archive;       // --cbz FILE
    bool list = false;
    std::optional<std::string> outputFolder;
    std::optional<Language> language;  // none: from the locale
    bool help = false;
    bool version = false;
    std::vector<std::string> files;
};

struct ParseResult {
    Options options;
    std::string error;  // empty when the command line is usable
};

// Parses argv[1..]. "--name=value" and "--name value" are both taken; "--"
// ends the options.
ParseResult parseOptions(const std::vector<std::string>& arguments);

// Reads a page value: a whole number 0 or more, digits only.
std::optional<int> parsePageValue(const std::string& text);

extern const char* const usageText;

constexpr int exitComplete = 0;
constexpr int exitPartly = 1;
constexpr int exitFailure = 2;
constexpr int exitUsage = 64;
// The report could not be written to standard output.
constexpr int exitOutputError = 74;

}  // namespace ravoth::cli
