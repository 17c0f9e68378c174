// ZEL.module_command: what an import does when there is no script to compile. It answers the
// first argument with a line or one of the test actions (self_check.cpp, cuda_reports.cpp).
#include "driver/driver_classes.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

void module_command(const py::object &cls, const py::object &argv) {
    if (py::len(argv) < 1)
        return;
    py::object first = argv[py::int_(0)];
    py::object cmd = first.attr("upper")();
    if (truthy(cmd.attr("endswith")(".PY")))
        print_line("잘못된 사용");
    else if (cmd.equal(py::str("TEST")))
        cls.attr("build_test")();
    else if (cmd.equal(py::str("CUDA_TEST")))
        cls.attr("build_test_cuda")();
    else if (cmd.equal(py::str("CUDA_TEST2")))
        cls.attr("build_test_cuda2")();
    else
        print_line(py::str("Invalid option: ") + py::str(first));
}

} // namespace

void add_module_command(ClassBuilder &zel) {
    zel.classmethod("module_command", module_command, py::arg("cls"), py::arg("argv"));
}

} // namespace zel
