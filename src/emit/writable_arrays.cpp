// ZELCython._WritableArrays: a stage of the compiler's pipeline. A loop over a list or tuple
// display of C values (`for v in [x, 2.0]`) runs over a C array that the compiler fills before
// the loop. At module level it declares that array static and const and then assigns its
// items, which a C++ compiler refuses, so the build failed. An array whose items are not all
// literals is filled at run time: it is made writable. An array of literals stays const, as
// the compiler initialises it where it declares it.
//
// What this relies on in the compiler: `CArrayNode` (a list coerced to a C array) has the array
// type as `type`; it reads that type when it declares the array.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

py::object visit_CArrayNode(const py::object &self, const py::object &node) {
    emitter::visit_children(self, node);
    py::object type = node.attr("type");
    py::object item_type = type.attr("base_type");
    if (!truthy(item_type.attr("is_const")))
        return node;
    for (py::handle item : node.attr("args")) {
        if (!truthy(item.attr("is_literal"))) {
            py::module_ types = compiler_module("PyrexTypes");
            node.attr("type") = types.attr("c_array_type")(types.attr("remove_cv_ref")(item_type),
                                                           type.attr("size"));
            break;
        }
    }
    return node;
}

} // namespace

py::object make_writable_arrays(const Globals &g, const py::object &) {
    ClassBuilder stage = compiler_stage(g, "_WritableArrays");
    stage.method("visit_CArrayNode", visit_CArrayNode, py::arg("self"), py::arg("node"));
    return stage.build();
}

} // namespace zel
