// The few operations on syntax-tree nodes that the rewriting and the emitter share:
// instance tests against the `ast` classes, tags with a None default, changing a
// node's class in place, the child nodes and the walk, parsing, unparsing and building nodes.
#pragma once

#include "support/objects.hpp"

#include <pybind11/pybind11.h>

#include <string>
#include <utility>

namespace zel {
namespace py = pybind11;

// Takes the `ast` module's namespace for `ast_class`; the module body calls it at each run.
void load_ast_classes();

// The class `ast.<name>`.
py::object ast_class(const char *name);

// isinstance(value, ast.<name>)
bool is_a(py::handle value, const char *name);

// The names of the fields of `node`, as its class lists them; an empty tuple for a value that
// is not a node.
py::tuple field_names(py::handle node);

// The direct child nodes of `node`, in the order of its fields: what ast.iter_child_nodes
// yields, without running Python code for each node. The one walk over a node's children.
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

// Nodes as the rewriting builds them, each the `ast` call its comment shows. An id, attribute
// or value is anything pybind11 passes to Python: a str, a C string, a number, a node.

// Name(id, Load()), Name(id, Store())
template <typename Id> py::object name_load(Id &&id) {
    return ast_class("Name")(std::forward<Id>(id), ast_class("Load")());
}
template <typename Id> py::object name_store(Id &&id) {
    return ast_class("Name")(std::forward<Id>(id), ast_class("Store")());
}
// Name(id), with no context: how the rewriting writes the functions it calls and the types it
// names. `ast` gives it Load() from 3.13 on; before 3.13 it has no `ctx` at all.
template <typename Id> py::object bare_name(Id &&id) {
    return ast_class("Name")(std::forward<Id>(id));
}
// Attribute(value, attr, Load()), and Attribute(value, attr) with no context, as bare_name
template <typename Attr> py::object attribute_load(py::handle value, Attr &&attr) {
    return ast_class("Attribute")(value, std::forward<Attr>(attr), ast_class("Load")());
}
template <typename Attr> py::object bare_attribute(py::handle value, Attr &&attr) {
    return ast_class("Attribute")(value, std::forward<Attr>(attr));
}
// Tuple(elts), with no context, as bare_name
inline py::object bare_tuple(py::handle elts) {
    return ast_class("Tuple")(elts);
}
// Constant(value)
template <typename Value> py::object constant(Value &&value) {
    return ast_class("Constant")(std::forward<Value>(value));
}
// Call(func, args, keywords), keywords [] unless given
py::object call(py::handle func, py::handle args, py::handle keywords);
py::object call(py::handle func, py::handle args);
// Assign([target], value)
py::object assign(py::handle target, py::handle value);
// AnnAssign(target, annotation, value, simple=1)
py::object ann_assign(py::handle target, py::handle annotation, py::handle value);

// The first statement of `source`, parsed as a module of its own.
py::object parse_statement(const py::object &source);

// ast.unparse(node)
std::string unparse(py::handle node);

} // namespace zel
