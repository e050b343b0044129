#include "job/page_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "job/extraction.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/ctype_locale.h"
#include "tests/support/faults.h"
#include "tests/support/run_once.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using fixture::MeskerDocument;
using fixture::OutlineItem;
using testing::TempFolder;

// Everything a run leaves for its caller to see.
struct Observed {
    int result = 0;
    bool written = false;
    long long allocations = 0;
    std::vector<std::string> outcomes;          // page, stage, code, name
    std::map<std::string, std::string> files;  // name -> bytes

    bool operator==(const Observed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Observed& o)
{
    out << "result " << o.result << (o.written ? " written" : "") << ", " << o.allocations << " allocations\n";
    for (const std::string& line : o.outcomes) out << "  " << line << "\n";
    for (const auto& [name, bytes] : o.files) out << "  " << name << ": " << bytes.size() << " bytes\n";
    return out;
}

// Runs over `pdfBytes` in a folder of its own, page files written on the
// thread from `backgroundFrom` bytes on, the nth write request failing.
Observed run(const std::string& pdfBytes, std::size_t backgroundFrom, long long failingWrite,
             bool titles = false, std::size_t writerThreads = 2)
{
    TempFolder folder;
    const std::string pdf = folder.file("Book.pdf");
    EXPECT_TRUE(fixture::writeFile(pdf, pdfBytes));
    Observed seen;
    testing::RunOnce once = testing::runOnce(pdf, 0, 0, {}, titles, PageWriting{backgroundFrom, writerThreads},
                                             [&](FaultPlan& faults) { faults.failWriteAt(failingWrite); });
    seen.result = once.result;
    const std::vector<PageOutcome> outcomes = std::move(once.outcomes);
    seen.allocations = once.allocations;
    seen.written = once.written;
    for (const PageOutcome& o : outcomes) {
        const std::string name = o.fileName.empty() ? "" : o.fileName.substr(o.fileName.rfind('/') + 1);
        seen.outcomes.push_back(std::to_string(o.pageNumber) + " stage " + std::to_string(static_cast<int>(o.stage)) +
                                " code " + std::to_string(o.code) + " " + name);
    }
    for (const std::string& name : folder.names())
        if (name != "Book.pdf") seen.files[name] = testing::readFileBytes(folder.file(name));
    return seen;
}

// More pages than the writer holds at once, JPEG and Flate mixed, a broken
// page in the middle, and two bookmarks giving the same title: whether the
// files are written on the thread or in the run's own, the outcomes come in
// page order, the files are the same and so is every allocation the run
// asks for, also when a write fails anywhere.
TEST(PageFiles, WritingOnTheThreadChangesNothingTheCallerSees)
{
    const testing::CtypeLocale utf8{"C.UTF-8"};
    MeskerDocument document;
    for (int k = 0; k < 40; ++k) {
        const auto seed = static_cast<unsigned>(k + 1);
        document.pages.push_back(k % 3 == 2 ? fixture::flatePage(7, 5, 8, false, seed)
                                            : fixture::dctPage(16, 8, k % 2 == 0, seed));
    }
    document.editPageObject = [](int k, std::string& text) {
        if (k == 20) fixture::replaceOnce(text, "/ProcSet", "/ProcSek");
    };
    document.outline = {
        {"(Same)", fixture::destToPage(3), {}},
        {"(Same)", fixture::destToPage(6), {}},
        {"(Flate)", fixture::destToPage(8), {}},
    };
    const std::string pdfBytes = fixture::buildMesker(document).bytes;
    const std::size_t never = std::numeric_limits<std::size_t>::max();
    for (const bool titles : {false, true}) {
        for (const long long failing : {0LL, 1LL, 2LL, 17LL, 30LL}) {
            SCOPED_TRACE(std::string(titles ? "titles, " : "numbers, ") + "failing write " + std::to_string(failing));
            const Observed here = run(pdfBytes, never, failing, titles);
            // Two threads finish files in either order, so which file meets
            // the nth write request is up to them; one thread takes them in
            // order.
            const Observed there = run(pdfBytes, 0, failing, titles, failing != 0 ? 1 : 2);
            EXPECT_EQ(here.result, -13);
            EXPECT_EQ(there, here);
            // The broken page is missing, and with titles the page that
            // shares its name; a failed write costs at most one more file
            // (with titles it may hit a name's trial instead, which only
            // gives the page its number).
            const std::size_t all = titles ? 38u : 39u;
            if (failing != 0) {
                const Observed both = run(pdfBytes, 0, failing, titles, 2);
                EXPECT_EQ(both.result, here.result);
                EXPECT_EQ(both.allocations, here.allocations);
                EXPECT_EQ(both.outcomes.size(), here.outcomes.size());
                // With titles the two threads write at once too, and the
                // write they fail may be of a file whose name a later page
                // takes over anyway.
                if (titles) {
                    EXPECT_LE(both.files.size(), all);
                    EXPECT_GE(both.files.size(), all - 1);
                } else {
                    EXPECT_EQ(both.files.size(), here.files.size());
                }
            }
            EXPECT_LE(here.files.size(), all);
            EXPECT_GE(here.files.size(), all - (failing != 0 ? 1 : 0));
        }
    }
}

// Two runs on two documents in two threads of one process: each has its
// own reader state, outcomes and writers, so both leave what they leave one
// after the other. (The thread-safety build runs this under its checker.)
TEST(PageFiles, TwoRunsAtOnceLeaveWhatTheyLeaveOneAfterTheOther)
{
    const testing::CtypeLocale utf8{"C.UTF-8"};
    MeskerDocument titled;
    for (int k = 0; k < 24; ++k)
        titled.pages.push_back(k % 2 ? fixture::flatePage(9, 4, 8, true, static_cast<unsigned>(k))
                                     : fixture::dctPage(16, 8, false, static_cast<unsigned>(k)));
    titled.outline = {{"(One)", fixture::destToPage(1), {}}, {"(Two)", fixture::destToPage(4), {}}};
    MeskerDocument broken;
    for (int k = 0; k < 30; ++k) broken.pages.push_back(fixture::dctPage(8, 16, true, static_cast<unsigned>(k + 50)));
    broken.editImageObject = [](int k, std::string& text) {
        if (k % 7 == 3) fixture::replaceOnce(text, "/Height ", "/Heigth ");
    };
    const std::string documents[3] = {fixture::buildMesker(titled).bytes, fixture::buildMesker(broken).bytes,
                                      "%PDF-1.4\nstartxref\n9\n%%EOF\n"};

    struct Seen {
        int result = 0;
        std::int32_t lastError = 0;
        std::vector<std::string> outcomes;
        std::map<std::string, std::string> files;
        bool operator==(const Seen&) const = default;
    };
    // `meanwhile` runs on the run's own thread once its first page is done.
    std::function<void(int, Seen*, std::function<void()>)> extract = [&](int which, Seen* seen,
                                                                          std::function<void()> meanwhile) {
        TempFolder folder;
        const std::string pdf = folder.file("Book.pdf");
        fixture::writeFile(pdf, documents[which]);
        ExtractionRun run;
        run.setPageWriting(testing::allOnThreads);
        run.setOutlineNames(which == 0);
        run.setProgress([&](const PageProgress& progress) {
            if (progress.pagesDone == 1 && meanwhile) meanwhile();
        });
        seen->result = run.run(pdf.c_str(), 0, 0, pdf.c_str());
        seen->lastError = run.lastError();
        for (const PageOutcome& o : run.pageOutcomes())
            seen->outcomes.push_back(std::to_string(o.pageNumber) + " " + std::to_string(static_cast<int>(o.stage)) +
                                     " " + std::to_string(o.code));
        for (const std::string& name : folder.names())
            if (name != "Book.pdf") seen->files[name] = testing::readFileBytes(folder.file(name));
    };
    Seen alone[3];
    for (int which = 0; which < 3; ++which) extract(which, &alone[which], {});
    EXPECT_EQ(alone[0].result, 0);
    EXPECT_EQ(alone[1].result, -13);
    EXPECT_EQ(alone[2].result, -8);
    EXPECT_NE(alone[2].lastError, 0);
    for (int round = 0; round < 3; ++round) {
        Seen together[2];
        std::thread first([&] { extract(0, &together[0], {}); });
        std::thread second([&] { extract(1, &together[1], {}); });
        first.join();
        second.join();
        EXPECT_EQ(together[0], alone[0]);
        EXPECT_EQ(together[1], alone[1]);
    }
    // On one thread: the other runs go from start to end between the first
    // run's pages, one failing in its reader, one in its pages, one of them
    // with a run of its own inside.
    Seen outer;
    Seen inner[3];
    extract(0, &outer, [&] {
        extract(1, &inner[1], [&] { extract(0, &inner[0], {}); });
        extract(2, &inner[2], {});
    });
    EXPECT_EQ(outer, alone[0]);
    for (int which = 0; which < 3; ++which) EXPECT_EQ(inner[which], alone[which]) << which;
}

}  // namespace
}  // namespace ravoth
