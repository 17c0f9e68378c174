// The module body: the module-level imports, the class statements in the order of the
// class table, then the import-time dispatch.
#pragma once

#include <Python.h>

namespace zel {

// Runs the body in the dictionary of `module`. Returns 0, or -1 with a Python exception set.
int run_module_body(PyObject *module);

} // namespace zel
