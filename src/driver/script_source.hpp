// The script's source: its bytes as they are on disk (which a build's record names) and its
// text as the interpreter reads it.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

py::bytes read_script(const py::object &script);

// A UTF-8 byte-order mark or a coding line chooses the encoding (UTF-8 otherwise), and every
// line ending becomes "\n".
py::object decode_script(const py::bytes &source);

} // namespace zel
