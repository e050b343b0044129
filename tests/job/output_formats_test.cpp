// What a run writes besides bitmaps: PNG and TIFF pages with the page's
// resolution, one archive of the files, and a listing that writes nothing.
// Each file is read back through a library and compared with the bitmap a
// plain run writes for the same page.
#include <gtest/gtest.h>

#include <png.h>
#include <tiffio.h>
#include <unzip.h>

#include <atomic>
#include <filesystem>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "job/extraction.h"
#include "tests/fixture/general_pdf.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/ctype_locale.h"
#include "tests/support/run_once.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using fixture::MeskerDocument;
using testing::readFileBytes;
using testing::TempFolder;

std::uint32_t le32(const std::string& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(k)]);
    return v;
}

// A picture as RGB triplets, top row first, with what its file says of it.
struct Picture {
    std::string rgb;
    int bits = 0;      // per sample as stored
    int channels = 0;
    double dpiX = 0;
    double dpiY = 0;
    int compression = 0;  // TIFF's
};

Picture bmpPicture(const std::string& file)
{
    Picture p;
    if (file.size() < 54 || file.compare(0, 2, "BM") != 0) return p;
    const std::uint32_t offset = le32(file, 10);
    const std::uint32_t width = le32(file, 18);
    const std::uint32_t height = le32(file, 22);
    p.bits = static_cast<unsigned char>(file[28]);
    p.channels = p.bits == 24 ? 3 : 1;
    const std::size_t stride = (width * static_cast<std::uint32_t>(p.bits) + 31) / 32 * 4;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::size_t row = offset + (height - 1 - y) * stride;
        for (std::uint32_t x = 0; x < width; ++x) {
            if (p.bits == 24) {
                const std::size_t at = row + 3 * x;
                p.rgb += {file[at + 2], file[at + 1], file[at]};
            } else {
                const bool white = (static_cast<unsigned char>(file[row + x / 8]) >> (7 - x % 8)) & 1;
                p.rgb.append(3, white ? '\xFF' : '\0');
            }
        }
    }
    return p;
}

// Samples of `bits` bits, stretched onto 0..255 (inverted for white-is-0).
std::string stretched(const std::string& rows, std::size_t rowBytes, std::uint32_t width, std::uint32_t height,
                      int bits, int channels, bool invert)
{
    std::string rgb;
    if (bits > 8) return rgb;  // not compared
    const unsigned max = (1u << bits) - 1;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const std::size_t bit =
                    (static_cast<std::size_t>(x) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channels == 3 ? c : 0)) *
                    static_cast<std::size_t>(bits);
                const std::size_t at = y * rowBytes + bit / 8;
                unsigned v = (static_cast<unsigned char>(rows[at]) >> (8 - bits - static_cast<int>(bit % 8))) & max;
                if (invert) v = max - v;
                rgb.push_back(static_cast<char>(v * (255 / max)));
            }
    return rgb;
}

Picture pngPicture(const std::string& path)
{
    Picture p;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return p;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, in);
        png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
        p.bits = png_get_bit_depth(png, info);
        p.channels = png_get_channels(png, info);
        png_uint_32 x = 0, y = 0;
        int unit = 0;
        if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER) {
            p.dpiX = x * 0.0254;
            p.dpiY = y * 0.0254;
        }
        std::string rows;
        const png_size_t rowBytes = png_get_rowbytes(png, info);
        png_bytepp pointers = png_get_rows(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        for (png_uint_32 row = 0; row < height; ++row) rows.append(reinterpret_cast<const char*>(pointers[row]), rowBytes);
        p.rgb = stretched(rows, rowBytes, png_get_image_width(png, info), height, p.bits, p.channels, false);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(in);
    return p;
}

Picture tiffPicture(const std::string& path)
{
    Picture p;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return p;
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, channels = 0, photometric = 0, compression = 0;
    float x = 0, y = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y)) {
        p.dpiX = x;
        p.dpiY = y;
    }
    p.bits = bits;
    p.channels = channels;
    p.compression = compression;
    const std::size_t rowBytes = static_cast<std::size_t>(TIFFScanlineSize(tiff));
    std::string rows(rowBytes * height, '\0');
    for (std::uint32_t row = 0; row < height; ++row)
        if (TIFFReadScanline(tiff, rows.data() + row * rowBytes, row, 0) < 0) rows = "undecodable";
    TIFFClose(tiff);
    if (rows.size() == rowBytes * height)
        p.rgb = stretched(rows, rowBytes, width, height, bits, channels, photometric == PHOTOMETRIC_MINISWHITE);
    return p;
}

// The 16-bit samples of a PNG or TIFF as numbers, row after row, read
// through the format's library; empty when it did not read.
std::vector<std::uint16_t> deepSamples(const std::string& path)
{
    std::vector<std::uint16_t> samples;
    if (path.ends_with(".png")) {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (!in) return samples;
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png)) == 0) {
            png_init_io(png, in);
            png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
            const png_size_t rowBytes = png_get_rowbytes(png, info);
            png_bytepp rows = png_get_rows(png, info);
            // PNG's own order is big-endian whatever the host.
            for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y)
                for (png_size_t at = 0; at + 1 < rowBytes; at += 2)
                    samples.push_back(static_cast<std::uint16_t>(rows[y][at] << 8 | rows[y][at + 1]));
        }
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(in);
        return samples;
    }
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return samples;
    std::uint32_t height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    // The library hands samples over in the host's order.
    std::vector<std::uint16_t> row(static_cast<std::size_t>(TIFFScanlineSize(tiff)) / 2);
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) return TIFFClose(tiff), std::vector<std::uint16_t>{};
        samples.insert(samples.end(), row.begin(), row.end());
    }
    TIFFClose(tiff);
    return samples;
}

// An archive's entries in order: name, bytes, and whether stored.
struct Entry {
    std::string name;
    std::string bytes;
    bool stored = false;
};

std::vector<Entry> archiveEntries(const std::string& path)
{
    std::vector<Entry> entries;
    unzFile zip = unzOpen64(path.c_str());
    if (!zip) return entries;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char name[512] = {};
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        Entry entry{name, std::string(info.uncompressed_size, '\0'), info.compression_method == 0};
        if (unzOpenCurrentFile(zip) != UNZ_OK ||
            unzReadCurrentFile(zip, entry.bytes.data(), static_cast<unsigned>(entry.bytes.size())) !=
                static_cast<int>(entry.bytes.size()) ||
            unzCloseCurrentFile(zip) != UNZ_OK)  // the CRC is checked here
            entry.bytes = "unreadable";
        entries.push_back(entry);
    }
    unzClose(zip);
    return entries;
}

// Pages of every depth the bitmap writer takes, a JPEG page among them;
// the third page's media box says 300 by 150 dpi, the others 72.
MeskerDocument everyDepth()
{
    MeskerDocument document;
    document.pages = {fixture::flatePage(21, 5, 1, true, 1), fixture::flatePage(9, 4, 2, true, 2),
                      fixture::flatePage(30, 6, 4, true, 3),  fixture::flatePage(7, 3, 8, true, 4),
                      fixture::flatePage(5, 4, 8, false, 5),  fixture::flatePage(6, 3, 4, false, 6),
                      fixture::dctPage(8, 8, false, 7)};
    document.editPageObject = [](int k, std::string& text) {
        if (k != 2) return;
        const std::string box = "/MediaBox [ 0 0 30 6 ]";
        text.replace(text.find(box), box.size(), "/MediaBox [ 0 0 7.2 2.88 ]");
    };
    document.outline = {{"(Cover)", fixture::destToPage(0), {}},
                        {"(A \"quoted\" <title> & more)", fixture::destToPage(2), {}}};
    return document;
}

struct RunResult {
    int result = 0;
    std::vector<PageOutcome> outcomes;
};

RunResult extract(const std::string& pdf, const std::string& base, OutputFormat format, const std::string& archive = {},
            bool listing = false, bool outlineNames = false)
{
    ExtractionRun run;
    run.setOutputFormat(format);
    run.setArchive(archive);
    run.setListing(listing);
    run.setOutlineNames(outlineNames);
    RunResult out;
    out.result = run.run(pdf.c_str(), 0, 0, base.c_str());
    out.outcomes = run.pageOutcomes();
    return out;
}

class OutputFormats : public ::testing::Test {
protected:
    void SetUp() override
    {
        pdf_ = folder_.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf_, fixture::buildMesker(everyDepth()).bytes));
        std::filesystem::create_directory(folder_.file("bmp"));
        ASSERT_EQ(extract(pdf_, folder_.file("bmp/Book"), OutputFormat::Bmp).result, 0);
    }

    std::string bmp(int page) const { return readFileBytes(folder_.file("bmp/Book-" + std::to_string(page) + ".bmp")); }

    testing::CtypeLocale utf8_{"C.UTF-8"};
    TempFolder folder_;
    std::string pdf_;
};

TEST_F(OutputFormats, EachFormatShowsTheBitmapsPixelsAtThePagesResolution)
{
    struct Case {
        OutputFormat format;
        const char* extension;
        Picture (*read)(const std::string&);
    };
    const Case cases[] = {{OutputFormat::Png, ".png", pngPicture}, {OutputFormat::Tiff, ".tif", tiffPicture}};
    // Page by page: the depth and samples the file keeps.
    const int bits[] = {1, 2, 4, 8, 8, 8};
    const int channels[] = {1, 1, 1, 1, 3, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        std::filesystem::create_directory(folder_.file(std::string("out") + c.extension));
        const std::string base = folder_.file(std::string("out") + c.extension + "/Book");
        ASSERT_EQ(extract(pdf_, base, c.format).result, 0);
        for (int page = 1; page <= 6; ++page) {
            SCOPED_TRACE(page);
            const Picture written = c.read(base + "-" + std::to_string(page) + c.extension);
            EXPECT_EQ(written.rgb, bmpPicture(bmp(page)).rgb);
            EXPECT_EQ(written.bits, bits[page - 1]);
            EXPECT_EQ(written.channels, channels[page - 1]);
            EXPECT_NEAR(written.dpiX, page == 3 ? 300 : 72, 0.05);
            EXPECT_NEAR(written.dpiY, page == 3 ? 150 : 72, 0.05);
            if (c.format == OutputFormat::Tiff) {
                EXPECT_EQ(written.compression, page == 1 ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE);
            }
        }
        // A JPEG page is its bytes, whatever the format.
        EXPECT_EQ(readFileBytes(base + "-7.jpg"), readFileBytes(folder_.file("bmp/Book-7.jpg")));
    }
}

TEST_F(OutputFormats, TheSamplesPagesAreThoseOfItsBitmapsInEveryFormat)
{
    const std::string sample = folder_.file("sample.pdf");
    const std::string bytes = readFileBytes(RAVOTH_SOURCE_DIR "/data/sample.pdf");
#ifdef _WIN32
    // Under Wine the source tree may not be reachable by its Linux path.
    if (bytes.empty()) GTEST_SKIP() << "the sample is not reachable from here";
#endif
    ASSERT_TRUE(fixture::writeFile(sample, bytes));
    const std::string bmpBase = folder_.file("sample-bmp");
    const std::string pngBase = folder_.file("sample-png");
    const std::string tiffBase = folder_.file("sample-tiff");
    ASSERT_EQ(extract(sample, bmpBase, OutputFormat::Bmp).result, 0);
    ASSERT_EQ(extract(sample, pngBase, OutputFormat::Png).result, 0);
    ASSERT_EQ(extract(sample, tiffBase, OutputFormat::Tiff).result, 0);
    int decoded = 0;
    for (int page = 1; page <= 6; ++page) {
        const std::string n = "-" + std::to_string(page);
        const std::string bitmap = readFileBytes(bmpBase + n + ".bmp");
        if (bitmap.empty()) continue;  // a JPEG page
        ++decoded;
        SCOPED_TRACE(page);
        EXPECT_EQ(pngPicture(pngBase + n + ".png").rgb, bmpPicture(bitmap).rgb);
        EXPECT_EQ(tiffPicture(tiffBase + n + ".tif").rgb, bmpPicture(bitmap).rgb);
    }
    EXPECT_EQ(decoded, 4);
}

TEST_F(OutputFormats, AnArchiveHoldsTheFilesARunWritesAndItsBookmarks)
{
    const std::string archive = folder_.file("Book.cbz");
    const RunResult run = extract(pdf_, folder_.file("Book.pdf"), OutputFormat::Bmp, archive);
    ASSERT_EQ(run.result, 0);
    const std::vector<Entry> entries = archiveEntries(archive);
    ASSERT_EQ(entries.size(), 8u);
    for (int page = 1; page <= 7; ++page) {
        const Entry& entry = entries[static_cast<std::size_t>(page - 1)];
        const std::string extension = page == 7 ? ".jpg" : ".bmp";
        EXPECT_EQ(entry.name, "Book-" + std::to_string(page) + extension);
        EXPECT_EQ(entry.bytes, readFileBytes(folder_.file("bmp/" + entry.name)));
        EXPECT_EQ(entry.stored, page == 7) << "JPEG stored, bitmaps deflated";
    }
    EXPECT_EQ(entries[7].name, "ComicInfo.xml");
    EXPECT_NE(entries[7].bytes.find("<PageCount>7</PageCount>"), std::string::npos);
    EXPECT_NE(entries[7].bytes.find("<Page Image=\"0\" Bookmark=\"Cover\"/>"), std::string::npos);
    EXPECT_NE(entries[7].bytes.find("<Page Image=\"2\" Bookmark=\"A &quot;quoted&quot; &lt;title&gt; &amp; more\"/>"),
              std::string::npos)
        << entries[7].bytes;
    // Nothing but the archive was left: no page file, no temporary file.
    EXPECT_EQ(folder_.names(), (std::set<std::string>{"Book.pdf", "Book.cbz", "bmp"}));
}

TEST_F(OutputFormats, NoArchiveIsLeftAfterAStopOrWhenNoPageWasWritten)
{
    const std::string archive = folder_.file("Book.cbz");
    // Stopped after the first page: what was added goes with the archive.
    ExtractionRun stopped;
    stopped.setArchive(archive);
    stopped.setProgress([&](const PageProgress&) { stopped.requestStop(); });
    EXPECT_EQ(stopped.run(pdf_.c_str(), 0, 0, pdf_.c_str()), extractionStopped);
    for (const PageOutcome& outcome : stopped.pageOutcomes()) EXPECT_NE(outcome.stage, PageStage::Written);
    EXPECT_FALSE(stopped.filesWritten());
    // Every page of the range broken: a run writes nothing, and so no archive.
    MeskerDocument broken = everyDepth();
    broken.editPageObject = [](int, std::string& text) { text.replace(text.find("/Contents"), 9, "/Kontents"); };
    const std::string brokenPdf = folder_.file("Broken.pdf");
    ASSERT_TRUE(fixture::writeFile(brokenPdf, fixture::buildMesker(broken).bytes));
    EXPECT_EQ(extract(brokenPdf, brokenPdf, OutputFormat::Bmp, archive).result, somePageNotWritten);
    // An archive where none can be made fails the run before any page.
    const RunResult unmade = extract(pdf_, pdf_, OutputFormat::Bmp, folder_.file("no/such/folder/Book.cbz"));
    EXPECT_EQ(unmade.result, archiveNotWritten);
    EXPECT_TRUE(unmade.outcomes.empty());
    EXPECT_EQ(folder_.names(), (std::set<std::string>{"Book.pdf", "Broken.pdf", "bmp"}));
}

TEST_F(OutputFormats, AnArchiveTakesEachNameOnce)
{
    // Two pages with one title: a run of files keeps the later page's
    // picture under it; the archive keeps both, the later by its number.
    MeskerDocument document = everyDepth();
    document.outline = {{"(Same)", fixture::destToPage(0), {}}, {"(Same)", fixture::destToPage(1), {}}};
    ASSERT_TRUE(fixture::writeFile(pdf_, fixture::buildMesker(document).bytes));
    const std::string archive = folder_.file("Book.cbz");
    ASSERT_EQ(extract(pdf_, pdf_, OutputFormat::Png, archive, false, true).result, 0);
    const std::vector<Entry> entries = archiveEntries(archive);
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries[0].name, "Same.png");
    EXPECT_EQ(entries[1].name, "Book-2.png");
    EXPECT_TRUE(entries[0].stored) << "PNG is stored as it is";
}

TEST_F(OutputFormats, AListingTellsWhatARunWritesAndWritesNothing)
{
    const std::set<std::string> before = folder_.names();
    const RunResult listed = extract(pdf_, pdf_, OutputFormat::Tiff, {}, true);
    EXPECT_EQ(listed.result, 0);
    EXPECT_EQ(folder_.names(), before);
    ASSERT_EQ(listed.outcomes.size(), 7u);
    struct Expected {
        const char* file;
        const char* format;
        int width, height, bits, colours, dpiX, dpiY;
        const char* title;
    };
    const Expected expected[] = {
        {"Book-1.tif", "tiff", 21, 5, 1, 1, 72, 72, "Cover"},
        {"Book-2.tif", "tiff", 9, 4, 2, 1, 72, 72, nullptr},
        {"Book-3.tif", "tiff", 30, 6, 4, 1, 300, 150, "A \"quoted\" <title> & more"},
        {"Book-4.tif", "tiff", 7, 3, 8, 1, 72, 72, nullptr},
        {"Book-5.tif", "tiff", 5, 4, 8, 3, 72, 72, nullptr},
        {"Book-6.tif", "tiff", 6, 3, 4, 3, 72, 72, nullptr},
        {"Book-7.jpg", "jpeg", 8, 8, 8, 3, 72, 72, nullptr},
    };
    for (std::size_t k = 0; k < 7; ++k) {
        const PageOutcome& o = listed.outcomes[k];
        const Expected& e = expected[k];
        SCOPED_TRACE(e.file);
        EXPECT_EQ(o.stage, PageStage::Listed);
        EXPECT_EQ(o.fileName, folder_.file(e.file));
        EXPECT_EQ(o.facts.format, e.format);
        EXPECT_EQ((std::vector<int>{o.facts.width, o.facts.height, o.facts.bits, o.facts.colours, o.facts.dpiX, o.facts.dpiY}),
                  (std::vector<int>{e.width, e.height, e.bits, e.colours, e.dpiX, e.dpiY}));
        EXPECT_GT(o.facts.storedBytes, 0u);
        EXPECT_EQ(o.title.value_or("(none)"), e.title ? e.title : "(none)");
    }
    // A page that fails in a run fails in the listing, with the same result.
    MeskerDocument broken = everyDepth();
    broken.editPageObject = [](int k, std::string& text) {
        if (k == 1) text.replace(text.find("/Contents"), 9, "/Kontents");
    };
    ASSERT_TRUE(fixture::writeFile(pdf_, fixture::buildMesker(broken).bytes));
    const RunResult brokenList = extract(pdf_, pdf_, OutputFormat::Bmp, {}, true);
    EXPECT_EQ(brokenList.result, somePageNotWritten);
    EXPECT_EQ(brokenList.outcomes[1].stage, PageStage::Locate);
    EXPECT_EQ(folder_.names(), before);
}

// Both sources hand their pages to the writing threads, and each sink takes
// them back in page order: the files written, the archive's entries, the
// listing and the pages kept in memory agree name for name and size for
// size, the archive's entries byte for byte with the files.
TEST(PageSinks, EverySourceReachesEverySinkInPageOrder)
{
    TempFolder folder;
    MeskerDocument exact;
    for (int k = 0; k < 12; ++k)
        exact.pages.push_back(k % 3 == 2 ? fixture::dctPage(40 + k, 30, false, static_cast<unsigned>(k))
                                         : fixture::flatePage(64 + 16 * k, 48, 8, k % 2 == 0, static_cast<unsigned>(k)));
    exact.outline = {{"(Cover)", fixture::destToPage(0), {}}, {"(Five)", fixture::destToPage(4), {}}};
    const std::string exactPdf = folder.file("Book.pdf");
    ASSERT_TRUE(fixture::writeFile(exactPdf, fixture::buildMesker(exact).bytes));

    testing::DocumentPlan plan;
    const std::string jpeg = fixture::makeJpeg(24, 16, false, 3);
    std::string ramp;
    for (int k = 0; k < 90 * 70; ++k) ramp.push_back(static_cast<char>(k * 7));
    const testing::ImagePlan grey{"/Width 90 /Height 70 /ColorSpace /DeviceGray /BitsPerComponent 8",
                                  fixture::deflateBytes(ramp), "/FlateDecode", ""};
    const testing::ImagePlan colour{"/Width 24 /Height 16 /ColorSpace /DeviceRGB /BitsPerComponent 8", jpeg,
                                    "/DCTDecode", ""};
    plan.pages = {testing::PagePlan{{grey, colour}}, testing::PagePlan{}, testing::PagePlan{{colour}},
                  testing::PagePlan{{grey}}, testing::PagePlan{{colour, grey, grey}}};
    plan.bookmarks = {{"Start", 0}, {"End", 4}};
    const std::string generalPdf = folder.file("Scan.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(plan, generalPdf));

    enum class Sink { Files, Archive, Listing, Memory };
    struct Seen {
        std::vector<std::string> names;
        std::vector<std::uint64_t> bytes;
    };
    for (const std::string& pdf : {exactPdf, generalPdf}) {
        std::map<Sink, Seen> seen;
        const std::string archive = folder.file("Pages.cbz");
        for (const Sink sink : {Sink::Files, Sink::Archive, Sink::Listing, Sink::Memory}) {
            SCOPED_TRACE(pdf + " sink " + std::to_string(static_cast<int>(sink)));
            const std::string out = sink == Sink::Memory ? "memory" : "out";
            const std::string base = folder.file(out + "/Doc.pdf");
            std::filesystem::create_directory(folder.file(out));
            ExtractionRun run;
            run.setAnyProducer(true);
            run.setPageWriting(testing::allOnThreads);
            run.setOutputFormat(OutputFormat::Png);
            run.setArchive(sink == Sink::Archive ? archive : std::string());
            run.setListing(sink == Sink::Listing);
            run.setMemoryOnly(sink == Sink::Memory);
            ASSERT_EQ(run.run(pdf.c_str(), 0, 0, base.c_str()), 0);
            if (sink == Sink::Memory) {
                EXPECT_TRUE(std::filesystem::is_empty(folder.file(out)));
            }
            std::pair<int, int> last{0, 0};
            for (const PageOutcome& outcome : run.pageOutcomes()) {
                const std::pair<int, int> at{outcome.pageNumber, outcome.imageNumber};
                EXPECT_LT(last, at) << "outcomes out of page order";
                last = at;
                if (outcome.stage == PageStage::NoImage) continue;
                EXPECT_EQ(outcome.stage, sink == Sink::Listing ? PageStage::Listed : PageStage::Written);
                seen[sink].names.push_back(std::filesystem::path(outcome.fileName).filename().string());
                seen[sink].bytes.push_back(outcome.bytes);
            }
            if (sink == Sink::Archive) {
                std::vector<Entry> entries = archiveEntries(archive);
                ASSERT_FALSE(entries.empty());
                EXPECT_EQ(entries.back().name, "ComicInfo.xml");
                entries.pop_back();
                std::vector<std::string> names;
                for (const Entry& entry : entries) {
                    names.push_back(entry.name);
                    EXPECT_EQ(entry.bytes, readFileBytes(folder.file("out/" + entry.name))) << entry.name;
                }
                EXPECT_EQ(names, seen[Sink::Files].names);
                std::filesystem::remove(archive);
            }
        }
        EXPECT_EQ(seen[Sink::Files].names.size(), pdf == exactPdf ? 12u : 7u);
        EXPECT_EQ(seen[Sink::Archive].names, seen[Sink::Files].names);
        EXPECT_EQ(seen[Sink::Listing].names, seen[Sink::Files].names);
        EXPECT_EQ(seen[Sink::Archive].bytes, seen[Sink::Files].bytes);
        EXPECT_EQ(seen[Sink::Listing].bytes, seen[Sink::Files].bytes);
        EXPECT_EQ(seen[Sink::Memory].names, seen[Sink::Files].names);
        EXPECT_EQ(seen[Sink::Memory].bytes, seen[Sink::Files].bytes);
        std::filesystem::remove_all(folder.file("out"));
        std::filesystem::remove_all(folder.file("memory"));
    }
}

TEST(GeneralOutputFormats, ImagesOfAnyProducerTakeTheFormatAndTheirPagesResolution)
{
    TempFolder folder;
    testing::DocumentPlan plan;
    // On a page of 612 x 792 points (8.5 x 11 inches): 17 x 22 pixels are
    // 2 dpi each way, 34 x 11 are 4 by 1.
    std::string ramp;
    for (int k = 0; k < 17 * 22; ++k) ramp.push_back(static_cast<char>(k));
    plan.pages.push_back(testing::PagePlan{{{"/Width 17 /Height 22 /ColorSpace /DeviceGray /BitsPerComponent 8", ramp, "", ""},
                                            {"/Width 34 /Height 11 /ColorSpace /DeviceGray /BitsPerComponent 16",
                                             std::string(34 * 11 * 2, '\x7F'), "", ""}}});
    const std::string pdf = folder.file("Scan.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(plan, pdf));
    ExtractionRun run;
    run.setAnyProducer(true);
    run.setOutputFormat(OutputFormat::Tiff);
    ASSERT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), 0);
    const Picture grey = tiffPicture(folder.file("Scan-1-1.tif"));
    EXPECT_EQ(grey.bits, 8);
    EXPECT_EQ(grey.rgb.substr(3, 3), std::string(3, '\x01'));
    EXPECT_EQ((std::vector<double>{grey.dpiX, grey.dpiY}), (std::vector<double>{2, 2}));
    const Picture deep = tiffPicture(folder.file("Scan-1-2.tif"));
    EXPECT_EQ(deep.bits, 16);
    EXPECT_EQ((std::vector<double>{deep.dpiX, deep.dpiY}), (std::vector<double>{4, 1}));
    ASSERT_EQ(run.pageOutcomes().size(), 2u);
    EXPECT_EQ(run.pageOutcomes()[0].facts.format, "tiff");
    EXPECT_EQ(run.pageOutcomes()[1].facts.dpiX, 4);
}

TEST(GeneralOutputFormats, SixteenBitSamplesKeepTheirValuesInEachFormat)
{
    struct Case {
        const char* space;
        int components;
        OutputFormat format;
        const char* extension;
    };
    const Case cases[] = {{"/DeviceGray", 1, OutputFormat::Png, ".png"},
                          {"/DeviceRGB", 3, OutputFormat::Png, ".png"},
                          {"/DeviceGray", 1, OutputFormat::Tiff, ".tif"},
                          {"/DeviceRGB", 3, OutputFormat::Tiff, ".tif"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.space) + c.extension);
        TempFolder folder;
        // Samples whose two bytes differ, each unlike the next: a swap or a
        // shifted byte shows in the first of them.
        constexpr int width = 5, height = 3;
        std::vector<std::uint16_t> expected;
        std::string stored;
        for (int k = 0; k < width * height * c.components; ++k) {
            const auto value = static_cast<std::uint16_t>(0xC187 + 0x0311 * k);
            expected.push_back(value);
            stored += {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
        }
        testing::DocumentPlan plan;
        plan.pages.push_back(testing::PagePlan{{{"/Width 5 /Height 3 /ColorSpace " + std::string(c.space) +
                                                     " /BitsPerComponent 16",
                                                 stored, "", ""}}});
        const std::string pdf = folder.file("Deep.pdf");
        ASSERT_TRUE(testing::writeGeneralPdf(plan, pdf));
        ExtractionRun run;
        run.setAnyProducer(true);
        run.setOutputFormat(c.format);
        ASSERT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), 0);
        EXPECT_EQ(deepSamples(folder.file(std::string("Deep-1") + c.extension)), expected);
    }
}

// Hex digits of `bytes`, as /ASCIIHexDecode reads them.
std::string hexOf(const std::string& bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (const char c : bytes) hex += {digits[static_cast<unsigned char>(c) >> 4], digits[c & 0xF]};
    return hex + ">";
}

TEST(GeneralOutputFormats, AListingCountsTheColoursACodedPictureHolds)
{
    using namespace std::string_literals;
    // Headers alone: the listing reads no further.
    const std::string cmykJpeg = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
                                 "\xFF\xC0\x00\x14\x08\x00\x08\x00\x08\x04"
                                 "\x01\x11\x00\x02\x11\x00\x03\x11\x00\x04\x11\x00\xFF\xD9"s;
    const std::string jp2File = "\x00\x00\x00\x0CjP  \x0D\x0A\x87\x0A"
                                "\x00\x00\x00\x14" "ftypjp2 \x00\x00\x00\x00jp2 "
                                "\x00\x00\x00\x1Ejp2h\x00\x00\x00\x16ihdr"
                                "\x00\x00\x00\x08\x00\x00\x00\x08\x00\x03\x07\x07\x00\x00"s;
    std::string codeStream = "\xFF\x4F\xFF\x51\x00\x29\x00\x00"s + std::string(32, '\x00') + "\x00\x01\x07\x01\x01"s;
    const std::string rgbJpeg = fixture::makeJpeg(8, 8, false, 3);
    const std::string greyJpeg = fixture::makeJpeg(8, 8, true, 4);
    const std::string size = "/Width 8 /Height 8 /BitsPerComponent 8 ";
    struct Case {
        const char* what;
        testing::ImagePlan image;
        int colours;
    };
    const Case cases[] = {
        {"RGB JPEG said RGB", {size + "/ColorSpace /DeviceRGB", rgbJpeg, "/DCTDecode", ""}, 3},
        {"CMYK JPEG said CMYK", {size + "/ColorSpace /DeviceCMYK", cmykJpeg, "/DCTDecode", ""}, 4},
        {"RGB JPEG in a space not read", {size + "/ColorSpace [/Lab << /WhitePoint [1 1 1] >>]", rgbJpeg, "/DCTDecode", ""}, 3},
        {"grey JPEG naming no space", {size, greyJpeg, "/DCTDecode", ""}, 1},
        {"CMYK JPEG behind hex", {size, hexOf(cmykJpeg), "[/ASCIIHexDecode /DCTDecode]", ""}, 4},
        {"JP2 file naming no space", {size, jp2File, "/JPXDecode", ""}, 3},
        {"JP2 file said CMYK", {size + "/ColorSpace /DeviceCMYK", jp2File, "/JPXDecode", ""}, 4},
        {"bare code stream", {size, codeStream, "/JPXDecode", ""}, 1},
        {"no header to count", {size, "not a picture", "/JPXDecode", ""}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.image.data.empty());
        TempFolder folder;
        testing::DocumentPlan plan;
        plan.pages.push_back(testing::PagePlan{{c.image}});
        const std::string pdf = folder.file("Coded.pdf");
        ASSERT_TRUE(testing::writeGeneralPdf(plan, pdf));
        ExtractionRun run;
        run.setAnyProducer(true);
        run.setListing(true);
        ASSERT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), 0);
        ASSERT_EQ(run.pageOutcomes().size(), 1u);
        EXPECT_EQ(run.pageOutcomes()[0].facts.colours, c.colours);
    }
}

}  // namespace
}  // namespace ravoth
