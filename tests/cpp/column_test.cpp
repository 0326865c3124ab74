// The whole-column path against the per-line parse: every row of a parsed
// column must be what ParsedText gives for its string, on every kernel and
// string type, with nulls, slices and chunks; malformed arrays are refused
// before a string is read; exports live on their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "column/column_buffers.hpp"
#include "column/parsed_column.hpp"
#include "column/requested_rows.hpp"
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

// A dictionary column of those values, its rows the values' indices
// (nullopt: a null index).
void init_dictionary(ArrowType indexType,
                     ArrowType valueType,
                     const std::vector<Row>& values,
                     const std::vector<std::optional<int64_t>>& indices,
                     ArrowSchema* schema,
                     ArrowArray* array) {
    require_ok(ArrowSchemaInitFromType(schema, indexType));
    require_ok(ArrowSchemaAllocateDictionary(schema));
    require_ok(ArrowSchemaInitFromType(schema->dictionary, valueType));
    require_ok(ArrowArrayInitFromSchema(array, schema, nullptr));
    require_ok(ArrowArrayStartAppending(array));
    for (const std::optional<int64_t>& index : indices) {
        require_ok(index ? ArrowArrayAppendInt(array, *index) : ArrowArrayAppendNull(array, 1));
    }
    for (const Row& value : values) {
        require_ok(value
                       ? ArrowArrayAppendString(array->dictionary, {value->data(), static_cast<int64_t>(value->size())})
                       : ArrowArrayAppendNull(array->dictionary, 1));
    }
    require_ok(ArrowArrayFinishBuildingDefault(array, nullptr));
}

// Row i of a parsed chunk, flattened as the per-line parse is (tags' l and
// r are not in a column, so they are left 0). A null line's row has a null
// template and null tags, and is not null itself.
std::optional<Flat> parsed_row(const ArrowArrayView& parsed, int64_t i) {
    EXPECT_FALSE(ArrowArrayViewIsNull(&parsed, i));
    const bool nullTemplate = ArrowArrayViewIsNull(parsed.children[0], i);
    EXPECT_EQ(nullTemplate, ArrowArrayViewIsNull(parsed.children[1], i)) << "row " << i;
    if (nullTemplate) return std::nullopt;
    const ArrowStringView text = ArrowArrayViewGetStringUnsafe(parsed.children[0], i);
    Flat flat{std::string(text.data, static_cast<size_t>(text.size_bytes)), {}};
    const ArrowArrayView& lists = *parsed.children[1];
    const ArrowArrayView& tags = *lists.children[0];
    for (int64_t t = ArrowArrayViewListChildOffset(&lists, i); t < ArrowArrayViewListChildOffset(&lists, i + 1); ++t) {
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

// Checks each row of `out`, parsed rows of type `parsedSchema`, against
// the parse of rows[first + i].
void expect_parsed(const ArrowSchema& parsedSchema,
                   const ArrowArray& out,
                   const std::vector<Row>& rows,
                   size_t first,
                   const marquill::Kernel& kernel) {
    nanoarrow::UniqueArrayView view;
    ArrowError detail;
    require_ok(ArrowArrayViewInitFromSchema(view.get(), &parsedSchema, &detail));
    require_ok(ArrowArrayViewSetArray(view.get(), &out, &detail));
    ASSERT_EQ(ArrowArrayViewValidate(view.get(), NANOARROW_VALIDATION_LEVEL_FULL, &detail), NANOARROW_OK)
        << detail.message;
    for (int64_t i = 0; i < out.length; ++i) {
        const Row& row = rows[first + static_cast<size_t>(i)];
        const std::optional<Flat> got = parsed_row(*view.get(), i);
        ASSERT_EQ(got.has_value(), row.has_value()) << "row " << i;
        if (row) {
            EXPECT_TRUE(*got == without_positions(parse_on(*row, kernel))) << "row " << i << ": " << *row;
        }
    }
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
    ASSERT_EQ(out->length, array.length);
    nanoarrow::UniqueSchema parsedSchema;
    ASSERT_TRUE(marquill::init_parsed_schema(marquill::family_of(schema), parsedSchema.get(), error));
    expect_parsed(*parsedSchema.get(), *out.get(), rows, first, kernel);
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

// The rows' types follow the input's family; a dictionary's is its values'.
struct FamilyCase {
    ArrowType input;
    ArrowType dictionaryValues;  // NANOARROW_TYPE_UNINITIALIZED: no dictionary
    const char* formats;         // the template's, the list's, the kind's and the value's
};

const FamilyCase familyCases[] = {
    {NANOARROW_TYPE_STRING, NANOARROW_TYPE_UNINITIALIZED, "u +l z u"},
    {NANOARROW_TYPE_LARGE_STRING, NANOARROW_TYPE_UNINITIALIZED, "U +L Z U"},
    {NANOARROW_TYPE_STRING_VIEW, NANOARROW_TYPE_UNINITIALIZED, "vu +L vz vu"},
    {NANOARROW_TYPE_NA, NANOARROW_TYPE_UNINITIALIZED, "u +l z u"},
    {NANOARROW_TYPE_INT8, NANOARROW_TYPE_LARGE_STRING, "U +L Z U"},
    {NANOARROW_TYPE_UINT32, NANOARROW_TYPE_STRING_VIEW, "vu +L vz vu"},
};

TEST(Column, RowsTypesFollowTheInputs) {
    for (const FamilyCase& type : familyCases) {
        nanoarrow::UniqueSchema schema;
        require_ok(ArrowSchemaInitFromType(schema.get(), type.input));
        if (type.dictionaryValues != NANOARROW_TYPE_UNINITIALIZED) {
            require_ok(ArrowSchemaAllocateDictionary(schema.get()));
            require_ok(ArrowSchemaInitFromType(schema->dictionary, type.dictionaryValues));
        }
        marquill::ColumnError error;
        ASSERT_TRUE(marquill::check_string_schema(*schema.get(), error)) << error.detail.message;
        nanoarrow::UniqueSchema parsed;
        ASSERT_TRUE(marquill::init_parsed_schema(marquill::family_of(*schema.get()), parsed.get(), error));
        const ArrowSchema& tag = *parsed->children[1]->children[0];
        const std::string formats = std::string(parsed->children[0]->format) + " " + parsed->children[1]->format + " " +
                                    tag.children[0]->format + " " + tag.children[1]->format;
        EXPECT_EQ(formats, type.formats) << ArrowTypeString(type.input);
    }
}

// A dictionary of each string type under each integer index: every row is
// the parse of its value, null where its index or its value is.
TEST(Column, DictionaryRowsAreTheirValuesParse) {
    const std::vector<Row> values = random_rows(60, 11);
    std::mt19937 random(5);
    std::vector<std::optional<int64_t>> indices;
    std::vector<Row> rows;
    for (int i = 0; i < 1500; ++i) {
        if (random() % 13 == 0) {
            indices.emplace_back(std::nullopt);
            rows.emplace_back(std::nullopt);
        } else {
            indices.emplace_back(random() % values.size());
            rows.push_back(values[static_cast<size_t>(*indices.back())]);
        }
    }
    for (const ArrowType indexType :
         {NANOARROW_TYPE_INT8, NANOARROW_TYPE_UINT8, NANOARROW_TYPE_INT16, NANOARROW_TYPE_UINT16, NANOARROW_TYPE_INT32,
          NANOARROW_TYPE_UINT32, NANOARROW_TYPE_INT64, NANOARROW_TYPE_UINT64}) {
        for (const ArrowType valueType : stringTypes) {
            SCOPED_TRACE(std::string(ArrowTypeString(indexType)) + " of " + ArrowTypeString(valueType));
            nanoarrow::UniqueSchema schema;
            nanoarrow::UniqueArray array;
            init_dictionary(indexType, valueType, values, indices, schema.get(), array.get());
            expect_rows(*schema.get(), *array.get(), rows, 0, marquill::best_kernel());
            ArrowArray slice = *array.get();
            slice.offset = 7;
            slice.length = 1000;
            slice.null_count = -1;
            expect_rows(*schema.get(), slice, rows, 7, marquill::best_kernel());
        }
    }
}

// An index outside the dictionary is refused before anything is read; a
// null index's slot may hold anything.
TEST(Column, DictionaryIndicesOutsideAreRefused) {
    const std::vector<Row> values = {"[left]a", "b"};
    // (index type and width, the outside index's bytes, little-endian): a
    // negative index must not pass as a large unsigned one, nor the reverse
    const std::tuple<ArrowType, size_t, uint64_t> outsides[] = {
        {NANOARROW_TYPE_INT8, 1, 2},
        {NANOARROW_TYPE_INT8, 1, 0xFF},
        {NANOARROW_TYPE_INT8, 1, 100},
        {NANOARROW_TYPE_UINT16, 2, 2},
        {NANOARROW_TYPE_INT64, 8, uint64_t{1} << 63},
        {NANOARROW_TYPE_UINT64, 8, ~uint64_t{0}},
        {NANOARROW_TYPE_UINT64, 8, uint64_t{1} << 32},
    };
    for (const auto& [type, width, outside] : outsides) {
        SCOPED_TRACE(outside);
        nanoarrow::UniqueSchema schema;
        nanoarrow::UniqueArray array;
        init_dictionary(type, NANOARROW_TYPE_STRING, values, {0, 1, 0, 0}, schema.get(), array.get());
        std::memcpy(static_cast<uint8_t*>(const_cast<void*>(array->buffers[1])) + 2 * width, &outside, width);
        nanoarrow::UniqueArray out;
        marquill::ColumnError error;
        EXPECT_FALSE(
            marquill::parse_string_array(*schema.get(), *array.get(), marquill::best_kernel(), out.get(), error));
        EXPECT_EQ(error.fault, marquill::ColumnFault::malformed) << error.detail.message;
        EXPECT_EQ(out->release, nullptr);
    }
    nanoarrow::UniqueSchema schema;
    nanoarrow::UniqueArray array;
    init_dictionary(NANOARROW_TYPE_INT8, NANOARROW_TYPE_STRING, values, {0, std::nullopt, 1}, schema.get(),
                    array.get());
    auto* indices = const_cast<int8_t*>(static_cast<const int8_t*>(array->buffers[1]));
    indices[1] = 99;
    expect_rows(*schema.get(), *array.get(), {"[left]a", std::nullopt, "b"}, 0, marquill::best_kernel());
    indices[2] = 2;  // beside a bitmap, a valid row's index is still checked
    nanoarrow::UniqueArray out;
    marquill::ColumnError error;
    EXPECT_FALSE(marquill::parse_string_array(*schema.get(), *array.get(), marquill::best_kernel(), out.get(), error));
    EXPECT_EQ(error.fault, marquill::ColumnFault::malformed) << error.detail.message;
}

// Rows that would hold more bytes than string's 32-bit offsets reach are
// refused before any is written, though the dictionary itself is small.
TEST(Column, DictionaryRowsPastStringOffsetsAreRefused) {
    const std::vector<Row> values = {std::string(size_t{1} << 20, 'x') + "[left]"};
    const std::vector<std::optional<int64_t>> indices(2100, 0);  // 2100 MiB of templates
    nanoarrow::UniqueSchema schema;
    nanoarrow::UniqueArray array;
    init_dictionary(NANOARROW_TYPE_INT16, NANOARROW_TYPE_STRING, values, indices, schema.get(), array.get());
    nanoarrow::UniqueArray out;
    marquill::ColumnError error;
    EXPECT_FALSE(marquill::parse_string_array(*schema.get(), *array.get(), marquill::best_kernel(), out.get(), error));
    EXPECT_EQ(error.fault, marquill::ColumnFault::tooLarge) << error.detail.message;
    EXPECT_EQ(out->release, nullptr);
}

// A dictionary column's own fields are checked as a string array's are.
TEST(Column, MalformedDictionariesAreRefused) {
    const std::pair<const char*, void (*)(ArrowArray&)> damages[] = {
        {"no dictionary", [](ArrowArray& a) { a.dictionary = nullptr; }},
        {"indices in one buffer", [](ArrowArray& a) { a.n_buffers = 1; }},
        {"a dictionary of two buffers", [](ArrowArray& a) { a.dictionary->n_buffers = 2; }},
        {"a negative length", [](ArrowArray& a) { a.length = -3; }},
    };
    for (const auto& [what, apply] : damages) {
        SCOPED_TRACE(what);
        nanoarrow::UniqueSchema schema;
        nanoarrow::UniqueArray array;
        init_dictionary(NANOARROW_TYPE_INT32, NANOARROW_TYPE_STRING, {"[left]a", "b"}, {0, 1, 1}, schema.get(),
                        array.get());
        ArrowArray damaged = *array.get();
        ArrowArray dictionary = *array->dictionary;
        damaged.dictionary = &dictionary;
        apply(damaged);
        nanoarrow::UniqueArray out;
        marquill::ColumnError error;
        EXPECT_FALSE(marquill::parse_string_array(*schema.get(), damaged, marquill::best_kernel(), out.get(), error));
        EXPECT_EQ(error.fault, marquill::ColumnFault::malformed) << error.detail.message;
    }
}

TEST(Column, ColumnsOfTypeNullGiveNullRows) {
    nanoarrow::UniqueSchema schema;
    nanoarrow::UniqueArray array;
    require_ok(ArrowSchemaInitFromType(schema.get(), NANOARROW_TYPE_NA));
    require_ok(ArrowArrayInitFromType(array.get(), NANOARROW_TYPE_NA));
    require_ok(ArrowArrayStartAppending(array.get()));
    require_ok(ArrowArrayAppendNull(array.get(), 5));
    require_ok(ArrowArrayFinishBuildingDefault(array.get(), nullptr));
    expect_rows(*schema.get(), *array.get(), std::vector<Row>(5), 0, marquill::best_kernel());
}

// The parsed rows in a layout of the given leaf and list types.
void init_layout(ArrowType text, ArrowType list, ArrowType kind, ArrowType value, ArrowSchema* schema) {
    ArrowSchemaInit(schema);
    require_ok(ArrowSchemaSetTypeStruct(schema, 2));
    require_ok(ArrowSchemaSetType(schema->children[0], text));
    require_ok(ArrowSchemaSetName(schema->children[0], "template"));
    require_ok(ArrowSchemaSetType(schema->children[1], list));
    require_ok(ArrowSchemaSetName(schema->children[1], "tags"));
    ArrowSchema* tag = schema->children[1]->children[0];
    require_ok(ArrowSchemaSetTypeStruct(tag, 2));
    require_ok(kind == NANOARROW_TYPE_FIXED_SIZE_BINARY ? ArrowSchemaSetTypeFixedSize(tag->children[0], kind, 1)
                                                        : ArrowSchemaSetType(tag->children[0], kind));
    require_ok(ArrowSchemaSetType(tag->children[1], value));
}

// Every family's rows written in other layouts, a consumer's requested
// schemas, read back as the same rows.
TEST(Column, RowsAreWrittenInRequestedLayouts) {
    const std::vector<Row> rows = random_rows(800, 9);
    struct Layout {
        ArrowType text, list, kind, value;
    };
    const Layout layouts[] = {
        {NANOARROW_TYPE_LARGE_STRING, NANOARROW_TYPE_LARGE_LIST, NANOARROW_TYPE_FIXED_SIZE_BINARY,
         NANOARROW_TYPE_LARGE_STRING},
        {NANOARROW_TYPE_STRING_VIEW, NANOARROW_TYPE_LIST, NANOARROW_TYPE_STRING, NANOARROW_TYPE_BINARY},
        {NANOARROW_TYPE_BINARY, NANOARROW_TYPE_LARGE_LIST, NANOARROW_TYPE_BINARY_VIEW, NANOARROW_TYPE_STRING_VIEW},
        {NANOARROW_TYPE_STRING, NANOARROW_TYPE_LIST, NANOARROW_TYPE_BINARY, NANOARROW_TYPE_STRING},
    };
    for (const ArrowType type : stringTypes) {
        nanoarrow::UniqueSchema schema;
        nanoarrow::UniqueArray array;
        init_column(type, rows, schema.get(), array.get());
        marquill::ColumnError error;
        nanoarrow::UniqueArray parsed;
        nanoarrow::UniqueSchema parsedSchema;
        ASSERT_TRUE(
            marquill::parse_string_array(*schema.get(), *array.get(), marquill::best_kernel(), parsed.get(), error));
        ASSERT_TRUE(marquill::init_parsed_schema(marquill::family_of(*schema.get()), parsedSchema.get(), error));
        for (const Layout& layout : layouts) {
            SCOPED_TRACE(std::string(ArrowTypeString(type)) + " as " + ArrowTypeString(layout.text) + ", " +
                         ArrowTypeString(layout.kind));
            nanoarrow::UniqueSchema requested;
            init_layout(layout.text, layout.list, layout.kind, layout.value, requested.get());
            ASSERT_TRUE(marquill::check_requested_schema(*requested.get(), error)) << error.detail.message;
            nanoarrow::UniqueArray written;
            ASSERT_TRUE(
                marquill::write_requested(*parsedSchema.get(), *parsed.get(), *requested.get(), written.get(), error))
                << error.detail.message;
            expect_parsed(*requested.get(), *written.get(), rows, 0, marquill::best_kernel());
        }
    }
}

TEST(Column, OtherRequestedLayoutsAreRefused) {
    nanoarrow::UniqueSchema integers, listOfIntegers, fixedTwo;
    require_ok(ArrowSchemaInitFromType(integers.get(), NANOARROW_TYPE_INT64));
    init_layout(NANOARROW_TYPE_STRING, NANOARROW_TYPE_LIST, NANOARROW_TYPE_BINARY, NANOARROW_TYPE_STRING,
                listOfIntegers.get());
    require_ok(ArrowSchemaSetType(listOfIntegers->children[1]->children[0]->children[1], NANOARROW_TYPE_INT32));
    init_layout(NANOARROW_TYPE_STRING, NANOARROW_TYPE_LIST, NANOARROW_TYPE_BINARY, NANOARROW_TYPE_STRING,
                fixedTwo.get());
    require_ok(ArrowSchemaSetTypeFixedSize(fixedTwo->children[1]->children[0]->children[0],
                                           NANOARROW_TYPE_FIXED_SIZE_BINARY, 2));
    for (const ArrowSchema* requested : {integers.get(), listOfIntegers.get(), fixedTwo.get()}) {
        marquill::ColumnError error;
        EXPECT_FALSE(marquill::check_requested_schema(*requested, error));
        EXPECT_NE(std::string(error.detail.message).find("cannot be written as"), std::string::npos);
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
    {"no pointer array", NANOARROW_TYPE_LARGE_STRING, [](ArrowArray& a) { a.buffers = nullptr; }},
    {"no offsets", NANOARROW_TYPE_STRING, [](ArrowArray& a) { a.buffers[1] = nullptr; }},
    {"string_view of 2 buffers", NANOARROW_TYPE_STRING_VIEW, [](ArrowArray& a) { a.n_buffers = 2; }},
    {"string_view of 2^32 + 3 buffers", NANOARROW_TYPE_STRING_VIEW,
     [](ArrowArray& a) { a.n_buffers = (int64_t{1} << 32) + 3; }},
    {"no variadic sizes", NANOARROW_TYPE_STRING_VIEW, [](ArrowArray& a) { a.buffers[a.n_buffers - 1] = nullptr; }},
    {"a variadic size near INT64_MIN", NANOARROW_TYPE_STRING_VIEW,
     [](ArrowArray& a) {
         const_cast<int64_t*>(static_cast<const int64_t*>(a.buffers[a.n_buffers - 1]))[0] = INT64_MIN + 5;
     }},
    {"a child", NANOARROW_TYPE_STRING, [](ArrowArray& a) { a.n_children = 1; }},
    {"a dictionary", NANOARROW_TYPE_STRING, [](ArrowArray& a) { a.dictionary = &a; }},
    {"large_string offsets to INT64_MAX", NANOARROW_TYPE_LARGE_STRING,
     [](ArrowArray& a) { const_cast<int64_t*>(static_cast<const int64_t*>(a.buffers[1]))[a.length] = INT64_MAX; }},
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
    ASSERT_TRUE(column->export_stream(stream.get(), nullptr, error));
    nanoarrow::UniqueArray first;
    nanoarrow::UniqueArray moved;
    ASSERT_TRUE(column->export_chunk(0, first.get(), nullptr, error));
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

// The bytes a buffer's growth must keep: each one's own, so that a byte
// copied to the wrong place or not at all shows.
uint8_t byte_at(int64_t i) { return static_cast<uint8_t>(i * 131 + (i >> 12)); }

void write_bytes(uint8_t* data, int64_t from, int64_t to) {
    for (int64_t i = from; i < to; ++i) data[i] = byte_at(i);
}

int64_t first_wrong_byte(const uint8_t* data, int64_t size) {
    for (int64_t i = 0; i < size; ++i) {
        if (data[i] != byte_at(i)) return i;
    }
    return -1;
}

// Every path a buffer's growth can take, where the target has it: within
// the heap, from the heap to pages of its own (from 4 MiB on Linux), from
// pages to more pages, and each in turn; then handed over, trimmed, to an
// Arrow buffer that frees it.
TEST(OutputBuffers, GrowthKeepsEveryByteWritten) {
    constexpr int64_t mib = int64_t{1} << 20;
    const std::vector<std::vector<int64_t>> paths = {
        {100, 4000, 70000},
        {1 * mib, 5 * mib},
        {5 * mib, 9 * mib, 17 * mib},
        {0, 3 * mib, 6 * mib + 5, 13 * mib},
    };
    for (const std::vector<int64_t>& sizes : paths) {
        SCOPED_TRACE(testing::PrintToString(sizes));
        marquill::OutputBuffer buffer;
        ASSERT_TRUE(buffer.reserve(sizes[0]));
        write_bytes(buffer.data(), 0, sizes[0]);
        for (size_t k = 1; k < sizes.size(); ++k) {
            ASSERT_TRUE(buffer.grow(sizes[k]));
            ASSERT_EQ(first_wrong_byte(buffer.data(), sizes[k - 1]), -1) << "after growing to " << sizes[k];
            write_bytes(buffer.data(), sizes[k - 1], sizes[k]);
        }
        for (const int64_t used : {sizes.back(), sizes.back() / 3}) {
            marquill::OutputBuffer copy;
            ASSERT_TRUE(copy.reserve(sizes.back()));
            write_bytes(copy.data(), 0, used);
            ArrowBuffer out;
            copy.hand_over(used, &out);
            EXPECT_EQ(out.size_bytes, used);
            EXPECT_EQ(first_wrong_byte(out.data, used), -1);
            ArrowBufferReset(&out);
        }
        ArrowBuffer out;
        buffer.hand_over(sizes.back() - 3, &out);
        EXPECT_EQ(first_wrong_byte(out.data, out.size_bytes), -1);
        ArrowBufferReset(&out);
    }
}

}  // namespace
