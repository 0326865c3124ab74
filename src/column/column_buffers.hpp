// The memory a parsed column is written into. Each buffer is reserved at
// the most its column can need, which a scan of the input bounds, and only
// the pages written are ever backed by memory: the address space beyond
// them is given back when the buffer is handed to its Arrow array. A column
// therefore costs its output's own bytes and a page or so a buffer, with no
// second pass to size it and no copy to grow it.
#pragma once

#include <cstdint>

#include "third_party/nanoarrow/nanoarrow.h"

namespace marquill {

class OutputBuffer {
public:
    OutputBuffer() noexcept = default;
    ~OutputBuffer();
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // Room for `bytes`; false when the system refuses it.
    bool reserve(int64_t bytes) noexcept;
    // Room for `bytes`, more than reserved, keeping what was written; false,
    // with the buffer as it was, when the system refuses it. Large buffers
    // move by their page tables where the system can, so growing copies
    // nothing and never holds the old and the new at once.
    bool grow(int64_t bytes) noexcept;
    uint8_t* data() const noexcept { return data_; }
    template <class T>
    T* as() const noexcept {
        return reinterpret_cast<T*>(data_);
    }

    // Moves the first `used` bytes into `out`, an Arrow buffer that releases
    // them, and returns the rest of the reservation.
    void hand_over(int64_t used, ArrowBuffer* out) noexcept;

private:
    void release() noexcept;
    bool grow_mapped(int64_t bytes) noexcept;

    uint8_t* data_ = nullptr;
    int64_t capacity_ = 0;
    bool mapped_ = false;  // pages of the system's own, rather than the heap's
};

}  // namespace marquill
