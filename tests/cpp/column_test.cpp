// The whole-column path against the per-line parse: every row of a parsed
// column must be what ParsedText gives for its string, on every kernel and
// string type, with nulls, slices and chunks; malformed arrays are refused
// before a string is read; exports live on their own.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "column/parsed_column.hpp"
#include "column/string_column.hpp"
#include "parse_helpers.hpp"
#include "parser/keywords.hpp"
#include "third_party/nanoarrow/nanoarrow.hpp"

namespace {

using Row = std::optional<std::string>;  // nullopt: a null string

// Lines made of markup fragments, plain text of every UTF-8 length, bytes
// that are no UTF-8, and NUL.
std::vector<Row> random_rows(size_t count, unsigned seed) {
    std::vector<std::string> fragments = {"[",
                                          "]",
                                          "{",
                                          "}",
                                          "{}",
                                          "x",
                                          " ",
                                          "é",
                                          "€",
                                          "😀",
                                          "\xff",
                                          "\xc3",
                                          std::string(1, '\0'),
                                          "[Center]",
                                          "{a}",
                                          "[font a[style b]c]"};
    for (const marquill::Keyword& keyword : marquill::keywords) {
        const std::string opened = std::string("[").append(keyword.word);
        fragments.push_back(opened);
        fragments.push_back(opened + (keyword.opener ? " " : "]"));
    }
    std::mt19937 random(seed);
    std::vector<Row> rows;
    for (size_t i = 0; i < count; ++i) {
        if (random() % 11 == 0) {
            rows.emplace_back(std::nullopt);
            continue;
        }
        std::string line;
        for (unsigned k = random() % 24; k > 0; --k) line += fragments[random() % fragments.size()];
        rows.emplace_back(line);
    }
    return rows;
}

void require_ok(ArrowErrorCode code) { ASSERT_EQ(code, NANOARROW_OK); }

void init_column(ArrowType type, const std::vector<Row>& rows, ArrowSchema* schema, ArrowArray* array) {
    require_ok(ArrowSchemaInitFromType(schema, type));
    require_ok(ArrowArrayInitFromType(array, type));
    require_ok(ArrowArrayStartAppending(array));
    for (const Row& row : rows) {
        if (row) {
            require_ok(ArrowArrayAppendString(array, {row->data(), static_cast<int64_t>(row->size())}));
        } else {
            require_ok(ArrowArrayAppendNull(array, 1));
        }
    }
    require_ok(ArrowArrayFinishBuildingDefault(array, nullptr));
}

// Row i of a parsed chunk, flattened as the per-line parse is (tags' l and
// r are not in a column, so they are left 0).
std::optional<Flat> parsed_row(const ArrowArrayView& parsed, int64_t i) {
    if (ArrowArrayViewIsNull(&parsed, i)) return std::nullopt;
    const ArrowStringView text = ArrowArrayViewGetStringUnsafe(parsed.children[0], i);
    Flat flat{std::string(text.data, static_cast<size_t>(text.size_bytes)), {}};
    const ArrowArrayView& lists = *parsed.children[1];
    const ArrowArrayView& tags = *lists.children[0];
    const int64_t* offsets = lists.buffer_views[1].data.as_int64;
    for (int64_t t = offsets[lists.offset + i]; t < offsets[lists.offset + i + 1]; ++t) {
        const ArrowStringView kind = ArrowArrayViewGetStringUnsafe(tags.children[0], t);
        const ArrowStringView value = ArrowArrayViewGetStringUnsafe(tags.children[1], t);
        EXPECT_EQ(kind.size_bytes, 1);
        flat.tags.push_back({kind.data[0], std::string(value.data, static_cast<size_t>(value.size_bytes)), 0, 0});
    }
    return flat;
}

Flat without_positions(Flat flat) {
    for (FlatTag& tag : flat.tags) tag.l = tag.r = 0;
    return flat;
}

// Parses `array` and checks each of its rows against rows[first + i].
void expect_rows(const ArrowSchema& schema,
                 const ArrowArray& array,
                 const std::vector<Row>& rows,
                 size_t first,
                 const marquill::Kernel& kernel) {
    nanoarrow::UniqueArray out;
    marquill::ColumnError error;
    ASSERT_TRUE(marquill::parse_string_array(schema, array, kernel, out.get(), error)) << error.detail.message;
    nanoarrow::UniqueSchema parsedSchema;
    ASSERT_TRUE(marquill::init_parsed_schema(parsedSchema.get(), error));
    nanoarrow::UniqueArrayView view;
    ArrowError detail;
    require_ok(ArrowArrayViewInitFromSchema(view.get(), parsedSchema.get(), &detail));
    require_ok(ArrowArrayViewSetArray(view.get(), out.get(), &detail));
    require_ok(ArrowArrayViewValidate(view.get(), NANOARROW_VALIDATION_LEVEL_FULL, &detail));
    ASSERT_EQ(out->length, array.length);
    for (int64_t i = 0; i < array.length; ++i) {
        const Row& row = rows[first + static_cast<size_t>(i)];
        const std::optional<Flat> got = parsed_row(*view.get(), i);
        ASSERT_EQ(got.has_value(), row.has_value()) << "row " << i;
        if (row) {
            EXPECT_TRUE(*got == without_positions(parse_on(*row, kernel))) << "row " << i << ": " << *row;
        }
    }
}

constexpr ArrowType stringTypes[] = {NANOARROW_TYPE_STRING, NANOARROW_TYPE_LARGE_STRING, NANOARROW_TYPE_STRING_VIEW};

TEST(Column, EveryRowIsItsLinesParseOnEveryKernelAndType) {
    const std::vector<Row> rows = random_rows(3000, 7);
    for (const ArrowType type : stringTypes) {
        nanoarrow::UniqueSchema schema;
        nanoarrow::UniqueArray array;
        init_column(type, rows, schema.get(), array.get());
        for (const marquill::Kernel* kernel : marquill::runnable_kernels()) {
            SCOPED_TRACE(std::string(ArrowTypeString(type)) + " on " + kernel->name);
            expect_rows(*schema.get(), *array.get(), rows, 0, *kernel);
            // a slice: the array's offset moves its first row and its nulls
            ArrowArray slice = *array.get();
            slice.offset = 13;
            slice.length = 2000;
            slice.null_count = -1;
            expect_rows(*schema.get(), slice, rows, 13, *kernel);
        }
    }
}

TEST(Column, EmptyAndAllNullChunks) {
    for (const ArrowType type : stringTypes) {
        for (const std::vector<Row>& rows : {std::vector<Row>{}, std::vector<Row>(70), std::vector<Row>{""}}) {
            nanoarrow::UniqueSchema schema;
            nanoarrow::UniqueArray array;
            init_column(type, rows, schema.get(), array.get());
            expect_rows(*schema.get(), *array.get(), rows, 0, marquill::best_kernel());
        }
    }
}

// A producer may give an array of no rows, or of empty strings only, no
// buffers at all.
TEST(Column, ArraysWithoutBuffers) {
    for (const ArrowType type : {NANOARROW_TYPE_STRING, NANOARROW_TYPE_LARGE_STRING}) {
        const int64_t zeros[2] = {0, 0};
        for (const int64_t length : {0, 1}) {
            nanoarrow::UniqueSchema schema;
            require_ok(ArrowSchemaInitFromType(schema.get(), type));
            const void* buffers[3] = {nullptr, length == 0 ? nullptr : zeros, nullptr};
            const ArrowArray array{length, 0, 0, 3, 0, buffers, nullptr, nullptr, [](ArrowArray*) {}, nullptr};
            expect_rows(*schema.get(), array, {""}, 0, marquill::best_kernel());
        }
    }
}

TEST(Column, OtherTypesAreNotStrings) {
    for (const ArrowType type : {NANOARROW_TYPE_BINARY, NANOARROW_TYPE_INT64, NANOARROW_TYPE_LARGE_BINARY}) {
        nanoarrow::UniqueSchema schema;
        require_ok(ArrowSchemaInitFromType(schema.get(), type));
        marquill::ColumnError error;
        EXPECT_FALSE(marquill::check_string_schema(*schema.get(), error));
        EXPECT_EQ(error.fault, marquill::ColumnFault::notStrings);
        EXPECT_NE(std::string(error.detail.message).find(ArrowTypeString(type)), std::string::npos)
            << error.detail.message;
    }
}

// A structure no valid producer makes, made by changing one field of a sound
// array: refused as malformed, with nothing read out of bounds (ASan).
struct Damage {
    const char* what;
    ArrowType type;
    void (*apply)(ArrowArray& array);
};

const Damage damages[] = {
    {"offsets that decrease", NANOARROW_TYPE_STRING,
     [](ArrowArray& a) { const_cast<int32_t*>(static_cast<const int32_t*>(a.buffers[1]))[2] = 1; }},
    {"a negative first offset", NANOARROW_TYPE_LARGE_STRING,
     [](ArrowArray& a) { const_cast<int64_t*>(static_cast<const int64_t*>(a.buffers[1]))[0] = -4; }},
    {"a negative length", NANOARROW_TYPE_STRING, [](ArrowArray& a) { a.length = -1; }},
    {"a length that overflows", NANOARROW_TYPE_LARGE_STRING, [](ArrowArray& a) { a.length = INT64_MAX - 1; }},
    {"an offset that overflows", NANOARROW_TYPE_STRING, [](ArrowArray& a) { a.offset = INT64_MAX - 2; }},
    {"too few buffers", NANOARROW_TYPE_STRING, [](ArrowArray& a) { a.n_buffers = 2; }},
    {"a view past its buffer", NANOARROW_TYPE_STRING_VIEW,
     [](ArrowArray& a) {
         auto* views = const_cast<ArrowBinaryView*>(static_cast<const ArrowBinaryView*>(a.buffers[1]));
         views[1].ref.offset = 1 << 20;
     }},
    {"a view of a buffer that is not there", NANOARROW_TYPE_STRING_VIEW,
     [](ArrowArray& a) {
         auto* views = const_cast<ArrowBinaryView*>(static_cast<const ArrowBinaryView*>(a.buffers[1]));
         views[1].ref.buffer_index = 7;
     }},
};

TEST(Column, MalformedArraysAreRefused) {
    const std::vector<Row> rows = {"[center] the first line, long enough not to be inlined", "a second line of text",
                                   "{name} a third line with a raw block in it"};
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        nanoarrow::UniqueSchema schema;
        nanoarrow::UniqueArray array;
        init_column(damage.type, rows, schema.get(), array.get());
        ArrowArray damaged = *array.get();
        damage.apply(damaged);
        nanoarrow::UniqueArray out;
        marquill::ColumnError error;
        EXPECT_FALSE(marquill::parse_string_array(*schema.get(), damaged, marquill::best_kernel(), out.get(), error));
        EXPECT_EQ(error.fault, marquill::ColumnFault::malformed) << error.detail.message;
        EXPECT_EQ(out->release, nullptr);
    }
}

// Exports outlive the column's own hold and each other, children moved out
// of them included; LeakSanitizer sees anything released twice or never.
TEST(Column, ExportsAreIndependent) {
    const std::vector<Row> rows = random_rows(500, 3);
    nanoarrow::UniqueSchema schema;
    nanoarrow::UniqueArray array;
    init_column(NANOARROW_TYPE_STRING, rows, schema.get(), array.get());
    const ArrowArray chunks[] = {*array.get(), *array.get()};
    marquill::ColumnError error;
    marquill::ParsedColumn* column =
        marquill::ParsedColumn::parse(*schema.get(), chunks, 2, marquill::best_kernel(), error);
    ASSERT_NE(column, nullptr) << error.detail.message;
    EXPECT_EQ(column->length(), 1000);

    nanoarrow::UniqueArrayStream stream;
    ASSERT_TRUE(column->export_stream(stream.get()));
    nanoarrow::UniqueArray first;
    nanoarrow::UniqueArray moved;
    ASSERT_TRUE(column->export_chunk(0, first.get()));
    ArrowArrayMove(first->children[1], moved.get());  // a consumer may keep a child alone
    column->drop();

    for (int k = 0; k < 2; ++k) {
        nanoarrow::UniqueSchema parsedSchema;
        nanoarrow::UniqueArray chunk;
        ASSERT_EQ(stream->get_schema(stream.get(), parsedSchema.get()), 0);
        ASSERT_EQ(stream->get_next(stream.get(), chunk.get()), 0);
        nanoarrow::UniqueArrayView view;
        ArrowError detail;
        require_ok(ArrowArrayViewInitFromSchema(view.get(), parsedSchema.get(), &detail));
        require_ok(ArrowArrayViewSetArray(view.get(), chunk.get(), &detail));
        require_ok(ArrowArrayViewValidate(view.get(), NANOARROW_VALIDATION_LEVEL_FULL, &detail));
        EXPECT_EQ(chunk->length, 500);
    }
    nanoarrow::UniqueArray end;
    ASSERT_EQ(stream->get_next(stream.get(), end.get()), 0);
    EXPECT_EQ(end->release, nullptr);
    first.reset();
    EXPECT_EQ(moved->length, 500);  // still readable: the child holds the column
}

}  // namespace
