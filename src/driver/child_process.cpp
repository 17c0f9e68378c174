#include "driver/child_process.hpp"

namespace zel {

py::object run_process(const py::list &command, const py::object &cwd, const py::object &env) {
    return py::module_::import("subprocess")
        .attr("run")(command, py::arg("cwd") = cwd, py::arg("env") = env,
                     py::arg("capture_output") = true, py::arg("text") = true,
                     py::arg("timeout") = 600);
}

py::str last_line(const py::object &text) {
    py::list lines = text.attr("strip")().attr("splitlines")();
    return lines.empty() ? py::str("") : py::str(lines[lines.size() - 1]);
}

} // namespace zel
