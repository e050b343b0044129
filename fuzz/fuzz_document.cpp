// libFuzzer entry point: a whole document through the reader, the outline
// phase, the page locator, inflation and title decoding. Nothing is written
// to disk.
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/inflate.h"
#include "image/page_image.h"
#include "image/title_name.h"
#include "fuzz/read_structure.h"
#include "platform/memory.h"

using namespace ravoth;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    // The first byte chooses the options; the rest is the document, in a
    // block of exactly its size so that any over-read is caught.
    outlineOption = (data[0] & 1) != 0;
    const std::size_t documentBytes = size - 1;
    std::vector<Byte> document(data + 1, data + size);
    const Byte* docStart = document.data();
    const Byte* docEnd = docStart + documentBytes;

    const ScanBudget budget(scanBudgetFor(documentBytes));
    const ReadStructure read(docStart, docEnd);
    if (read.pages >= 1) {
        for (int page = 0; page < 16; ++page) {
            ImageInfo info;
            if (locatePageImage(docStart, docEnd, page, read.tableStart, read.tableEnd,
                                read.pageListStart, read.pageListEnd, &info) != 0)
                continue;
            if (info.filter == Filter::Flate) {
                std::size_t capacity = 1 << 16;
                Byte* samples = allocZeroedBlock(capacity);
                if (samples) inflateStream(info.streamData, static_cast<std::size_t>(info.streamLength), samples, capacity);
                freeBlock(samples);
            }
            freeBlock(info.streamData);
        }
    }
    for (std::int32_t k = 1; read.outlines && k < read.outlineCount; ++k) {
        const OutlineEntry& entry = read.outlines[k];
        const int capacity = titleBufferBytes(entry.titleLength);
        if (capacity > (1 << 20)) continue;
        std::vector<char> name(static_cast<std::size_t>(capacity));
        titleToFileName(entry.titleText, entry.titleLength, name.data(), capacity);
    }
    return 0;
}
