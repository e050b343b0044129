#include "image/coded_header.h"

#include <cstdint>
#include <string_view>

namespace ravoth {

namespace {

std::uint32_t bigEndian(const Byte* p, int bytes)
{
    std::uint32_t value = 0;
    for (int k = 0; k < bytes; ++k) value = value << 8 | p[k];
    return value;
}

bool startsWith(const Byte* data, std::size_t bytes, std::string_view prefix)
{
    if (bytes < prefix.size()) return false;
    for (std::size_t k = 0; k < prefix.size(); ++k)
        if (data[k] != static_cast<Byte>(prefix[k])) return false;
    return true;
}

// Start-of-frame markers: C0 to CF, less DHT (C4), JPG (C8) and DAC (CC),
// which share the range.
bool isFrameMarker(Byte marker) { return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC; }

// Markers that stand alone, without a length: TEM, RST0 to RST7, SOI, EOI.
bool standsAlone(Byte marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9); }

// The boxes of `bytes` bytes at `data`; the body of the first of `type`,
// or null.
const Byte* findBox(const Byte* data, std::size_t bytes, std::string_view type, std::size_t* bodyBytes)
{
    std::size_t at = 0;
    while (bytes - at >= 8) {
        std::uint64_t length = bigEndian(data + at, 4);
        std::size_t header = 8;
        if (length == 1) {
            if (bytes - at < 16) return nullptr;
            length = std::uint64_t{bigEndian(data + at + 8, 4)} << 32 | bigEndian(data + at + 12, 4);
            header = 16;
        } else if (length == 0) {
            length = bytes - at;  // the box runs to the end
        }
        if (length < header || length > bytes - at) return nullptr;
        if (startsWith(data + at + 4, 4, type)) {
            *bodyBytes = static_cast<std::size_t>(length) - header;
            return data + at + header;
        }
        at += static_cast<std::size_t>(length);
    }
    return nullptr;
}

}  // namespace

int jpegComponents(const Byte* data, std::size_t bytes)
{
    if (!data || bytes < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
    std::size_t at = 2;
    while (at + 1 < bytes) {
        if (data[at] != 0xFF) return 0;
        const Byte marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        at += 2;
        if (standsAlone(marker)) continue;
        if (bytes - at < 2) return 0;
        const std::size_t length = bigEndian(data + at, 2);
        if (length < 2 || length > bytes - at) return 0;
        // Length, precision, height and width come before the count.
        if (isFrameMarker(marker)) return length >= 8 ? data[at + 7] : 0;
        if (marker == 0xDA) return 0;  // a scan before any frame
        at += length;
    }
    return 0;
}

int jpxComponents(const Byte* data, std::size_t bytes)
{
    if (!data) return 0;
    // A bare code stream: SOC, then SIZ with its count after the grid's
    // eight 32-bit numbers.
    if (startsWith(data, bytes, "\xFF\x4F\xFF\x51")) return bytes >= 42 ? static_cast<int>(bigEndian(data + 40, 2)) : 0;
    std::size_t headerBytes = 0;
    const Byte* header = findBox(data, bytes, "jp2h", &headerBytes);
    if (!header) return 0;
    std::size_t imageBytes = 0;
    const Byte* image = findBox(header, headerBytes, "ihdr", &imageBytes);
    // Height and width come before the count.
    return image && imageBytes >= 10 ? static_cast<int>(bigEndian(image + 8, 2)) : 0;
}

}  // namespace ravoth
