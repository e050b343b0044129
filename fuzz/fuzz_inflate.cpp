// libFuzzer entry point: inflation of arbitrary bytes into blocks of every
// size, the retry a caller makes included; and the one-call inflater, which
// may take a stream only where the streaming way gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/inflate.h"
#include "platform/memory.h"

using namespace ravoth;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    // The first two bytes give the first capacity; the rest is the stream.
    std::size_t capacity = static_cast<std::size_t>(data[0]) << 8 | data[1];
    const std::vector<Byte> stream(data + 2, data + size);
    for (int attempt = 0; attempt < 3; ++attempt) {
        Byte* output = allocZeroedBlock(capacity);
        if (!output) return 0;
        std::size_t room = capacity;
        const int result = inflateStream(stream.data(), stream.size(), output, room);
        freeBlock(output);
        if (result != -10) break;
        capacity = capacity * 4 + 1;
    }

    // The same two bytes as the size the stream is said to yield.
    const std::size_t expected = static_cast<std::size_t>(data[0]) << 8 | data[1];
    std::vector<Byte> whole(expected + 1);
    static WholeInflater inflater;
    if (!inflater.inflate(stream.data(), stream.size(), whole.data(), expected)) return 0;
    Byte* output = allocZeroedBlock(expected + 1);
    if (!output) return 0;
    std::size_t room = expected + 1;
    const int result = inflateStream(stream.data(), stream.size(), output, room);
    const bool same = result == 0 && room == expected && std::memcmp(output, whole.data(), expected) == 0;
    freeBlock(output);
    if (!same) std::abort();
    return 0;
}
