#include "column/parsed_column.hpp"

#include <cerrno>
#include <new>
#include <utility>

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
};

ParsedColumn& column_of(ArrowArrayStream* stream) {
    return *static_cast<ExportedStream*>(stream->private_data)->column;
}

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    return column_of(stream).export_schema(out) ? 0 : ENOMEM;
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
    auto* exported = static_cast<ExportedStream*>(stream->private_data);
    if (exported->next == exported->column->chunk_count()) {
        out->release = nullptr;  // the end of the stream
        return 0;
    }
    if (!exported->column->export_chunk(exported->next, out)) return ENOMEM;
    ++exported->next;
    return 0;
}

// The only error the stream reports is ENOMEM.
const char* stream_error(ArrowArrayStream*) { return "out of memory"; }

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
    bool parsed = init_parsed_schema(column->schema_.get(), error);
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

bool ParsedColumn::export_schema(ArrowSchema* out) const noexcept {
    out->release = nullptr;
    return ArrowSchemaDeepCopy(schema_.get(), out) == NANOARROW_OK;
}

bool ParsedColumn::export_chunk(size_t k, ArrowArray* out) noexcept {
    return export_tree(*chunks_[k].get(), this, out);
}

bool ParsedColumn::export_stream(ArrowArrayStream* out) noexcept {
    out->release = nullptr;
    auto* exported = new (std::nothrow) ExportedStream{this, 0};
    if (exported == nullptr) return false;
    retain();
    out->get_schema = &stream_schema;
    out->get_next = &stream_next;
    out->get_last_error = &stream_error;
    out->release = &stream_release;
    out->private_data = exported;
    return true;
}

}  // namespace marquill
