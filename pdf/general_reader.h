// The general reader: any producer's PDF, read through qpdf, which follows
// cross-reference streams, object streams, incremental updates, repairs a
// damaged table and opens a document encrypted with an empty user password.
// It gives what the exact reader gives: the pages, each page's images, and
// the bookmarks' pages and titles. The library stays behind this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pdf/primitives.h"
#include "platform/memory.h"

class QPDFObjectHandle;

namespace ravoth {

// How an image's stream is coded, after any filter that only packs bytes
// (Flate, LZW, ASCII, run-length) is undone.
enum class ImageCoding { Jpeg, Jpx, Ccitt, Jbig2, Samples };

enum class ColourModel { Gray, Rgb, Cmyk, Indexed, Unsupported };

// One image a page draws, with what writing it needs besides its bytes.
struct GeneralImage {
    ImageCoding coding = ImageCoding::Samples;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerComponent = 0;
    ColourModel colour = ColourModel::Gray;
    // Components of a sample: of the base colour space for Indexed.
    std::int32_t components = 1;
    bool imageMask = false;
    // /Decode when given: 2 numbers per component (1 pair for Indexed and
    // masks), else empty.
    std::vector<double> decode;
    // Indexed: the base space's components and the lookup table, `hival`+1
    // entries.
    std::int32_t indexedHival = 0;
    ColourModel paletteModel = ColourModel::Gray;
    std::string palette;
    // CCITT fax: /K, /Columns, /Rows, /BlackIs1, /EncodedByteAlign.
    std::int32_t ccittK = 0;
    std::int32_t ccittColumns = 1728;
    std::int32_t ccittRows = 0;
    bool ccittBlackIs1 = false;
    bool ccittByteAligned = false;
    // The stream's length as stored in the file.
    std::uint64_t storedBytes = 0;
    // Where a JPEG or JPEG 2000 stream's bytes stand unchanged in the
    // document (no other filter, no encryption), so that they can be
    // copied from there; -1 when they must be read through the library.
    std::int64_t inPlaceOffset = -1;
    // Which of the document's objects it is (for ImageData).
    std::size_t index = 0;
    // The page's media box in points (its user unit applied); 0 when the
    // page has none that reads as a rectangle.
    double mediaWidth = 0;
    double mediaHeight = 0;
};

// A stream's bytes in a block of the core's.
struct StreamBytes {
    OwnedBlock<Byte> block;
    std::size_t bytes = 0;
};

// Why a document or an image could not be read.
enum class GeneralStatus {
    Ok,
    NotPdf,         // no PDF header and nothing the library could repair
    Encrypted,      // needs a password other than the empty one
    Damaged,        // the library could make no document of it
    NoMemory,       // a block could not be had
    Stopped,        // a stop flag turned true
    Unsupported,    // a filter, colour space or depth this reader does not write
    TooLarge,       // declares more than a page may decode to
    Truncated,      // yields fewer bytes than the image declares, or its filter failed
};

class GeneralDocument {
public:
    GeneralDocument();
    ~GeneralDocument();
    GeneralDocument(const GeneralDocument&) = delete;
    GeneralDocument& operator=(const GeneralDocument&) = delete;

    // Reads the document in the `bytes` bytes at `data`, which must stay
    // until the object is gone: the library reads it where it is.
    GeneralStatus open(const Byte* data, std::size_t bytes, const StopFlags& stops);

    int pageCount() const;

    // The images page `pageIndex` (0-based) draws, in drawing order, each
    // once, forms followed into. Ok with none for a page without images.
    GeneralStatus pageImages(int pageIndex, std::vector<GeneralImage>* images);

    // The image's bytes: decoded to samples for ImageCoding::Samples, else
    // the coded data itself, any packing filter before it undone. For
    // JBIG2, `globals` receives the stream's global segments when it has
    // them. At most `limit` bytes are read; Samples give exactly the bytes
    // their geometry declares, extra bytes ignored.
    GeneralStatus imageData(const GeneralImage& image, std::size_t limit, StreamBytes* data,
                            StreamBytes* globals);

    // For each page, the title of the first bookmark in depth-first order
    // whose destination (named ones included) is that page: the string's
    // bytes as the document holds them (UTF-16 after FE FF, else single
    // bytes); none where no bookmark leads, or its title is no string.
    std::vector<std::optional<std::string>> firstBookmarkTitles();

private:
    struct State;
    static std::int64_t inPlaceOffset(State& state, QPDFObjectHandle stream, const GeneralImage& image);
    std::unique_ptr<State> state_;
};

// The bytes a sample image declares: rows padded to whole bytes; 0 when
// the numbers cannot be sizes.
std::uint64_t declaredImageBytes(const GeneralImage& image);

}  // namespace ravoth
