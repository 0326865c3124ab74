// A parsed column: the parsed chunks of a column of strings, in its order,
// held once and handed out to any number of consumers. Each export is a tree
// of Arrow structures of its own, whose release callbacks each run once and
// drop only that structure's hold on the column; the column's buffers go
// when the last hold on them does, from whichever thread drops it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "column/string_column.hpp"
#include "parser/kernel.hpp"
#include "third_party/nanoarrow/nanoarrow.hpp"

namespace marquill {

class ParsedColumn {
public:
    // Parses every chunk of a column of the type `schema` describes.
    // Null, with `error` saying why, when a chunk is malformed or memory
    // runs out; nothing is kept then.
    static ParsedColumn* parse(const ArrowSchema& schema,
                               const ArrowArray* chunks,
                               size_t count,
                               const Kernel& kernel,
                               ColumnError& error) noexcept;

    ParsedColumn(const ParsedColumn&) = delete;
    ParsedColumn& operator=(const ParsedColumn&) = delete;

    // A new hold on the column, and the end of one.
    void retain() noexcept { holds_.fetch_add(1, std::memory_order_relaxed); }
    void drop() noexcept;

    size_t chunk_count() const noexcept { return chunks_.size(); }
    int64_t length() const noexcept { return length_; }

    // Each export is of the rows' own type, or of `requested`, which
    // check_requested_schema took, when it is given. False, with `error`
    // saying why, when memory runs out or the rows outgrow the requested
    // offsets; `out` is then left released.
    bool export_schema(ArrowSchema* out, const ArrowSchema* requested, ColumnError& error) const noexcept;
    bool export_chunk(size_t k, ArrowArray* out, const ArrowSchema* requested, ColumnError& error) noexcept;
    bool export_stream(ArrowArrayStream* out, const ArrowSchema* requested, ColumnError& error) noexcept;

private:
    ParsedColumn() = default;
    ~ParsedColumn() = default;

    std::atomic<int64_t> holds_{1};
    int64_t length_ = 0;
    nanoarrow::UniqueSchema schema_;
    std::vector<nanoarrow::UniqueArray> chunks_;
};

}  // namespace marquill
