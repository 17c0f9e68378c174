#include "support/files.hpp"

namespace zel {
namespace {

py::object open_text(const py::object &path, const char *mode) {
    return py::module_::import("builtins").attr("open")(path, mode, py::arg("encoding") = "utf-8");
}

// Closes `file` on every way out of `use`.
template <typename Use> void with_file(const py::object &file, Use &&use) {
    try {
        use(file);
    } catch (...) {
        file.attr("close")();
        throw;
    }
    file.attr("close")();
}

} // namespace

py::object read_text(const py::object &path) {
    py::object text;
    with_file(open_text(path, "r"), [&](const py::object &file) { text = file.attr("read")(); });
    return text;
}

void write_text(const py::object &path, const py::object &text) {
    with_file(open_text(path, "w"), [&](const py::object &file) { file.attr("write")(text); });
}

} // namespace zel
