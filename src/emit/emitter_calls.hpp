// Calls of the emitter's methods by name, each written once: ZELUnparser's (its own and those
// it takes from the host's unparser), the host's where an override calls the part it keeps,
// and those of the Cython tree transforms. A method is called through its object, so an
// override is the one called; CI refuses such a call by name anywhere else.
#pragma once

#include "emit/emit_classes.hpp"

#include <pybind11/pybind11.h>

#include <string>
#include <utility>

namespace zel::emitter {

// ZELUnparser.traverse: emits a node, or each node of a list.
inline void traverse(const py::object &self, py::handle node) {
    self.attr("traverse")(node);
}

// ZELUnparser.fill: starts a new line, indented, with `text`.
inline void fill(const py::object &self) {
    self.attr("fill")();
}
inline void fill(const py::object &self, py::handle text) {
    self.attr("fill")(text);
}
inline void fill(const py::object &self, const std::string &text) {
    self.attr("fill")(py::str(text));
}

// ZELUnparser.write: appends its arguments to the current line.
template <typename... Texts> void write(const py::object &self, Texts &&...texts) {
    self.attr("write")(std::forward<Texts>(texts)...);
}

// ZELUnparser.block: the context of an indented block after a colon.
template <typename... Extra> py::object block(const py::object &self, Extra &&...extra) {
    return self.attr("block")(std::forward<Extra>(extra)...);
}

// ZELUnparser.delimit_if: the context that encloses what it emits in `open`, `close` when
// `condition` holds.
inline py::object delimit_if(const py::object &self, const char *open, const char *close,
                             bool condition) {
    return self.attr("delimit_if")(open, close, condition);
}

// ZELUnparser.add_line_postfix: ends the open line with its line marker.
inline void add_line_postfix(const py::object &self) {
    self.attr("add_line_postfix")();
}

// ZELUnparser.get_raw_docstring: a definition's docstring node, or None.
inline py::object raw_docstring(const py::object &self, py::handle node) {
    return self.attr("get_raw_docstring")(node);
}

// ZELUnparser.get_type_comment: a node's type comment text, or None.
inline py::object type_comment(const py::object &self, py::handle node) {
    return self.attr("get_type_comment")(node);
}

// ZELUnparser._write_docstring_and_traverse_body: a definition's docstring and body.
inline void docstring_and_body(const py::object &self, py::handle node) {
    self.attr("_write_docstring_and_traverse_body")(node);
}

// ZELUnparser._function_helper: a function definition after its decorators.
inline void function_helper(const py::object &self, py::handle node, const std::string &keyword) {
    self.attr("_function_helper")(node, keyword);
}

// The host's unparser, for an override that keeps the host's part: traverse, fill,
// maybe_newline and the emitters of arguments and of `from` imports.
inline void host_traverse(const Globals &g, const py::object &self, py::handle node) {
    host_unparser(g).attr("traverse")(self, node);
}
inline void host_fill(const Globals &g, const py::object &self, py::handle text,
                      const py::kwargs &kw) {
    host_unparser(g).attr("fill")(self, text, **kw);
}
inline void host_maybe_newline(const Globals &g, const py::object &self) {
    host_unparser(g).attr("maybe_newline")(self);
}
inline void host_visit_arguments(const Globals &g, const py::object &self, py::handle node) {
    host_unparser(g).attr("visit_arguments")(self, node);
}
inline void host_visit_import_from(const Globals &g, const py::object &self, py::handle node) {
    host_unparser(g).attr("visit_ImportFrom")(self, node);
}
inline void host_function_helper(const Globals &g, const py::object &self, py::handle node,
                                 const std::string &fill_suffix) {
    host_unparser(g).attr("_function_helper")(self, node, fill_suffix);
}

// The Cython tree transforms: visitchildren visits a node's children in place.
inline void visit_children(const py::object &transform, py::handle node) {
    transform.attr("visitchildren")(node);
}

// The Cython transform's visit_safe_node: visits a node through its class's visitor.
inline py::object visit_safe_node(const py::object &transform, py::handle node) {
    return transform.attr("visit_safe_node")(node);
}

} // namespace zel::emitter
