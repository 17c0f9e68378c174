// ZELUnparser: the host's unparser with line markers and the declaration, struct and
// import emitters of the generated .pyx text.
#include "emit/emit_classes.hpp"
#include "support/pyast.hpp"

namespace zel {

py::object make_zel_unparser(const Globals &g) {
    ClassBuilder unparser(g, "ZELUnparser", py::make_tuple(host_unparser(g)));
    unparser.attr(
        "_LINE_STARTING_TYPES",
        py::make_tuple(ast_class("stmt"), ast_class("excepthandler"), ast_class("match_case")));
    add_line_markers(unparser);
    add_declaration_emitters(unparser);
    add_struct_table_emitter(unparser);
    add_import_emitters(unparser);
    add_module_functions(unparser);
    return unparser.build();
}

} // namespace zel
