// ZEL.unparse: writes the rewritten tree as .pyx text and maps the lines that carry a line
// marker back to the script lines they came from.
#include "driver/driver_classes.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

bool is_future_import(py::handle statement) {
    return is_a(statement, "ImportFrom") &&
           py_equal(statement.attr("module"), py::str("__future__"));
}

// Where the prefix goes: after the leading docstring (written as `pass` by then) and the
// `from __future__` imports, which must stay first.
size_t prefix_position(const py::list &body) {
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

// Puts the prange import and the openmp cimport at the head of the module body.
void insert_openmp_prefix(const Globals &g, const py::object &tree) {
    py::object pyx_prefix = g["ZELConst"].attr("pyx_prefix");
    py::object prange_import = parse_statement(pyx_prefix[py::int_(0)]);
    py::object openmp_import = parse_statement(pyx_prefix[py::int_(1)]);
    set_tag(openmp_import, g["ZELAst"].attr("cidx"), py::bool_(true));
    openmp_import.attr("lineno") = -1;
    prange_import.attr("lineno") = -1;
    py::list body = tree.attr("body");
    size_t position = prefix_position(body);
    body.insert(position, openmp_import);
    body.insert(position, prange_import);
}

// ZEL.unparse (named apart from the support helper that unparses one node).
py::tuple unparse_tree(const Globals &g, const py::object &tree, const py::object &openmp) {
    if (truthy(openmp) && is_a(tree, "Module"))
        insert_openmp_prefix(g, tree);

    py::object unparser = g["ZELUnparser"]();
    unparser.attr("traverse")(tree);
    unparser.attr("finalize")();

    py::object zel_const = g["ZELConst"];
    py::str head = zel_const.attr("pattern1");
    py::str tail = zel_const.attr("pattern2");
    py::ssize_t head_len = py::len(head);
    py::ssize_t tail_len = py::len(tail);
    py::str line_break("\n");

    py::dict line_map;
    long line = 1;
    py::list text;
    for (py::handle piece : unparser.attr("_source")) {
        if (PyUnicode_Check(piece.ptr())) {
            if (truthy(piece.attr("startswith")(head)) && truthy(piece.attr("endswith")(tail))) {
                try {
                    py::object digits = piece[py::slice(head_len, py::len(piece) - tail_len, 1)];
                    line_map[py::int_(line)] = py::int_(digits);
                } catch (py::error_already_set &e) {
                    if (!e.matches(PyExc_Exception))
                        throw;
                    PyErr_SetObject(g["ZEL"].attr("Error").ptr(),
                                    py::str("unparse error while linemap.").ptr());
                    throw py::error_already_set();
                }
            }
            // A piece that holds several line breaks (a docstring spanning lines) advances
            // the count by all of them, so the keys stay the line numbers Cython reports.
            line += py::int_(piece.attr("count")(line_break)).cast<long>();
        }
        text.append(py::str(piece));
    }
    return py::make_tuple(py::str("").attr("join")(text), line_map);
}

} // namespace

void add_unparse(ClassBuilder &zel) {
    zel.staticmethod("unparse", unparse_tree, py::arg("tree"), py::arg("openmp") = true);
}

} // namespace zel
