// The few operations on syntax-tree nodes that the rewriting and the emitter share:
// instance tests against the `ast` classes, tags with a None default, changing a
// node's class in place, unparsing and building nodes.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>

namespace zel {
namespace py = pybind11;

// `from <module> import <name>`: a missing name raises ImportError, as the statement does.
py::object import_from(const char *module, const char *name);

// Takes the `ast` module's namespace for `ast_class`; the module body calls it at each run.
void load_ast_classes();

// The class `ast.<name>`.
py::object ast_class(const char *name);

// isinstance(value, ast.<name>)
bool is_a(py::handle value, const char *name);

// The direct child nodes of `node`, in the order of its fields: what ast.iter_child_nodes
// yields, without running Python code for each node.
py::list child_nodes(py::handle node);

// getattr(value, name, absent), where only AttributeError means absent: every other exception
// (an interrupt, a failing property) propagates. How every optional attribute is read.
py::object attr_or(py::handle value, py::handle name, py::object absent = py::none());
py::object attr_or(py::handle value, const char *name, py::object absent = py::none());
// Whether `value` has the attribute, on the same terms: only AttributeError means absent.
bool has_attr(py::handle value, const char *name);

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

// str(value) as C++ text.
std::string text_of(py::handle value);

// Python truth of a value.
bool truthy(py::handle value);

// isinstance(value, cls) for any class, such as the records of ZELAst.
bool is_instance(py::handle value, py::handle cls);

// value == other, by the interpreter's comparison.
bool equals(py::handle value, py::handle other);

// The exception that `e` holds, with its traceback attached as `__traceback__`, as an
// `except ... as exc` clause would see it.
py::object caught_exception(const py::error_already_set &e);

// `print(*items)` through the interpreter's own print, so redirected streams are honoured.
template <typename... Items> void print_line(Items &&...items) {
    py::print(std::forward<Items>(items)...);
}

// A new list of the given texts.
py::list str_list(std::initializer_list<const char *> items);

} // namespace zel
