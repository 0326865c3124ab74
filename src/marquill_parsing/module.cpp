// The Python module: parse_str(text) -> (template, [(kind, value), ...]).
// A thin layer over the parser: it checks the argument, hands the parser the
// str's UTF-8 bytes and turns the parser's records into Python objects, each
// built once.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory_resource>
#include <new>
#include <stdexcept>
#include <vector>

#include "parser/markup_search.hpp"
#include "parser/parsed_text.hpp"

namespace {

// A new str of ASCII bytes, copied into place without decoding. "" and
// single characters go through the decoder, which hands out the
// interpreter's shared objects.
PyObject* str_from_ascii(const char* bytes, int64_t size) {
    if (size < 2) return PyUnicode_DecodeASCII(bytes, static_cast<Py_ssize_t>(size), nullptr);
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(size), 127);
    if (str == nullptr) return nullptr;
    std::memcpy(PyUnicode_1BYTE_DATA(str), bytes, static_cast<size_t>(size));
    return str;
}

// The (kind, value) pair of a tag; takes over the reference to `value`.
PyObject* tag_tuple_from(char kind, PyObject* value) {
    if (value == nullptr) return nullptr;
    PyObject* kind_bytes = PyBytes_FromStringAndSize(&kind, 1);
    if (kind_bytes == nullptr) {
        Py_DECREF(value);
        return nullptr;
    }
    PyObject* tag_tuple = PyTuple_New(2);
    if (tag_tuple == nullptr) {
        Py_DECREF(kind_bytes);
        Py_DECREF(value);
        return nullptr;
    }
    PyTuple_SET_ITEM(tag_tuple, 0, kind_bytes);
    PyTuple_SET_ITEM(tag_tuple, 1, value);
    return tag_tuple;
}

// The list of pairs, with each value made by `values(tag)`.
template <class Values>
PyObject* result_list_from(const marquill::ParsedText& result, Values& values) {
    PyObject* result_list = PyList_New(static_cast<Py_ssize_t>(result.args.size()));
    if (result_list == nullptr) return nullptr;
    Py_ssize_t i = 0;
    for (const marquill::Tag& tag : result.args) {
        PyObject* tag_tuple = tag_tuple_from(tag.name, values(tag));
        if (tag_tuple == nullptr) {
            Py_DECREF(result_list);  // the unfilled slots are NULL, which is allowed
            return nullptr;
        }
        PyList_SET_ITEM(result_list, i++, tag_tuple);
    }
    return result_list;
}

// The pair handed back; takes over both references.
PyObject* result_tuple_from(PyObject* text, PyObject* result_list) {
    if (text == nullptr || result_list == nullptr) {
        Py_XDECREF(text);
        Py_XDECREF(result_list);
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

// The template and the values made from the parse's own bytes, each str by
// `new_str(bytes, size)`.
template <class NewStr>
PyObject* result_from_bytes(const marquill::ParsedText& result, NewStr new_str) {
    auto values = [&](const marquill::Tag& tag) { return new_str(tag.value, tag.size); };
    PyObject* result_list = result_list_from(result, values);
    if (result_list == nullptr) return nullptr;
    return result_tuple_from(new_str(result.text, result.textSize), result_list);
}

// The ways of making a str of the parse's bytes, as types of their own, so
// that result_from_bytes calls them directly.
constexpr auto ascii_str = [](const char* bytes, int64_t size) { return str_from_ascii(bytes, size); };
constexpr auto utf8_str = [](const char* bytes, int64_t size) {
    return PyUnicode_DecodeUTF8(bytes, static_cast<Py_ssize_t>(size), nullptr);
};

// A line with other characters: the template and the values are cut from
// the line's own characters, which spares decoding UTF-8 back into them.
// Positions in the parse count UTF-8 bytes; they are turned into code-point
// positions as the tags are walked in order, counting each byte once. The
// values are made on that walk; the template, whose length and widest
// character are known only at its end, is made after it.
class FromCharacters {
public:
    FromCharacters(PyObject* line, const char* utf8, size_t tagCount)
        : line_(line), utf8_(utf8), kind_(PyUnicode_KIND(line)), data_(PyUnicode_DATA(line)), cuts_(&memory_) {
        // Reserved before any object is made: the push_back below never
        // allocates, so nothing throws while references are held in locals.
        cuts_.reserve(tagCount);
    }
    FromCharacters(const FromCharacters&) = delete;
    FromCharacters& operator=(const FromCharacters&) = delete;

    // The tag's value; notes where the tag lies among the line's characters.
    PyObject* operator()(const marquill::Tag& tag) {
        const Py_ssize_t l = code_point_at(tag.l);
        PyObject* value = tag.dynamic ? dynamic_value(tag) : str_from_ascii(tag.value, tag.size);
        cuts_.push_back({l, code_point_at(tag.r)});
        return value;
    }

    // The template: the line with each tag's characters replaced by "{}".
    PyObject* template_text() const {
        const Py_ssize_t length = PyUnicode_GET_LENGTH(line_);
        Py_ssize_t size = 0;
        Py_UCS4 widest = '}';
        Py_ssize_t from = 0;
        for (const Cut& cut : cuts_) {
            size += cut.l - from + 2;
            widest = widest_char(from, cut.l, widest);
            from = cut.r + 1;
        }
        size += length - from;
        widest = widest_char(from, length, widest);

        PyObject* text = PyUnicode_New(size, widest);
        if (text == nullptr) return nullptr;
        Py_ssize_t at = 0;
        from = 0;
        for (const Cut& cut : cuts_) {
            copy_characters(text, at, from, cut.l);
            at += cut.l - from;
            PyUnicode_WRITE(PyUnicode_KIND(text), PyUnicode_DATA(text), at++, '{');
            PyUnicode_WRITE(PyUnicode_KIND(text), PyUnicode_DATA(text), at++, '}');
            from = cut.r + 1;
        }
        copy_characters(text, at, from, length);
        return text;
    }

private:
    struct Cut {
        Py_ssize_t l;  // the tag's first code point and its last
        Py_ssize_t r;
    };

    // A copied value is the bytes just before the tag's closing byte. One
    // with as many code points as bytes is ASCII, and the parse's copy of it
    // serves as it is.
    PyObject* dynamic_value(const marquill::Tag& tag) {
        const Py_ssize_t start = code_point_at(tag.r - tag.size);
        const Py_ssize_t end = code_point_at(tag.r);
        if (end - start == tag.size) return str_from_ascii(tag.value, tag.size);
        return PyUnicode_Substring(line_, start, end);
    }

    // Positions are asked for in ascending order.
    Py_ssize_t code_point_at(int64_t byte) {
        codePoint_ += static_cast<Py_ssize_t>(marquill::count_code_points(utf8_ + byte_, byte - byte_));
        byte_ = byte;
        return codePoint_;
    }

    // The widest of `widest` and the characters in [start, end). Once it is
    // as wide as the line's own kind, nothing wider can come.
    Py_UCS4 widest_char(Py_ssize_t start, Py_ssize_t end, Py_UCS4 widest) const {
        switch (kind_) {
            case PyUnicode_1BYTE_KIND: return widest_of<Py_UCS1>(start, end, widest, 0x7f);
            case PyUnicode_2BYTE_KIND: return widest_of<Py_UCS2>(start, end, widest, 0xff);
            default: return widest_of<Py_UCS4>(start, end, widest, 0xffff);
        }
    }

    template <class Char>
    Py_UCS4 widest_of(Py_ssize_t start, Py_ssize_t end, Py_UCS4 widest, Py_UCS4 narrowerKinds) const {
        const Char* chars = static_cast<const Char*>(data_);
        for (Py_ssize_t k = start; k < end && widest <= narrowerKinds; ++k) widest = std::max<Py_UCS4>(widest, chars[k]);
        return widest;
    }

    // The template is as wide as its widest character, which may be
    // narrower than the line: a wide character inside a tag leaves with it.
    void copy_characters(PyObject* text, Py_ssize_t at, Py_ssize_t start, Py_ssize_t end) const {
        if (PyUnicode_KIND(text) == kind_) {
            std::memcpy(static_cast<char*>(PyUnicode_DATA(text)) + at * kind_,
                        static_cast<const char*>(data_) + start * kind_, static_cast<size_t>((end - start) * kind_));
            return;
        }
        for (Py_ssize_t k = start; k < end; ++k) {
            PyUnicode_WRITE(PyUnicode_KIND(text), PyUnicode_DATA(text), at++, PyUnicode_READ(kind_, data_, k));
        }
    }

    PyObject* line_;
    const char* utf8_;
    int kind_;
    const void* data_;
    int64_t byte_ = 0;
    Py_ssize_t codePoint_ = 0;  // the code point at byte_
    std::byte buffer_[512];     // the cuts of a line of dialogue
    std::pmr::monotonic_buffer_resource memory_{buffer_, sizeof buffer_};
    std::pmr::vector<Cut> cuts_;
};

PyObject* result_from_characters(const marquill::ParsedText& result, PyObject* line, const char* utf8) {
    FromCharacters build(line, utf8, result.args.size());
    PyObject* result_list = result_list_from(result, build);
    if (result_list == nullptr) return nullptr;
    return result_tuple_from(build.template_text(), result_list);
}

// Without tags the template is the line itself. A str is immutable, so an
// exact str is handed back as it is, as str.replace and re.sub do, which
// spares copying a long line.
PyObject* result_without_tags(PyObject* line) {
    PyObject* text = PyUnicode_CheckExact(line) ? Py_NewRef(line) : PyUnicode_FromObject(line);
    return result_tuple_from(text, PyList_New(0));
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
    // unwind into the interpreter, and the ParsedText releases its memory.
    try {
        const marquill::ParsedText result(input_string, size);
        if (result.args.empty()) return result_without_tags(args);
        // The pieces of an ASCII line are ASCII: copied without decoding.
        if (PyUnicode_IS_ASCII(args)) return result_from_bytes(result, ascii_str);
        // CPython decodes runs of ASCII in UTF-8 several bytes at a time, so
        // a line with a few other characters is decoded faster than it is
        // cut; one with many of them (two bytes or more a character, on
        // average, at three halves) is cut faster.
        if (2 * size >= 3 * PyUnicode_GET_LENGTH(args)) return result_from_characters(result, args, input_string);
        return result_from_bytes(result, utf8_str);
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
    // Private: the search the parser was compiled with, for the tests to
    // check that a build takes the path its target should.
    if (module != nullptr && PyModule_AddStringConstant(module, "_search_path", marquill::search::name) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
#ifdef Py_GIL_DISABLED
    // No state and no shared data: calls need no lock of their own.
    if (module != nullptr && PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
#endif
    return module;
}
