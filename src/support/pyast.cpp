#include "support/pyast.hpp"

namespace zel {
namespace {
// Instance tests run for nearly every node the rewriting meets: the classes are found in the
// module's namespace, without an import or attribute lookup each time. The reference is held
// for the rest of the process, so nothing is released after the interpreter has gone.
PyObject *ast_namespace = nullptr;
} // namespace

void load_ast_classes() {
    py::object ns = py::module_::import("ast").attr("__dict__");
    Py_XSETREF(ast_namespace, ns.release().ptr());
}

py::object ast_class(const char *name) {
    if (!ast_namespace)
        load_ast_classes();
    PyObject *cls = PyDict_GetItemString(ast_namespace, name);
    if (!cls) {
        PyErr_Format(PyExc_AttributeError, "module 'ast' has no attribute '%s'", name);
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(cls);
}

bool is_a(py::handle value, const char *name) {
    return is_instance(value, ast_class(name));
}

py::tuple field_names(py::handle node) {
    static const py::handle fields_name = py::str("_fields").release();
    return attr_or(py::type::handle_of(node), fields_name, py::tuple());
}

py::list child_nodes(py::handle node) {
    py::handle ast_node = ast_class("AST");
    py::list children;
    for (py::handle field : field_names(node)) {
        py::object value = attr_or(node, field);
        if (is_instance(value, ast_node)) {
            children.append(value);
        } else if (PyList_Check(value.ptr())) {
            for (py::handle item : value)
                if (is_instance(item, ast_node))
                    children.append(item);
        }
    }
    return children;
}

py::iterator walk_tree(py::handle node) {
    return py::iter(py::module_::import("ast").attr("walk")(node));
}

void set_tag(py::handle node, py::handle name, py::handle value) {
    py::setattr(node, name, value);
}

void set_tag(py::handle node, const char *name, py::handle value) {
    py::setattr(node, name, value);
}

void set_class(py::handle node, const char *name) {
    py::setattr(node, "__class__", ast_class(name));
}

py::object call(py::handle func, py::handle args, py::handle keywords) {
    return ast_class("Call")(func, args, keywords);
}

py::object call(py::handle func, py::handle args) {
    return call(func, args, py::list());
}

py::object assign(py::handle target, py::handle value) {
    py::list targets;
    targets.append(target);
    return ast_class("Assign")(targets, value);
}

py::object ann_assign(py::handle target, py::handle annotation, py::handle value) {
    return ast_class("AnnAssign")(target, annotation, value, 1);
}

py::object parse_statement(const py::object &source) {
    return py::module_::import("ast").attr("parse")(source).attr("body")[py::int_(0)];
}

std::string unparse(py::handle node) {
    return text_of(py::module_::import("ast").attr("unparse")(node));
}

} // namespace zel
