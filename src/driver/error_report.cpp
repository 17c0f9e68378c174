// ZEL.fatal_msg: the one line that reports an unexpected failure of a compile.
#include "driver/driver_classes.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

py::str fatal_msg(const Globals &g, const py::object &cls, const py::object &e) {
    py::object entries = g["traceback"].attr("extract_tb")(e.attr("__traceback__"));
    py::object kept = py::none();
    if (truthy(cls.attr("debug")) && truthy(entries)) {
        py::object own_file = g["__file__"];
        for (py::handle entry : entries) {
            if (!own_file.equal(entry.attr("filename")))
                continue;
            // Entries without column positions show "?" in place of the column.
            py::object column = entry.attr("colno");
            py::object shown_column =
                column.is_none() ? py::object(py::str("?")) : column + py::int_(1);
            print_line(py::str("# DEBUG: \"{}\":{}:{} {}")
                           .format(entry.attr("filename"), entry.attr("lineno"), shown_column,
                                   entry.attr("name")));
            kept = py::reinterpret_borrow<py::object>(entry);
        }
    }
    py::str inner = py::str("{}: {}").format(py::type::of(e).attr("__name__"), py::str(e));
    if (!kept.is_none())
        inner = py::str("{} at {}").format(inner, kept.attr("lineno"));
    return py::str("[Internal error occured in version {}] {}")
        .format(cls.attr("__version__"), inner);
}

} // namespace

void add_fatal_msg(ClassBuilder &zel) {
    zel.classmethod("fatal_msg", fatal_msg, py::arg("cls"), py::arg("e"));
}

} // namespace zel
