// parse_column(strings): the module's side of the whole-column path. It
// takes the Arrow capsules a column's owner hands out apart, lets the column
// path run without the GIL, and hands the result out as a ParsedColumn,
// which exports it as capsules again.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace marquill_binding {

// The ParsedColumn type of one module, or NULL with an error set.
PyObject* new_parsed_column_type(PyObject* module);

// The METH_O function of the module's method table.
PyObject* parse_column(PyObject* module, PyObject* strings);

}  // namespace marquill_binding
