// Child processes of the command mode's checks and reports, and what they print.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True): the completed
// process.
py::object run_process(const py::list &command, const py::object &cwd,
                       const py::object &env = py::none());

// The last non-empty line of a text, or "".
py::str last_line(const py::object &text);

} // namespace zel
