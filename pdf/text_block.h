// A growable block of text lines, as the reader keeps its lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pdf/primitives.h"
#include "platform/memory.h"

namespace ravoth {

// How much a growing list's block grows by: one text block, or half of what
// it holds when that is more. Copying the whole list at every fixed step
// would cost the square of its length.
constexpr std::size_t growthStepBytes(std::size_t capacity)
{
    return capacity / 2 > textBlockBytes ? capacity / 2 : textBlockBytes;
}

// The bytes appendDecimal writes for `value`.
constexpr std::size_t decimalBytes(std::int64_t value)
{
    std::size_t bytes = value < 0 ? 2 : 1;
    for (std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                             : static_cast<std::uint64_t>(value);
         magnitude >= 10; magnitude /= 10)
        ++bytes;
    return bytes;
}

// The block moves when it grows, so the write position is kept as a count.
class TextBlock {
public:
    bool allocate(std::size_t bytes)
    {
        block_.reset(allocBlock(bytes));
        capacityEnd_ = block_ ? block_.get() + bytes : nullptr;
        used_ = 0;
        return static_cast<bool>(block_);
    }
    bool isAllocated() const { return static_cast<bool>(block_); }
    std::size_t capacity() const { return static_cast<std::size_t>(capacityEnd_ - block_.get()); }
    std::size_t used() const { return used_; }
    const Byte* begin() const { return block_.get(); }
    const Byte* end() const { return block_.get() + used_; }

    // Grows by one step once the write position plus `headroom` reaches the
    // end; false when it cannot.
    bool ensureRoom(std::size_t headroom)
    {
        if (used_ + headroom < capacity()) return true;
        return growBlock(block_.slot(), &capacityEnd_, growthStepBytes(capacity())) == 1;
    }

    // Callers make room first (ensureRoom); appends never grow.
    void append(const Byte* bytes, std::size_t count)
    {
        std::memcpy(block_.get() + used_, bytes, count);
        used_ += count;
    }
    void appendByte(Byte b) { block_.get()[used_++] = b; }
    void appendDecimal(std::int64_t value);

    void truncate(std::size_t used) { used_ = used; }

    // Hands the block, with its spare room, to the caller.
    Byte* release()
    {
        capacityEnd_ = nullptr;
        used_ = 0;
        return block_.release();
    }

    // Copies the lines into a block of exactly their length, which the caller
    // then owns; null when it cannot be had.
    Byte* copyExact() const;

private:
    OwnedBlock<Byte> block_;
    Byte* capacityEnd_ = nullptr;
    std::size_t used_ = 0;
};

inline void TextBlock::appendDecimal(std::int64_t value)
{
    Byte digits[24];
    std::size_t count = 0;
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                       : static_cast<std::uint64_t>(value);
    do {
        digits[count++] = static_cast<Byte>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) appendByte('-');
    while (count > 0) appendByte(digits[--count]);
}

inline Byte* TextBlock::copyExact() const
{
    Byte* exact = allocBlock(used_);
    if (exact && used_ != 0) std::memcpy(exact, block_.get(), used_);
    return exact;
}

}  // namespace ravoth
