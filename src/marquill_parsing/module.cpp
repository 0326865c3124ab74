// The Python module marquill_parsing: its state, its exec step and its
// method table. Each function's binding lives in a file of its own:
// parse_str.cpp for a line, parse_column.cpp for an Arrow column.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdlib>

#include "marquill_parsing/doc_strings.hpp"
#include "marquill_parsing/module_state.hpp"
#include "marquill_parsing/parse_column.hpp"
#include "marquill_parsing/parse_str.hpp"
#include "parser/kernel.hpp"
#include "parser/keywords.hpp"

namespace {

using marquill_binding::kindSlots;
using marquill_binding::ModuleState;

ModuleState& state_of(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

// A tuple of the runnable kernels' names, fastest first.
PyObject* runnable_names_tuple() noexcept {
    const marquill::KernelList kernels = marquill::runnable_kernels();
    PyObject* names = PyTuple_New(kernels.count);
    if (names == nullptr) return nullptr;
    for (int k = 0; k < kernels.count; ++k) {
        PyObject* name = PyUnicode_FromString(kernels.items[k]->name);
        if (name == nullptr) {
            Py_DECREF(names);
            return nullptr;
        }
        PyTuple_SET_ITEM(names, k, name);
    }
    return names;
}

// The names of the runnable kernels as one str, "avx2, sse2, portable".
PyObject* runnable_names_text() noexcept {
    PyObject* names = runnable_names_tuple();
    if (names == nullptr) return nullptr;
    PyObject* separator = PyUnicode_FromString(", ");
    PyObject* text = separator == nullptr ? nullptr : PyUnicode_Join(separator, names);
    Py_XDECREF(separator);
    Py_DECREF(names);
    return text;
}

// The keyword table as tests/reference_model.py writes it: a (match, kind)
// pair of bytes for each row, such as (b"center]", b"a") and (b"pixel ",
// b"a"), for the test that compares the two.
PyObject* keywords_tuple() noexcept {
    PyObject* rows = PyTuple_New(marquill::keywordCount);
    if (rows == nullptr) return nullptr;
    for (int k = 0; k < marquill::keywordCount; ++k) {
        const marquill::Keyword& keyword = marquill::keywords[k];
        std::array<char, 16> match{};
        for (size_t j = 0; j < marquill::match_size(keyword); ++j) match[j] = marquill::match_at(keyword, j);
        PyObject* row = Py_BuildValue("(y#y#)", match.data(), static_cast<Py_ssize_t>(marquill::match_size(keyword)),
                                      &keyword.kind, Py_ssize_t{1});
        if (row == nullptr) {
            Py_DECREF(rows);
            return nullptr;
        }
        PyTuple_SET_ITEM(rows, k, row);
    }
    return rows;
}

// Adds `value` to the module as `name`, taking the reference: NULL, or a
// failure to add it, returns -1 with an exception set.
int add_new_object(PyObject* module, const char* name, PyObject* value) noexcept {
    if (value == nullptr || PyModule_AddObject(module, name, value) < 0) {
        Py_XDECREF(value);
        return -1;
    }
    return 0;
}

// The kernel MARQUILL_KERNEL names, or the fastest the processor runs; NULL
// with ImportError set when the name is no kernel this processor runs (or
// another exception, should the message find no memory).
const marquill::Kernel* chosen_kernel() noexcept {
    const char* wanted = std::getenv("MARQUILL_KERNEL");
    if (wanted == nullptr || *wanted == '\0') return &marquill::best_kernel();
    if (const marquill::Kernel* kernel = marquill::runnable_kernel(wanted)) return kernel;
    PyObject* names = runnable_names_text();
    if (names == nullptr) return nullptr;
    PyErr_Format(PyExc_ImportError, "MARQUILL_KERNEL=%s names no kernel this processor runs; it runs: %U", wanted,
                 names);
    Py_DECREF(names);
    return nullptr;
}

// Fills the module's state at import. Every failure returns -1 with an
// exception set; nothing here throws, as nothing may unwind through the
// interpreter's C frames.
int module_exec(PyObject* module) noexcept {
    ModuleState& state = state_of(module);
    const marquill::Kernel* kernel = chosen_kernel();
    if (kernel == nullptr) return -1;
    for (int k = 0; k < marquill::kindCount; ++k) {
        state.kinds[k] = PyBytes_FromStringAndSize(&marquill::kinds[k], 1);
        if (state.kinds[k] == nullptr) return -1;
    }
    for (int k = 0; k < marquill::fixedTagCount; ++k) {
        const marquill::Keyword& tag = marquill::fixedTags[k];
        PyObject* value = PyUnicode_InternFromString(tag.word.data());  // immortal where threads run free
        if (value == nullptr) return -1;
        state.fixedPairs[k] = PyTuple_Pack(2, state.kinds[kindSlots[tag.kind & 31]], value);
        Py_DECREF(value);
        if (state.fixedPairs[k] == nullptr) return -1;
    }
    // The distribution's version, which the build takes from pyproject.toml.
    if (PyModule_AddStringConstant(module, "__version__", MARQUILL_VERSION) < 0) return -1;
    // The kernel that scans, those it could have been, and the keyword
    // table, for the tests and the benchmarks.
    if (PyModule_AddStringConstant(module, "_kernel", kernel->name) < 0 ||
        add_new_object(module, "_kernels", runnable_names_tuple()) < 0 ||
        add_new_object(module, "_keywords", keywords_tuple()) < 0) {
        return -1;
    }
    state.parsedColumnType = marquill_binding::new_parsed_column_type(module);
    if (state.parsedColumnType == nullptr ||
        PyModule_AddObjectRef(module, "ParsedColumn", state.parsedColumnType) < 0) {
        return -1;
    }
    state.kernel = kernel;
    return 0;
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState& state = state_of(module);
    for (PyObject* kind : state.kinds) Py_VISIT(kind);
    for (PyObject* pair : state.fixedPairs) Py_VISIT(pair);
    Py_VISIT(state.parsedColumnType);
    return 0;
}

int module_clear(PyObject* module) {
    ModuleState& state = state_of(module);
    state.kernel = nullptr;
    for (PyObject*& kind : state.kinds) Py_CLEAR(kind);
    for (PyObject*& pair : state.fixedPairs) Py_CLEAR(pair);
    Py_CLEAR(state.parsedColumnType);
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyMethodDef moduleMethods[] = {
    {"parse_str", marquill_binding::parse_str, METH_O, marquill_binding::parseStrDoc},
    {"parse_column", marquill_binding::parse_column, METH_O, marquill_binding::parseColumnDoc},
    {nullptr, nullptr, 0, nullptr},
};

// The module keeps nothing between calls but its own immutable objects, so it
// can live in every interpreter, each with its own GIL or with none.
PyModuleDef_Slot moduleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef moduleDefinition = {
    PyModuleDef_HEAD_INIT, "marquill_parsing", marquill_binding::moduleDoc,
    sizeof(ModuleState),   moduleMethods,      moduleSlots,
    module_traverse,       module_clear,       module_free,
};

}  // namespace

PyMODINIT_FUNC PyInit_marquill_parsing(void) { return PyModuleDef_Init(&moduleDefinition); }
