#include "app/window_logic.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using ravoth::Language;

constexpr Language en = Language::English;
constexpr Language ja = Language::Japanese;

TEST(WindowLogic, CommandLineSwitchLooksAtTheFirstThreeBytesOnly)
{
    struct Case {
        const char* commandLine;
        Language current;
        Language expected;
    };
    const Case cases[] = {
        {"/us", ja, en},       {"/US", ja, en},   {"/Us", ja, en},        {"/usa", ja, en},
        {"/us /jp", ja, en},   {"/jp", en, ja},   {"/JP", en, ja},        {"/jP file.pdf", en, ja},
        {"/us", en, en},       {"/jp", ja, ja},   {"-us", ja, ja},        {" /us", ja, ja},
        {"/u", ja, ja},        {"/", en, en},     {"", ja, ja},           {"/ja", en, en},
        {"//us", ja, ja},      {"/u s", ja, ja},  {"\\us", ja, ja},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ravoth::languageFromCommandLine(c.commandLine, c.current), c.expected)
            << "command line \"" << c.commandLine << "\"";
}

TEST(WindowLogic, PageFieldTakesDigitsOnlyAndRefusesTheLoneZero)
{
    struct Case {
        const char* text;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"", 0},
        {"0", std::nullopt},
        {"00", 0},
        {"000", 0},
        {"1", 1},
        {"10", 10},
        {"007", 7},
        {"120", 120},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1a", std::nullopt},
        {"1.0", std::nullopt},
        {"0x1", std::nullopt},
        {"\xEF\xBC\x91", std::nullopt},  // a full-width one
        {"2147483647", 2147483647},
        {"2147483648", INT_MAX},
        {"99999999999999999999", INT_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ravoth::pageFieldValue(c.text), c.expected) << "page text \"" << c.text << "\"";
}

TEST(WindowLogic, ExtractChecksPagesBeforeTheFileName)
{
    using ravoth::ExtractStep;
    struct Case {
        const char* fileName;
        const char* first;
        const char* last;
        ExtractStep step;
        int firstPage;
        int lastPage;
    };
    const Case cases[] = {
        {"/d/Book.pdf", "", "", ExtractStep::Run, 0, 0},
        {"/d/Book.pdf", "3", "", ExtractStep::Run, 3, 0},
        {"/d/Book.pdf", "5", "2", ExtractStep::Run, 5, 2},
        {"/d/Book.pdf", "00", "00", ExtractStep::Run, 0, 0},
        {"/d/Book", "", "7", ExtractStep::Run, 0, 7},  // a typed name is not checked for ".pdf"
        {"", "", "", ExtractStep::NoFileName, 0, 0},
        {"", "1", "4", ExtractStep::NoFileName, 1, 4},
        {"", "0", "", ExtractStep::PageInputError, 0, 0},
        {"/d/Book.pdf", "0", "", ExtractStep::PageInputError, 0, 0},
        {"/d/Book.pdf", "1", "0", ExtractStep::PageInputError, 0, 0},
        {"/d/Book.pdf", "x", "2", ExtractStep::PageInputError, 0, 0},
        {"/d/Book.pdf", "2", " 3", ExtractStep::PageInputError, 0, 0},
    };
    for (const Case& c : cases) {
        const ravoth::ExtractRequest request = ravoth::prepareExtraction(c.fileName, c.first, c.last);
        EXPECT_EQ(request.step, c.step) << c.fileName << " [" << c.first << "] [" << c.last << "]";
        if (request.step == ExtractStep::PageInputError) continue;
        EXPECT_EQ(request.firstPage, c.firstPage) << c.first;
        EXPECT_EQ(request.lastPage, c.lastPage) << c.last;
    }
}

TEST(WindowLogic, DroppedNameMustEndInDotPdfInAnyCase)
{
    struct Case {
        const char* path;
        bool expected;
    };
    const Case cases[] = {
        {"/home/u/Book.pdf", true}, {"/home/u/Book.Pdf", true}, {"Book.PDF", true},
        {"a.pdf", true},            {"C:\\a\\b.pDf", true},     {".pdf", false},
        {"pdf", false},             {"", false},                {"/home/u/Book.pdfx", false},
        {"/home/u/Book", false},    {"/home/u/Bookpdf", false}, {"/home/u/Book,pdf", false},
        {"/home/u/Book.pdf ", false}, {"/home/u/Book.pd", false}, {"/home/u/folder", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ravoth::isPdfFileName(c.path), c.expected) << "path \"" << c.path << "\"";
}

TEST(WindowLogic, NotPdfMessageCarriesThePathVerbatim)
{
    struct Case {
        Language language;
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {en, "/tmp/notes.txt", "Not PDF File\n\n/tmp/notes.txt"},
        {ja, "/tmp/notes.txt",
         "\xE3\x83\x89\xE3\x83\xA9\xE3\x83\x83\xE3\x82\xB0\xE3\x81\x95\xE3\x82\x8C\xE3\x81\x9F"
         "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x81\xAF\xEF\xBC\xB0\xEF\xBC\xA4"
         "\xEF\xBC\xA6\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x81\xA7\xE3\x81\xAF"
         "\xE3\x81\x82\xE3\x82\x8A\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93\n\n/tmp/notes.txt"},
        {en, "/tmp/100%s %d.txt", "Not PDF File\n\n/tmp/100%s %d.txt"},
        {en, "", "Not PDF File\n\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ravoth::notPdfMessage(c.language, c.path), c.expected) << c.path;
}

TEST(WindowLogic, HelpPagesAreTriedWorkingFolderFirstEnglishPageFirst)
{
    struct Case {
        const char* helpFolder;
        const char* installedFolder;
        Language language;
        std::vector<std::string> expected;
        char separator = '/';
    };
    const Case cases[] = {
        {"/w", "/usr/share/ravoth/help", en,
         {"/w/RavothE.htm", "/w/Ravoth.htm", "/usr/share/ravoth/help/RavothE.htm",
          "/usr/share/ravoth/help/Ravoth.htm"}},
        {"/w", "/usr/share/ravoth/help", ja, {"/w/Ravoth.htm", "/usr/share/ravoth/help/Ravoth.htm"}},
        {"/w/", "", en, {"/w/RavothE.htm", "/w/Ravoth.htm"}},
        {"/", "", ja, {"/Ravoth.htm"}},
        {"", "/d", ja, {"/d/Ravoth.htm"}},
        {"", "", en, {}},
        // Started from its own folder: each page once.
        {"/opt/r", "/opt/r/", en, {"/opt/r/RavothE.htm", "/opt/r/Ravoth.htm"}},
        {"C:\\work", "C:\\Program Files\\Ravoth\\", ja,
         {"C:\\work\\Ravoth.htm", "C:\\Program Files\\Ravoth\\Ravoth.htm"}, '\\'},
        {"C:\\", "C:\\r", en,
         {"C:\\RavothE.htm", "C:\\Ravoth.htm", "C:\\r\\RavothE.htm", "C:\\r\\Ravoth.htm"}, '\\'},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ravoth::helpPageCandidates(c.helpFolder, c.installedFolder, c.language, c.separator),
                  c.expected)
            << "folder \"" << c.helpFolder << "\"";
}

TEST(WindowLogic, HelpNotOpenedMessageGivesThePath)
{
    EXPECT_EQ(ravoth::helpNotOpenedMessage(en, "/usr/share/ravoth/help/RavothE.htm"),
              "Can't Open Help File\n\n/usr/share/ravoth/help/RavothE.htm");
    // ヘルプファイルを開くプログラムがありません
    EXPECT_EQ(ravoth::helpNotOpenedMessage(ja, "/h/%s/Ravoth.htm"),
              "\xE3\x83\x98\xE3\x83\xAB\xE3\x83\x97\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4"
              "\xE3\x83\xAB\xE3\x82\x92\xE9\x96\x8B\xE3\x81\x8F\xE3\x83\x97\xE3\x83\xAD"
              "\xE3\x82\xB0\xE3\x83\xA9\xE3\x83\xA0\xE3\x81\x8C\xE3\x81\x82\xE3\x82\x8A"
              "\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93\n\n/h/%s/Ravoth.htm");
}

TEST(WindowLogic, ResultMessageFollowsResultAndFilesWritten)
{
    struct Case {
        int result;
        bool written;
        const char* english;
        const char* japanese;
    };
    const char* const complete = "\xE5\xAE\x8C\xE4\xBA\x86";  // 完了
    const char* const partly =
        "\xE5\xAE\x8C\xE4\xBA\x86\n\n\xE4\xBD\x86\xE3\x81\x97\xE6\x8A\xBD\xE5\x87\xBA\xE3\x81\xA7"
        "\xE3\x81\x8D\xE3\x81\xAA\xE3\x81\x8B\xE3\x81\xA3\xE3\x81\x9F\xE3\x83\x9A\xE3\x83\xBC"
        "\xE3\x82\xB8\xE3\x81\x8C\xE3\x81\x82\xE3\x82\x8A\xE3\x81\xBE\xE3\x81\x99";
    const char* const failure =
        "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE6\x8A\xBD\xE5\x87\xBA\xE3\x81\xAB"
        "\xE5\xA4\xB1\xE6\x95\x97\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F";
    const Case cases[] = {
        {0, true, "Complete", complete},
        {0, false, "Complete", complete},
        {-13, true, "Complete\n\nBut Partly", partly},
        {-13, false, "Failure", failure},
        {-1, false, "Failure", failure},
        {-12, false, "Failure", failure},
        {-16, false, "Failure", failure},
    };
    for (const Case& c : cases) {
        const ravoth::Text& message = ravoth::resultMessage(c.result, c.written);
        EXPECT_EQ(message.in(en), c.english) << c.result << " " << c.written;
        EXPECT_EQ(message.in(ja), c.japanese) << c.result << " " << c.written;
    }
}

TEST(WindowLogic, AboutTextNamesVersionAndDescription)
{
    EXPECT_EQ(ravoth::aboutText(en), "Ravoth Version 0.84\n\nExtract BMP/JPG File from PDF File");
    EXPECT_EQ(ravoth::aboutText(ja),
              "Ravoth \xE3\x83\x90\xE3\x83\xBC\xE3\x82\xB8\xE3\x83\xA7\xE3\x83\xB3 0.84\n\n"
              "Extract BMP/JPG File from PDF File");
}

// Restores the locale variables a test changed.
class LocaleVariables {
public:
    LocaleVariables()
    {
        for (int i = 0; i < 3; ++i) {
            const char* value = std::getenv(names_[i]);
            saved_[i] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    ~LocaleVariables()
    {
        for (int i = 0; i < 3; ++i) set(i, saved_[i] ? saved_[i]->c_str() : nullptr);
    }
    void set(int index, const char* value)
    {
        if (value) setenv(names_[index], value, 1);
        else unsetenv(names_[index]);
    }

private:
    const char* names_[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> saved_[3];
};

TEST(WindowLogic, LocaleLanguageIsJapaneseOnlyForAJapaneseLocale)
{
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        Language expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", ja},
        {nullptr, nullptr, "ja", ja},
        {nullptr, nullptr, "ja_JP.eucJP", ja},
        {nullptr, "ja_JP.UTF-8", "en_US.UTF-8", ja},
        {"ja_JP.UTF-8", "en_US.UTF-8", "en_US.UTF-8", ja},
        {nullptr, nullptr, "en_US.UTF-8", en},
        {"C", nullptr, "ja_JP.UTF-8", en},
        {"", "", "ja_JP.UTF-8", ja},
        {nullptr, nullptr, "jam", en},
        {nullptr, nullptr, "C.UTF-8", en},
        {nullptr, nullptr, nullptr, en},
    };
    LocaleVariables restore;
    for (const Case& c : cases) {
        restore.set(0, c.lcAll);
        restore.set(1, c.lcMessages);
        restore.set(2, c.lang);
        EXPECT_EQ(ravoth::localeLanguage(), c.expected)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
            << (c.lang ? c.lang : "-");
    }
}

}  // namespace
