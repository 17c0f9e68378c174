#include "driver/script_source.hpp"
#include "support/files.hpp"

namespace zel {

py::bytes read_script(const py::object &script) {
    py::object file = open_file(script, "rb");
    py::bytes source;
    closing(file, [&] { source = file.attr("read")(); });
    return source;
}

py::object decode_script(const py::bytes &source) {
    return py::module_::import("importlib.util").attr("decode_source")(source);
}

} // namespace zel
