// Names: a typed array read as a value is handed on as a numpy array, and inside a projection
// loop a bare array means its element at the current position.
#include "restructure/names.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/tags.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"
#include "support/text.hpp"

#include <string>

namespace zel {

// The projection's arguments with the count replaced by `last`: the full index. The
// arguments are copied; the projection keeps its own list.
py::object projection_index(const py::object &proj, const py::object &last) {
    py::list elts = py::module_::import("builtins").attr("list")(proj["args"]);
    elts[py::len(elts) - 1] = last;
    return bare_tuple(elts);
}

namespace {

// The C type of the name `id` as `ci` sees it. An array annotated in a nested block is
// declared at the nearest depth-0 block and left an assignment in place: its type is its
// variable's own.
std::string view_type_text(const py::object &cls, const py::object &id, const py::object &ci) {
    std::string text = type_text(cdef_type(cls, id, ci));
    if (!text.empty())
        return text;
    py::object sym = variable_of(cls, ci, id);
    if (truthy(sym) && truthy(sym.attr("view")) && is_a(sym.attr("org_node"), "Assign"))
        return type_text(sym.attr("cdf"));
    return text;
}

void reform_Name(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object proj = ci.attr("get_proj")();
    py::object id = node.attr("id");
    if (truthy(proj)) {
        size_t projected_dims = py::len(proj["args"]);
        py::object sym = variable_of(cls, ci, id);
        if (truthy(sym) && truthy(sym.attr("view"))) {
            long dims = dimensions(cls, sym.attr("shape"));
            py::object index;
            if (dims == 1)
                index = bare_name(proj["var"].attr("id"));
            else if (dims == static_cast<long>(projected_dims))
                index = projection_index(proj, bare_name(proj["var"].attr("id")));
            else {
                script_fault("`" + text_of(id) + "` 배열의 차원을 복원할 수 없습니다. line " +
                             text_of(node.attr("lineno")));
            }
            set_class(node, "Subscript");
            node.attr("value") = bare_name(id);
            node.attr("slice") = index;
            return;
        }
    } else if (is_a(get_tag(node, "ctx"), "Load") &&
               is_contiguous_view(view_type_text(cls, id, ci)) && !in_compiled_code(cls, ci)) {
        py::object numpy_name = cls.attr("numpy_name");
        if (truthy(numpy_name)) {
            // Python code receives the typed view as a numpy array.
            py::list args;
            args.append(bare_name(id));
            set_class(node, "Call");
            node.attr("func") = bare_attribute(bare_name(numpy_name), "asarray");
            node.attr("args") = args;
            node.attr("keywords") = py::list();
            return;
        }
    }
    py::object sym = symbol_of(ci, node);
    if (is_variable(cls, sym)) {
        py::object cdf = sym.attr("cdf");
        if (is_pointer_type(type_text(cdf)))
            set_tag(node, tag_name(cls, dtype_tag), cdf);
    }
}

} // namespace

void add_name_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Name", reform_Name, py::arg("cls"), py::arg("node"), py::arg("ci"));
}

} // namespace zel
