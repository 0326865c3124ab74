// parse_column(strings): the module's side of the whole-column path. It
// takes the Arrow capsules a column's owner hands out apart, lets the
// parser's column path run without the GIL, and hands the result out as a
// ParsedColumn, which exports it as capsules again.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "parser/kernel.hpp"

namespace marquill_binding {

// The ParsedColumn type of one module, or NULL with an error set.
PyObject* new_parsed_column_type(PyObject* module);

// parse_column's body, on the module's kernel and ParsedColumn type.
PyObject* parse_column(const marquill::Kernel& kernel, PyTypeObject* type, PyObject* strings);

}  // namespace marquill_binding
