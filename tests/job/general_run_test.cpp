// The general reader end to end: documents written the way other producers
// write them, each written file read back through a library and compared
// with what went in.
#include <gtest/gtest.h>

#include <png.h>
#include <tiffio.h>
#include <unzip.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/window_logic.h"
#include "image/encoded_file.h"
#include "job/extraction.h"
#include "tests/fixture/general_pdf.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/ctype_locale.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using fixture::deflateBytes;
using testing::DocumentPlan;
using testing::ImagePlan;
using testing::PagePlan;
using testing::readFileBytes;
using testing::TempFolder;

std::uint32_t le32(const std::string& b, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
                                      static_cast<unsigned char>(b[at + 2]) << 16 |
                                      static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
}

// A bitmap's pixels as RGB triplets, top row first.
std::string bmpPixels(const std::string& file)
{
    if (file.size() < 54 || file.compare(0, 2, "BM") != 0) return "not a BMP";
    const std::uint32_t offset = le32(file, 10);
    const std::uint32_t width = le32(file, 18);
    const std::uint32_t height = le32(file, 22);
    const int bits = static_cast<unsigned char>(file[28]);
    const std::size_t stride = (width * static_cast<std::uint32_t>(bits) + 31) / 32 * 4;
    std::string rgb;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::size_t row = offset + (height - 1 - y) * stride;
        for (std::uint32_t x = 0; x < width; ++x) {
            if (bits == 24) {
                const std::size_t at = row + 3 * x;
                rgb += {file[at + 2], file[at + 1], file[at]};
            } else {
                const int index = (static_cast<unsigned char>(file[row + x / 8]) >> (7 - x % 8)) & 1;
                const std::size_t entry = 54 + 4 * static_cast<std::size_t>(index);
                rgb += {file[entry + 2], file[entry + 1], file[entry]};
            }
        }
    }
    return rgb;
}

// A PNG's rows as stored (16-bit samples big-endian), with its depth.
std::string pngRows(const std::string& path, int* depth, int* channels)
{
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return "missing";
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::string rows;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, in);
        png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
        *depth = png_get_bit_depth(png, info);
        *channels = png_get_channels(png, info);
        const png_size_t rowBytes = png_get_rowbytes(png, info);
        png_bytepp pointers = png_get_rows(png, info);
        for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y)
            rows.append(reinterpret_cast<const char*>(pointers[y]), rowBytes);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(in);
    return rows;
}

// A TIFF's decoded scanlines, with its photometric interpretation.
std::string tiffRows(const std::string& path, int* photometric)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return "missing";
    std::uint32_t height = 0;
    std::uint16_t photo = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photo);
    *photometric = photo;
    std::string rows;
    std::string line(static_cast<std::size_t>(TIFFScanlineSize(tiff)), '\0');
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff, line.data(), y, 0) < 0) return "undecodable";
        rows += line;
    }
    TIFFClose(tiff);
    return rows;
}

std::string bigEndian32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// An embedded JBIG2 stream of one page holding one generic region coded
// with MMR (Group 4 data), as a scanner's PDF may carry it.
std::string jbig2Page(const std::string& mmr, std::uint32_t width, std::uint32_t height)
{
    auto segment = [](std::uint32_t number, char type, const std::string& data) {
        return bigEndian32(number) + std::string{type, '\0', '\1'} + bigEndian32(static_cast<std::uint32_t>(data.size())) +
               data;
    };
    const std::string pageInfo = bigEndian32(width) + bigEndian32(height) + bigEndian32(0) + bigEndian32(0) +
                                 std::string{'\0', '\0', '\0'};
    const std::string region = bigEndian32(width) + bigEndian32(height) + bigEndian32(0) + bigEndian32(0) +
                               std::string{'\0', '\1'} + mmr;
    return segment(0, 48, pageInfo) + segment(1, 39, region) + segment(2, 49, "");
}

struct Written {
    int result = 0;
    RunFailure failure = RunFailure::None;
    std::vector<PageOutcome> outcomes;
    std::set<std::string> files;
};

Written extract(const TempFolder& folder, const DocumentPlan& plan, bool anyProducer = true,
                bool outlineNames = false)
{
    Written out;
    const std::string pdf = folder.file("Doc.pdf");
    EXPECT_TRUE(testing::writeGeneralPdf(plan, pdf));
    ExtractionRun run;
    run.setAnyProducer(anyProducer);
    run.setOutlineNames(outlineNames);
    out.result = run.run(pdf.c_str(), 0, 0, pdf.c_str());
    out.failure = run.failure();
    out.outcomes = run.pageOutcomes();
    out.files = folder.names();
    out.files.erase("Doc.pdf");
    return out;
}

// A document of one page that draws `image`, extracted with -a.
Written extractImage(const TempFolder& folder, const ImagePlan& image)
{
    DocumentPlan plan;
    plan.pages.push_back(PagePlan{{image}});
    return extract(folder, plan);
}

std::string gray(std::initializer_list<int> values)
{
    std::string rgb;
    for (int v : values) rgb += {static_cast<char>(v), static_cast<char>(v), static_cast<char>(v)};
    return rgb;
}

// Rows of 1-bit pixels, 1 black, as RGB triplets.
std::string blackOnes(const std::string& rows, int width, int height)
{
    std::string rgb;
    const int stride = (width + 7) / 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool black = (static_cast<unsigned char>(rows[y * stride + x / 8]) >> (7 - x % 8)) & 1;
            rgb.append(3, black ? '\0' : '\xFF');
        }
    return rgb;
}

TEST(GeneralReader, EachCodingIsWrittenAsItsFormatHoldsIt)
{
    const std::string jpeg = fixture::makeJpeg(16, 8, false, 7);
    // 10 x 3 pixels of 1 bit, 1 = black.
    const std::string bilevel{"\xF0\x40\x0F\x80\xAA\x40", 6};
    const std::string fax = testing::group4(bilevel, 10, 3);
    ASSERT_FALSE(fax.empty());
    const std::string gray8{"\x00\x32\xFF\x0A\x14\x1E", 6};
    const std::string rgb8{"\x01\x02\x03\x04\x05\x06\xFF\x00\x80", 9};
    // PNG predictor, "Sub" on every row: each byte less the one a pixel before.
    const std::string rgb8Sub{"\x01\x01\x02\x03\x03\x03\x03\xFB\xFB\x7A", 10};
    const std::string gray16{"\x12\x34\xAB\xCD\xFF\x00\x00\x01", 8};
    const std::string cmyk8{"\x00\x40\x80\xFF\x10\x20\x30\x40", 8};

    struct Case {
        const char* name;
        ImagePlan image;
        const char* file;
        // The written file's content as the check reads it, and what it must be.
        std::function<std::string(const std::string& path)> read;
        std::string expected;
    };
    const auto bytes = [](const std::string& path) { return readFileBytes(path); };
    const auto bmp = [](const std::string& path) { return bmpPixels(readFileBytes(path)); };
    const auto png = [](const std::string& path) {
        int depth = 0, channels = 0;
        const std::string rows = pngRows(path, &depth, &channels);
        return std::to_string(depth) + "/" + std::to_string(channels) + ":" + rows;
    };
    const auto tiff = [](const std::string& path) {
        int photometric = -1;
        const std::string rows = tiffRows(path, &photometric);
        return std::to_string(photometric) + ":" + rows;
    };
    const std::string grayDict = "/Width 3 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8";
    const std::string faxParms = "<< /K -1 /Columns 10 /Rows 3 >>";
    const std::string faxDict = "/Width 10 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 1";
    std::string hex;
    for (unsigned char c : deflateBytes(gray8)) {
        static const char digits[] = "0123456789abcdef";
        hex += {digits[c >> 4], digits[c & 15]};
    }
    hex += '>';
    const Case cases[] = {
        {"JPEG as stored", {"/Width 16 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8", jpeg, "/DCTDecode", ""},
         "Doc-1.jpg", bytes, jpeg},
        {"JPEG behind Flate",
         {"/Width 16 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8", deflateBytes(jpeg),
          "[/FlateDecode /DCTDecode]", ""},
         "Doc-1.jpg", bytes, jpeg},
        {"JPEG 2000 as stored", {"/Width 4 /Height 4", "not decoded here", "/JPXDecode", ""}, "Doc-1.jp2", bytes,
         "not decoded here"},
        {"fax, white as coded", {faxDict, fax, "/CCITTFaxDecode", faxParms}, "Doc-1.tif", tiff,
         "0:" + bilevel},
        {"fax, BlackIs1 turns it round",
         {faxDict, fax, "/CCITTFaxDecode", "<< /K -1 /Columns 10 /Rows 3 /BlackIs1 true >>"}, "Doc-1.tif", tiff,
         "1:" + bilevel},
        {"fax, BlackIs1 and /Decode cancel out",
         {faxDict + " /Decode [1 0]", fax, "/CCITTFaxDecode", "<< /K -1 /Columns 10 /Rows 3 /BlackIs1 true >>"},
         "Doc-1.tif", tiff, "0:" + bilevel},
        {"JBIG2 decoded to one bit, 1 black",
         {faxDict, jbig2Page(fax, 10, 3), "/JBIG2Decode", ""}, "Doc-1.bmp", bmp, blackOnes(bilevel, 10, 3)},
        {"grey 8 bits", {grayDict, deflateBytes(gray8), "/FlateDecode", ""}, "Doc-1.bmp", bmp,
         gray({0, 50, 255, 10, 20, 30})},
        {"grey behind ASCIIHex and Flate", {grayDict, hex, "[/ASCIIHexDecode /FlateDecode]", ""}, "Doc-1.bmp", bmp,
         gray({0, 50, 255, 10, 20, 30})},
        {"grey 4 bits, /Decode [1 0]",
         {"/Width 3 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 4 /Decode [1 0]", std::string{"\x0F\x30", 2},
          "", ""},
         "Doc-1.bmp", bmp, gray({255, 0, 204})},
        {"grey 2 bits", {"/Width 4 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 2", "\x1B", "", ""},
         "Doc-1.bmp", bmp, gray({0, 85, 170, 255})},
        {"one bit stays one bit, /Decode [1 0]",
         {"/Width 3 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0]", "\xA0", "", ""},
         "Doc-1.bmp", bmp, gray({0, 255, 0})},
        {"image mask shows black where it paints",
         {"/Width 3 /Height 1 /ImageMask true", "\xA0", "", ""}, "Doc-1.bmp", bmp, gray({255, 0, 255})},
        {"RGB through the PNG predictor",
         {"/Width 3 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8", deflateBytes(rgb8Sub), "/FlateDecode",
          "<< /Predictor 15 /Colors 3 /Columns 3 >>"},
         "Doc-1.bmp", bmp, rgb8},
        {"indexed over RGB, 4 bits",
         {"/Width 3 /Height 1 /ColorSpace [/Indexed /DeviceRGB 1 <FF000000FF00>] /BitsPerComponent 4",
          std::string{"\x01\x10", 2}, "", ""},
         "Doc-1.bmp", bmp, std::string{"\xFF\x00\x00\x00\xFF\x00\x00\xFF\x00", 9}},
        {"grey 16 bits to PNG",
         {"/Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 16", gray16, "", ""}, "Doc-1.png", png,
         "16/1:" + gray16},
        {"CMYK to TIFF", {"/Width 2 /Height 1 /ColorSpace /DeviceCMYK /BitsPerComponent 8", cmyk8, "", ""},
         "Doc-1.tif", tiff, "5:" + cmyk8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const Written out = extractImage(folder, c.image);
        EXPECT_EQ(out.result, extractionOk);
        EXPECT_EQ(out.files, std::set<std::string>{c.file});
        EXPECT_EQ(c.read(folder.file(c.file)), c.expected);
    }
}

// Each pixel of `height` rows of `width` 1-bit pixels, `stride` bytes a
// row, as '0' and '1': the padding left out.
std::string pixelBits(const std::string& rows, int width, int height)
{
    std::string bits;
    const int stride = (width + 7) / 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bits.push_back((static_cast<unsigned char>(rows[static_cast<std::size_t>(y * stride + x / 8)]) >> (7 - x % 8) & 1) ? '1' : '0');
    return bits;
}

// Every entry of the archive written into `folder` under its own name; the
// names in order.
std::vector<std::string> unpack(const std::string& archive, const TempFolder& folder)
{
    std::vector<std::string> names;
    unzFile zip = unzOpen64(archive.c_str());
    if (!zip) return names;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char name[256] = {};
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        std::string bytes(info.uncompressed_size, '\0');
        if (unzOpenCurrentFile(zip) != UNZ_OK ||
            unzReadCurrentFile(zip, bytes.data(), static_cast<unsigned>(bytes.size())) != static_cast<int>(bytes.size()))
            bytes = "unreadable";
        unzCloseCurrentFile(zip);
        EXPECT_TRUE(fixture::writeFile(folder.file(name), bytes));
        names.push_back(name);
    }
    unzClose(zip);
    return names;
}

TEST(GeneralReader, AnArchiveTakesDecodedAndFaxPagesAsPngUnlessAFormatIsChosen)
{
    // 10 x 3 pixels of 1 bit, 1 = black.
    const std::string bilevel{"\xF0\x40\x0F\x80\xAA\x40", 6};
    const std::string fax = testing::group4(bilevel, 10, 3);
    ASSERT_FALSE(fax.empty());
    const std::string jpeg = fixture::makeJpeg(16, 8, false, 7);
    const std::string faxDict = "/Width 10 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 1";
    const std::string coded = pixelBits(bilevel, 10, 3);
    std::string shown = coded;  // grey: 0 black
    for (char& bit : shown) bit = bit == '1' ? '0' : '1';
    DocumentPlan plan;
    plan.pages = {
        PagePlan{{{faxDict, fax, "/CCITTFaxDecode", "<< /K -1 /Columns 10 /Rows 3 >>"}}},
        PagePlan{{{faxDict, fax, "/CCITTFaxDecode", "<< /K -1 /Columns 10 /Rows 3 /BlackIs1 true >>"}}},
        PagePlan{{{faxDict, jbig2Page(fax, 10, 3), "/JBIG2Decode", ""}}},
        PagePlan{{{"/Width 16 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8", jpeg, "/DCTDecode", ""}}},
        PagePlan{{{"/Width 3 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", std::string("\x00\x80\xFF", 3), "", ""}}},
    };
    TempFolder folder;
    const std::string pdf = folder.file("Doc.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(plan, pdf));
    for (const std::optional<OutputFormat> chosen : {std::optional<OutputFormat>{}, std::optional{OutputFormat::Tiff}}) {
        SCOPED_TRACE(chosen ? "TIFF chosen" : "no format chosen");
        ExtractionRun run;
        run.setAnyProducer(true);
        run.setArchive(folder.file("Doc.cbz"));
        if (chosen) run.setOutputFormat(*chosen);
        const int result = run.run(pdf.c_str(), 0, 0, pdf.c_str());
        for (const PageOutcome& o : run.pageOutcomes())
            EXPECT_EQ(o.stage, PageStage::Written) << o.pageNumber << " " << static_cast<int>(o.stage) << " " << o.code;
        ASSERT_EQ(result, 0);
        TempFolder unpacked;
        const std::vector<std::string> names = unpack(folder.file("Doc.cbz"), unpacked);
        if (chosen) {
            // The fax data as it is, in TIFFs; decoded pages in the format chosen.
            EXPECT_EQ(names, (std::vector<std::string>{"Doc-1.tif", "Doc-2.tif", "Doc-3.tif", "Doc-4.jpg", "Doc-5.tif",
                                                       "ComicInfo.xml"}));
            continue;
        }
        ASSERT_EQ(names, (std::vector<std::string>{"Doc-1.png", "Doc-2.png", "Doc-3.png", "Doc-4.jpg", "Doc-5.png",
                                                   "ComicInfo.xml"}));
        const std::string expected[] = {shown, coded, shown};
        for (int page = 1; page <= 3; ++page) {
            SCOPED_TRACE(page);
            int depth = 0, channels = 0;
            const std::string rows = pngRows(unpacked.file(names[static_cast<std::size_t>(page - 1)]), &depth, &channels);
            EXPECT_EQ(std::to_string(depth) + "/" + std::to_string(channels) + ":" + pixelBits(rows, 10, 3),
                      "1/1:" + expected[page - 1]);
        }
        EXPECT_EQ(readFileBytes(unpacked.file("Doc-4.jpg")), jpeg);
        int depth = 0, channels = 0;
        EXPECT_EQ(pngRows(unpacked.file("Doc-5.png"), &depth, &channels), std::string("\x00\x80\xFF", 3));
    }
}

TEST(GeneralReader, BadImagesFailTheirPageAndWriteNothing)
{
    const std::string gray8(6, '\x40');
    std::string noise(64 * 64, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 2654435761u >> 13);
    const std::string noiseFlate = deflateBytes(noise);
    struct Case {
        const char* name;
        ImagePlan image;
        PageStage stage;
    };
    const Case cases[] = {
        {"Flate cut short", {"/Width 64 /Height 64 /ColorSpace /DeviceGray /BitsPerComponent 8",
                             noiseFlate.substr(0, noiseFlate.size() / 2), "/FlateDecode", ""}, PageStage::Decode},
        {"fewer samples than declared", {"/Width 3 /Height 9 /ColorSpace /DeviceGray /BitsPerComponent 8", gray8, "",
                                         ""}, PageStage::Decode},
        {"a filter nothing here knows", {"/Width 3 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8", gray8,
                                         "/NoSuchDecode", ""}, PageStage::Decode},
        {"Lab colour", {"/Width 1 /Height 2 /ColorSpace [/Lab << /WhitePoint [1 1 1] >>] /BitsPerComponent 8",
                        gray8, "", ""}, PageStage::Encode},
        {"JBIG2 that is no JBIG2", {"/Width 3 /Height 2", gray8, "/JBIG2Decode", ""}, PageStage::Encode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const Written out = extractImage(folder, c.image);
        EXPECT_EQ(out.result, somePageNotWritten);
        EXPECT_TRUE(out.files.empty());
        ASSERT_EQ(out.outcomes.size(), 1u);
        EXPECT_EQ(out.outcomes[0].stage, c.stage);
    }
}

TEST(GeneralReader, PagesOfSeveralImagesAndOfNone)
{
    const std::string jpeg = fixture::makeJpeg(8, 8, true, 3);
    const ImagePlan drawn{"/Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8", jpeg,
                                 "/DCTDecode", ""};
    ImagePlan inForm{"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x7F", "", ""};
    inForm.inForm = true;
    DocumentPlan plan;
    // Page 1 draws its image twice, page 2 one of its own and one in a form,
    // page 3 nothing at all; twelve pages make the numbers two digits wide.
    plan.pages.push_back(PagePlan{{drawn}, 2});
    plan.pages.push_back(PagePlan{{drawn, inForm}});
    plan.pages.push_back(PagePlan{});
    for (int i = 0; i < 9; ++i) plan.pages.push_back(PagePlan{{drawn}});
    TempFolder folder;
    const Written out = extract(folder, plan);
    EXPECT_EQ(out.result, extractionOk);
    EXPECT_TRUE(out.files.count("Doc-01.jpg"));
    EXPECT_TRUE(out.files.count("Doc-02-1.jpg"));
    EXPECT_TRUE(out.files.count("Doc-02-2.bmp"));
    EXPECT_FALSE(out.files.count("Doc-03.jpg"));
    EXPECT_EQ(out.files.size(), 12u);
    EXPECT_EQ(readFileBytes(folder.file("Doc-02-1.jpg")), jpeg);
    ASSERT_EQ(out.outcomes.size(), 13u);
    EXPECT_FALSE(out.outcomes[1].endsPage);
    EXPECT_EQ(out.outcomes[2].imageNumber, 2);
    EXPECT_EQ(out.outcomes[3].stage, PageStage::NoImage);
}

TEST(GeneralReader, DocumentsTheExactReaderRefuses)
{
    const ImagePlan image{"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x7F", "", ""};
    struct Case {
        const char* name;
        bool objectStreams;
        std::string producer;
        std::string userPassword;
        std::string ownerPassword;
        bool anyProducer;
        int result;
        RunFailure failure;
    };
    const Case cases[] = {
        {"cross-reference stream, without -a", true, "", "", "", false, readTrailerFailed, RunFailure::ForeignLayout},
        {"classic table, no producer, without -a", false, "", "", "", false, somePageNotWritten,
         RunFailure::ForeignLayout},
        {"another producer, without -a", false, "Scanner 2.0", "", "", false, foreignProducer,
         RunFailure::ForeignProducer},
        {"another producer, with -a", false, "Scanner 2.0", "", "", true, extractionOk, RunFailure::None},
        {"a user password", true, "", "secret", "owner", true, readTrailerFailed, RunFailure::Encrypted},
        {"an owner password only", true, "", "", "owner", true, extractionOk, RunFailure::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentPlan plan;
        plan.pages.push_back(PagePlan{{image}});
        plan.objectStreams = c.objectStreams;
        plan.producer = c.producer;
        plan.userPassword = c.userPassword;
        plan.ownerPassword = c.ownerPassword;
        TempFolder folder;
        const Written out = extract(folder, plan, c.anyProducer);
        EXPECT_EQ(out.result, c.result);
        EXPECT_EQ(out.failure, c.failure);
        EXPECT_EQ(out.files.size(), c.result == extractionOk ? 1u : 0u);
    }
}

TEST(GeneralReader, BookmarksNameTheFilesAsForMeskersOwn)
{
    const ImagePlan image{"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x7F", "", ""};
    DocumentPlan plan;
    for (int i = 0; i < 3; ++i) plan.pages.push_back(PagePlan{{image}});
    // The first bookmark in order names a page; a named destination counts
    // as a direct one; a UTF-16 title is text.
    plan.bookmarks = {{"Cover", 0, false}, {"Again", 0, false}, {"Named", 2, true},
                      {std::string("\xFE\xFF\x30\x42", 4), 1, false}};
    const testing::Utf8PathText utf8;
    if (!utf8.active()) GTEST_SKIP() << "no UTF-8 locale";
    TempFolder folder;
    const Written out = extract(folder, plan, true, true);
    EXPECT_EQ(out.result, extractionOk);
    EXPECT_EQ(out.files, (std::set<std::string>{"Cover.bmp", "Named.bmp", "\xE3\x81\x82.bmp"}));
}

TEST(GeneralReader, AStopEndsTheRunWithNoFileHalfWritten)
{
    const ImagePlan image{"/Width 64 /Height 64 /ColorSpace /DeviceGray /BitsPerComponent 8",
                                 deflateBytes(std::string(64 * 64, '\x10')), "/FlateDecode", ""};
    DocumentPlan plan;
    for (int i = 0; i < 5; ++i) plan.pages.push_back(PagePlan{{image}});
    TempFolder folder;
    const std::string pdf = folder.file("Doc.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(plan, pdf));
    ExtractionRun run;
    run.setAnyProducer(true);
    run.setProgress([&](const PageProgress& progress) {
        if (progress.pagesDone == 2) run.requestStop();
    });
    EXPECT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), extractionStopped);
    std::set<std::string> files = folder.names();
    files.erase("Doc.pdf");
    EXPECT_EQ(files, (std::set<std::string>{"Doc-1.bmp", "Doc-2.bmp"}));
}

// A damaged document comes out right, the library having repaired it, or
// fails: no file it writes may differ from the image it came from.
TEST(GeneralReader, DamagedDocumentsComeOutRightOrFail)
{
    std::vector<std::string> jpegs;
    DocumentPlan plan;
    plan.objectStreams = false;
    for (unsigned k = 0; k < 4; ++k) {
        jpegs.push_back(fixture::makeJpeg(16, 16, false, k + 1));
        plan.pages.push_back(PagePlan{{{"/Width 16 /Height 16 /ColorSpace /DeviceRGB /BitsPerComponent 8",
                                               jpegs.back(), "/DCTDecode", ""}}});
    }
    TempFolder source;
    ASSERT_TRUE(testing::writeGeneralPdf(plan, source.file("Doc.pdf")));
    const std::string whole = readFileBytes(source.file("Doc.pdf"));
    struct Case {
        const char* name;
        std::function<std::string(std::string)> damage;
        bool repaired;  // whether the library is known to repair it whole
    };
    const Case cases[] = {
        {"startxref pointing nowhere",
         [](std::string pdf) {
             pdf[pdf.rfind("startxref") + 10] = '9';
             return pdf;
         }, true},
        {"table entries shifted", [](std::string pdf) {
             const std::size_t table = pdf.rfind("xref\n0 ");
             for (std::size_t at = pdf.find(" 00000 n", table); at != std::string::npos; at = pdf.find(" 00000 n", at + 1))
                 pdf[at - 1] = '7';
             return pdf;
         }, true},
        {"cut off after two thirds", [](std::string pdf) { return pdf.substr(0, pdf.size() * 2 / 3); }, false},
        {"a stream's bytes overwritten", [&](std::string pdf) {
             const std::size_t at = pdf.find(jpegs[1].substr(0, 64));
             std::fill_n(pdf.begin() + static_cast<std::ptrdiff_t>(at + 200), 40, '\0');
             return pdf;
         }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string pdf = folder.file("Doc.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, c.damage(whole)));
        ExtractionRun run;
        run.setAnyProducer(true);
        const int result = run.run(pdf.c_str(), 0, 0, pdf.c_str());
        if (c.repaired) {
            EXPECT_EQ(result, extractionOk);
        }
        for (const PageOutcome& outcome : run.pageOutcomes()) {
            if (outcome.stage != PageStage::Written) continue;
            const std::string written = readFileBytes(outcome.fileName);
            const bool fromItsPage = written == jpegs[static_cast<std::size_t>(outcome.pageNumber - 1)];
            // A stream whose bytes were overwritten is still a JPEG of its
            // page: the damage is the file's, not the reading's.
            EXPECT_TRUE(fromItsPage || std::string(c.name) == "a stream's bytes overwritten")
                << outcome.fileName;
            EXPECT_EQ(written.size(), jpegs[static_cast<std::size_t>(outcome.pageNumber - 1)].size());
        }
        if (result == extractionOk) {
            EXPECT_EQ(run.pageOutcomes().size(), 4u);
        }
    }
}

// The page tree's walk visits at most twice the objects the document's
// tables list: a tree that lists one page thousands of times is refused at
// once, also when it refers to an object numbered far beyond the rest.
TEST(GeneralReader, APageTreeListingOnePageOverAndOverIsRefused)
{
    constexpr int listings = 20000;
    for (const std::string missing : {"", "900000 0 R"}) {
        SCOPED_TRACE(missing);
        fixture::PdfWriter writer;
        writer.addObject(1, "<< /Type /Catalog /Pages 2 0 R >>\n");
        std::string kids;
        for (int k = 0; k < listings; ++k) kids += "3 0 R ";
        writer.addObject(2, "<< /Type /Pages /Kids [" + kids + missing + "] /Count " + std::to_string(listings) + " >>\n");
        writer.addObject(3, "<< /Type /Page /Resources << >> >>\n");
        fixture::TrailerFields trailer;
        trailer.root = 1;
        writer.finishSection(trailer, {{0, 4}});
        TempFolder folder;
        const std::string pdf = folder.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, writer.bytes()));
        ExtractionRun run;
        run.setAnyProducer(true);
        EXPECT_EQ(run.run(pdf.c_str(), 0, 0, pdf.c_str()), readTrailerFailed);
        EXPECT_TRUE(run.usedGeneralReader());
        EXPECT_TRUE(run.pageOutcomes().empty());
    }
}

// The reader gives up inside a page as soon as a stop flag turns true, and
// so do the encoders: the run's stop reaches every long step.
TEST(GeneralReader, StopFlagsEndDecodingAndEncoding)
{
    const std::string samples(512 * 512 * 2, '\x11');
    DocumentPlan plan;
    plan.pages.push_back(PagePlan{{{"/Width 512 /Height 512 /ColorSpace /DeviceGray /BitsPerComponent 16",
                                           deflateBytes(samples), "/FlateDecode", ""}}});
    TempFolder folder;
    ASSERT_TRUE(testing::writeGeneralPdf(plan, folder.file("Doc.pdf")));
    const std::string pdf = readFileBytes(folder.file("Doc.pdf"));
    std::atomic<bool> stop{false};
    StopFlags stops;
    stops.flags[0] = &stop;
    GeneralDocument document;
    ASSERT_EQ(document.open(reinterpret_cast<const Byte*>(pdf.data()), pdf.size(), stops), GeneralStatus::Ok);
    std::vector<GeneralImage> images;
    ASSERT_EQ(document.pageImages(0, &images), GeneralStatus::Ok);
    ASSERT_EQ(images.size(), 1u);
    StreamBytes data;
    StreamBytes globals;
    stop.store(true);
    EXPECT_EQ(document.imageData(images[0], std::size_t{1} << 30, &data, &globals), GeneralStatus::Stopped);
    stop.store(false);
    ASSERT_EQ(document.imageData(images[0], std::size_t{1} << 30, &data, &globals), GeneralStatus::Ok);
    ASSERT_EQ(data.bytes, samples.size());

    Raster raster;
    raster.rows = data.block.get();
    raster.rowBytes = 1024;
    raster.width = 512;
    raster.height = 512;
    raster.bitsPerSample = 16;
    stop.store(true);
    PreparedBitmap file;
    EXPECT_EQ(encodePng(raster, &file, stops), encodeStopped);
    EXPECT_EQ(encodeTiff(raster, TiffPhotometric::MinIsBlack, &file, stops), encodeStopped);
    EXPECT_FALSE(file.pixels);
}

}  // namespace
}  // namespace ravoth
