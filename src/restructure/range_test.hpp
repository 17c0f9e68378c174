// The one test before a loop that stands for the bounds checks of its body's accesses.
#pragma once

#include <pybind11/pybind11.h>

#include <map>
#include <string>

namespace zel {
namespace py = pybind11;

// The source of the test for the parallel loop `node` in the block `ci`, or "" when the loop
// keeps its per-access checks.
std::string range_check(const py::object &cls, const py::object &node, const py::object &ci);

// The condition under which the loop `node` over range(...) in the block `ci` may index a
// typed array out of range, or "" when some access of its body is not bounded by it. Where the
// condition is false, a copy of the loop without the per-access checks runs as the loop would.
std::string range_condition(const py::object &cls, const py::object &node, const py::object &ci);

// The names that the loop body `body` assigns on some iterations but not on every one (under a
// condition, after an early `continue`), each with the Name node of its first assignment. The
// targets of in-place updates (reductions) are not among them.
std::map<std::string, py::object> stored_on_some_iterations(const py::object &body);

// Writes the loop `node` as: with <no bounds checks>: <the test `check_source`>; <the loop>,
// and tags the root block for the cimport of the directives.
void drop_per_access_checks(const py::object &node, const py::object &ci,
                            const std::string &check_source);

// Writes the loop `node` as: if <`condition`>: <the loop> else: with <no bounds checks>:
// <the loop>, and tags the root block for the cimport of the directives.
void run_unchecked_in_range(const py::object &node, const py::object &ci,
                            const std::string &condition);

} // namespace zel
