// What the windows offer beyond the first version's controls, without a
// window: where the files go and in which form, whether any producer's PDF
// is read, several documents in the file field, what a drop brings, and the
// settings that carry the choices from one start to the next.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/texts.h"

namespace ravoth {

class ExtractionRun;

enum class OutputPlace { BesidePdf, Folder };

// In the order the format list shows them. Bmp leaves the run's own
// default, which is the first version's behaviour (and PNG inside an
// archive); Cbz writes one archive named after the document.
enum class WindowFormat { Bmp, Png, Tiff, Cbz };
inline constexpr Text windowFormatNames[] = {
    {"BMP", "BMP"},
    {"PNG", "PNG"},
    {"TIFF", "TIFF"},
    {"CBZ アーカイブ 1 つ", "One CBZ archive"},
};

// A stored or a chosen format list index; Bmp for anything else.
WindowFormat windowFormatAt(int index);

// With nothing stored, the first version's behaviour: BMP files beside the
// PDF, another producer's PDF refused (with the offer to read it anyway).
struct WindowChoices {
    OutputPlace place = OutputPlace::BesidePdf;
    std::string folder;  // UTF-8 on Windows, the file system's bytes on Linux
    WindowFormat format = WindowFormat::Bmp;
    bool anyProducer = false;

    bool operator==(const WindowChoices&) const = default;
};

// The choices as the settings store keeps them, key and value, and back.
// `stored` gives a key's value, or none when the key was never stored; a
// value not understood leaves that choice at its default.
std::vector<std::pair<std::string, std::string>> settingsOf(const WindowChoices& choices);
WindowChoices choicesFromSettings(const std::function<std::optional<std::string>(std::string_view key)>& stored);

// Sets `run` up for one document of the window's batch and returns the base
// its files are named from: the document itself beside it, or its name in
// the folder. A CBZ goes where the files would, named after the document.
std::string configureWindowRun(ExtractionRun& run, const WindowChoices& choices, bool outlineNames,
                               const std::string& pdf);

// Whether the run's output folder can be used, made first where missing.
enum class FolderCheck { Ready, NoFolderGiven, CannotMake };
FolderCheck prepareOutputFolder(const WindowChoices& choices);
// What the window says instead of running when the folder cannot be used
// (`folder` UTF-8, for display); empty when it can.
std::string folderCheckMessage(Language language, FolderCheck check, std::string_view folder);

// The file field holds one path as it was typed or chosen, or several each in
// double quotes ("a.pdf" "b.pdf"), as file dialogs write a multiple choice.
// A text that is not wholly such a list is one path, quotes and all.
std::string documentFieldText(const std::vector<std::string>& paths);
std::vector<std::string> documentsInField(std::string_view text);

// What a drop brings: the PDFs among the dropped files, in order; the last
// folder dropped, as the output folder; the first file that is neither, for
// the not-a-PDF message.
struct DroppedItem {
    std::string path;
    bool isFolder = false;
};
struct DropPlan {
    std::vector<std::string> pdfs;
    std::optional<std::string> folder;
    std::optional<std::string> notPdf;
};
DropPlan planDrop(const std::vector<DroppedItem>& items);

// "page %v of %m" for one document, "document K of N, page %v of %m" for
// several, with the document counts put in; %v and %m stay for the bar.
std::string progressFormat(Language language, int document, int documents);

}  // namespace ravoth
