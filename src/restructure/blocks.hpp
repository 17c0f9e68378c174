// Walks over the chain of block records that more than one rewriting method needs.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// The first block from `block` outward whose depth is 0: where declarations are inserted.
py::object depth0_block(py::object block);

// Whether `block` lies in a class body, whose names are the class's attributes: Python
// objects, never C variables.
bool in_class_body(const py::object &block);

// The `cdef` declarations made in the body of the depth-0 block around `block`: name to the
// declaring statement. Kept beside the block so that asking costs the same however long the
// body has grown.
py::dict declarations(const py::object &block);

// Declares the hidden C variable `name` of C type `cdf` once in the depth-0 block around `ci`,
// in front of the statement being walked. Returns the C type of its first declaration.
py::object declare_hidden(const py::object &cls, const py::object &ci, const py::str &name,
                          const py::object &cdf, const py::object &lineno);

// Puts `stmt` right before `current` in the statement list of `ci`'s block that holds it, with
// the line of `current`; the walk passes it by, as it stands rewritten.
void insert_before(const py::object &cls, const py::object &ci, const py::object &current,
                   const py::object &stmt);

// Puts `stmt` right after `current`, with its line; the walk reaches it after `current`.
void insert_after(const py::object &cls, const py::object &ci, const py::object &current,
                  const py::object &stmt);

// The block of the parallel loop around `ci`, or None: the outermost block of compiled code,
// when it is the body of a loop rather than of a typed function.
py::object parallel_body(const py::object &cls, py::object block);

} // namespace zel
