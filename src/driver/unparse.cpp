// ZEL.unparse: the .pyx text of the rewritten tree and its line map, the module's prologue put
// first.
#include "driver/driver_classes.hpp"
#include "emit/module_prologue.hpp"
#include "emit/pyx_text.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// ZEL.unparse (named apart from the support helper that unparses one node).
py::tuple unparse_tree(const Globals &g, const py::object &tree, const py::object &openmp) {
    if (is_a(tree, "Module"))
        insert_module_prologue(g, tree, truthy(openmp));
    return pyx_text_with_line_map(g, tree);
}

} // namespace

void add_unparse(ClassBuilder &zel) {
    zel.staticmethod("unparse", unparse_tree, py::arg("tree"), py::arg("openmp") = true);
}

} // namespace zel
