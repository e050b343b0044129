#include <gtest/gtest.h>

#include <string>

#include "platform/path.h"

namespace ravoth {
namespace {

// Paths are UTF-8 in every code page; the "EveryCodePage" tests run again in
// 932, whose lead bytes include 0x81 to 0x9F, the second byte of "Á" (C3 81)
// among them: a scan that took the code page's pairs would take that byte
// with the separator after it.

struct FolderCase {
    std::string path;
    std::size_t folderBytes;
};

struct NameCase {
    std::string name;
    bool plain;
};

TEST(FolderPartBytes, EndsAtTheLastSeparatorOfAnyKindInEveryCodePage)
{
    for (const FolderCase& c : {
             FolderCase{"C:\\scan\\Book", 8},
             {"C:/scan/Book", 8},
             {"scan\\sub/Book", 9},
             {"\\\\server\\share\\Book", 15},
             {"C:Book", 2},
             {"Book", 0},
             {"", 0},
             {"C:\\Á\\x", 6},
             {"C:\\日本 テスト\\x", 20},
         })
        EXPECT_EQ(folderPartBytes(c.path.data(), c.path.size()), c.folderBytes) << c.path;
    // Only the given bytes count: a separator past them is not seen.
    EXPECT_EQ(folderPartBytes("a\\b\\c", 3), 2u);
}

TEST(IsPlainFileName, RefusesEveryWayOutOfTheFolderInEveryCodePage)
{
    for (const NameCase& c : {
             NameCase{"Intro", true},
             {".hidden", true},
             {"...", true},
             {"日本", true},
             {"Á", true},
             {"", false},
             {".", false},
             {"..", false},
             {"a/b", false},
             {"a\\b", false},
             {"c:d", false},
             {"Á\\", false},
             {"Á:x", false},
             {std::string("a\0b", 3), false},
         })
        EXPECT_EQ(isPlainFileName(c.name.data(), c.name.size()), c.plain) << c.name;
}

TEST(PathUnits, CountUtf16Units)
{
    struct Case {
        std::string text;
        std::size_t units;
    };
    for (const Case& c : {
             Case{"", 0},
             {"Book-1.jpg", 10},
             {"été", 3},
             {"日本", 2},
             {"😀", 2},  // a surrogate pair
             {"a😀b", 4},
             {"\xFF", 1},          // no UTF-8 at all
             {"\xE6\x97", 2},      // a character cut short: each byte alone
             {"\xE6\x97x", 3},
             {"\x80\x80\x80", 3},  // continuation bytes alone
         })
        EXPECT_EQ(pathUnits(c.text.data(), c.text.size()), c.units) << c.text;
}

TEST(BytesWithinUnits, CutsBetweenCharacters)
{
    struct Case {
        std::string text;
        std::size_t units;
        std::size_t bytes;
    };
    for (const Case& c : {
             Case{"abc", 2, 2},
             {"abc", 5, 3},
             {"日本", 1, 3},
             {"日本", 0, 0},
             {"été", 2, 3},
             {"a😀", 2, 1},  // the pair needs two units
             {"a😀", 3, 5},
             {"\xE6\x97x", 2, 2},
         })
        EXPECT_EQ(bytesWithinUnits(c.text.data(), c.text.size(), c.units), c.bytes)
            << c.text << " in " << c.units;
}

}  // namespace
}  // namespace ravoth
