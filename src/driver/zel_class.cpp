// The class ZEL: the driver's state as class attributes, its error class and its methods.
#include "driver/driver_classes.hpp"
#include "support/objects.hpp"

namespace zel {
py::object make_zel(const Globals &g) {
    ClassBuilder zel(g, "ZEL");
    zel.attr("__version__", py::str(ZEL_VERSION));
    zel.attr("name", py::str("zel"));
    zel.attr("debug", py::bool_(false));
    zel.attr("rebuild", py::bool_(false));
    zel.attr("log_line", py::int_(-1));
    py::object main_module = g["sys"].attr("modules").attr("get")("__main__");
    zel.attr("main_module", main_module);
    if (main_module.is_none()) {
        raise_error(PyExc_SystemError, "Undefined __main__ module");
    }
    zel.attr("Error", nested_error_class(zel, "Error", "ZEL.Error"));
    add_fatal_msg(zel);
    add_module_command(zel);
    add_self_check(zel);
    add_cuda_reports(zel);
    add_prepare_path(zel);
    add_build_record(zel);
    add_unparse(zel);
    add_compile(zel);
    add_run(zel);
    return zel.build();
}

} // namespace zel
