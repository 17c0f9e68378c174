// ZELUnparser: the host's unparser with line markers and the declaration, struct and
// import emitters of the generated .pyx text.
#include "emit/emit_classes.hpp"

namespace zel {

py::object make_zel_unparser(const Globals &g) {
    py::object base = g["ZELAst"].attr("_Unparser");
    ClassBuilder u(g, "ZELUnparser", py::make_tuple(base));
    py::module_ ast = py::module_::import("ast");
    u.attr("_LINE_STARTING_TYPES",
           py::make_tuple(ast.attr("stmt"), ast.attr("excepthandler"), ast.attr("match_case")));
    add_line_markers(u, base);
    add_declaration_emitters(u, base);
    add_struct_and_import_emitters(u, base);
    return u.build();
}

} // namespace zel
