#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <functional>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "image/bmp_writer.h"
#include "job/extraction.h"
#include "platform/allocation_ceiling.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "tests/fixture/general_pdf.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/bitmap_file.h"
#include "tests/support/faults.h"
#include "tests/support/run_once.h"
#include "tests/support/slowdown.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using fixture::MeskerDocument;
using fixture::MeskerPage;
using testing::readFileBytes;
using testing::TempFolder;

struct RunResult {
    int result;
    long long allocations;
    bool written;
    std::int32_t lastError;
    std::set<std::string> files;
    std::vector<PageOutcome> outcomes;
    std::chrono::steady_clock::duration elapsed;
};

class Extraction : public ::testing::Test {
protected:
    // Writes the document as "Book.pdf" in a fresh folder and extracts it.
    RunResult extract(const MeskerDocument& document, int first = 0, int last = 0,
                const std::string& pdfName = "Book.pdf")
    {
        built_ = fixture::buildMesker(document);
        pdf_ = folder_.file(pdfName);
        EXPECT_TRUE(fixture::writeFile(pdf_, built_.bytes));
        return again(first, last);
    }
    RunResult again(int first = 0, int last = 0, const std::string& base = "",
                    const std::function<void(FaultPlan&)>& arm = {})
    {
        RunResult run;
        const auto start = std::chrono::steady_clock::now();
        testing::RunOnce once = testing::runOnce(pdf_, first, last, base, false, testing::allOnThreads, arm);
        run.elapsed = std::chrono::steady_clock::now() - start;
        run.result = once.result;
        run.allocations = once.allocations;
        run.outcomes = std::move(once.outcomes);
        run.written = once.written;
        run.lastError = once.lastError;
        run.files = folder_.names();
        run.files.erase(pdf_.substr(pdf_.rfind('/') + 1));
        return run;
    }

    TempFolder folder_;
    fixture::BuiltPdf built_;
    std::string pdf_;
};

MeskerPage tinyGray(unsigned seed) { return fixture::flatePage(3, 2, 8, true, seed); }

MeskerDocument pages(int count)
{
    MeskerDocument document;
    for (int k = 0; k < count; ++k) document.pages.push_back(tinyGray(static_cast<unsigned>(k)));
    return document;
}

TEST_F(Extraction, MixedDocumentGivesNumberedJpegAndBmpFiles)
{
    MeskerDocument document;
    document.pages = {fixture::dctPage(16, 8, false, 1), fixture::flatePage(5, 3, 8, false, 2),
                      fixture::dctPage(8, 8, true, 3), fixture::flatePage(9, 2, 1, true, 4)};
    const RunResult run = extract(document);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.written);
    EXPECT_EQ(run.files, (std::set<std::string>{"Book-1.jpg", "Book-2.bmp", "Book-3.jpg", "Book-4.bmp"}));
    EXPECT_EQ(readFileBytes(folder_.file("Book-1.jpg")), built_.imageStreams[0]);
    EXPECT_EQ(readFileBytes(folder_.file("Book-3.jpg")), built_.imageStreams[2]);
    // 5 pixels of 24 bits: 15 bytes padded to 16, 3 rows, 54 header bytes.
    EXPECT_EQ(readFileBytes(folder_.file("Book-2.bmp")).size(), 54u + 16 * 3);
    // 9 pixels of 1 bit: 2 bytes padded to 4, 2 rows, 62 header bytes.
    EXPECT_EQ(readFileBytes(folder_.file("Book-4.bmp")).size(), 62u + 4 * 2);
}

TEST_F(Extraction, NumberWidthFollowsThePageCount)
{
    struct Case {
        int pageCount;
        std::string firstName;
        std::string lastName;
    };
    for (const Case& c : {Case{9, "Book-1.bmp", "Book-9.bmp"}, Case{10, "Book-01.bmp", "Book-10.bmp"}}) {
        TempFolder other;
        const std::string pdf = other.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(pages(c.pageCount)).bytes));
        EXPECT_EQ(testing::runOnce(pdf).result, 0);
        const std::set<std::string> names = other.names();
        EXPECT_EQ(names.size(), static_cast<std::size_t>(c.pageCount) + 1);
        EXPECT_TRUE(names.count(c.firstName)) << c.firstName;
        EXPECT_TRUE(names.count(c.lastName)) << c.lastName;
    }
}

TEST_F(Extraction, StemDropsPdfInAnyCaseOnly)
{
    struct Case {
        std::string base;
        std::string expected;
    };
    extract(pages(1));
    for (const Case& c : {Case{"Book.PDF", "Book-1.bmp"}, Case{"Scan.pDf", "Scan-1.bmp"},
                          Case{"Book.pdf.bak", "Book.pdf.bak-1.bmp"}, Case{"Bo", "Bo-1.bmp"},
                          Case{".pdf", "-1.bmp"}}) {
        SCOPED_TRACE(c.base);
        const RunResult run = again(0, 0, folder_.file(c.base));
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.files.count(c.expected));
    }
}

TEST_F(Extraction, PageRangeIsSettledAndChecked)
{
    struct Case {
        int first;
        int last;
        int result;
        std::set<std::string> files;
    };
    const Case cases[] = {
        {0, 0, 0, {"Book-1.bmp", "Book-2.bmp", "Book-3.bmp", "Book-4.bmp", "Book-5.bmp", "Book-6.bmp"}},
        {5, 2, 0, {"Book-2.bmp", "Book-3.bmp", "Book-4.bmp", "Book-5.bmp"}},
        {5, 0, 0, {"Book-5.bmp", "Book-6.bmp"}},
        {0, 2, 0, {"Book-1.bmp", "Book-2.bmp"}},
        {6, 6, 0, {"Book-6.bmp"}},
        {0, 7, -12, {}},
        {7, 0, -12, {}},
        {-1, 3, -12, {}},
        {1, -1, -12, {}},
    };
    const MeskerDocument document = pages(6);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last));
        TempFolder other;
        const std::string pdf = other.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
        const testing::RunOnce once = testing::runOnce(pdf, c.first, c.last);
        EXPECT_EQ(once.result, c.result);
        std::set<std::string> names = other.names();
        names.erase("Book.pdf");
        EXPECT_EQ(names, c.files);
        EXPECT_EQ(once.written, !c.files.empty());
    }
}

TEST_F(Extraction, ProducerCheck)
{
    struct Case {
        const char* name;
        fixture::ProducerKind kind;
        std::string value;
        int result;
    };
    const Case cases[] = {
        {"Mesker", fixture::ProducerKind::Mesker, "", 0},
        {"Tolvin", fixture::ProducerKind::Tolvin, "", 0},
        {"Dravel", fixture::ProducerKind::Dravel, "", 0},
        {"no Info", fixture::ProducerKind::NoInfo, "", 0},
        {"Info without /Producer", fixture::ProducerKind::InfoWithoutProducer, "", 0},
        {"another program", fixture::ProducerKind::Custom, " (Other 1.0)", -16},
        {"no space before the literal", fixture::ProducerKind::Custom,
         R"((\376\377\0\115\0\145\0\163\0\153\0\145\0\162\0\40\0\63))", -16},
        {"byte-order mark unescaped", fixture::ProducerKind::Custom,
         " (\xFE\xFF\\0\\115\\0\\145\\0\\163\\0\\153\\0\\145\\0\\162\\0\\40\\0\\63\\0\\63\\0\\63)", -16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeskerDocument document = pages(1);
        document.producer = c.kind;
        document.producerValue = c.value;
        TempFolder other;
        const std::string pdf = other.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
        EXPECT_EQ(testing::runOnce(pdf).result, c.result);
        EXPECT_EQ(other.names().size(), c.result == 0 ? 2u : 1u);
    }
}

TEST_F(Extraction, FailuresBeforeThePageLoopHaveTheirCodes)
{
    struct Case {
        const char* name;
        std::function<void(MeskerDocument&)> change;
        std::function<void(std::string&)> edit;
        int result;
        std::int32_t lastError;
    };
    auto noChange = [](MeskerDocument&) {};
    auto noEdit = [](std::string&) {};
    const Case cases[] = {
        {"no %%EOF", [](MeskerDocument& d) { d.omitEof = true; }, noEdit, -8, -15},
        {"startxref at an object", [](MeskerDocument& d) { d.startxrefAtCatalog = true; }, noEdit, -8, -18},
        {"encrypted", [](MeskerDocument& d) { d.encrypt = true; }, noEdit, -8, -1000},
        {"encrypted update", [](MeskerDocument& d) { d.updates.push_back({}); d.updates[0].encrypt = true; },
         noEdit, -8, -1000},
        {"no root", [](MeskerDocument& d) { d.omitRoot = true; }, noEdit, -11, -111},
        {"catalogue not a catalogue", noChange,
         [](std::string& t) { fixture::replaceOnce(t, "/Type /Catalog", "/Type /Catalogs"); }, -11, -118},
        {"page count 0", [](MeskerDocument& d) { d.countOverride = 0; }, noEdit, -11, 0},
        {"Info missing from the table", noChange,
         [](std::string& t) { fixture::replaceOnce(t, "/Info 3 0 R", "/Info 99 0 R"); }, -14, -92},
        {"Info not at its offset", noChange,
         [](std::string& t) { fixture::replaceOnce(t, "3 0 obj", "4 0 obj"); }, -15, -97},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeskerDocument document = pages(2);
        c.change(document);
        std::string bytes = fixture::buildMesker(document).bytes;
        c.edit(bytes);
        TempFolder other;
        const std::string pdf = other.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, bytes));
        const testing::RunOnce once = testing::runOnce(pdf);
        EXPECT_EQ(once.result, c.result);
        EXPECT_EQ(once.lastError, c.lastError);
        EXPECT_FALSE(once.written);
        EXPECT_EQ(other.names().size(), 1u);
    }
    EXPECT_EQ(testing::runOnce(folder_.file("missing.pdf"), 0, 0, "x").result, -1);
}

// A listing and an archive read the bookmarks without naming files after
// them, and read the tree once more without them when it yields no page:
// what the first reading handed out must not be lost to the second (the
// fixture checks that every block comes back).
TEST_F(Extraction, ATreeCountingNoPagesIsReadAgainWithoutBookmarksAndKeepsNothing)
{
    MeskerDocument document = pages(2);
    document.countOverride = 0;
    document.outline = {{"(One)", fixture::destToPage(0), {}}, {"(Two)", fixture::destToPage(1), {}}};
    const std::string pdf = folder_.file("Counted.pdf");
    ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
    for (const bool listing : {true, false}) {
        SCOPED_TRACE(listing ? "listing" : "archive");
        ExtractionRun run;
        run.setListing(listing);
        if (!listing) run.setArchive(folder_.file("Counted.cbz"));
        EXPECT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), -11);
        EXPECT_EQ(run.lastError(), 0);
        EXPECT_FALSE(run.filesWritten());
    }
}

TEST_F(Extraction, BrokenPagesFailAloneAndTheRunReportsIt)
{
    MeskerDocument document = pages(3);
    document.editPageObject = [](int k, std::string& text) {
        if (k == 1) fixture::replaceOnce(text, "/ProcSet", "/ProcSek");
    };
    RunResult run = extract(document);
    EXPECT_EQ(run.result, -13);
    EXPECT_TRUE(run.written);
    EXPECT_EQ(run.files, (std::set<std::string>{"Book-1.bmp", "Book-3.bmp"}));

    document.editPageObject = [](int, std::string& text) { fixture::replaceOnce(text, "/ProcSet", "/ProcSek"); };
    run = extract(document);
    EXPECT_EQ(run.result, -13);
    EXPECT_FALSE(run.written);
}

TEST_F(Extraction, HugeCountFailsTheMissingPagesAtOnce)
{
    MeskerDocument document = pages(2);
    document.countOverride = 2000000000;
    const RunResult run = extract(document);
    const std::vector<PageOutcome>& outcomes = run.outcomes;
    const auto elapsed = run.elapsed;
    EXPECT_EQ(run.result, -13);
    EXPECT_TRUE(run.written);
    EXPECT_EQ(run.files.size(), 2u);
    EXPECT_TRUE(run.files.count("Book-0000000001.bmp"));
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[2].stage, PageStage::PastPageList);
    EXPECT_EQ(outcomes[2].pageNumber, 3);
    EXPECT_EQ(outcomes[2].lastPageNumber, 2000000000);
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

// A write that fails half-way (a full disk) must neither leave part of a
// picture under the page's name nor cost the file the user already had there.
TEST_F(Extraction, WriteFailureKeepsTheEarlierFileAndLeavesNothingElse)
{
    MeskerDocument document;
    document.pages = {fixture::dctPage(8, 8, false, 1), tinyGray(2)};
    const std::string earlier = "the picture of an earlier run";
    for (int page : {1, 2}) {
        for (int failingRequest : {1, 2}) {  // the flush, then the close
            SCOPED_TRACE(::testing::Message() << "page " << page << ", request " << failingRequest);
            TempFolder other;
            const std::string pdf = other.file("Book.pdf");
            ASSERT_TRUE(fixture::writeFile(pdf, fixture::buildMesker(document).bytes));
            const std::string name = page == 1 ? "Book-1.jpg" : "Book-2.bmp";
            ASSERT_TRUE(fixture::writeFile(other.file(name), earlier));
            const testing::RunOnce once =
                testing::runOnce(pdf, page, page, {}, false, testing::allOnThreads,
                                 [&](FaultPlan& faults) { faults.failWriteAt(failingRequest); });
            EXPECT_EQ(once.result, -13);
            EXPECT_FALSE(once.written);
            EXPECT_EQ(other.names(), (std::set<std::string>{"Book.pdf", name}));
            EXPECT_EQ(readFileBytes(other.file(name)), earlier);
        }
    }
}

TEST_F(Extraction, NameBeyondThePathLimitFailsThePage)
{
    extract(pages(1));
    // "-1.bmp" after the base: a name of exactly 259 bytes is written, one
    // of 260 fails the page.
    const std::string prefix = folder_.file("");
    ASSERT_LT(prefix.size(), 200u);
    const std::string base = prefix + std::string(259 - 6 - prefix.size(), 'b');
    RunResult run = again(0, 0, base);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.files.count(base.substr(prefix.size()) + "-1.bmp"));
    run = again(0, 0, base + "b");
    EXPECT_EQ(run.result, -13);
    EXPECT_FALSE(run.written);
}

TEST_F(Extraction, StreamAfterSingleLineFeedKeepsEveryByte)
{
    MeskerDocument document;
    document.streamEol = "\n";
    document.pages = {fixture::dctPage(8, 8, false, 5), tinyGray(6)};
    const RunResult run = extract(document);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(readFileBytes(folder_.file("Book-1.jpg")), built_.imageStreams[0]);
}

TEST_F(Extraction, ExistingFilesAreReplaced)
{
    extract(pages(1));
    ASSERT_TRUE(fixture::writeFile(folder_.file("Book-1.bmp"), std::string(5000, 'x')));
    EXPECT_EQ(again().result, 0);
    EXPECT_EQ(readFileBytes(folder_.file("Book-1.bmp")).size(), 54u + 12 * 2);
}

// The document is mapped; where the file system cannot map it, it is read
// into a block, whose allocation then is a step of its own (-4).
TEST_F(Extraction, EveryAllocationFailureEndsWithItsCodeAndReleasesAll)
{
    MeskerDocument document;
    document.pages = {fixture::dctPage(8, 8, false, 1), tinyGray(2)};
    extract(document);
    for (const bool mapped : {true, false}) {
        SCOPED_TRACE(mapped ? "mapped" : "read");
        std::set<int> results;
        for (long long n = 1;; ++n) {
            const long long before = liveBlockCount();
            const RunResult run = again(0, 0, "", [&](FaultPlan& faults) {
                faults.refuseMapping(!mapped);
                faults.failAllocationAt(n);
            });
            EXPECT_EQ(liveBlockCount(), before) << "allocation " << n;
            if (run.result == 0) break;
            results.insert(run.result);
            ASSERT_LT(n, 1000);
        }
        EXPECT_EQ(readFileBytes(folder_.file("Book-1.jpg")), built_.imageStreams[0]);
        std::set<int> expected{-2, -3, -5, -6, -7, -8, -9, -10, -11, -13};
        if (!mapped) expected.insert(-4);
        EXPECT_EQ(results, expected);
    }
}

// The run's own lists (titles, outcomes, archive names) come from the
// standard containers, whose failure is an exception: none may leave run().
TEST_F(Extraction, AnAllocationFailureOfTheRunsListsEndsAsNoMemory)
{
    MeskerDocument exact = pages(3);
    const std::string longTitle = "(" + std::string(600, 'T') + ")";
    exact.outline = {{longTitle, fixture::destToPage(0), {}}, {"(Two)", fixture::destToPage(1), {}}};
    extract(exact);
    const std::string exactPdf = pdf_;
    testing::DocumentPlan plan;
    const testing::ImagePlan grey{"/Width 3 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8", "abcdef", "", ""};
    plan.pages = {testing::PagePlan{{grey}}, testing::PagePlan{{grey}}};
    plan.bookmarks = {{std::string(600, 'G'), 0}, {"Two", 1}};
    const std::string generalPdf = folder_.file("Scan.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(plan, generalPdf));
    enum class Way { Names, Archive, Listing };
    for (const std::string& pdf : {exactPdf, generalPdf})
        for (const Way way : {Way::Names, Way::Archive, Way::Listing}) {
            SCOPED_TRACE(pdf + " way " + std::to_string(static_cast<int>(way)));
            std::set<int> results;
            for (const std::size_t ceiling : {std::size_t{16}, std::size_t{64}, std::size_t{256}, std::size_t{1024},
                                              std::size_t{1} << 20}) {
                const long long before = liveBlockCount();
                ExtractionRun run;
                run.setAnyProducer(true);
                run.setPageWriting(testing::allOnThreads);
                run.setOutlineNames(way == Way::Names);
                run.setListing(way == Way::Listing);
                const std::string archive = folder_.file("Pages.cbz");
                if (way == Way::Archive) run.setArchive(archive);
                int result = 1;
                {
                    const AllocationCeiling ceilingNow(ceiling);
                    try {
                        result = run.run(pdf.c_str(), 0, 0, pdf.c_str());
                    } catch (...) {
                        result = 1;
                    }
                }
                ASSERT_NE(result, 1) << "an exception left the run at a ceiling of " << ceiling;
                results.insert(result);
                EXPECT_TRUE(result == 0 || run.failure() == RunFailure::NoMemory) << result;
                if (way == Way::Archive && result != 0) {
                    EXPECT_FALSE(std::filesystem::exists(archive));
                }
                EXPECT_EQ(liveBlockCount(), before);
                std::filesystem::remove(archive);
            }
            EXPECT_EQ(results.count(0), 1u) << "no ceiling let the run through";
            EXPECT_GT(results.size(), 1u) << "no ceiling was felt";
        }
}

// A run's failures are its own: its writing threads meet them as its own
// thread does, and a run beside it on another thread meets none of them.
TEST_F(Extraction, FaultsAskedOfOneRunStayWithIt)
{
    extract(pages(8));
    std::filesystem::create_directory(folder_.file("armed"));
    std::filesystem::create_directory(folder_.file("other"));
    for (int round = 0; round < 5; ++round) {
        ExtractionRun armed;
        ExtractionRun other;
        armed.setPageWriting(testing::allOnThreads);
        other.setPageWriting(testing::allOnThreads);
        armed.faults().failWriteAt(3);
        int otherResult = 1;
        std::thread beside([&] { otherResult = other.run(pdf_.c_str(), 0, 0, folder_.file("other/Book.pdf").c_str()); });
        const int armedResult = armed.run(pdf_.c_str(), 0, 0, folder_.file("armed/Book.pdf").c_str());
        beside.join();
        EXPECT_EQ(armedResult, somePageNotWritten);
        EXPECT_EQ(otherResult, extractionOk);
        int failed = 0;
        for (const PageOutcome& outcome : armed.pageOutcomes()) failed += outcome.stage == PageStage::WriteBmp;
        EXPECT_EQ(failed, 1);
    }
}

TEST(ReadDocument, FailsWithTheCodeOfTheStep)
{
    ExtractionRun run;
    run.setPageWriting(testing::allOnThreads);
    EXPECT_FALSE(run.readDocument("/nonexistent/ravoth.pdf"));
    EXPECT_EQ(run.lastError(), -1);
    run.freeWorkBuffers();
    run.freeWorkBuffers();
}

TEST(Outcome, FollowsResultAndFilesWritten)
{
    EXPECT_EQ(outcomeOf(0, true), ExtractionOutcome::Complete);
    EXPECT_EQ(outcomeOf(0, false), ExtractionOutcome::Complete);
    EXPECT_EQ(outcomeOf(-13, true), ExtractionOutcome::CompletePartly);
    EXPECT_EQ(outcomeOf(-13, false), ExtractionOutcome::Failure);
    EXPECT_EQ(outcomeOf(-8, false), ExtractionOutcome::Failure);
}

}  // namespace
}  // namespace ravoth

namespace ravoth {
namespace {

// A Flate page whose stream holds `sampleBytes` bytes of one value: highly
// compressible, so the old ladder from 20 times the stream would have
// needed many retries.
fixture::MeskerPage uniformPage(int width, int height, std::size_t sampleBytes, char value = 'w')
{
    fixture::MeskerPage page;
    page.filter = fixture::PageFilter::Flate;
    page.width = width;
    page.height = height;
    page.bitsPerComponent = 8;
    page.isGray = false;
    page.data = fixture::deflateBytes(std::string(sampleBytes, value));
    page.precompressed = true;
    return page;
}

// The bitmap written straight from the samples, for comparison.
std::string bitmapOf(const std::string& samples, int width, int height, const TempFolder& folder)
{
    const std::string path = folder.file("reference.bmp");
    EXPECT_EQ(testing::writeBitmapFile(path.c_str(), reinterpret_cast<const Byte*>(samples.data()), samples.size(),
                           width, height, 8, false),
              0);
    std::string bytes = readFileBytes(path);
    std::remove(path.c_str());
    return bytes;
}

TEST_F(Extraction, CompressibleFlatePagesInflateOnceWithTheSameBytes)
{
    constexpr int width = 300;
    constexpr int height = 200;
    constexpr std::size_t expected = 3 * width * height;
    struct Case {
        const char* name;
        std::size_t sampleBytes;
        bool inflatesOnce;  // a longer stream needs the ladder's next step
    };
    for (const Case& c : {Case{"exact", expected, true}, Case{"one short", expected - 1, true},
                          Case{"one long", expected + 1, false}}) {
        SCOPED_TRACE(c.name);
        MeskerDocument document;
        document.pages = {uniformPage(width, height, c.sampleBytes)};
        RunResult run = extract(document);
        const long long allocations = run.allocations;
        EXPECT_EQ(run.result, 0);
        std::string samples(c.sampleBytes, 'w');
        EXPECT_EQ(readFileBytes(folder_.file("Book-1.bmp")), bitmapOf(samples, width, height, folder_));

        // A stream of noise inflates at the first try too, in one call. A
        // page the one call does not take costs the streaming way's four
        // blocks more (zlib's state and window, the two chunks); a second
        // rung of the ladder would cost its own block and those four again.
        MeskerDocument noisy;
        noisy.pages = {fixture::flatePage(width, height, 8, false, 9)};
        run = extract(noisy);
        EXPECT_EQ(run.result, 0);
        constexpr long long streamingBlocks = 4;
        if (c.inflatesOnce) {
            EXPECT_LE(allocations, run.allocations + streamingBlocks);
        } else {
            EXPECT_GT(allocations, run.allocations + streamingBlocks);
        }
    }
}

TEST_F(Extraction, StreamInflatingFarPastItsImageFailsThePage)
{
    MeskerDocument document;
    // 16 times the 12 bytes that a 2 x 2 RGB page holds is 192: 200 KB
    // of zeros is far past that, and past 20 times its own compressed size.
    document.pages = {uniformPage(2, 2, 200000, '\0'), uniformPage(2, 2, 12)};
    const RunResult run = extract(document);
    EXPECT_EQ(run.result, -13);
    EXPECT_EQ(run.files, std::set<std::string>{"Book-2.bmp"});
    ASSERT_EQ(run.outcomes.size(), 2u);
    EXPECT_EQ(run.outcomes[0].stage, PageStage::InflateBound);
}

// A page that declares far more than its stream could ever yield is forged,
// not damaged: it fails at once, before any block of the declared size is
// asked for, and takes neither the disk nor the memory it declares.
TEST_F(Extraction, ForgedPageSizesFailBeforeAnyLargeBlock)
{
    struct Case {
        const char* name;
        int width;
        int height;
        const char* bits;  // as written after /BitsPerComponent
        PageStage stage;
        int code;
    };
    const Case cases[] = {
        {"4 GB declared in 16 bytes", 37000, 37000, "8", PageStage::ImageTooLarge, -12},
        {"depth that saturates", 1000, 1000, "4294967304", PageStage::WriteBmp, -10},
        {"depth of 16 bits", 1000, 1000, "16", PageStage::WriteBmp, -10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MeskerDocument document;
        MeskerPage page = uniformPage(c.width, c.height, 0);
        page.data = fixture::deflateBytes("sixteen bytes!!!");
        document.pages = {page, tinyGray(1)};
        const std::string bits = c.bits;
        document.editImageObject = [&](int k, std::string& text) {
            if (k == 0) fixture::replaceOnce(text, "/BitsPerComponent 8", "/BitsPerComponent " + bits);
        };
        const RunResult run = extract(document);
        EXPECT_EQ(run.result, -13);
        EXPECT_EQ(run.files, std::set<std::string>{"Book-2.bmp"});
        ASSERT_EQ(run.outcomes.size(), 2u);
        EXPECT_EQ(run.outcomes[0].stage, c.stage);
        EXPECT_EQ(run.outcomes[0].code, c.code);
        EXPECT_LT(run.elapsed, std::chrono::seconds(2) * testing::sanitizerSlowdown);
    }
}

// A page tree that lists one large node over and over (as many times as
// the table has lines) made every listing read the node again: a file of
// under a megabyte took seconds, and a larger one minutes. Reading the
// structure now costs at most a fixed multiple of the document's size.
TEST_F(Extraction, RepeatedReadingOfOneObjectIsBounded)
{
    constexpr int listings = 20000;
    fixture::PdfWriter writer;
    writer.addObject(1, "<< /Type /Catalog /Pages 2 0 R >>\n");
    std::string kids;
    for (int k = 0; k < listings; ++k) kids += "3 0 R ";
    writer.addObject(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(listings) + " >>\n");
    writer.addObject(3, "<< /Type /Page /Note (" + std::string(200000, 'x') + ") >>\n");
    fixture::TrailerFields trailer;
    trailer.root = 1;
    writer.finishSection(trailer, {{0, listings + 4}});
    pdf_ = folder_.file("Book.pdf");
    ASSERT_TRUE(fixture::writeFile(pdf_, writer.bytes()));
    const RunResult run = again();
    EXPECT_LT(run.elapsed, std::chrono::seconds(1) * testing::sanitizerSlowdown);
    EXPECT_EQ(run.result, -11);
}

// A document cut short by another program while the run reads it: the run
// ends with its own code, the files written before stay as they were, and
// nothing else is left, however the run was touching the document then.
TEST_F(Extraction, DocumentCutShortUnderTheRunEndsItCleanly)
{
    // More pages than the writers hold at once, so that pages after the
    // cut are still to be read when it comes.
    constexpr int pageCount = 30;
    MeskerDocument document;
    for (int k = 0; k < pageCount; ++k) {
        fixture::MeskerPage page;
        page.filter = fixture::PageFilter::DCT;
        page.width = 64;
        page.height = 64;
        page.data = std::string(200000 + k, static_cast<char>('a' + k));
        document.pages.push_back(page);
    }
    document.pages[6] = uniformPage(300, 200, 180000);
    built_ = fixture::buildMesker(document);
    pdf_ = folder_.file("Book.pdf");
    for (const int cutAfter : {3, 6}) {
        SCOPED_TRACE(cutAfter);
        ASSERT_TRUE(fixture::writeFile(pdf_, built_.bytes));
        ExtractionRun run;
        run.setPageWriting(testing::allOnThreads);
        run.setProgress([&](const PageProgress& progress) {
            if (progress.pagesDone == cutAfter) std::filesystem::resize_file(pdf_, 4096);
        });
        EXPECT_EQ(run.run(pdf_.c_str(), 0, 0, pdf_.c_str()), documentChanged);
        EXPECT_TRUE(run.filesWritten());
        std::set<std::string> expected{"Book.pdf"};
        for (const PageOutcome& outcome : run.pageOutcomes()) {
            if (outcome.stage != PageStage::Written) continue;
            const std::string name = outcome.fileName.substr(outcome.fileName.rfind('/') + 1);
            expected.insert(name);
            const std::size_t k = static_cast<std::size_t>(outcome.pageNumber - 1);
            if (name.ends_with(".jpg")) {
                EXPECT_EQ(readFileBytes(outcome.fileName), built_.imageStreams[k]) << name;
            }
        }
        EXPECT_GE(expected.size(), static_cast<std::size_t>(cutAfter) + 1);
        EXPECT_LT(expected.size(), std::size_t{pageCount} + 1);
        EXPECT_EQ(folder_.names(), expected);
        for (const std::string& name : folder_.names())
            if (name != "Book.pdf") std::filesystem::remove(folder_.file(name));
    }
}

// Every way a JPEG page can reach its file gives the same bytes: copied from
// file to file or sent by the system (written from the view on Windows), the
// view a mapping or a block read.
TEST_F(Extraction, JpegPagesAreTheSameBytesHoweverTheyAreCopied)
{
    MeskerDocument document;
    document.pages = {fixture::dctPage(40, 30, false, 1), fixture::dctPage(8, 8, true, 2)};
    document.pages[1].data.append(300000, 'x');
    extract(document);
    for (const bool mapped : {true, false}) {
        for (const bool systemCopy : {true, false}) {
            SCOPED_TRACE(::testing::Message() << (mapped ? "mapped, " : "read, ") << (systemCopy ? "file to file" : "sent"));
            std::filesystem::remove(folder_.file("Book-1.jpg"));
            std::filesystem::remove(folder_.file("Book-2.jpg"));
            const RunResult run = again(0, 0, "", [&](FaultPlan& faults) {
                faults.refuseMapping(!mapped);
                faults.refuseSystemCopy(!systemCopy);
            });
            EXPECT_EQ(run.result, 0);
            EXPECT_EQ(readFileBytes(folder_.file("Book-1.jpg")), built_.imageStreams[0]);
            EXPECT_EQ(readFileBytes(folder_.file("Book-2.jpg")), built_.imageStreams[1]);
        }
    }
}

// A stop asked for while a page of a few hundred megabytes is inflated and
// converted lands within a quarter of a second: the page is given up
// half-way, not finished first.
// Pages inflated and converted on the writing threads come out as on the
// run's own thread: the same outcomes, in page order, with their codes, and
// the same files, among them pages the one-call inflater does not take.
TEST_F(Extraction, PagesConvertedOnThreadsEndAsOnOneThread)
{
    auto cutShort = [](const MeskerPage& whole) {
        MeskerPage page = whole;
        uLongf size = compressBound(static_cast<uLong>(page.data.size()));
        fixture::Bytes stream(size, '\0');
        EXPECT_EQ(compress(reinterpret_cast<Bytef*>(stream.data()), &size,
                           reinterpret_cast<const Bytef*>(page.data.data()), static_cast<uLong>(page.data.size())),
                  Z_OK);
        stream.resize(size - 6);
        page.data = stream;
        page.precompressed = true;
        return page;
    };
    MeskerDocument document;
    for (unsigned k = 0; k < 24; ++k) {
        switch (k % 5) {
        case 0: document.pages.push_back(fixture::flatePage(300, 200, 8, false, k)); break;
        case 1: document.pages.push_back(uniformPage(300, 200, 300 * 200 * 3 - 7)); break;  // one call refuses
        case 2: document.pages.push_back(fixture::dctPage(16, 16, false, k)); break;
        case 3: document.pages.push_back(cutShort(fixture::flatePage(120, 90, 8, true, k))); break;  // fails
        default: document.pages.push_back(fixture::flatePage(257, 64, 1, true, k)); break;
        }
    }
    extract(document);
    std::vector<std::vector<PageOutcome>> outcomes;
    std::vector<std::vector<fixture::Bytes>> files;
    for (const PageWriting writing : {PageWriting{SIZE_MAX, 1}, testing::allOnThreads}) {
        const testing::RunOnce once = testing::runOnce(pdf_, 0, 0, {}, false, writing);
        EXPECT_EQ(once.result, somePageNotWritten);
        outcomes.push_back(once.outcomes);
        files.emplace_back();
        for (const PageOutcome& outcome : once.outcomes)
            files.back().push_back(outcome.fileName.empty() ? fixture::Bytes{} : readFileBytes(outcome.fileName));
    }
    ASSERT_EQ(outcomes[0].size(), document.pages.size());
    ASSERT_EQ(outcomes[1].size(), document.pages.size());
    for (std::size_t k = 0; k < document.pages.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(outcomes[1][k].pageNumber, static_cast<int>(k) + 1);
        EXPECT_EQ(outcomes[1][k].stage, outcomes[0][k].stage);
        EXPECT_EQ(outcomes[1][k].code, outcomes[0][k].code);
        EXPECT_EQ(outcomes[1][k].fileName, outcomes[0][k].fileName);
        EXPECT_EQ(files[1][k], files[0][k]);
        EXPECT_EQ(outcomes[0][k].stage, k % 5 == 3 ? PageStage::Inflate : PageStage::Written);
        EXPECT_EQ(outcomes[0][k].code, k % 5 == 3 ? -5 : 0);
    }
}

TEST_F(Extraction, StopLandsWithinALargePage)
{
    constexpr int side = 10000;
    MeskerDocument document;
    document.pages = {fixture::dctPage(8, 8, true, 1), uniformPage(side, side, std::size_t{side} * side * 3)};
    built_ = fixture::buildMesker(document);
    pdf_ = folder_.file("Book.pdf");
    ASSERT_TRUE(fixture::writeFile(pdf_, built_.bytes));
    ExtractionRun run;
    run.setPageWriting(testing::allOnThreads);
    std::atomic<bool> firstPageDone{false};
    run.setProgress([&](const PageProgress& progress) {
        if (progress.pagesDone == 1) firstPageDone.store(true);
    });
    std::chrono::steady_clock::time_point asked;
    std::thread stopper([&] {
        while (!firstPageDone.load()) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        asked = std::chrono::steady_clock::now();
        run.requestStop();
    });
    const int result = run.run(pdf_.c_str(), 0, 0, pdf_.c_str());
    const auto stopped = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_EQ(result, extractionStopped);
    // The sanitizers' builds allow twice their usual slowdown: giving back
    // the page's 300 MB costs their shadow memory too, which took the stop
    // just past 2.5 s on a loaded machine; the normal build keeps 250 ms.
    EXPECT_LT(stopped - asked, std::chrono::milliseconds(250) * testing::sanitizerSlowdown *
                                   (testing::sanitizerSlowdown > 1 ? 2 : 1));
    ASSERT_EQ(run.pageOutcomes().size(), 2u);
    EXPECT_EQ(run.pageOutcomes()[1].stage, PageStage::Stopped);
    EXPECT_EQ(folder_.names(), (std::set<std::string>{"Book.pdf", "Book-1.jpg"}));
}

}  // namespace
}  // namespace ravoth
