#include "jpeglib.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int blockSide = 8;

// The example tables of the JPEG standard, in natural (row) order.
constexpr std::array<int, 64> lumaQuantBase = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> chromaQuantBase = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Code counts per length 1..16 and symbols of the standard luminance tables.
constexpr std::array<std::uint8_t, 16> dcBits = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 12> dcValues = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::array<std::uint8_t, 16> acBits = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr std::array<std::uint8_t, 162> acValues = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

struct HuffmanCode {
    std::uint16_t code = 0;
    std::uint8_t length = 0;
};

// Canonical codes from the counts per length, as the decoder rebuilds them.
template <std::size_t N>
std::array<HuffmanCode, 256> buildCodes(const std::array<std::uint8_t, 16>& bits,
                                        const std::array<std::uint8_t, N>& values)
{
    std::array<HuffmanCode, 256> codes{};
    std::uint16_t code = 0;
    std::size_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < bits[length - 1]; ++i, ++k)
            codes[values[k]] = {code++, static_cast<std::uint8_t>(length)};
        code <<= 1;
    }
    return codes;
}

// Zigzag position -> natural index, by walking the anti-diagonals.
std::array<int, 64> zigzagOrder()
{
    std::array<int, 64> order{};
    int k = 0;
    for (int sum = 0; sum <= 14; ++sum) {
        for (int i = 0; i <= sum; ++i) {
            const int row = sum % 2 == 0 ? sum - i : i;
            const int column = sum - row;
            if (row < blockSide && column < blockSide) order[k++] = row * blockSide + column;
        }
    }
    return order;
}

// libjpeg's jpeg_quality_scaling and jpeg_add_quant_table with baseline
// limits, so a quality means what it means there.
std::array<int, 64> scaledTable(const std::array<int, 64>& base, int quality)
{
    quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    std::array<int, 64> table{};
    for (int i = 0; i < 64; ++i) {
        const long value = (static_cast<long>(base[i]) * scale + 50) / 100;
        table[i] = value < 1 ? 1 : value > 255 ? 255 : static_cast<int>(value);
    }
    return table;
}

class BitWriter {
public:
    explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
    void put(std::uint32_t bits, int count)
    {
        accumulator_ = (accumulator_ << count) | (bits & ((1u << count) - 1));
        pending_ += count;
        while (pending_ >= 8) {
            const auto byte = static_cast<unsigned char>(accumulator_ >> (pending_ - 8));
            out_.push_back(byte);
            if (byte == 0xFF) out_.push_back(0);  // a data 0xFF is never a marker
            pending_ -= 8;
        }
        accumulator_ &= (1u << pending_) - 1;
    }
    // The last byte is filled with 1 bits.
    void finish()
    {
        if (pending_ > 0) put(0x7F, 8 - pending_);
    }

private:
    std::vector<unsigned char>& out_;
    std::uint32_t accumulator_ = 0;
    int pending_ = 0;
};

void putWord(std::vector<unsigned char>& out, unsigned value)
{
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

void putMarker(std::vector<unsigned char>& out, unsigned char marker, unsigned payloadBytes)
{
    out.push_back(0xFF);
    out.push_back(marker);
    putWord(out, payloadBytes + 2);
}

template <std::size_t N>
void putHuffmanTable(std::vector<unsigned char>& out, int tableClass,
                     const std::array<std::uint8_t, 16>& bits,
                     const std::array<std::uint8_t, N>& values)
{
    putMarker(out, 0xC4, static_cast<unsigned>(1 + 16 + N));
    out.push_back(static_cast<unsigned char>(tableClass << 4));
    out.insert(out.end(), bits.begin(), bits.end());
    out.insert(out.end(), values.begin(), values.end());
}

int magnitudeBits(int value)
{
    int magnitude = value < 0 ? -value : value;
    int bits = 0;
    while (magnitude > 0) {
        magnitude >>= 1;
        ++bits;
    }
    return bits;
}

// Negative values are sent as their one's complement in `bits` bits.
void putValue(BitWriter& writer, int value, int bits)
{
    if (bits > 0) writer.put(static_cast<std::uint32_t>(value < 0 ? value - 1 : value), bits);
}

struct Encoder {
    int width;
    int height;
    int components;
    std::array<std::array<int, 64>, 2> quant;
    std::array<int, 64> zigzag = zigzagOrder();
    std::array<HuffmanCode, 256> dcCodes = buildCodes(dcBits, dcValues);
    std::array<HuffmanCode, 256> acCodes = buildCodes(acBits, acValues);
    std::array<std::array<double, blockSide>, blockSide> cosines{};

    Encoder(int w, int h, int c, int quality)
        : width(w), height(h), components(c),
          quant{scaledTable(lumaQuantBase, quality), scaledTable(chromaQuantBase, quality)}
    {
        const double pi = std::acos(-1.0);
        for (int x = 0; x < blockSide; ++x)
            for (int u = 0; u < blockSide; ++u)
                cosines[x][u] = std::cos((2 * x + 1) * u * pi / 16);
    }

    // Component `c` of the pixel, in YCbCr for colour input; edges repeat.
    double sample(const std::vector<unsigned char>& samples, int x, int y, int c) const
    {
        x = x < width ? x : width - 1;
        y = y < height ? y : height - 1;
        const unsigned char* pixel = &samples[(static_cast<std::size_t>(y) * width + x) * components];
        if (components == 1) return pixel[0];
        const double r = pixel[0], g = pixel[1], b = pixel[2];
        switch (c) {
        case 0: return 0.299 * r + 0.587 * g + 0.114 * b;
        case 1: return -0.168736 * r - 0.331264 * g + 0.5 * b + 128;
        default: return 0.5 * r - 0.418688 * g - 0.081312 * b + 128;
        }
    }

    void encodeBlock(BitWriter& writer, const std::vector<unsigned char>& samples, int left,
                     int top, int c, int* previousDc) const
    {
        double level[blockSide][blockSide];
        for (int y = 0; y < blockSide; ++y)
            for (int x = 0; x < blockSide; ++x) level[y][x] = sample(samples, left + x, top + y, c) - 128;
        const std::array<int, 64>& table = quant[c == 0 ? 0 : 1];
        int coefficients[64];
        for (int v = 0; v < blockSide; ++v) {
            for (int u = 0; u < blockSide; ++u) {
                double sum = 0;
                for (int y = 0; y < blockSide; ++y)
                    for (int x = 0; x < blockSide; ++x) sum += level[y][x] * cosines[x][u] * cosines[y][v];
                const double cu = u == 0 ? std::sqrt(0.5) : 1.0;
                const double cv = v == 0 ? std::sqrt(0.5) : 1.0;
                const int index = v * blockSide + u;
                coefficients[index] = static_cast<int>(std::lround(sum * cu * cv / 4 / table[index]));
            }
        }
        const int dc = coefficients[0] - *previousDc;
        *previousDc = coefficients[0];
        const int dcSize = magnitudeBits(dc);
        writer.put(dcCodes[dcSize].code, dcCodes[dcSize].length);
        putValue(writer, dc, dcSize);
        int run = 0;
        for (int k = 1; k < 64; ++k) {
            const int value = coefficients[zigzag[k]];
            if (value == 0) {
                ++run;
                continue;
            }
            for (; run >= 16; run -= 16) writer.put(acCodes[0xF0].code, acCodes[0xF0].length);
            const int size = magnitudeBits(value);
            const HuffmanCode& code = acCodes[(run << 4) | size];
            writer.put(code.code, code.length);
            putValue(writer, value, size);
            run = 0;
        }
        if (run > 0) writer.put(acCodes[0x00].code, acCodes[0x00].length);
    }

    std::vector<unsigned char> encode(const std::vector<unsigned char>& samples) const
    {
        std::vector<unsigned char> out = {0xFF, 0xD8};
        putMarker(out, 0xE0, 14);
        const unsigned char jfif[] = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
        out.insert(out.end(), std::begin(jfif), std::end(jfif));
        for (int t = 0; t < (components == 1 ? 1 : 2); ++t) {
            putMarker(out, 0xDB, 65);
            out.push_back(static_cast<unsigned char>(t));
            for (int k = 0; k < 64; ++k) out.push_back(static_cast<unsigned char>(quant[t][zigzag[k]]));
        }
        putMarker(out, 0xC0, static_cast<unsigned>(6 + 3 * components));
        out.push_back(8);
        putWord(out, static_cast<unsigned>(height));
        putWord(out, static_cast<unsigned>(width));
        out.push_back(static_cast<unsigned char>(components));
        for (int c = 0; c < components; ++c) {
            out.push_back(static_cast<unsigned char>(c + 1));
            out.push_back(0x11);
            out.push_back(c == 0 ? 0 : 1);
        }
        putHuffmanTable(out, 0, dcBits, dcValues);
        putHuffmanTable(out, 1, acBits, acValues);
        putMarker(out, 0xDA, static_cast<unsigned>(4 + 2 * components));
        out.push_back(static_cast<unsigned char>(components));
        for (int c = 0; c < components; ++c) {
            out.push_back(static_cast<unsigned char>(c + 1));
            out.push_back(0x00);
        }
        out.push_back(0);
        out.push_back(63);
        out.push_back(0);

        BitWriter writer(out);
        int previousDc[3] = {0, 0, 0};
        for (int top = 0; top < height; top += blockSide)
            for (int left = 0; left < width; left += blockSide)
                for (int c = 0; c < components; ++c)
                    encodeBlock(writer, samples, left, top, c, &previousDc[c]);
        writer.finish();
        out.push_back(0xFF);
        out.push_back(0xD9);
        return out;
    }
};

void fail(j_compress_ptr info) { info->err->error_exit(reinterpret_cast<j_common_ptr>(info)); }

}  // namespace

jpeg_error_mgr* jpeg_std_error(jpeg_error_mgr* err)
{
    err->error_exit = [](j_common_ptr) { std::abort(); };
    return err;
}

void jpeg_create_compress(j_compress_ptr info)
{
    jpeg_error_mgr* const err = info->err;
    *info = jpeg_compress_struct{};
    info->err = err;
    info->quality = 75;
    info->samples = new std::vector<unsigned char>();
}

void jpeg_mem_dest(j_compress_ptr info, unsigned char** buffer, unsigned long* size)
{
    info->destination = buffer;
    info->destinationSize = size;
}

void jpeg_set_defaults(j_compress_ptr info) { info->quality = 75; }

void jpeg_set_quality(j_compress_ptr info, int quality, boolean) { info->quality = quality; }

void jpeg_start_compress(j_compress_ptr info, boolean)
{
    const bool shapeOk = info->image_width > 0 && info->image_height > 0 &&
                         info->image_width <= 65535 && info->image_height <= 65535;
    const bool colourOk = (info->input_components == 1 && info->in_color_space == JCS_GRAYSCALE) ||
                          (info->input_components == 3 && info->in_color_space == JCS_RGB);
    if (!shapeOk || !colourOk || !info->destination || !info->samples) fail(info);
    info->next_scanline = 0;
    info->samples->clear();
}

JDIMENSION jpeg_write_scanlines(j_compress_ptr info, JSAMPARRAY rows, JDIMENSION count)
{
    const std::size_t rowBytes = static_cast<std::size_t>(info->image_width) * info->input_components;
    JDIMENSION written = 0;
    for (; written < count && info->next_scanline < info->image_height; ++written, ++info->next_scanline)
        info->samples->insert(info->samples->end(), rows[written], rows[written] + rowBytes);
    return written;
}

void jpeg_finish_compress(j_compress_ptr info)
{
    if (info->next_scanline != info->image_height) fail(info);
    const Encoder encoder(static_cast<int>(info->image_width), static_cast<int>(info->image_height),
                          info->input_components, info->quality);
    const std::vector<unsigned char> file = encoder.encode(*info->samples);
    auto* block = static_cast<unsigned char*>(std::malloc(file.size()));
    if (block) std::memcpy(block, file.data(), file.size());
    *info->destination = block;
    *info->destinationSize = block ? file.size() : 0;
}

void jpeg_destroy_compress(j_compress_ptr info)
{
    delete info->samples;
    info->samples = nullptr;
}
