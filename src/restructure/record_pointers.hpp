// Struct pointers into typed arrays of records. A pointer keeps the array it points into
// alive, as a numpy record keeps its array, through a hidden view of the array assigned beside
// the pointer: reads and writes through the pointer cost nothing more.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace zel {
namespace py = pybind11;

// The statement `stmt` points the struct pointer named `pointer` at an element of a typed
// array (`p = &tbl[i]`): `_zel_keep_<pointer> = tbl` goes in front of it. A parallel body
// cannot assign views, and nothing there can rebind the array, so there it goes in front of
// the loop.
void keep_table_alive(const py::object &cls, const py::object &stmt, const py::object &pointer,
                      const py::object &ci);

// The record of a struct pointer type "_struct_<key><name>*", or None.
py::object record_of_pointer(const py::object &cls, const std::string &cdf);

} // namespace zel
