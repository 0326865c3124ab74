// parse_str(text): one line, parsed on the module's kernel into the
// template and its (kind, value) pairs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace marquill_binding {

// The METH_O function of the module's method table.
PyObject* parse_str(PyObject* module, PyObject* text);

}  // namespace marquill_binding
