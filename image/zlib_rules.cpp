#include "image/zlib_rules.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

namespace ravoth {
namespace {

constexpr unsigned maxCodeBits = 15;
constexpr unsigned literalLengthSymbols = 288;  // as the fixed code lists them
constexpr unsigned distanceSymbols = 32;
constexpr unsigned lastLengthSymbol = 285;
constexpr unsigned lastDistanceSymbol = 29;
constexpr unsigned endOfBlock = 256;

constexpr std::uint16_t lengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t lengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t distanceBase[] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                          33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                          1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t distanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists its code-length code.
constexpr std::uint8_t codeLengthOrder[] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Bits least significant first, as deflate packs them.
class BitSource {
public:
    BitSource(const Byte* start, const Byte* end) : next_(start), end_(end) {}

    // Whether n (at most 32) bits are there to take.
    bool has(unsigned n)
    {
        if (count_ < n) refill();
        return count_ >= n;
    }
    // Fills the bits up to a whole symbol's worth where the source has
    // them: a codeword, its extra bits, a distance's and its extra bits.
    void fill()
    {
        if (count_ < 48) refill();
    }
    unsigned count() const { return count_; }
    std::uint32_t peek(unsigned n) const { return static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << n) - 1)); }
    void drop(unsigned n)
    {
        bits_ >>= n;
        count_ -= n;
    }
    std::uint32_t take(unsigned n)
    {
        const std::uint32_t value = peek(n);
        drop(n);
        return value;
    }
    void alignToByte() { drop(count_ % 8); }
    // Passes whole bytes after alignToByte; false when fewer are left.
    bool skipBytes(std::size_t bytes)
    {
        while (bytes > 0 && count_ >= 8) {
            drop(8);
            --bytes;
        }
        if (bytes == 0) return true;
        if (static_cast<std::size_t>(end_ - next_) < bytes) return false;
        next_ += bytes;
        // Bits read ahead stood for the bytes just passed.
        bits_ = 0;
        return true;
    }
    std::size_t bytesLeft() const { return count_ / 8 + static_cast<std::size_t>(end_ - next_); }

private:
    void refill()
    {
        if constexpr (std::endian::native == std::endian::little) {
            if (end_ - next_ >= 8) {
                std::uint64_t word;
                std::memcpy(&word, next_, sizeof word);
                bits_ |= word << count_;
                next_ += (63 - count_) / 8;
                count_ |= 56;
                return;
            }
        }
        while (count_ <= 56 && next_ < end_) {
            bits_ |= std::uint64_t{*next_++} << count_;
            count_ += 8;
        }
    }

    const Byte* next_;
    const Byte* end_;
    std::uint64_t bits_ = 0;
    unsigned count_ = 0;
};

// A canonical code. Codewords of up to `primaryBits` are looked up by those
// bits at once, in a table small enough to stay in the cache; the rare
// longer ones are found a bit at a time among the symbols in code order.
class Code {
public:
    enum class Kind { CodeLengths, LiteralsOrDistances };

    // False where zlib refuses the lengths: an over-full code, and an
    // incomplete one but for an empty code or a single codeword of one bit
    // (neither is allowed for the code-length code).
    bool build(const std::uint8_t* lengths, unsigned symbols, Kind kind)
    {
        std::fill(std::begin(counts_), std::end(counts_), 0u);
        for (unsigned s = 0; s < symbols; ++s) ++counts_[lengths[s]];
        counts_[0] = 0;
        unsigned longest = 0;
        int left = 1;
        for (unsigned length = 1; length <= maxCodeBits; ++length) {
            left = left * 2 - static_cast<int>(counts_[length]);
            if (left < 0) return false;
            if (counts_[length]) longest = length;
        }
        if (left > 0 && (kind == Kind::CodeLengths || longest > 1)) return false;
        tableBits_ = longest < primaryBits ? longest : primaryBits;
        if (longest == 0) return true;  // empty: any lookup finds nothing

        unsigned offsets[maxCodeBits + 1] = {};
        for (unsigned length = 1; length < maxCodeBits; ++length)
            offsets[length + 1] = offsets[length] + counts_[length];
        for (unsigned s = 0; s < symbols; ++s)
            if (lengths[s]) sorted_[offsets[lengths[s]]++] = static_cast<std::uint16_t>(s);

        const std::size_t size = std::size_t{1} << tableBits_;
        std::fill(table_, table_ + size, std::uint16_t{0});
        unsigned code = 0;
        unsigned index = 0;
        for (unsigned length = 1; length <= maxCodeBits; ++length, code <<= 1) {
            for (unsigned k = 0; k < counts_[length]; ++k, ++code, ++index) {
                // Codewords go into the stream most significant bit first.
                const unsigned shown = length < tableBits_ ? length : tableBits_;
                const unsigned prefix = code >> (length - shown);
                unsigned reversed = 0;
                for (unsigned b = 0, c = prefix; b < shown; ++b, c >>= 1) reversed = reversed << 1 | (c & 1);
                const std::uint16_t entry = length <= tableBits_
                                                ? static_cast<std::uint16_t>(sorted_[index] << 4 | length)
                                                : longCodeword;
                for (std::size_t at = reversed; at < size; at += std::size_t{1} << shown) table_[at] = entry;
            }
        }
        return true;
    }

    // The next symbol, or -1 for bits no codeword starts with, or a stream
    // that ends inside a codeword. The caller has filled the bit source.
    int decode(BitSource& in) const
    {
        if (tableBits_ == 0) return -1;
        const std::uint16_t entry = table_[in.peek(tableBits_)];
        if (entry == longCodeword) return decodeLong(in);
        const unsigned length = entry & 15u;
        if (length == 0 || length > in.count()) return -1;
        in.drop(length);
        return entry >> 4;
    }

private:
    static constexpr unsigned primaryBits = 10;
    static constexpr std::uint16_t longCodeword = 0xFFFF;

    int decodeLong(BitSource& in) const
    {
        const unsigned available = in.count();
        const std::uint32_t bits = in.peek(maxCodeBits);
        unsigned code = 0;
        unsigned first = 0;
        unsigned index = 0;
        for (unsigned length = 1; length <= maxCodeBits && length <= available; ++length) {
            code |= (bits >> (length - 1)) & 1u;
            const unsigned count = counts_[length];
            if (code - first < count) {
                in.drop(length);
                return sorted_[index + code - first];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

    std::uint16_t table_[std::size_t{1} << primaryBits] = {};
    unsigned tableBits_ = 0;
    unsigned counts_[maxCodeBits + 1] = {};
    std::uint16_t sorted_[literalLengthSymbols] = {};
};

}  // namespace

struct ZlibRules::Codes {
    Code literals;
    Code distances;
    Code codeLengths;
};

namespace {

using Codes = ZlibRules::Codes;

// The walk itself, on a bit source the caller owns alone.
inline bool walkSymbolsOf(BitSource& in, const Code& literals, const Code& distances, std::uint64_t& produced)
{
    for (;;) {
        in.fill();
        const int symbol = literals.decode(in);
        if (symbol < 0) return false;
        if (symbol < static_cast<int>(endOfBlock)) {
            ++produced;
            continue;
        }
        if (symbol == static_cast<int>(endOfBlock)) return true;
        if (symbol > static_cast<int>(lastLengthSymbol)) return false;
        const unsigned lengthCode = static_cast<unsigned>(symbol) - endOfBlock - 1;
        if (!in.has(lengthExtra[lengthCode])) return false;
        const unsigned length = lengthBase[lengthCode] + in.take(lengthExtra[lengthCode]);
        const int distanceCode = distances.decode(in);
        if (distanceCode < 0 || distanceCode > static_cast<int>(lastDistanceSymbol)) return false;
        if (!in.has(distanceExtra[distanceCode])) return false;
        const unsigned distance = distanceBase[distanceCode] + in.take(distanceExtra[distanceCode]);
        if (distance > produced) return false;
        produced += length;
    }
}

// A block's symbols up to its end; `produced` counts the bytes they stand
// for, against which every distance is checked.
bool walkSymbols(BitSource& source, const Code& literals, const Code& distances, std::uint64_t& produced)
{
    // Copies of its own, which the compiler keeps in registers.
    BitSource in = source;
    std::uint64_t count = produced;
    const bool walked = walkSymbolsOf(in, literals, distances, count);
    source = in;
    produced = count;
    return walked;
}

bool walkDynamicBlock(BitSource& in, Codes& codes, std::uint64_t& produced)
{
    if (!in.has(14)) return false;
    const unsigned literalCount = in.take(5) + 257;
    const unsigned distanceCount = in.take(5) + 1;
    const unsigned codeLengthCount = in.take(4) + 4;
    if (literalCount > lastLengthSymbol + 1 || distanceCount > lastDistanceSymbol + 1) return false;
    std::uint8_t codeLengthLengths[19] = {};
    for (unsigned k = 0; k < codeLengthCount; ++k) {
        if (!in.has(3)) return false;
        codeLengthLengths[codeLengthOrder[k]] = static_cast<std::uint8_t>(in.take(3));
    }
    if (!codes.codeLengths.build(codeLengthLengths, 19, Code::Kind::CodeLengths)) return false;

    std::uint8_t lengths[lastLengthSymbol + 1 + lastDistanceSymbol + 1] = {};
    const unsigned total = literalCount + distanceCount;
    for (unsigned k = 0; k < total;) {
        in.fill();
        const int symbol = codes.codeLengths.decode(in);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[k++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t repeated = 0;
        unsigned times = 0;
        if (symbol == 16) {
            if (k == 0 || !in.has(2)) return false;
            repeated = lengths[k - 1];
            times = 3 + in.take(2);
        } else if (symbol == 17) {
            if (!in.has(3)) return false;
            times = 3 + in.take(3);
        } else {
            if (!in.has(7)) return false;
            times = 11 + in.take(7);
        }
        if (times > total - k) return false;
        while (times-- > 0) lengths[k++] = repeated;
    }
    if (lengths[endOfBlock] == 0) return false;
    if (!codes.literals.build(lengths, literalCount, Code::Kind::LiteralsOrDistances)) return false;
    if (!codes.distances.build(lengths + literalCount, distanceCount, Code::Kind::LiteralsOrDistances)) return false;
    return walkSymbols(in, codes.literals, codes.distances, produced);
}

// The fixed codes, made once; they list the reserved symbols too, which the
// walk refuses as zlib does.
const Codes& fixedCodes()
{
    static const Codes* const codes = [] {
        auto* made = new Codes;
        std::uint8_t lengths[literalLengthSymbols];
        for (unsigned s = 0; s < literalLengthSymbols; ++s)
            lengths[s] = static_cast<std::uint8_t>(s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8);
        made->literals.build(lengths, literalLengthSymbols, Code::Kind::LiteralsOrDistances);
        std::uint8_t distances[distanceSymbols];
        std::fill(std::begin(distances), std::end(distances), std::uint8_t{5});
        made->distances.build(distances, distanceSymbols, Code::Kind::LiteralsOrDistances);
        return made;
    }();
    return *codes;
}

}  // namespace

// Beside the core's blocks, like the decompressor it works with: a walker
// without tables answers false, sending streams the way that allocates.
ZlibRules::ZlibRules() : codes_(new (std::nothrow) Codes) {}

ZlibRules::~ZlibRules() = default;

bool ZlibRules::areMetBy(const Byte* source, std::size_t length)
{
    if (!codes_ || length < 2 || source[0] != 0x78 || (source[0] * 256u + source[1]) % 31 != 0 ||
        (source[1] & 0x20) != 0)
        return false;
    Codes& codes = *codes_;
    BitSource in(source + 2, source + length);
    std::uint64_t produced = 0;
    for (bool last = false; !last;) {
        if (!in.has(3)) return false;
        last = in.take(1) != 0;
        switch (in.take(2)) {
        case 0: {
            in.alignToByte();
            if (!in.has(32)) return false;
            const std::uint32_t stored = in.take(16);
            if ((in.take(16) ^ 0xFFFFu) != stored || !in.skipBytes(stored)) return false;
            produced += stored;
            break;
        }
        case 1:
            if (!walkSymbols(in, fixedCodes().literals, fixedCodes().distances, produced)) return false;
            break;
        case 2:
            if (!walkDynamicBlock(in, codes, produced)) return false;
            break;
        default: return false;
        }
    }
    in.alignToByte();
    return in.bytesLeft() >= 4;
}

}  // namespace ravoth
