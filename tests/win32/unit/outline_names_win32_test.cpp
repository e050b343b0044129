#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "job/extraction.h"
#include "platform/text.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/run_once.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using fixture::MeskerDocument;
using testing::TempFolder;

std::string backslashed(std::string path)
{
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// File names as the wide calls give them, in UTF-8, so that no code page
// stands between the names on disk and the names expected.
std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(toWide(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(toUtf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The PDF written through the wide path, as the fixture's narrow one would
// go through the ANSI code page.
bool writePdf(const std::string& path, const MeskerDocument& document)
{
    std::ofstream file(std::filesystem::path(toWide(path)), std::ios::binary | std::ios::trunc);
    const std::string bytes = fixture::buildMesker(document).bytes;
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

// Makes each of `subfolders` inside the one before, from `where` on; the
// innermost folder's path.
std::string makeFolders(std::string where, const std::vector<std::string>& subfolders)
{
    for (const std::string& subfolder : subfolders) {
        where += "\\" + subfolder;
        EXPECT_TRUE(CreateDirectoryW(toWide(where).c_str(), nullptr)) << where;
    }
    return where;
}

struct Case {
    const char* name;
    std::string title;
    std::string fileName;  // of page 1 of "Book.pdf"
};

// Extracts a one-page document whose bookmark carries each title, from a
// path written with backslashes inside `subfolders` (made one inside the
// other) of a fresh folder, and checks the one file it leaves beside the
// PDF.
void checkTitles(const std::vector<Case>& cases, const std::vector<std::string>& subfolders = {})
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string where = makeFolders(backslashed(folder.path()), subfolders);
        MeskerDocument document;
        document.pages.push_back(fixture::dctPage(8, 8, true, 1));
        document.outline = {{c.title, fixture::destToPage(0), {}}};
        const std::string pdf = where + "\\Book.pdf";
        ASSERT_TRUE(writePdf(pdf, document));
        EXPECT_EQ(testing::runOnce(pdf, 0, 0, {}, true).result, 0);
        EXPECT_EQ(namesIn(where), (std::set<std::string>{"Book.pdf", c.fileName}));
        if (!subfolders.empty()) {
            EXPECT_EQ(namesIn(backslashed(folder.path())), std::set<std::string>{});
        }
    }
}

TEST(OutlineNamesOnWindows, TitlesNeverLeaveTheFolderOrReachADevice)
{
    checkTitles({
        {"plain", "(Part One)", "Part One.jpg"},
        {"backslash", "(a\\\\b)", "Book-1.jpg"},
        {"slash", "(a/b)", "Book-1.jpg"},
        {"parent folder", "(..)", "Book-1.jpg"},
        {"drive letter", "(C:x)", "Book-1.jpg"},
        {"stream name", "(x:y)", "Book-1.jpg"},
        {"absolute path", "(\\\\Windows\\\\x)", "Book-1.jpg"},
        {"device", "(CON)", "Book-1.jpg"},
        {"device with extension", "(nul.txt)", "Book-1.jpg"},
        {"UTF-16 device", "<FEFF 0041 0055 0058>", "Book-1.jpg"},
        {"wildcard", "(a*b)", "Book-1.jpg"},
        {"question mark", "(a?b)", "Book-1.jpg"},
        {"quotation mark", "(a\"b)", "Book-1.jpg"},
        {"angle brackets", "<FEFF 0061 003C 0062 003E>", "Book-1.jpg"},
        {"vertical bar", "(a|b)", "Book-1.jpg"},
        {"control character", "<FEFF 0061 0009 0062>", "Book-1.jpg"},
        {"UTF-16 backslash", "<FEFF 0061 005C 0062>", "Book-1.jpg"},
        {"full-width solidus is a character, not a separator", "<FEFF 0061 FF0F 0062>", "a\xEF\xBC\x8F" "b.jpg"},
    });
}

// "EveryCodePage" tests run in the default 1252 and again in 932
// (tests/win32/CMakeLists.txt).
TEST(OutlineNamesOnWindows, UnicodeTitlesKeepEveryCharacterInEveryCodePage)
{
    const std::vector<Case> cases = {
        {"Japanese", "<FEFF 65E5 672C>", "日本.jpg"},
        {"Latin", "<FEFF 00E9 0074 00E9>", "été.jpg"},
        {"Korean", "<FEFF D55C AD6D>", "한국.jpg"},
        {"past the Basic Multilingual Plane", "<FEFF D83D DE00>", "😀.jpg"},
        {"kanji whose code page 932 form ends in 5C", "<FEFF 8868 7D19>", "表紙.jpg"},
        {"half-width katakana then backslash", "<FEFF FF7F 005C 0061>", "Book-1.jpg"},
        // Composed as on Linux; a compatibility ideograph stays as written.
        {"combining mark composed", "<FEFF 0065 0301>", "é.jpg"},
        {"voiced sound mark composed", "<FEFF 304B 3099>", "が.jpg"},
        {"compatibility ideograph", "<FEFF FA10>", "\xEF\xA8\x90.jpg"},
        // One damaged unit costs one character, which names refuse.
        {"unpaired surrogate", "<FEFF 0061 D800 0062>", "Book-1.jpg"},
    };
    checkTitles(cases);
    // The output folder is found whatever stands before its last backslash.
    checkTitles(cases, {"日本 テスト"});
    checkTitles(cases, {"Á"});  // UTF-8 C3 81: 81 is a lead byte of code page 932
}

// A title without the UTF-16 mark is text in the ANSI code page, as the
// system's other byte texts are.
TEST(OutlineNamesOnWindows, UnmarkedTitlesAreAnsiTextInEveryCodePage)
{
    const bool cp932 = GetACP() == 932;
    if (!cp932 && GetACP() != 1252) GTEST_SKIP() << "needs ANSI code page 932 or 1252";
    checkTitles({
        {"ASCII", "(Intro 1)", "Intro 1.jpg"},
        // 表紙 in 932; in 1252 the second byte is a backslash.
        {"double-byte text", "(\\225\\134\\216\\206)", cp932 ? "表紙.jpg" : "Book-1.jpg"},
        // In 932, E9 is the lead byte of a pair cut short.
        {"Latin-1 letter", "(caf\\351)", cp932 ? "Book-1.jpg" : "café.jpg"},
    });
}

// A folder name of 80 units and 240 bytes.
std::string japanese80()
{
    std::string text;
    for (int i = 0; i < 80; ++i) text += "日";
    return text;
}

// The classic path limit counts UTF-16 units: a name of 259 units may take
// far more bytes in UTF-8. A Linux file system under Wine takes at most 255
// bytes in one name, so the folder carries most of the length.
TEST(OutlineNamesOnWindows, LongTitleIsCutToAWholeNameOf259Units)
{
    TempFolder probe;
    const std::size_t folderUnits = backslashed(probe.path()).size() + 2 * (80 + 1) + 1;
    ASSERT_LT(folderUnits, 240u);
    const std::size_t fits = 259 - folderUnits - 4;
    auto titled = [](std::size_t count, std::string_view unit, std::string_view tail) {
        std::string title = "<FEFF";
        for (std::size_t i = 0; i < count; ++i) title += unit;
        return title + std::string(tail) + ">";
    };
    auto named = [](std::size_t count, std::string_view character) {
        std::string name;
        for (std::size_t i = 0; i < count; ++i) name += character;
        return name + ".jpg";
    };
    checkTitles(
        {
            {"fits exactly", titled(fits, " 65E5", ""), named(fits, "日")},
            {"cut", titled(fits + 30, " 65E5", ""), named(fits, "日")},
            // The pair would take the last unit and one more.
            {"surrogate pair at the cut", titled(fits - 1, " 0061", " D83D DE00"), named(fits - 1, "a")},
            {"surrogate pair that fits", titled(fits - 2, " 0061", " D83D DE00"),
             named(fits - 2, "a").insert(fits - 2, "😀")},
        },
        {japanese80(), japanese80()});
}

TEST(OutlineNamesOnWindows, NumberedNameCountsUnits)
{
    TempFolder folder;
    const std::string where = makeFolders(backslashed(folder.path()), {japanese80(), japanese80()});
    const std::size_t folderUnits = backslashed(folder.path()).size() + 2 * (80 + 1) + 1;
    MeskerDocument document;
    document.pages.push_back(fixture::dctPage(8, 8, true, 1));
    const std::string pdf = where + "\\Book.pdf";
    ASSERT_TRUE(writePdf(pdf, document));
    // Each "é" is one unit and two bytes; with "-1.jpg" the name is 259
    // units at first, 260 with one more.
    std::string stem;
    for (std::size_t units = folderUnits; units < 259 - 6; ++units) stem += "é";
    const std::string base = where + "\\" + stem;
    EXPECT_EQ(testing::runOnce(pdf, 0, 0, base).result, 0);
    EXPECT_EQ(namesIn(where), (std::set<std::string>{"Book.pdf", stem + "-1.jpg"}));
    EXPECT_EQ(testing::runOnce(pdf, 0, 0, base + "é").result, -13);
}

}  // namespace
}  // namespace ravoth
