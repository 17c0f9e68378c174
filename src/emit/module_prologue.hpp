// The head of the generated module.
#pragma once

#include "support/class_builder.hpp"

namespace zel {

// Puts the statements that the rewritten code needs before everything else, after the leading
// docstring and the `from __future__` imports (which must stay first): the prange import and
// the openmp cimport when `openmp` is true, and the cimport of Cython's directives when the
// walk tagged the module for it.
void insert_module_prologue(const Globals &g, const py::object &module, bool openmp);

} // namespace zel
