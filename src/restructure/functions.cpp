// Function definitions: annotated parameters become typed C parameters, and a function at
// module level whose parameters and result all have C types becomes a C function whose body is
// compiled code.
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/tags.hpp"
#include "support/pyast.hpp"

#include <set>
#include <string>

namespace zel {
namespace {

// A C function takes its parameters by position or by name, as the plain ones of a `def`;
// positional-only, keyword-only, `*args` and `**kwargs` parameters have no C form.
bool only_plain_parameters(const py::object &arguments) {
    return py::len(arguments.attr("posonlyargs")) == 0 &&
           py::len(arguments.attr("kwonlyargs")) == 0 && arguments.attr("vararg").is_none() &&
           arguments.attr("kwarg").is_none();
}

// A word of a C type, which the compiler reads as part of the result type in
// `cdef <type> <name>(...)`: `cdef long long double(...)` declares no function named double.
bool is_c_type_word(const std::string &name) {
    for (const char *word : {"char", "short", "int", "long", "float", "double", "void", "signed",
                             "unsigned", "bint", "complex"})
        if (name == word)
            return true;
    return false;
}

// A C function stands at module level, undecorated, and holds no closure or generator: the
// compiler has C functions only there, and takes no closure in one that is also a Python
// function object. Its name is no word of a C type. Any other function, however typed, stays
// an ordinary `def`.
bool may_be_c_function(const py::object &node, const py::object &ci) {
    if (!is_a(ci.attr("node"), "Module") || py::len(node.attr("decorator_list")) != 0 ||
        is_c_type_word(text_of(node.attr("name"))))
        return false;
    for (py::handle statement : node.attr("body"))
        for (py::handle inner : walk_tree(statement))
            for (const char *kind : {"FunctionDef", "AsyncFunctionDef", "ClassDef", "Lambda",
                                     "GeneratorExp", "Yield", "YieldFrom", "Await"})
                if (is_a(inner, kind))
                    return false;
    return true;
}

// Names that look the module's names up by their text: every C function is then a Python
// function object as well.
bool looks_names_up(const std::string &name) {
    for (const char *lookup :
         {"globals", "vars", "locals", "dir", "eval", "exec", "getattr", "__import__"})
        if (name == lookup)
            return true;
    return false;
}

// The names of the module that its code uses other than by calling them, every attribute name
// (a module's attribute may be one), and "*" when the code looks names up by their text.
// A callee given keyword arguments counts too: the compiler calls a C function by keywords
// only up to its first parameter left out, and calls the function object for the rest.
// Found once, kept beside the module's block.
py::set names_used_as_values(const py::object &module_block) {
    const char *tag = "_values_";
    py::object found = get_tag(module_block, tag);
    if (!found.is_none())
        return found;
    py::set values;
    std::set<PyObject *> callees;
    // Breadth first: a call comes before its callee.
    for (py::handle node : walk_tree(module_block.attr("node"))) {
        if (is_a(node, "Call")) {
            py::object callee = node.attr("func");
            callees.insert(callee.ptr());
            if (py::len(node.attr("keywords")) != 0 && is_a(callee, "Name"))
                values.add(callee.attr("id"));
        } else if (is_a(node, "Attribute")) {
            values.add(node.attr("attr"));
        } else if (is_a(node, "Name")) {
            py::object id = node.attr("id");
            if (looks_names_up(text_of(id)))
                values.add(py::str("*"));
            if (!callees.count(node.ptr()))
                values.add(id);
        }
    }
    set_tag(module_block, tag, values);
    return values;
}

// A C function named anywhere other than in calls is also a Python function object.
bool used_as_value(const py::object &module_block, const py::object &name) {
    py::set values = names_used_as_values(module_block);
    return values.contains(py::str("*")) || values.contains(name);
}

void reform_FunctionDef(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object block = new_block(cls, node, ci).attr("set_name")(node.attr("name"));
    py::object didx = tag_name(cls, dtype_tag);
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
            if (used_as_value(ci, node.attr("name")))
                set_tag(node, "_pyobject_", py::bool_(true));
            block.attr("set_attr")(tag_name(cls, compiled_tag), true);
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
