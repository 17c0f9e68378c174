// The entries that a block record's `get_symbol` finds for a name, without the block that
// holds them: how the rewriting methods ask what a name is bound to.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// The innermost entry bound to `name` as `ci` sees it, or None.
inline py::object symbol_of(const py::object &ci, py::handle name) {
    return ci.attr("get_symbol")(name)[py::int_(0)];
}

// The typed record of `name`: its innermost binding when that binding is typed, else None.
inline py::object variable_of(const py::object &cls, const py::object &ci, py::handle name) {
    return ci.attr("get_symbol")(name, cls.attr("VariableInfo"))[py::int_(0)];
}

} // namespace zel
