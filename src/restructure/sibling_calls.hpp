// Calls of ZELAst's own methods, of its block records' methods and of ZELProjection's from one
// rewriting method to another, each written once: a renamed method is mended here, not in every
// caller. A method is called through its class, so a replaced method is the one called; CI
// refuses a call of a `reform_` method by name anywhere else.
#pragma once

#include "restructure/tags.hpp"
#include "support/objects.hpp"

#include <pybind11/pybind11.h>

#include <utility>

namespace zel {
namespace py = pybind11;

// ZELAst.reform_Stmt: rewrites a node, or each node of a list, in the block `ci`.
inline py::object reform_stmt(const py::object &cls, py::handle node, py::handle ci) {
    return cls.attr("reform_Stmt")(node, ci);
}

// ZELAst.reform_list: walks a list of nodes in the block `ci`.
inline void walk_list(const py::object &cls, py::handle nodes, py::handle ci) {
    cls.attr("reform_list")(nodes, ci);
}

// ZELAst.reform_rest: the generic descent into a node's attributes, a block for each body.
inline void descend(const py::object &cls, py::handle node, py::handle ci) {
    cls.attr("reform_rest")(node, ci);
}

// ZELAst.reform_Zel_Call: a call of one of zel's own functions, `name` in full.
inline void reform_zel_call(const py::object &cls, py::handle name, py::handle call,
                            py::handle ci) {
    cls.attr("reform_Zel_Call")(name, call, ci);
}

// ZELAst.reform_Numpy_Call: a call of a numpy function, `name` in full.
inline void reform_numpy_call(const py::object &cls, py::handle name, py::handle call,
                              py::handle ci) {
    cls.attr("reform_Numpy_Call")(name, call, ci);
}

// ZELAst.reform_Numpy_Dtype: a call of numpy.dtype.
inline void reform_numpy_dtype(const py::object &cls, py::handle call, py::handle ci) {
    cls.attr("reform_Numpy_Dtype")(call, ci);
}

// ZELAst.reform_Projection: a projection loop.
inline void reform_projection(const py::object &cls, py::handle loop, py::handle ci) {
    cls.attr("reform_Projection")(loop, ci);
}

// ZELAst.check_time_slice: the time-slice index of a subscript, or None.
inline py::object time_slice(const py::object &cls, py::handle slice, py::handle ci) {
    return cls.attr("check_time_slice")(slice, ci);
}

// ZELAst.get_parameter: the argument of a call for `param`, by keyword or position, or None.
inline py::object call_parameter(const py::object &cls, py::handle call, const char *param,
                                 py::handle info) {
    return cls.attr("get_parameter")(call, param, info);
}

// ZELAst.equal: whether an expression spells the given text.
inline bool spells(const py::object &cls, py::handle node, const char *text) {
    return truthy(cls.attr("equal")(node, text));
}

// ZELAst.proc_tuple_vardef: the C type of a record view that a description names.
inline py::object record_view_type(const py::object &cls, py::handle description, py::handle ci) {
    return cls.attr("proc_tuple_vardef")(description, ci);
}

// ZELAst.get_ref_type: the reference type of a name as `ci` sees it.
inline py::object reference_type(const py::object &cls, py::handle name, py::handle ci) {
    return cls.attr("get_ref_type")(name, ci);
}

// ZELAst.make_global_ref_list: the names a statement reads and writes, each with its mode.
inline py::list global_references(const py::object &cls, py::handle statement) {
    return cls.attr("make_global_ref_list")(statement);
}

// ZELAst.make_global_ref_list_expr: adds the names an expression reads to `output`.
inline void add_global_references(const py::object &cls, py::handle node, py::handle output) {
    cls.attr("make_global_ref_list_expr")(node, output);
}

// ZELAst.merge_ref_type: two reference modes of one name as one.
inline py::object merged_reference_type(const py::object &cls, py::handle old, py::handle mode) {
    return cls.attr("merge_ref_type")(old, mode);
}

// ZELProjection._build_variable_map: each name to the items that write it.
inline py::object variable_map(const py::object &projection, py::handle items) {
    return projection.attr("_build_variable_map")(items);
}

// ZELProjection._build_dependency_graph: (adjacency, in-degrees) of the items.
inline py::tuple dependency_graph(const py::object &projection, py::handle items,
                                  py::handle var_map) {
    return projection.attr("_build_dependency_graph")(items, var_map);
}

// ZELProjection._topological_sort: the items in an order their dependencies allow.
inline py::object topological_order(const py::object &projection, py::handle items, py::handle adj,
                                    py::handle in_degree) {
    return projection.attr("_topological_sort")(items, adj, in_degree);
}

// ZELProjection._group_by_ref_type: sorted items grouped by reference type.
inline py::list reference_groups(const py::object &projection, py::handle sorted_items) {
    return projection.attr("_group_by_ref_type")(sorted_items);
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
    return truthy(ci.attr("get_attr")(tag_name(cls, compiled_tag)));
}

} // namespace zel
