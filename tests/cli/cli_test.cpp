#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

#include "cli/options.h"
#include "tests/fixture/general_pdf.h"
#include "tests/fixture/pdf_builder.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using testing::readFileBytes;
using testing::TempFolder;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& argument)
{
    std::string result = "'";
    for (char c : argument) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

CliRun runCli(const std::vector<std::string>& arguments, const std::string& environment = "LANG=C LC_ALL=")
{
    TempFolder capture;
    // Appended piece by piece: GCC 12 warns falsely about "a" + b + c here.
    std::string command = environment;
    command.append(" ").append(quoted(RAVOTH_CLI_PATH));
    for (const std::string& argument : arguments) command.append(" ").append(quoted(argument));
    command.append(" >").append(quoted(capture.file("out")));
    command.append(" 2>").append(quoted(capture.file("err")));
    command.append(" </dev/null");
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFileBytes(capture.file("out"));
    run.err = readFileBytes(capture.file("err"));
    return run;
}

fixture::MeskerDocument threePages()
{
    fixture::MeskerDocument document;
    document.pages = {fixture::dctPage(8, 8, false, 1), fixture::flatePage(4, 2, 8, true, 2),
                      fixture::flatePage(4, 2, 4, false, 3)};
    return document;
}

// How a child is started beyond its document and its stderr.
struct ChildSetup {
    // Signals the child inherits as ignored, for the shell's trap ("HUP
    // INT"), as under nohup or as a script's background job.
    std::string ignored;
    int standardOutput = -1;  // -1: /dev/null
    std::vector<std::string> moreFiles;
};

// Starts ravoth-cli on `pdf` (stderr to `err`) and comes back once
// `firstFile` is there, so that the run is surely in the middle of its
// pages. The child's process id, or -1.
pid_t startInTheMiddle(const std::string& pdf, const std::string& err, const std::string& firstFile,
                       const ChildSetup& setup = {})
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (setup.standardOutput >= 0)
        posix_spawn_file_actions_adddup2(&actions, setup.standardOutput, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The interrupts start at their defaults whatever this program got:
    // tests started as a script's background job have SIGINT ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signalNumber);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> arguments;
    if (!setup.ignored.empty()) arguments = {"/bin/sh", "-c", "trap '' " + setup.ignored + "; exec \"$@\"", "sh"};
    arguments.insert(arguments.end(), {RAVOTH_CLI_PATH, "--lang", "en", pdf});
    arguments.insert(arguments.end(), setup.moreFiles.begin(), setup.moreFiles.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(firstFile) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return child;
}

// 40 pages of 2000 by 1500 samples: each page's file takes a while to
// write, so that a run can be caught in the middle.
constexpr int largePageCount = 40;
constexpr std::size_t largeBitmapBytes = 54 + std::size_t{2000} * 3 * 1500;

fixture::MeskerDocument largePages()
{
    fixture::MeskerDocument document;
    fixture::MeskerPage page = fixture::flatePage(2000, 1500, 8, false, 7);
    page.data = fixture::deflateBytes(page.data);
    page.precompressed = true;
    document.pages.assign(largePageCount, page);
    return document;
}

class Cli : public ::testing::Test {
protected:
    std::string write(const std::string& name, const fixture::MeskerDocument& document)
    {
        const std::string path = folder_.file(name);
        EXPECT_TRUE(fixture::writeFile(path, fixture::buildMesker(document).bytes));
        return path;
    }
    TempFolder folder_;
};

TEST_F(Cli, VerboseReportsEveryPageAndTheCodes)
{
    const std::string pdf = write("Book.pdf", threePages());
    const CliRun run = runCli({"-v", pdf});
    EXPECT_EQ(run.exitCode, 0);
    const std::string stem = folder_.file("Book");
    EXPECT_EQ(run.out, "page 1: wrote " + stem + "-1.jpg\npage 2: wrote " + stem + "-2.bmp\npage 3: wrote " + stem +
                           "-3.bmp\nresult: 0 lasterror: 0\nComplete\n");
    EXPECT_EQ(run.err, "");
}

// Each way a page of another producer's fails has its line, the same
// however the reason travels from the image code to the command line.
TEST_F(Cli, VerboseNamesEachFailureOfTheGeneralReader)
{
    const std::string gray8(6, '\x40');
    std::string noise(64 * 64, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 2654435761u >> 13);
    const std::string cut = fixture::deflateBytes(noise);
    const std::string grey = "/Width 3 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8";
    testing::DocumentPlan plan;
    plan.pages = {
        testing::PagePlan{{{"/Width 64 /Height 64 /ColorSpace /DeviceGray /BitsPerComponent 8",
                            cut.substr(0, cut.size() / 2), "/FlateDecode", ""}}},
        testing::PagePlan{{{grey, gray8, "/NoSuchDecode", ""}}},
        testing::PagePlan{{{grey, gray8, "", ""},
                           {"/Width 1 /Height 2 /ColorSpace [/Lab << /WhitePoint [1 1 1] >>] /BitsPerComponent 8",
                            gray8, "", ""}}},
        testing::PagePlan{{{"/Width 3 /Height 2", gray8, "/JBIG2Decode", ""}}},
        testing::PagePlan{},
    };
    const std::string pdf = folder_.file("Scan.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(plan, pdf));
    const CliRun run = runCli({"-a", "-v", pdf});
    EXPECT_EQ(run.out, "page 1: failed: data cut short or undecodable\n"
                       "page 2: failed: filter or colour space not read here\n"
                       "page 3: wrote " + folder_.file("Scan-3-1.bmp") + "\n"
                       "page 3: failed: image 2: colour space, depth or /Decode not written here (code -2)\n"
                       "page 4: failed: JBIG2 data yields no page (code -3)\n"
                       "page 5: no image; nothing to write\n"
                       "result: -13 lasterror: 0\nComplete\n\nBut Partly\n");
}

TEST_F(Cli, OutcomesAndExitStatus)
{
    fixture::MeskerDocument broken = threePages();
    broken.editImageObject = [](int k, std::string& text) {
        if (k == 1) fixture::replaceOnce(text, "/Height ", "/Heigth ");
    };
    const std::string partly = write("Partly.pdf", broken);
    fixture::MeskerDocument foreign = threePages();
    foreign.producer = fixture::ProducerKind::Custom;
    foreign.producerValue = " (Other)";
    const std::string failed = write("Foreign.pdf", foreign);
    const std::string good = write("Good.pdf", threePages());

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
    };
    const Case cases[] = {
        {{"-v", partly},
         1,
         "page 1: wrote " + folder_.file("Partly-1.jpg") + "\npage 2: failed: image not found (locator code -19)\n" +
             "page 3: wrote " + folder_.file("Partly-3.bmp") + "\nresult: -13 lasterror: 0\nComplete\n\nBut Partly\n"},
        {{"-v", failed}, 2, "result: -16 lasterror: 0\nFailure\n"},
        {{"-v", "--lang", "ja", failed}, 2, "result: -16 lasterror: 0\nファイル抽出に失敗しました\n"},
        {{"--lang=ja", good}, 0, "完了\n"},
        {{"--lang", "ja", partly}, 1, "完了\n\n但し抽出できなかったページがあります\n"},
        {{"-q", failed}, 2, ""},
        {{"-v", "-f", "4", good}, 2, "result: -12 lasterror: 0\nFailure\n"},
        {{"-q", good, partly}, 1, ""},
        {{"-q", good, failed, partly}, 2, ""},
        {{"-v", folder_.file("missing.pdf")}, 2, "result: -1 lasterror: 0\nFailure\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const CliRun run = runCli(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, c.out);
    }
}

// With -a a document of Mesker's goes the exact way, as without it: the
// same lines, codes and files, also where the exact reader fails a page or
// refuses the document.
TEST_F(Cli, AnyProducerLeavesMeskersOwnAlone)
{
    fixture::MeskerDocument brokenPage = threePages();
    brokenPage.editImageObject = [](int k, std::string& text) {
        if (k == 1) fixture::replaceOnce(text, "/Height ", "/Heigth ");
    };
    fixture::MeskerDocument encrypted = threePages();
    encrypted.encrypt = true;
    const std::pair<const char*, std::string> documents[] = {
        {"sample", readFileBytes(std::string(RAVOTH_SOURCE_DIR) + "/data/sample.pdf")},
        {"broken page", fixture::buildMesker(brokenPage).bytes},
        {"encrypted", fixture::buildMesker(encrypted).bytes},
    };
    for (const auto& [name, bytes] : documents) {
        SCOPED_TRACE(name);
        CliRun runs[2];
        std::map<std::string, std::string> files[2];
        for (int anyProducer = 0; anyProducer < 2; ++anyProducer) {
            TempFolder folder;
            const std::string pdf = folder.file("Book.pdf");
            ASSERT_TRUE(fixture::writeFile(pdf, bytes));
            std::vector<std::string> arguments = {"-v", "-t", pdf};
            if (anyProducer) arguments.insert(arguments.begin(), "-a");
            CliRun& run = runs[anyProducer];
            run = runCli(arguments);
            for (std::string* text : {&run.out, &run.err})
                for (std::size_t at = text->find(folder.path()); at != std::string::npos; at = text->find(folder.path()))
                    text->replace(at, folder.path().size(), "FOLDER");
            for (const std::string& file : folder.names()) files[anyProducer][file] = readFileBytes(folder.file(file));
        }
        EXPECT_EQ(runs[1].exitCode, runs[0].exitCode);
        EXPECT_EQ(runs[1].out, runs[0].out);
        EXPECT_EQ(runs[1].err, runs[0].err);
        EXPECT_TRUE(files[1] == files[0]);
    }
}

TEST_F(Cli, JapaneseFollowsTheLocale)
{
    const std::string good = write("Good.pdf", threePages());
    EXPECT_EQ(runCli({good}, "LC_ALL= LC_MESSAGES= LANG=ja_JP.UTF-8").out, "完了\n");
    EXPECT_EQ(runCli({good}, "LC_ALL=ja_JP.UTF-8 LANG=C").out, "完了\n");
    EXPECT_EQ(runCli({good}, "LC_ALL=C LANG=ja_JP.UTF-8").out, "Complete\n");
    EXPECT_EQ(runCli({good}, "LC_ALL= LC_MESSAGES= LANG=en_US.UTF-8").out, "Complete\n");
    EXPECT_EQ(runCli({"--lang", "en", good}, "LANG=ja_JP.UTF-8").out, "Complete\n");
}

TEST_F(Cli, PageRangeAndOutputBase)
{
    const std::string pdf = write("Book.pdf", threePages());
    const std::string base = folder_.file("Other");
    const CliRun run = runCli({"--first", "3", "-l2", "--output-base", base, pdf});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(folder_.names(), (std::set<std::string>{"Book.pdf", "Other-2.bmp", "Other-3.bmp"}));
}

TEST_F(Cli, OutlineNamesWithFallback)
{
    fixture::MeskerDocument document = threePages();
    document.outline = {{"(Cover)", fixture::destToPage(0), {}}, {"(a/b)", fixture::destToPage(2), {}}};
    const std::string pdf = write("Book.pdf", document);
    CliRun run = runCli({"-t", "-v", pdf}, "LANG=C.UTF-8 LC_ALL=");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "page 1: wrote " + folder_.file("Cover.jpg") + "\npage 2: wrote " + folder_.file("Book-2.bmp") +
                           "\npage 3: wrote " + folder_.file("Book-3.bmp") + "\nresult: 0 lasterror: 0\nComplete\n");

    document.catalogExtra = "/Dests 99 0 R\n";
    document.outline = {{"(Named)", "/Dest /missing", {}}};
    run = runCli({"--outline-names", "-v", write("Broken.pdf", document)});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "result: -11 lasterror: -164\nFailure\n");
}

// Ctrl+C or a request to terminate in the middle of a large run: the file
// being written is given up, every file under a page's name is whole, and
// the status is the one a shell expects. A signal the run was started with
// ignored passes it by.
TEST_F(Cli, InterruptLeavesOnlyWholeFiles)
{
    const std::string pdf = write("Book.pdf", largePages());
    struct Case {
        const char* ignored;
        std::vector<int> signals;
        int status;
    };
    const Case cases[] = {
        {"", {SIGINT}, 130},
        {"", {SIGTERM}, 143},
        {"HUP INT", {SIGHUP, SIGINT}, 0},
        {"HUP INT", {SIGHUP, SIGINT, SIGTERM}, 143},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signals.back());
        SCOPED_TRACE(c.ignored);
        const std::string err = folder_.file("err");
        ChildSetup setup;
        setup.ignored = c.ignored;
        const pid_t child = startInTheMiddle(pdf, err, folder_.file("Book-01.bmp"), setup);
        ASSERT_GT(child, 0);
        for (int signalNumber : c.signals) ::kill(child, signalNumber);
        int waitStatus = 0;
        ASSERT_EQ(::waitpid(child, &waitStatus, 0), child);
        ASSERT_TRUE(WIFEXITED(waitStatus));
        EXPECT_EQ(WEXITSTATUS(waitStatus), c.status);
        EXPECT_EQ(readFileBytes(err).find("interrupted; ") != std::string::npos, c.status != 0) << readFileBytes(err);
        std::size_t whole = 0;
        for (const std::string& name : folder_.names()) {
            if (name == "Book.pdf" || name == "err") continue;
            EXPECT_EQ(name.rfind("Book-", 0), 0u) << "left behind: " << name;
            EXPECT_EQ(std::filesystem::file_size(folder_.file(name)), largeBitmapBytes) << name;
            std::filesystem::remove(folder_.file(name));
            ++whole;
        }
        if (c.status == 0) {
            EXPECT_EQ(whole, std::size_t{largePageCount});
        } else {
            EXPECT_GE(whole, 1u);
            EXPECT_LT(whole, std::size_t{largePageCount});
        }
    }
}

// A second Ctrl+C does not wait for a run that is slow to stop: here the
// report of the first waits on a pipe that nobody reads.
TEST_F(Cli, SecondCtrlCEndsAtOnce)
{
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer holds a signal back until the program next calls into
    // it, which one blocked in a write inside the C library never does; the
    // other builds run this.
    GTEST_SKIP() << "signals wait for ThreadSanitizer's next call";
#endif
    const std::string pdf = write("Book.pdf", largePages());
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    // Full to the last byte, so that the run's first write to it blocks.
    ::fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
    const std::string block(65536, 'x');
    while (::write(pipeEnds[1], block.data(), block.size()) > 0) {
    }
    while (::write(pipeEnds[1], "x", 1) > 0) {
    }
    ::fcntl(pipeEnds[1], F_SETFL, 0);
    // With two documents each is named on stdout before its run.
    ChildSetup setup;
    setup.standardOutput = pipeEnds[1];
    setup.moreFiles = {folder_.file("Other.pdf")};
    const pid_t child = startInTheMiddle(pdf, folder_.file("err"), folder_.file("Book-01.bmp"), setup);
    ASSERT_GT(child, 0);
    // Sent again and again: one sent before the first was taken merges with
    // it.
    int waitStatus = 0;
    pid_t ended = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((ended = ::waitpid(child, &waitStatus, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        ::kill(child, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &waitStatus, 0);
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    ASSERT_EQ(ended, child) << "still stopping after 20 seconds of Ctrl+C";
    ASSERT_TRUE(WIFEXITED(waitStatus));
    EXPECT_EQ(WEXITSTATUS(waitStatus), 130);
}

// Another program cuts the PDF short while the run reads it: the run ends
// with a failure that says so, and leaves only whole files behind.
TEST_F(Cli, DocumentCutShortByAnotherProgram)
{
    fixture::MeskerDocument document;
    for (int k = 0; k < 300; ++k) {
        fixture::MeskerPage page;
        page.filter = fixture::PageFilter::DCT;
        page.width = 100;
        page.height = 100;
        page.data = std::string(300000, static_cast<char>('a' + k % 26));
        document.pages.push_back(page);
    }
    const fixture::BuiltPdf built = fixture::buildMesker(document);
    const std::string pdf = folder_.file("Book.pdf");
    ASSERT_TRUE(fixture::writeFile(pdf, built.bytes));
    const std::string err = folder_.file("err");
    const pid_t child = startInTheMiddle(pdf, err, folder_.file("Book-001.jpg"));
    ASSERT_GT(child, 0);
    std::filesystem::resize_file(pdf, 4096);
    int waitStatus = 0;
    ASSERT_EQ(::waitpid(child, &waitStatus, 0), child);
    ASSERT_TRUE(WIFEXITED(waitStatus)) << "ended by signal " << WTERMSIG(waitStatus);
    EXPECT_EQ(WEXITSTATUS(waitStatus), 2);
    EXPECT_EQ(readFileBytes(err), "ravoth-cli: " + pdf + ": the PDF changed while it was read\n");
    std::size_t whole = 0;
    for (const std::string& name : folder_.names()) {
        if (name == "Book.pdf" || name == "err") continue;
        ASSERT_EQ(name.rfind("Book-", 0), 0u) << "left behind: " << name;
        const std::size_t k = static_cast<std::size_t>(std::stoi(name.substr(5, 3)) - 1);
        EXPECT_EQ(readFileBytes(folder_.file(name)), built.imageStreams[k]) << name;
        ++whole;
    }
    EXPECT_GE(whole, 1u);
    EXPECT_LT(whole, 300u);
}

// The report is the point of -v: when it cannot be written, the run must
// not pass for a success.
TEST_F(Cli, LostReportEndsWithAnErrorStatus)
{
    const std::string pdf = write("Book.pdf", threePages());
    std::string command = "LANG=C LC_ALL= ";
    command.append(quoted(RAVOTH_CLI_PATH)).append(" -v ").append(quoted(pdf));
    command.append(" >/dev/full 2>").append(quoted(folder_.file("err")));
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 74);
    EXPECT_EQ(readFileBytes(folder_.file("err")), "ravoth-cli: cannot write to standard output\n");
}

// A pipe given as the document is refused at once: opening it for reading
// would wait for a writer for ever.
TEST_F(Cli, PipeIsRefusedWithoutWaiting)
{
    const std::string fifo = folder_.file("Book.pdf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const CliRun run = runCli({"-v", fifo}, "LANG=C LC_ALL= timeout 20");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "result: -1 lasterror: 0\nFailure\n");
}

// Every file that does not end Complete gets one line on stderr that names it
// and says why, in the chosen language, whatever -q says about the outcome.
TEST_F(Cli, ReasonLinesNameTheFileAndSayWhy)
{
    fixture::MeskerDocument foreign = threePages();
    foreign.producer = fixture::ProducerKind::Custom;
    foreign.producerValue = " (Other)";
    fixture::MeskerDocument encrypted = threePages();
    encrypted.encrypt = true;
    fixture::MeskerDocument brokenPage = threePages();
    brokenPage.editImageObject = [](int k, std::string& text) {
        if (k == 1) fixture::replaceOnce(text, "/Height ", "/Heigth ");
    };
    const std::string good = write("Good.pdf", threePages());
    const std::string damaged = folder_.file("Damaged.pdf");
    ASSERT_TRUE(fixture::writeFile(damaged, "%PDF-1.4\nstartxref\n9\n%%EOF\n"));
    const std::string missing = folder_.file("Missing.pdf");
    const std::string notes = folder_.file("Notes.pdf");
    ASSERT_TRUE(fixture::writeFile(notes, "Shopping list\nstartxref\n9\n%%EOF\n"));
    const std::string picture = folder_.file("Picture.pdf");
    ASSERT_TRUE(fixture::writeFile(picture, fixture::dctPage(8, 8, false, 1).data));
    // Another producer's layout: cross-reference and object streams.
    testing::DocumentPlan other;
    other.pages.push_back({{{"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x7F", "", ""}}});
    const std::string streams = folder_.file("Streams.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(other, streams));
    other.userPassword = "secret";
    other.ownerPassword = "owner";
    const std::string locked = folder_.file("Locked.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(other, locked));
    struct Case {
        std::vector<std::string> arguments;
        std::string reason;
    };
    const Case cases[] = {
        {{"-q", missing}, "cannot be opened: no such file or folder"},
        {{folder_.path()}, "cannot be opened: not a regular file"},
        {{"-q", write("Foreign.pdf", foreign)}, "not a PDF made by Mesker, Tolvin or Dravel; -a (--any-producer) reads it"},
        {{"-q", streams}, "not a PDF made by Mesker, Tolvin or Dravel; -a (--any-producer) reads it"},
        {{"-a", locked}, "encrypted"},
        {{write("Encrypted.pdf", encrypted)}, "encrypted"},
        {{damaged}, "damaged cross-reference table"},
        {{notes}, "not a PDF file"},
        {{"-v", picture}, "not a PDF file"},
        {{"--lang", "ja", picture}, "PDF ファイルではありません"},
        {{"-f", "5", good}, "page range outside the document (3 pages)"},
        {{"-q", "-v", write("Partly.pdf", brokenPage)}, "1 of 3 pages could not be written"},
        {{"--lang", "ja", "-q", write("Foreign2.pdf", foreign)},
         "Mesker、Tolvin、Dravel で作られた PDF ではありません; -a (--any-producer) を付けると読み込めます"},
        {{"--lang", "ja", missing}, "開けません: ファイルがありません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const CliRun run = runCli(c.arguments);
        EXPECT_EQ(run.err, "ravoth-cli: " + c.arguments.back() + ": " + c.reason + "\n");
    }
    EXPECT_EQ(runCli({"-q", good}).err, "");
}

// Documents the fuzzers made that once crashed the bookmark-names path or
// kept it busy for ever: each now ends, in seconds, with its own reason.
TEST_F(Cli, FuzzFoundOutlineDocumentsEnd)
{
    struct Case {
        const char* seed;
        int exitCode;
        const char* reason;
    };
    const Case cases[] = {
        {"outline-null-item", 2, "damaged page tree or bookmarks"},
        {"outline-endless-loop", 1, "2 of 4 pages could not be written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seed);
        const std::string pdf = folder_.file(std::string(c.seed) + ".pdf");
        std::filesystem::copy_file(std::string(RAVOTH_SOURCE_DIR) + "/fuzz/corpus/fuzz_outline_names/" + c.seed, pdf);
        const CliRun run = runCli({"-t", "-v", "--lang", "en", pdf}, "LANG=C LC_ALL= timeout -s KILL 60");
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.err, "ravoth-cli: " + pdf + ": " + c.reason + "\n");
    }
}

// On a terminal a progress line is written over in place and cleared at
// the end; -q and a stderr that is no terminal get none of it.
TEST_F(Cli, ProgressLineOnlyOnATerminal)
{
    fixture::MeskerDocument document;
    for (int k = 0; k < 30; ++k) document.pages.push_back(fixture::dctPage(8, 8, true, static_cast<unsigned>(k)));
    const std::string pdf = write("Book.pdf", document);
    auto onTerminal = [&](const std::string& options) {
        // script gives the program a pseudo-terminal and copies what it
        // writes there into the file.
        std::string inner = quoted(RAVOTH_CLI_PATH);
        inner.append(" --lang en ").append(options).append(" ").append((quoted)(pdf)).append(" 2>&1");
        std::string command = "LANG=C LC_ALL= script -qec ";
        command.append((quoted)(inner)).append(" /dev/null >").append((quoted)(folder_.file("typescript")));
        EXPECT_EQ(std::system(command.c_str()), 0);
        return readFileBytes(folder_.file("typescript"));
    };
    const std::string shown = onTerminal("");
    EXPECT_NE(shown.find("\rpage 30 of 30, 30 files written, "), std::string::npos) << shown;
    // Cleared with spaces, then the outcome at the start of the line.
    EXPECT_NE(shown.find("   \rComplete"), std::string::npos) << shown;
    EXPECT_EQ(onTerminal("-q").find("page "), std::string::npos);
    EXPECT_EQ(runCli({pdf}).err, "");
}

TEST_F(Cli, ListingPrintsOneJsonObjectPerImageAndWritesNothing)
{
    fixture::MeskerDocument titled = threePages();
    titled.outline = {{"(Say \\\"hi\\\" \\\\ there)", fixture::destToPage(1), {}}};
    const std::string first = write("Book.pdf", titled);
    fixture::MeskerDocument broken = threePages();
    broken.editImageObject = [](int k, std::string& text) {
        if (k == 2) fixture::replaceOnce(text, "/Height ", "/Heigth ");
    };
    const std::string second = write("Broken.pdf", broken);
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::vector<std::string> files;  // the "file" of each line
        bool namesPdf;
    };
    const std::string stem = folder_.file("Book");
    const Case cases[] = {
        {{"--list", first}, 0, {stem + "-1.jpg", stem + "-2.bmp", stem + "-3.bmp"}, false},
        {{"--list", "--format", "png", "-f", "2", first}, 0, {stem + "-2.png", stem + "-3.png"}, false},
        // In an archive decoded pages are PNG, unless the format is given.
        {{"--list", "-t", "--cbz", "out.cbz", first}, 0, {"Book-1.jpg", "Say \"hi\" \\ there.png", "Book-3.png"}, false},
        {{"--list", "--format", "bmp", "--cbz", "out.cbz", first}, 0, {"Book-1.jpg", "Book-2.bmp", "Book-3.bmp"}, false},
        {{"--list", "-v", first, second},
         1,
         {stem + "-1.jpg", stem + "-2.bmp", stem + "-3.bmp", folder_.file("Broken-1.jpg"), folder_.file("Broken-2.bmp")},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments[1]);
        const std::set<std::string> before = folder_.names();
        const CliRun run = runCli(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(folder_.names(), before);
        std::vector<std::string> files;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
            ASSERT_FALSE(object.is_discarded()) << line;
            files.push_back(object.value("file", ""));
            EXPECT_EQ(object.contains("pdf"), c.namesPdf);
            const bool jpeg = object["format"] == "jpeg";
            EXPECT_EQ(object["width"], jpeg ? 8 : 4);
            EXPECT_EQ(object["dpi"], nlohmann::json::array({72, 72}));
            EXPECT_GT(object["bytes"].get<int>(), 0);
            if (object["page"] == 2 && object.value("pdf", std::string{}) != second)
                EXPECT_EQ(object["title"], "Say \"hi\" \\ there");
            else
                EXPECT_TRUE(object["title"].is_null());
        }
        EXPECT_EQ(files, c.files);
        // Messages and -v's lines keep out of the way of the list.
        EXPECT_EQ(run.out.find("Complete"), std::string::npos);
        EXPECT_NE(run.err.find("Complete"), std::string::npos);
    }
}

TEST_F(Cli, OutputFolderIsMadeAndTakesEachDocumentsFiles)
{
    const std::string first = write("Book.pdf", threePages());
    const std::string second = write("Other.pdf", threePages());
    const std::string out = folder_.file("made/here");
    CliRun run = runCli({"-q", "--output-folder", out, "--format", "tiff", first, second});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::set<std::string> expected = {"Book-1.jpg", "Book-2.tif", "Book-3.tif", "Other-1.jpg", "Other-2.tif", "Other-3.tif"};
    std::set<std::string> made;
    for (const auto& entry : std::filesystem::directory_iterator(out)) made.insert(entry.path().filename().string());
    EXPECT_EQ(made, expected);
    // A relative archive goes into the folder, and only the archive.
    run = runCli({"-q", "--output-folder", out, "--cbz", "Book.cbz", first});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(out + "/Book.cbz"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator()), 7);
    // A folder that cannot be made fails before any document.
    run = runCli({"--output-folder", first + "/below", first});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("the output folder cannot be made"), std::string::npos) << run.err;
}

TEST_F(Cli, ForgedDocumentsCostTheGeneralReaderNoGigabytes)
{
    // A cross-reference stream whose predictor declares rows of almost a
    // gigabyte (the number the library keeps of 4999999999999999).
    testing::DocumentPlan plan;
    plan.pages.push_back(testing::PagePlan{{{"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "x", "", ""}}});
    const std::string forged = folder_.file("Forged.pdf");
    ASSERT_TRUE(testing::writeGeneralPdf(plan, forged));
    std::string bytes = readFileBytes(forged);
    const std::size_t xref = bytes.find("/Type /XRef");
    ASSERT_NE(xref, std::string::npos);
    const std::size_t columns = bytes.find("/Columns ", xref) + 9;
    bytes.replace(columns, bytes.find(' ', columns) - columns, "4999999999999999");
    ASSERT_TRUE(fixture::writeFile(forged, bytes));
    // Found by fuzzing: bookmarks whose children are shared, each reached
    // along millions of paths (the seed's first byte is the fuzzer's).
    const std::string shared = folder_.file("Shared.pdf");
    ASSERT_TRUE(fixture::writeFile(
        shared, readFileBytes(std::string(RAVOTH_SOURCE_DIR) + "/fuzz/corpus/fuzz_general/shared-outline-children").substr(1)));

    for (const std::string& pdf : {forged, shared}) {
        SCOPED_TRACE(pdf);
        std::vector<std::string> arguments = {RAVOTH_CLI_PATH, "-a", "--list", pdf};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t child = 0;
        ASSERT_EQ(::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        rusage usage{};
        ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
        ASSERT_TRUE(WIFEXITED(status));
        // Read after repair, or refused as damaged.
        EXPECT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 2) << WEXITSTATUS(status);
        EXPECT_LT(usage.ru_maxrss, 256L * 1024) << "peak KiB";
    }
}

TEST(CliUsage, HelpVersionAndUsageErrors)
{
    CliRun run = runCli({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Usage: ravoth-cli [options] FILE..."), std::string::npos);
    EXPECT_NE(run.out.find("Exit status"), std::string::npos);
    run = runCli({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "ravoth-cli 0.84\n");

    const std::vector<std::vector<std::string>> usageErrors = {
        {},
        {"-x", "a.pdf"},
        {"--first", "-1", "a.pdf"},
        {"--last", "1.5", "a.pdf"},
        {"-f", "a.pdf"},
        {"--lang", "de", "a.pdf"},
        {"-o", "base", "a.pdf", "b.pdf"},
        {"--verbose=yes", "a.pdf"},
        {"--first", "99999999999", "a.pdf"},
        {"--format", "gif", "a.pdf"},
        {"--cbz", "b.pdf", "a.pdf"},
        {"--cbz", "book.cbz", "a.pdf", "b.pdf"},
        {"--output-folder=", "a.pdf"},
        {"--list=yes", "a.pdf"},
    };
    for (const auto& arguments : usageErrors) {
        SCOPED_TRACE(arguments.empty() ? "(none)" : arguments.front());
        run = runCli(arguments);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_EQ(run.out, "");
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
}

TEST(CliOptions, ParsesShortLongAndAttachedForms)
{
    const cli::ParseResult r = cli::parseOptions({"-vq", "-f2", "--last=07", "--", "-odd.pdf"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.verbose);
    EXPECT_TRUE(r.options.quiet);
    EXPECT_EQ(r.options.firstPage, 2);
    EXPECT_EQ(r.options.lastPage, 7);
    EXPECT_EQ(r.options.files, std::vector<std::string>{"-odd.pdf"});
    EXPECT_EQ(cli::parsePageValue("00"), 0);
    EXPECT_EQ(cli::parsePageValue("2147483647"), 2147483647);
    EXPECT_EQ(cli::parsePageValue("2147483648"), std::nullopt);
    EXPECT_EQ(cli::parsePageValue(" 1"), std::nullopt);
    EXPECT_EQ(cli::parsePageValue("+1"), std::nullopt);
    EXPECT_EQ(cli::parsePageValue(""), std::nullopt);
}

}  // namespace
}  // namespace ravoth
