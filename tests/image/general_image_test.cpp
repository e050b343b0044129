#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/general_image.h"
#include "tests/fixture/general_pdf.h"

namespace ravoth {
namespace {

StreamBytes bytesOf(const std::string& data)
{
    StreamBytes bytes;
    bytes.block.reset(allocBlock(data.size()));
    std::memcpy(bytes.block.get(), data.data(), data.size());
    bytes.bytes = data.size();
    return bytes;
}

// A file is named before its image is made into it: the extension known
// beforehand must be the one the file gets, for every coding, colour
// space, depth, format and form of fax.
TEST(ImageFileExtension, IsTheOneThePreparedFileHas)
{
    struct Case {
        const char* name;
        ImageCoding coding;
        ColourModel colour;
        int bits;
        int components;
        std::string data;
        ColourModel paletteModel = ColourModel::Gray;
        std::string palette = {};
    };
    const std::string fax = testing::group4(std::string("\xF0\x40\x0F\x80\xAA\x40", 6), 10, 3);
    ASSERT_FALSE(fax.empty());
    const Case cases[] = {
        {"grey 8", ImageCoding::Samples, ColourModel::Gray, 8, 1, std::string(30, '\x40')},
        {"grey 1", ImageCoding::Samples, ColourModel::Gray, 1, 1, std::string(6, '\x5A')},
        {"grey 16", ImageCoding::Samples, ColourModel::Gray, 16, 1, std::string(60, '\x40')},
        {"rgb 8", ImageCoding::Samples, ColourModel::Rgb, 8, 3, std::string(90, '\x40')},
        {"rgb 4", ImageCoding::Samples, ColourModel::Rgb, 4, 3, std::string(48, '\x40')},
        {"rgb 16", ImageCoding::Samples, ColourModel::Rgb, 16, 3, std::string(180, '\x40')},
        {"cmyk 8", ImageCoding::Samples, ColourModel::Cmyk, 8, 4, std::string(120, '\x40')},
        {"indexed rgb", ImageCoding::Samples, ColourModel::Indexed, 8, 3, std::string(30, '\x01'), ColourModel::Rgb,
         std::string("\x00\x00\x00\xFF\x80\x00", 6)},
        {"indexed cmyk", ImageCoding::Samples, ColourModel::Indexed, 8, 4, std::string(30, '\x01'),
         ColourModel::Cmyk, std::string(8, '\x40')},
        {"fax", ImageCoding::Ccitt, ColourModel::Gray, 1, 1, fax},
        {"jpeg", ImageCoding::Jpeg, ColourModel::Rgb, 8, 3, std::string("\xFF\xD8\xFF\xD9", 4)},
        {"jpx", ImageCoding::Jpx, ColourModel::Rgb, 8, 3, std::string(12, '\x01')},
    };
    for (const Case& c : cases)
        for (const OutputFormat format : {OutputFormat::Bmp, OutputFormat::Png, OutputFormat::Tiff})
            for (const FaxForm form : {FaxForm::Coded, FaxForm::Decoded}) {
                SCOPED_TRACE(std::string(c.name) + " as " + std::string(formatName(format)) +
                             (form == FaxForm::Decoded ? ", fax decoded" : ""));
                GeneralImage image;
                image.coding = c.coding;
                image.colour = c.colour;
                image.bitsPerComponent = c.bits;
                image.components = c.components;
                image.width = c.coding == ImageCoding::Ccitt ? 10 : 5;
                image.height = c.coding == ImageCoding::Ccitt ? 3 : 6;
                image.ccittK = -1;
                image.ccittColumns = 10;
                image.ccittRows = 3;
                image.indexedHival = c.palette.empty() ? 0 : 1;
                image.paletteModel = c.paletteModel;
                image.palette = c.palette;
                ImageFile file;
                const StreamBytes noGlobals;
                ASSERT_EQ(prepareImageFile(image, bytesOf(c.data), noGlobals, std::size_t{1} << 20, format, &file,
                                           {}, form),
                          0);
                EXPECT_EQ(imageFileExtension(image, format, form), file.extension);
            }
}

}  // namespace
}  // namespace ravoth
