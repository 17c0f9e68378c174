// TEMPORARY stand-in for the loop rewriting until it lands: projection loops go to
// reform_Projection, every other loop is walked as an ordinary one.
#include "support/class_builder.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

void reform_For(py::object cls, py::object node, py::object ci) {
    py::object iter = node.attr("iter");
    if (is_a(iter, "Call") && equals(cls.attr("convert_import_name_str")(iter.attr("func"), ci),
                                     cls.attr("PROJECTION"))) {
        cls.attr("reform_Projection")(node, ci);
        return;
    }
    cls.attr("reform_Stmt")(iter, ci);
    cls.attr("reform_Stmt")(node.attr("body"), cls.attr("BlockInfo")(node, ci));
}

} // namespace

void add_temporary_for(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_For", reform_For, py::arg("cls"), py::arg("node"), py::arg("ci"));
}

} // namespace zel
