// Calls of ZELAst's own methods from one rewriting method to another, each written once: a
// renamed method is mended here, not in every caller.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// ZELAst.reform_Stmt: rewrites a node, or each node of a list, in the block `ci`.
inline py::object reform_stmt(const py::object &cls, py::handle node, py::handle ci) {
    return cls.attr("reform_Stmt")(node, ci);
}

// ZELAst.convert_import_name_str: the dotted name an expression spells, imports resolved.
inline py::object dotted_name(const py::object &cls, py::handle node, py::handle ci) {
    return cls.attr("convert_import_name_str")(node, ci);
}

// ZELAst.get_cdef_type: the C type of a name or expression as `ci` sees it, or None.
inline py::object cdef_type(const py::object &cls, py::handle node, py::handle ci) {
    return cls.attr("get_cdef_type")(node, ci);
}

} // namespace zel
