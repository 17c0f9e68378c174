// ZELUnparser: the host's unparser with line markers and the declaration, struct and
// import emitters of the generated .pyx text.
#include "emit/emit_classes.hpp"

namespace zel {

py::object make_zel_unparser(const Globals &g) {
    py::object base = g["ZELAst"].attr("_Unparser");
    ClassBuilder unparser(g, "ZELUnparser", py::make_tuple(base));
    py::module_ ast = py::module_::import("ast");
    unparser.attr(
        "_LINE_STARTING_TYPES",
        py::make_tuple(ast.attr("stmt"), ast.attr("excepthandler"), ast.attr("match_case")));
    add_line_markers(unparser, base);
    add_declaration_emitters(unparser, base);
    add_struct_and_import_emitters(unparser, base);
    return unparser.build();
}

} // namespace zel
