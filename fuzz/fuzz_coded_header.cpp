// libFuzzer entry point: the header readers that count a JPEG's or a JPEG
// 2000's components, over any bytes.
#include <cstdint>
#include <cstdlib>

#include "image/coded_header.h"

using namespace ravoth;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A count is 1 to 255 for JPEG, up to 16384 for JPEG 2000, or 0.
    if (static_cast<unsigned>(jpegComponents(data, size)) > 255) std::abort();
    if (static_cast<unsigned>(jpxComponents(data, size)) > 65535) std::abort();
    return 0;
}
