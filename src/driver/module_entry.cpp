// The module's boundary with CPython: the exported entry point and the create and exec
// steps of multi-phase initialisation. Plain C API; the body behind it uses pybind11.
#include "driver/module_body.hpp"

#include <Python.h>
#include <frameobject.h>

namespace {

// Process-wide start-up state; it outlives any module object, by design.
bool interpreter_recorded = false;
int64_t recorded_interpreter = 0;
PyObject *current_module = nullptr; // owned: the module object whose exec step has started

// Builtins the module's code calls; a missing one fails the import before any class exists.
const char *const needed_builtins[] = {"quit",    "print", "open", "isinstance", "getattr",
                                       "setattr", "len",   "int",  "str",        "super"};

// Copies one attribute of the spec into the module dictionary; a missing attribute is skipped.
int copy_spec_attr(PyObject *spec, const char *spec_name, PyObject *dict, const char *key,
                   bool skip_none) {
    PyObject *value = PyObject_GetAttrString(spec, spec_name);
    if (!value) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return 0;
        }
        return -1;
    }
    int result = 0;
    if (!(skip_none && value == Py_None))
        result = PyDict_SetItemString(dict, key, value);
    Py_DECREF(value);
    return result;
}

PyObject *create_module(PyObject *spec, PyModuleDef *) {
    int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (!interpreter_recorded) {
        interpreter_recorded = true;
        recorded_interpreter = id;
    } else if (recorded_interpreter != id) {
        PyErr_SetString(PyExc_ImportError, "Interpreter change detected - this module can only be "
                                           "loaded into one interpreter per process.");
        return nullptr;
    }
    if (current_module) {
        Py_INCREF(current_module);
        return current_module;
    }
    PyObject *name = PyObject_GetAttrString(spec, "name");
    if (!name)
        return nullptr;
    PyObject *module = PyModule_NewObject(name);
    Py_DECREF(name);
    if (!module)
        return nullptr;
    PyObject *dict = PyModule_GetDict(module);
    if (copy_spec_attr(spec, "loader", dict, "__loader__", false) < 0 ||
        copy_spec_attr(spec, "origin", dict, "__file__", false) < 0 ||
        copy_spec_attr(spec, "parent", dict, "__package__", false) < 0 ||
        copy_spec_attr(spec, "submodule_search_locations", dict, "__path__", true) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

// Keeps the exception in flight aside while the traceback entry is made.
class SavedException {
  public:
#if PY_VERSION_HEX >= 0x030C0000
    SavedException() : exc_(PyErr_GetRaisedException()) {}
    void restore() {
        PyErr_SetRaisedException(exc_);
    }

  private:
    PyObject *exc_;
#else
    SavedException() {
        PyErr_Fetch(&type_, &value_, &tb_);
    }
    void restore() {
        PyErr_Restore(type_, value_, tb_);
    }

  private:
    PyObject *type_, *value_, *tb_;
#endif
};

// Adds a traceback entry for "init zel.zel" to the exception in flight, as a failing
// module initialisation shows in a traceback. Failures while making the entry are dropped:
// the exception in flight is the one to report.
void add_init_traceback_entry(PyObject *module) {
    SavedException saved;
    PyObject *file = PyModule_GetFilenameObject(module);
    const char *file_name = file ? PyUnicode_AsUTF8(file) : nullptr;
    PyErr_Clear();
    PyCodeObject *code = PyCode_NewEmpty(file_name ? file_name : "zel.zel", "init zel.zel", 1);
    PyObject *globals = code ? PyDict_New() : nullptr;
    PyFrameObject *frame =
        globals ? PyFrame_New(PyThreadState_Get(), code, globals, nullptr) : nullptr;
    PyErr_Clear();
    saved.restore();
    if (frame)
        PyTraceBack_Here(frame);
    Py_XDECREF(frame);
    Py_XDECREF(globals);
    Py_XDECREF(code);
    Py_XDECREF(file);
}

// Registers the module under its dotted name unless an entry is there already.
int register_module(PyObject *module) {
    PyObject *modules = PyImport_GetModuleDict();
    PyObject *existing = PyDict_GetItemString(modules, "zel.zel");
    if (existing)
        return 0;
    return PyDict_SetItemString(modules, "zel.zel", module);
}

// Returns the builtin `quit` (borrowed), or null with NameError set for the first missing builtin.
PyObject *look_up_builtins() {
    PyObject *builtins = PyEval_GetBuiltins();
    for (const char *name : needed_builtins) {
        PyObject *value = builtins ? PyDict_GetItemString(builtins, name) : nullptr;
        if (!value) {
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
            return nullptr;
        }
    }
    return PyDict_GetItemString(builtins, "quit");
}

int exec_module(PyObject *module) {
    if (current_module) {
        if (current_module == module)
            return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'zel' has already been imported. Re-initialisation is not "
                        "supported.");
        return -1;
    }
    Py_INCREF(module);
    current_module = module;
    PyObject *quit = nullptr;
    if (register_module(module) < 0 || !(quit = look_up_builtins()) ||
        zel::run_module_body(module, quit) < 0) {
        add_init_traceback_entry(module);
        Py_CLEAR(current_module);
        return -1;
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void *>(create_module)},
    {Py_mod_exec, reinterpret_cast<void *>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "zel", nullptr, 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

} // namespace

PyMODINIT_FUNC PyInit_zel() {
    return PyModuleDef_Init(&module_def);
}
