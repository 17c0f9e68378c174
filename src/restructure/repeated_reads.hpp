// Rewritings that read an expression twice where the script reads it once: whether that gives
// the same value, and the in-place update written out as an assignment that reads its target
// again.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// Whether an expression gives the same value read twice: names, constants, and attributes,
// subscripts, tuples and arithmetic of them.
bool reads_alike_twice(py::handle node);

// The in-place update `target op= v` becomes, in place, the assignment `target = value`.
void write_update_as_assignment(py::handle update, const py::object &value);

} // namespace zel
