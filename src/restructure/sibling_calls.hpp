// Calls of ZELAst's own methods and of its block records' methods from one rewriting method to
// another, each written once: a renamed method is mended here, not in every caller.
#pragma once

#include "support/objects.hpp"

#include <pybind11/pybind11.h>

#include <utility>

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

// ZELAst.get_struct_view: (struct name, StructInfo) of a record view's element type.
inline py::tuple struct_view(const py::object &cls, py::handle view) {
    return cls.attr("get_struct_view")(view);
}

// ZELAst.proc_vardef: the C type that an annotation names, or None.
inline py::object annotation_type(const py::object &cls, py::handle annotation, py::handle ci) {
    return cls.attr("proc_vardef")(annotation, ci);
}

// ZELAst.dim_from_shape: the number of dimensions of an array shape.
inline long dimensions(const py::object &cls, py::handle shape) {
    return cls.attr("dim_from_shape")(shape).cast<long>();
}

// ZELAst.len_to_shape: `len(x)` of a typed array becomes its first extent, in place.
inline void len_as_extent(const py::object &cls, py::handle call, py::handle ci) {
    cls.attr("len_to_shape")(call, ci);
}

// ZELAst.BlockInfo: the record of the block of `node` inside `ci`; the module's has no `ci`.
inline py::object new_block(const py::object &cls, py::handle node, py::handle ci = py::none()) {
    return cls.attr("BlockInfo")(node, ci);
}

// ZELAst.VariableInfo: a typed record of a name.
template <typename... Args> py::object new_variable(const py::object &cls, Args &&...args) {
    return cls.attr("VariableInfo")(std::forward<Args>(args)...);
}

// Whether a symbol entry is a typed record (rather than the node that bound the name).
inline bool is_variable(const py::object &cls, py::handle entry) {
    return is_instance(entry, cls.attr("VariableInfo"));
}

// Whether a value is a record dtype's description (ZELAst.StructInfo).
inline bool is_record_description(const py::object &cls, py::handle value) {
    return is_instance(value, cls.attr("StructInfo"));
}

// BlockInfo.set_symbol: binds `name` in the block `ci` to a node or a typed record.
inline void bind(const py::object &ci, py::handle name, py::handle entry) {
    ci.attr("set_symbol")(name, entry);
}

// BlockInfo.insert_stmt: puts a declaration before the statement being walked.
inline void insert_declaration(const py::object &ci, py::handle declaration) {
    ci.attr("insert_stmt")(declaration);
}

// Whether `ci` lies in compiled code, which runs without the interpreter: a parallel body or a
// fully typed function (the block attribute ZELAst.midx, which nested blocks inherit).
inline bool in_compiled_code(const py::object &cls, const py::object &ci) {
    return truthy(ci.attr("get_attr")(cls.attr("midx")));
}

} // namespace zel
