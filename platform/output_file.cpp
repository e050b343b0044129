// The write buffer of OutputFile, the same on every system; each system's
// file supplies create, sendToSystem and closeHandle.
#include "platform/file.h"
#include "platform/injected_failure.h"

#include <cstdlib>
#include <cstring>

namespace ravoth {
namespace {

InjectedFailure writeFailure;

}  // namespace

void failWriteAt(long long n) { writeFailure.armAt(n); }

bool OutputFile::request(const unsigned char* data, std::size_t bytes)
{
    if (writeFailure.due() || !sendToSystem(data, bytes)) {
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

bool OutputFile::close()
{
    if (handle_ == -1) return false;
    bool ok = flush();
    if (ok && writeFailure.due()) ok = false;
    if (!closeHandle()) ok = false;
    handle_ = -1;
    return ok && !failed_;
}

OutputFile::~OutputFile()
{
    if (handle_ != -1) closeHandle();
    std::free(buffer_);
}

}  // namespace ravoth
