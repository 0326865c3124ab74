#include "marquill_parsing/parse_column.hpp"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

#include "column/parsed_column.hpp"
#include "column/requested_rows.hpp"
#include "column/string_column.hpp"
#include "marquill_parsing/doc_strings.hpp"
#include "marquill_parsing/module_state.hpp"
#include "third_party/nanoarrow/nanoarrow.hpp"

namespace marquill_binding {

namespace {

using marquill::ColumnError;
using marquill::ColumnFault;
using marquill::ParsedColumn;

constexpr const char* accepted =
    "parse_column() takes an Arrow column of strings (string, large_string or string_view, a dictionary of them, "
    "or null) from an object "
    "with __arrow_c_stream__ or __arrow_c_array__, such as a pyarrow Array or ChunkedArray or a Polars or "
    "pandas Series";

// A producer's release callback or capsule destructor may run Python code,
// which must not find an exception set: one set stays aside while the
// object lives. What that code leaves set has no caller to reach.
class ExceptionAside {
public:
    ExceptionAside() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
        raised_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&type_, &raised_, &traceback_);
#endif
    }
    ~ExceptionAside() {
        if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
#if PY_VERSION_HEX >= 0x030C0000
        if (raised_ != nullptr) PyErr_SetRaisedException(raised_);
#else
        if (type_ != nullptr) PyErr_Restore(type_, raised_, traceback_);
#endif
    }
    ExceptionAside(const ExceptionAside&) = delete;
    ExceptionAside& operator=(const ExceptionAside&) = delete;

private:
    PyObject* raised_ = nullptr;
#if PY_VERSION_HEX < 0x030C0000
    PyObject* type_ = nullptr;
    PyObject* traceback_ = nullptr;
#endif
};

// The column handed in: its schema and its chunks, each released once.
class InputColumn {
public:
    InputColumn() = default;
    InputColumn(const InputColumn&) = delete;
    InputColumn& operator=(const InputColumn&) = delete;
    ~InputColumn() {
        const ExceptionAside aside;
        for (ArrowArray& chunk : chunks) {
            if (chunk.release != nullptr) chunk.release(&chunk);
        }
        schema.reset();
    }

    nanoarrow::UniqueSchema schema;
    std::vector<ArrowArray> chunks;
};

// Drops a reference to a producer's object, whose destructor may run
// Python code.
void drop_aside(PyObject* object) {
    const ExceptionAside aside;
    Py_DECREF(object);
}

// Moves the structure out of a capsule of that name: the capsule's owner
// then releases nothing.
template <class Structure>
Structure* structure_in(PyObject* capsule, const char* name, const char* method) {
    if (!PyCapsule_IsValid(capsule, name)) {
        PyErr_Format(PyExc_TypeError, "%s() returned %R, not a capsule named '%s'", method, capsule, name);
        return nullptr;
    }
    auto* structure = static_cast<Structure*>(PyCapsule_GetPointer(capsule, name));
    if (structure->release == nullptr) {
        PyErr_Format(PyExc_ValueError, "%s() returned a capsule whose '%s' was already released", method, name);
        return nullptr;
    }
    return structure;
}

// obj.method(), or NULL: with no error and `present` false when obj has no
// such attribute; with the error of the lookup or the call otherwise.
PyObject* call_if_present(PyObject* obj, const char* method, bool& present) {
    PyObject* bound = PyObject_GetAttrString(obj, method);
    present = bound != nullptr || !PyErr_ExceptionMatches(PyExc_AttributeError);
    if (bound == nullptr) {
        if (!present) PyErr_Clear();
        return nullptr;
    }
    PyObject* result = PyObject_CallNoArgs(bound);
    drop_aside(bound);
    return result;
}

// A producer's stream, released once.
class ProducerStream {
public:
    explicit ProducerStream(ArrowArrayStream* source) noexcept { ArrowArrayStreamMove(source, &stream_); }
    ~ProducerStream() {
        const ExceptionAside aside;
        stream_.release(&stream_);
    }
    ProducerStream(const ProducerStream&) = delete;
    ProducerStream& operator=(const ProducerStream&) = delete;
    ArrowArrayStream& operator*() noexcept { return stream_; }

private:
    ArrowArrayStream stream_;
};

PyObject* raise(const ColumnError& error) {
    switch (error.fault) {
        case ColumnFault::notStrings: PyErr_Format(PyExc_TypeError, "%s; %s", accepted, error.detail.message); break;
        case ColumnFault::malformed:
            PyErr_Format(PyExc_ValueError, "a malformed Arrow column of strings: %s", error.detail.message);
            break;
        case ColumnFault::outOfMemory: PyErr_NoMemory(); break;
        case ColumnFault::tooLarge: PyErr_Format(PyExc_ValueError, "%s", error.detail.message); break;
        default: PyErr_Format(PyExc_SystemError, "marquill: %s", error.detail.message); break;
    }
    return nullptr;
}

bool stream_failed(ArrowArrayStream& stream, int code) {
    if (code == ENOMEM) {
        PyErr_NoMemory();
        return false;
    }
    const char* message = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
    PyErr_Format(PyExc_RuntimeError, "the Arrow stream of strings failed (errno %d): %s", code,
                 message != nullptr ? message : "no message");
    return false;
}

bool raise_for_schema(const ArrowSchema& schema) {
    ColumnError error;
    if (marquill::check_string_schema(schema, error)) return true;
    raise(error);
    return false;
}

// Pulls the stream's chunks, with the type checked before the first and
// the interpreter's signals between them: a stream may be endless.
bool take_stream(PyObject* capsule, InputColumn& input) {
    auto* source = structure_in<ArrowArrayStream>(capsule, "arrow_array_stream", "__arrow_c_stream__");
    if (source == nullptr) return false;
    ProducerStream owned(source);
    ArrowArrayStream& stream = *owned;
    if (stream.get_schema == nullptr || stream.get_next == nullptr) {
        PyErr_SetString(PyExc_ValueError, "a malformed Arrow stream: get_schema or get_next is NULL");
        return false;
    }
    *input.schema.get() = ArrowSchema{};
    if (const int code = stream.get_schema(&stream, input.schema.get()); code != 0) return stream_failed(stream, code);
    if (!raise_for_schema(*input.schema.get())) return false;
    for (;;) {
        ArrowArray chunk{};
        const int code = stream.get_next(&stream, &chunk);
        if (code == 0 && chunk.release != nullptr) {
            try {
                input.chunks.push_back(chunk);
            } catch (const std::bad_alloc&) {
                chunk.release(&chunk);
                PyErr_NoMemory();
                return false;
            }
        }
        // Ctrl-C while the producer ran, or waited, comes first: its failure
        // may be no more than the interruption
        if (PyErr_CheckSignals() != 0) return false;
        if (code != 0) return stream_failed(stream, code);
        if (chunk.release == nullptr) return true;
    }
}

bool take_array(PyObject* pair, InputColumn& input) {
    PyObject* schema_capsule = nullptr;
    PyObject* array_capsule = nullptr;
    if (!PyTuple_Check(pair) || !PyArg_ParseTuple(pair, "OO", &schema_capsule, &array_capsule)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "__arrow_c_array__() returned %R, not a pair of capsules", pair);
        return false;
    }
    auto* schema = structure_in<ArrowSchema>(schema_capsule, "arrow_schema", "__arrow_c_array__");
    if (schema == nullptr) return false;
    auto* array = structure_in<ArrowArray>(array_capsule, "arrow_array", "__arrow_c_array__");
    if (array == nullptr) return false;
    try {
        input.chunks.reserve(1);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
    ArrowSchemaMove(schema, input.schema.get());
    input.chunks.push_back(*array);
    array->release = nullptr;
    return raise_for_schema(*input.schema.get());
}

// The column `strings` exports, its stream preferred: a chunked column
// exports only that.
bool take_column(PyObject* strings, InputColumn& input) {
    bool present = false;
    if (PyObject* capsule = call_if_present(strings, "__arrow_c_stream__", present)) {
        const bool taken = take_stream(capsule, input);
        drop_aside(capsule);
        return taken;
    }
    if (present) return false;  // the lookup or the call raised
    if (PyObject* pair = call_if_present(strings, "__arrow_c_array__", present)) {
        const bool taken = take_array(pair, input);
        drop_aside(pair);
        return taken;
    }
    if (!present) PyErr_Format(PyExc_TypeError, "%s, not %.200s", accepted, Py_TYPE(strings)->tp_name);
    return false;
}

// The result's Python object: one hold on the column.
struct ParsedColumnObject {
    PyObject_HEAD ParsedColumn* column;
};

ParsedColumn& column_of(PyObject* self) { return *reinterpret_cast<ParsedColumnObject*>(self)->column; }

void parsed_column_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    column_of(self).drop();
    type->tp_free(self);
    Py_DECREF(type);
}

// A capsule's destructor releases what no consumer moved out, then frees
// the structure itself.
template <class Structure>
void release_capsule(PyObject* capsule) {
    auto* structure = static_cast<Structure*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
    if (structure->release != nullptr) structure->release(structure);
    std::free(structure);
}

// An export that failed: out of memory, or rows past the requested offsets.
PyObject* raise_export(const ColumnError& error) {
    if (error.fault == ColumnFault::outOfMemory) return PyErr_NoMemory();
    PyErr_Format(PyExc_ValueError, "%s", error.detail.message);
    return nullptr;
}

// A capsule holding a new export, or NULL with an error set.
template <class Structure, class Export>
PyObject* capsule_of(const char* name, Export export_into) {
    auto* structure = static_cast<Structure*>(std::malloc(sizeof(Structure)));
    if (structure == nullptr) return PyErr_NoMemory();
    ColumnError error;
    if (!export_into(structure, error)) {
        std::free(structure);
        return raise_export(error);
    }
    PyObject* capsule = PyCapsule_New(structure, name, &release_capsule<Structure>);
    if (capsule == nullptr) {
        structure->release(structure);
        std::free(structure);
    }
    return capsule;
}

// The schema a consumer asks for, read from its capsule: null for none, or
// for one the rows cannot be written as, with an error set.
bool requested_schema_of(PyObject* args, PyObject* kwargs, const char* format, const ArrowSchema*& requested) {
    static const char* keywords[] = {"requested_schema", nullptr};
    PyObject* capsule = Py_None;
    requested = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &capsule)) return false;
    if (capsule == Py_None) return true;
    if (!PyCapsule_IsValid(capsule, "arrow_schema")) {
        PyErr_Format(PyExc_TypeError, "requested_schema must be a capsule named 'arrow_schema', not %R", capsule);
        return false;
    }
    const auto* schema = static_cast<const ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
    ColumnError error;
    if (!marquill::check_requested_schema(*schema, error)) {
        PyErr_Format(PyExc_TypeError, "%s", error.detail.message);
        return false;
    }
    requested = schema;
    return true;
}

PyObject* export_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
    const ArrowSchema* requested = nullptr;
    if (!requested_schema_of(args, kwargs, "|O:__arrow_c_stream__", requested)) return nullptr;
    ParsedColumn& column = column_of(self);
    return capsule_of<ArrowArrayStream>("arrow_array_stream", [&](ArrowArrayStream* out, ColumnError& error) {
        return column.export_stream(out, requested, error);
    });
}

PyObject* export_array(PyObject* self, PyObject* args, PyObject* kwargs) {
    const ArrowSchema* requested = nullptr;
    if (!requested_schema_of(args, kwargs, "|O:__arrow_c_array__", requested)) return nullptr;
    ParsedColumn& column = column_of(self);
    PyObject* schema = capsule_of<ArrowSchema>("arrow_schema", [&](ArrowSchema* out, ColumnError& error) {
        return column.export_schema(out, requested, error);
    });
    if (schema == nullptr) return nullptr;
    PyObject* array = capsule_of<ArrowArray>("arrow_array", [&](ArrowArray* out, ColumnError& error) {
        return column.export_chunk(0, out, requested, error);
    });
    if (array == nullptr) {
        Py_DECREF(schema);
        return nullptr;
    }
    PyObject* pair = PyTuple_Pack(2, schema, array);
    Py_DECREF(schema);
    Py_DECREF(array);
    return pair;
}

constexpr const char arrayExportDoc[] =
    "__arrow_c_array__($self, /, requested_schema=None)\n--\n\n"
    "The rows as capsules of an Arrow schema and array; only a\n"
    "ParsedColumn of one chunk has this method.";

// A doc string without the signature that a method's carries for inspect.
constexpr const char* without_signature(const char* doc) {
    for (const char* at = doc; *at != '\0'; ++at) {
        if (at[0] == '-' && at[1] == '-' && at[2] == '\n' && at[3] == '\n') return at + 4;
    }
    return doc;
}

PyMethodDef arrayMethod = {"__arrow_c_array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(export_array)),
                           METH_VARARGS | METH_KEYWORDS, arrayExportDoc};

// __arrow_c_array__ exists only where it can answer: consumers that find it
// take one array, and a column of several chunks is not one.
PyObject* get_array_export(PyObject* self, void*) {
    if (column_of(self).chunk_count() != 1) {
        PyErr_SetString(PyExc_AttributeError,
                        "a ParsedColumn of other than one chunk has no __arrow_c_array__; use __arrow_c_stream__");
        return nullptr;
    }
    return PyCFunction_New(&arrayMethod, self);
}

Py_ssize_t parsed_column_length(PyObject* self) { return static_cast<Py_ssize_t>(column_of(self).length()); }

PyObject* parsed_column_repr(PyObject* self) {
    const ParsedColumn& column = column_of(self);
    return PyUnicode_FromFormat("<marquill_parsing.ParsedColumn of %zd rows in %zd chunks>",
                                static_cast<Py_ssize_t>(column.length()),
                                static_cast<Py_ssize_t>(column.chunk_count()));
}

PyMethodDef parsedColumnMethods[] = {
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(export_stream)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__($self, /, requested_schema=None)\n--\n\n"
     "The rows as a capsule of an Arrow stream, in the input's chunks."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef parsedColumnGetSets[] = {
    {"__arrow_c_array__", get_array_export, nullptr, without_signature(arrayExportDoc), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot parsedColumnSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(parsed_column_dealloc)},
    {Py_tp_methods, parsedColumnMethods},
    {Py_tp_getset, parsedColumnGetSets},
    {Py_tp_repr, reinterpret_cast<void*>(parsed_column_repr)},
    {Py_mp_length, reinterpret_cast<void*>(parsed_column_length)},
    {Py_tp_doc, const_cast<char*>(parsedColumnDoc)},
    {0, nullptr},
};

PyType_Spec parsedColumnSpec = {
    "marquill_parsing.ParsedColumn",
    sizeof(ParsedColumnObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    parsedColumnSlots,
};

}  // namespace

PyObject* new_parsed_column_type(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &parsedColumnSpec, nullptr);
}

PyObject* parse_column(PyObject* module, PyObject* strings) {
    const ModuleState* state = ready_state_of(module);
    if (state == nullptr) return nullptr;
    const marquill::Kernel& kernel = *state->kernel;
    auto* type = reinterpret_cast<PyTypeObject*>(state->parsedColumnType);
    InputColumn input;
    if (!take_column(strings, input)) return nullptr;
    ColumnError error;
    ParsedColumn* column = nullptr;
    Py_BEGIN_ALLOW_THREADS
    column = ParsedColumn::parse(*input.schema.get(), input.chunks.data(), input.chunks.size(), kernel, error);
    Py_END_ALLOW_THREADS
    if (column == nullptr) return raise(error);
    auto* self = reinterpret_cast<ParsedColumnObject*>(PyType_GenericAlloc(type, 0));
    if (self == nullptr) {
        column->drop();
        return nullptr;
    }
    self->column = column;
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace marquill_binding
