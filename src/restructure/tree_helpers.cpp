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
py::object get_parameter(const py::object &, const py::object &node, const py::object &param,
                         const py::object &info) {
    if (!is_a(node, "Call"))
        return py::none();
    py::list names = info["args"];
    py::list args = node.attr("args");
    // Positions past the described names match nothing.
    size_t positional = std::min(py::len(args), py::len(names));
    for (size_t i = 0; i < positional; ++i)
        if (py_equal(names[i], param))
            return args[i];
    for (py::handle keyword : node.attr("keywords"))
        if (py_equal(keyword.attr("arg"), param))
            return keyword.attr("value");
    py::list defaults = info["defaults"];
    size_t offset = py::len(names) - py::len(defaults);
    for (size_t i = 0; i < py::len(defaults); ++i)
        if (py_equal(names[offset + i], param))
            return defaults[i];
    return py::none();
}

// Two access-mode texts merged: each character once, sorted by code point.
py::object merge_ref_type(const py::str &org, const py::str &input) {
    py::list modes(py::set(org + input));
    modes.attr("sort")();
    return py::str("").attr("join")(modes);
}

size_t dim_from_shape(const py::object &, const py::object &node) {
    if (is_a(node, "Tuple"))
        return py::len(node.attr("elts"));
    if (PyList_Check(node.ptr()) || PyTuple_Check(node.ptr()))
        return py::len(node);
    // Any other expression is one extent, as its declaration makes it a one-dimensional
    // view: counted as none, a name or computed length would leave the array's accesses
    // without their time-slice marks.
    return is_a(node, "expr") && !is_a(node, "List") ? 1 : 0;
}

// The suffix of a C-contiguous memory view with `dm` dimensions.
py::object view_dim_str(const py::object &, long long dm) {
    if (dm <= 0)
        return py::none();
    return py::str(view_suffix(dm));
}

// An expression as `equal` compares it: a name by its id, a text as it is, any other node by
// its source form.
py::object compared_text(const py::object &value) {
    if (is_a(value, "Name"))
        return value.attr("id");
    if (PyUnicode_Check(value.ptr()))
        return value;
    return py::str(unparse(value));
}

// Two expressions compared by their text.
bool equal(const py::object &, const py::object &a, const py::object &b) {
    return py_equal(compared_text(a), compared_text(b));
}

} // namespace

void add_tree_helpers(ClassBuilder &zel_ast) {
    zel_ast.classmethod("get_parameter", get_parameter, py::arg("cls"), py::arg("node"),
                        py::arg("param"), py::arg("info"));
    zel_ast.staticmethod("merge_ref_type", merge_ref_type, py::arg("org"), py::arg("input"));
    zel_ast.classmethod("dim_from_shape", dim_from_shape, py::arg("cls"), py::arg("node"));
    zel_ast.classmethod("view_dim_str", view_dim_str, py::arg("cls"), py::arg("dm"));
    zel_ast.classmethod("equal", equal, py::arg("cls"), py::arg("a"), py::arg("b"));
}

} // namespace zel
