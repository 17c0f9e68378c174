// The entries that a block record's `get_symbol` finds for a name, without the block that
// holds them: how the rewriting methods ask what a name is bound to.
#pragma once

#include "support/objects.hpp"
#include "support/pyast.hpp"

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// The innermost entry bound to `name` as `ci` sees it, or None.
inline py::object symbol_of(const py::object &ci, py::handle name) {
    return ci.attr("get_symbol")(name)[py::int_(0)];
}

// The innermost entry bound to `name` in the scope of `ci`: its blocks out to the function
// that holds them, or to the module. A function's names are its own; a name of the module
// it does not bind is read through `symbol_of`.
inline py::object scope_symbol_of(const py::object &ci, const py::str &name) {
    for (py::object block = ci; truthy(block); block = block.attr("prev")) {
        py::object entry = block.attr("symbol").attr("get")(name);
        if (truthy(entry))
            return entry;
        py::object node = block.attr("node");
        if (is_a(node, "FunctionDef") || is_a(node, "AsyncFunctionDef"))
            break;
    }
    return py::none();
}

// The typed record of `name`: its innermost binding when that binding is typed, else None.
inline py::object variable_of(const py::object &cls, const py::object &ci, py::handle name) {
    return ci.attr("get_symbol")(name, cls.attr("VariableInfo"))[py::int_(0)];
}

} // namespace zel
