// ZELCython._ElementStores: a stage of the compiler's pipeline. The compiler converts a Python
// value to a C integer as Python's integer-only contexts do (integer_conversion.hpp), so a
// float stored there raises TypeError; numpy stores a float into an integer element of an
// array or a record by truncating it (`a[i] = 2.5` stores 2). A Python value stored into a C
// integer element or field is made an int first, as numpy's store makes it.
//
// What this relies on in the compiler: the analysed tree converts a Python value to a C type in
// a `CoerceFromPyTypeNode` whose `arg` is the value; an element of a typed array is a
// `MemoryViewIndexNode`; `PythonCapiCallNode` calls a C function of a given `CFuncType`.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

bool is_a_node(const py::handle &node, const char *kind) {
    return py::isinstance(node, compiler_module("ExprNodes").attr(kind));
}

// An element of a typed array, or a field of a record reached through one or through a
// record pointer.
bool is_element(const py::handle &target) {
    if (is_a_node(target, "MemoryViewIndexNode"))
        return true;
    if (!is_a_node(target, "AttributeNode"))
        return false;
    py::object type = target.attr("obj").attr("type");
    if (truthy(type.attr("is_ptr")))
        type = type.attr("base_type");
    return truthy(type.attr("is_struct"));
}

// int(value), the Python object.
py::object as_int(const py::object &value) {
    py::module_ types = compiler_module("PyrexTypes");
    py::list parameters;
    parameters.append(
        types.attr("CFuncTypeArg")("value", types.attr("py_object_type"), py::none()));
    py::object function_type = types.attr("CFuncType")(types.attr("py_object_type"), parameters);
    py::list args;
    args.append(value);
    return compiler_module("ExprNodes")
        .attr("PythonCapiCallNode")(value.attr("pos"), "PyNumber_Long", function_type,
                                    py::arg("args") = args, py::arg("is_temp") = true);
}

py::object visit_SingleAssignmentNode(const py::object &self, const py::object &node) {
    emitter::visit_children(self, node);
    py::object value = node.attr("rhs");
    if (is_element(node.attr("lhs")) && is_a_node(value, "CoerceFromPyTypeNode") &&
        truthy(value.attr("type").attr("is_int")))
        value.attr("arg") = as_int(value.attr("arg"));
    return node;
}

} // namespace

py::object make_element_stores(const Globals &g, const py::object &) {
    ClassBuilder stores = compiler_stage(g, "_ElementStores");
    stores.method("visit_SingleAssignmentNode", visit_SingleAssignmentNode, py::arg("self"),
                  py::arg("node"));
    return stores.build();
}

} // namespace zel
