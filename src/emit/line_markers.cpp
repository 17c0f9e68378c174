// Line markers: every output line that the unparser begins ends with a comment piece that
// names the script line it came from. The marker is written when the line is closed, just
// before the line break that ends it, so each marker is a piece of its own in `_source`.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "restructure/generated_names.hpp"
#include "support/objects.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// Closes the open line with its marker unless it is closed already or carries no number.
void close_open_line(const py::object &self) {
    if (truthy(self.attr("_source")) && !truthy(self.attr("_line_closed")) &&
        !self.attr("_open_lineno").is_none()) {
        emitter::add_line_postfix(self);
        self.attr("_line_closed") = py::bool_(true);
    }
}

// The host makes inner unparsers of the same class for parts of f-strings, and passes them its
// own keyword options.
void zel_unparser_init(const Globals &g, const py::object &self, const py::kwargs &kw) {
    host_unparser(g).attr("__init__")(self, **kw);
    self.attr("_pending_lineno") = py::none();
    self.attr("_open_lineno") = py::none();
    self.attr("_line_closed") = py::bool_(true);
    self.attr("_fill_struct_lookup_code") = py::bool_(false);
    self.attr("_stack_test_written") = py::bool_(false);
    self.attr("_text_helpers") = py::bool_(false);
    self.attr("_in_module_function") = py::bool_(false);
    self.attr("_outlined_loops") = py::dict();
}

// The number is taken before the node's emitter runs, so the lines it begins carry it. The
// module says whether its struct and lookup block holds the text helpers.
void traverse(const Globals &g, const py::object &self, const py::object &node) {
    if (py::isinstance(node, self.attr("_LINE_STARTING_TYPES")) && has_attr(node, "lineno"))
        self.attr("_pending_lineno") = node.attr("lineno");
    else if (is_a(node, "Module") && truthy(get_tag(node, text_helpers_tag)))
        self.attr("_text_helpers") = py::bool_(true);
    emitter::host_traverse(g, self, node);
}

void fill(const Globals &g, const py::object &self, const py::object &text, const py::kwargs &kw) {
    emitter::host_fill(g, self, text, kw);
    self.attr("_open_lineno") = self.attr("_pending_lineno");
    self.attr("_line_closed") = py::bool_(false);
}

void maybe_newline(const Globals &g, const py::object &self) {
    close_open_line(self);
    emitter::host_maybe_newline(g, self);
}

void add_line_postfix(const Globals &g, const py::object &self) {
    py::object consts = g["ZELConst"];
    py::str marker = py::str(consts.attr("pattern1")) + py::str(self.attr("_open_lineno")) +
                     py::str(consts.attr("pattern2"));
    self.attr("_source").attr("append")(marker);
}

// Closes the last line; no line break follows it.
void finalize(const py::object &self) {
    close_open_line(self);
}

} // namespace

void add_line_markers(ClassBuilder &unparser) {
    unparser.method("__init__", zel_unparser_init, py::arg("self"));
    unparser.method("traverse", traverse, py::arg("self"), py::arg("node"));
    unparser.method("fill", fill, py::arg("self"), py::arg("text") = py::str(""));
    unparser.method("maybe_newline", maybe_newline, py::arg("self"));
    unparser.method("add_line_postfix", add_line_postfix, py::arg("self"));
    unparser.method("finalize", finalize, py::arg("self"));
}

} // namespace zel
