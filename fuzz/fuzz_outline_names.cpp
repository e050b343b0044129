// libFuzzer entry point: the bookmark-names path. A whole document through
// the reader with the outline phase on (outline items, named destination
// tables, page indexes), then every bookmark's title decoded and made into
// a file name beside a fixed output base. Nothing touches the disk.
#include <cstdint>
#include <vector>

#include "pdf/title_name.h"
#include "job/output_names.h"
#include "fuzz/read_structure.h"

using namespace ravoth;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A block of exactly the document's size, so that any over-read is caught.
    std::vector<Byte> document(data, data + size);
    const Byte* docStart = document.data();
    const Byte* docEnd = docStart + size;
    // A budget far below a run's: many inputs spend it, and at a run's
    // floor of 16 MiB each of them would take a second under the fuzzer's
    // instrumentation. Running out is still met at every point of the
    // reader, only sooner.
    const ReadStructure read(docStart, docEnd, true, std::uint64_t{size} * 8 + (std::uint64_t{1} << 18));
    if (read.pages >= 1) {
        OutputNames names;
        setOutputNames(&names, "/out/Book.pdf", read.pages);
        for (std::int32_t k = 1; read.outlines && k < read.outlineCount; ++k) {
            const OutlineEntry& entry = read.outlines[k];
            const int capacity = titleBufferBytes(entry.titleLength);
            if (capacity > (1 << 16)) continue;
            std::vector<char> title(static_cast<std::size_t>(capacity));
            const int titleBytes =
                titleToFileName(entry.titleText, entry.titleLength, title.data(), capacity);
            PathBuffer name;
            if (titleBytes >= 1)
                formTitleName(names, title.data(), static_cast<std::size_t>(titleBytes), ".jpg", name);
            formNumberedName(names, entry.pageIndex + 1, ".bmp", name);
        }
    }
    return 0;
}
