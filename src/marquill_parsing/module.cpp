// The Python module: parse_str(text) -> (template, [(kind, value), ...]).
// A thin layer over the parser: it checks the argument, hands the parser the
// str's UTF-8 bytes and turns the parser's records into Python objects.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "parser/parsed_text.hpp"

namespace {

// The parser's output is valid UTF-8 whenever its input is: every cut falls
// beside an ASCII markup byte. Pieces of an ASCII line are ASCII, so they
// are copied into place without decoding; "" and single characters still go
// through the decoder, which hands out the interpreter's shared objects.
PyObject* str_from_utf8(const char* bytes, int64_t size, bool ascii) {
    if (!ascii || size < 2) return PyUnicode_DecodeUTF8(bytes, static_cast<Py_ssize_t>(size), nullptr);
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(size), 127);
    if (str == nullptr) return nullptr;
    std::memcpy(PyUnicode_1BYTE_DATA(str), bytes, static_cast<size_t>(size));
    return str;
}

PyObject* tag_tuple_from(const marquill::Tag& tag, bool ascii) {
    PyObject* kind = PyBytes_FromStringAndSize(&tag.name, 1);
    if (kind == nullptr) return nullptr;
    PyObject* value = str_from_utf8(tag.value, tag.size, ascii);
    if (value == nullptr) {
        Py_DECREF(kind);
        return nullptr;
    }
    PyObject* tag_tuple = PyTuple_New(2);
    if (tag_tuple == nullptr) {
        Py_DECREF(kind);
        Py_DECREF(value);
        return nullptr;
    }
    PyTuple_SET_ITEM(tag_tuple, 0, kind);
    PyTuple_SET_ITEM(tag_tuple, 1, value);
    return tag_tuple;
}

PyObject* result_list_from(const marquill::ParsedText& result, bool ascii) {
    PyObject* result_list = PyList_New(static_cast<Py_ssize_t>(result.args.size()));
    if (result_list == nullptr) return nullptr;
    Py_ssize_t i = 0;
    for (const marquill::Tag& tag : result.args) {
        PyObject* tag_tuple = tag_tuple_from(tag, ascii);
        if (tag_tuple == nullptr) {
            Py_DECREF(result_list);  // the unfilled slots are NULL, which is allowed
            return nullptr;
        }
        PyList_SET_ITEM(result_list, i++, tag_tuple);
    }
    return result_list;
}

// Without tags the template is the line itself. A str is immutable, so an
// exact str is handed back as it is, as str.replace and re.sub do, which
// spares decoding a copy of a long line.
PyObject* template_from(const marquill::ParsedText& result, PyObject* line) {
    if (result.args.empty() && PyUnicode_CheckExact(line)) return Py_NewRef(line);
    return str_from_utf8(result.text, result.textSize, PyUnicode_IS_ASCII(line));
}

PyObject* result_tuple_from(const marquill::ParsedText& result, PyObject* line) {
    PyObject* text = template_from(result, line);
    if (text == nullptr) return nullptr;
    PyObject* result_list = result_list_from(result, PyUnicode_IS_ASCII(line));
    if (result_list == nullptr) {
        Py_DECREF(text);
        return nullptr;
    }
    PyObject* result_tuple = PyTuple_New(2);
    if (result_tuple == nullptr) {
        Py_DECREF(text);
        Py_DECREF(result_list);
        return nullptr;
    }
    PyTuple_SET_ITEM(result_tuple, 0, text);
    PyTuple_SET_ITEM(result_tuple, 1, result_list);
    return result_tuple;
}

PyObject* parse_str(PyObject* /* module */, PyObject* args) {
    if (!PyUnicode_Check(args)) {
        PyErr_SetString(PyExc_TypeError, "Expected a string argument");
        return nullptr;
    }
    Py_ssize_t size = 0;
    const char* input_string = PyUnicode_AsUTF8AndSize(args, &size);
    if (input_string == nullptr) return nullptr;

    // The parser reports running out of memory by throwing; nothing may
    // unwind into the interpreter, and the ParsedText releases its buffers.
    try {
        const marquill::ParsedText result(input_string, size);
        return result_tuple_from(result, args);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_SystemError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "marquill: unknown C++ exception");
    }
    return nullptr;
}

// The text before "--" is the signature that inspect reports; CPython strips
// it from __doc__.
PyMethodDef moduleMethods[] = {
    {"parse_str", parse_str, METH_O, "parse_str($module, text, /)\n--\n\nparse marquill string"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef moduleDefinition = {
    PyModuleDef_HEAD_INIT,
    "marquill_parsing",
    "I hope it's faster than regular expression",
    -1,
    moduleMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_marquill_parsing(void) {
    PyObject* module = PyModule_Create2(&moduleDefinition, PYTHON_API_VERSION);
#ifdef Py_GIL_DISABLED
    // No state and no shared data: calls need no lock of their own.
    if (module != nullptr && PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
#endif
    return module;
}
