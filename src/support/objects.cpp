#include "support/objects.hpp"

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
    raise_error(PyExc_ImportError,
                py::str("cannot import name '{}' from '{}'").format(name, module));
}

void raise_error(py::handle type, py::handle value) {
    py::set_error(type, value);
    throw py::error_already_set();
}

void raise_error(py::handle type, const std::string &message) {
    raise_error(type, py::str(message));
}

void raise_error(py::handle error) {
    raise_error(py::type::handle_of(error), error);
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

std::string text_of(py::handle value) {
    return py::str(value).cast<std::string>();
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

bool py_equal(py::handle value, py::handle other) {
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

py::list str_list(std::initializer_list<const char *> items) {
    py::list list;
    for (const char *item : items)
        list.append(item);
    return list;
}

} // namespace zel
