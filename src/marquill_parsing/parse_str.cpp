// parse_str(text) -> (template, [(kind, value), ...]). It runs the scan
// over the str's own characters, at their width, on the kernel chosen at
// import, and cuts every object it returns straight from them. Nothing is
// encoded or decoded, and nothing is left in the caller's str.
#include "marquill_parsing/parse_str.hpp"

#include <cstdint>

#include "marquill_parsing/module_state.hpp"
#include "parser/inlining.hpp"
#include "parser/kernel.hpp"
#include "parser/keywords.hpp"
#include "parser/tag_spans.hpp"
#include "parser/template_text.hpp"

namespace marquill_binding {

namespace {

using marquill::TagSpan;
using marquill::TagSpans;

// The maxchar that PyUnicode_New needs for characters whose OR is `widest`.
Py_UCS4 maxchar_of(Py_UCS4 widest) noexcept {
    if (widest >= 0x10000) return 0x10ffff;
    if (widest >= 0x100) return 0xffff;
    return widest >= 0x80 ? 0xff : 0x7f;
}

// A new str of `size` characters, written by `fill` at its kind, which
// `maxchar` decides: no kind wider than the line's units, since its
// characters come from them.
template <class Unit, class Fill>
PyObject* new_str(int64_t size, Py_UCS4 maxchar, Fill fill) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(size), maxchar);
    if (str == nullptr) return nullptr;
    void* data = PyUnicode_DATA(str);
    if (sizeof(Unit) == 1 || maxchar <= 0xff) {
        fill(static_cast<Py_UCS1*>(data));
    } else if (sizeof(Unit) == 2 || maxchar <= 0xffff) {
        if constexpr (sizeof(Unit) >= 2) fill(static_cast<Py_UCS2*>(data));
    } else {
        if constexpr (sizeof(Unit) == 4) fill(static_cast<Py_UCS4*>(data));
    }
    return str;
}

// The template's size and widest character. Its characters are the line's
// but for the tags', which are ASCII but for their values. So unless a value
// holds a character as wide as the line's widest, one outside the tags is,
// and the template is as wide as the line. Only when a value holds one are
// the pieces between the tags read.
template <class Unit>
class TemplateShape {
public:
    TemplateShape(const marquill::UnitKernel<Unit>& kernel, const Unit* line, int64_t n, bool ascii) noexcept
        : kernel_(kernel), line_(line), n_(n), layout_(n), ascii_(ascii) {}

    // False when the span does not follow the last one inside the line,
    // which the template's copies rely on.
    bool add(const TagSpan& span) noexcept { return layout_.add(span); }
    // Takes in the OR of the units of a value copied out of the line.
    void remove(Py_UCS4 valueUnits) noexcept { removed_ |= valueUnits; }

    int64_t size() const noexcept { return layout_.size(); }
    // `line_units()` gives the OR of the line's units.
    template <class LineUnits>
    Py_UCS4 maxchar(const TagSpans& spans, LineUnits line_units) const noexcept {
        if (ascii_) return 0x7f;
        const Py_UCS4 lineMaxchar = maxchar_of(line_units());
        if (lineMaxchar == 0x7f || maxchar_of(removed_) < lineMaxchar) return lineMaxchar;
        Py_UCS4 widest = 0;
        int64_t from = 0;
        spans.for_each([&](const TagSpan& span) {
            widest |= units_of(from, span.l);
            from = span.r + 1;
        });
        return maxchar_of(widest | units_of(from, n_));
    }

private:
    Py_UCS4 units_of(int64_t start, int64_t end) const noexcept {
        return end > start ? kernel_.or_of_units(line_ + start, end - start) : 0;
    }

    const marquill::UnitKernel<Unit>& kernel_;
    const Unit* line_;
    int64_t n_;
    marquill::TemplateLayout layout_;
    bool ascii_;
    Py_UCS4 removed_ = 0;
};

// A new (kind, value) pair; takes over the reference to `value`.
PyObject* new_pair(PyObject* kind, PyObject* value) {
    if (value == nullptr) return nullptr;
    PyObject* pair = PyTuple_New(2);
    if (pair == nullptr) {
        Py_DECREF(value);
        return nullptr;
    }
    PyTuple_SET_ITEM(pair, 0, Py_NewRef(kind));
    PyTuple_SET_ITEM(pair, 1, value);
    return pair;
}

// A fixed tag's pair. A tuple is immutable, so every [center] of every line
// can be the same (b"a", "center"); but threads running at once on a
// free-threaded build would all write the count of references of that one
// tuple, and wait on each other, so there each gets a tuple of its own,
// of the same immortal items.
PyObject* fixed_tag_pair(PyObject* shared) {
#ifdef Py_GIL_DISABLED
    return new_pair(PyTuple_GET_ITEM(shared, 0), Py_NewRef(PyTuple_GET_ITEM(shared, 1)));
#else
    return Py_NewRef(shared);
#endif
}

// The (kind, value) pair of a tag; `shape` takes in the units of a value
// copied out of the line.
template <class Unit>
PyObject* tag_tuple_from(const ModuleState& state,
                         const marquill::UnitKernel<Unit>& kernel,
                         const TagSpan& span,
                         const Unit* line,
                         bool ascii,
                         TemplateShape<Unit>& shape) {
    if (span.fixed >= 0) return fixed_tag_pair(state.fixedPairs[span.fixed]);
    const Unit* value = line + span.valueL;
    const int64_t size = span.r - span.valueL;
    const Py_UCS4 units = ascii ? 0 : kernel.or_of_units(value, size);
    shape.remove(units);
    PyObject* str = new_str<Unit>(size, maxchar_of(units), [&](auto* out) { marquill::copy_units(value, size, out); });
    return new_pair(state.kinds[kindSlots[span.kind & 31]], str);
}

// The list of pairs; on the way, `shape` measures the template.
template <class Unit>
PyObject* result_list_from(const ModuleState& state,
                           const marquill::UnitKernel<Unit>& kernel,
                           const TagSpans& spans,
                           const Unit* line,
                           bool ascii,
                           TemplateShape<Unit>& shape) {
    PyObject* result_list = PyList_New(static_cast<Py_ssize_t>(spans.size()));
    if (result_list == nullptr) return nullptr;
    Py_ssize_t i = 0;
    bool failed = false;
    spans.for_each([&](const TagSpan& span) {
        if (failed) return;
        if (!shape.add(span)) {
            PyErr_SetString(PyExc_SystemError, "marquill: tags overlap or leave the line");
            failed = true;
            return;
        }
        PyObject* tag_tuple = tag_tuple_from(state, kernel, span, line, ascii, shape);
        if (tag_tuple == nullptr) {
            failed = true;
            return;
        }
        PyList_SET_ITEM(result_list, i++, tag_tuple);
    });
    if (failed) {
        Py_DECREF(result_list);  // the unfilled slots are NULL, which is allowed
        return nullptr;
    }
    return result_list;
}

// The pair handed back; takes over both references.
MARQUILL_HOT PyObject* result_tuple_from(PyObject* text, PyObject* result_list) {
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

// Without tags the template is the line itself. A str is immutable, so an
// exact str is handed back as it is, as str.replace and re.sub do, which
// spares copying a long line.
PyObject* result_without_tags(PyObject* line) {
    PyObject* text = PyUnicode_CheckExact(line) ? Py_NewRef(line) : PyUnicode_FromObject(line);
    return result_tuple_from(text, PyList_New(0));
}

// A str holding a surrogate has no UTF-8, and parse_str refuses it as the
// interpreter refuses to encode it, with the interpreter's own
// UnicodeEncodeError.
PyObject* refuse_surrogates(PyObject* line) {
    PyObject* encoded = PyUnicode_AsUTF8String(line);
    if (encoded == nullptr) return nullptr;
    Py_DECREF(encoded);
    PyErr_SetString(PyExc_SystemError, "marquill: a str with a surrogate encoded to UTF-8");
    return nullptr;
}

// What parse_str returns for a line whose tags are `spans`; `line_units()`
// gives the OR of the line's units, should the template's width need it.
template <class Unit, class LineUnits>
PyObject* result_from(const ModuleState& state,
                      PyObject* line,
                      const Unit* units,
                      int64_t n,
                      const TagSpans& spans,
                      LineUnits line_units) {
    if (spans.empty()) return result_without_tags(line);
    const marquill::UnitKernel<Unit>& kernel = state.kernel->of<Unit>();
    const bool ascii = PyUnicode_IS_ASCII(line);
    TemplateShape<Unit> shape(kernel, units, n, ascii);
    PyObject* result_list = result_list_from(state, kernel, spans, units, ascii, shape);
    if (result_list == nullptr) return nullptr;
    PyObject* text = new_str<Unit>(shape.size(), shape.maxchar(spans, line_units),
                                   [&](auto* out) { marquill::write_template(units, n, spans, out); });
    return result_tuple_from(text, result_list);
}

PyObject* parse_bytes(const ModuleState& state, PyObject* line, const Py_UCS1* units, int64_t n) {
    TagSpans spans;
    if (!state.kernel->bytes.find_tags(units, n, spans)) return PyErr_NoMemory();
    return result_from(state, line, units, n, spans,
                       [&] { return Py_UCS4{state.kernel->bytes.or_of_units(units, n)}; });
}

// A line of wider units is scanned and checked for surrogates in one pass,
// which also takes the OR of its units.
template <class Unit>
PyObject* parse_wide_units(const ModuleState& state, PyObject* line, const Unit* units, int64_t n) {
    TagSpans spans;
    marquill::UnitsSummary<Unit> summary{};
    if (!state.kernel->of<Unit>().find_tags_and_summarize(units, n, spans, summary)) return PyErr_NoMemory();
    if (summary.surrogate) return refuse_surrogates(line);
    return result_from(state, line, units, n, spans, [&] { return Py_UCS4{summary.any}; });
}

}  // namespace

PyObject* parse_str(PyObject* module, PyObject* args) {
    if (!PyUnicode_Check(args)) {
        PyErr_SetString(PyExc_TypeError, "Expected a string argument");
        return nullptr;
    }
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(args) < 0) return nullptr;  // a str of the old layout gets its data
#endif
    const ModuleState* ready = ready_state_of(module);
    if (ready == nullptr) return nullptr;
    const ModuleState& state = *ready;
    const int64_t n = PyUnicode_GET_LENGTH(args);
    const void* data = PyUnicode_DATA(args);
    switch (PyUnicode_KIND(args)) {
        case PyUnicode_1BYTE_KIND: return parse_bytes(state, args, static_cast<const Py_UCS1*>(data), n);
        case PyUnicode_2BYTE_KIND: return parse_wide_units(state, args, static_cast<const Py_UCS2*>(data), n);
        default: return parse_wide_units(state, args, static_cast<const Py_UCS4*>(data), n);
    }
}

}  // namespace marquill_binding
