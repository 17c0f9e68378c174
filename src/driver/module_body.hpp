// The module body: the module-level imports, the class statements in the order of the
// class table, then the import-time dispatch.
#pragma once

#include <Python.h>

namespace zel {

// Runs the body in the dictionary of `module`; the dispatch ends by calling `quit` (the
// builtin looked up before the body runs). Returns 0, or -1 with a Python exception set.
int run_module_body(PyObject *module, PyObject *quit);

} // namespace zel
