#include "column/parsed_column.hpp"

#include <cerrno>
#include <new>
#include <utility>

#include "column/requested_rows.hpp"

namespace marquill {

namespace {

// One structure of an exported tree, with room for its children's: a
// consumer may move a child out and release it on its own, so each child
// holds the column as well.
struct ExportedArray {
    ParsedColumn* column;
    std::vector<ArrowArray> children;  // zeroed: a child not yet exported has no release
    std::vector<ArrowArray*> childPointers;
};

void release_exported(ArrowArray* array) noexcept {
    auto* exported = static_cast<ExportedArray*>(array->private_data);
    for (ArrowArray& child : exported->children) {
        if (child.release != nullptr) child.release(&child);
    }
    ParsedColumn* column = exported->column;
    delete exported;
    array->release = nullptr;
    column->drop();
}

// `out` shows `source`'s buffers, which the column keeps.
bool export_tree(const ArrowArray& source, ParsedColumn* column, ArrowArray* out) noexcept {
    out->release = nullptr;
    const auto count = static_cast<size_t>(source.n_children);
    ExportedArray* exported = nullptr;
    try {
        exported = new ExportedArray{column, std::vector<ArrowArray>(count), std::vector<ArrowArray*>(count)};
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (size_t k = 0; k < count; ++k) exported->childPointers[k] = &exported->children[k];
    *out = source;
    out->children = exported->childPointers.data();
    out->dictionary = nullptr;
    out->private_data = exported;
    out->release = &release_exported;
    column->retain();
    for (size_t k = 0; k < count; ++k) {
        if (!export_tree(*source.children[k], column, &exported->children[k])) {
            release_exported(out);
            return false;
        }
    }
    return true;
}

struct ExportedStream {
    ParsedColumn* column;
    size_t next;
    nanoarrow::UniqueSchema requested;  // released when the rows' own type is exported
    ColumnError error;

    const ArrowSchema* request() const noexcept { return requested->release != nullptr ? requested.get() : nullptr; }
};

ExportedStream& exported_of(ArrowArrayStream* stream) { return *static_cast<ExportedStream*>(stream->private_data); }

int stream_code(const ColumnError& error) { return error.fault == ColumnFault::outOfMemory ? ENOMEM : EOVERFLOW; }

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    ExportedStream& exported = exported_of(stream);
    return exported.column->export_schema(out, exported.request(), exported.error) ? 0 : stream_code(exported.error);
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
    ExportedStream& exported = exported_of(stream);
    if (exported.next == exported.column->chunk_count()) {
        out->release = nullptr;  // the end of the stream
        return 0;
    }
    if (!exported.column->export_chunk(exported.next, out, exported.request(), exported.error)) {
        return stream_code(exported.error);
    }
    ++exported.next;
    return 0;
}

const char* stream_error(ArrowArrayStream* stream) { return exported_of(stream).error.detail.message; }

bool out_of_memory(ColumnError& error) noexcept {
    error.fault = ColumnFault::outOfMemory;
    ArrowErrorSet(&error.detail, "out of memory");
    return false;
}

void stream_release(ArrowArrayStream* stream) {
    auto* exported = static_cast<ExportedStream*>(stream->private_data);
    ParsedColumn* column = exported->column;
    delete exported;
    stream->release = nullptr;
    column->drop();
}

}  // namespace

ParsedColumn* ParsedColumn::parse(const ArrowSchema& schema,
                                  const ArrowArray* chunks,
                                  size_t count,
                                  const Kernel& kernel,
                                  ColumnError& error) noexcept {
    auto* column = new (std::nothrow) ParsedColumn;
    bool reserved = column != nullptr;
    try {
        if (reserved) column->chunks_.reserve(count);
    } catch (const std::bad_alloc&) {
        reserved = false;
    }
    if (!reserved) {
        delete column;
        error.fault = ColumnFault::outOfMemory;
        ArrowErrorSet(&error.detail, "out of memory for the parsed column");
        return nullptr;
    }
    bool parsed = init_parsed_schema(family_of(schema), column->schema_.get(), error);
    for (size_t k = 0; parsed && k < count; ++k) {
        nanoarrow::UniqueArray chunk;
        parsed = parse_string_array(schema, chunks[k], kernel, chunk.get(), error);
        if (!parsed) break;
        column->length_ += chunk->length;
        column->chunks_.push_back(std::move(chunk));  // reserved: cannot throw
    }
    if (!parsed) {
        delete column;
        return nullptr;
    }
    return column;
}

void ParsedColumn::drop() noexcept {
    if (holds_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

// A requested schema of the rows' own types is exported as it was asked
// for, names included, over the rows' own buffers.
bool ParsedColumn::export_schema(ArrowSchema* out, const ArrowSchema* requested, ColumnError& error) const noexcept {
    out->release = nullptr;
    const ArrowSchema& exported = requested != nullptr ? *requested : *schema_.get();
    return ArrowSchemaDeepCopy(&exported, out) == NANOARROW_OK || out_of_memory(error);
}

bool ParsedColumn::export_chunk(size_t k, ArrowArray* out, const ArrowSchema* requested, ColumnError& error) noexcept {
    if (requested == nullptr || same_types(*requested, *schema_.get())) {
        return export_tree(*chunks_[k].get(), this, out) || out_of_memory(error);
    }
    return write_requested(*schema_.get(), *chunks_[k].get(), *requested, out, error);
}

bool ParsedColumn::export_stream(ArrowArrayStream* out, const ArrowSchema* requested, ColumnError& error) noexcept {
    out->release = nullptr;
    auto* exported = new (std::nothrow) ExportedStream{this, 0, {}, {}};
    if (exported == nullptr) return out_of_memory(error);
    if (requested != nullptr && ArrowSchemaDeepCopy(requested, exported->requested.get()) != NANOARROW_OK) {
        delete exported;
        return out_of_memory(error);
    }
    retain();
    out->get_schema = &stream_schema;
    out->get_next = &stream_next;
    out->get_last_error = &stream_error;
    out->release = &stream_release;
    out->private_data = exported;
    return true;
}

}  // namespace marquill
