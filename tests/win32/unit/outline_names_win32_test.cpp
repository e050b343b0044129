#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "job/extraction.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/win32/unit/code_page.h"

namespace ravoth {
namespace {

using fixture::MeskerDocument;
using testing::inCodePage;
using testing::TempFolder;

std::string backslashed(std::string path)
{
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// File names as the ANSI calls give them, so code page bytes stay as they are.
std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

struct Case {
    const char* name;
    std::string title;
    std::string fileName;  // of page 1 of "Book.pdf"
};

// Extracts a one-page document whose bookmark carries each title, from a
// path written with backslashes inside `subfolder` of a fresh folder, and
// checks the one file it leaves beside the PDF.
void checkTitles(const std::vector<Case>& cases, const std::string& subfolder = {})
{
    outlineOption = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        std::string where = backslashed(folder.path());
        if (!subfolder.empty()) {
            where += "\\" + subfolder;
            ASSERT_TRUE(CreateDirectoryA(where.c_str(), nullptr));
        }
        MeskerDocument document;
        document.pages.push_back(fixture::flatePage(2, 2, 8, true, 1));
        document.outline = {{c.title, fixture::destToPage(0), {}}};
        const std::string pdf = where + "\\Book.pdf";
        ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
        EXPECT_EQ(runExtraction(pdf.c_str(), 0, 0, pdf.c_str()), 0);
        EXPECT_EQ(namesIn(where), (std::set<std::string>{"Book.pdf", c.fileName}));
        if (!subfolder.empty()) {
            EXPECT_EQ(namesIn(backslashed(folder.path())), std::set<std::string>{});
        }
    }
    outlineOption = false;
}

TEST(OutlineNamesOnWindows, TitlesNeverLeaveTheFolderOrReachADevice)
{
    checkTitles({
        {"plain", "(Part One)", "Part One.bmp"},
        {"backslash", "(a\\\\b)", "Book-1.bmp"},
        {"slash", "(a/b)", "Book-1.bmp"},
        {"parent folder", "(..)", "Book-1.bmp"},
        {"drive letter", "(C:x)", "Book-1.bmp"},
        {"stream name", "(x:y)", "Book-1.bmp"},
        {"absolute path", "(\\\\Windows\\\\x)", "Book-1.bmp"},
        {"device", "(CON)", "Book-1.bmp"},
        {"device with extension", "(nul.txt)", "Book-1.bmp"},
        {"wildcard", "(a*b)", "Book-1.bmp"},
        {"question mark", "(a?b)", "Book-1.bmp"},
        {"UTF-16 backslash", "<FEFF 0061 005C 0062>", "Book-1.bmp"},
    });
}

TEST(OutlineNamesOnWindows, LongTitleIsCutToAWholeNameOf259Bytes)
{
    TempFolder probe;
    const std::size_t folderBytes = backslashed(probe.path()).size() + 1;
    ASSERT_LT(folderBytes, 200u);
    const std::size_t fits = 259 - folderBytes - 4;
    auto repeated = [](std::size_t count, std::string_view before, std::string_view after) {
        std::string text(before);
        text.append(count, 't');
        text.append(after);
        return text;
    };
    checkTitles({
        {"fits exactly", repeated(fits, "(", ")"), repeated(fits, "", ".bmp")},
        {"cut", repeated(fits + 30, "(", ")"), repeated(fits, "", ".bmp")},
    });
}

TEST(OutlineNamesOnWindows, CodePage1252)
{
    if (!inCodePage(1252)) GTEST_SKIP() << "needs ANSI code page 1252";
    checkTitles({
        {"Latin-1", "<FEFF 0063 0061 0066 00E9>", "caf\xE9.bmp"},
        {"composed", "<FEFF 0065 0301>", "\xE9.bmp"},
        {"not in the code page", "<FEFF 65E5>", "Book-1.bmp"},
    });
}

TEST(OutlineNamesOnWindows, CodePage932)
{
    if (!inCodePage(932)) GTEST_SKIP() << "needs ANSI code page 932";
    const std::vector<Case> cases = {
        {"kanji with second byte 5C", "<FEFF 8868 7D19>", "\x95\x5C\x8E\x86.bmp"},
        {"katakana", "<FEFF 30BD 30D5 30C8>", "\x83\x5C\x83\x74\x83\x67.bmp"},
        {"half-width katakana", "<FEFF FF7F>", "\xBF.bmp"},
        {"half-width katakana then backslash", "<FEFF FF7F 005C 0061>", "Book-1.bmp"},
    };
    checkTitles(cases);
    // The output folder is found whatever stands before its last backslash:
    // a half-width katakana (one byte) or a kanji whose second byte is 5C.
    checkTitles(cases, "\xBF");
    checkTitles(cases, "\x95\x5C");
}

}  // namespace
}  // namespace ravoth
