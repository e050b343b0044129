// Finding one page's picture in a document written in Mesker's fixed object
// layout, and handing out a private copy of its stream.
#pragma once

#include <cstdint>

#include "pdf/primitives.h"

namespace ravoth {

enum class Filter : std::int32_t { Flate = 0, DCT = 1 };

struct ImageInfo {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerComponent = 0;
    bool isGray = false;             // DeviceGray (one component), else DeviceRGB
    Filter filter = Filter::Flate;
    std::int64_t streamLength = 0;
    // The stream's first byte where it stands in the document: the caller
    // reads it there, for as long as the document stays; no copy is made.
    const Byte* streamStart = nullptr;
    // The page's media box in points, 0 where its numbers are not plain
    // decimals (the locator only steps over them).
    double mediaWidth = 0;
    double mediaHeight = 0;
};

// Matches the page object of page `pageIndex` (0-based line of the PageList)
// and its image XObject against the text Mesker writes, and finds the image
// stream where it stands. Returns 0 with every field set, or a negative code
// -1 to -29 (fields read before the failing step are already set).
// Allocates nothing and never touches LastError.
// Reads the reader's document and XrefTable, nothing at or past the
// document's end. Numbers are read as the C library's decimal conversion
// does, saturating: counts at the 32-bit range, offsets and the stream's
// length far past any file. The stream's data starts after the CR LF, or the
// lone LF, that follows "stream", and at least one byte must follow the data.
int locatePageImage(const DocumentReader& reader, int pageIndex, const Byte* pageListStart,
                    const Byte* pageListEnd, ImageInfo* info);

}  // namespace ravoth
