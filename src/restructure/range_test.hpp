// The one test before a parallel loop that stands for the bounds checks of its body's accesses.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace zel {
namespace py = pybind11;

// The source of the test for the parallel loop `node` in the block `ci`, or "" when the loop
// keeps its per-access checks.
std::string range_check(const py::object &cls, const py::object &node, const py::object &ci);

// Writes the loop `node` as: with <no bounds checks>: <the test `check_source`>; <the loop>,
// and tags the root block for the cimport of the directives.
void drop_per_access_checks(const py::object &node, const py::object &ci,
                            const std::string &check_source);

} // namespace zel
