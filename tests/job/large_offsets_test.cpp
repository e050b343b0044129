// Documents larger than 2 GiB, 4 GiB and 8 GiB, with the objects past those
// marks: every file position the reader takes (startxref, /Prev, table
// offsets, /Length, object lookups, the page image, bookmarks and named
// destinations) must go past 32 bits. The documents are sparse files, so
// they cost no disk.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "job/extraction.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/run_once.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using fixture::MeskerDocument;
using testing::readFileBytes;
using testing::TempFolder;

// The files of one run with bookmark names, by name.
std::map<std::string, std::string> extract(const fixture::BuiltPdf& built, TempFolder& folder)
{
    const std::string pdf = folder.file("Book.pdf");
    EXPECT_TRUE(fixture::writeFile(pdf, built));
    ExtractionRun run;
    run.setPageWriting(testing::allOnThreads);
    run.setOutlineNames(true);
    EXPECT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), 0) << run.lastError();
    std::map<std::string, std::string> files;
    for (const std::string& name : folder.names())
        if (name != "Book.pdf") files[name] = readFileBytes(folder.file(name));
    return files;
}

TEST(LargeOffsets, ObjectsPast2And4And8GiBExtractAsNearTheStart)
{
    MeskerDocument document;
    document.pages = {fixture::dctPage(32, 24, false, 1), fixture::flatePage(5, 3, 8, false, 2),
                      fixture::dctPage(16, 16, true, 3)};
    document.nameTreeDests = {{"(last)", "[{P2} 0 R /Fit]"}};
    document.outline = {{"(Cover)", fixture::destToPage(0), {}},
                        {"(Middle)", fixture::destToPage(1), {}},
                        {"(Last)", "/Dest (last)", {}}};
    document.updates.resize(1);
    document.updates[0].replacePages[2] = fixture::dctPage(16, 16, true, 4);

    TempFolder reference;
    const std::map<std::string, std::string> expected = extract(fixture::buildMesker(document), reference);
    ASSERT_EQ(expected.size(), 3u);

    constexpr std::uint64_t gib = std::uint64_t{1} << 30;
    const struct {
        std::uint64_t hole;
        int beforePage;
    } cases[] = {{2 * gib + 12345, 1}, {4 * gib + 1, 1}, {8 * gib + 7, 1}, {4 * gib, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.hole << " bytes before page " << c.beforePage);
        document.holeBytes = c.hole;
        document.holeBeforePage = c.beforePage;
        const fixture::BuiltPdf built = fixture::buildMesker(document);
        ASSERT_GT(built.xrefOffsets.back(), c.hole);
        TempFolder folder;
        EXPECT_EQ(extract(built, folder), expected);
    }
}

}  // namespace
}  // namespace ravoth
