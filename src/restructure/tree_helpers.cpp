// Small queries on syntax-tree nodes that several rewriting methods share; none of them
// changes the tree.
#include "restructure/restructure_classes.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"

#include <algorithm>
#include <string>

namespace zel {
namespace {

// The expression a call passes for a named parameter: by position, else by keyword, else the
// parameter's default; None when there is none of these.
void add_get_parameter(ClassBuilder &zel_ast) {
    py::object call_class = ast_class("Call");
    zel_ast.classmethod(
        "get_parameter",
        [call_class](py::object, py::object node, py::object param, py::object info) -> py::object {
            if (!py::isinstance(node, call_class))
                return py::none();
            py::list names = info["args"];
            py::list args = node.attr("args");
            // Positions past the described names match nothing.
            size_t positional = std::min(py::len(args), py::len(names));
            for (size_t i = 0; i < positional; ++i)
                if (equals(names[i], param))
                    return args[i];
            for (py::handle keyword : node.attr("keywords"))
                if (equals(keyword.attr("arg"), param))
                    return keyword.attr("value");
            py::list defaults = info["defaults"];
            size_t offset = py::len(names) - py::len(defaults);
            for (size_t i = 0; i < py::len(defaults); ++i)
                if (equals(names[offset + i], param))
                    return defaults[i];
            return py::none();
        },
        py::arg("cls"), py::arg("node"), py::arg("param"), py::arg("info"));
}

// Two access-mode texts merged: each character once, sorted by code point.
void add_merge_ref_type(ClassBuilder &zel_ast) {
    py::object builtins = py::module_::import("builtins");
    py::object sorted = builtins.attr("sorted"), set = builtins.attr("set");
    zel_ast.staticmethod(
        "merge_ref_type",
        [sorted, set](py::str org, py::str input) {
            return py::str("").attr("join")(sorted(set(org + input)));
        },
        py::arg("org"), py::arg("input"));
}

void add_dimensions(ClassBuilder &zel_ast) {
    py::object tuple_class = ast_class("Tuple");
    zel_ast.classmethod(
        "dim_from_shape",
        [tuple_class](py::object, py::object node) -> size_t {
            if (py::isinstance(node, tuple_class))
                return py::len(node.attr("elts"));
            if (PyList_Check(node.ptr()) || PyTuple_Check(node.ptr()))
                return py::len(node);
            // Any other expression is one extent, as its declaration makes it a
            // one-dimensional view: counted as none, a name or computed length would leave
            // the array's accesses without their time-slice marks.
            return is_a(node, "expr") && !is_a(node, "List") ? 1 : 0;
        },
        py::arg("cls"), py::arg("node"));
    // The suffix of a C-contiguous memory view with `dm` dimensions.
    zel_ast.classmethod(
        "view_dim_str",
        [](py::object, long long dm) -> py::object {
            if (dm <= 0)
                return py::none();
            return py::str(view_suffix(dm));
        },
        py::arg("cls"), py::arg("dm"));
}

// Two expressions compared by their text: a name by its id, a text as it is, any other node
// by its source form.
void add_equal(ClassBuilder &zel_ast) {
    py::object name_class = ast_class("Name");
    py::object unparse = py::module_::import("ast").attr("unparse");
    auto compared_text = [name_class, unparse](const py::object &value) -> py::object {
        if (py::isinstance(value, name_class))
            return value.attr("id");
        if (PyUnicode_Check(value.ptr()))
            return value;
        return unparse(value);
    };
    zel_ast.classmethod(
        "equal",
        [compared_text](py::object, py::object a, py::object b) {
            return equals(compared_text(a), compared_text(b));
        },
        py::arg("cls"), py::arg("a"), py::arg("b"));
}

} // namespace

void add_tree_helpers(ClassBuilder &zel_ast) {
    add_get_parameter(zel_ast);
    add_merge_ref_type(zel_ast);
    add_dimensions(zel_ast);
    add_equal(zel_ast);
}

} // namespace zel
