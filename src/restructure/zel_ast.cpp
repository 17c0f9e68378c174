// ZELAst: the tag names, markers, registries and tables shared by the rewriting and the
// emitter, then the records and the rewriting methods.
#include "restructure/restructure_classes.hpp"
#include "support/pyast.hpp"

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
        {"int", "long long"},
        {"float", "double"},
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
    ClassBuilder a(g, "ZELAst");
    a.attr("cidx", py::str("_cdef_"));
    a.attr("didx", py::str("_dtype_"));
    a.attr("pidx", py::str("_projection_block_"));
    a.attr("midx", py::str("_mp_block_"));
    a.attr("vidx", py::str("_is_view_"));
    a.attr("lidx", py::str("_lookup_"));
    a.attr("dup_chk_idx", py::str("_already_"));
    a.attr("ref_idx", py::str("_ref_"));
    a.attr("call", py::str("_zel_call_attr_"));
    a.attr("tidx", py::str("_tchk"));
    a.attr("RANGE", py::str("zel.range"));
    a.attr("PROJECTION", py::str("zel.projection"));
    a.attr("NUMPY", py::str("_zel_numpy_"));
    a.attr("struct_def", py::dict());
    a.attr("lookup_def", py::dict());
    a.attr("openmp", py::bool_(false));
    a.attr("numpy_name", py::none());
    add_host_unparser(a);
    a.attr("type_table", make_type_table());
    a.attr("ignore_attr",
           str_list({"col_offset", "lineno", "end_lineno", "end_col_offset", "ctx"}));
    py::list inherit_attr;
    inherit_attr.append(a.ns()["pidx"]);
    inherit_attr.append(a.ns()["midx"]);
    a.attr("inherit_attr", inherit_attr);

    add_records(a);
    add_walk(a);
    add_tree_helpers(a);
    add_import_rewriting(a);
    add_annotation_rewriting(a);
    add_assignment_rewriting(a);
    add_call_rewriting(a);
    add_name_rewriting(a);
    add_function_rewriting(a);
    add_loop_rewriting(a);
    add_projection_rewriting(a);
    return a.build();
}

} // namespace zel
