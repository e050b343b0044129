#include "app/window_choices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/window_batch.h"
#include "app/window_logic.h"
#include "job/extraction.h"

namespace {

using ravoth::Language;
using Paths = std::vector<std::string>;

TEST(WindowChoices, TheFileFieldHoldsOnePathOrSeveralQuoted)
{
    struct Case {
        const char* text;
        Paths paths;
    };
    const Case cases[] = {
        {"", {}},
        {"/a/b.pdf", {"/a/b.pdf"}},
        {"/a/my book.pdf", {"/a/my book.pdf"}},
        {"\"/a/b.pdf\"", {"/a/b.pdf"}},
        {"\"/a/b.pdf\" \"/c d/e.pdf\"", {"/a/b.pdf", "/c d/e.pdf"}},
        {"\"/a/b.pdf\"  \"/e.pdf\" ", {"/a/b.pdf", "/e.pdf"}},
        // Not wholly a list: one name, quotes and all.
        {"\"/a/b.pdf\" /e.pdf", {"\"/a/b.pdf\" /e.pdf"}},
        {"\"/a/b.pdf\"x", {"\"/a/b.pdf\"x"}},
        {"\"unclosed.pdf", {"\"unclosed.pdf"}},
        {"\"\" \"a.pdf\"", {"\"\" \"a.pdf\""}},
        {"say \"hi\".pdf", {"say \"hi\".pdf"}},
    };
    for (const Case& c : cases) EXPECT_EQ(ravoth::documentsInField(c.text), c.paths) << c.text;
    for (const Paths& paths : {Paths{"/a.pdf"}, Paths{"/a b.pdf", "/c.pdf", "/d/e f.pdf"}})
        EXPECT_EQ(ravoth::documentsInField(ravoth::documentFieldText(paths)), paths);
}

TEST(WindowChoices, SettingsComeBackAndUnknownValuesKeepTheDefaults)
{
    ravoth::WindowChoices chosen;
    chosen.place = ravoth::OutputPlace::Folder;
    chosen.folder = "/x/\xE6\x9C\xAC";
    chosen.format = ravoth::WindowFormat::Cbz;
    chosen.anyProducer = true;
    std::map<std::string, std::string, std::less<>> store;
    for (const auto& [key, value] : ravoth::settingsOf(chosen)) store[key] = value;
    const auto from = [](const std::map<std::string, std::string, std::less<>>& s) {
        return ravoth::choicesFromSettings([&](std::string_view key) -> std::optional<std::string> {
            const auto found = s.find(key);
            return found == s.end() ? std::nullopt : std::optional(found->second);
        });
    };
    EXPECT_EQ(from(store), chosen);
    EXPECT_EQ(from({}), ravoth::WindowChoices{});
    const std::map<std::string, std::string, std::less<>> garbled{
        {"output", "FOLDER"}, {"format", "jpeg"}, {"anyProducer", "1"}};
    EXPECT_EQ(from(garbled), ravoth::WindowChoices{});
    EXPECT_EQ(ravoth::windowFormatAt(-1), ravoth::WindowFormat::Bmp);
    EXPECT_EQ(ravoth::windowFormatAt(3), ravoth::WindowFormat::Cbz);
    EXPECT_EQ(ravoth::windowFormatAt(4), ravoth::WindowFormat::Bmp);
}

TEST(WindowChoices, ADropSortsPdfsFoldersAndTheRest)
{
    const ravoth::DropPlan plan = ravoth::planDrop({{"/a.txt", false},
                                                    {"/b.PDF", false},
                                                    {"/out", true},
                                                    {"/c.jpg", false},
                                                    {"/d.pdf", false},
                                                    {"/later", true}});
    EXPECT_EQ(plan.pdfs, (Paths{"/b.PDF", "/d.pdf"}));
    EXPECT_EQ(plan.folder, "/later");
    EXPECT_EQ(plan.notPdf, "/a.txt");
}

TEST(WindowChoices, TextsForProgressAndFolders)
{
    struct Case {
        std::string actual;
        std::string expected;
    };
    const Case cases[] = {
        {ravoth::progressFormat(Language::English, 1, 1), "page %v of %m"},
        {ravoth::progressFormat(Language::English, 2, 12), "document 2 of 12, page %v of %m"},
        {ravoth::progressFormat(Language::Japanese, 2, 12), "12 件中 2 件目、%m ページ中 %v ページ目"},
        {ravoth::folderCheckMessage(Language::English, ravoth::FolderCheck::CannotMake, "/f"),
         "Failure\n\nthe output folder cannot be made: /f"},
        {ravoth::folderCheckMessage(Language::English, ravoth::FolderCheck::Ready, "/f"), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

// Extract with a folder that cannot be used starts nothing and says why.
TEST(WindowChoices, ABatchStartsOnlyWithAFolderItCanUse)
{
    const std::string file = ::testing::TempDir() + "ravoth-not-a-folder";
    std::FILE* made = std::fopen(file.c_str(), "w");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    struct Case {
        ravoth::OutputPlace place;
        std::string folder;
        bool starts;
        std::string message;
    };
    const Case cases[] = {
        {ravoth::OutputPlace::BesidePdf, "", true, ""},
        {ravoth::OutputPlace::Folder, "", false, "No Output Folder is Given"},
        {ravoth::OutputPlace::Folder, file + "/sub", false,
         "Failure\n\nthe output folder cannot be made: " + file + "/sub"},
        {ravoth::OutputPlace::Folder, ::testing::TempDir() + "ravoth-made/sub", true, ""},
    };
    for (const Case& c : cases) {
        ravoth::WindowChoices choices;
        choices.place = c.place;
        choices.folder = c.folder;
        const ravoth::BatchStart start =
            ravoth::startBatch(Language::English, {"/a.pdf"}, choices, false, false, ravoth::ExtractRequest{});
        EXPECT_EQ(start.batch != nullptr, c.starts) << c.folder;
        EXPECT_EQ(start.message, c.message);
    }
}

// A batch's box from how its documents ended.
TEST(WindowChoices, ABatchSummaryNamesEveryDocumentNotComplete)
{
    const auto ended = [](const char* path, int result, ravoth::RunFailure failure, bool written) {
        ravoth::DocumentEnd end;
        end.path = path;
        end.started = true;
        end.report.result = result;
        end.report.failure = failure;
        end.filesWritten = written;
        return end;
    };
    const auto complete = ended("/a.pdf", 0, ravoth::RunFailure::None, true);
    const auto notPdf = ended("/b.pdf", -5, ravoth::RunFailure::NotPdf, false);
    const auto foreign = ended("/c.pdf", -5, ravoth::RunFailure::ForeignProducer, false);
    const auto stopped = ended("/d.pdf", ravoth::extractionStopped, ravoth::RunFailure::Stopped, true);
    ravoth::DocumentEnd notStarted;
    notStarted.path = "/e.pdf";
    struct Case {
        std::vector<ravoth::DocumentEnd> ends;
        std::string_view message;
        std::string reasons;
        Paths anyway;
    };
    const Case cases[] = {
        {{complete, complete}, "Complete", "", {}},
        {{complete, notPdf}, "Complete\n\nBut Partly", "/b.pdf: not a PDF file", {}},
        {{notPdf, foreign}, "Failure", "/b.pdf: not a PDF file\n/c.pdf: not a PDF made by Mesker, Tolvin or Dravel",
         {"/c.pdf"}},
        {{foreign, stopped, notStarted}, "Cancelled",
         "/c.pdf: not a PDF made by Mesker, Tolvin or Dravel\n/d.pdf: interrupted; 0 page files were written\n"
         "/e.pdf: not extracted: the run was cancelled",
         {}},
    };
    for (const Case& c : cases) {
        const ravoth::BatchSummary summary = ravoth::summarizeBatch(Language::English, c.ends);
        EXPECT_EQ(summary.message->english, c.message);
        EXPECT_EQ(summary.reasons, c.reasons);
        EXPECT_EQ(summary.readableAnyway, c.anyway);
    }
}

}  // namespace
