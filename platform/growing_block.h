// Bytes gathered into one of the core's blocks that grows as they come, up
// to a limit: a stream whose length is not known in advance, or a file being
// encoded in memory. Seeking back and writing over is allowed (an encoder
// may patch its header at the end).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/memory.h"

namespace ravoth {

class GrowingBlock {
public:
    explicit GrowingBlock(std::size_t limit) : limit_(limit) {}

    // Writes at the position and moves it on; false when the limit would be
    // passed or memory cannot be had (nothing is then written).
    bool write(const void* data, std::size_t length)
    {
        if (length > limit_ || position_ > limit_ - length) return false;
        const std::size_t end = position_ + length;
        if (end > capacity_ && !grow(end)) return false;
        if (position_ > size_) std::memset(block_.get() + size_, 0, position_ - size_);
        if (length) std::memcpy(block_.get() + position_, data, length);
        position_ = end;
        size_ = std::max(size_, end);
        return true;
    }

    void seek(std::size_t position) { position_ = position; }
    std::size_t position() const { return position_; }
    std::size_t size() const { return size_; }
    std::size_t limit() const { return limit_; }
    const unsigned char* data() const { return block_.get(); }

    // Hands the block over; the object is empty after.
    OwnedBlock<> take(std::size_t* bytes)
    {
        *bytes = size_;
        size_ = capacity_ = position_ = 0;
        return std::move(block_);
    }

private:
    bool grow(std::size_t needed)
    {
        std::size_t capacity = std::max<std::size_t>(capacity_, 64 * 1024);
        while (capacity < needed) capacity = capacity > limit_ / 2 ? limit_ : capacity * 2;
        OwnedBlock<> larger(allocBlock(capacity));
        if (!larger) return false;
        if (size_) std::memcpy(larger.get(), block_.get(), size_);
        block_ = std::move(larger);
        capacity_ = capacity;
        return true;
    }

    const std::size_t limit_;
    OwnedBlock<> block_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    std::size_t position_ = 0;
};

}  // namespace ravoth
