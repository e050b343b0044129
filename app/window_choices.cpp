#include "app/window_choices.h"

#include <array>

#include "app/window_logic.h"
#include "job/extraction.h"
#include "platform/path.h"

namespace ravoth {

namespace {

constexpr std::array<std::string_view, 4> formatKeys{"bmp", "png", "tiff", "cbz"};
constexpr std::string_view placeBeside = "beside";
constexpr std::string_view placeFolder = "folder";

std::string withoutPdfExtension(const std::string& path)
{
    return isPdfFileName(path) ? path.substr(0, path.size() - 4) : path;
}

}  // namespace

WindowFormat windowFormatAt(int index)
{
    return index >= 0 && index < static_cast<int>(formatKeys.size()) ? static_cast<WindowFormat>(index)
                                                                      : WindowFormat::Bmp;
}

std::vector<std::pair<std::string, std::string>> settingsOf(const WindowChoices& choices)
{
    return {
        {"output", std::string(choices.place == OutputPlace::Folder ? placeFolder : placeBeside)},
        {"folder", choices.folder},
        {"format", std::string(formatKeys[static_cast<std::size_t>(choices.format)])},
        {"anyProducer", choices.anyProducer ? "true" : "false"},
    };
}

WindowChoices choicesFromSettings(const std::function<std::optional<std::string>(std::string_view key)>& stored)
{
    WindowChoices choices;
    if (stored("output") == placeFolder) choices.place = OutputPlace::Folder;
    if (const auto folder = stored("folder")) choices.folder = *folder;
    if (const auto format = stored("format")) {
        for (std::size_t index = 0; index < formatKeys.size(); ++index)
            if (*format == formatKeys[index]) choices.format = static_cast<WindowFormat>(index);
    }
    choices.anyProducer = stored("anyProducer") == "true";
    return choices;
}

std::string configureWindowRun(ExtractionRun& run, const WindowChoices& choices, bool outlineNames,
                               const std::string& pdf)
{
    run.setOutlineNames(outlineNames);
    run.setAnyProducer(choices.anyProducer);
    if (choices.format == WindowFormat::Png) run.setOutputFormat(OutputFormat::Png);
    if (choices.format == WindowFormat::Tiff) run.setOutputFormat(OutputFormat::Tiff);
    const bool inFolderChosen = choices.place == OutputPlace::Folder && !choices.folder.empty();
    const std::string base = inFolderChosen ? inFolder(choices.folder, fileNameOf(pdf)) : pdf;
    if (choices.format == WindowFormat::Cbz) run.setArchive(withoutPdfExtension(base) + ".cbz");
    return base;
}

FolderCheck prepareOutputFolder(const WindowChoices& choices)
{
    if (choices.place != OutputPlace::Folder) return FolderCheck::Ready;
    if (choices.folder.empty()) return FolderCheck::NoFolderGiven;
    return makeFolder(choices.folder) ? FolderCheck::Ready : FolderCheck::CannotMake;
}

std::string folderCheckMessage(Language language, FolderCheck check, std::string_view folder)
{
    switch (check) {
    case FolderCheck::Ready: break;
    case FolderCheck::NoFolderGiven: return std::string(texts::noOutputFolder.in(language));
    case FolderCheck::CannotMake:
        return std::string(texts::failure.in(language)) + "\n\n" +
               std::string(texts::reasonFolderNotMade.in(language)) + ": " + std::string(folder);
    }
    return {};
}

std::string documentFieldText(const std::vector<std::string>& paths)
{
    if (paths.size() == 1) return paths.front();
    std::string text;
    for (const std::string& path : paths) {
        if (!text.empty()) text += ' ';
        text += '"' + path + '"';
    }
    return text;
}

std::vector<std::string> documentsInField(std::string_view text)
{
    if (text.empty()) return {};
    std::vector<std::string> paths;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        const std::size_t close = text[at] == '"' ? text.find('"', at + 1) : std::string_view::npos;
        // Anything but a run of quoted, non-empty paths is one path as typed:
        // a name may hold quotes or spaces of its own on Linux.
        if (close == std::string_view::npos || close == at + 1) return {std::string(text)};
        paths.emplace_back(text.substr(at + 1, close - at - 1));
        at = close + 1;
        if (at < text.size() && text[at] != ' ') return {std::string(text)};
    }
    return paths;
}

DropPlan planDrop(const std::vector<DroppedItem>& items)
{
    DropPlan plan;
    for (const DroppedItem& item : items) {
        if (item.isFolder)
            plan.folder = item.path;
        else if (isPdfFileName(item.path))
            plan.pdfs.push_back(item.path);
        else if (!plan.notPdf)
            plan.notPdf = item.path;
    }
    return plan;
}

std::string progressFormat(Language language, int document, int documents)
{
    if (documents <= 1) return std::string(texts::progressPages.in(language));
    std::string format(texts::progressDocuments.in(language));
    for (const auto& [mark, count] : {std::pair{"%k", document}, std::pair{"%n", documents}}) {
        const std::size_t at = format.find(mark);
        if (at != std::string::npos) format.replace(at, 2, std::to_string(count));
    }
    return format;
}

}  // namespace ravoth
