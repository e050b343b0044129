// ravoth-bench: writes PDFs in Mesker's layout and times ravoth-cli against
// the extractors people use instead, on the same files in the same run.
//
//   ravoth-bench [--folder DIR] [--scale PERCENT] [--repeat N] [--only NAME] [--keep 1]
//                [--other-cli PATH]
//
// Peers are run when they are installed (pdfimages, mutool, qpdf); not on
// the documents of gigabytes. --other-cli times a second ravoth-cli (an
// earlier build) beside this one. A document's runs are timed by turns, one
// round after another, and every figure is the best of --repeat rounds:
// wall time, the peak resident memory of the process (file pages of a
// mapped document included) and the peak of its anonymous memory, sampled.
// The large JPEG set is also written to /dev/shm, beside `split` cutting the
// same document into as many files there.
#include <malloc.h>
#include <linux/magic.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/encoded_file.h"
#include "tests/fixture/general_pdf.h"
#include "tests/fixture/pdf_builder.h"

namespace fs = std::filesystem;
using namespace ravoth::fixture;

namespace {

struct Measure {
    double seconds = 0;
    long peakKiB = 0;
    long anonKiB = 0;  // sampled; a run of a few milliseconds may show less
    int status = -1;
    std::uint64_t outBytes = 0;  // of the files the tool left in its folder
};

// The process's anonymous memory (its heap and other private memory, not
// the file pages it maps), from /proc; -1 when it cannot be read.
long anonymousKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "RssAnon:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

// Runs argv in `folder`, output discarded, and measures it.
Measure runOnce(const std::vector<std::string>& argv, const fs::path& folder)
{
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    // Started in `folder` through the shell's cd, output discarded, under
    // GNU time: the peak resident memory a process reports includes that of
    // the process it was started from, and time's is small.
    const fs::path report = folder.parent_path() / ".time-report";
    std::vector<std::string> command = {"/usr/bin/time", "-f", "%M", "-o", report.string(),
                                        "/bin/sh", "-c", "cd \"$0\" && exec \"$@\" >/dev/null 2>&1",
                                        folder.string()};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (const std::string& a : command) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t child = 0;
    Measure m;
    if (posix_spawn(&child, args[0], nullptr, nullptr, args.data(), environ) != 0) return m;
    int status = 0;
    rusage usage{};
    // The tool is time's child; its memory is sampled until it ends.
    const std::string children = "/proc/" + std::to_string(child) + "/task/" + std::to_string(child) + "/children";
    for (;;) {
        const pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        std::ifstream list(children);
        pid_t tool = 0;
        if (list >> tool) m.anonKiB = std::max(m.anonKiB, anonymousKiB(tool));
        usleep(2000);
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(report);
    if (!(in >> m.peakKiB)) m.peakKiB = -1;
    fs::remove(report);
    return m;
}

// Whether `folder` is on a file system kept in memory, where the system
// copies nothing between it and a document on disk.
bool isTmpfs(const fs::path& folder)
{
    struct statfs info {};
    return ::statfs(folder.c_str(), &info) == 0 && info.f_type == TMPFS_MAGIC;
}

bool installed(const std::string& tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// A fresh, empty output folder for one run.
fs::path freshFolder(const fs::path& base, const std::string& name)
{
    const fs::path folder = base / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// The runs of one document, timed by turns: each round runs every one of
// them once, and each keeps its best. On a file system that discards freed
// blocks, creating files stays slow for minutes after thousands were
// removed; run one after another, a tool's repeats would all meet the state
// the one before it left, and the ratios would measure the order.
class Lineup {
public:
    // `name` is the run's output folder under `base`; @OUT@ in argv stands
    // for it.
    std::size_t add(std::vector<std::string> argv, fs::path base, std::string name)
    {
        runs_.push_back({std::move(argv), std::move(base), std::move(name), {}});
        return runs_.size() - 1;
    }

    void run(int repeat)
    {
        for (int round = 0; round < repeat; ++round)
            for (Run& r : runs_) fold(r.best, measure(r), round == 0);
    }

    const Measure& operator[](std::size_t index) const { return runs_[index].best; }

private:
    struct Run {
        std::vector<std::string> argv;
        fs::path base;
        std::string name;
        Measure best;
    };

    static Measure measure(const Run& r)
    {
        const fs::path folder = freshFolder(r.base, r.name);
        // Pages that the run before left dirty would be written back during
        // this one and slow it down.
        sync();
        std::vector<std::string> args = r.argv;
        for (std::string& a : args)
            if (a.find("@OUT@") != std::string::npos) a.replace(a.find("@OUT@"), 5, folder.string());
        Measure m = runOnce(args, folder);
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(folder, error))
            if (entry.is_regular_file(error)) m.outBytes += entry.file_size(error);
        fs::remove_all(folder);
        return m;
    }

    // The fastest run's figures, with the highest anonymous memory of all.
    static void fold(Measure& best, const Measure& m, bool first)
    {
        const long anon = first ? m.anonKiB : std::max(best.anonKiB, m.anonKiB);
        if (first || m.seconds < best.seconds) best = m;
        best.anonKiB = anon;
    }

    std::vector<Run> runs_;
};

// Text-like marks on white, for the 1-bit and near-white pages.
std::string scanLikeSamples(int width, int height, int bits, bool isGray, unsigned seed, int inkPerMille)
{
    const int components = isGray ? 1 : 3;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * components * bits + 7) / 8;
    std::string samples(rowBytes * height, static_cast<char>(bits == 1 ? 0xFF : 0xFF));
    unsigned state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        const bool textLine = (y / 24) % 2 == 1 && (y % 24) < 16;
        if (!textLine) continue;
        for (std::size_t x = 0; x < rowBytes; ++x) {
            state = state * 1103515245u + 12345u;
            if (static_cast<int>((state >> 16) % 1000) < inkPerMille) samples[y * rowBytes + x] = static_cast<char>((state >> 8) & 0xFF);
        }
    }
    return samples;
}

struct Workload {
    std::string name;
    std::string description;
    std::vector<MeskerPage> pages;
    // Zero bytes left before the second page (a sparse file): a document of
    // gigabytes that costs no disk.
    std::uint64_t holeBytes = 0;
    // Too large for the peers' time and the disk they would fill.
    bool ravothOnly = false;
    // Another producer's document, read with -a: written by this instead of
    // from `pages`.
    std::function<void(const fs::path&)> writeGeneral{};
};

// Pages whose JPEG streams are `bytes` bytes each, written straight to the
// file: scans of several hundred megabytes a page.
std::vector<MeskerPage> hugeJpegPages(int count, std::uint64_t bytes)
{
    std::vector<MeskerPage> pages(static_cast<std::size_t>(count));
    for (MeskerPage& page : pages) {
        page.filter = PageFilter::DCT;
        page.width = 20000;
        page.height = 28000;
        page.filledStreamBytes = bytes;
    }
    return pages;
}

std::vector<MeskerPage> jpegPages(int count, int width, int height, int distinct, int quality)
{
    std::vector<Bytes> jpegs;
    for (int k = 0; k < distinct; ++k) jpegs.push_back(makeJpeg(width, height, false, static_cast<unsigned>(k + 1), quality));
    std::vector<MeskerPage> pages;
    for (int k = 0; k < count; ++k) {
        MeskerPage page;
        page.filter = PageFilter::DCT;
        page.width = width;
        page.height = height;
        page.bitsPerComponent = 8;
        page.isGray = false;
        page.data = jpegs[static_cast<std::size_t>(k % distinct)];
        pages.push_back(std::move(page));
    }
    return pages;
}

std::vector<MeskerPage> flatePages(int count, int width, int height, int bits, bool isGray, int inkPerMille, int distinct)
{
    std::vector<Bytes> streams;
    for (int k = 0; k < distinct; ++k)
        streams.push_back(deflateBytes(scanLikeSamples(width, height, bits, isGray, static_cast<unsigned>(k + 1), inkPerMille)));
    std::vector<MeskerPage> pages;
    for (int k = 0; k < count; ++k) {
        MeskerPage page;
        page.filter = PageFilter::Flate;
        page.width = width;
        page.height = height;
        page.bitsPerComponent = bits;
        page.isGray = isGray;
        page.data = streams[static_cast<std::size_t>(k % distinct)];
        page.precompressed = true;
        pages.push_back(std::move(page));
    }
    return pages;
}

// The pages as another producer writes them (one image a page, a classic
// cross-reference table, its own /Producer), through qpdf.
std::function<void(const fs::path&)> generalDocument(std::vector<std::pair<std::string, std::string>> images,
                                                     const std::string& entries, const std::string& filter,
                                                     const std::string& parms)
{
    return [=](const fs::path& pdf) {
        ravoth::testing::DocumentPlan plan;
        plan.objectStreams = false;
        plan.producer = "img2pdf 0.4.4";
        for (const auto& [size, data] : images)
            plan.pages.push_back(ravoth::testing::PagePlan{{{size + " " + entries, data, filter, parms}}});
        ravoth::testing::writeGeneralPdf(plan, pdf.string());
    };
}

// Pages as img2pdf makes them from PNG files (each file's IDAT data a Flate
// stream with PNG predictors), from `distinct` scans written as PNG by
// libpng.
std::function<void(const fs::path&)> img2pdfFromPng(int count, int width, int height, int bits, bool isGray,
                                                    int inkPerMille, int distinct)
{
    return [=](const fs::path& pdf) {
        const fs::path folder = pdf.parent_path() / (pdf.stem().string() + "-png");
        fs::create_directories(folder);
        std::vector<std::string> files;
        for (int k = 0; k < distinct; ++k) {
            const std::string samples = scanLikeSamples(width, height, bits, isGray, static_cast<unsigned>(k + 1), inkPerMille);
            ravoth::Raster raster;
            raster.rows = reinterpret_cast<const ravoth::Byte*>(samples.data());
            raster.width = width;
            raster.height = height;
            raster.bitsPerSample = bits;
            raster.samplesPerPixel = isGray ? 1 : 3;
            raster.rowBytes = samples.size() / static_cast<std::size_t>(height);
            ravoth::PreparedBitmap png;
            if (ravoth::encodePng(raster, &png) != 0) return;
            files.push_back((folder / (std::to_string(k) + ".png")).string());
            writeFile(files.back(), std::string(reinterpret_cast<const char*>(png.pixels.get()), png.imageBytes));
        }
        std::vector<std::string> command = {"img2pdf", "-o", pdf.string()};
        for (int k = 0; k < count; ++k) command.push_back(files[static_cast<std::size_t>(k % distinct)]);
        runOnce(command, folder);
        fs::remove_all(folder);
    };
}

// Pages as img2pdf makes them from JPEG files: each file's bytes one page's
// DCT stream, `distinct` pictures repeated.
std::function<void(const fs::path&)> img2pdfFromJpeg(int count, int width, int height, int distinct, int quality)
{
    return [=](const fs::path& pdf) {
        const fs::path folder = pdf.parent_path() / (pdf.stem().string() + "-jpeg");
        fs::create_directories(folder);
        std::vector<std::string> files;
        for (int k = 0; k < distinct; ++k) {
            files.push_back((folder / (std::to_string(k) + ".jpg")).string());
            writeFile(files.back(), makeJpeg(width, height, false, static_cast<unsigned>(k + 1), quality));
        }
        std::vector<std::string> command = {"img2pdf", "-o", pdf.string()};
        for (int k = 0; k < count; ++k) command.push_back(files[static_cast<std::size_t>(k % distinct)]);
        runOnce(command, folder);
        fs::remove_all(folder);
    };
}

std::vector<std::pair<std::string, std::string>> repeated(int count, const std::vector<std::string>& distinct,
                                                          const std::string& size)
{
    std::vector<std::pair<std::string, std::string>> images;
    for (int k = 0; k < count; ++k) images.emplace_back(size, distinct[static_cast<std::size_t>(k) % distinct.size()]);
    return images;
}

std::vector<std::string> distinctJpegs(int width, int height, int distinct, int quality)
{
    std::vector<std::string> jpegs;
    for (int k = 0; k < distinct; ++k) jpegs.push_back(makeJpeg(width, height, false, static_cast<unsigned>(k + 1), quality));
    return jpegs;
}

std::vector<std::string> distinctFaxes(int width, int height, int distinct)
{
    std::vector<std::string> faxes;
    for (int k = 0; k < distinct; ++k) {
        // Ink is 1 in a fax: the scan's white 1 bits turned round.
        std::string rows = scanLikeSamples(width, height, 1, true, static_cast<unsigned>(k + 1), 500);
        for (char& c : rows) c = static_cast<char>(~c);
        faxes.push_back(ravoth::testing::group4(rows, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)));
    }
    return faxes;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path base = fs::temp_directory_path() / "ravoth-bench";
    int scale = 100;
    int repeat = 1;
    std::string only;
    bool keep = false;
    std::string otherCli;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--folder") base = argv[i + 1];
        else if (option == "--scale") scale = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--only") only = argv[i + 1];
        else if (option == "--keep") keep = std::atoi(argv[i + 1]) != 0;
        else if (option == "--other-cli") otherCli = argv[i + 1];
    }
    const fs::path self = fs::canonical("/proc/self/exe");
    const std::string cli = (self.parent_path() / "ravoth-cli").string();
    fs::create_directories(base);
    auto scaled = [&](int n) { return std::max(1, n * scale / 100); };

    // Each workload's pages are made only when its turn comes and freed once
    // its PDF is written: the tools start from a small process, so that the
    // memory they are measured with is their own.
    struct Plan {
        std::string name;
        std::function<Workload()> make;
    };
    std::vector<Plan> plans = {
        {"jpeg-large", [&] { return Workload{"jpeg-large", "1240x1754 JPEG pages", jpegPages(scaled(2000), 1240, 1754, 6, 97)}; }},
        {"flate-1bit", [&] { return Workload{"flate-1bit", "2480x3508 1-bit Flate pages", flatePages(scaled(100), 2480, 3508, 1, true, 500, 4)}; }},
        {"flate-24bit", [&] { return Workload{"flate-24bit", "2480x3508 24-bit Flate pages, near white", flatePages(scaled(50), 2480, 3508, 8, false, 2, 4)}; }},
        {"any-jpeg-large", [&] {
             Workload work{"any-jpeg-large", "1240x1754 JPEG pages, another producer's", {}};
             work.writeGeneral = generalDocument(repeated(scaled(2000), distinctJpegs(1240, 1754, 6, 97), "/Width 1240 /Height 1754"),
                                                 "/ColorSpace /DeviceRGB /BitsPerComponent 8", "/DCTDecode", "");
             return work;
         }},
        {"any-ccitt", [&] {
             Workload work{"any-ccitt", "2480x3508 CCITT G4 pages, another producer's", {}};
             work.writeGeneral = generalDocument(repeated(scaled(500), distinctFaxes(2480, 3508, 4), "/Width 2480 /Height 3508"),
                                                 "/ColorSpace /DeviceGray /BitsPerComponent 1", "/CCITTFaxDecode",
                                                 "<< /K -1 /Columns 2480 /Rows 3508 >>");
             return work;
         }},
        // Another producer's pages that only img2pdf writes: sets of their own,
        // measured where it is installed.
        {"any-jpeg-img2pdf", [&] {
             Workload work{"any-jpeg-img2pdf", "1240x1754 JPEG pages by img2pdf", {}};
             work.writeGeneral = img2pdfFromJpeg(scaled(2000), 1240, 1754, 6, 97);
             return work;
         }},
        {"any-flate-24bit", [&] {
             Workload work{"any-flate-24bit", "2480x3508 24-bit PNG pages by img2pdf, near white", {}};
             work.writeGeneral = img2pdfFromPng(scaled(100), 2480, 3508, 8, false, 2, 4);
             return work;
         }},
        {"any-flate-1bit", [&] {
             Workload work{"any-flate-1bit", "2480x3508 1-bit PNG pages by img2pdf", {}};
             work.writeGeneral = img2pdfFromPng(scaled(100), 2480, 3508, 1, true, 500, 4);
             return work;
         }},
        {"jpeg-small-1000", [&] { return Workload{"jpeg-small-1000", "small JPEG pages", jpegPages(scaled(1000), 48, 48, 8, 75)}; }},
        {"jpeg-small", [&] { return Workload{"jpeg-small", "small JPEG pages", jpegPages(scaled(10000), 48, 48, 8, 75)}; }},
        {"jpeg-huge", [&] { return Workload{"jpeg-huge", "JPEG pages of 850 MB", hugeJpegPages(3, std::uint64_t{850'000'000} * scale / 100), 0, true}; }},
    };
    for (const int gigabytes : {3, 9}) {
        const std::string name = "sparse-" + std::to_string(gigabytes) + "g";
        plans.push_back({name, [=] {
                             std::vector<MeskerPage> pages = jpegPages(2, 1240, 1754, 2, 97);
                             pages.insert(pages.begin() + 1, flatePages(1, 2480, 3508, 8, false, 2, 1).front());
                             return Workload{name, "pages around a hole, sparse", std::move(pages),
                                             std::uint64_t{1'000'000'000} * gigabytes, true};
                         }});
    }

    std::printf("%-16s %-16s %10s %10s %10s %12s %10s\n", "work", "tool", "wall s", "peak MiB", "anon MiB",
                "tool/ravoth", "out MB");
    std::fflush(stdout);
    for (const Plan& plan : plans) {
        if (!only.empty() && only != plan.name) continue;
        Workload work = plan.make();
        const bool general = static_cast<bool>(work.writeGeneral);
        const std::size_t pageCount = general ? 0 : work.pages.size();
        const fs::path pdf = base / (work.name + ".pdf");
        if (work.description.find("by img2pdf") != std::string::npos && !installed("img2pdf")) {
            std::printf("# %s: skipped, img2pdf is not installed\n", work.name.c_str());
            continue;
        }
        if (general) {
            work.writeGeneral(pdf);
        } else {
            MeskerDocument document;
            document.pages = std::move(work.pages);
            document.holeBytes = work.holeBytes;
            document.holeBeforePage = 1;
            const BuiltPdf built = buildMesker(document);
            writeFile(pdf.string(), built);
        }
        malloc_trim(0);
        const auto bytes = fs::file_size(pdf);
        if (general)
            std::printf("# %s: %s, %.1f MB\n", work.name.c_str(), work.description.c_str(), static_cast<double>(bytes) / 1e6);
        else
            std::printf("# %s: %zu pages of %s, %.1f MB\n", work.name.c_str(), pageCount,
                        work.description.c_str(), static_cast<double>(bytes) / 1e6);
        // Warm the page cache.
        runOnce({"cat", pdf.string()}, base);

        std::vector<std::string> ourArgs = {cli, "-q", "-o", "@OUT@/page", pdf.string()};
        if (general) ourArgs.insert(ourArgs.begin() + 1, "-a");
        // PNG pages are measured against the peers' PNG.
        const bool pngPeers = work.name.rfind("any-flate", 0) == 0;
        if (pngPeers) ourArgs.insert(ourArgs.begin() + 1, {"--format", "png"});
        const bool isFlate = work.name.rfind("flate-", 0) == 0;
        const bool isJpeg = work.name.find("jpeg") != std::string::npos;
        const bool peers = !work.ravothOnly;
        const bool pdfimages = peers && installed("pdfimages");

        // Every run of this document, in the order of the rows.
        Lineup lineup;
        using Slot = std::optional<std::size_t>;
        const std::size_t ours = lineup.add(ourArgs, base, "out-ravoth");
        // The output formats against the run above: one archive against a
        // copy of the document, PNG pages against bitmaps.
        Slot archive, png, other;
        if (work.name.find("jpeg-large") != std::string::npos) {
            std::vector<std::string> archiveArgs = ourArgs;
            archiveArgs.insert(archiveArgs.begin() + 1, {"--cbz", "@OUT@/book.cbz"});
            archive = lineup.add(archiveArgs, base, "out-cbz");
        }
        if (isFlate) {
            std::vector<std::string> pngArgs = ourArgs;
            pngArgs.insert(pngArgs.begin() + 1, {"--format", "png"});
            png = lineup.add(pngArgs, base, "out-png");
        }
        if (!otherCli.empty()) {
            std::vector<std::string> otherArgs = ourArgs;
            otherArgs.front() = otherCli;
            other = lineup.add(otherArgs, base, "out-other");
        }
        const std::size_t copy = lineup.add({"cp", pdf.string(), "@OUT@/copy.pdf"}, base, "out-copy");
        // JPEG pages written to a file system in memory, to which the system
        // copies nothing from the document's disk: against `split` cutting
        // the same document into as many files there, blind to what is in
        // it. Each run's output is removed before the next, as it takes the
        // machine's memory.
        const fs::path memoryBase = fs::path("/dev/shm") / ("ravoth-bench-" + std::to_string(getpid()));
        Slot inMemory, split, memoryCopy;
        const bool memoryRows = work.name == "jpeg-large";
        if (memoryRows && !isTmpfs(memoryBase.parent_path())) {
            std::printf("%-16s no tmpfs at %s: its rows are skipped\n", work.name.c_str(), memoryBase.parent_path().c_str());
        } else if (memoryRows) {
            fs::create_directories(memoryBase);
            inMemory = lineup.add(ourArgs, memoryBase, "out-ravoth");
            split = lineup.add({"split", "-n", std::to_string(pageCount), pdf.string(), "@OUT@/part-"}, memoryBase, "out-split");
            memoryCopy = lineup.add({"cp", pdf.string(), "@OUT@/copy.pdf"}, memoryBase, "out-copy");
        }
        std::vector<std::pair<std::string, std::size_t>> peerRows;
        Slot zipped;
        if (pdfimages) {
            auto addPdfimages = [&](const char* row, std::vector<std::string> options, const char* name) {
                options.insert(options.begin(), "pdfimages");
                options.insert(options.end(), {pdf.string(), "@OUT@/img"});
                peerRows.emplace_back(row, lineup.add(options, base, name));
            };
            if (work.name == "any-ccitt") {
                addPdfimages("pdfimages -ccitt", {"-ccitt"}, "out-pdfimages-c");
                addPdfimages("pdfimages -tiff", {"-tiff"}, "out-pdfimages-t");
            }
            if (pngPeers) addPdfimages("pdfimages -png", {"-png"}, "out-pdfimages-p");
            if (isJpeg) addPdfimages("pdfimages -j", {"-j"}, "out-pdfimages-j");
            // The archive's peer: the pictures taken out, then stored into
            // a ZIP as they are.
            if (archive && installed("zip"))
                zipped = lineup.add({"sh", "-c", "pdfimages -j \"$0\" img && zip -0 -q book.zip img-*", pdf.string()},
                                    base, "out-pdfimages-zip");
            // Raw output of large JPEG pages is gigabytes of PPM and minutes.
            if (work.name != "jpeg-large" && work.name != "any-jpeg-large" && work.name != "any-ccitt" &&
                work.name != "any-jpeg-img2pdf" && !pngPeers)
                addPdfimages("pdfimages raw", {}, "out-pdfimages");
        }
        if (peers && installed("mutool"))
            peerRows.emplace_back("mutool extract", lineup.add({"mutool", "extract", pdf.string()}, base, "out-mutool"));
        if (peers && installed("qpdf"))
            peerRows.emplace_back("qpdf decode",
                                  lineup.add({"qpdf", "--json", "--json-stream-data=file", "--json-stream-prefix=@OUT@/s",
                                              "--decode-level=generalized", pdf.string(), "@OUT@/out.json"},
                                             base, "out-qpdf"));
        lineup.run(repeat);
        if (inMemory) fs::remove_all(memoryBase);

        const Measure& ourRun = lineup[ours];
        if (ourRun.status != 0) std::printf("  ravoth-cli exited with %d\n", ourRun.status);
        auto row = [&](const std::string& tool, const Measure& m) {
            std::printf("%-16s %-16s %10.3f %10.1f %10.1f %12.2f %10.1f%s\n", work.name.c_str(), tool.c_str(), m.seconds,
                        static_cast<double>(m.peakKiB) / 1024.0, static_cast<double>(m.anonKiB) / 1024.0,
                        m.seconds / ourRun.seconds, static_cast<double>(m.outBytes) / 1e6,
                        m.status == 0 ? "" : "  (exit status not 0)");
        };
        row("ravoth-cli", ourRun);
        if (archive) row("ravoth --cbz", lineup[*archive]);
        if (png) {
            row("ravoth png", lineup[*png]);
            std::printf("%-16s png against bmp: %.2fx the time, %.3fx the bytes\n", work.name.c_str(),
                        lineup[*png].seconds / ourRun.seconds,
                        static_cast<double>(lineup[*png].outBytes) / static_cast<double>(ourRun.outBytes));
        }
        if (other) row("other ravoth-cli", lineup[*other]);
        row("copy floor", lineup[copy]);
        if (archive)
            std::printf("%-16s --cbz against cp: %.2fx the time\n", work.name.c_str(),
                        lineup[*archive].seconds / lineup[copy].seconds);
        if (inMemory) {
            row("ravoth tmpfs", lineup[*inMemory]);
            row("split tmpfs", lineup[*split]);
            row("cp tmpfs", lineup[*memoryCopy]);
            std::printf("%-16s tmpfs against split: %.2fx the time\n", work.name.c_str(),
                        lineup[*inMemory].seconds / lineup[*split].seconds);
        }
        for (const auto& [tool, slot] : peerRows) {
            row(tool, lineup[slot]);
            if (tool == "pdfimages -j" && zipped) {
                row("pdfimages+zip", lineup[*zipped]);
                std::printf("%-16s --cbz against pdfimages -j and zip -0: %.2fx faster\n", work.name.c_str(),
                            lineup[*zipped].seconds / lineup[*archive].seconds);
            }
        }
        // Kept PDFs are for profiling one tool by hand.
        if (!keep) fs::remove(pdf);
    }
    return 0;
}
