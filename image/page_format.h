// The format a decoded page image is written in, chosen by the user: the
// Windows bitmap of old, or PNG or TIFF carrying the page's real resolution.
// Coded pictures (JPEG, JPEG 2000, CCITT fax) keep their own form whatever
// is chosen.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/encoded_file.h"

namespace ravoth {

enum class OutputFormat { Bmp, Png, Tiff };

// "bmp", "png", "tiff": the names the command line and the page list use.
std::string_view formatName(OutputFormat format);
std::optional<OutputFormat> formatNamed(std::string_view name);

// Whole pixels per inch of `pixels` across `points` of paper (72 a inch);
// 0 when the size is not known or the result is no usable resolution.
std::int32_t dotsPerInch(std::int32_t pixels, double points);

// A page's decoded samples as PDF stores them: rows top first, padded to
// whole bytes, components packed most significant bit first; grey or RGB
// of 1, 2, 4 or 8 bits (16 too for PNG and TIFF).
struct PageSamples {
    const Byte* data = nullptr;
    std::size_t bytes = 0;  // bytes past these read as 0
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bits = 8;
    bool gray = true;
    std::int32_t dpiX = 0;
    std::int32_t dpiY = 0;
};

// The samples as a file of `format`, into `out`, its extension in
// *extension. The pixels are those the bitmap shows: 1-bit grey stays 1-bit
// (Group 4 in a TIFF), grey stays grey, and RGB of fewer than 8 bits is
// stretched onto 8 as the bitmap stretches it. A bitmap gives
// prepareBitmap's codes, PNG and TIFF the encoders' (encoded_file.h).
int encodePageSamples(OutputFormat format, const PageSamples& samples, PreparedBitmap* out,
                      std::string_view* extension, const StopFlags& stops = {});

}  // namespace ravoth
