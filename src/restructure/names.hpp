// Names inside a projection loop, which subscripts share.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// The projection's arguments with the count replaced by `last`: the full index. The
// arguments are copied; the projection keeps its own list.
py::object projection_index(const py::object &proj, const py::object &last);

} // namespace zel
