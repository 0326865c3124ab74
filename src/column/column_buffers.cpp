// mremap is GNU's, and musl's under the same name
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include "column/column_buffers.hpp"

#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#define MARQUILL_MAPPED_BUFFERS 1
#else
#define MARQUILL_MAPPED_BUFFERS 0
#endif

namespace marquill {

namespace {

void free_heap_buffer(ArrowBufferAllocator*, uint8_t* data, int64_t) { std::free(data); }

#if MARQUILL_MAPPED_BUFFERS
int64_t round_up(int64_t n, int64_t to) noexcept { return (n + to - 1) / to * to; }

// A large buffer gets pages of its own, aligned to and advised as huge
// pages: written once from start to end, a column's buffers otherwise take
// a page fault every 4 KiB, which costs more than the parse.
constexpr int64_t hugePageSize = int64_t{2} << 20;
constexpr int64_t mappedFrom = int64_t{4} << 20;

int64_t page_size() noexcept {
    static const int64_t size = sysconf(_SC_PAGESIZE);
    return size;
}

uint8_t* map_aligned(int64_t capacity) noexcept {
    const int64_t length = capacity + hugePageSize;
    void* mapped =
        mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    auto* start = static_cast<uint8_t*>(mapped);
    auto* aligned = reinterpret_cast<uint8_t*>(round_up(reinterpret_cast<intptr_t>(start), hugePageSize));
    if (aligned != start) munmap(start, static_cast<size_t>(aligned - start));
    munmap(aligned + capacity, static_cast<size_t>(start + length - (aligned + capacity)));
    madvise(aligned, static_cast<size_t>(capacity), MADV_HUGEPAGE);  // advice only: may be refused
    return aligned;
}

void unmap_buffer(ArrowBufferAllocator*, uint8_t* data, int64_t capacity) {
    munmap(data, static_cast<size_t>(capacity));
}
#endif

}  // namespace

OutputBuffer::~OutputBuffer() { release(); }

bool OutputBuffer::reserve(int64_t bytes) noexcept {
    release();
#if MARQUILL_MAPPED_BUFFERS
    if (bytes >= mappedFrom) {
        capacity_ = round_up(bytes, hugePageSize);
        data_ = map_aligned(capacity_);
        mapped_ = data_ != nullptr;
        return mapped_;
    }
#endif
    capacity_ = bytes > 8 ? bytes : 8;  // never empty, so that every buffer has an address
    data_ = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity_)));
    return data_ != nullptr;
}

bool OutputBuffer::grow(int64_t bytes) noexcept {
#if MARQUILL_MAPPED_BUFFERS
    if (mapped_ || bytes >= mappedFrom) return grow_mapped(bytes);
#endif
    void* grown = std::realloc(data_, static_cast<size_t>(bytes));
    if (grown == nullptr) return false;
    data_ = static_cast<uint8_t*>(grown);
    capacity_ = bytes;
    return true;
}

#if MARQUILL_MAPPED_BUFFERS
bool OutputBuffer::grow_mapped(int64_t bytes) noexcept {
    const int64_t capacity = round_up(bytes, hugePageSize);
    if (!mapped_) {
        uint8_t* mapped = map_aligned(capacity);
        if (mapped == nullptr) return false;
        std::memcpy(mapped, data_, static_cast<size_t>(capacity_));
        std::free(data_);
        data_ = mapped;
        mapped_ = true;
    } else {
        void* moved = mremap(data_, static_cast<size_t>(capacity_), static_cast<size_t>(capacity), MREMAP_MAYMOVE);
        if (moved == MAP_FAILED) return false;
        data_ = static_cast<uint8_t*>(moved);
        madvise(data_, static_cast<size_t>(capacity), MADV_HUGEPAGE);
    }
    capacity_ = capacity;
    return true;
}
#endif

void OutputBuffer::hand_over(int64_t used, ArrowBuffer* out) noexcept {
    ArrowBufferInit(out);
#if MARQUILL_MAPPED_BUFFERS
    if (mapped_) {
        const int64_t kept = used > 0 ? round_up(used, page_size()) : page_size();
        if (kept < capacity_) {
            munmap(data_ + kept, static_cast<size_t>(capacity_ - kept));
            capacity_ = kept;
        }
        out->allocator = ArrowBufferDeallocator(&unmap_buffer, nullptr);
    }
#endif
    if (!mapped_) {
        // the unused tail goes back to the heap, which shrinks a block in place
        const int64_t kept = used > 8 ? used : 8;
        if (kept < capacity_) {
            if (void* shrunk = std::realloc(data_, static_cast<size_t>(kept))) {
                data_ = static_cast<uint8_t*>(shrunk);
                capacity_ = kept;
            }
        }
        out->allocator = ArrowBufferDeallocator(&free_heap_buffer, nullptr);
    }
    out->data = data_;
    out->size_bytes = used;
    out->capacity_bytes = capacity_;
    data_ = nullptr;
    capacity_ = 0;
    mapped_ = false;
}

void OutputBuffer::release() noexcept {
    if (data_ == nullptr) return;
#if MARQUILL_MAPPED_BUFFERS
    if (mapped_) munmap(data_, static_cast<size_t>(capacity_));
#endif
    if (!mapped_) std::free(data_);
    data_ = nullptr;
    capacity_ = 0;
    mapped_ = false;
}

}  // namespace marquill
