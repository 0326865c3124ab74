/* The object floor: the cost of parse_str's result objects alone.
 *
 * build(text, k) parses nothing. It creates what parse_str returns for a
 * line with k tags, each object in the cheapest way the C API offers: the
 * template is `text` itself when k is 0 (a str is immutable), otherwise a new
 * str of the same length as `text`, made by copying `text`'s own characters
 * (no UTF-8 is read or written, so a str whose UTF-8 is not cached costs no
 * more than one whose UTF-8 is); the list holds k new (bytes, str) tuples,
 * each a one-byte kind and a new ASCII str value of a few characters.
 * No parser can return its result in less time.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string.h>

static const char kind_byte = 'a';
static const char tag_value[] = "center";

/* A new str of the `size` ASCII bytes at `bytes`. */
static PyObject *new_ascii_str(const char *bytes, Py_ssize_t size)
{
    PyObject *str = PyUnicode_New(size, 127);
    if (str == NULL) return NULL;
    memcpy(PyUnicode_1BYTE_DATA(str), bytes, (size_t)size);
    return str;
}

/* A new str equal to `text`: same length, same storage width, its
 * characters copied in one memcpy. */
static PyObject *new_copy(PyObject *text)
{
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    PyObject *str = PyUnicode_New(length, PyUnicode_MAX_CHAR_VALUE(text));
    if (str == NULL) return NULL;
    memcpy(PyUnicode_DATA(str), PyUnicode_DATA(text), (size_t)length * PyUnicode_KIND(text));
    return str;
}

static PyObject *new_pair(void)
{
    PyObject *kind = PyBytes_FromStringAndSize(&kind_byte, 1);
    if (kind == NULL) return NULL;
    PyObject *value = new_ascii_str(tag_value, sizeof tag_value - 1);
    if (value == NULL) {
        Py_DECREF(kind);
        return NULL;
    }
    PyObject *pair = PyTuple_New(2);
    if (pair == NULL) {
        Py_DECREF(kind);
        Py_DECREF(value);
        return NULL;
    }
    PyTuple_SET_ITEM(pair, 0, kind);
    PyTuple_SET_ITEM(pair, 1, value);
    return pair;
}

static PyObject *new_pair_list(Py_ssize_t k)
{
    PyObject *pairs = PyList_New(k);
    if (pairs == NULL) return NULL;
    for (Py_ssize_t i = 0; i < k; ++i) {
        PyObject *pair = new_pair();
        if (pair == NULL) {
            Py_DECREF(pairs);
            return NULL;
        }
        PyList_SET_ITEM(pairs, i, pair);
    }
    return pairs;
}

static PyObject *new_template(PyObject *text, Py_ssize_t k)
{
    if (k == 0 && PyUnicode_CheckExact(text)) return Py_NewRef(text);
    return new_copy(text);
}

static PyObject *object_floor_build(PyObject *module, PyObject *const *args, Py_ssize_t nargs)
{
    (void)module;
    if (nargs != 2 || !PyUnicode_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "build(text: str, k: int)");
        return NULL;
    }
    const Py_ssize_t k = PyLong_AsSsize_t(args[1]);
    if (k < 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "k must not be negative");
        return NULL;
    }
    PyObject *result_text = new_template(args[0], k);
    if (result_text == NULL) return NULL;
    PyObject *pairs = new_pair_list(k);
    if (pairs == NULL) {
        Py_DECREF(result_text);
        return NULL;
    }
    PyObject *result = PyTuple_New(2);
    if (result == NULL) {
        Py_DECREF(result_text);
        Py_DECREF(pairs);
        return NULL;
    }
    PyTuple_SET_ITEM(result, 0, result_text);
    PyTuple_SET_ITEM(result, 1, pairs);
    return result;
}

static PyMethodDef methods[] = {
    /* The C name is unique so that bench/callgrind.py can select it by name. */
    {"build", (PyCFunction)(void (*)(void))object_floor_build, METH_FASTCALL,
     "build($module, text, k, /)\n--\n\n(new str of text, [k new (bytes, str) pairs])"},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_object_floor",
    "The cost of parse_str's result objects alone.",
    -1,
    methods,
    NULL,
    NULL,
    NULL,
    NULL,
};

PyMODINIT_FUNC PyInit__object_floor(void)
{
    PyObject *module = PyModule_Create(&module_definition);
#ifdef Py_GIL_DISABLED
    /* No state: without this, importing the floor would turn the GIL back on
     * for every thread of a free-threaded interpreter (bench/threads.py). */
    if (module != NULL && PyUnstable_Module_SetGIL(module, Py_MOD_GIL_NOT_USED) < 0) {
        Py_DECREF(module);
        return NULL;
    }
#endif
    return module;
}
