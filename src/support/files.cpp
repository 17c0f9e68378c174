#include "support/files.hpp"

#include <cstring>

namespace zel {

py::object open_file(const py::object &path, const char *mode, const char *errors) {
    py::object open = py::module_::import("builtins").attr("open");
    if (std::strchr(mode, 'b'))
        return open(path, mode);
    return open(path, mode, py::arg("encoding") = "utf-8", py::arg("errors") = errors);
}

py::object read_text(const py::object &path, const char *errors) {
    py::object text;
    py::object file = open_file(path, "r", errors);
    closing(file, [&] { text = file.attr("read")(); });
    return text;
}

void write_text(const py::object &path, const py::object &text) {
    py::object file = open_file(path, "w");
    closing(file, [&] { file.attr("write")(text); });
}

} // namespace zel
