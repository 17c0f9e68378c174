// Text files and temporary directories, through the interpreter's own file objects so that
// paths, encodings and errors behave as they do in Python code.
#pragma once

#include "support/closing.hpp"

#include <pybind11/pybind11.h>

#include <utility>

namespace zel {
namespace py = pybind11;

// open(path, mode) by the interpreter's own open. A text mode reads and writes UTF-8, a
// character it cannot decode or encode handled as `errors` says, as open() takes it; a binary
// mode ("rb") reads and writes bytes.
py::object open_file(const py::object &path, const char *mode, const char *errors = "strict");

// The whole content of a UTF-8 text file.
py::object read_text(const py::object &path, const char *errors = "strict");

// Creates or truncates `path` and writes `text` to it as UTF-8.
void write_text(const py::object &path, const py::object &text);

// Runs `body` with the path (str) of a fresh temporary directory, removed however it ends.
template <typename Body> void in_temp_dir(Body &&body) {
    py::object dir = py::module_::import("tempfile").attr("TemporaryDirectory")();
    releasing(dir, "cleanup", [&] { std::forward<Body>(body)(py::str(dir.attr("name"))); });
}

} // namespace zel
