// Function definitions: annotated parameters become typed C parameters, and a function at
// module level whose parameters and result all have C types becomes a C function whose body is
// compiled code.
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// A C function takes its parameters by position or by name, as the plain ones of a `def`;
// positional-only, keyword-only, `*args` and `**kwargs` parameters have no C form.
bool only_plain_parameters(const py::object &arguments) {
    return py::len(arguments.attr("posonlyargs")) == 0 &&
           py::len(arguments.attr("kwonlyargs")) == 0 && arguments.attr("vararg").is_none() &&
           arguments.attr("kwarg").is_none();
}

// A C function is defined once, at module level, undecorated, and holds no closure or generator:
// the compiler has C functions only there, and no closure in one that is also a Python
// function. Any other function, however typed, stays an ordinary `def`.
bool may_be_c_function(const py::object &node, const py::object &ci) {
    if (!is_a(ci.attr("node"), "Module") || py::len(node.attr("decorator_list")) != 0)
        return false;
    for (py::handle statement : node.attr("body"))
        for (py::handle inner : walk_tree(statement))
            for (const char *kind : {"FunctionDef", "AsyncFunctionDef", "ClassDef", "Lambda",
                                     "GeneratorExp", "Yield", "YieldFrom", "Await"})
                if (is_a(inner, kind))
                    return false;
    return true;
}

void reform_FunctionDef(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object block = new_block(cls, node, ci).attr("set_name")(node.attr("name"));
    py::object didx = cls.attr("didx");
    bool all_typed = only_plain_parameters(node.attr("args"));
    for (py::handle arg : node.attr("args").attr("args")) {
        py::object annotation = arg.attr("annotation");
        py::object tn = annotation_type(cls, annotation, ci);
        if (!truthy(tn)) {
            all_typed = false;
            break;
        }
        bind(block, arg.attr("arg"), new_variable(cls, arg, tn, py::arg("call") = annotation));
        set_tag(arg, didx, tn);
    }
    set_tag(node.attr("args"), didx, py::bool_(all_typed));
    py::object returns = node.attr("returns");
    if (all_typed && truthy(returns) && may_be_c_function(node, ci)) {
        py::object rt = annotation_type(cls, returns, ci);
        if (truthy(rt)) {
            set_tag(node, didx, rt);
            block.attr("set_attr")(cls.attr("midx"), true);
        }
    }
    reform_stmt(cls, node.attr("body"), block);
}

} // namespace

void add_function_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_FunctionDef", reform_FunctionDef, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
