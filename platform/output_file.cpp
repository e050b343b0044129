// The write buffer and the temporary-file life of OutputFile, the same on
// every system; each system's file supplies the calls to the system.
#include "platform/file.h"
#include "platform/fault_plan.h"
#include "platform/path.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace ravoth {
namespace {

// A write request of the plan the thread holds is to fail.
bool writeFailureDue()
{
    FaultPlan* plan = currentFaultPlan();
    return plan && plan->writeDue();
}

bool isSystemCopyRefused()
{
    const FaultPlan* plan = currentFaultPlan();
    return plan && plan->isSystemCopyRefused();
}

// Letters for temporary names: lower case and digits only, so that a name
// stays the same on a file system that ignores case.
constexpr char nameLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t nameLetterCount = sizeof nameLetters - 1;
constexpr std::size_t randomLetters = 8;
constexpr std::size_t shortNameLetters = 4;
constexpr std::string_view temporaryPrefix = ".ravoth-";
constexpr std::string_view temporarySuffix = ".tmp";

// Names differ from run to run and from call to call, so that two runs in
// one folder, or a name left by a run that was killed, are stepped around
// in a try or two.
std::atomic<std::uint64_t> nameCounter{0};

std::uint64_t nextNameNumber()
{
    static const std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count() << 20);
    // The splitmix64 finaliser spreads consecutive counts over all letters.
    std::uint64_t x = seed + nameCounter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

constexpr int temporaryNameTries = 64;

}  // namespace

bool OutputFile::create(const char* path)
{
    if (handle_ != -1) return false;
    const std::size_t pathBytes = std::strlen(path);
    if (pathBytes == 0 || pathBytes > maxPathBytes) return false;
    std::memcpy(finalPath_, path, pathBytes + 1);
    refused_ = false;
    if (!precheckFinal()) {
        refused_ = true;
        return false;
    }

    static_assert(temporaryPrefix.size() + randomLetters + temporarySuffix.size() == temporaryNameBytes);
    const std::size_t folderBytes = folderPartBytes(path, pathBytes);
    std::memcpy(temporaryPath_, path, folderBytes);
    char* name = temporaryPath_ + folderBytes;
    // Where the system limits the whole path (Windows) the temporary name
    // must fit where the final one does: in a folder near the limit it is
    // "~" and four letters, no longer than the shortest page file name.
    const std::size_t room = maxPathUnits - std::min(maxPathUnits, pathUnits(path, folderBytes));
    const bool full = room >= temporaryNameBytes;
    const std::string_view prefix = full ? temporaryPrefix : std::string_view("~");
    const std::string_view suffix = full ? temporarySuffix : std::string_view();
    const std::size_t letterCount = full ? randomLetters : shortNameLetters;
    std::memcpy(name, prefix.data(), prefix.size());
    char* letters = name + prefix.size();
    std::memcpy(letters + letterCount, suffix.data(), suffix.size());
    letters[letterCount + suffix.size()] = '\0';
    for (int attempt = 0; attempt < temporaryNameTries; ++attempt) {
        std::uint64_t number = nextNameNumber();
        for (std::size_t i = 0; i < letterCount; ++i, number /= nameLetterCount)
            letters[i] = nameLetters[number % nameLetterCount];
        switch (openTemporary()) {
        case Opened::Yes:
            failed_ = false;
            used_ = 0;
            return true;
        case Opened::NameTaken: continue;
        case Opened::No: break;
        }
        break;
    }
    temporaryPath_[0] = '\0';
    return false;
}

bool OutputFile::request(const unsigned char* data, std::size_t bytes)
{
    if (stops_.isRaised() || writeFailureDue() || !sendToSystem(data, bytes)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool OutputFile::flush()
{
    if (failed_) return false;
    if (used_ == 0) return true;
    if (!request(buffer_, used_)) return false;
    used_ = 0;
    return true;
}

bool OutputFile::write(const void* data, std::size_t bytes)
{
    if (handle_ == -1 || failed_) return false;
    const auto* bytesIn = static_cast<const unsigned char*>(data);
    // A block as large as the buffer goes to the system as it is; copying it
    // through the buffer would only cost time.
    if (bytes >= bufferBytes) {
        if (!flush()) return false;
        for (std::size_t done = 0; done < bytes; done += bufferBytes) {
            const std::size_t piece = bytes - done < bufferBytes ? bytes - done : bufferBytes;
            if (!request(bytesIn + done, piece)) return false;
        }
        return true;
    }
    // The write buffer is the stream's own, not one of the core's blocks, so
    // it stays out of the allocation counts that tests drive.
    if (!buffer_) {
        buffer_ = static_cast<unsigned char*>(std::malloc(bufferBytes));
        if (!buffer_) {
            failed_ = true;
            return false;
        }
    }
    while (bytes > 0) {
        if (used_ == bufferBytes && !flush()) return false;
        const std::size_t room = bufferBytes - used_;
        const std::size_t take = bytes < room ? bytes : room;
        std::memcpy(buffer_ + used_, bytesIn, take);
        used_ += take;
        bytesIn += take;
        bytes -= take;
    }
    return true;
}

bool OutputFile::copyFrom(const InputFile& source, std::uint64_t offset, const void* view,
                          std::size_t bytes)
{
    if (handle_ == -1 || failed_ || !flush()) return false;
    // Pieces small enough that a stop is seen soon, large enough that the
    // system's copy keeps its pace.
    constexpr std::size_t pieceBytes = std::size_t{8} << 20;
    // A file system that refuses the copy from file to file refuses it for
    // every piece: the rest are sent.
    bool fileToFile = !isSystemCopyRefused();
    std::size_t done = 0;
    while (done < bytes) {
        const std::size_t piece = bytes - done < pieceBytes ? bytes - done : pieceBytes;
        if (stops_.isRaised() || writeFailureDue()) {
            failed_ = true;
            return false;
        }
        SystemCopy copied = fileToFile ? copyBySystem(source.handle(), offset + done, piece) : SystemCopy::Unsupported;
        if (copied == SystemCopy::Unsupported) {
            fileToFile = false;
            copied = sendBySystem(source.handle(), offset + done, piece);
        }
        switch (copied) {
        case SystemCopy::Copied:
            done += piece;
            continue;
        case SystemCopy::Failed:
            failed_ = true;
            return false;
        case SystemCopy::Unsupported:
            // Written from the view, in the usual requests.
            return write(static_cast<const unsigned char*>(view) + done, bytes - done);
        }
    }
    return true;
}

bool OutputFile::seek(std::uint64_t position)
{
    if (handle_ == -1 || failed_ || !flush()) return false;
    if (stops_.isRaised() || !seekSystem(position)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool OutputFile::close()
{
    if (handle_ == -1) return false;
    bool ok = flush();
    if (ok && writeFailureDue()) ok = false;
    if (!closeHandle()) ok = false;
    handle_ = -1;
    // A file finished just as the run was asked to stop is not put in place
    // either: the stop may stand for a document that changed under it.
    if (ok && !failed_ && !stops_.isRaised()) {
        const Placed placed = placeFinal();
        refused_ = placed == Placed::Refused;
        ok = placed == Placed::Yes;
    } else {
        ok = false;
    }
    if (!ok) discard();
    temporaryPath_[0] = '\0';
    return ok;
}

void OutputFile::discard()
{
    if (handle_ != -1) closeHandle();
    handle_ = -1;
    if (temporaryPath_[0] != '\0') deleteFile(temporaryPath_);
    temporaryPath_[0] = '\0';
}

OutputFile::~OutputFile()
{
    discard();
    std::free(buffer_);
}

}  // namespace ravoth
