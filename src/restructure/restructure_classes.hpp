// The restructuring classes, created by the module body in its order.
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
void add_name_rewriting(ClassBuilder &zel_ast);       // names, subscripts, attributes, comparisons
void add_function_rewriting(ClassBuilder &zel_ast);   // typed function definitions
void add_loop_rewriting(ClassBuilder &zel_ast);       // for statements and parallel loops
void add_projection_rewriting(ClassBuilder &zel_ast); // projection loops, reference walk

} // namespace zel
