// Line markers: every output line that the unparser begins ends with a comment piece that
// names the script line it came from. The marker is written when the line is closed, just
// before the line break that ends it, so each marker is a piece of its own in `_source`.
#include "emit/emit_classes.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// Closes the open line with its marker unless it is closed already or carries no number.
void close_open_line(const py::object &self) {
    if (truthy(self.attr("_source")) && !truthy(self.attr("_line_closed")) &&
        !self.attr("_open_lineno").is_none()) {
        self.attr("add_line_postfix")();
        self.attr("_line_closed") = py::bool_(true);
    }
}

} // namespace

void add_line_markers(ClassBuilder &u, const py::object &base) {
    py::object base_init = base.attr("__init__");
    py::object base_traverse = base.attr("traverse");
    py::object base_fill = base.attr("fill");
    py::object base_maybe_newline = base.attr("maybe_newline");

    // The host makes inner unparsers of the same class for parts of f-strings, and passes
    // them its own keyword options.
    u.method(
        "__init__",
        [base_init](py::object self, py::kwargs kw) {
            base_init(self, **kw);
            self.attr("_pending_lineno") = py::none();
            self.attr("_open_lineno") = py::none();
            self.attr("_line_closed") = py::bool_(true);
            self.attr("_fill_struct_lookup_code") = py::bool_(false);
        },
        py::arg("self"));

    // The number is taken before the node's emitter runs, so the lines it begins carry it.
    u.method(
        "traverse",
        [base_traverse](py::object self, py::object node) {
            if (py::isinstance(node, self.attr("_LINE_STARTING_TYPES")) &&
                py::hasattr(node, "lineno"))
                self.attr("_pending_lineno") = node.attr("lineno");
            base_traverse(self, node);
        },
        py::arg("self"), py::arg("node"));

    u.method(
        "fill",
        [base_fill](py::object self, py::object text, py::kwargs kw) {
            base_fill(self, text, **kw);
            self.attr("_open_lineno") = self.attr("_pending_lineno");
            self.attr("_line_closed") = py::bool_(false);
        },
        py::arg("self"), py::arg("text") = py::str(""));

    u.method(
        "maybe_newline",
        [base_maybe_newline](py::object self) {
            close_open_line(self);
            base_maybe_newline(self);
        },
        py::arg("self"));

    u.method(
        "add_line_postfix",
        [](const Globals &g, py::object self) {
            py::object consts = g["ZELConst"];
            py::str marker = py::str(consts.attr("pattern1")) + py::str(self.attr("_open_lineno")) +
                             py::str(consts.attr("pattern2"));
            self.attr("_source").attr("append")(marker);
        },
        py::arg("self"));

    // Closes the last line; no line break follows it.
    u.method(
        "finalize", [](py::object self) { close_open_line(self); }, py::arg("self"));
}

} // namespace zel
