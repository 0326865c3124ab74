// libFuzzer target for the whole-column path. An input is a column: its
// first byte picks the string type, and the rest splits at '\n' into lines,
// a line that starts with 0x01 being null; the lines go into chunks of a
// size the second byte picks. Each chunk, whole and sliced, is parsed on
// every kernel, and each row must be what the per-line parse gives.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "column/string_column.hpp"
#include "parser/kernel.hpp"
#include "parser/parsed_text.hpp"
#include "third_party/nanoarrow/nanoarrow.hpp"

namespace {

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

using Line = std::optional<std::string_view>;

std::vector<Line> lines_of(std::string_view text) {
    std::vector<Line> lines;
    for (;;) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        lines.push_back(!line.empty() && line[0] == '\x01' ? Line() : Line(line));
        if (end == std::string_view::npos) return lines;
        text.remove_prefix(end + 1);
    }
}

void build_chunk(ArrowType type, const Line* lines, size_t count, ArrowSchema* schema, ArrowArray* array) {
    require(ArrowSchemaInitFromType(schema, type) == NANOARROW_OK, "schema");
    require(ArrowArrayInitFromType(array, type) == NANOARROW_OK && ArrowArrayStartAppending(array) == NANOARROW_OK,
            "array");
    for (size_t k = 0; k < count; ++k) {
        const ArrowErrorCode appended =
            lines[k] ? ArrowArrayAppendString(array, {lines[k]->data(), static_cast<int64_t>(lines[k]->size())})
                     : ArrowArrayAppendNull(array, 1);
        require(appended == NANOARROW_OK, "append");
    }
    require(ArrowArrayFinishBuildingDefault(array, nullptr) == NANOARROW_OK, "finish");
}

std::string_view string_at(const ArrowArrayView* view, int64_t i) {
    const ArrowStringView string = ArrowArrayViewGetStringUnsafe(view, i);
    return {string.data, static_cast<size_t>(string.size_bytes)};
}

// The parsed rows of `array` against the per-line parse of `lines`.
void check_parse(const ArrowSchema& schema,
                 const ArrowArray& array,
                 const Line* lines,
                 const marquill::Kernel& kernel) {
    nanoarrow::UniqueArray parsed;
    marquill::ColumnError error;
    require(marquill::parse_string_array(schema, array, kernel, parsed.get(), error), "a sound column parses");
    nanoarrow::UniqueSchema parsedSchema;
    require(marquill::init_parsed_schema(parsedSchema.get(), error), "schema of rows");
    nanoarrow::UniqueArrayView view;
    require(ArrowArrayViewInitFromSchema(view.get(), parsedSchema.get(), nullptr) == NANOARROW_OK &&
                ArrowArrayViewSetArray(view.get(), parsed.get(), nullptr) == NANOARROW_OK &&
                ArrowArrayViewValidate(view.get(), NANOARROW_VALIDATION_LEVEL_FULL, nullptr) == NANOARROW_OK,
            "the rows are a valid array");
    require(parsed->length == array.length, "a row per line");
    const ArrowArrayView* lists = view->children[1];
    const ArrowArrayView* tags = lists->children[0];
    for (int64_t i = 0; i < array.length; ++i) {
        const Line& line = lines[i];
        require(ArrowArrayViewIsNull(view.get(), i) == !line, "a null row for a null line");
        if (!line) continue;
        const std::string input(*line);
        const marquill::ParsedText expected(input.data(), static_cast<int64_t>(input.size()), kernel);
        require(string_at(view->children[0], i) == std::string_view(expected.text, expected.textSize), "template");
        const int64_t first = lists->buffer_views[1].data.as_int64[i];
        const int64_t end = lists->buffer_views[1].data.as_int64[i + 1];
        require(end - first == static_cast<int64_t>(expected.args.size()), "a tag per tag");
        for (int64_t t = first; t < end; ++t) {
            const marquill::Tag& tag = expected.args[static_cast<size_t>(t - first)];
            require(string_at(tags->children[0], t) == std::string_view(&tag.name, 1), "kind");
            require(string_at(tags->children[1], t) == std::string_view(tag.value, tag.size), "value");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    constexpr ArrowType types[] = {NANOARROW_TYPE_STRING, NANOARROW_TYPE_LARGE_STRING, NANOARROW_TYPE_STRING_VIEW};
    const ArrowType type = types[data[0] % 3];
    const size_t chunkSize = 1 + data[1] % 8;
    const std::vector<Line> lines = lines_of({reinterpret_cast<const char*>(data) + 2, size - 2});
    for (size_t first = 0; first < lines.size(); first += chunkSize) {
        const size_t count = lines.size() - first < chunkSize ? lines.size() - first : chunkSize;
        nanoarrow::UniqueSchema schema;
        nanoarrow::UniqueArray chunk;
        build_chunk(type, lines.data() + first, count, schema.get(), chunk.get());
        for (const marquill::Kernel* kernel : marquill::runnable_kernels()) {
            check_parse(*schema.get(), *chunk.get(), lines.data() + first, *kernel);
            ArrowArray slice = *chunk.get();  // the chunk without its first row
            slice.offset = count > 1 ? 1 : 0;
            slice.length = count > 1 ? static_cast<int64_t>(count) - 1 : slice.length;
            slice.null_count = slice.buffers[0] != nullptr ? -1 : 0;  // unknown, where a bitmap can tell
            check_parse(*schema.get(), slice, lines.data() + first + slice.offset, *kernel);
        }
    }
    return 0;
}
