#include "support/lazy_attribute.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

void lazy_attribute_init(const py::object &self, const py::object &load) {
    self.attr("load") = load;
}

void lazy_attribute_set_name(const py::object &self, const py::object &, const py::object &name) {
    self.attr("name") = name;
}

py::object lazy_attribute_get(const py::object &self, const py::object &, const py::object &owner) {
    py::object value = self.attr("load")(owner);
    py::setattr(owner, self.attr("name"), value);
    return value;
}

py::object make_attribute_class(const Globals &g) {
    ClassBuilder attribute(g, "lazy_attribute");
    attribute.method("__init__", lazy_attribute_init, py::arg("self"), py::arg("load"));
    attribute.method("__set_name__", lazy_attribute_set_name, py::arg("self"), py::arg("owner"),
                     py::arg("name"));
    attribute.method("__get__", lazy_attribute_get, py::arg("self"), py::arg("instance"),
                     py::arg("owner"));
    return attribute.build();
}

} // namespace

LazyAttributes::LazyAttributes(const Globals &g, const char *package)
    : globals_(g), attribute_class_(make_attribute_class(g)) {
    py::object spec = py::module_::import("importlib.util").attr("find_spec")(package);
    if (spec.is_none()) {
        raise_error(PyExc_ModuleNotFoundError, py::str("No module named '{}'").format(package));
    }
}

py::object LazyAttributes::lazy(py::object load) const {
    return attribute_class_(std::move(load));
}

py::object LazyAttributes::import_from(const std::string &module, const std::string &name) const {
    return lazy(py::cpp_function([module, name](const py::object &) {
        return py::module_::import(module.c_str()).attr(name.c_str());
    }));
}

py::object LazyAttributes::module(const std::string &name) const {
    return lazy(py::cpp_function(
        [name](const py::object &) -> py::object { return py::module_::import(name.c_str()); }));
}

py::object LazyAttributes::made_by(py::object (*make)(const Globals &, const py::object &)) const {
    // The namespace is bound by a partial, which the cycle collector sees.
    py::object function = py::cpp_function(make);
    return lazy(py::module_::import("functools").attr("partial")(function, globals_));
}

} // namespace zel
