#include "job/page_outcome.h"

#include "image/encoded_file.h"
#include "image/general_image.h"
#include "pdf/general_reader.h"

namespace ravoth {

namespace {

PageReason decodeReason(std::int32_t code)
{
    switch (static_cast<GeneralStatus>(code)) {
    case GeneralStatus::NoMemory: return PageReason::DecodeNoMemory;
    case GeneralStatus::Unsupported: return PageReason::DecodeUnsupported;
    case GeneralStatus::TooLarge: return PageReason::DecodeTooLarge;
    case GeneralStatus::Truncated: return PageReason::DecodeTruncated;
    default: return PageReason::DecodeDamaged;
    }
}

PageReason encodeReason(std::int32_t code)
{
    if (code == imageUnsupported) return PageReason::EncodeUnsupported;
    if (code == imageUndecodable) return PageReason::EncodeUndecodable;
    if (code == encodeNoMemory) return PageReason::EncodeNoMemory;
    return PageReason::EncodeRefused;
}

// What writePreparedBitmap gives for a file it could not create.
constexpr std::int32_t fileNotCreated = -9;

}  // namespace

PageReason reasonOf(PageStage stage, std::int32_t code)
{
    switch (stage) {
    case PageStage::Written: return PageReason::Written;
    case PageStage::Listed: return PageReason::Listed;
    case PageStage::Stopped: return PageReason::Stopped;
    case PageStage::NoImage: return PageReason::NoImage;
    case PageStage::Locate: return PageReason::ImageNotFound;
    case PageStage::InflateMemory: return PageReason::NoMemoryForSamples;
    case PageStage::InflateBound: return PageReason::InflatesPastBound;
    case PageStage::ImageTooLarge: return PageReason::DeclaresBeyondStream;
    case PageStage::Inflate: return PageReason::InflationFailed;
    case PageStage::WriteBmp: return PageReason::BitmapNotWritten;
    case PageStage::WriteJpeg: return code == -1 ? PageReason::JpegCannotBeCreated : PageReason::JpegNotWrittenWhole;
    case PageStage::Name: return PageReason::NameTooLong;
    case PageStage::PastPageList: return PageReason::NotInPageList;
    case PageStage::Decode: return decodeReason(code);
    case PageStage::Encode: return encodeReason(code);
    case PageStage::WriteFile:
        return code == fileNotCreated ? PageReason::FileCannotBeCreated : PageReason::FileNotWrittenWhole;
    }
    return PageReason::DecodeDamaged;
}

}  // namespace ravoth
