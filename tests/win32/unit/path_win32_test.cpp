#include <gtest/gtest.h>

#include <string>

#include "platform/path.h"
#include "tests/win32/unit/code_page.h"

namespace ravoth {
namespace {

using testing::inCodePage;

struct FolderCase {
    std::string path;
    std::size_t folderBytes;
};

void checkFolders(const std::initializer_list<FolderCase>& cases)
{
    for (const FolderCase& c : cases)
        EXPECT_EQ(folderPartBytes(c.path.data(), c.path.size()), c.folderBytes) << c.path;
}

struct NameCase {
    std::string name;
    bool plain;
};

void checkNames(const std::initializer_list<NameCase>& cases)
{
    for (const NameCase& c : cases) EXPECT_EQ(isPlainFileName(c.name.data(), c.name.size()), c.plain) << c.name;
}

TEST(FolderPartBytes, EndsAtTheLastSeparatorOfAnyKind)
{
    checkFolders({
        {"C:\\scan\\Book", 8},
        {"C:\\scan\\", 8},
        {"C:/scan/Book", 8},
        {"scan\\sub/Book", 9},
        {"\\\\server\\share\\Book", 15},
        {"C:Book", 2},
        {"Book", 0},
        {"", 0},
    });
    // Only the given bytes count: a separator past them is not seen.
    EXPECT_EQ(folderPartBytes("a\\b\\c", 3), 2u);
}

TEST(FolderPartBytes, CodePage932TakesDoubleByteCharactersWhole)
{
    if (!inCodePage(932)) GTEST_SKIP() << "needs ANSI code page 932";
    checkFolders({
        {"C:\\\x95\x5C\\x", 6},             // C:\表\x
        {"C:\\\x95\x5Cx", 3},               // C:\表x: the second byte of 表 is no separator
        {"C:\\\x83\x5C\x83\x5C", 3},        // C:\ソソ
        {"C:\\\xBF\\x", 5},                 // C:\ｿ\x: half-width katakana stands alone
        {"C:\\\xC3\xDE\\x", 6},             // C:\ﾃﾞ\x
        {"C:\\\xBF\\\x95\x5C", 5},          // C:\ｿ\表
        {std::string("ab\\\x95", 4), 3},    // a lead byte at the very end
    });
}

TEST(FolderPartBytes, CodePage1252HasNoDoubleByteCharacters)
{
    if (!inCodePage(1252)) GTEST_SKIP() << "needs ANSI code page 1252";
    checkFolders({
        {"C:\\\x95\\x", 5},      // C:\•\x
        {"C:\\caf\xE9\\x", 8},   // C:\café\x
    });
}

TEST(IsPlainFileName, RefusesEveryWayOutOfTheFolder)
{
    checkNames({
        {"Intro", true},
        {".hidden", true},
        {"...", true},
        {"a b", true},
        {"", false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"a\\b", false},
        {"c:d", false},
        {"\\", false},
        {std::string("a\0b", 3), false},
    });
}

TEST(IsPlainFileName, CodePage932KeepsNamesWithTrailByte5C)
{
    if (!inCodePage(932)) GTEST_SKIP() << "needs ANSI code page 932";
    checkNames({
        {"\x95\x5C", true},                  // 表
        {"\x95\x5C\x8E\x86", true},          // 表紙
        {"\x83\x5C\x83\x74\x83\x67", true},  // ソフト
        {"\xBF\\", false},                   // ｿ then a real separator
        {"\x95", true},                      // a lead byte cut off by the length limit
        {std::string("\x95\0", 2), false},   // a NUL as a second byte still ends the name
    });
}

TEST(IsPlainFileName, CodePage1252TakesHighBytesSingly)
{
    if (!inCodePage(1252)) GTEST_SKIP() << "needs ANSI code page 1252";
    checkNames({
        {"caf\xE9", true},
        {"\x95\\", false},  // •\ .
    });
}

}  // namespace
}  // namespace ravoth
