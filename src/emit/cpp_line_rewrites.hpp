// Rewrites of the C++ text that the compiler generated from the .pyx text, line by line.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace zel {
namespace py = pybind11;

// The C++ text after `consts.cpp_prefix`, its error positions mapped through `line_map`
// (pyx line to script line; a line it lacks raises `cls.CompileError`), the file name
// "<module_name>.pyx" written as the script's, the remainder helpers guarded, and the classes
// and functions made with the module's `__name__` as their `__module__`.
py::str map_to_script(const py::str &text, const py::object &line_map,
                      const std::string &module_name, const py::object &cls,
                      const py::object &consts);

// The C++ text with its references to the file "<module_name>.py" naming "<stem>.py" instead:
// the script's file, for a script whose stem is no module name.
py::str name_script_file(const py::str &text, const std::string &module_name,
                         const std::string &stem);

} // namespace zel
