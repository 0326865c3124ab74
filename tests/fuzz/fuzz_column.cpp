// libFuzzer target for the whole-column path. An input is a column: its
// first byte picks the string type, and whether the lines are the values of
// a dictionary, and the rest splits at '\n' into lines, a line that starts
// with 0x01 being null; the lines go into chunks of a size the second byte
// picks. Each chunk, whole and sliced, is parsed on every kernel, and each
// row must be what the per-line parse gives. A dictionary chunk's rows pick
// its values in an order the second byte also sets, some rows null.
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

void append_lines(ArrowArray* array, const Line* lines, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        const ArrowErrorCode appended =
            lines[k] ? ArrowArrayAppendString(array, {lines[k]->data(), static_cast<int64_t>(lines[k]->size())})
                     : ArrowArrayAppendNull(array, 1);
        require(appended == NANOARROW_OK, "append");
    }
}

void build_chunk(ArrowType type, const Line* lines, size_t count, ArrowSchema* schema, ArrowArray* array) {
    require(ArrowSchemaInitFromType(schema, type) == NANOARROW_OK, "schema");
    require(ArrowArrayInitFromType(array, type) == NANOARROW_OK && ArrowArrayStartAppending(array) == NANOARROW_OK,
            "array");
    append_lines(array, lines, count);
    require(ArrowArrayFinishBuildingDefault(array, nullptr) == NANOARROW_OK, "finish");
}

// A dictionary of the lines as values, its rows picking them by a stride
// from `seed`, every fifth row null; `rows` gets the lines the rows decode to.
void build_dictionary(ArrowType type,
                      const Line* lines,
                      size_t count,
                      unsigned seed,
                      ArrowSchema* schema,
                      ArrowArray* array,
                      std::vector<Line>& rows) {
    require(ArrowSchemaInitFromType(schema, NANOARROW_TYPE_INT16) == NANOARROW_OK &&
                ArrowSchemaAllocateDictionary(schema) == NANOARROW_OK &&
                ArrowSchemaInitFromType(schema->dictionary, type) == NANOARROW_OK,
            "dictionary schema");
    require(ArrowArrayInitFromSchema(array, schema, nullptr) == NANOARROW_OK &&
                ArrowArrayStartAppending(array) == NANOARROW_OK,
            "dictionary array");
    append_lines(array->dictionary, lines, count);
    rows.clear();
    for (size_t k = 0; k < 2 * count + 1; ++k) {
        if (k % 5 == 4) {
            require(ArrowArrayAppendNull(array, 1) == NANOARROW_OK, "null index");
            rows.emplace_back();
            continue;
        }
        const size_t index = (k * (seed | 1) + seed) % count;
        require(ArrowArrayAppendInt(array, static_cast<int64_t>(index)) == NANOARROW_OK, "index");
        rows.push_back(lines[index]);
    }
    require(ArrowArrayFinishBuildingDefault(array, nullptr) == NANOARROW_OK, "finish dictionary");
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
    require(marquill::init_parsed_schema(marquill::family_of(schema), parsedSchema.get(), error), "schema of rows");
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
        require(!ArrowArrayViewIsNull(view.get(), i), "no row is null");
        require(ArrowArrayViewIsNull(view->children[0], i) == !line, "a null template for a null line");
        require(ArrowArrayViewIsNull(lists, i) == !line, "null tags for a null line");
        if (!line) continue;
        const std::string input(*line);
        const marquill::ParsedText expected(input.data(), static_cast<int64_t>(input.size()), kernel);
        require(string_at(view->children[0], i) == std::string_view(expected.text, expected.textSize), "template");
        const int64_t first = ArrowArrayViewListChildOffset(lists, i);
        const int64_t end = ArrowArrayViewListChildOffset(lists, i + 1);
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
    const bool dictionary = data[0] % 6 >= 3;
    const size_t chunkSize = 1 + data[1] % 8;
    const std::vector<Line> lines = lines_of({reinterpret_cast<const char*>(data) + 2, size - 2});
    std::vector<Line> rows;
    for (size_t first = 0; first < lines.size(); first += chunkSize) {
        const size_t count = lines.size() - first < chunkSize ? lines.size() - first : chunkSize;
        nanoarrow::UniqueSchema schema;
        nanoarrow::UniqueArray chunk;
        if (dictionary) {
            build_dictionary(type, lines.data() + first, count, data[1], schema.get(), chunk.get(), rows);
        } else {
            build_chunk(type, lines.data() + first, count, schema.get(), chunk.get());
            rows.assign(lines.begin() + static_cast<ptrdiff_t>(first),
                        lines.begin() + static_cast<ptrdiff_t>(first + count));
        }
        for (const marquill::Kernel* kernel : marquill::runnable_kernels()) {
            check_parse(*schema.get(), *chunk.get(), rows.data(), *kernel);
            ArrowArray slice = *chunk.get();  // the chunk without its first row
            slice.offset = chunk->length > 1 ? 1 : 0;
            slice.length = chunk->length > 1 ? chunk->length - 1 : slice.length;
            slice.null_count = slice.buffers[0] != nullptr ? -1 : 0;  // unknown, where a bitmap can tell
            check_parse(*schema.get(), slice, rows.data() + slice.offset, *kernel);
        }
    }
    return 0;
}
