#include "image/inflate.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "tests/support/faults.h"

namespace ravoth {
namespace {

using Bytes = std::vector<Byte>;

// Bytes that compress poorly, so that large sources span several chunks.
Bytes noise(std::size_t size)
{
    Bytes data(size);
    std::uint32_t state = 12345;
    for (Byte& b : data) {
        state = state * 1103515245u + 12345u;
        b = static_cast<Byte>(state >> 24);
    }
    return data;
}

Bytes compressed(const Bytes& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, data.data(), static_cast<uLong>(data.size())), Z_OK);
    out.resize(size);
    return out;
}

// A zlib stream made by hand, so its length does not depend on any
// compressor: one fixed-Huffman block of a literal 0 followed by `matches`
// copies of 258 bytes at distance 1, so 1 + 258 * matches zero bytes. The
// copies take length code 285, or the reserved 286 or 287 if asked.
Bytes zerosStream(int matches, std::uint32_t lengthCode = 285)
{
    Bytes out = {0x78, 0x01};
    std::uint32_t bits = 0;
    int count = 0;
    // Huffman codes go into the stream most significant bit first.
    auto putCode = [&](std::uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) {
            bits |= ((code >> i) & 1u) << count;
            if (++count == 8) {
                out.push_back(static_cast<Byte>(bits));
                bits = 0;
                count = 0;
            }
        }
    };
    putCode(1, 1);  // last block
    putCode(2, 2);  // fixed codes: BTYPE 01, read least significant bit first
    putCode(0x30, 8);  // literal 0
    for (int i = 0; i < matches; ++i) {
        putCode(0xC0 + lengthCode - 280, 8);  // length code 285: 258 bytes
        putCode(0, 5);     // distance code 0: distance 1
    }
    putCode(0, 7);  // end of block
    if (count > 0) out.push_back(static_cast<Byte>(bits));
    // Adler-32 of n zero bytes: a = 1, b = n.
    const std::uint32_t n = 1 + 258u * static_cast<std::uint32_t>(matches);
    for (Byte b : {Byte(n >> 8), Byte(n), Byte{0}, Byte{1}}) out.push_back(b);
    return out;
}

// Runs inflateStream into a block of exactly `capacity` bytes.
int run(const Bytes& source, std::size_t capacity, Bytes* output = nullptr,
        std::size_t* produced = nullptr)
{
    Bytes block(capacity);
    std::size_t size = capacity;
    const int code = inflateStream(source.data(), source.size(), block.data(), size);
    if (code != 0) {
        EXPECT_EQ(size, capacity) << "capacity changed on failure";
    }
    if (output) *output = block;
    if (produced) *produced = size;
    return code;
}

TEST(Inflate, ExactSizeNeedsOneSpareByte)
{
    for (std::size_t size : {0u, 1u, 1000u, 1023u, 1024u, 1025u, 2048u, 3072u, 5000u}) {
        SCOPED_TRACE(size);
        const Bytes data = noise(size);
        const Bytes source = compressed(data);
        EXPECT_EQ(run(source, size), -10);
        Bytes output;
        std::size_t produced = 0;
        ASSERT_EQ(run(source, size + 1, &output, &produced), 0);
        EXPECT_EQ(produced, size);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), output.begin()));
        EXPECT_EQ(output[size], 0);
    }
}

TEST(Inflate, BadDataHasItsCode)
{
    const Bytes good = compressed(noise(5000));
    struct Case {
        const char* name;
        Bytes source;
        int code;
    };
    auto cut = [&](std::size_t drop) { return Bytes(good.begin(), good.end() - drop); };
    auto withHeader = [&](Byte cmf, Byte flg) {
        Bytes s = good;
        s[0] = cmf;
        s[1] = flg;
        return s;
    };
    Bytes trailing = good;
    for (Byte b : {'\r', '\n', 'e', 'n', 'd'}) trailing.push_back(b);
    const Case cases[] = {
        {"empty source", {}, -5},
        {"header only", Bytes(good.begin(), good.begin() + 2), -5},
        {"one byte of the checksum missing", cut(1), -5},
        {"checksum missing", cut(4), -5},
        {"cut in the middle", cut(good.size() / 2), -5},
        {"bad check bits", withHeader(0x79, good[1]), -4},
        {"not deflate", withHeader(0x77, 0x09), -4},
        {"bytes after the stream", trailing, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Plenty of room: bad data must not read as "too small".
        EXPECT_EQ(run(c.source, 100000), c.code);
    }
}

Bytes compressedWith(const Bytes& data, int level, int windowBits, int strategy = Z_DEFAULT_STRATEGY)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, strategy), Z_OK);
    Bytes out(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Byte*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

Bytes otherCompressor(const Bytes& data)
{
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(12);
    Bytes out(libdeflate_zlib_compress_bound(compressor, data.size()));
    out.resize(libdeflate_zlib_compress(compressor, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

// The one-call inflater may take a stream only where the streaming one gives
// the same bytes with room for exactly them: over streams of every kind, cut
// at every length and with a byte flipped at every place.
TEST(Inflate, WholeStreamsAreTakenOnlyWhereTheStreamingWayAgrees)
{
    Bytes text;
    for (int i = 0; i < 300; ++i)
        for (char c : std::string("scan ") + std::to_string(i * 7 % 13) + " ") text.push_back(static_cast<Byte>(c));
    struct Case {
        const char* name;
        Bytes data;
        Bytes source;
        bool taken;  // whole and well formed: the one call must take it
    };
    const Bytes someNoise = noise(3000);
    WholeInflater oneCall;
    Case cases[] = {
        {"stored blocks", someNoise, compressedWith(someNoise, 0, 15), true},
        {"fast matching", text, compressedWith(text, 1, 15), true},
        {"best matching", text, compressedWith(text, 9, 15), true},
        {"runs", Bytes(4000, 7), compressedWith(Bytes(4000, 7), 1, 15, Z_RLE), true},
        {"fixed codes by hand", Bytes(1 + 258 * 12, 0), zerosStream(12), true},
        {"a 512-byte window", text, compressedWith(text, 6, 9), false},
        {"reserved length code", Bytes(1 + 258 * 12, 0), zerosStream(12, 287), false},
        {"another compressor", text, otherCompressor(text), true},
    };
    EXPECT_EQ(run(cases[6].source, 100000), -4) << "zlib reads a reserved length code";
    Bytes trailing = cases[1].source;
    trailing.push_back('\n');
    ASSERT_TRUE(oneCall.inflate(trailing.data(), trailing.size(), Bytes(text.size()).data(), text.size()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t expected = c.data.size();
        Bytes whole(expected);
        EXPECT_EQ(oneCall.inflate(c.source.data(), c.source.size(), whole.data(), expected), c.taken);
        if (c.taken) {
            EXPECT_EQ(whole, c.data);
        }
        // A size other than the stream's is never taken.
        EXPECT_FALSE(oneCall.inflate(c.source.data(), c.source.size(), whole.data(), expected - 1));
        Bytes larger(expected + 1);
        EXPECT_FALSE(oneCall.inflate(c.source.data(), c.source.size(), larger.data(), expected + 1));

        auto agrees = [&](const Bytes& source) {
            Bytes block(expected);
            if (!oneCall.inflate(source.data(), source.size(), block.data(), expected)) return;
            Bytes streamed;
            std::size_t produced = 0;
            ASSERT_EQ(run(source, expected + 1, &streamed, &produced), 0);
            ASSERT_EQ(produced, expected);
            ASSERT_TRUE(std::equal(block.begin(), block.end(), streamed.begin()));
        };
        for (std::size_t length = 0; length < c.source.size(); ++length)
            agrees(Bytes(c.source.begin(), c.source.begin() + static_cast<std::ptrdiff_t>(length)));
        for (std::size_t at = 0; at < c.source.size(); ++at) {
            for (Byte flip : {Byte{0x01}, Byte{0x80}, Byte{0xFF}}) {
                Bytes damaged = c.source;
                damaged[at] ^= flip;
                agrees(damaged);
            }
        }
    }
}

TEST(Inflate, EachAllocationFailureHasItsCode)
{
    const Bytes source = compressed(noise(5000));
    // The inflate state, the input chunk, the output chunk, zlib's window.
    const int codes[] = {-1, -2, -3, -4, 0};
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE(n);
        failAllocationAt(n);
        EXPECT_EQ(run(source, 6000), codes[n - 1]);
        failAllocationAt(0);
    }
}

// The job's ladder: 20, 30, 40, ... times the source length until the
// samples fit. 74 source bytes expand to 10321: 130 x 74 = 9620 is too
// small, 140 x 74 = 10360 fits.
TEST(Inflate, RetryLadderReachesTheFittingSize)
{
    const Bytes source = zerosStream(40);
    ASSERT_EQ(source.size(), 74u);
    std::vector<std::size_t> tried;
    int code = -10;
    std::size_t produced = 0;
    for (std::size_t factor = 20; code == -10 && factor <= 1000; factor += 10) {
        tried.push_back(factor);
        code = run(source, factor * source.size(), nullptr, &produced);
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(produced, 10321u);
    ASSERT_FALSE(tried.empty());
    EXPECT_EQ(tried.size(), 13u);
    EXPECT_EQ(tried.back(), 140u);
}

}  // namespace
}  // namespace ravoth
