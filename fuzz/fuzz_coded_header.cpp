// libFuzzer entry point: the header readers that count a JPEG's or a JPEG
// 2000's components, over any bytes. They walk lengths the bytes declare;
// what is looked for is a read past the input, which the sanitizers report.
#include <cstdint>

#include "image/coded_header.h"

using namespace ravoth;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    jpegComponents(data, size);
    jpxComponents(data, size);
    return 0;
}
