#include "support/class_builder.hpp"

namespace zel {

ClassBuilder::ClassBuilder(Globals globals, const std::string &name, py::tuple bases,
                           const std::string &outer_qualname)
    : globals_(std::move(globals)), name_(name),
      qualname_(outer_qualname.empty() ? name : outer_qualname + "." + name),
      bases_(std::move(bases)) {
    ns_["__module__"] = "zel.zel";
    ns_["__qualname__"] = qualname_;
}

ClassBuilder &ClassBuilder::attr(const char *name, py::object value) {
    ns_[name] = std::move(value);
    return *this;
}

ClassBuilder &ClassBuilder::add(const char *name, PyObject *(*wrap)(PyObject *),
                                const py::object &fn) {
    PyObject *wrapped = wrap(fn.ptr());
    if (!wrapped)
        throw py::error_already_set();
    return attr(name, py::reinterpret_steal<py::object>(wrapped));
}

py::object ClassBuilder::bind_globals(const py::object &function) const {
    return py::module_::import("functools").attr("partial")(function, globals_);
}

ClassBuilder ClassBuilder::nested(const std::string &name, py::tuple bases) const {
    return ClassBuilder(globals_, name, std::move(bases), qualname_);
}

py::object ClassBuilder::build() {
    py::handle metaclass = bases_.empty()
                               ? py::handle(reinterpret_cast<PyObject *>(&PyType_Type))
                               : py::handle(reinterpret_cast<PyObject *>(Py_TYPE(bases_[0].ptr())));
    return metaclass(name_, bases_, ns_);
}

py::object nested_error_class(const ClassBuilder &outer, const std::string &name,
                              const char *default_message) {
    py::object exception = py::reinterpret_borrow<py::object>(PyExc_Exception);
    ClassBuilder error = outer.nested(name, py::make_tuple(exception));
    error.method(
        "__init__",
        [exception](py::object self, py::object message) {
            exception.attr("__init__")(self, message);
        },
        py::arg("self"), py::arg("message") = default_message);
    return error.build();
}

} // namespace zel
