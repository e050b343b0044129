// How ravoth-cli puts page files in place where the file system cannot
// rename without replacing, and when a page file is synced: the program as
// built, with tests/platform/file_system_shim.cpp preloaded in place of the
// system's renames and syncs.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixture/pdf_builder.h"
#include "tests/support/temp_folder.h"

namespace ravoth {
namespace {

using testing::readFileBytes;
using testing::TempFolder;

struct ShimRun {
    int exitCode = -1;
    // The shim's log, a line a call, split at tabs.
    std::vector<std::vector<std::string>> calls;
};

// Runs ravoth-cli on `pdf` with the shim: renameat2 answering
// `renameat2Error` (0: it renames), syncs answering `syncError` (0: they
// sync).
ShimRun runWithShim(const std::string& pdf, int renameat2Error, int syncError)
{
    TempFolder scratch;
    const std::string log = scratch.file("calls");
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view text(*variable);
        if (!text.starts_with("LD_PRELOAD=") && !text.starts_with("RAVOTH_SHIM_") && !text.starts_with("ASAN_OPTIONS="))
            environment.emplace_back(text);
    }
    environment.push_back(std::string("LD_PRELOAD=") + RAVOTH_FILE_SYSTEM_SHIM_PATH);
    environment.push_back("RAVOTH_SHIM_LOG=" + log);
    if (renameat2Error) environment.push_back("RAVOTH_SHIM_RENAMEAT2=" + std::to_string(renameat2Error));
    if (syncError) environment.push_back("RAVOTH_SHIM_SYNC=" + std::to_string(syncError));
    // A sanitizer build wants its runtime first among the libraries, where
    // the shim now is; the shim is not instrumented, so that is harmless.
    const char* asanOptions = std::getenv("ASAN_OPTIONS");
    environment.push_back(std::string("ASAN_OPTIONS=") + (asanOptions ? std::string(asanOptions) + ":" : "") +
                          "verify_asan_link_order=0");
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {RAVOTH_CLI_PATH, "--lang", "en", pdf.c_str(), nullptr};
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, RAVOTH_CLI_PATH, &actions, nullptr, const_cast<char* const*>(argv),
                                      envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ShimRun run;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start ravoth-cli: " << std::strerror(spawned);
        return run;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(readFileBytes(log));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
        run.calls.push_back(fields);
    }
    return run;
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool hasTemporaryFile(const TempFolder& folder)
{
    for (const std::string& name : folder.names())
        if (name.starts_with(".ravoth-")) return true;
    return false;
}

fixture::BuiltPdf jpegPages(int count)
{
    fixture::MeskerDocument document;
    for (int k = 0; k < count; ++k) document.pages.push_back(fixture::dctPage(8 + k, 8, k % 2 == 0, static_cast<unsigned>(k + 1)));
    return fixture::buildMesker(document);
}

// Every answer of a renameat2 that cannot refuse to replace: each page still
// gets its file, a file of the page's name is still replaced, and still
// nothing is replaced that must not be: a folder, what a symbolic link
// points to, and (where the test is not run by root, which may write any
// file) a file the user made read-only.
TEST(PagePlacement, EveryPageWhereTheFileSystemCannotRenameWithoutReplacing)
{
    const fixture::BuiltPdf built = jpegPages(6);
    const bool root = ::geteuid() == 0;
    for (const int answer : {EOPNOTSUPP, ENOSYS, EINVAL, EPERM}) {
        SCOPED_TRACE(std::strerror(answer));
        TempFolder folder;
        const std::string pdf = folder.file("Book.pdf");
        ASSERT_TRUE(fixture::writeFile(pdf, built));
        ASSERT_TRUE(fixture::writeFile(folder.file("Book-1.jpg"), std::string("the user's own")));
        std::filesystem::permissions(folder.file("Book-1.jpg"), std::filesystem::perms::owner_read);
        std::filesystem::create_directory(folder.file("Book-2.jpg"));
        ASSERT_TRUE(fixture::writeFile(folder.file("target"), std::string("pointed to")));
        std::filesystem::create_symlink("target", folder.file("Book-3.jpg"));
        ASSERT_TRUE(fixture::writeFile(folder.file("Book-4.jpg"), std::string("an old page")));

        const ShimRun run = runWithShim(pdf, answer, 0);
        EXPECT_EQ(run.exitCode, 1);
        // Every page asked the shim first: the test saw the fallback, not
        // the file system's own renameat2.
        std::size_t refused = 0;
        for (const auto& call : run.calls) refused += call[0] == "renameat2" && call[3] == std::to_string(answer);
        EXPECT_EQ(refused, 6u);
        if (!root) {
            EXPECT_EQ(readFileBytes(folder.file("Book-1.jpg")), "the user's own");
        }
        EXPECT_TRUE(std::filesystem::is_directory(folder.file("Book-2.jpg")));
        EXPECT_TRUE(std::filesystem::is_empty(folder.file("Book-2.jpg")));
        EXPECT_EQ(readFileBytes(folder.file("target")), "pointed to");
        EXPECT_FALSE(std::filesystem::is_symlink(folder.file("Book-3.jpg")));
        for (const int page : {3, 4, 5, 6})
            EXPECT_TRUE(readFileBytes(folder.file("Book-" + std::to_string(page) + ".jpg")) == built.imageStreams[page - 1])
                << "page " << page;
        EXPECT_FALSE(hasTemporaryFile(folder));
    }
}

// A page file that replaces one is synced before the rename that replaces,
// so that a power cut never leaves an empty file where a whole one was; a
// page file under a new name is not synced at all. A sync that fails leaves
// the file that was there, and nothing else behind.
TEST(PagePlacement, OnlyAFileThatReplacesIsSyncedAndBeforeItReplaces)
{
    const fixture::BuiltPdf built = jpegPages(4);
    for (const int renameAnswer : {0, EOPNOTSUPP}) {
        for (const int syncAnswer : {0, EIO}) {
            SCOPED_TRACE(::testing::Message() << "renameat2 " << (renameAnswer ? "unsupported" : "native") << ", sync "
                                              << (syncAnswer ? "fails" : "works"));
            TempFolder folder;
            const std::string pdf = folder.file("Book.pdf");
            ASSERT_TRUE(fixture::writeFile(pdf, built));
            for (const char* name : {"Book-1.jpg", "Book-2.jpg"})
                ASSERT_TRUE(fixture::writeFile(folder.file(name), std::string("an old page")));

            const ShimRun run = runWithShim(pdf, renameAnswer, syncAnswer);
            std::vector<std::string> synced;  // temporary names
            std::vector<std::string> replacing;
            for (const auto& call : run.calls) {
                if (call[0] == "sync") synced.push_back(nameOf(call[1]));
                if (call[0] != "rename") continue;
                const std::string to = nameOf(call[2]);
                if (to == "Book-1.jpg" || to == "Book-2.jpg") {
                    replacing.push_back(to);
                    EXPECT_NE(std::find(synced.begin(), synced.end(), nameOf(call[1])), synced.end())
                        << to << " replaced before its file was synced";
                }
            }
            EXPECT_EQ(synced.size(), 2u) << "one sync for each file that replaces, none for a new name";
            if (syncAnswer) {
                EXPECT_EQ(run.exitCode, 1);
                EXPECT_TRUE(replacing.empty());
                EXPECT_EQ(readFileBytes(folder.file("Book-1.jpg")), "an old page");
                EXPECT_EQ(readFileBytes(folder.file("Book-2.jpg")), "an old page");
            } else {
                EXPECT_EQ(run.exitCode, 0);
                EXPECT_EQ(replacing.size(), 2u);
                EXPECT_TRUE(readFileBytes(folder.file("Book-1.jpg")) == built.imageStreams[0]);
                EXPECT_TRUE(readFileBytes(folder.file("Book-2.jpg")) == built.imageStreams[1]);
            }
            EXPECT_TRUE(readFileBytes(folder.file("Book-3.jpg")) == built.imageStreams[2]);
            EXPECT_TRUE(readFileBytes(folder.file("Book-4.jpg")) == built.imageStreams[3]);
            EXPECT_FALSE(hasTemporaryFile(folder));
        }
    }
}

}  // namespace
}  // namespace ravoth
