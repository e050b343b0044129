#include "image/jbig2_decode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <jbig2.h>
}

namespace ravoth {

namespace {

// The decoder's allocations, counted against a limit: a page header may
// declare a bitmap of gigabytes in a few bytes. Each block carries its size
// in front of it so that frees and reallocations can be counted.
struct CountingAllocator {
    Jbig2Allocator calls;  // first, so the library's pointer is this object's
    std::size_t limit = 0;
    std::size_t used = 0;
    bool refused = false;
};

constexpr std::size_t headerBytes = alignof(std::max_align_t);

void* countedAlloc(Jbig2Allocator* calls, std::size_t size)
{
    auto* self = reinterpret_cast<CountingAllocator*>(calls);
    if (size > self->limit - self->used || size > SIZE_MAX - headerBytes) {
        self->refused = true;
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + headerBytes));
    if (!block) {
        self->refused = true;
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    self->used += size;
    return block + headerBytes;
}

void countedFree(Jbig2Allocator* calls, void* p)
{
    if (!p) return;
    auto* self = reinterpret_cast<CountingAllocator*>(calls);
    auto* block = static_cast<unsigned char*>(p) - headerBytes;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    self->used -= size;
    std::free(block);
}

void* countedRealloc(Jbig2Allocator* calls, void* p, std::size_t size)
{
    if (!p) return countedAlloc(calls, size);
    auto* block = static_cast<unsigned char*>(p) - headerBytes;
    std::size_t old;
    std::memcpy(&old, block, sizeof old);
    void* fresh = countedAlloc(calls, size);
    if (!fresh) return nullptr;
    std::memcpy(fresh, p, old < size ? old : size);
    countedFree(calls, p);
    return fresh;
}

void quietErrors(void*, const char*, Jbig2Severity, std::uint32_t) {}

// A decoder context, freed when the scope ends.
struct Context {
    Jbig2Ctx* ctx = nullptr;
    ~Context()
    {
        if (ctx) jbig2_ctx_free(ctx);
    }
};

}  // namespace

int decodeJbig2(const Byte* data, std::size_t bytes, const Byte* globals, std::size_t globalBytes,
                std::size_t limit, Bilevel* page, const StopFlags& stops)
{
    CountingAllocator allocator{{countedAlloc, countedFree, countedRealloc}, limit, 0, false};
    Jbig2GlobalCtx* shared = nullptr;
    if (globals && globalBytes) {
        Context reading;
        reading.ctx = jbig2_ctx_new(&allocator.calls, JBIG2_OPTIONS_EMBEDDED, nullptr, quietErrors, nullptr);
        if (!reading.ctx) return jbig2NoMemory;
        if (jbig2_data_in(reading.ctx, globals, globalBytes) < 0)
            return allocator.refused ? jbig2NoMemory : jbig2Damaged;
        shared = jbig2_make_global_ctx(reading.ctx);
        reading.ctx = nullptr;  // now the global context's
    }
    int result = jbig2Damaged;
    {
        Context decoding;
        decoding.ctx = jbig2_ctx_new(&allocator.calls, JBIG2_OPTIONS_EMBEDDED, shared, quietErrors, nullptr);
        if (!decoding.ctx) {
            result = jbig2NoMemory;
        } else if (stops.isRaised()) {
            result = jbig2Stopped;
        } else if (jbig2_data_in(decoding.ctx, data, bytes) >= 0 && jbig2_complete_page(decoding.ctx) >= 0) {
            Jbig2Image* image = jbig2_page_out(decoding.ctx);
            if (image && image->width > 0 && image->height > 0 && image->width <= INT32_MAX &&
                image->height <= INT32_MAX) {
                const std::size_t rowBytes = (image->width + 7) / 8;
                page->rows.reset(allocBlock(rowBytes * image->height));
                if (page->rows) {
                    for (std::uint32_t y = 0; y < image->height; ++y)
                        std::memcpy(page->rows.get() + rowBytes * y, image->data + std::size_t{image->stride} * y,
                                    rowBytes);
                    page->rowBytes = rowBytes;
                    page->width = static_cast<std::int32_t>(image->width);
                    page->height = static_cast<std::int32_t>(image->height);
                    result = 0;
                } else {
                    result = jbig2NoMemory;
                }
            }
            if (image) jbig2_release_page(decoding.ctx, image);
        }
        if (result == jbig2Damaged && allocator.refused) result = jbig2NoMemory;
    }
    if (shared) jbig2_global_ctx_free(shared);
    return result;
}

}  // namespace ravoth
