// ZELCython._TextTruth: a stage of the compiler's pipeline. A text variable or member is a C
// string, which the compiler tests for truth as a pointer: an empty text was true, where
// Python's empty bytes are false (`if name:`, `not name`, `name or b'-'`). The test becomes
// whether the text has a first byte, in the tree analysed and optimised, where every
// expression has its C type.
//
// What this relies on in the compiler: a C value tested for truth is the argument of a
// `CoerceToBooleanNode`, which writes `(<argument> != 0)` (its subclass for a C string made a
// Python bool tests the first byte itself), or, as an operand of `and`/`or`, the `arg` of a
// `BoolBinopResultNode`, which tests `arg` itself and takes its value from a clone of it;
// `PythonCapiCallNode` calls a C function of a given `CFuncType`; `UtilityCode` carries the
// function's text into the module.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "restructure/generated_names.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

// nonempty(text): 1 when the C string holds a byte before its NUL, else 0.
py::object nonempty_call(const py::object &text) {
    py::module_ types = compiler_module("PyrexTypes");
    py::list parameters;
    parameters.append(
        types.attr("CFuncTypeArg")("text", types.attr("c_const_char_ptr_type"), py::none()));
    py::object function_type =
        types.attr("CFuncType")(types.attr("c_int_type"), parameters, py::arg("nogil") = true);
    std::string head =
        std::string("static CYTHON_INLINE int ") + c_text_nonempty + "(const char *text)";
    py::object utility = compiler_module("Code").attr("UtilityCode")(
        py::arg("proto") = head + ";", py::arg("impl") = head + " { return text && text[0]; }\n",
        py::arg("name") = c_text_nonempty);
    py::list args;
    args.append(text);
    return compiler_module("ExprNodes")
        .attr("PythonCapiCallNode")(text.attr("pos"), c_text_nonempty, function_type,
                                    py::arg("utility_code") = utility, py::arg("args") = args);
}

// A truth test, or an operand of `and`/`or`, whose argument is a C string reads it through
// `nonempty`. An operand's value is a clone of its argument, which the call evaluates for the
// clone to take.
py::object test_text_content(const py::object &self, const py::object &node) {
    emitter::visit_children(self, node);
    py::object type = node.attr("arg").attr("type");
    if (truthy(type.attr("is_string")) && !truthy(type.attr("is_pyobject")))
        node.attr("arg") = nonempty_call(node.attr("arg"));
    return node;
}

// The compiler's own test of a C string made a Python bool already reads its first byte.
py::object visit_CoerceCStringToBooleanNode(const py::object &self, const py::object &node) {
    emitter::visit_children(self, node);
    return node;
}

} // namespace

py::object make_text_truth(const Globals &g, const py::object &) {
    ClassBuilder stage = compiler_stage(g, "_TextTruth");
    for (const char *name : {"visit_CoerceToBooleanNode", "visit_BoolBinopResultNode"})
        stage.method(name, test_text_content, py::arg("self"), py::arg("node"));
    stage.method("visit_CoerceCStringToBooleanNode", visit_CoerceCStringToBooleanNode,
                 py::arg("self"), py::arg("node"));
    return stage.build();
}

} // namespace zel
