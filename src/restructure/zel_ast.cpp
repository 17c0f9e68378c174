// ZELAst: the tag names, markers, registries and tables shared by the rewriting and the
// emitter, then the records and the rewriting methods.
#include "restructure/generated_names.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/type_names.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

// The host's unparser: the standalone module of newer interpreters, else the one in `ast`.
void add_host_unparser(ClassBuilder &zel_ast) {
    try {
        zel_ast.attr("_Unparser", import_from("_ast_unparse", "Unparser"));
        zel_ast.attr("py314", py::bool_(true));
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_ImportError))
            throw;
        zel_ast.attr("_Unparser", import_from("ast", "_Unparser"));
        zel_ast.attr("py314", py::bool_(false));
    }
}

py::dict make_type_table() {
    py::dict table;
    const char *const entries[][2] = {
        {"'i4'", "int"},
        {"'i8'", "long long"},
        {"'f4'", "float"},
        {"'f8'", "double"},
        {"int", int_type},
        {"float", float_type},
        {"numpy.int32", "int"},
        {"numpy.int64", "long long"},
        {"numpy.float32", "float"},
        {"numpy.float64", "double"},
    };
    for (const auto &entry : entries)
        table[entry[0]] = entry[1];
    return table;
}

} // namespace

py::object make_zel_ast(const Globals &g) {
    ClassBuilder zel_ast(g, "ZELAst");
    zel_ast.attr("cidx", py::str("_cdef_"));
    zel_ast.attr("didx", py::str("_dtype_"));
    zel_ast.attr("pidx", py::str("_projection_block_"));
    zel_ast.attr("midx", py::str("_mp_block_"));
    zel_ast.attr("vidx", py::str("_is_view_"));
    zel_ast.attr("lidx", py::str(lookup_prefix));
    zel_ast.attr("dup_chk_idx", py::str("_already_"));
    zel_ast.attr("ref_idx", py::str("_ref_"));
    zel_ast.attr("call", py::str(attribute_call));
    zel_ast.attr("tidx", py::str("_tchk"));
    zel_ast.attr("RANGE", py::str("zel.range"));
    zel_ast.attr("PROJECTION", py::str("zel.projection"));
    zel_ast.attr("NUMPY", py::str(numpy_alias));
    zel_ast.attr("struct_def", py::dict());
    zel_ast.attr("lookup_def", py::dict());
    zel_ast.attr("openmp", py::bool_(false));
    zel_ast.attr("numpy_name", py::none());
    add_host_unparser(zel_ast);
    zel_ast.attr("type_table", make_type_table());
    zel_ast.attr("ignore_attr",
                 str_list({"col_offset", "lineno", "end_lineno", "end_col_offset", "ctx"}));
    py::list inherit_attr;
    inherit_attr.append(zel_ast.ns()["pidx"]);
    inherit_attr.append(zel_ast.ns()["midx"]);
    zel_ast.attr("inherit_attr", inherit_attr);

    add_records(zel_ast);
    add_walk(zel_ast);
    add_tree_helpers(zel_ast);
    add_import_rewriting(zel_ast);
    add_annotation_rewriting(zel_ast);
    add_assignment_rewriting(zel_ast);
    add_call_rewriting(zel_ast);
    add_name_rewriting(zel_ast);
    add_subscript_rewriting(zel_ast);
    add_attribute_rewriting(zel_ast);
    add_comparison_rewriting(zel_ast);
    add_return_rewriting(zel_ast);
    add_function_rewriting(zel_ast);
    add_loop_rewriting(zel_ast);
    add_projection_rewriting(zel_ast);
    return zel_ast.build();
}

} // namespace zel
