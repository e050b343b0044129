// Test input copied into a heap block of exactly its length, so that
// AddressSanitizer reports a read of even one byte past the end.
#pragma once

#include <cstring>
#include <memory>
#include <string_view>

#include "pdf/primitives.h"

namespace ravoth::testing {

class ExactBuffer {
public:
    explicit ExactBuffer(std::string_view text)
        : size_(text.size()), bytes_(new Byte[text.size() == 0 ? 1 : text.size()])
    {
        if (size_ != 0) std::memcpy(bytes_.get(), text.data(), size_);
    }
    const Byte* begin() const { return bytes_.get(); }
    const Byte* end() const { return bytes_.get() + size_; }
    const Byte* at(std::size_t offset) const { return bytes_.get() + offset; }
    std::size_t size() const { return size_; }

private:
    std::size_t size_;
    std::unique_ptr<Byte[]> bytes_;
};

}  // namespace ravoth::testing
