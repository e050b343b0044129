// What an image of the general reader is written as: coded pictures as they
// are (JPEG, JPEG 2000, CCITT fax in a TIFF), everything else decoded into
// the first of BMP, PNG and TIFF that holds it without loss.
#pragma once

#include <string_view>

#include "image/encoded_file.h"
#include "image/page_format.h"
#include "pdf/general_reader.h"

namespace ravoth {

struct ImageFile {
    std::string_view extension;  // ".jpg", ".jp2", ".tif", ".bmp" or ".png"
    // With headerBytes 0 for every format but BMP.
    PreparedBitmap file;
};

// Codes besides the encoders' (encoded_file.h):
constexpr int imageUnsupported = -2;  // a colour space, depth or /Decode no format here holds
constexpr int imageUndecodable = -3;  // JBIG2 or fax data that yields no page

// How CCITT fax data is written: as it is, in a TIFF that says how to read
// it, or decoded like a JBIG2 page (for comic readers, which show no TIFF).
enum class FaxForm { Coded, Decoded };

// The extension prepareImageFile gives the image's file, known before its
// bytes are read (for an image it refuses, any).
std::string_view imageFileExtension(const GeneralImage& image, OutputFormat format, FaxForm faxForm);

// Turns the image's bytes (from GeneralDocument::imageData, taken over)
// into its file; what is decoded is written in `format`, where it holds
// it. `decodeLimit` bounds what decoding JBIG2 or fax data may hold.
int prepareImageFile(const GeneralImage& image, StreamBytes data, const StreamBytes& globals,
                     std::size_t decodeLimit, OutputFormat format, ImageFile* out, const StopFlags& stops = {},
                     FaxForm faxForm = FaxForm::Coded);

}  // namespace ravoth
