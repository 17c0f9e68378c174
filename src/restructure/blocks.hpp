// Walks over the chain of block records that more than one rewriting method needs.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// The first block from `block` outward whose depth is 0: where declarations are inserted.
py::object depth0_block(py::object block);

// The `cdef` declarations made in the body of the depth-0 block around `block`: name to the
// declaring statement. Kept beside the block so that asking costs the same however long the
// body has grown.
py::dict declarations(const py::object &block);

} // namespace zel
