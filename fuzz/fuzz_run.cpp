// libFuzzer entry point: one whole run over a document, as the command line
// makes it. The document is a file mapped by the run; its structure is read,
// each page located, inflated, converted and encoded, and dropped by the
// run's in-memory sink: no page file touches a file system. The first byte
// chooses the options: bit 0 bookmark titles as names, bits 1-2 the format
// of decoded pages (BMP, PNG, TIFF, or none chosen), bit 3 one archive (in a
// folder in memory, removed after each input) instead of files, bit 4 a
// listing that writes nothing.
//
// Built twice: fuzz_document runs as without -a, fuzz_general with it
// (RAVOTH_FUZZ_ANY_PRODUCER), so that what the exact reader refuses goes to
// the general reader and each page's images are read, decoded and written.
#include <cstdint>

#include "fuzz/scratch_file.h"
#include "job/extraction.h"

using namespace ravoth;

// The general reader's library allocates and frees a great many small
// blocks per document. With AddressSanitizer's defaults (a 256 MiB
// quarantine, allocation stacks of 30 frames) much of a run went to
// recycling freed memory and storing stacks: on a sample of the grown
// corpus fuzz_general ran a quarter more inputs a second with these. Freed
// blocks still wait in a quarantine of 16 MiB before reuse, and an
// allocation's report still reaches the code that asked for it. Options
// given in ASAN_OPTIONS take precedence.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16:malloc_context_size=10";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    static const fuzzing::Scratch scratch;
    // The first byte chooses the options; the rest is the document.
    scratch.hold(data + 1, size - 1);

    ExtractionRun run;
    // The structure of a document of any size may cost this much scanning:
    // a bookmark tree that points back and forth spends all of a run's own
    // bound (16 MB and more) on every input that reaches it. 16 KiB keeps
    // the bookmark phase to a fraction of a millisecond: on a grown corpus
    // it took more edges in the same time than 64 KiB or 1 MiB (the
    // budget's own end is a path the inputs reach either way).
    run.setScanBudget(std::uint64_t{1} << 14);
    run.setAnyProducer(RAVOTH_FUZZ_ANY_PRODUCER != 0);
    run.setOutlineNames((data[0] & 1) != 0);
    // 3: none chosen, the run's own default (in an archive, fax decoded).
    constexpr OutputFormat formats[] = {OutputFormat::Bmp, OutputFormat::Png, OutputFormat::Tiff};
    if (const int format = (data[0] >> 1) & 3; format < 3) run.setOutputFormat(formats[format]);
    const bool archive = (data[0] & 8) != 0;
    if (archive) run.setArchive(scratch.folder + "/Book.cbz");
    run.setListing((data[0] & 16) != 0);
    run.setMemoryOnly(true);
    run.run(scratch.path.c_str(), 0, 0, scratch.base.c_str());
    // Pages kept in memory leave the folder as they found it (a test holds
    // the run to that); reading the folder after every input cost the
    // general target 3 % of its time.
    if (archive) scratch.clear();
    return 0;
}
