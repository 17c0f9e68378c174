#include "support/pyast.hpp"

#include <utility>

namespace zel {

py::object import_from(const char *module, const char *name) {
    py::module_ source = py::module_::import(module);
    PyObject *value = PyObject_GetAttrString(source.ptr(), name);
    if (value)
        return py::reinterpret_steal<py::object>(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError))
        throw py::error_already_set();
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, module);
    throw py::error_already_set();
}

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

py::list child_nodes(py::handle node) {
    static const py::handle fields_name = py::str("_fields").release();
    py::handle ast_node = ast_class("AST");
    py::list children;
    for (py::handle field : attr_or(py::type::handle_of(node), fields_name, py::tuple())) {
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

namespace {
// The attribute, or a null object when the lookup raised AttributeError.
py::object optional_attr(py::handle value, py::handle name) {
    PyObject *found = PyObject_GetAttr(value.ptr(), name.ptr());
    if (found)
        return py::reinterpret_steal<py::object>(found);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError))
        throw py::error_already_set();
    PyErr_Clear();
    return py::object();
}
} // namespace

py::object attr_or(py::handle value, py::handle name, py::object absent) {
    py::object found = optional_attr(value, name);
    return found ? found : absent;
}

py::object attr_or(py::handle value, const char *name, py::object absent) {
    return attr_or(value, py::str(name), std::move(absent));
}

bool has_attr(py::handle value, const char *name) {
    return bool(optional_attr(value, py::str(name)));
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

bool truthy(py::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0)
        throw py::error_already_set();
    return result == 1;
}

bool is_instance(py::handle value, py::handle cls) {
    int result = PyObject_IsInstance(value.ptr(), cls.ptr());
    if (result < 0)
        throw py::error_already_set();
    return result == 1;
}

bool equals(py::handle value, py::handle other) {
    int result = PyObject_RichCompareBool(value.ptr(), other.ptr(), Py_EQ);
    if (result < 0)
        throw py::error_already_set();
    return result == 1;
}

py::object caught_exception(const py::error_already_set &e) {
    py::object exc = e.value();
    if (e.trace() && PyException_SetTraceback(exc.ptr(), e.trace().ptr()) < 0)
        throw py::error_already_set();
    return exc;
}

py::object parse_statement(const py::object &source) {
    return py::module_::import("ast").attr("parse")(source).attr("body")[py::int_(0)];
}

std::string unparse(py::handle node) {
    return py::module_::import("ast").attr("unparse")(node).cast<std::string>();
}

std::string text_of(py::handle value) {
    return py::str(value).cast<std::string>();
}

py::list str_list(std::initializer_list<const char *> items) {
    py::list list;
    for (const char *item : items)
        list.append(item);
    return list;
}

} // namespace zel
