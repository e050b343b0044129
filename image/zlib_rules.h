// Whether zlib's inflate would take a zlib stream, answered without
// inflating it.
#pragma once

#include <cstddef>
#include <memory>

#include "pdf/primitives.h"

namespace ravoth {

// The walk builds each dynamic block's codes into tables (some 8 KiB) that
// belong to the object: each thread that walks streams keeps one, so that
// nothing is shared, and the tables are made once for all its streams.
class ZlibRules {
public:
    ZlibRules();
    ~ZlibRules();
    ZlibRules(const ZlibRules&) = delete;
    ZlibRules& operator=(const ZlibRules&) = delete;

    // True only when zlib's inflate, fed the stream as inflateStream feeds
    // it, would read it to its end without an error: a header of a 32 KiB
    // window and no preset dictionary, blocks whose codes zlib accepts (no
    // more code lengths than the format has, complete code-length codes, an
    // end-of-block code, complete literal and distance codes or zlib's
    // single one-bit code), no reserved symbol (lengths 286 and 287,
    // distances 30 and 31) and no codeword a code leaves unused, no distance
    // before the first byte, and the four bytes of the checksum after the
    // last block (whose value it does not check). Walks the codes without
    // writing out what they stand for. Doubtful cases answer false, which
    // only sends the stream the slow way, and so does a walker whose tables
    // could not be had; it never reads outside the source.
    bool areMetBy(const Byte* source, std::size_t length);

    struct Codes;

private:
    std::unique_ptr<Codes> codes_;
};

}  // namespace ravoth
