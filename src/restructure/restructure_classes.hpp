// The restructuring classes, created by the module body in its order.
//
// Every method of ZELAst and of its records is a free function in its file's anonymous
// namespace, named as the method, and registered by one call in the file's `add_*` function
// that names its parameters. A function that needs the module namespace (ZEL, ZELConst, the
// records through ZELAst) takes `const Globals &g` first, bound by the builder and not named;
// then come `cls` or `self` and the parameters. An `__init__` is named after its class in
// lower case with underscores, then `_init` (BlockInfo: `block_info_init`). Node kinds are
// tested by name (`is_a(node, "Name")`) and built with support/pyast.hpp's builders
// (`name_load(id)`, `call(func, args)`), never captured.
// A rewriting method and its registration:
//
//     void reform_Call(const Globals &g, const py::object &cls, const py::object &node,
//                      const py::object &ci) { ... }
//
//     zel_ast.classmethod("reform_Call", reform_Call, py::arg("cls"), py::arg("node"),
//                         py::arg("ci"));
//
// The walk hands a node kind to `reform_<kind>` once the kind is listed in walk.cpp.
#pragma once

#include "support/class_builder.hpp"

namespace zel {

py::object make_zel_projection(const Globals &g);
py::object make_zel_ast(const Globals &g);

// Parts of ZELAst, one file each, added in this order after its class attributes.
void add_records(ClassBuilder &zel_ast); // RestructureError, BlockInfo, StructInfo, VariableInfo
void add_walk(ClassBuilder &zel_ast);    // restruct and the dispatch of the walk
void add_tree_helpers(ClassBuilder &zel_ast);     // small helpers shared by the rewriting methods
void add_import_rewriting(ClassBuilder &zel_ast); // imports and dotted names
void add_annotation_rewriting(ClassBuilder &zel_ast); // type expressions, annotated assignments
void add_assignment_rewriting(ClassBuilder &zel_ast); // assignments and type queries
void add_call_rewriting(ClassBuilder &zel_ast);       // calls, numpy and pseudo-calls
void add_name_rewriting(ClassBuilder &zel_ast);       // names
void add_subscript_rewriting(ClassBuilder &zel_ast);  // subscripts
void add_attribute_rewriting(ClassBuilder &zel_ast);  // attributes
void add_comparison_rewriting(ClassBuilder &zel_ast); // comparisons
void add_return_rewriting(ClassBuilder &zel_ast);     // returns, the results of text functions
void add_function_rewriting(ClassBuilder &zel_ast);   // typed function definitions
void add_loop_rewriting(ClassBuilder &zel_ast);       // for statements and parallel loops
void add_projection_rewriting(ClassBuilder &zel_ast); // projection loops, reference walk

} // namespace zel
