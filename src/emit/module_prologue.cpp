// The statements at the head of the generated module, written in one place from what the walk
// recorded.
#include "emit/module_prologue.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/tags.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

bool is_future_import(py::handle statement) {
    return is_a(statement, "ImportFrom") &&
           py_equal(statement.attr("module"), py::str("__future__"));
}

// After the leading docstring (written as `pass` by then) and the `from __future__` imports.
size_t prologue_position(const py::list &body) {
    size_t position = 0;
    if (!body.empty()) {
        py::handle first = body[0];
        if (is_a(first, "Pass") || (is_a(first, "Expr") && is_a(first.attr("value"), "Constant")))
            position = 1;
    }
    while (position < body.size() && is_future_import(body[position]))
        ++position;
    return position;
}

// A prologue statement belongs to no script line; a cimport is tagged for declaration.
py::object prologue_statement(const Globals &g, py::object statement, bool cimport) {
    statement.attr("lineno") = -1;
    if (cimport)
        set_tag(statement, tag_name(g["ZELAst"], cdef_tag), py::bool_(true));
    return statement;
}

} // namespace

void insert_module_prologue(const Globals &g, const py::object &module, bool openmp) {
    py::list prologue;
    if (openmp) {
        py::object pyx_prefix = g["ZELConst"].attr("pyx_prefix");
        prologue.append(prologue_statement(g, parse_statement(pyx_prefix[py::int_(0)]), false));
        prologue.append(prologue_statement(g, parse_statement(pyx_prefix[py::int_(1)]), true));
    }
    if (truthy(get_tag(module, cython_alias))) {
        py::list names;
        names.append(ast_class("alias")("cython", cython_alias));
        prologue.append(prologue_statement(g, ast_class("Import")(names), true));
    }
    py::list body = module.attr("body");
    py::ssize_t position = static_cast<py::ssize_t>(prologue_position(body));
    body[py::slice(position, position, 1)] = prologue;
}

} // namespace zel
