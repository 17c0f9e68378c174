// ZELCython._CharLiterals: a stage of the compiler's pipeline. The compiler reads a text of one
// character where a C integer is wanted as that character's code: `k: int = "a"` holds 97 and
// `k == "a"` compares with 97, where Python keeps the text (and `k == "a"` is false). Such a
// literal stops the build on its line instead of giving another result.
//
// What this relies on in the compiler: a str or bytes literal coerced to a C integer becomes a
// `CharNode` in the analysed tree, and Python code has no other way to write one (`c'a'` is the
// compiler's own syntax); a str literal coerced to `Py_UCS4`, which compares with a character
// of a text as Python does, becomes an integer node instead and is left alone.
#include "emit/emit_classes.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

py::object visit_CharNode(const py::object &, const py::object &node) {
    std::string text = text_of(py::repr(node.attr("value").attr("decode")("latin-1")));
    compiler_module("Errors").attr("error")(node.attr("pos"),
                                            "the text " + text +
                                                " stands where a C integer is wanted, where Python "
                                                "keeps it a text; write ord(" +
                                                text + ") for its code");
    return node;
}

} // namespace

py::object make_char_literals(const Globals &g, const py::object &) {
    ClassBuilder stage = compiler_stage(g, "_CharLiterals");
    stage.method("visit_CharNode", visit_CharNode, py::arg("self"), py::arg("node"));
    return stage.build();
}

} // namespace zel
