// ZELSetupTools: builds the generated C++ file into an extension module in the current
// directory with setuptools, while the standard streams are silenced.
#include "emit/emit_classes.hpp"

namespace zel {

py::object make_zel_setuptools(const py::dict &g) {
    ClassBuilder s(g, "ZELSetupTools");
    py::module_ setuptools = py::module_::import("setuptools");
    s.attr("Extension", setuptools.attr("Extension"));
    s.attr("setup", setuptools.attr("setup"));
    ClassBuilder hout = s.nested("__hout__");
    s.attr("__hout__", hout.build());
    return s.build();
}

} // namespace zel
