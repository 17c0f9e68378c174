#include "support/files.hpp"

namespace zel {
namespace {

py::object open_text(const py::object &path, const char *mode) {
    return py::module_::import("builtins").attr("open")(path, mode, py::arg("encoding") = "utf-8");
}

} // namespace

py::object read_text(const py::object &path) {
    py::object text;
    py::object file = open_text(path, "r");
    closing(file, [&] { text = file.attr("read")(); });
    return text;
}

void write_text(const py::object &path, const py::object &text) {
    py::object file = open_text(path, "w");
    closing(file, [&] { file.attr("write")(text); });
}

} // namespace zel
