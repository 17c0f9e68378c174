// The few operations on syntax-tree nodes that the rewriting and the emitter share:
// instance tests against the `ast` classes, tags with a None default, changing a
// node's class in place, unparsing and building nodes.
#pragma once

#include "support/objects.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace zel {
namespace py = pybind11;

// Takes the `ast` module's namespace for `ast_class`; the module body calls it at each run.
void load_ast_classes();

// The class `ast.<name>`.
py::object ast_class(const char *name);

// isinstance(value, ast.<name>)
bool is_a(py::handle value, const char *name);

// The direct child nodes of `node`, in the order of its fields: what ast.iter_child_nodes
// yields, without running Python code for each node.
py::list child_nodes(py::handle node);

// ast.walk(node): `node` and every node below it, breadth first, as the tree is when each is
// reached.
py::iterator walk_tree(py::handle node);

// A tag of a node or record, None when it has none.
inline py::object get_tag(py::handle node, py::handle name) {
    return attr_or(node, name);
}
inline py::object get_tag(py::handle node, const char *name) {
    return attr_or(node, name);
}
void set_tag(py::handle node, py::handle name, py::handle value);
void set_tag(py::handle node, const char *name, py::handle value);

// node.__class__ = ast.<name>; the node keeps its other attributes.
void set_class(py::handle node, const char *name);

// The first statement of `source`, parsed as a module of its own.
py::object parse_statement(const py::object &source);

// ast.unparse(node)
std::string unparse(py::handle node);

} // namespace zel
