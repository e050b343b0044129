// The archive's description read back by an XML parser: whatever a
// bookmark's title holds, the file parses and gives the title back as far
// as XML can carry it.
#include <gtest/gtest.h>

#include <expat.h>
#include <unzip.h>

#include <string>
#include <vector>

#include "job/comic_info.h"
#include "job/extraction.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

struct Parsed {
    bool wellFormed = false;
    std::string error;
    std::vector<std::string> bookmarks;
    std::vector<std::string> images;
};

Parsed parse(const std::string& xml)
{
    Parsed parsed;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &parsed);
    XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto* p = static_cast<Parsed*>(data);
        if (std::string(name) != "Page") return;
        for (int k = 0; attributes[k]; k += 2) {
            if (std::string(attributes[k]) == "Bookmark") p->bookmarks.push_back(attributes[k + 1]);
            if (std::string(attributes[k]) == "Image") p->images.push_back(attributes[k + 1]);
        }
    });
    parsed.wellFormed = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
    if (!parsed.wellFormed) parsed.error = XML_ErrorString(XML_GetErrorCode(parser));
    XML_ParserFree(parser);
    return parsed;
}

TEST(ComicInfo, EveryTitleParsesAndReadsBackAsFarAsXmlCarriesIt)
{
    struct Case {
        const char* what;
        std::string title;
        std::string readBack;
    };
    const Case cases[] = {
        {"markup", "A \"quoted\" <title> & 'more'", "A \"quoted\" <title> & 'more'"},
        {"control characters", std::string("a\x01") + "b\x1F" + "c\x7F", "abc\x7F"},
        {"a nul", std::string("x\0y", 3), "xy"},
        {"tabs and line breaks", "one\ttwo\nthree\r", "one\ttwo\nthree\r"},
        {"Japanese", "\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0", "\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0"},
        {"a lone byte", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
        {"a sequence cut short", "a\xE7\xAC", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"an overlong nul", "a\xC0\x80", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a surrogate", "a\xED\xA0\x80", "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"noncharacters XML lacks", "a\xEF\xBF\xBE\xEF\xBF\xBF" "b", "ab"},
        {"past the planes", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a far plane", "\xF0\x9F\x93\x96", "\xF0\x9F\x93\x96"},
        {"a closing tag", "\"/></Pages></ComicInfo><x a=\"", "\"/></Pages></ComicInfo><x a=\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string xml = comicInfoXml(7, {{0, "Cover"}, {3, c.title}});
        const Parsed parsed = parse(xml);
        ASSERT_TRUE(parsed.wellFormed) << parsed.error << "\n" << xml;
        EXPECT_EQ(parsed.bookmarks, (std::vector<std::string>{"Cover", c.readBack}));
        EXPECT_EQ(parsed.images, (std::vector<std::string>{"0", "3"}));
    }
    EXPECT_TRUE(parse(comicInfoXml(0, {})).wellFormed);
}

std::string entryOf(const std::string& archive, const char* name)
{
    std::string bytes;
    unzFile zip = unzOpen64(archive.c_str());
    if (!zip) return bytes;
    unz_file_info64 info{};
    if (unzLocateFile(zip, name, 1) == UNZ_OK &&
        unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK &&
        unzOpenCurrentFile(zip) == UNZ_OK) {
        bytes.resize(info.uncompressed_size);
        if (unzReadCurrentFile(zip, bytes.data(), static_cast<unsigned>(bytes.size())) != static_cast<int>(bytes.size()))
            bytes.clear();
        unzCloseCurrentFile(zip);
    }
    unzClose(zip);
    return bytes;
}

TEST(ComicInfo, AnArchiveOfTitlesWithMarkupAndControlsDescribesItselfInWellFormedXml)
{
    testing::TempFolder folder;
    fixture::MeskerDocument document;
    document.pages = {fixture::flatePage(3, 2, 8, true, 1), fixture::flatePage(3, 2, 8, true, 2)};
    // A PDF string's own escapes: a byte 1, a line feed, a byte 0xFF.
    document.outline = {{"(<b> & \"c\"\\001\\n)", fixture::destToPage(0), {}},
                        {"(\\377\\376)", fixture::destToPage(1), {}}};
    const std::string pdf = folder.file("Book.pdf");
    ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
    const std::string archive = folder.file("Book.cbz");
    ExtractionRun run;
    run.setArchive(archive);
    ASSERT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), 0);
    const std::string xml = entryOf(archive, "ComicInfo.xml");
    const Parsed parsed = parse(xml);
    ASSERT_TRUE(parsed.wellFormed) << parsed.error << "\n" << xml;
    ASSERT_EQ(parsed.bookmarks.size(), 2u) << xml;
    EXPECT_EQ(parsed.bookmarks[0], "<b> & \"c\"\n");
    EXPECT_EQ(parsed.images, (std::vector<std::string>{"0", "1"}));
}

}  // namespace
}  // namespace ravoth
